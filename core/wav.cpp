/*
 * wav.cpp -- writing 16-bit mono WAV files, reading PCM WAV files of any
 * common shape into mono float samples, and linear resampling.
 *
 * The reader walks the chunks first and decodes the last "data" chunk only
 * at the end, straight from its source into the output buffer, so nothing is
 * ever allocated from a size field: every count it sizes by has already been
 * cut to the bytes that are really there.
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

struct WavSource {
    const uint8_t *mem; /* either memory ... */
    FILE *f;            /* ... or an open file */
    uint64_t size;
};

static int seek_to(FILE *f, uint64_t pos) {
#ifdef _WIN32
    return _fseeki64(f, (long long)pos, SEEK_SET);
#else
    return fseek(f, (long)pos, SEEK_SET);
#endif
}

/* Reads up to n bytes at pos; returns how many it got. */
static uint64_t src_read(const WavSource *src, uint64_t pos, void *buf, uint64_t n) {
    if (pos >= src->size) return 0;
    if (n > src->size - pos) n = src->size - pos;
    if (src->mem) {
        memcpy(buf, src->mem + pos, (size_t)n);
        return n;
    }
    if (seek_to(src->f, pos) != 0) return 0;
    return fread(buf, 1, (size_t)n, src->f);
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

/* Decodes `frames` frames of the data chunk at pos into out (already
 * reserved). Stops early, keeping what it has, if the source runs dry. */
static void decode_frames(const WavSource *src, uint64_t pos, uint64_t frames, uint32_t channels,
                          uint32_t bytes, SampleKind kind, SampleBuf *out) {
    const uint64_t frame_bytes = (uint64_t)channels * bytes;
    uint64_t per_block = 65536 / frame_bytes;
    if (per_block == 0) per_block = 1;
    if (per_block > frames) per_block = frames; /* never more than the file holds */
    uint8_t *buf = (uint8_t *)malloc((size_t)(per_block * frame_bytes));
    if (!buf) core_out_of_memory();

    for (uint64_t f = 0; f < frames;) {
        uint64_t want = frames - f < per_block ? frames - f : per_block;
        uint64_t got = src_read(src, pos + f * frame_bytes, buf, want * frame_bytes) / frame_bytes;
        float *dst = out->data + out->len;
        for (uint64_t i = 0; i < got; i++) {
            const uint8_t *p = buf + i * frame_bytes;
            if (channels == 1) {
                dst[i] = decode_one(p, kind);
            } else {
                float sum = 0.0f;
                for (uint32_t c = 0; c < channels; c++)
                    sum += decode_one(p + (uint64_t)c * bytes, kind);
                dst[i] = sum / (float)channels;
            }
        }
        out->len += got;
        f += got;
        if (got < want) break;
    }
    free(buf);
}

/* What the chunk walk found. A later "fmt " or "data" chunk replaces an
 * earlier one; without "fmt " the file counts as 16-bit mono 44,100 Hz. */
struct WavHeader {
    int riff;
    int have_data;
    uint64_t data_pos, data_len; /* data_len already cut to the bytes present */
    uint32_t format_tag, sub_format, channels, rate, bits;
};

static void wav_walk(const WavSource *src, WavHeader *w) {
    memset(w, 0, sizeof *w);
    w->format_tag = 1;
    w->channels = 1;
    w->rate = DTMF_SAMPLE_RATE;
    w->bits = 16;
    uint8_t h[12];
    if (src_read(src, 0, h, 12) != 12 || memcmp(h, "RIFF", 4) != 0 || memcmp(h + 8, "WAVE", 4) != 0)
        return;
    w->riff = 1;
    for (uint64_t pos = 12;;) {
        uint8_t ch[8];
        if (src_read(src, pos, ch, 8) != 8) break;
        uint64_t body = pos + 8;
        uint64_t size = get32(ch + 4);
        if (size > src->size - body) size = src->size - body;
        if (memcmp(ch, "fmt ", 4) == 0) {
            uint8_t f[26];
            uint64_t got = src_read(src, body, f, sizeof f);
            if (got < 16) break; /* cut short: the walk ends */
            w->format_tag = get16(f);
            w->channels = get16(f + 2);
            w->rate = get32(f + 4);
            w->bits = get16(f + 14);
            /* WAVE_FORMAT_EXTENSIBLE names the real format in its GUID's first two bytes. */
            w->sub_format = (size >= 26 && got >= 26) ? get16(f + 24) : 0;
        } else if (memcmp(ch, "data", 4) == 0) {
            w->have_data = 1;
            w->data_pos = body;
            w->data_len = size;
        }
        pos = body + size + (size & 1);
    }
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

static int32_t wav_parse(const WavSource *src, SampleBuf *out, uint32_t *out_rate) {
    WavHeader w;
    wav_walk(src, &w);
    if (!w.riff || !w.have_data) return -1;
    /* Rate 0 cannot be resampled or detected at, and the rest of the program
     * carries rates as signed 32-bit numbers. */
    if (w.rate == 0 || w.rate > 0x7FFFFFFFu) return -1;

    uint32_t bytes = w.bits / 8;
    SampleKind kind = kind_of(w.format_tag == 0xFFFE ? w.sub_format : w.format_tag, w.bits);
    if (bytes > 0) {
        uint64_t frames = w.data_len / bytes;
        if (w.channels) frames /= w.channels;
        sb_reserve(out, frames);
        if (w.channels == 0 || kind == KIND_NONE) {
            sb_append_silence(out, frames); /* nothing to decode: all 0.0 */
        } else if (frames) {
            decode_frames(src, w.data_pos, frames, w.channels, bytes, kind, out);
        }
    }
    if (out_rate) *out_rate = w.rate;
    return 0;
}

static WavSource mem_source(const uint8_t *data, uint64_t size) {
    static const uint8_t empty[1] = {0};
    WavSource src = {data ? data : empty, NULL, data ? size : 0};
    return src;
}

/* A seekable stream from its start; -1 when its size cannot be learnt. */
static int stream_source(FILE *f, WavSource *src) {
    if (!f) return -1;
#ifdef _WIN32
    long long end = _fseeki64(f, 0, SEEK_END) == 0 ? _ftelli64(f) : -1;
#else
    long end = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
#endif
    if (end < 0) return -1;
    src->mem = NULL;
    src->f = f;
    src->size = (uint64_t)end;
    return 0;
}

int32_t load_wav_mono_float_mem(const uint8_t *data, uint64_t size, SampleBuf *out,
                                uint32_t *out_rate) {
    if (!data && size) return -1;
    WavSource src = mem_source(data, size);
    return wav_parse(&src, out, out_rate);
}

int32_t load_wav_mono_float_stream(FILE *f, SampleBuf *out, uint32_t *out_rate) {
    WavSource src;
    if (stream_source(f, &src) != 0) return -1;
    return wav_parse(&src, out, out_rate);
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
    WavHeader w;
    WavSource src = mem_source(data, size);
    wav_walk(&src, &w);
    return wav_check(&w, info, why, why_size);
}

int32_t wav_read_info_stream(FILE *f, WavInfo *info, char *why, uint64_t why_size) {
    WavHeader w;
    WavSource src;
    if (stream_source(f, &src) != 0) {
        if (why && why_size) snprintf(why, (size_t)why_size, "cannot read the file");
        if (info) memset(info, 0, sizeof *info);
        return -1;
    }
    wav_walk(&src, &w);
    return wav_check(&w, info, why, why_size);
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

