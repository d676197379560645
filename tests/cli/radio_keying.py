#!/usr/bin/env python3
"""play and serve keying hamlib's dummy rig through rigctld, heard through the
sound loopback of scripts/testenv.sh: the key is down exactly while tones go
out, and up again on every way out. Usage: radio_keying.py TESSARY_CLI"""
import os, shutil, signal, socket, subprocess, sys, tempfile, threading, time

CLI = sys.argv[1]
if not shutil.which("rigctld") or not shutil.which("parec") or \
        subprocess.run(["pactl", "info"], capture_output=True).returncode != 0:
    print("skipped: needs rigctld, parec and a sound server (scripts/testenv.sh)")
    sys.exit(77)
TXTAIL = 0.3
failures = []


def check(ok, what):
    print(("ok: " if ok else "FAILED: ") + what)
    if not ok:
        failures.append(what)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def rigctld(keyable=True):
    port = free_port()
    args = ["rigctld", "-m", "1", "-t", str(port)] + (["-P", "RIG"] if keyable else [])
    p = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port)).close()
            return p, port
        except OSError:
            time.sleep(0.05)
    raise SystemExit("rigctld did not start")


class Watch:
    """The PTT every 100 ms on a connection of its own, and when the
    loopback carries sound, 10 ms at a time."""

    def __init__(self, port):
        self.ptt, self.sound, self.stop = [], [], False
        self.rig = socket.create_connection(("127.0.0.1", port))
        self.rec = subprocess.Popen(["parec", "--raw", "--format=s16le", "--channels=1",
                                     "--rate=8000", "--latency-msec=10"], stdout=subprocess.PIPE)
        threading.Thread(target=self._poll, daemon=True).start()
        threading.Thread(target=self._hear, daemon=True).start()
        time.sleep(0.5)

    def key(self):
        self.rig.sendall(b"t\n")
        return self.rig.recv(64).decode().strip() == "1"

    def _poll(self):
        while not self.stop:
            self.ptt.append((time.monotonic(), self.key()))
            time.sleep(0.1)

    def _hear(self):
        while not self.stop:
            b = self.rec.stdout.read(160)
            v = [int.from_bytes(b[i:i + 2], "little", signed=True) for i in range(0, len(b), 2)]
            self.sound.append((time.monotonic(), max(map(abs, v or [0])) > 300))

    def tones(self):
        t = [at for at, loud in self.sound if loud]
        return (t[0], t[-1]) if t else (None, None)

    def close(self):
        self.stop = True
        time.sleep(0.2)
        self.rec.kill()
        self.rig.close()


def play(port, *extra, text="hi"):
    return subprocess.Popen([CLI, "play", "text", text, "--ptt", "rigctld::%d" % port] +
                            list(extra), stderr=subprocess.PIPE, text=True)


rig, port = rigctld()
try:
    # A whole play: keyed while it sounds, released txtail after.
    w = Watch(port)
    p = play(port, "--txdelay", "200", "--txtail", str(int(TXTAIL * 1000)), text="hello there")
    p.wait()
    time.sleep(0.6)
    w.close()
    first, last = w.tones()
    during = [k for at, k in w.ptt if first <= at <= last]
    down = [at for at, k in w.ptt if at > last and k]
    up = [at for at, k in w.ptt if at > last and not k]
    check(p.returncode == 0 and first is not None, "play keyed: status 0, tones heard")
    check(during and all(during), "PTT 1 in all %d samples while tones played" % len(during))
    # Released between the last sample that read 1 and the first that read 0.
    check(bool(up) and (down[-1] if down else last) - last <= TXTAIL + 0.1 and
          up[0] - last <= TXTAIL + 0.2,
          "PTT released %.0f-%.0f ms after the last tone (txtail %.0f ms)"
          % (((down[-1] if down else last) - last) * 1000, (up[0] - last) * 1000 if up else -1,
             TXTAIL * 1000))

    # Cut short: Ctrl-C, SIGTERM, both twice, the time-out.
    long = "a message long enough to be cut short in the middle"
    for how in ("SIGINT", "SIGTERM", "SIGINT twice"):
        w = Watch(port)
        p = play(port, text=long)
        while not (w.tones()[0] and time.monotonic() - w.tones()[0] > 1) and p.poll() is None:
            time.sleep(0.05)
        sig = signal.SIGTERM if how == "SIGTERM" else signal.SIGINT
        p.send_signal(sig)
        if how.endswith("twice"):
            time.sleep(0.05)
            p.send_signal(sig)
        t0 = time.monotonic()
        p.wait()
        time.sleep(0.3)
        check(time.monotonic() - t0 < 2 and not w.key() and w.tones()[1] < t0 + 0.5,
              "%s mid-transmission: ended, sound stopped, PTT 0" % how)
        w.close()
    w = Watch(port)
    t0 = time.monotonic()
    p = play(port, "--tx-limit", "2", text=long)
    p.wait()
    took = time.monotonic() - t0
    check(p.returncode == 1 and "time-out" in p.stderr.read() and took < 4 and not w.key(),
          "--tx-limit 2: cut after %.1f s, status 1, PTT 0" % took)
    w.close()

    # serve keyed: listen hears the request and the answer as two lines;
    # then another station talks on after a request and is waited out.
    serve = [CLI, "serve", "--dir", "0123=rev", "--exchanges", "1", "--ptt", "rigctld::%d" % port,
             "--txdelay", "100", "--txtail", "100"]
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([CLI, "encode", "request", "--dir", "0123", "radio", "-o", tmp + "/r.wav"])
        request_s = os.path.getsize(tmp + "/r.wav") / 88200 + 1
    for busy in (False, True):
        w = Watch(port)
        s = subprocess.Popen(serve, stderr=subprocess.PIPE, text=True)
        listen = None if busy else subprocess.Popen([CLI, "listen", "--for", "14"],
                                                    stdout=subprocess.PIPE, text=True)
        time.sleep(1)
        ask = subprocess.Popen([CLI, "play", "request", "--dir", "0123", "radio"])
        if busy:  # its tones begin as the request's end (after a second of lead-in)
            time.sleep(request_s - 0.3)
            subprocess.run([CLI, "play", "text", "other station talking on"])
        ask.wait()
        talked = time.monotonic()
        s.wait(30)
        log = s.stderr.read()
        keyed = [at for at, k in w.ptt if k]
        answered = s.returncode == 0 and 'dir 0123 "radio": answered; answer "oidar"' in log
        if busy:
            check(answered and "channel busy: waited" in log and keyed and keyed[0] > talked,
                  "serve waited for the other station: keyed %.1f s after it ended"
                  % ((keyed[0] - talked) if keyed else -1))
        else:
            lines = listen.communicate()[0].splitlines()
            check(answered and bool(keyed), "serve answered keyed")
            check(lines == ["0123 radio", "oidar"], "listen heard %s" % lines)
        w.close()
finally:
    rig.terminate()

# No rigctld, and one that refuses the key: an error and no sound.
refusing, rport = rigctld(keyable=False)
try:
    w = Watch(rport)
    for name, port in (("no rigctld", free_port()), ("rigctld refusing the key", rport)):
        p = play(port)
        p.wait()
        err = p.stderr.read()
        check(p.returncode == 1 and "cannot use the PTT" in err,
              "%s: status 1, says '%s'" % (name, err.strip()))
    time.sleep(0.3)
    check(w.tones()[0] is None, "nothing sounded without a key")
    w.close()
finally:
    refusing.terminate()
sys.exit(1 if failures else 0)
