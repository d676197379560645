/* Push-to-talk: hamlib's rigctld over its network protocol, or a serial
 * port's RTS or DTR line. Every rigctld reply is checked; a key that cannot
 * be released is tried once more on a fresh connection. */
#include "cli/cli.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* rigctld answers at once; a silent one is as good as gone. */
static const int RIGCTLD_WAIT_MS = 3000;

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
typedef SOCKET sock_t;
static const sock_t NO_SOCK = INVALID_SOCKET;
static void sock_close(sock_t s) { closesocket(s); }
static std::string sock_error(void) { return "error " + std::to_string(WSAGetLastError()); }
#else
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
typedef int sock_t;
static const sock_t NO_SOCK = -1;
static void sock_close(sock_t s) { close(s); }
static std::string sock_error(void) { return strerror(errno); }
#endif

/* What the signal handler releases: the keyed PTT, or none. */
static CliPtt *volatile g_keyed;

std::string cli_ptt_name(const CliPtt *p) {
    if (p->kind == PTT_RIGCTLD) return "rigctld at " + p->host + ":" + p->port;
    if (p->kind == PTT_SERIAL) return p->device + " (" + (p->rts ? "RTS" : "DTR") + ")";
    return "none";
}

int cli_ptt_parse(const char *text, CliPtt *p, std::string *why) {
    std::string s = text;
    std::vector<std::string> f;
    for (size_t at = 0;;) {
        size_t c = s.find(':', at);
        /* A Windows device may be \\.\COM10; a Linux one holds no colon. */
        f.push_back(s.substr(at, c == std::string::npos ? c : c - at));
        if (c == std::string::npos) break;
        at = c + 1;
    }
    if (f[0] == "none" && f.size() == 1) {
        p->kind = PTT_NONE;
        return 0;
    }
    if (f[0] == "rigctld" && f.size() <= 3) {
        p->kind = PTT_RIGCTLD;
        if (f.size() > 1 && !f[1].empty()) p->host = f[1];
        if (f.size() > 2) p->port = f[2];
        long port = 0;
        if (cli_parse_int(p->port.c_str(), &port) == 0 && port >= 1 && port <= 65535) return 0;
        *why = "the port must be a number from 1 to 65535";
        return -1;
    }
    if (f[0] == "serial" && f.size() == 3 && !f[1].empty() && (f[2] == "rts" || f[2] == "dtr")) {
        p->kind = PTT_SERIAL;
        p->device = f[1];
        p->rts = f[2] == "rts";
        return 0;
    }
    *why = "it is rigctld[:HOST[:PORT]], serial:DEVICE:rts|dtr or none";
    return -1;
}

/* ---- rigctld ---- */

static int rig_connect(CliPtt *p, std::string *why) {
#ifdef _WIN32
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        *why = "no network (WSAStartup failed)";
        return -1;
    }
#endif
    struct addrinfo hints, *res = nullptr;
    memset(&hints, 0, sizeof hints);
    hints.ai_socktype = SOCK_STREAM;
    int rc = getaddrinfo(p->host.c_str(), p->port.c_str(), &hints, &res);
    if (rc != 0) {
        *why = std::string("cannot find the host: ") + gai_strerror(rc);
        return -1;
    }
    sock_t s = NO_SOCK;
    std::string last = "no address";
    for (struct addrinfo *a = res; a && s == NO_SOCK; a = a->ai_next) {
        s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == NO_SOCK) continue;
        if (connect(s, a->ai_addr, (int)a->ai_addrlen) != 0) {
            last = sock_error();
            sock_close(s);
            s = NO_SOCK;
        }
    }
    freeaddrinfo(res);
    if (s == NO_SOCK) {
        *why = "cannot connect: " + last;
        return -1;
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char *)&one, sizeof one);
#ifdef _WIN32
    DWORD ms = RIGCTLD_WAIT_MS;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&ms, sizeof ms);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (const char *)&ms, sizeof ms);
#else
    struct timeval tv = {RIGCTLD_WAIT_MS / 1000, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
#endif
    p->fd = (intptr_t)s;
    return 0;
}

/* Sends "T 0" or "T 1" and reads the one-line reply; rigctld says RPRT 0
 * when the rig did it. */
static int rig_set(CliPtt *p, int on, std::string *why) {
    const char *cmd = on ? "T 1\n" : "T 0\n";
    if (send((sock_t)p->fd, cmd, 4, 0) != 4) {
        *why = "cannot send to it: " + sock_error();
        return -1;
    }
    std::string reply;
    char c = 0;
    while (reply.size() < 200) {
        int n = (int)recv((sock_t)p->fd, &c, 1, 0);
        if (n <= 0) {
            *why = n == 0 ? "it closed the connection" : "no reply: " + sock_error();
            return -1;
        }
        if (c == '\n') break;
        reply += c;
    }
    if (reply == "RPRT 0") return 0;
    *why = "it refused to " + std::string(on ? "key" : "release") + " the transmitter (" + reply +
           ")";
    return -1;
}

/* ---- Serial lines ---- */

static int serial_open(CliPtt *p, std::string *why) {
#ifdef _WIN32
    std::string path = p->device.rfind("\\\\.\\", 0) == 0 ? p->device : "\\\\.\\" + p->device;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0,
                           NULL);
    if (h == INVALID_HANDLE_VALUE) {
        *why = "cannot open it (error " + std::to_string(GetLastError()) + ")";
        return -1;
    }
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        CloseHandle(h);
        *why = "not a serial port";
        return -1;
    }
    /* Both lines low and ours alone, not handshaking. */
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
    SetCommState(h, &dcb);
    p->fd = (intptr_t)h;
#else
    int fd = open(p->device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = std::string("cannot open it: ") + strerror(errno);
        return -1;
    }
    struct termios t;
    int bits = 0;
    if (!isatty(fd) || tcgetattr(fd, &t) != 0 || ioctl(fd, TIOCMGET, &bits) != 0) {
        close(fd);
        *why = "not a serial port";
        return -1;
    }
    p->fd = fd;
#endif
    return 0;
}

static int serial_set(CliPtt *p, int on, std::string *why) {
#ifdef _WIN32
    DWORD f = p->rts ? (on ? SETRTS : CLRRTS) : (on ? SETDTR : CLRDTR);
    if (EscapeCommFunction((HANDLE)p->fd, f)) return 0;
    *why = "cannot set the line (error " + std::to_string(GetLastError()) + ")";
#else
    int bit = p->rts ? TIOCM_RTS : TIOCM_DTR;
    if (ioctl((int)p->fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return 0;
    *why = std::string("cannot set the line: ") + strerror(errno);
#endif
    return -1;
}

static void serial_close(CliPtt *p) {
#ifdef _WIN32
    CloseHandle((HANDLE)p->fd);
#else
    close((int)p->fd);
#endif
}

/* ---- The key ---- */

static void drop(CliPtt *p) {
    if (p->fd == -1) return;
    if (p->kind == PTT_RIGCTLD)
        sock_close((sock_t)p->fd);
    else
        serial_close(p);
    p->fd = -1;
}

int cli_ptt_open(CliPtt *p, std::string *why) {
    if (p->kind == PTT_NONE) return 0;
    int rc = p->kind == PTT_RIGCTLD ? rig_connect(p, why) : serial_open(p, why);
    /* Released at once: opening a port may raise its lines, and a rig that
     * refuses the key refuses its release too. */
    if (rc == 0) rc = cli_ptt_set(p, 0, why);
    if (rc != 0) drop(p);
    return rc;
}

int cli_ptt_set(CliPtt *p, int on, std::string *why) {
    if (p->kind == PTT_NONE) return 0;
    if (on) g_keyed = p; /* from before the key: a signal may come between */
    int rc = p->fd == -1 ? -1 : p->kind == PTT_RIGCTLD ? rig_set(p, on, why) : serial_set(p, on, why);
    if (rc != 0 && !on && p->kind == PTT_RIGCTLD) {
        /* The connection may have broken: a fresh one, once. */
        drop(p);
        std::string again;
        rc = rig_connect(p, &again) == 0 ? rig_set(p, 0, &again) : -1;
        if (rc != 0 && why->empty()) *why = again;
    }
    if (rc != 0 && p->fd == -1 && why->empty()) *why = "the connection is closed";
    p->keyed = on && rc == 0;
    if (!p->keyed) g_keyed = nullptr;
    return rc;
}

void cli_ptt_close(CliPtt *p) {
    std::string ignored;
    if (p->keyed) cli_ptt_set(p, 0, &ignored);
    drop(p);
}

void cli_ptt_abandon(void) {
    CliPtt *p = g_keyed;
    if (!p || p->fd == -1) return;
    if (p->kind == PTT_RIGCTLD) {
        (void)!send((sock_t)p->fd, "T 0\n", 4, 0);
    } else {
#ifdef _WIN32
        EscapeCommFunction((HANDLE)p->fd, p->rts ? CLRRTS : CLRDTR);
#else
        int bit = p->rts ? TIOCM_RTS : TIOCM_DTR;
        ioctl((int)p->fd, TIOCMBIC, &bit);
#endif
    }
}
