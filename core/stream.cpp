/*
 * stream.cpp -- decoding a recording as it arrives.
 *
 * A pipe from a radio never ends and a recording of hours must not be held
 * as floats, so the decoder keeps only what the next frame still needs.
 * Frames start at the same samples as in a whole recording and the digit
 * stream and pacer carry over, so blocks change nothing in what is found.
 */
#include "core/core_internal.h"

#include <string.h>

void resampler_init(Resampler *r, int32_t from_rate, int32_t to_rate) {
    memset(r, 0, sizeof *r);
    r->from = from_rate > 0 ? (uint64_t)from_rate : 0;
    r->to = to_rate > 0 ? (uint64_t)to_rate : 0;
}

/* The input position of output sample i: whole part and fraction. */
static inline uint64_t step_pos(const Resampler *r, uint64_t i, double *t) {
    unsigned __int128 p = (unsigned __int128)i * r->from;
    *t = (double)(uint64_t)(p % r->to) / (double)r->to;
    return (uint64_t)(p / r->to);
}

void resampler_feed(Resampler *r, const float *x, uint64_t n, SampleBuf *out) {
    if (n == 0 || r->from == 0 || r->to == 0) return;
    if (r->from == r->to) {
        sb_append(out, x, n);
        r->in_count += n;
        r->out_count += n;
        r->last = x[n - 1];
        return;
    }
    const uint64_t first = r->in_count, end = r->in_count + n;
    /* At most this many positions fall in the block (and one before it). */
    sb_reserve(out, (uint64_t)((double)n * (double)r->to / (double)r->from) + 2);
    float *dst = out->data + out->len, *lim = out->data + out->cap;
    for (; dst < lim; dst++) {
        double t;
        uint64_t k = step_pos(r, r->out_count, &t);
        if (k + 1 >= end) break;
        /* Earlier samples settled every position before this block's first
         * but one, so x[k] is either that one (kept) or in the block. */
        double a = k < first ? (double)r->last : (double)x[k - first];
        double b = (double)x[k + 1 - first];
        *dst = (float)(a * (1.0 - t) + b * t);
        r->out_count++;
    }
    out->len = (uint64_t)(dst - out->data);
    r->in_count = end;
    r->last = x[n - 1];
}

void resampler_finish(Resampler *r, SampleBuf *out) {
    if (r->in_count == 0 || r->from == 0 || r->to == 0 || r->from == r->to) return;
    /* Positions from the last sample on until the step passes the input's end. */
    for (;;) {
        unsigned __int128 p = (unsigned __int128)r->out_count * r->from;
        if (p >= (unsigned __int128)r->in_count * r->to) break;
        sb_append(out, &r->last, 1);
        r->out_count++;
    }
}

/* The first and last output samples are the input's first and last, so a
 * clip keeps its ends; the decoder's stream form steps at from/to instead,
 * which any split into blocks can repeat. */
void resample_linear(const SampleBuf *in, int32_t from_rate, int32_t to_rate, SampleBuf *out) {
    const uint64_t n = in->len;
    if (from_rate == to_rate) {
        sb_append_buf(out, in);
        return;
    }
    if (n == 0 || from_rate <= 0 || to_rate <= 0) return;
    const uint64_t m_round = (uint64_t)((double)n / from_rate * to_rate + 0.5);
    const uint64_t m = m_round ? m_round : 1;
    sb_reserve(out, m);
    float *dst = out->data + out->len;
    for (uint64_t i = 0; i < m; i++) {
        if (n == 1) {
            dst[i] = in->data[0];
            continue;
        }
        double p = (double)(n - 1) * (double)i;
        if (m_round > 1) p /= (double)(m_round - 1);
        uint64_t k = (uint64_t)p;
        if (k >= n) k = n - 1;
        const double t = p - (double)k;
        const uint64_t k1 = k + 1 < n ? k + 1 : k;
        dst[i] = (float)((double)in->data[k] * (1.0 - t) + (double)in->data[k1] * t);
    }
    out->len += m;
}

/* ---- The decoder -------------------------------------------------------- */

static int32_t stream_visit(void *ctx, uint64_t start, int32_t detection, int32_t digit,
                            float row_level, float col_level) {
    DecodeStream *d = (DecodeStream *)ctx;
    uint64_t at = d->base + start;
    int32_t stop =
        d->on_frame ? d->on_frame(d->ctx, at, detection, digit, row_level, col_level) : 0;
    /* a pipe may never bring a third digit: a held second comes out in time */
    int32_t out[DIGIT_PACER_OUT];
    int32_t n = digit >= 0 ? digit_pacer_feed(&d->pacer, digit, at, out)
                           : digit_pacer_tick(&d->pacer, at, out);
    for (int32_t i = 0; i < n; i++)
        if (d->on_digit) d->on_digit(d->ctx, out[i]);
    return stop;
}

/* Every frame that fits, then only what the next frame needs is kept, and
 * a frame's length before it, where a short tone may be looked for again. */
static void stream_frames(DecodeStream *d) {
    SampleBuf *p = &d->pending;
    if (d->stopped || p->len < d->kept + DECODE_FRAME_LEN) return;
    uint64_t frames = (p->len - d->kept - DECODE_FRAME_LEN) / d->set.hop + 1;
    uint64_t seen = detect_frames_from(p->data, p->len, d->kept, d->rate, DECODE_FRAME_LEN,
                                       d->set.hop, d->set.threshold, d->set.repeater, &d->digits,
                                       stream_visit, d, d->set.keys);
    if (seen < frames) d->stopped = 1;
    uint64_t next = d->kept + seen * d->set.hop;
    uint64_t drop = next > DECODE_FRAME_LEN ? next - DECODE_FRAME_LEN : 0;
    memmove(p->data, p->data + drop, (size_t)((p->len - drop) * sizeof(float)));
    p->len -= drop;
    d->base += drop;
    d->kept = next - drop;
}

void decode_stream_init(DecodeStream *d, const DecodeSettings *set, int32_t in_rate,
                        FrameVisitor on_frame, DigitFn on_digit, void *ctx) {
    memset(d, 0, sizeof *d);
    d->set = *set;
    if (d->set.hop < 1) d->set.hop = 1;
    if (d->set.hop > DECODE_FRAME_LEN) d->set.hop = DECODE_FRAME_LEN;
    d->resampling = set->resample && in_rate != DTMF_SAMPLE_RATE;
    d->rate = d->resampling ? DTMF_SAMPLE_RATE : in_rate;
    resampler_init(&d->rs, in_rate, DTMF_SAMPLE_RATE);
    digit_stream_reset(&d->digits);
    digit_pacer_reset(&d->pacer, d->rate);
    d->pacer.lost = rx_lost_marker(d->set.keys);
    d->on_frame = on_frame;
    d->on_digit = on_digit;
    d->ctx = ctx;
}

/* A long block is walked where it lies: pending takes only its first
 * three frames' length, for the frames that start less than two frames
 * into the block (they, and the looks back from them, need samples from
 * before it), and then its tail. Each frame sees what it would see in one
 * buffer holding it all. */
static void stream_block(DecodeStream *d, const float *x, uint64_t n) {
    SampleBuf *p = &d->pending;
    const uint64_t head = 3 * (uint64_t)DECODE_FRAME_LEN;
    const uint64_t start = d->base + p->len; /* x[0]'s index */
    sb_append(p, x, n < head ? n : head);
    stream_frames(d);
    if (n <= head || d->stopped) return;
    /* pending's frames end where the next starts over a frame into x */
    const uint64_t first = d->base + d->kept - start;
    const uint64_t frames =
        n >= first + DECODE_FRAME_LEN ? (n - first - DECODE_FRAME_LEN) / d->set.hop + 1 : 0;
    d->base = start;
    const uint64_t seen =
        frames ? detect_frames_from(x, n, first, d->rate, DECODE_FRAME_LEN, d->set.hop,
                                    d->set.threshold, d->set.repeater, &d->digits, stream_visit,
                                    d, d->set.keys)
               : 0;
    if (seen < frames) d->stopped = 1;
    const uint64_t next = first + seen * d->set.hop;
    const uint64_t from = next - DECODE_FRAME_LEN;
    p->len = 0;
    sb_append(p, x + from, n - from);
    d->base = start + from;
    d->kept = DECODE_FRAME_LEN;
}

void decode_stream_feed(DecodeStream *d, const float *x, uint64_t n) {
    if (d->stopped || n == 0) return;
    if (d->resampling) {
        d->scratch.len = 0;
        resampler_feed(&d->rs, x, n, &d->scratch);
        stream_block(d, d->scratch.data, d->scratch.len);
    } else {
        stream_block(d, x, n);
    }
}

void decode_stream_finish(DecodeStream *d) {
    if (d->stopped) return;
    if (d->resampling) {
        d->scratch.len = 0;
        resampler_finish(&d->rs, &d->scratch);
        sb_append_buf(&d->pending, &d->scratch);
    }
    stream_frames(d);
    if (d->stopped) return;
    int32_t out[DIGIT_PACER_OUT]; /* a digit the pacer still held */
    int32_t n = digit_pacer_flush(&d->pacer, out);
    for (int32_t i = 0; i < n; i++)
        if (d->on_digit) d->on_digit(d->ctx, out[i]);
}

void decode_stream_free(DecodeStream *d) {
    sb_free(&d->pending);
    sb_free(&d->scratch);
}

uint64_t decode_stream_samples(const DecodeStream *d) { return d->base + d->pending.len; }
