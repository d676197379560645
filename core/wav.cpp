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

int16_t sample_to_pcm16(float v)
{
    if (v > 1.0f) return 32767;
    if (!(v >= -1.0f)) {
        if (v != v) return 0; /* NaN has no sound; casting it would be undefined */
        v = -1.0f;
    }
    return (int16_t)(v * 32767.0f);
}

static void put16(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

static void put32(uint8_t *p, uint32_t v)
{
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

int32_t save_wav(const char *path, const SampleBuf *b)
{
    uint64_t n = b ? b->len : 0;
    /* Larger buffers would need sizes the 32-bit fields cannot hold; refuse
     * rather than write a header that lies. */
    if (n > CORE_WAV_MAX_SAMPLES || !path) return -1;
    FILE *f = fopen(path, "wb");
    if (!f) return -1;

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
    int ok = fwrite(h, 1, sizeof h, f) == sizeof h;

    uint8_t chunk[16384];
    for (uint64_t i = 0; i < n && ok; i += sizeof chunk / 2) {
        uint64_t m = n - i < sizeof chunk / 2 ? n - i : sizeof chunk / 2;
        for (uint64_t j = 0; j < m; j++) put16(chunk + 2 * j, (uint16_t)sample_to_pcm16(b->data[i + j]));
        ok = fwrite(chunk, 1, (size_t)(2 * m), f) == 2 * m;
    }
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

static int seek_to(FILE *f, uint64_t pos)
{
#ifdef _WIN32
    return _fseeki64(f, (long long)pos, SEEK_SET);
#else
    return fseek(f, (long)pos, SEEK_SET);
#endif
}

/* Reads up to n bytes at pos; returns how many it got. */
static uint64_t src_read(const WavSource *src, uint64_t pos, void *buf, uint64_t n)
{
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

static float decode_one(const uint8_t *p, uint32_t bits)
{
    switch (bits) {
    case 8: return (float)((int32_t)p[0] - 128) * (1.0f / 128.0f);
    case 16: return (float)(int16_t)get16(p) * (1.0f / 32768.0f);
    case 32: return (float)(int32_t)get32(p) * (1.0f / 2147483648.0f);
    default: return 0.0f;
    }
}

/* Decodes `frames` frames of the data chunk at pos into out (already
 * reserved). Stops early, keeping what it has, if the source runs dry. */
static void decode_frames(const WavSource *src, uint64_t pos, uint64_t frames, uint32_t channels,
                          uint32_t bytes, uint32_t bits, SampleBuf *out)
{
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
                dst[i] = decode_one(p, bits);
            } else {
                float sum = 0.0f;
                for (uint32_t c = 0; c < channels; c++) sum += decode_one(p + (uint64_t)c * bytes, bits);
                dst[i] = sum / (float)channels;
            }
        }
        out->len += got;
        f += got;
        if (got < want) break;
    }
    free(buf);
}

static int32_t wav_parse(const WavSource *src, SampleBuf *out, uint32_t *out_rate)
{
    uint8_t h[12];
    if (src_read(src, 0, h, 12) != 12 || memcmp(h, "RIFF", 4) != 0 || memcmp(h + 8, "WAVE", 4) != 0)
        return -1;

    uint32_t channels = 1, rate = DTMF_SAMPLE_RATE, bits = 16;
    int have_data = 0;
    uint64_t data_pos = 0, data_len = 0;
    for (uint64_t pos = 12;;) {
        uint8_t ch[8];
        if (src_read(src, pos, ch, 8) != 8) break;
        uint64_t body = pos + 8;
        uint64_t size = get32(ch + 4);
        if (size > src->size - body) size = src->size - body;
        if (memcmp(ch, "fmt ", 4) == 0) {
            uint8_t f[16];
            if (src_read(src, body, f, 16) != 16) break; /* cut short: the walk ends */
            channels = get16(f + 2);
            rate = get32(f + 4);
            bits = get16(f + 14);
        } else if (memcmp(ch, "data", 4) == 0) {
            have_data = 1;
            data_pos = body;
            data_len = size;
        }
        pos = body + size + (size & 1);
    }

    if (!have_data) return -1;
    /* Rate 0 cannot be resampled or detected at, and the rest of the program
     * carries rates as signed 32-bit numbers. */
    if (rate == 0 || rate > 0x7FFFFFFFu) return -1;

    uint32_t bytes = bits / 8;
    if (bytes > 0) {
        uint64_t frames = data_len / bytes;
        if (channels) frames /= channels;
        sb_reserve(out, frames);
        if (channels == 0 || (bits != 8 && bits != 16 && bits != 32)) {
            sb_append_silence(out, frames); /* nothing to decode: all 0.0 */
        } else if (frames) {
            decode_frames(src, data_pos, frames, channels, bytes, bits, out);
        }
    }
    if (out_rate) *out_rate = rate;
    return 0;
}

int32_t load_wav_mono_float_mem(const uint8_t *data, uint64_t size, SampleBuf *out,
                                uint32_t *out_rate)
{
    if (!data && size) return -1;
    static const uint8_t empty[1] = {0};
    WavSource src = {data ? data : empty, NULL, size};
    return wav_parse(&src, out, out_rate);
}

int32_t load_wav_mono_float(const char *path, SampleBuf *out, uint32_t *out_rate)
{
    FILE *f = path ? fopen(path, "rb") : NULL;
    if (!f) return -1;
    int32_t rc = -1;
#ifdef _WIN32
    long long end = _fseeki64(f, 0, SEEK_END) == 0 ? _ftelli64(f) : -1;
#else
    long end = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
#endif
    if (end >= 0) {
        WavSource src = {NULL, f, (uint64_t)end};
        rc = wav_parse(&src, out, out_rate);
    }
    fclose(f);
    return rc;
}

/* ---- Resampling ------------------------------------------------------- */

void resample_linear(const SampleBuf *in, int32_t from_rate, int32_t to_rate, SampleBuf *out)
{
    uint64_t n = in->len;
    if (from_rate == to_rate) {
        sb_append_buf(out, in);
        return;
    }
    if (n == 0 || from_rate <= 0 || to_rate <= 0) return;

    double m = (double)n / (double)from_rate * (double)to_rate + 0.5;
    if (m >= 1.8e19) core_out_of_memory();
    uint64_t mp = (uint64_t)m;
    uint64_t count = mp ? mp : 1;
    sb_reserve(out, count);
    const float *x = in->data;
    float *dst = out->data + out->len;
    for (uint64_t i = 0; i < count; i++) {
        if (n == 1) {
            dst[i] = x[0];
            continue;
        }
        double p = (double)(n - 1) * (double)i;
        if (mp > 1) p /= (double)(mp - 1);
        uint64_t k = (uint64_t)p;
        if (k > n - 1) k = n - 1;
        double t = p - (double)k;
        uint64_t k1 = k + 1 < n ? k + 1 : k;
        dst[i] = (float)((double)x[k] * (1.0 - t) + (double)x[k1] * t);
    }
    out->len += count;
}
