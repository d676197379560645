/*
 * dtmf_core.cpp -- tone plan, sample buffer, digit codes, tone synthesis,
 * station identification and the helpers the program and the CLI share.
 * WAV files live in wav.cpp, the detector in detect.cpp.
 */
#include "core/dtmf_core.h"
#include "core/core_internal.h"

#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* ---- Tone plan ------------------------------------------------------- */

const int32_t ROW_FREQS[3] = {697, 770, 941};
const int32_t COL_FREQS[3] = {1209, 1336, 1477};
const int32_t DIGIT_ROW[7] = {941, 697, 697, 697, 770, 770, 770};
const int32_t DIGIT_COL[7] = {1336, 1209, 1336, 1477, 1209, 1336, 1477};

int32_t dtmf_row_freq(uint32_t digit) { return digit <= 6 ? DIGIT_ROW[digit] : 0; }
int32_t dtmf_col_freq(uint32_t digit) { return digit <= 6 ? DIGIT_COL[digit] : 0; }

int32_t dtmf_pair_to_digit(int32_t row_hz, int32_t col_hz) {
    for (int32_t d = 0; d < 7; d++)
        if (DIGIT_ROW[d] == row_hz && DIGIT_COL[d] == col_hz) return d;
    return -1;
}

/* ---- Sample buffer ---------------------------------------------------- */

/* The core's one piece of process state: set once at start-up, before any
 * thread could need it. */
static CoreFatalFn g_fatal;

void core_set_fatal_report(CoreFatalFn report) { g_fatal = report; }

void core_out_of_memory(void) {
    if (g_fatal)
        g_fatal("out of memory");
    else
        fwrite("out of memory\n", 1, 14, stderr);
    exit(1);
}

void sb_init(SampleBuf *b) {
    b->data = NULL;
    b->len = 0;
    b->cap = 0;
}

void sb_free(SampleBuf *b) {
    free(b->data);
    sb_init(b);
}

void sb_reserve(SampleBuf *b, uint64_t extra) {
    uint64_t need = b->len + extra;
    if (need < b->len) core_out_of_memory(); /* a wrapped request can never be met */
    if (b->cap >= need) return;
    uint64_t cap = b->cap ? b->cap * 2 : 1024;
    while (cap < need) {
        if (cap > UINT64_MAX / 2) core_out_of_memory();
        cap *= 2;
    }
    if (cap > SIZE_MAX / sizeof(float)) core_out_of_memory();
    float *p = (float *)realloc(b->data, (size_t)cap * sizeof(float));
    if (!p) core_out_of_memory();
    b->data = p;
    b->cap = cap;
}

void sb_append(SampleBuf *b, const float *src, uint64_t n) {
    if (n == 0) return;
    /* A source inside this very buffer would move with the reallocation. */
    int inside = b->data && src >= b->data && src < b->data + b->len;
    uint64_t offset = inside ? (uint64_t)(src - b->data) : 0;
    sb_reserve(b, n);
    if (inside) src = b->data + offset;
    memmove(b->data + b->len, src, (size_t)n * sizeof(float));
    b->len += n;
}

void sb_append_silence(SampleBuf *b, uint64_t n) {
    if (n == 0) return;
    sb_reserve(b, n);
    memset(b->data + b->len, 0, (size_t)n * sizeof(float));
    b->len += n;
}

void sb_append_buf(SampleBuf *dst, const SampleBuf *src) {
    if (src && src->len) sb_append(dst, src->data, src->len);
}

/* ---- Digit codes ------------------------------------------------------ */

const char HEX_CHARS[17] = "0123456789abcdef";

uint64_t callsign_clean(const char *in, char *out) {
    uint64_t n = 0;
    for (const unsigned char *p = (const unsigned char *)in; *p && n < 255; p++)
        if (*p < 128 && isalnum(*p)) out[n++] = (char)toupper(*p);
    out[n] = 0;
    return n;
}

int32_t letter_to_num(char c) {
    if (c == ' ') return 0;
    int l = tolower((unsigned char)c);
    return (l >= 'a' && l <= 'z') ? l - 'a' + 1 : -1;
}

char num_to_letter(int32_t n) {
    if (n == 0) return ' ';
    return (n >= 1 && n <= 26) ? (char)('a' + n - 1) : '?';
}

void num_to_pair7(int32_t n, int32_t *hi, int32_t *lo) {
    *hi = n / 7;
    *lo = n % 7;
}

int32_t pair7_to_num(int32_t hi, int32_t lo) { return 7 * hi + lo; }

uint32_t *encode_text(const char *text, uint64_t *out_count) {
    size_t len = text ? strlen(text) : 0;
    uint64_t count = 0;
    uint32_t *d = (uint32_t *)malloc((len * 2 + 2) * sizeof(uint32_t));
    if (d) {
        for (size_t i = 0; i < len; i++) {
            int32_t n = letter_to_num(text[i]);
            if (n < 0) continue;
            d[count++] = (uint32_t)(n / 7);
            d[count++] = (uint32_t)(n % 7);
        }
    }
    if (out_count) *out_count = count;
    return d;
}

void hex_nibble_to_pair6(int32_t v, int32_t *hi, int32_t *lo) {
    *hi = v / 6;
    *lo = v % 6;
}

int32_t pair6_to_hex_nibble(int32_t hi, int32_t lo) { return 6 * hi + lo; }

/* Four digits per byte value, built at compile time: the encoder is then a
 * branch-free 16-byte copy per input byte. */
struct HexDigitTable {
    uint32_t d[256][4];
};

static constexpr HexDigitTable make_hex_digit_table() {
    HexDigitTable t{};
    for (int b = 0; b < 256; b++) {
        int h = b >> 4, l = b & 15;
        t.d[b][0] = (uint32_t)(h / 6);
        t.d[b][1] = (uint32_t)(h % 6);
        t.d[b][2] = (uint32_t)(l / 6);
        t.d[b][3] = (uint32_t)(l % 6);
    }
    return t;
}

static constexpr HexDigitTable HEX_DIGITS = make_hex_digit_table();

void encode_bytes_hex_into(const uint8_t *bytes, uint64_t n, uint32_t *out) {
    for (uint64_t i = 0; i < n; i++) memcpy(out + 4 * i, HEX_DIGITS.d[bytes[i]], 16);
}

uint32_t *encode_bytes_hex(const uint8_t *bytes, uint64_t n, uint64_t *out_count) {
    uint32_t *d = NULL;
    if (n < (SIZE_MAX / 16) - 1) d = (uint32_t *)malloc((size_t)(4 * n + 1) * sizeof(uint32_t));
    if (!d) {
        if (out_count) *out_count = 0;
        return NULL;
    }
    encode_bytes_hex_into(bytes, n, d);
    if (out_count) *out_count = 4 * n;
    return d;
}

static int hex_value(char c) {
    int l = tolower((unsigned char)c);
    if (l >= '0' && l <= '9') return l - '0';
    if (l >= 'a' && l <= 'f') return l - 'a' + 10;
    return -1;
}

uint8_t *hex_string_to_bytes(const char *chars, uint64_t len, uint64_t *out_n,
                             const char **out_err) {
    static const char *const ERR_INVALID =
        "Decoded hex contains invalid characters (marked '?') -- lower the tone threshold or "
        "re-transmit.";
    static const char *const ERR_ODD =
        "Decoded hex has an odd number of characters -- reception may be incomplete.";
    const char *err = NULL;
    uint8_t *bytes = NULL;

    if (len == 0) {
        bytes = (uint8_t *)malloc(1);
        if (bytes && out_n) *out_n = 0;
    } else {
        for (uint64_t i = 0; i < len && !err; i++)
            if (!chars || hex_value(chars[i]) < 0) err = ERR_INVALID;
        if (!err && (len & 1)) err = ERR_ODD;
        if (!err) {
            bytes = (uint8_t *)malloc((size_t)(len / 2));
            if (bytes) {
                for (uint64_t i = 0; i < len / 2; i++)
                    bytes[i] =
                        (uint8_t)(hex_value(chars[2 * i]) * 16 + hex_value(chars[2 * i + 1]));
                if (out_n) *out_n = len / 2;
            }
        }
    }
    if (out_err) *out_err = err;
    return bytes;
}

/* ---- Synthesis -------------------------------------------------------- */

static const uint64_t DIGIT_RAMP = 529; /* 12 ms fades: no clicks at the burst edges */

void envelope_apply(float *s, uint64_t n, uint64_t ramp) {
    uint64_t r = n / 2 < ramp ? n / 2 : ramp;
    if (r < 2) return;
    float den = (float)(r - 1);
    for (uint64_t i = 0; i < r; i++) {
        float g = (float)i / den;
        s[i] *= g;
        s[n - 1 - i] *= g;
    }
}

/* Seconds to a sample count, truncated; nonsense (NaN, negative) counts as
 * nothing, and absurd lengths end in the buffer's out-of-memory exit. */
static uint64_t seconds_to_samples(double seconds) {
    double v = seconds * (double)DTMF_SAMPLE_RATE;
    if (!(v >= 1.0)) return 0;
    if (v >= 9.0e15) return (uint64_t)9.0e15;
    return (uint64_t)v;
}

void core_render_burst(float *dst, uint32_t digit, uint64_t n) {
    const double wr = (double)dtmf_row_freq(digit) * CORE_TWO_PI;
    const double wc = (double)dtmf_col_freq(digit) * CORE_TWO_PI;
    const double amp = CORE_TONE_AMP;
    for (uint64_t i = 0; i < n; i++) {
        double t = (double)i / (double)DTMF_SAMPLE_RATE;
        dst[i] = (float)((sin(wr * t) + sin(wc * t)) * amp);
    }
    envelope_apply(dst, n, DIGIT_RAMP);
}

static uint64_t burst_samples(double tone_s) {
    uint64_t n = seconds_to_samples(tone_s);
    return n ? n : 1;
}

void gen_digit_samples(SampleBuf *b, uint32_t digit, double tone_s, double gap_s) {
    uint64_t n = burst_samples(tone_s);
    sb_reserve(b, n);
    core_render_burst(b->data + b->len, digit, n);
    b->len += n;
    sb_append_silence(b, seconds_to_samples(gap_s));
}

uint64_t digit_block_samples(uint64_t count, double tone_s, double gap_s) {
    if (count == 0) return 0;
    uint64_t per = burst_samples(tone_s) + seconds_to_samples(gap_s);
    if (count > (UINT64_MAX - BLOCK_LEAD_IN_SAMPLES - BLOCK_TAIL_SAMPLES) / per) return UINT64_MAX;
    return BLOCK_LEAD_IN_SAMPLES + count * per + BLOCK_TAIL_SAMPLES;
}

/* The repeater carrier where the last sample left it. */
struct Carrier {
    double phase, gain;
};

static void carrier_apply(Carrier *c, float *s, uint64_t n, double step) {
    double p = c->phase, m = c->gain;
    for (uint64_t i = 0; i < n; i++) {
        p += step;
        s[i] = (float)((double)s[i] * m);
        if (p > CORE_TWO_PI) p -= CORE_TWO_PI;
        m = cos(p);
    }
    c->phase = p;
    c->gain = m;
}

void repeater_modulate(float *s, uint64_t n, int32_t rate) {
    if (n == 0 || rate <= 0) return;
    Carrier c = {0.0, 1.0};
    carrier_apply(&c, s, n, CORE_TWO_PI * REPEATER_CARRIER_HZ / (double)rate);
}

/* A block goes out in pieces of this many samples (64 KiB). */
static const uint64_t PIECE = 16384;

/* Gathers a digit block into pieces and disguises each in turn, the carrier
 * running on across them exactly as over one buffer. */
struct BlockOut {
    SampleSink sink;
    void *ctx;
    int32_t repeater;
    Carrier carrier;
    float *buf; /* PIECE samples */
    uint64_t len;
    int32_t failed;
};

static void block_flush(BlockOut *o) {
    if (o->len == 0 || o->failed) return;
    if (o->repeater)
        carrier_apply(&o->carrier, o->buf, o->len,
                      CORE_TWO_PI * REPEATER_CARRIER_HZ / DTMF_SAMPLE_RATE);
    if (o->sink(o->ctx, o->buf, o->len) != 0) o->failed = 1;
    o->len = 0;
}

/* n samples of src, or of silence when src is null. */
static void block_put(BlockOut *o, const float *src, uint64_t n) {
    while (n && !o->failed) {
        uint64_t m = PIECE - o->len < n ? PIECE - o->len : n;
        if (src) {
            memcpy(o->buf + o->len, src, (size_t)m * sizeof(float));
            src += m;
        } else {
            memset(o->buf + o->len, 0, (size_t)m * sizeof(float));
        }
        o->len += m;
        n -= m;
        if (o->len == PIECE) block_flush(o);
    }
}

static void *must_malloc(uint64_t bytes) {
    void *p = bytes <= SIZE_MAX ? malloc((size_t)bytes) : NULL;
    if (!p) core_out_of_memory();
    return p;
}

int32_t stream_digits_samples(const uint32_t *digits, uint64_t count, int32_t repeater,
                              double tone_s, double gap_s, SampleSink sink, void *ctx) {
    if (count == 0) return 0;
    uint64_t n = burst_samples(tone_s), g = seconds_to_samples(gap_s);
    BlockOut o = {sink, ctx, repeater, {0.0, 1.0}, NULL, 0, 0};
    o.buf = (float *)must_malloc(PIECE * sizeof(float));

    /* Every burst of a digit is identical (phase 0, same length): each is
     * rendered once, on first use. Digits above 6 are silent. */
    float *burst[7] = {NULL, NULL, NULL, NULL, NULL, NULL, NULL};
    block_put(&o, NULL, BLOCK_LEAD_IN_SAMPLES);
    for (uint64_t i = 0; i < count && !o.failed; i++) {
        uint32_t d = digits[i];
        if (d <= 6 && !burst[d]) {
            burst[d] = (float *)must_malloc(n * sizeof(float));
            core_render_burst(burst[d], d, n);
        }
        block_put(&o, d <= 6 ? burst[d] : NULL, n);
        block_put(&o, NULL, g);
    }
    block_put(&o, NULL, BLOCK_TAIL_SAMPLES);
    block_flush(&o);
    for (int d = 0; d < 7; d++) free(burst[d]);
    free(o.buf);
    return o.failed ? -1 : 0;
}

static int32_t append_to_buf(void *ctx, const float *s, uint64_t n) {
    sb_append((SampleBuf *)ctx, s, n);
    return 0;
}

/* Room for total more samples, all at once; a length no buffer holds ends
 * in the out-of-memory exit. */
static void reserve_all(SampleBuf *b, uint64_t total) {
    if (total == UINT64_MAX) core_out_of_memory();
    sb_reserve(b, total);
}

void gen_digits_samples(SampleBuf *b, const uint32_t *digits, uint64_t count, int32_t repeater,
                        double tone_s, double gap_s) {
    reserve_all(b, digit_block_samples(count, tone_s, gap_s));
    stream_digits_samples(digits, count, repeater, tone_s, gap_s, append_to_buf, b);
}

/* ---- Station identification ------------------------------------------- */

const char *const MORSE_TABLE[36] = {
    ".-",    "-...",  "-.-.",  "-..",   ".",     "..-.",  "--.",   "....",  "..",
    ".---",  "-.-",   ".-..",  "--",    "-.",    "---",   ".--.",  "--.-",  ".-.",
    "...",   "-",     "..-",   "...-",  ".--",   "-..-",  "-.--",  "--..",  "-----",
    ".----", "..---", "...--", "....-", ".....", "-....", "--...", "---..", "----.",
};

static const uint64_t MORSE_DOT = 2116;       /* 48 ms: about 25 words per minute */
static const uint64_t MORSE_DASH = 6350;      /* 144 ms; also the gap between characters */
static const uint64_t MORSE_RAMP = 176;       /* 4 ms fades keep fast keying click-free */
static const uint64_t ID_CLIP_GAP = 2205;     /* 50 ms between spoken characters */
static const uint64_t ID_SILENCE = 13230;     /* 300 ms around every identification */
static const uint64_t ID_INTERVAL = 26460000; /* ten minutes of digits between IDs */

const char *morse_pattern_for_char(char c) {
    int l = tolower((unsigned char)c);
    if (l >= 'a' && l <= 'z') return MORSE_TABLE[l - 'a'];
    if (l >= '0' && l <= '9') return MORSE_TABLE[26 + l - '0'];
    return NULL;
}

static void render_morse_element(float *dst, uint64_t n) {
    const double amp = 2.0 * (double)CORE_TONE_AMP;
    dst[0] = 0.0f;
    for (uint64_t i = 1; i < n; i++)
        dst[i] = (float)(amp * sin(CORE_TWO_PI * 800.0 * (double)i / (double)DTMF_SAMPLE_RATE));
    envelope_apply(dst, n, MORSE_RAMP);
}

void build_morse_samples(const char *text, SampleBuf *out) {
    if (!text) return;
    float *dot = NULL, *dash = NULL; /* rendered on first use, then copied */
    int first = 1;
    for (const char *c = text; *c; c++) {
        const char *pat = morse_pattern_for_char(*c);
        if (!pat) continue;
        if (!first) sb_append_silence(out, MORSE_DASH);
        first = 0;
        for (const char *e = pat; *e; e++) {
            float **el = *e == '-' ? &dash : &dot;
            uint64_t len = *e == '-' ? MORSE_DASH : MORSE_DOT;
            if (!*el) {
                *el = (float *)malloc((size_t)len * sizeof(float));
                if (!*el) core_out_of_memory();
                render_morse_element(*el, len);
            }
            sb_append(out, *el, len);
            if (e[1]) sb_append_silence(out, MORSE_DOT);
        }
    }
    free(dot);
    free(dash);
}

static void put_error(char *err, uint64_t err_size, const char *path) {
    if (err && err_size) snprintf(err, (size_t)err_size, "%s", path);
}

/* Formats folder/name; 0 when the path fits (a cut path would name some
 * other file). */
static int clip_path(char *path, size_t size, const char *folder, const char *name) {
    int w = snprintf(path, size, "%s/%s", folder ? folder : ".", name);
    return (w >= 0 && (size_t)w < size) ? 0 : -1;
}

static int file_exists(const char *path) {
    FILE *f = fopen(path, "rb");
    if (!f) return 0;
    fclose(f);
    return 1;
}

/* Appends a clip at 44,100 Hz; a file that is not a readable WAV adds nothing. */
static void append_clip(const char *path, SampleBuf *out) {
    SampleBuf clip = {NULL, 0, 0};
    uint32_t rate = DTMF_SAMPLE_RATE;
    if (load_wav_mono_float(path, &clip, &rate) == 0)
        resample_linear(&clip, (int32_t)rate, DTMF_SAMPLE_RATE, out);
    sb_free(&clip);
}

int32_t load_callsign_audio(const char *folder, const char *callsign, SampleBuf *out, char *err,
                            uint64_t err_size) {
    char chars[256];
    const uint64_t n = callsign_clean(callsign ? callsign : "", chars);

    for (uint64_t i = 0; i < n; i++) {
        char name[16], path[1024];
        snprintf(name, sizeof name, "%c.wav", tolower((unsigned char)chars[i]));
        if (clip_path(path, sizeof path, folder, name) != 0 || !file_exists(path)) {
            put_error(err, err_size, path);
            return -1;
        }
        append_clip(path, out);
        if (i + 1 < n) sb_append_silence(out, ID_CLIP_GAP);
    }
    return 0;
}

int32_t build_id_block(const char *folder, const SampleBuf *callsign, SampleBuf *out, char *err,
                       uint64_t err_size) {
    if (!callsign || callsign->len == 0) return 0;
    char path[1024];
    if (clip_path(path, sizeof path, folder, "website.wav") != 0 || !file_exists(path)) {
        put_error(err, err_size, path);
        return -1;
    }
    SampleBuf clip = {NULL, 0, 0};
    append_clip(path, &clip);
    sb_reserve(out, callsign->len + ID_CLIP_GAP + clip.len);
    sb_append_buf(out, callsign);
    sb_append_silence(out, ID_CLIP_GAP);
    sb_append_buf(out, &clip);
    sb_free(&clip);
    return 0;
}

static uint64_t sat_add(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

static uint64_t sat_mul(uint64_t a, uint64_t b) {
    return b && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

static const float SILENCE[4096] = {0.0f};

static int32_t put_silence(SampleSink sink, void *ctx, uint64_t n) {
    for (uint64_t m; n; n -= m) {
        m = n < 4096 ? n : 4096;
        if (sink(ctx, SILENCE, m) != 0) return -1;
    }
    return 0;
}

static int32_t put_buf(SampleSink sink, void *ctx, const SampleBuf *b) {
    return b->len ? sink(ctx, b->data, b->len) : 0;
}

/* Passes the digit block on, with the identification between every ten
 * minutes of it. */
struct IdEvery {
    SampleSink sink;
    void *ctx;
    const SampleBuf *id;
    uint64_t at; /* block samples passed on so far */
};

static int32_t id_every_put(void *ctx, const float *s, uint64_t n) {
    IdEvery *o = (IdEvery *)ctx;
    while (n) {
        uint64_t into = o->at % ID_INTERVAL;
        if (into == 0 && o->at &&
            (put_silence(o->sink, o->ctx, ID_SILENCE) || put_buf(o->sink, o->ctx, o->id) ||
             put_silence(o->sink, o->ctx, ID_SILENCE)))
            return -1;
        uint64_t m = ID_INTERVAL - into < n ? ID_INTERVAL - into : n;
        if (o->sink(o->ctx, s, m) != 0) return -1;
        s += m;
        n -= m;
        o->at += m;
    }
    return 0;
}

uint64_t transmission_samples(uint64_t count, const SampleBuf *periodic_id,
                              const SampleBuf *final_id, double tone_s, double gap_s) {
    uint64_t block = digit_block_samples(count, tone_s, gap_s);
    if (!periodic_id || periodic_id->len == 0) return block;
    uint64_t closing = (final_id && final_id->len) ? final_id->len : periodic_id->len;
    uint64_t id = sat_add(periodic_id->len, 2 * ID_SILENCE);
    uint64_t inserts = block ? (block - 1) / ID_INTERVAL : 0;
    return sat_add(sat_add(sat_add(id, block), closing), sat_mul(inserts, id));
}

int32_t stream_transmission_samples(const uint32_t *digits, uint64_t count,
                                    const SampleBuf *periodic_id, const SampleBuf *final_id,
                                    int32_t repeater, double tone_s, double gap_s, SampleSink sink,
                                    void *ctx) {
    if (!periodic_id || periodic_id->len == 0)
        return stream_digits_samples(digits, count, repeater, tone_s, gap_s, sink, ctx);
    const SampleBuf *closing = (final_id && final_id->len) ? final_id : periodic_id;
    IdEvery o = {sink, ctx, periodic_id, 0};
    if (put_buf(sink, ctx, periodic_id) || put_silence(sink, ctx, ID_SILENCE) ||
        stream_digits_samples(digits, count, repeater, tone_s, gap_s, id_every_put, &o) ||
        put_silence(sink, ctx, ID_SILENCE) || put_buf(sink, ctx, closing))
        return -1;
    return 0;
}

void build_transmission_samples(const uint32_t *digits, uint64_t count,
                                const SampleBuf *periodic_id, const SampleBuf *final_id,
                                int32_t repeater, double tone_s, double gap_s, SampleBuf *out) {
    reserve_all(out, transmission_samples(count, periodic_id, final_id, tone_s, gap_s));
    stream_transmission_samples(digits, count, periodic_id, final_id, repeater, tone_s, gap_s,
                                append_to_buf, out);
}

/* ---- Shared by the program and tessary-cli ---------------------------- */

void speed_to_tone_gap(int32_t percent, double *tone_s, double *gap_s) {
    int32_t p = percent < 1 ? 1 : percent;
    double factor = 100.0 / (double)p;
    if (tone_s) *tone_s = TONE_S_AT_100 * factor;
    if (gap_s) *gap_s = GAP_S_AT_100 * factor;
}

int32_t build_callsign_id(const char *audio_dir, const char *callsign, int32_t cw, SampleBuf *out,
                          char *err, uint64_t err_size) {
    if (cw) {
        build_morse_samples(callsign ? callsign : "", out);
        return 0;
    }
    /* Clips are gathered apart, so a missing one leaves out as it was. */
    SampleBuf id = {NULL, 0, 0};
    int32_t rc = load_callsign_audio(audio_dir, callsign, &id, err, err_size);
    if (rc == 0) sb_append_buf(out, &id);
    sb_free(&id);
    return rc;
}

static void station_tx_clear(StationTx *tx) { memset(tx, 0, sizeof *tx); }

void station_tx_free(StationTx *tx) {
    sb_free(&tx->id);
    sb_free(&tx->final_id);
    free(tx->own_digits);
    station_tx_clear(tx);
}

int32_t station_tx_init(StationTx *tx, const uint32_t *digits, uint64_t count,
                        const char *audio_dir, const char *callsign, int32_t cw, int32_t repeater,
                        double tone_s, double gap_s, char *err, uint64_t err_size) {
    station_tx_clear(tx);
    int32_t rc = build_callsign_id(audio_dir, callsign, cw, &tx->id, err, err_size);
    if (rc == 0) rc = build_id_block(audio_dir, &tx->id, &tx->final_id, err, err_size);
    if (rc != 0) {
        station_tx_free(tx);
        return rc;
    }
    tx->digits = digits;
    tx->count = count;
    tx->repeater = repeater;
    tx->tone_s = tone_s;
    tx->gap_s = gap_s;
    return 0;
}

uint64_t station_tx_samples(const StationTx *tx) {
    uint64_t n = transmission_samples(tx->count, &tx->id, &tx->final_id, tx->tone_s, tx->gap_s);
    return tx->marker ? sat_add(n, digit_block_samples(7, tx->tone_s, tx->gap_s)) : n;
}

int32_t station_tx_stream(const StationTx *tx, SampleSink sink, void *ctx) {
    if (stream_transmission_samples(tx->digits, tx->count, &tx->id, &tx->final_id, tx->repeater,
                                    tx->tone_s, tx->gap_s, sink, ctx) != 0)
        return -1;
    /* The marker is a block of its own: its own lead-in, tail and carrier phase. */
    if (tx->marker)
        return stream_digits_samples(SERVER_MARKER, 7, tx->repeater, tx->tone_s, tx->gap_s, sink,
                                     ctx);
    return 0;
}

/* A prepared transmission into out, then released. */
static int32_t render_station_tx(StationTx *tx, int32_t rc, SampleBuf *out) {
    if (rc == 0) {
        reserve_all(out, station_tx_samples(tx));
        station_tx_stream(tx, append_to_buf, out);
    }
    station_tx_free(tx);
    return rc;
}

int32_t build_station_transmission(const uint32_t *digits, uint64_t count, const char *audio_dir,
                                   const char *callsign, int32_t cw, int32_t repeater,
                                   double tone_s, double gap_s, SampleBuf *out, char *err,
                                   uint64_t err_size) {
    StationTx tx;
    int32_t rc = station_tx_init(&tx, digits, count, audio_dir, callsign, cw, repeater, tone_s,
                                 gap_s, err, err_size);
    return render_station_tx(&tx, rc, out);
}

int32_t build_signoff(const char *audio_dir, const SampleBuf *callsign_id, SampleBuf *out,
                      char *err, uint64_t err_size) {
    char path[1024], text[1200];
    snprintf(path, sizeof path, "%s/QRT.wav", audio_dir ? audio_dir : ".");
    FILE *f = fopen(path, "rb");
    SampleBuf clip = {NULL, 0, 0};
    uint32_t rate = DTMF_SAMPLE_RATE;
    int32_t rc = -1;
    if (!f) {
        snprintf(text, sizeof text, "Missing: %s", path);
    } else if (load_wav_mono_float_stream(f, &clip, &rate) != 0 || clip.len == 0) {
        /* A clip that exists but cannot be read would otherwise sign off silently. */
        snprintf(text, sizeof text, "Cannot read: %s", path);
    } else {
        SampleBuf at44 = {NULL, 0, 0};
        resample_linear(&clip, (int32_t)rate, DTMF_SAMPLE_RATE, &at44);
        sb_reserve(out, (callsign_id ? callsign_id->len : 0) + ID_SILENCE + at44.len);
        sb_append_buf(out, callsign_id);
        sb_append_silence(out, ID_SILENCE);
        sb_append_buf(out, &at44);
        sb_free(&at44);
        rc = 0;
    }
    if (f) fclose(f);
    sb_free(&clip);
    if (rc != 0) put_error(err, err_size, text);
    return rc;
}

const uint32_t SERVER_MARKER[7] = {6, 5, 4, 3, 2, 1, 0};

static int server_dir_ok(const char *dir) {
    if (!dir || strlen(dir) != 4) return 0;
    for (int i = 0; i < 4; i++)
        if (dir[i] < '0' || dir[i] > '6') return 0;
    return 1;
}

uint32_t *server_request_digits(const char *dir, const char *message, uint64_t *out_count) {
    if (out_count) *out_count = 0;
    if (!server_dir_ok(dir)) return NULL;

    uint64_t mc = 0;
    uint32_t *msg = encode_text(message ? message : "", &mc);
    if (!msg) return NULL;
    uint64_t total = 4 + mc;
    if (total > SERVER_MAX_DIGITS) total = SERVER_MAX_DIGITS;
    uint32_t *d = (uint32_t *)malloc((size_t)total * sizeof(uint32_t));
    if (d) {
        for (int i = 0; i < 4; i++) d[i] = (uint32_t)(dir[i] - '0');
        memcpy(d + 4, msg, (size_t)(total - 4) * sizeof(uint32_t));
        if (out_count) *out_count = total;
    }
    free(msg);
    return d;
}

int32_t server_tx_init(StationTx *tx, const char *dir, const char *message, const char *audio_dir,
                       const char *callsign, int32_t cw, int32_t repeater, double tone_s,
                       double gap_s, char *err, uint64_t err_size) {
    station_tx_clear(tx);
    if (!server_dir_ok(dir)) {
        if (err && err_size) err[0] = '\0';
        return -2;
    }
    uint64_t count = 0;
    uint32_t *digits = server_request_digits(dir, message, &count);
    if (!digits) core_out_of_memory(); /* the directory was good: only memory is left */
    int32_t rc = station_tx_init(tx, digits, count, audio_dir, callsign, cw, repeater, tone_s,
                                 gap_s, err, err_size);
    if (rc != 0) {
        free(digits);
        return rc;
    }
    tx->own_digits = digits;
    tx->marker = 1;
    return 0;
}

int32_t build_server_transmission(const char *dir, const char *message, const char *audio_dir,
                                  const char *callsign, int32_t cw, int32_t repeater, double tone_s,
                                  double gap_s, SampleBuf *out, char *err, uint64_t err_size) {
    StationTx tx;
    int32_t rc = server_tx_init(&tx, dir, message, audio_dir, callsign, cw, repeater, tone_s, gap_s,
                                err, err_size);
    return render_station_tx(&tx, rc, out);
}
