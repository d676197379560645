/*
 * wav.cpp -- writing 16-bit mono WAV files, and reading PCM WAV files of any
 * common shape into mono float samples.
 *
 * The reader takes its bytes front to back through a 64 KiB buffer, so a
 * pipe serves as well as a file, an hour costs what a second does, and
 * nothing is ever allocated from a size field.
 */
#include "core/dtmf_core.h"
#include "core/core_internal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* ---- Writing ---------------------------------------------------------- */

int16_t sample_to_pcm16(float v) {
    if (v > 1.0f) return 32767;
    if (!(v >= -1.0f)) {
        if (v != v) return 0; /* NaN has no sound; casting it would be undefined */
        v = -1.0f;
    }
    return (int16_t)(v * 32767.0f);
}

static void put16(uint8_t *p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

static void put32(uint8_t *p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

int32_t wav_writer_begin(WavWriter *w, WavWriteFn write, void *ctx, uint64_t n) {
    w->write = write;
    w->ctx = ctx;
    w->left = n;
    w->failed = 1;
    /* Larger counts would need sizes the 32-bit fields cannot hold; refuse
     * rather than write a header that lies. */
    if (n > WAV_MAX_SAMPLES || !write) return -1;

    uint8_t h[44];
    uint32_t data_size = (uint32_t)(2 * n);
    memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + data_size);
    memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);
    put16(h + 22, 1);
    put32(h + 24, DTMF_SAMPLE_RATE);
    put32(h + 28, DTMF_SAMPLE_RATE * 2);
    put16(h + 32, 2);
    put16(h + 34, 16);
    memcpy(h + 36, "data", 4);
    put32(h + 40, data_size);
    w->failed = write(ctx, h, sizeof h) != 0;
    return w->failed ? -1 : 0;
}

int32_t wav_writer_put(void *writer, const float *s, uint64_t n) {
    WavWriter *w = (WavWriter *)writer;
    if (n > w->left) w->failed = 1; /* more than the header said: the file would lie */
    if (w->failed) return -1;
    uint8_t chunk[16384];
    for (uint64_t i = 0; i < n; i += sizeof chunk / 2) {
        uint64_t m = n - i < sizeof chunk / 2 ? n - i : sizeof chunk / 2;
        for (uint64_t j = 0; j < m; j++) put16(chunk + 2 * j, (uint16_t)sample_to_pcm16(s[i + j]));
        if (w->write(w->ctx, chunk, 2 * m) != 0) {
            w->failed = 1;
            return -1;
        }
    }
    w->left -= n;
    return 0;
}

int32_t wav_writer_end(const WavWriter *w) { return w->failed || w->left ? -1 : 0; }

int32_t write_wav(WavWriteFn write, void *ctx, const SampleBuf *b) {
    uint64_t n = b ? b->len : 0;
    WavWriter w;
    if (wav_writer_begin(&w, write, ctx, n) != 0) return -1;
    if (n) wav_writer_put(&w, b->data, n);
    return wav_writer_end(&w);
}

static int32_t write_to_file(void *ctx, const void *data, uint64_t n) {
    return fwrite(data, 1, (size_t)n, (FILE *)ctx) == n ? 0 : -1;
}

int32_t save_wav(const char *path, const SampleBuf *b) {
    /* Checked before opening, so a refused buffer leaves the file alone. */
    if ((b && b->len > WAV_MAX_SAMPLES) || !path) return -1;
    FILE *f = fopen(path, "wb");
    if (!f) return -1;
    int ok = write_wav(write_to_file, f, b) == 0;
    /* A full disk often shows only when the buffer is flushed or closed. */
    if (fflush(f) != 0) ok = 0;
    if (fclose(f) != 0) ok = 0;
    return ok ? 0 : -1;
}

/* ---- Reading ---------------------------------------------------------- */

static const uint64_t UNKNOWN = UINT64_MAX;
static const uint64_t WAV_BUF = 65536;

static uint64_t mem_read(void *ctx, void *buf, uint64_t n) {
    WavReader *r = (WavReader *)ctx;
    uint64_t have = r->pos < r->size ? r->size - r->pos : 0;
    if (n > have) n = have;
    if (n) memcpy(buf, r->mem + r->pos, (size_t)n);
    return n;
}

static uint64_t file_read(void *ctx, void *buf, uint64_t n) {
    return fread(buf, 1, (size_t)n, (FILE *)ctx);
}

static int seek_to(FILE *f, uint64_t pos) {
#ifdef _WIN32
    return _fseeki64(f, (long long)pos, SEEK_SET);
#else
    return fseek(f, (long)pos, SEEK_SET);
#endif
}

/* One read of the source, never more than n. */
static uint64_t src_read(WavReader *r, void *buf, uint64_t n) {
    uint64_t got = n ? r->read(r->ctx, buf, n) : 0;
    if (got > n) got = n; /* a read function that overstates must not run us past buf */
    r->pos += got;
    return got;
}

/* n bytes unless the input ends first; returns how many. */
static uint64_t src_fill(WavReader *r, uint8_t *buf, uint64_t n) {
    uint64_t got = 0;
    while (got < n) {
        uint64_t k = src_read(r, buf + got, n - got);
        if (k == 0) break;
        got += k;
    }
    return got;
}

static int src_seekable(const WavReader *r) { return r->size != UNKNOWN; }

/* Moves to pos: by seeking where the source can, else by reading on. */
static void src_skip_to(WavReader *r, uint64_t pos) {
    if (src_seekable(r)) {
        if (pos > r->size) pos = r->size;
        if (r->f && seek_to(r->f, pos) != 0) pos = r->size; /* the walk ends */
        r->pos = pos;
        return;
    }
    while (r->pos < pos) {
        uint64_t want = pos - r->pos < WAV_BUF ? pos - r->pos : WAV_BUF;
        if (src_read(r, r->buf, want) == 0) break;
    }
}

static uint32_t get16(const uint8_t *p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }
static uint32_t get32(const uint8_t *p) { return get16(p) | (get16(p + 2) << 16); }

/* How a sample is stored: integer PCM by width, or IEEE float. */
enum SampleKind { KIND_NONE, KIND_U8, KIND_S16, KIND_S24, KIND_S32, KIND_F32, KIND_F64 };

/* Recorders and editors write 24-bit and float files as often as 16-bit
 * ones; any other tag keeps being read by its width, as it always was. */
static SampleKind kind_of(uint32_t tag, uint32_t bits) {
    if (tag == 3) return bits == 32 ? KIND_F32 : bits == 64 ? KIND_F64 : KIND_NONE;
    switch (bits) {
    case 8: return KIND_U8;
    case 16: return KIND_S16;
    case 24: return KIND_S24;
    case 32: return KIND_S32;
    default: return KIND_NONE;
    }
}

static float finite_or_zero(double v) { return v == v && v < 1e30 && v > -1e30 ? (float)v : 0.0f; }

static float decode_one(const uint8_t *p, SampleKind kind) {
    switch (kind) {
    case KIND_U8: return (float)((int32_t)p[0] - 128) * (1.0f / 128.0f);
    case KIND_S16: return (float)(int16_t)get16(p) * (1.0f / 32768.0f);
    case KIND_S24: {
        int32_t v =
            (int32_t)(((uint32_t)p[0] << 8) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 24));
        return (float)(v >> 8) * (1.0f / 8388608.0f);
    }
    case KIND_S32: return (float)(int32_t)get32(p) * (1.0f / 2147483648.0f);
    case KIND_F32: {
        uint32_t u = get32(p);
        float f;
        memcpy(&f, &u, 4);
        return finite_or_zero(f); /* a NaN would poison every level it enters */
    }
    case KIND_F64: {
        uint64_t u = (uint64_t)get32(p) | ((uint64_t)get32(p + 4) << 32);
        double d;
        memcpy(&d, &u, 8);
        return finite_or_zero(d);
    }
    default: return 0.0f;
    }
}

/* What the chunk walk found. Without "fmt " the file counts as 16-bit mono
 * 44,100 Hz. */
struct WavHeader {
    int riff;
    int have_data;
    int blind;                   /* read forward, the sound came before any "fmt " */
    uint64_t data_pos, data_len; /* data_len UNKNOWN: to the end of the input */
    uint64_t missing;            /* bytes the data chunk declares beyond the input's end */
    uint32_t format_tag, sub_format, channels, rate, bits;
};

/* A size field that says nothing: recorders writing to a pipe cannot come
 * back to fill it in, and write 0, 0xFFFFFFFF (most), 0x7FFFFFFF (arecord)
 * or 0x7FFFF000 (sox). */
static int size_untold(uint32_t v) { return v == 0 || v >= 0x7FFFF000u; }

/* Chunk names are four printable ASCII characters; anything else is not a
 * chunk (zeros past the end of a file grown with truncate, a lost pad). */
static int chunk_id(const uint8_t *p) {
    for (int i = 0; i < 4; i++)
        if (p[i] < 0x20 || p[i] > 0x7E) return 0;
    return 1;
}

/* The one chunk walk, forward only: the sound is the first "data" chunk. A
 * source that can seek goes on past it only to find a "fmt " that comes
 * later; read forward, the sound cannot wait for one. The walk ends at the
 * first thing that is not a chunk. */
static void wav_walk(WavReader *r, WavHeader *w) {
    memset(w, 0, sizeof *w);
    w->format_tag = 1;
    w->channels = 1;
    w->rate = DTMF_SAMPLE_RATE;
    w->bits = 16;
    uint8_t h[12];
    if (src_fill(r, h, 12) != 12 || memcmp(h, "RIFF", 4) != 0 || memcmp(h + 8, "WAVE", 4) != 0)
        return;
    w->riff = 1;
    int have_fmt = 0, odd = 0;
    for (;;) {
        uint8_t ch[8];
        if (src_fill(r, ch, 8) != 8) break;
        /* After an odd size comes a pad byte (a zero), which some writers
         * leave out: then the next name begins at once. */
        if (odd && !chunk_id(ch)) {
            memmove(ch, ch + 1, 7);
            if (src_fill(r, ch + 7, 1) != 1) break;
        }
        if (!chunk_id(ch)) break;
        const int data = memcmp(ch, "data", 4) == 0;
        uint64_t size = get32(ch + 4);
        /* A 32-bit field cannot tell the size of more than 4 GiB either. */
        if (data && (size_untold((uint32_t)size) || (src_seekable(r) && r->size > 0xFFFFFFFFull)))
            size = UNKNOWN;
        if (src_seekable(r) && size > r->size - r->pos) {
            if (data && !w->have_data && size != UNKNOWN) w->missing = size - (r->size - r->pos);
            size = r->size - r->pos;
        }
        const uint64_t body = r->pos;
        if (memcmp(ch, "fmt ", 4) == 0) {
            uint8_t f[26];
            uint64_t got = src_fill(r, f, size < sizeof f ? size : sizeof f);
            if (got < 16) break; /* cut short: the walk ends */
            w->format_tag = get16(f);
            w->channels = get16(f + 2);
            w->rate = get32(f + 4);
            w->bits = get16(f + 14);
            /* WAVE_FORMAT_EXTENSIBLE names the real format in its GUID's first two bytes. */
            w->sub_format = got >= 26 ? get16(f + 24) : 0;
            have_fmt = 1;
            if (w->have_data) break;
        } else if (data && !w->have_data) {
            w->have_data = 1;
            w->data_pos = r->pos;
            w->data_len = size;
            if (!src_seekable(r)) {
                w->blind = !have_fmt;
                return;
            }
            if (have_fmt) break;
        }
        if (size == UNKNOWN) break;
        src_skip_to(r, body + size);
        odd = (int)(size & 1);
    }
    if (w->have_data && src_seekable(r)) src_skip_to(r, w->data_pos);
}

/* The stricter verdict given to people: only what decodes to real sound. */
static int32_t wav_check(const WavHeader *w, WavInfo *info, char *why, uint64_t why_size) {
    uint32_t tag = w->format_tag == 0xFFFE ? w->sub_format : w->format_tag;
    if (info) {
        info->format_tag = tag;
        info->channels = w->channels;
        info->rate = w->rate;
        info->bits = w->bits;
        info->data_bytes = w->data_len;
    }
    char text[200] = "";
    if (!w->riff)
        snprintf(text, sizeof text, "not a WAV file (no RIFF/WAVE header)");
    else if (!w->have_data)
        snprintf(text, sizeof text, "no audio in the WAV file (no \"data\" chunk)");
    else if (w->blind)
        snprintf(text, sizeof text,
                 "the \"fmt \" chunk does not come before the sound, and a pipe cannot go back "
                 "for it: give the file itself");
    else if (tag != 1 && tag != 3)
        snprintf(text, sizeof text,
                 "compressed WAV (format %u) is not supported (PCM or floating-point only)",
                 (unsigned)tag);
    else if (kind_of(tag, w->bits) == KIND_NONE)
        snprintf(text, sizeof text,
                 "%u-bit %s samples are not supported (8, 16, 24 or 32-bit PCM, 32 or 64-bit "
                 "float)",
                 (unsigned)w->bits, tag == 3 ? "floating-point" : "PCM");
    else if (w->channels == 0)
        snprintf(text, sizeof text, "the WAV header declares no channels");
    else if (w->rate < 1000 || w->rate > 768000)
        snprintf(text, sizeof text, "sample rate %u Hz is out of range (1000-768000)",
                 (unsigned)w->rate);
    if (why && why_size) snprintf(why, (size_t)why_size, "%s", text);
    return text[0] ? -1 : 0;
}

static uint64_t no_read(void *, void *, uint64_t) { return 0; }

/* A reader of the source, before anything is read; size is the source's
 * length, or UNKNOWN when it can only be read forward. */
static void reader_init(WavReader *r, WavReadFn read, void *ctx, uint64_t size) {
    memset(r, 0, sizeof *r);
    r->read = read ? read : no_read;
    r->ctx = ctx;
    r->size = size;
    r->buf = (uint8_t *)malloc(WAV_BUF);
    if (!r->buf) core_out_of_memory();
}

/* Walks the header and readies the samples. */
static int32_t reader_walk(WavReader *r, char *why, uint64_t why_size) {
    WavHeader w;
    wav_walk(r, &w);
    int32_t verdict = wav_check(&w, &r->info, why, why_size);
    /* Rate 0 cannot be resampled or detected at, and the rest of the program
     * carries rates as signed 32-bit numbers. */
    r->readable = w.riff && w.have_data && !w.blind && w.rate != 0 && w.rate <= 0x7FFFFFFFu;
    r->missing = w.missing;
    r->kind = kind_of(r->info.format_tag, w.bits);
    r->bytes = w.bits / 8;
    r->channels = w.channels;
    r->left = r->readable && r->bytes ? w.data_len : 0;
    return verdict;
}

int32_t wav_reader_open(WavReader *r, WavReadFn read, void *ctx, char *why, uint64_t why_size) {
    reader_init(r, read, ctx, UNKNOWN);
    return reader_walk(r, why, why_size);
}

int32_t wav_reader_open_mem(WavReader *r, const uint8_t *data, uint64_t size, char *why,
                            uint64_t why_size) {
    reader_init(r, mem_read, r, data ? size : 0);
    r->mem = data;
    return reader_walk(r, why, why_size);
}

int32_t wav_reader_open_file(WavReader *r, FILE *f, char *why, uint64_t why_size) {
    /* A file is read from its start; a pipe from where it stands. */
    uint64_t size = UNKNOWN;
#ifdef _WIN32
    long long end = f && _fseeki64(f, 0, SEEK_END) == 0 ? _ftelli64(f) : -1;
#else
    long end = f && fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
#endif
    if (end >= 0 && seek_to(f, 0) == 0) size = (uint64_t)end;
    reader_init(r, f ? file_read : no_read, f, size);
    r->f = f;
    return reader_walk(r, why, why_size);
}

int32_t wav_reader_open_raw(WavReader *r, WavReadFn read, void *ctx, uint32_t rate, char *why,
                            uint64_t why_size) {
    reader_init(r, read, ctx, UNKNOWN);
    WavHeader w = {1, 1, 0, 0, UNKNOWN, 0, 1, 0, 1, rate, 16};
    int32_t verdict = wav_check(&w, &r->info, why, why_size);
    r->readable = verdict == 0;
    r->kind = KIND_S16;
    r->bytes = 2;
    r->channels = 1;
    r->left = r->readable ? UNKNOWN : 0;
    return verdict;
}

/* Whole samples of the buffer into out, at most max mono samples; channels
 * are summed in order and divided, exactly as a frame at a time. */
static uint64_t convert(WavReader *r, float *out, uint64_t max) {
    const uint8_t *p = r->buf + r->buf_at;
    const uint64_t bytes = r->bytes, avail = (r->buf_len - r->buf_at) / bytes;
    const SampleKind kind = r->channels ? (SampleKind)r->kind : KIND_NONE;
    uint64_t n = 0, used = 0;
    if (r->channels == 1 && kind == KIND_S16) { /* what nearly every input is */
        n = used = avail < max ? avail : max;
        for (uint64_t i = 0; i < n; i++)
            out[i] = (float)(int16_t)(uint16_t)(p[2 * i] | (p[2 * i + 1] << 8)) * (1.0f / 32768.0f);
    } else if (r->channels == 1 || kind == KIND_NONE) {
        /* Nothing to decode counts a frame per channel (one when there is none). */
        const uint32_t per = r->channels > 1 ? r->channels : 1;
        for (; used < avail && n < max; used++) {
            if (++r->in_frame < per) continue;
            r->in_frame = 0;
            out[n++] = decode_one(p + used * bytes, kind);
        }
    } else {
        for (; used < avail && n < max; used++) {
            r->sum += decode_one(p + used * bytes, kind);
            if (++r->in_frame < r->channels) continue;
            out[n++] = r->sum / (float)r->channels;
            r->sum = 0.0f;
            r->in_frame = 0;
        }
    }
    r->buf_at += used * bytes;
    return n;
}

uint64_t wav_reader_read(WavReader *r, float *out, uint64_t max) {
    uint64_t n = 0;
    while (n < max && r->bytes) {
        if (r->buf_len - r->buf_at >= r->bytes) {
            n += convert(r, out + n, max - n);
            continue;
        }
        /* Hand over what there is before waiting on the source again. */
        if (n > 0 || r->left == 0) break;
        uint64_t part = r->buf_len - r->buf_at; /* a sample cut by the last read */
        memmove(r->buf, r->buf + r->buf_at, (size_t)part);
        r->buf_at = 0;
        r->buf_len = part;
        uint64_t want = WAV_BUF - part < r->left ? WAV_BUF - part : r->left;
        uint64_t got = src_read(r, r->buf + part, want);
        if (got == 0) {
            if (r->left != UNKNOWN) r->missing += r->left;
            r->left = 0;
            break;
        }
        if (r->left != UNKNOWN) r->left -= got;
        r->buf_len += got;
    }
    return n;
}

void wav_reader_close(WavReader *r) {
    free(r->buf);
    r->buf = NULL;
    r->buf_len = r->buf_at = 0;
    r->left = 0;
}

/* The whole sound into out; -1 when there is none to read. */
static int32_t load_all(WavReader *r, SampleBuf *out, uint32_t *out_rate) {
    int32_t rc = r->readable ? 0 : -1;
    if (rc == 0) {
        /* Known in advance only where the source's length has cut it. */
        if (r->left != UNKNOWN && r->bytes)
            sb_reserve(out, r->left / r->bytes / (r->channels > 1 ? r->channels : 1));
        for (;;) {
            sb_reserve(out, 1024);
            uint64_t got = wav_reader_read(r, out->data + out->len, out->cap - out->len);
            if (got == 0) break;
            out->len += got;
        }
        if (out_rate) *out_rate = r->info.rate;
    }
    wav_reader_close(r);
    return rc;
}

int32_t load_wav_mono_float_mem(const uint8_t *data, uint64_t size, SampleBuf *out,
                                uint32_t *out_rate) {
    if (!data && size) return -1;
    WavReader r;
    wav_reader_open_mem(&r, data, size, NULL, 0);
    return load_all(&r, out, out_rate);
}

int32_t load_wav_mono_float_stream(FILE *f, SampleBuf *out, uint32_t *out_rate) {
    if (!f) return -1;
    WavReader r;
    wav_reader_open_file(&r, f, NULL, 0);
    return load_all(&r, out, out_rate);
}

int32_t load_wav_mono_float(const char *path, SampleBuf *out, uint32_t *out_rate) {
    FILE *f = path ? fopen(path, "rb") : NULL;
    if (!f) return -1;
    int32_t rc = load_wav_mono_float_stream(f, out, out_rate);
    fclose(f);
    return rc;
}

int32_t wav_read_info_mem(const uint8_t *data, uint64_t size, WavInfo *info, char *why,
                          uint64_t why_size) {
    WavReader r;
    int32_t rc = wav_reader_open_mem(&r, data, size, why, why_size);
    if (info) *info = r.info;
    wav_reader_close(&r);
    return rc;
}

int32_t wav_read_info_stream(FILE *f, WavInfo *info, char *why, uint64_t why_size) {
    if (!f) {
        if (why && why_size) snprintf(why, (size_t)why_size, "cannot read the file");
        if (info) memset(info, 0, sizeof *info);
        return -1;
    }
    WavReader r;
    int32_t rc = wav_reader_open_file(&r, f, why, why_size);
    if (info) *info = r.info;
    wav_reader_close(&r);
    return rc;
}

int32_t wav_read_info(const char *path, WavInfo *info, char *why, uint64_t why_size) {
    FILE *f = path ? fopen(path, "rb") : NULL;
    if (!f) {
        if (why && why_size) snprintf(why, (size_t)why_size, "cannot open the file");
        if (info) memset(info, 0, sizeof *info);
        return -1;
    }
    int32_t rc = wav_read_info_stream(f, info, why, why_size);
    fclose(f);
    return rc;
}

/* ---- Resampling ------------------------------------------------------- */
