#!/usr/bin/env python3
"""Field benchmark: how tessary-cli builds (and multimon-ng as a peer) decode
DTMF digits 0-6 (and, in the "keys" rows, all sixteen keys with --keys all)
from audio made here with numpy, sox and espeak-ng.

    bench/field_bench.py [--keep] [--jobs N] [--quick] [--seed N] [--voices V,...]
                         [--only TEXT,...] CLI [CLI ...]

Prints one markdown table: a column per CLI per threshold, and one for
multimon-ng when it is installed. Seeds are fixed, so two runs print the same
figures (run times aside).
"""

import argparse
import concurrent.futures as cf
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import wave
import zlib

import numpy as np

RATE = 44100
AMP = 0.44
TONE_S, GAP_S = 0.180, 0.090
LEAD_S, TAIL_S = 0.050, 0.150
FADE_S = 0.012
KEYPAD = '123A456B789C*0#D'  # rows 697/770/852/941 Hz, columns 1209/1336/1477/1633 Hz
KEYS = '0123456789*#ABCD'
ROWS_HZ = {k: (697.0, 770.0, 852.0, 941.0)[i // 4] for i, k in enumerate(KEYPAD)}
COLS_HZ = {k: (1209.0, 1336.0, 1477.0, 1633.0)[i % 4] for i, k in enumerate(KEYPAD)}
THRESHOLDS = (0.30, 0.15)
SEED = 20240611

# ---------------------------------------------------------------- audio


def tone_pair(row_hz, col_hz, row_amp, col_amp, n, rng_phase, fade_s=FADE_S):
    t = np.arange(n) / RATE
    x = row_amp * np.sin(2 * np.pi * row_hz * t + rng_phase[0])
    x += col_amp * np.sin(2 * np.pi * col_hz * t + rng_phase[1])
    nf = int(fade_s * RATE)
    env = np.ones(n)
    env[:nf] = np.linspace(0, 1, nf, endpoint=False)
    env[-nf:] = np.linspace(1, 0, nf, endpoint=False)
    return x * env


def synth_digits(digits, rng, scale=1.0, offset_hz=0.0, twist_db=0.0,
                 silent_tone=None, hole=None, tone_s=TONE_S, gap_s=GAP_S, disguise=False):
    """Digits as tones. twist_db: row level over column level; the louder of
    the two stays at AMP. silent_tone: index whose tone is replaced by
    silence. hole: (index, start_s, length_s) of silence cut into a tone.
    disguise: multiplied by an 1800 Hz carrier, as the repeater mode sends.
    Tones shorter than 100 ms (dialers) rise and fall in 3 ms."""
    if twist_db >= 0:
        row_amp, col_amp = AMP, AMP * 10 ** (-twist_db / 20)
    else:
        row_amp, col_amp = AMP * 10 ** (twist_db / 20), AMP
    nt, ng = round(tone_s * RATE), round(gap_s * RATE)
    parts = [np.zeros(round(LEAD_S * RATE))]
    for i, d in enumerate(digits):
        tone = tone_pair(ROWS_HZ[str(d)] * scale + offset_hz, COLS_HZ[str(d)] * scale + offset_hz,
                         row_amp, col_amp, nt, rng.uniform(0, 2 * np.pi, 2),
                         FADE_S if tone_s >= 0.1 else 0.003)
        if silent_tone == i:
            tone[:] = 0
        if hole is not None and hole[0] == i:
            a = round(hole[1] * RATE)
            tone[a:a + round(hole[2] * RATE)] = 0
        parts += [tone, np.zeros(ng)]
    parts.append(np.zeros(round(TAIL_S * RATE)))
    x = np.concatenate(parts)
    if disguise:
        x = x * np.cos(2 * np.pi * 1800.0 * np.arange(len(x)) / RATE)
    return x


def tone_pair_power():
    return AMP ** 2  # two sines of amplitude AMP: AMP^2/2 each


def write_wav(path, x):
    peak = np.max(np.abs(x))
    if peak > 0.97:  # a uniform gain keeps every ratio (SNR, twist) as made
        x = x * (0.97 / peak)
    pcm = np.round(x * 32767).astype('<i2')
    with wave.open(path, 'wb') as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(pcm.tobytes())


def wav_seconds(path):
    with wave.open(path, 'rb') as w:
        return w.getnframes() / w.getframerate()


# ---------------------------------------------------------------- decoders


def run_timed(args, stdin_path=None):
    """Runs args; returns (rc, stdout, cpu seconds of that process)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        fin = open(stdin_path, 'rb') if stdin_path else subprocess.DEVNULL
        try:
            p = subprocess.Popen(args, stdin=fin, stdout=out, stderr=err)
            _, status, ru = os.wait4(p.pid, 0)
            p.returncode = os.waitstatus_to_exitcode(status)
        finally:
            if stdin_path:
                fin.close()
        out.seek(0)
        return p.returncode, out.read().decode('latin-1'), ru.ru_utime + ru.ru_stime


class Decoder:
    def __init__(self, name):
        self.name = name
        self.cpu = 0.0
        self.wall = 0.0
        self.lock = threading.Lock()

    def _account(self, cpu, wall):
        with self.lock:
            self.cpu += cpu
            self.wall += wall


class TessaryDecoder(Decoder):
    def __init__(self, name, exe, threshold):
        super().__init__(name)
        self.exe, self.threshold = exe, threshold

    def decode(self, wav, raw, as_what='digits', repeater=False, keys=False):
        t0 = time.monotonic()
        rc, out, cpu = run_timed([self.exe, 'decode', wav, '--threshold',
                                  '%.2f' % self.threshold, '--as', as_what] +
                                 (['--repeater'] if repeater else []) +
                                 (['--keys', 'all'] if keys else []))
        self._account(cpu, time.monotonic() - t0)
        # exit 1 is "nothing found", or what was found with a warning that it
        # may be wrong (tones too fast for the hop): scored as printed
        return out.rstrip('\n') if rc in (0, 1) else ''


class MultimonDecoder(Decoder):
    def decode(self, wav, raw, as_what='digits', repeater=False, keys=False):
        if repeater:  # no disguise of its own: nothing to compare
            return None
        t0 = time.monotonic()
        rc, out, cpu = run_timed(['multimon-ng', '-q', '-a', 'DTMF', '-t', 'raw', '-'],
                                 stdin_path=raw)
        self._account(cpu, time.monotonic() - t0)
        digits = ''.join(line[6:].strip()[:1] for line in out.splitlines()
                         if line.startswith('DTMF: '))
        # No letter layer of its own: pairs read from the first digit on,
        # the way the digits were sent.
        if as_what == 'text':
            return pairs_to_text(digits)
        if as_what == 'hex':
            return pairs_to_hex(digits)
        return digits


def to_raw(wav, raw):
    subprocess.run(['sox', wav, '-t', 'raw', '-r', '22050', '-e', 'signed', '-b', '16',
                    '-c', '1', raw], check=True)


# ---------------------------------------------------------------- codes


def text_to_digits(text):
    out = []
    for c in text:
        n = 0 if c == ' ' else ord(c) - ord('a') + 1
        out += [n // 7, n % 7]
    return out


def bytes_to_digits(data):
    out = []
    for b in data:
        for v in (b >> 4, b & 15):
            out += [v // 6, v % 6]
    return out


def _pairs(digits):
    for i in range(0, len(digits) - 1, 2):
        a, b = digits[i], digits[i + 1]
        yield (int(a), int(b)) if a in '0123456' and b in '0123456' else None


def pairs_to_text(digits):
    s = ''
    for p in _pairs(digits):
        n = None if p is None else p[0] * 7 + p[1]
        s += '?' if n is None or n > 26 else (' ' if n == 0 else chr(ord('a') + n - 1))
    return s


def pairs_to_hex(digits):
    s = ''
    for p in _pairs(digits):
        v = None if p is None else p[0] * 6 + p[1]
        s += '?' if v is None or v > 15 else '0123456789abcdef'[v]
    return s


def levenshtein(a, b):
    prev = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        cur = [i]
        for j, cb in enumerate(b, 1):
            cur.append(min(prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (ca != cb)))
        prev = cur
    return prev[-1]


def damaged(sent, got, width=1):
    """Units (letters, or bytes = two hex characters) that differ position by
    position; every unit missing or extra at the end counts too."""
    a = [sent[i:i + width] for i in range(0, len(sent), width)]
    b = [got[i:i + width] for i in range(0, len(got), width)]
    return sum(1 for i in range(max(len(a), len(b)))
               if i >= len(a) or i >= len(b) or a[i] != b[i])


# ---------------------------------------------------------------- material

WORDS = ('the a one two three four five six seven eight nine ten station signal '
         'radio weather report morning evening north south east west river road '
         'bridge market water wind light heavy quick slow small large number letter '
         'message reply please thank you again listen speak write read send receive '
         'tomorrow today yesterday about under over between after before because '
         'while garden window kitchen engine battery antenna power cable channel '
         'frequency speaker microphone loud quiet clear noise static voice music '
         'seventy hundred thousand zero fifty forty first second third last every '
         'people child mother father friend teacher doctor farmer driver captain '
         'walks runs carries finds keeps loses opens closes turns checks repeats').split()

SUBJECTS = ('the operator', 'my neighbour', 'a small child', 'the old captain', 'our teacher',
            'the farmer', 'every driver', 'the night shift', 'a tired doctor', 'the station')
VERBS = ('carries', 'checks', 'repeats', 'finds', 'opens', 'sends', 'reads', 'writes down',
         'listens to', 'forgets', 'measures', 'explains', 'records', 'answers')
OBJECTS = ('the weather report', 'a long message', 'seven numbers', 'the heavy battery',
           'an old radio', 'the kitchen window', 'three short letters', 'the north bridge',
           'the evening news', 'a quiet signal', 'forty two questions', 'the market prices')
TAILS = ('before the rain starts', 'after a long day', 'at half past nine',
         'without saying a word', 'on channel sixteen', 'because nobody else will',
         'while the kettle boils', 'every second tuesday', 'for the third time',
         'near the river', 'in nineteen eighty four', 'with great care')
OPENERS = ('Well,', 'Honestly,', 'Yesterday', 'Quite often', 'Now and then', 'Of course',
           'Listen:', 'By the way,', 'At dawn', 'Later on')


def sentence(rng):
    s = '%s %s %s' % (rng.choice(SUBJECTS), rng.choice(VERBS), rng.choice(OBJECTS))
    if rng.random() < 0.6:
        s += ' ' + rng.choice(TAILS)
    if rng.random() < 0.4:
        s = rng.choice(OPENERS) + ' ' + s
    if rng.random() < 0.2:
        s += ', and %s %s %s' % (rng.choice(SUBJECTS), rng.choice(VERBS), rng.choice(OBJECTS))
    s = s[0].upper() + s[1:]
    return s + rng.choice(('.', '.', '.', '?', '!'))


def letters_text(rng, n):
    s = ''
    while len(s) < n:
        s += rng.choice(WORDS) + ' '
    return s[:n]


def espeak_voices(wanted):
    out = subprocess.run(['espeak-ng', '--voices=en'], capture_output=True,
                         text=True).stdout
    have = set()
    for line in out.splitlines()[1:]:
        f = line.split()
        if len(f) >= 5 and f[4].startswith('gmw/'):
            have.add(f[1])
    return [v for v in wanted if v.split('+')[0] in have]  # '+f3': a variant of that voice


def make_speech(path, voice, wpm, seconds, rng):
    # a sentence takes about 9 words; espeak's wpm is close enough to size it
    n = max(4, int(seconds * wpm / 60 / 9) + 1)
    text = ' '.join(sentence(rng) for _ in range(n))
    p1 = subprocess.Popen(['espeak-ng', '-v', voice, '-s', str(wpm), '--stdout', text],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    subprocess.run(['sox', '-t', 'wav', '-', '-r', str(RATE), '-b', '16', '-c', '1', path,
                    'norm', '-1'], stdin=p1.stdout, check=True)
    p1.wait()


NOTE = lambda m: 440.0 * 2 ** ((m - 69) / 12)


def make_music(path, n_segments, rng, tmp):
    segs = []
    for k in range(n_segments):
        seg = os.path.join(tmp, '%s.%d.wav' % (os.path.basename(path), k))
        dur = rng.choice((3, 4, 5, 6))
        kind = rng.choice(('chord', 'chord', 'sweep', 'chord+sweep'))
        synth = []
        if 'chord' in kind:
            root = rng.randint(48, 76)
            shape = rng.choice(((0, 4, 7), (0, 3, 7), (0, 4, 7, 10), (0, 4, 7, 11),
                                (0, 3, 7, 10), (0, 5, 7), (0, 7, 12, 16)))
            wave_kind = rng.choice(('sine', 'triangle'))
            for iv in shape:
                synth += [wave_kind, '%.2f' % NOTE(root + iv)]
        if 'sweep' in kind:
            a, b = rng.uniform(150, 3000), rng.uniform(150, 3000)
            synth += [rng.choice(('sine', 'triangle')), '%.1f-%.1f' % (a, b)]
            if kind == 'sweep':
                synth += ['sine', '%.1f-%.1f' % (b / 2, a / 2)]
        ch = len(synth) // 2
        subprocess.run(['sox', '-r', str(RATE), '-c', str(ch), '-n',
                        '-r', str(RATE), '-b', '16', '-c', '1', seg,
                        'synth', str(dur)] + synth + ['remix', '-', 'fade', '0.05',
                                                      str(dur), '0.05', 'norm', '-3'],
                       check=True)
        segs.append(seg)
    subprocess.run(['sox'] + segs + [path], check=True)
    for s in segs:
        os.remove(s)


# ---------------------------------------------------------------- rows


class Row:
    def __init__(self, label, kind, repeater=False, keys=False):
        self.label, self.kind = label, kind  # kind: 'err', 'false', 'dmg'
        self.repeater = repeater  # decoded with --repeater
        self.keys = keys  # decoded with --keys all
        self.results = []  # per decoder: one figure per file


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    ap.add_argument('cli', nargs='*', help='tessary-cli builds to compare '
                    '(default: build/native/cli/tessary-cli)')
    ap.add_argument('--keep', action='store_true', help='keep the generated audio')
    ap.add_argument('--jobs', type=int, default=os.cpu_count() or 2)
    ap.add_argument('--quick', action='store_true', help='a few seconds of each row only')
    ap.add_argument('--seed', type=int, default=SEED,
                    help='other digits, noise, texts and sentences (default %d)' % SEED)
    ap.add_argument('--voices', default='en-gb,en-us,en-gb-scotland,en-gb-x-rp,en-029,en-us-nyc',
                    help='espeak-ng voices for the speech row, comma-separated '
                    '(see espeak-ng --voices)')
    ap.add_argument('--only', default='',
                    help='only the rows whose label holds one of these, comma-separated '
                    '(the same figures as in a whole run)')
    args = ap.parse_args()

    if not args.cli:
        args.cli = [os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'build',
                                 'native', 'cli', 'tessary-cli')]
    t_start = time.monotonic()
    quick = args.quick
    n_digits = 40 if quick else 400
    trials = 2 if quick else 20
    speech_s = 10 if quick else 80  # per voice and rate
    music_segments = 3 if quick else 12

    decoders = []
    labels = []
    for k, exe in enumerate(args.cli):
        exe = os.path.abspath(exe)
        if not os.access(exe, os.X_OK):
            sys.exit('not executable: %s' % exe)
        tag = chr(ord('A') + k) if len(args.cli) > 1 else 'tessary'
        labels.append((tag, exe))
        for th in THRESHOLDS:
            decoders.append(TessaryDecoder('%s @%.2f' % (tag, th), exe, th))
    if shutil.which('multimon-ng'):
        decoders.append(MultimonDecoder('multimon-ng'))

    tmp = tempfile.mkdtemp(prefix='field_bench.')
    rows = []
    tasks = []  # (row, make(path, rng) -> reference, seed, as_what)

    def add(row, make, as_what='digits', seed=None):
        # seeded by row and place in it: adding a row changes no other
        if seed is None:
            seed = zlib.crc32(row.label.encode()) * 1000 + sum(t[0] is row for t in tasks)
        tasks.append((row, make, seed, as_what))

    def digit_row(label, repeats=False, keys=False, **kw):
        row = Row(label, 'err', kw.get('disguise', False), keys)
        rows.append(row)
        alphabet = KEYS if keys else KEYS[:7]

        def make(path, rng, kw=kw):
            if repeats:  # runs of one to three of the same digit
                d = []
                while len(d) < n_digits:
                    d += [alphabet[int(rng.integers(0, len(alphabet)))]] * int(rng.integers(1, 4))
                d = d[:n_digits]
            else:
                d = [alphabet[int(x)] for x in rng.integers(0, len(alphabet), n_digits)]
            kw = dict(kw)
            noise_snr = kw.pop('snr_db', None)
            x = synth_digits(d, rng, **kw)
            if noise_snr is not None:
                # SNR: power of the tone pair while it sounds (both sines)
                # over the power of white noise spread over 0-22050 Hz
                sigma = math.sqrt(tone_pair_power() / 10 ** (noise_snr / 10))
                x = x + rng.normal(0, sigma, len(x))
            write_wav(path, x)
            return ''.join(map(str, d))
        add(row, make)

    digit_row('clean (reference)')
    digit_row('white noise, SNR -9 dB', snr_db=-9)
    digit_row('white noise, SNR -12 dB', snr_db=-12)
    digit_row('twist -9 dB (row 9 dB below column)', twist_db=-9)
    digit_row('twist +9 dB (row 9 dB above column)', twist_db=9)
    for pct in (-1, 1, -1.5, 1.5, -2, 2):
        digit_row('all tones %+.1f %%' % pct, scale=1 + pct / 100)
    for hz in (-20, 20):
        digit_row('all tones %+d Hz (SSB off tune)' % hz, offset_hz=hz)
    # fast senders: dialers and radios' auto-dial
    for ms_t, ms_g in ((40, 8), (45, 10), (52, 8), (50, 50), (70, 20)):
        fast = dict(tone_s=ms_t / 1000, gap_s=ms_g / 1000)
        digit_row('fast %d ms tone / %d ms gap' % (ms_t, ms_g), **fast)
    for ms_t, ms_g in ((40, 8), (52, 8)):
        fast = dict(tone_s=ms_t / 1000, gap_s=ms_g / 1000)
        pre = 'fast %d/%d ms' % (ms_t, ms_g)
        digit_row(pre + ', digits repeated', repeats=True, **fast)
        digit_row(pre + ', white noise, SNR -9 dB', snr_db=-9, **fast)
        digit_row(pre + ', twist -9 dB', twist_db=-9, **fast)
        digit_row(pre + ', twist +9 dB', twist_db=9, **fast)
        for pct in (-1.5, 1.5):
            digit_row(pre + ', all tones %+.1f %%' % pct, scale=1 + pct / 100, **fast)
    # repeater mode: disguised tones, decoded with --repeater
    digit_row('repeater: clean', disguise=True)
    digit_row('repeater: white noise, SNR -9 dB', snr_db=-9, disguise=True)
    for pct in (-1.5, 1.5):
        digit_row('repeater: all tones %+.1f %%' % pct, scale=1 + pct / 100, disguise=True)

    # the whole keypad, any sender's (--keys all): where multimon-ng reads all sixteen
    digit_row('keys: clean', keys=True)
    digit_row('keys: white noise, SNR -9 dB', snr_db=-9, keys=True)
    for tw in (-9, 9):
        digit_row('keys: twist %+d dB' % tw, twist_db=tw, keys=True)
    for pct in (-1.5, 1.5):
        digit_row('keys: all tones %+.1f %%' % pct, scale=1 + pct / 100, keys=True)
    for ms_t, ms_g in ((40, 8), (52, 8)):
        fast = dict(tone_s=ms_t / 1000, gap_s=ms_g / 1000)
        digit_row('keys: fast %d ms tone / %d ms gap' % (ms_t, ms_g), keys=True, **fast)
    digit_row('keys: fast 52/8 ms, keys repeated', repeats=True, keys=True,
              tone_s=0.052, gap_s=0.008)
    digit_row('keys: fast 52/8 ms, white noise, SNR -9 dB', snr_db=-9, keys=True,
              tone_s=0.052, gap_s=0.008)

    voices = espeak_voices(args.voices.split(','))
    speech = Row('speech only (%d voices x 140/200 wpm)' % len(voices), 'false')
    rows.append(speech)
    for v in voices:
        for wpm in (140, 200):
            def make(path, rng, v=v, wpm=wpm):
                make_speech(path, v, wpm, speech_s, random.Random(int(rng.integers(1 << 30))))
                return None
            add(speech, make)

    music = Row('music-like: sox chords and sweeps', 'false')
    rows.append(music)
    for k in range(4):
        def make(path, rng):
            make_music(path, music_segments, random.Random(int(rng.integers(1 << 30))), tmp)
            return None
        add(music, make)

    # speech and music (other sentences, other chords) heard in repeater mode,
    # and the very same heard with the whole keypad
    for base in (speech, music):
        for pre, rep_, keys in (('repeater: ', True, False), ('keys: ', False, True)):
            row = Row(pre + base.label, 'false', rep_, keys)
            rows.append(row)
            for t in [t for t in tasks if t[0] is base]:
                add(row, t[1], seed=t[2] if keys else None)

    for what, width, label in (('text', 1, 'letters'), ('hex', 2, 'bytes')):
        for damage in ('tone', 'hole'):
            desc = ('one tone missing' if damage == 'tone'
                    else '60 ms hole inside one tone')
            row = Row('%s, %s: damaged %s of %d (mean of %d)'
                      % (what, desc, label, 200 if what == 'text' else 100, trials),
                      'dmg')
            rows.append(row)
            for _ in range(trials):
                def make(path, rng, what=what, damage=damage):
                    pr = random.Random(int(rng.integers(1 << 30)))
                    if what == 'text':
                        sent = letters_text(pr, 200)
                        d = text_to_digits(sent)
                        ref = sent
                    else:
                        data = bytes(pr.randrange(256) for _ in range(100))
                        d = bytes_to_digits(data)
                        ref = data.hex()
                    i = pr.randrange(len(d))
                    if damage == 'tone':
                        x = synth_digits(d, rng, silent_tone=i)
                    else:
                        x = synth_digits(d, rng, hole=(i, pr.uniform(0, TONE_S - 0.060), 0.060))
                    write_wav(path, x)
                    return ref
                add(row, make, what)

    if args.only:  # seeds go by row and place: the figures of a whole run
        want = args.only.split(',')
        rows = [r for r in rows if any(w in r.label for w in want)]
        tasks = [t for t in tasks if any(t[0] is r for r in rows)]
    for row in rows:
        row.results = [[] for _ in decoders]

    audio_s = [0.0]
    lock = threading.Lock()

    def work(k):
        row, make, seed, as_what = tasks[k]
        path = os.path.join(tmp, 'item%03d.wav' % k)
        raw = path[:-4] + '.raw'
        ref = make(path, np.random.default_rng([args.seed, seed]))
        secs = wav_seconds(path)
        to_raw(path, raw)
        got = [dec.decode(path, raw, as_what, row.repeater, row.keys) for dec in decoders]
        if not args.keep:
            os.remove(path)
        os.remove(raw)
        with lock:
            audio_s[0] += secs
            for di, g in enumerate(got):
                if g is None:
                    row.results[di] = None
                elif row.kind == 'err':
                    row.results[di].append((levenshtein(ref, g), len(ref)))
                elif row.kind == 'false':
                    row.results[di].append((len(g), secs))
                else:
                    row.results[di].append(damaged(ref, g, 1 if as_what == 'text' else 2))
        return k

    # longest items first keeps both workers busy to the end
    order = sorted(range(len(tasks)), key=lambda k: tasks[k][0].kind != 'false')
    try:
        with cf.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as ex:
            for f in cf.as_completed([ex.submit(work, k) for k in order]):
                f.result()
    except BaseException:
        if not args.keep:
            shutil.rmtree(tmp, ignore_errors=True)
        raise

    # ---- the table
    def cell(row, di):
        r = row.results[di]
        if r is None:
            return '-'
        if row.kind == 'err':
            e, n = sum(a for a, _ in r), sum(b for _, b in r)
            return '%.2f %%' % (100.0 * e / n)
        if row.kind == 'false':
            return '%d' % sum(a for a, _ in r)
        return '%.2f' % (sum(r) / len(r))

    def label(row):
        if row.kind == 'err':
            return '%s: digit error' % row.label
        if row.kind == 'false':
            mins = sum(b for _, b in next(r for r in row.results if r)) / 60
            return '%s, %.1f min: false digits' % (row.label, mins)
        return row.label

    head = ['row'] + [d.name for d in decoders]
    lines = ['| ' + ' | '.join(head) + ' |', '|' + '---|' * len(head)]
    for row in rows:
        lines.append('| ' + ' | '.join([label(row)] + [cell(row, i)
                                                     for i in range(len(decoders))]) + ' |')
    lines.append('| decoder run time, s (CPU / wall) | ' +
                 ' | '.join('%.2f / %.2f' % (d.cpu, d.wall) for d in decoders) + ' |')
    print('\n'.join(lines))
    print()
    for tag, exe in labels:
        print('%s = %s' % (tag, exe))
    if not any(isinstance(d, MultimonDecoder) for d in decoders):
        print('multimon-ng not installed: no peer column')
    print('%d files, %.1f min of audio; %d digits per digit-error row; '
          'wall time %.0f s with %d jobs'
          % (len(tasks), audio_s[0] / 60, n_digits, time.monotonic() - t_start, args.jobs))
    if args.keep:
        print('audio kept in %s' % tmp)
    else:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == '__main__':
    main()
