/* Digits as listen and decode print them: one formatter for the
 * characters, and transmissions told apart, each a line of text or one
 * JSON object. */
#include "cli/cli.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

/* A new transmission after this long without a tone: longer than a lost
 * digit at 50 %, shorter than the pause the window program leaves before
 * it sends. */
static const double LINE_BREAK_S = 2.5;
/* A request's end marker, heard with at least this many of its tones. */
static const int32_t MARKER[7] = {6, 5, 4, 3, 2, 1, 0};
static const int MARKER_MIN_HEARD = 4;

static char cell(int32_t d) { return rx_value_char(d, KEYS_0_6); }

void cli_digit_text(const int32_t *d, uint64_t from, uint64_t to, char as, std::string *out,
                    int32_t keys) {
    for (uint64_t i = from; i < to; i++) {
        if (as == 'd') {
            *out += rx_value_char(d[i], keys);
        } else if (as == 'i') {
            if (i < 64 && i % 8 == 7) /* a row is complete */
                for (uint64_t k = i - 7; k <= i; k++) {
                    *out += cell(d[k]);
                    *out += k == i ? '\n' : ' ';
                }
        } else if (i % 2) {
            *out += rx_pair_char(d[i - 1], d[i], as == 't' ? RX_READ_TEXT : RX_READ_HEX);
        }
    }
}

void lines_init(TxLines *t, char as, int json, uint64_t rate, int32_t keys) {
    *t = TxLines();
    t->as = as;
    t->keys = keys;
    t->json = json;
    t->rate = rate;
    /* Letters show as they come on a terminal, where a request's line can
     * be written over once its marker says what it was; elsewhere each
     * line goes out whole. Digits and image rows always go out at once. */
    t->live = !json && (as == 'd' || as == 'i' || isatty(fileno(stdout)));
}

static void put(TxLines *t, const std::string &s) {
    if (s.empty() || t->write_errno) return;
    errno = 0;
    if (fwrite(s.data(), 1, s.size(), stdout) != s.size() || fflush(stdout) != 0)
        t->write_errno = errno ? errno : EIO;
}

/* Whether the transmission ends with the end marker. */
static int marker_at_end(const TxLines *t) {
    const std::vector<int32_t> &d = t->digits;
    if (d.size() < 7 || t->keys != KEYS_0_6) return 0;
    int heard = 0;
    for (int k = 0; k < 7; k++) {
        int32_t v = d[d.size() - 7 + k];
        if (v != RX_DIGIT_LOST && v != MARKER[k]) return 0;
        heard += v != RX_DIGIT_LOST;
    }
    return heard >= MARKER_MIN_HEARD;
}

void lines_end(TxLines *t) {
    const std::vector<int32_t> &d = t->digits;
    if (d.empty()) return;
    const int request = marker_at_end(t) && d.size() >= 11 && t->as != 'd' && t->as != 'i';
    /* A request: its directory, then its message without the marker. */
    const uint64_t from = request ? 4 : 0, to = request ? d.size() - 7 : d.size();
    std::string text, dir;
    for (uint64_t i = 0; request && i < 4; i++) dir += cell(d[i]);
    cli_digit_text(d.data() + from, 0, to - from, t->as, &text);
    std::string s;
    if (t->json) {
        std::string digits;
        cli_digit_text(d.data(), 0, d.size(), 'd', &digits, t->keys);
        uint64_t lost = 0;
        for (int32_t v : d) lost += v == rx_lost_marker(t->keys);
        char times[96];
        snprintf(times, sizeof times, "{\"start\": %.2f, \"end\": %.2f, ",
                 (double)t->start_at / t->rate, (double)(t->last_at + DECODE_FRAME_LEN) / t->rate);
        s = times + std::string("\"digits\": \"") + digits + "\"";
        if (request) s += ", \"dir\": \"" + dir + "\"";
        if (t->as == 't' || t->as == 'h')
            s += std::string(t->as == 't' ? ", \"text\": \"" : ", \"hex\": \"") + text + "\"";
        s += ", \"lost\": " + std::to_string(lost) + "}\n";
    } else if (t->live && !request) {
        cli_digit_text(d.data(), t->shown, d.size(), t->as, &s, t->keys);
        if (t->as != 'i' || d.size() % 8) s += '\n';
    } else {
        /* Over what the terminal already shows of it. */
        s = (t->shown ? "\r\033[K" : "") + (request ? dir + " " : "") + text;
        if (t->as != 'i' || d.size() % 8) s += '\n';
    }
    put(t, s);
    t->digits.clear();
    t->shown = 0;
}

void lines_digit(TxLines *t, int32_t digit, uint64_t at) {
    if (!t->digits.empty() && at - t->last_at > (uint64_t)(LINE_BREAK_S * t->rate)) lines_end(t);
    if (t->digits.empty()) t->start_at = at;
    t->digits.push_back(digit);
    t->last_at = at;
    if (t->live) {
        std::string s;
        cli_digit_text(t->digits.data(), t->shown, t->digits.size(), t->as, &s, t->keys);
        t->shown = t->digits.size();
        put(t, s);
    }
    if (marker_at_end(t)) lines_end(t);
}

void lines_tick(TxLines *t, uint64_t now) {
    if (!t->digits.empty() && now - t->last_at > (uint64_t)(LINE_BREAK_S * t->rate)) lines_end(t);
}
