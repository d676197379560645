/*
 * detect.cpp -- the tone detector and the digit stream.
 *
 * A bin magnitude is the single-bin DFT |sum x[i] e^(i 2 pi k i / N)| / (N/2)
 * of the integer bin k nearest the frequency. Instead of a sine and a cosine
 * per sample and bin, the phases come from one table of cos/sin(2 pi j / N)
 * indexed by k i mod N (the same values, exactly periodic), and all bins of
 * a frame are accumulated together, one SSE2 lane pair {re, im} per bin.
 *
 * An even frame is summed as two halves: X = A + e^(i pi k) B = A + (-1)^k B.
 * The file decoder's frames overlap by half, so each half is summed once and
 * serves two frames; detect_digit_in_frame sums its halves the same way, so
 * both give bit-identical results.
 */
#include "core/dtmf_core.h"
#include "core/core_internal.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

static const float RMS_FLOOR = 1e-9f;      /* below this the frame is digital silence: meters 0 */
static const float MIN_FRAME_RMS = 0.004f; /* about -48 dBFS: quieter frames are only noise */
static const double REPEATER_CARRIER_HZ = 1800.0; /* the disguise moves f to 1800 +/- f */
static const float SIDEBAND_GAIN =
    1.4142135f; /* each sideband has half the amplitude, RMS 1/sqrt 2 */

static const int MAX_BINS = 12;
static const uint64_t BLOCK = 64; /* phase rows built per step: 12 KiB on the stack */

/* The bins one frame examines: plain mode rows 0-2 then columns 3-5;
 * repeater mode the upper and lower sideband of each, rows 0-5, cols 6-11. */
struct BinPlan {
    int nbins;
    int repeater;
    uint64_t n;              /* frame length */
    uint64_t kmod[MAX_BINS]; /* k mod n */
    int odd[MAX_BINS];       /* k odd: the second half enters negated */
};

struct Sums {
    double acc[2 * MAX_BINS]; /* re, im per bin */
    double sq;
};

/* cos and sin of 2 pi j / n, interleaved. The 2048 table is built once and
 * never changes; other lengths get a table of their own per call. */
struct TrigTable {
    double v[2 * 2048];
};

static TrigTable make_trig_2048() {
    TrigTable t;
    for (int j = 0; j < 2048; j++) {
        double ph = CORE_TWO_PI * (double)j / 2048.0;
        t.v[2 * j] = cos(ph);
        t.v[2 * j + 1] = sin(ph);
    }
    return t;
}

static double *trig_table(uint64_t n, int *owned) {
    static const TrigTable t2048 = make_trig_2048();
    *owned = 0;
    if (n == 2048) return (double *)t2048.v;
    double *t = (double *)malloc((size_t)n * 2 * sizeof(double));
    if (!t) core_out_of_memory();
    for (uint64_t j = 0; j < n; j++) {
        double ph = CORE_TWO_PI * (double)j / (double)n;
        t[2 * j] = cos(ph);
        t[2 * j + 1] = sin(ph);
    }
    *owned = 1;
    return t;
}

static int32_t bin_index(int32_t freq, uint64_t n, int32_t rate) {
    double k = (double)freq * (double)n / (double)rate + 0.5;
    if (k >= 2147483647.0) return 2147483647;
    if (k <= -2147483648.0) return -2147483647 - 1;
    return (int32_t)k;
}

static void plan_add(BinPlan *p, int32_t freq, int32_t rate) {
    int64_t k = bin_index(freq, p->n, rate);
    int64_t m = k % (int64_t)p->n;
    if (m < 0) m += (int64_t)p->n;
    p->kmod[p->nbins] = (uint64_t)m;
    p->odd[p->nbins] = (int)(k & 1);
    p->nbins++;
}

static void plan_detector(BinPlan *p, uint64_t n, int32_t rate, int repeater) {
    p->nbins = 0;
    p->repeater = repeater;
    p->n = n;
    const int32_t *groups[2] = {ROW_FREQS, COL_FREQS};
    for (int g = 0; g < 2; g++)
        for (int i = 0; i < 3; i++) {
            int32_t f = groups[g][i];
            if (repeater) {
                plan_add(p, (int32_t)(REPEATER_CARRIER_HZ + f), rate);
                plan_add(p, (int32_t)(REPEATER_CARRIER_HZ - f), rate);
            } else {
                plan_add(p, f, rate);
            }
        }
}

/* Phase table rows for samples first .. first+count-1 of a frame:
 * tab[(i * nbins + b) * 2 + {0, 1}] = cos, sin of 2 pi k_b (first+i) / n. */
static void fill_phases(const BinPlan *p, const double *trig, uint64_t first, uint64_t count,
                        double *tab) {
    for (int b = 0; b < p->nbins; b++) {
        uint64_t j = (uint64_t)(((unsigned __int128)p->kmod[b] * first) % p->n);
        double *t = tab + 2 * b;
        for (uint64_t i = 0; i < count; i++) {
            t[0] = trig[2 * j];
            t[1] = trig[2 * j + 1];
            t += 2 * p->nbins;
            j += p->kmod[b];
            if (j >= p->n) j -= p->n;
        }
    }
}

/* Adds count samples into the running sums, in sample order per bin. */
template <int NB>
static void accumulate_nb(const float *x, uint64_t count, const double *tab, Sums *s) {
    double sq = s->sq;
#if defined(__SSE2__)
    __m128d a[NB];
    for (int b = 0; b < NB; b++) a[b] = _mm_loadu_pd(s->acc + 2 * b);
    for (uint64_t i = 0; i < count; i++) {
        double xd = (double)x[i];
        sq += xd * xd;
        const __m128d xv = _mm_set1_pd(xd);
        const double *t = tab + i * 2 * NB;
        for (int b = 0; b < NB; b++)
            a[b] = _mm_add_pd(a[b], _mm_mul_pd(xv, _mm_loadu_pd(t + 2 * b)));
    }
    for (int b = 0; b < NB; b++) _mm_storeu_pd(s->acc + 2 * b, a[b]);
#else
    double a[2 * NB];
    memcpy(a, s->acc, sizeof a);
    for (uint64_t i = 0; i < count; i++) {
        double xd = (double)x[i];
        sq += xd * xd;
        const double *t = tab + i * 2 * NB;
        for (int b = 0; b < 2 * NB; b++) a[b] += xd * t[b];
    }
    memcpy(s->acc, a, sizeof a);
#endif
    s->sq = sq;
}

static void accumulate(const float *x, uint64_t count, const double *tab, int nbins, Sums *s) {
    switch (nbins) {
    case 1: accumulate_nb<1>(x, count, tab, s); break;
    case 6: accumulate_nb<6>(x, count, tab, s); break;
    default: accumulate_nb<12>(x, count, tab, s); break;
    }
}

/* Sums of one stretch of a frame (samples first.. of the frame, starting
 * at x), its phase table filled a block at a time on the stack. */
static void sum_stretch(const BinPlan *p, const double *trig, const float *x, uint64_t first,
                        uint64_t count, Sums *s) {
    double tab[64 * 2 * 12];
    memset(s, 0, sizeof *s);
    for (uint64_t i = 0; i < count; i += BLOCK) {
        uint64_t m = count - i < BLOCK ? count - i : BLOCK;
        fill_phases(p, trig, first + i, m, tab);
        accumulate(x + i, m, tab, p->nbins, s);
    }
}

/* Bin magnitudes and sum of squares of a frame from its halves (b may be
 * null for a frame summed in one piece). */
static double frame_mags(const BinPlan *p, const Sums *a, const Sums *b, float *mags) {
    const double norm = (double)p->n * 0.5;
    for (int i = 0; i < p->nbins; i++) {
        double re = a->acc[2 * i], im = a->acc[2 * i + 1];
        if (b) {
            double sign = p->odd[i] ? -1.0 : 1.0;
            re += sign * b->acc[2 * i];
            im += sign * b->acc[2 * i + 1];
        }
        mags[i] = (float)(sqrt(re * re + im * im) / norm);
    }
    return b ? a->sq + b->sq : a->sq;
}

static int32_t decide(const BinPlan *p, const float *mags, double sumsq, float threshold,
                      float *row_level, float *col_level) {
    float level = (float)sqrt(sumsq / (double)p->n);
    float best[2] = {0.0f, 0.0f};
    int32_t best_f[2] = {-1, -1};
    const int32_t *groups[2] = {ROW_FREQS, COL_FREQS};
    const int per = p->repeater ? 2 : 1;
    for (int g = 0; g < 2; g++)
        for (int i = 0; i < 3; i++) {
            const float *m = mags + (g * 3 + i) * per;
            float v = per == 2 && m[1] > m[0] ? m[1] : m[0];
            if (v > best[g]) { /* a tie keeps the lower frequency */
                best[g] = v;
                best_f[g] = groups[g][i];
            }
        }

    if (!(level > RMS_FLOOR)) {
        if (row_level) *row_level = 0.0f;
        if (col_level) *col_level = 0.0f;
        return -1;
    }
    float rl = best[0] / level, cl = best[1] / level;
    if (p->repeater) {
        rl *= SIDEBAND_GAIN;
        cl *= SIDEBAND_GAIN;
    }
    if (row_level) *row_level = rl;
    if (col_level) *col_level = cl;
    if (level < MIN_FRAME_RMS || rl < threshold || cl < threshold) return -1;
    return dtmf_pair_to_digit(best_f[0], best_f[1]);
}

/* Live capture always delivers 2048 samples at 44,100 Hz: the phase rows of
 * a half-frame for both modes are made once (288 KiB) and then only read. */
struct LivePhases {
    BinPlan plan[2];
    double tab[2][1024 * 2 * MAX_BINS];
    LivePhases() {
        int owned;
        const double *trig = trig_table(2048, &owned);
        for (int rep = 0; rep < 2; rep++) {
            plan_detector(&plan[rep], 2048, DTMF_SAMPLE_RATE, rep);
            fill_phases(&plan[rep], trig, 0, 1024, tab[rep]);
        }
    }
};

static const LivePhases &live_phases() {
    static const LivePhases live;
    return live;
}

static int32_t detect_frame(const float *s, uint64_t count, int32_t rate, float threshold,
                            int repeater, float *row_level, float *col_level) {
    if (!s || count == 0 || rate <= 0) {
        if (row_level) *row_level = 0.0f;
        if (col_level) *col_level = 0.0f;
        return -1;
    }
    float mags[MAX_BINS];
    double sumsq;
    if (count == 2048 && rate == DTMF_SAMPLE_RATE) {
        const LivePhases &live = live_phases();
        const BinPlan *p = &live.plan[repeater];
        Sums a, b;
        memset(&a, 0, sizeof a);
        memset(&b, 0, sizeof b);
        accumulate(s, 1024, live.tab[repeater], p->nbins, &a);
        accumulate(s + 1024, 1024, live.tab[repeater], p->nbins, &b);
        sumsq = frame_mags(p, &a, &b, mags);
        return decide(p, mags, sumsq, threshold, row_level, col_level);
    }
    BinPlan p;
    plan_detector(&p, count, rate, repeater);
    int owned;
    double *trig = trig_table(count, &owned);
    if (count % 2 == 0) {
        Sums a, b;
        sum_stretch(&p, trig, s, 0, count / 2, &a);
        sum_stretch(&p, trig, s + count / 2, 0, count / 2, &b);
        sumsq = frame_mags(&p, &a, &b, mags);
    } else {
        Sums a;
        sum_stretch(&p, trig, s, 0, count, &a);
        sumsq = frame_mags(&p, &a, NULL, mags);
    }
    if (owned) free(trig);
    return decide(&p, mags, sumsq, threshold, row_level, col_level);
}

int32_t detect_digit_in_frame(const float *s, uint64_t count, int32_t rate, float threshold,
                              float *row_level, float *col_level) {
    return detect_frame(s, count, rate, threshold, 0, row_level, col_level);
}

int32_t detect_digit_in_frame_repeater(const float *s, uint64_t count, int32_t rate,
                                       float threshold, float *row_level, float *col_level) {
    return detect_frame(s, count, rate, threshold, 1, row_level, col_level);
}

float goertzel_mag(const float *s, uint64_t count, int32_t rate, int32_t freq) {
    if (count == 0) return (float)NAN;
    if (rate <= 0) return 0.0f;
    BinPlan p;
    p.nbins = 0;
    p.repeater = 0;
    p.n = count;
    plan_add(&p, freq, rate);
    int owned;
    double *trig = trig_table(count, &owned);
    Sums a;
    sum_stretch(&p, trig, s, 0, count, &a);
    if (owned) free(trig);
    float mag;
    frame_mags(&p, &a, NULL, &mag);
    return mag;
}

float goertzel_mag_direct(const float *s, uint64_t count, int32_t rate, int32_t freq) {
    const double n = (double)count;
    const int32_t k = bin_index(freq, count, rate);
    double re = 0.0, im = 0.0;
    for (uint64_t i = 0; i < count; i++) {
        double ph = (double)i * ((double)k * CORE_TWO_PI) / n;
        re += (double)s[i] * cos(ph);
        im += (double)s[i] * sin(ph);
    }
    return (float)(sqrt(re * re + im * im) / (n * 0.5));
}

/* ---- Digit stream ----------------------------------------------------- */

void digit_stream_reset(DigitStream *ds) {
    ds->last_digit = -1;
    ds->run_frames = 0;
    ds->emitted = 0;
}

int32_t digit_stream_feed(DigitStream *ds, int32_t detection) {
    if (detection < 0) {
        digit_stream_reset(ds);
        return -1;
    }
    if (detection != ds->last_digit) {
        ds->last_digit = detection;
        ds->run_frames = 1;
        ds->emitted = 0;
        return -1;
    }
    if (ds->emitted) return -1;
    ds->run_frames++;
    if (ds->run_frames == 2) {
        ds->emitted = 1;
        return detection;
    }
    return -1;
}

/* ---- Whole-buffer decoding -------------------------------------------- */

uint64_t detect_frames(const float *s, uint64_t count, int32_t rate, uint64_t frame_len,
                       uint64_t hop, float threshold, int32_t repeater, DigitStream *ds,
                       FrameVisitor visit, void *ctx) {
    DigitStream own;
    if (!ds) {
        digit_stream_reset(&own);
        ds = &own;
    }
    if (!s || frame_len == 0 || hop == 0 || count < frame_len) return 0;
    const uint64_t frames = (count - frame_len) / hop + 1;
    const int rep = repeater != 0;

    /* Frames that do not overlap by exactly half gain nothing from sharing;
     * huge ones would need a phase table many times the recording's size. */
    if (frame_len % 2 != 0 || hop * 2 != frame_len || hop > 65536 || rate <= 0) {
        for (uint64_t f = 0; f < frames; f++) {
            float rl, cl;
            int32_t det = detect_frame(s + f * hop, frame_len, rate, threshold, rep, &rl, &cl);
            int32_t digit = digit_stream_feed(ds, det);
            if (visit && visit(ctx, f * hop, det, digit, rl, cl)) return f + 1;
        }
        return frames;
    }

    BinPlan p;
    plan_detector(&p, frame_len, rate, rep);
    int owned;
    double *trig = trig_table(frame_len, &owned);
    double *tab = (double *)malloc((size_t)hop * 2 * p.nbins * sizeof(double));
    if (!tab) core_out_of_memory();
    fill_phases(&p, trig, 0, hop, tab);
    if (owned) free(trig);

    Sums halves[2];
    memset(&halves[0], 0, sizeof halves[0]);
    accumulate(s, hop, tab, p.nbins, &halves[0]);
    uint64_t f = 0;
    for (; f < frames; f++) {
        Sums *a = &halves[f & 1], *b = &halves[(f + 1) & 1];
        memset(b, 0, sizeof *b);
        accumulate(s + (f + 1) * hop, hop, tab, p.nbins, b);
        float mags[MAX_BINS], rl, cl;
        double sumsq = frame_mags(&p, a, b, mags);
        int32_t det = decide(&p, mags, sumsq, threshold, &rl, &cl);
        int32_t digit = digit_stream_feed(ds, det);
        if (visit && visit(ctx, f * hop, det, digit, rl, cl)) {
            f++;
            break;
        }
    }
    free(tab);
    return f;
}
