/*
 * detect.cpp -- the tone detector and the digit stream.
 *
 * A bin magnitude is the single-bin DFT |sum x[i] e^(i 2 pi k i / N)| / (N/2)
 * of the integer bin k nearest the frequency. Instead of a sine and a cosine
 * per sample and bin, the phases come from one table of cos/sin(2 pi j / N)
 * indexed by k i mod N (the same values, exactly periodic), and all bins of
 * a frame are accumulated together, one SSE2 lane pair {re, im} per bin
 * (where the processor has AVX2, two halves at once, four lanes a vector).
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
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define CORE_AVX2 1
#endif

static const float RMS_FLOOR = 1e-9f;      /* below this the frame is digital silence: meters 0 */
static const float MIN_FRAME_RMS = 0.004f; /* about -48 dBFS: quieter frames are only noise */
static const float SIDEBAND_GAIN =
    1.4142135f; /* each sideband has half the amplitude, RMS 1/sqrt 2 */

/* Speech and music guards: each only vetoes a detection. */
static const double MIN_HALF_BALANCE =
    0.5; /* a steady tone fills both halves; onsets and syllables do not */
static const float MAX_RUNNER_UP =
    0.6f; /* one tone per group: voices and chords light up neighbours too */
static const float HALF_DRIFT = 0.4f; /* a tone's level may differ this much between halves ... */
static const float HALF_DRIFT_NOISE =
    0.15f; /* ... plus this much per unit of non-tone level (noise) */

/* Off-tune tones (a transmitter's clock up to 1.5 %, 22 Hz at 1477 Hz) are
 * also looked for this far from each tone. 11 Hz steps leave no tone more
 * than half a bin from one; each is more than half a bin (10.8 Hz) from the
 * tone, so an on-tune tone still measures largest at its nominal bin. */
static const double OFFTUNE_HZ[4] = {-22.0, -11.0, 11.0, 22.0};
static const int N_OFFTUNE = 4;

/* A lone tone stands clear of the spectrum around it; a voice's harmonics
 * or a chord's notes are as loud as their neighbours. */
static const double NEIGHBOUR_HZ = 200.0; /* a voice's pitch: harmonics this close */
static const float MAX_NEIGHBOUR =
    0.8f; /* a tone's own sidelobes stay under 0.33; voices mostly above 0.8 */
static const double NOISE_BINS =
    6.25; /* power over a noise bin's mean: 32 neighbours of white noise pass 94 % */
static const float CLEAN_SHARE =
    0.4f; /* two tones holding this share of the power leave no room for a voice */

/* One transmitter moves both tones alike: by the same Hz (a receiver tuned
 * off) or by the same fraction (a clock off), and not by more than the
 * off-tune search reaches. A voice's or a chord's partials near the two
 * tones are off each in its own way. Each tone's phase turn from one half
 * of the frame to the other tells where it is. */
static const double AGREE_HZ = 3.0; /* the two may disagree this much in a clean frame ... */
static const double AGREE_SIGMAS =
    4.0; /* ... plus this many standard errors from the power that is not the tones */
static const double MAX_SHIFT_HZ = 22.0;
static const double MAX_CLOCK = 0.02;
/* ... and holds them there: from one of a digit's frames to the next,
 * neither tone nor the distance between them may move more than this (the
 * other tone's leakage alone moves a clean one by up to a Hz), which two
 * sweeps crossing a row and a column at once do not keep to. */
static const double DRIFT_HZ = 2.0;
static const double DRIFT_SIGMAS = 4.0;
static const double MIN_FILL = 0.5; /* of a half, for a frame to tell how a tone was tuned */
/* A tone more than a bin from a bin shows there at most 0.22 of itself:
 * under 0.3 of the frame's level even beside a tone 9 dB weaker. */
static const float SKIRT_LEVEL = 0.45f;

static const int MAX_TONES = 4; /* per group: the whole keypad's */
static const int MAX_BINS = 4 * MAX_TONES;
static const int MAX_EXTRA = MAX_BINS * N_OFFTUNE;
static const uint64_t BLOCK = 64; /* phase rows built per step: 16 KiB on the stack */

/* The bins one frame examines: plain mode the rows then the columns (0-2,
 * 3-5 for digits 0-6; 0-3, 4-7 for the whole keypad); repeater mode the
 * upper and lower sideband of each in that order. */
struct BinPlan {
    int nbins;
    int repeater;
    int keys;
    int ntones;              /* per group */
    const int32_t *freqs[2]; /* the rows' and the columns' */
    uint64_t n;                /* frame length */
    uint64_t kmod[MAX_BINS];   /* k mod n */
    int odd[MAX_BINS];         /* k odd: the second half enters negated */
    double hz[MAX_BINS];       /* the bin's centre */
    double turn[2 * MAX_BINS]; /* cos, sin of the phase turn between halves of a tone on freq */
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
    p->hz[p->nbins] = (double)k * (double)rate / (double)p->n;
    const double turn = CORE_TWO_PI * 0.5 * ((double)k - (double)freq * (double)p->n / rate);
    p->turn[2 * p->nbins] = cos(turn);
    p->turn[2 * p->nbins + 1] = sin(turn);
    p->nbins++;
}

/* The tones of a plan, per group. */
static int plan_tones(int keys, const int32_t **rows, const int32_t **cols) {
    *rows = keys ? KEY_ROW_FREQS : ROW_FREQS;
    *cols = keys ? KEY_COL_FREQS : COL_FREQS;
    return keys ? 4 : 3;
}

static void plan_detector(BinPlan *p, uint64_t n, int32_t rate, int repeater, int keys) {
    p->nbins = 0;
    p->repeater = repeater;
    p->keys = keys;
    p->ntones = plan_tones(keys, &p->freqs[0], &p->freqs[1]);
    p->n = n;
    for (int g = 0; g < 2; g++)
        for (int i = 0; i < p->ntones; i++) {
            int32_t f = p->freqs[g][i];
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
static void accumulate_nb(const float *x, uint64_t count, const double *tab, double *acc,
                          double *sqp) {
    double sq = *sqp;
#if defined(__SSE2__)
    __m128d a[NB];
    for (int b = 0; b < NB; b++) a[b] = _mm_loadu_pd(acc + 2 * b);
    for (uint64_t i = 0; i < count; i++) {
        double xd = (double)x[i];
        sq += xd * xd;
        const __m128d xv = _mm_set1_pd(xd);
        const double *t = tab + i * 2 * NB;
        for (int b = 0; b < NB; b++)
            a[b] = _mm_add_pd(a[b], _mm_mul_pd(xv, _mm_loadu_pd(t + 2 * b)));
    }
    for (int b = 0; b < NB; b++) _mm_storeu_pd(acc + 2 * b, a[b]);
#else
    double a[2 * NB];
    memcpy(a, acc, sizeof a);
    for (uint64_t i = 0; i < count; i++) {
        double xd = (double)x[i];
        sq += xd * xd;
        const double *t = tab + i * 2 * NB;
        for (int b = 0; b < 2 * NB; b++) a[b] += xd * t[b];
    }
    memcpy(acc, a, sizeof a);
#endif
    *sqp = sq;
}

static void accumulate(const float *x, uint64_t count, const double *tab, int nbins, Sums *s) {
    switch (nbins) {
    case 1: accumulate_nb<1>(x, count, tab, s->acc, &s->sq); break;
    case 6: accumulate_nb<6>(x, count, tab, s->acc, &s->sq); break;
    case 8: accumulate_nb<8>(x, count, tab, s->acc, &s->sq); break;
    case 12: accumulate_nb<12>(x, count, tab, s->acc, &s->sq); break;
    default: accumulate_nb<16>(x, count, tab, s->acc, &s->sq); break;
    }
}

/* Two halves at once, x and y, each into its own sums in the very order and
 * arithmetic of accumulate (a product, then a sum, per lane; no fused
 * multiply-add), so the results are bit for bit the same. Each half's sums
 * are a chain of additions; two independent halves keep the adders busy. */
#if CORE_AVX2
template <int NB>
__attribute__((target("avx2"))) static void accumulate_pair_nb(const float *x, const float *y,
                                                               uint64_t count, const double *tab,
                                                               Sums *sx, Sums *sy) {
    constexpr int NV = NB / 2; /* two bins, four doubles, a vector */
    __m256d a[NV], b[NV];
    for (int v = 0; v < NV; v++) {
        a[v] = _mm256_loadu_pd(sx->acc + 4 * v);
        b[v] = _mm256_loadu_pd(sy->acc + 4 * v);
    }
    double qx = sx->sq, qy = sy->sq;
    /* Four samples are widened and squared at once (both exact) and the
     * squares still added one by one; each sample is broadcast from memory,
     * which costs the arithmetic units nothing. */
    alignas(32) double xs[4], ys[4], xq[4], yq[4];
    uint64_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m256d x4 = _mm256_cvtps_pd(_mm_loadu_ps(x + i));
        const __m256d y4 = _mm256_cvtps_pd(_mm_loadu_ps(y + i));
        _mm256_store_pd(xs, x4);
        _mm256_store_pd(ys, y4);
        _mm256_store_pd(xq, _mm256_mul_pd(x4, x4));
        _mm256_store_pd(yq, _mm256_mul_pd(y4, y4));
        for (int k = 0; k < 4; k++) {
            qx += xq[k];
            qy += yq[k];
            const __m256d xv = _mm256_broadcast_sd(xs + k), yv = _mm256_broadcast_sd(ys + k);
            const double *t = tab + (i + k) * 2 * NB;
            for (int v = 0; v < NV; v++) {
                const __m256d tv = _mm256_loadu_pd(t + 4 * v);
                a[v] = _mm256_add_pd(a[v], _mm256_mul_pd(xv, tv));
                b[v] = _mm256_add_pd(b[v], _mm256_mul_pd(yv, tv));
            }
        }
    }
    for (; i < count; i++) {
        const double xd = (double)x[i], yd = (double)y[i];
        qx += xd * xd;
        qy += yd * yd;
        const __m256d xv = _mm256_set1_pd(xd), yv = _mm256_set1_pd(yd);
        const double *t = tab + i * 2 * NB;
        for (int v = 0; v < NV; v++) {
            const __m256d tv = _mm256_loadu_pd(t + 4 * v);
            a[v] = _mm256_add_pd(a[v], _mm256_mul_pd(xv, tv));
            b[v] = _mm256_add_pd(b[v], _mm256_mul_pd(yv, tv));
        }
    }
    for (int v = 0; v < NV; v++) {
        _mm256_storeu_pd(sx->acc + 4 * v, a[v]);
        _mm256_storeu_pd(sy->acc + 4 * v, b[v]);
    }
    sx->sq = qx;
    sy->sq = qy;
}
#endif

static void accumulate_pair(const float *x, const float *y, uint64_t count, const double *tab,
                            int nbins, Sums *sx, Sums *sy) {
#if CORE_AVX2
    static const int avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        switch (nbins) {
        case 6: accumulate_pair_nb<6>(x, y, count, tab, sx, sy); return;
        case 8: accumulate_pair_nb<8>(x, y, count, tab, sx, sy); return;
        case 12: accumulate_pair_nb<12>(x, y, count, tab, sx, sy); return;
        case 16: accumulate_pair_nb<16>(x, y, count, tab, sx, sy); return;
        }
    }
#endif
    accumulate(x, count, tab, nbins, sx);
    accumulate(y, count, tab, nbins, sy);
}

/* Sums of one stretch of a frame (samples first.. of the frame, starting
 * at x), its phase table filled a block at a time on the stack. */
static void sum_stretch(const BinPlan *p, const double *trig, const float *x, uint64_t first,
                        uint64_t count, Sums *s) {
    double tab[64 * 2 * MAX_BINS];
    memset(s, 0, sizeof *s);
    for (uint64_t i = 0; i < count; i += BLOCK) {
        uint64_t m = count - i < BLOCK ? count - i : BLOCK;
        fill_phases(p, trig, first + i, m, tab);
        accumulate(x + i, m, tab, p->nbins, s);
    }
}

/* Bin magnitudes and sum of squares of a frame from its halves (b may be
 * null for a frame summed in one piece). With halves, ha and hb get each
 * bin's magnitude over either half alone, on the same scale. */
static double frame_mags(const BinPlan *p, const Sums *a, const Sums *b, float *mags,
                         float *ha = NULL, float *hb = NULL) {
    const double norm = (double)p->n * 0.5;
    for (int i = 0; i < p->nbins; i++) {
        double re = a->acc[2 * i], im = a->acc[2 * i + 1];
        if (b) {
            double sign = p->odd[i] ? -1.0 : 1.0;
            double bre = b->acc[2 * i], bim = b->acc[2 * i + 1];
            re += sign * bre;
            im += sign * bim;
            if (ha) {
                double are = a->acc[2 * i], aim = a->acc[2 * i + 1];
                ha[i] = (float)(2.0 * sqrt(are * are + aim * aim) / norm);
                hb[i] = (float)(2.0 * sqrt(bre * bre + bim * bim) / norm);
            }
        }
        mags[i] = (float)(sqrt(re * re + im * im) / norm);
    }
    return b ? a->sq + b->sq : a->sq;
}

/* ---- Off-tune bins ------------------------------------------------------ */

/* For every tone (and sideband) the bins OFFTUNE_HZ away, at any
 * frequency: phase rows of a half-frame from sample 0, and per bin the turn
 * e^(i 2 pi f h1 / rate) that brings the second half's sums into phase.
 * Rows and columns have tables of their own: a frame whose row cannot reach
 * the threshold even off tune needs no column measured. Most frames that
 * get here hold noise, and a bound in single precision (the same rows in
 * float) shows that no off-tune tone of theirs can reach it. */
static const uint64_t ROUGH_ROWS = 128;
static uint64_t rough_stretches(uint64_t h) { return (h + ROUGH_ROWS - 1) / ROUGH_ROWS; }

struct OfftuneTable {
    int nbins, per_group; /* bins in all, in each group */
    uint64_t n, h1, h2;   /* frame length, first and second half */
    double rot[2 * MAX_EXTRA];
    double *tab[2]; /* per group, h2 rows of per_group {cos, sin} */
    /* The rough sums' rows in float, ROUGH_ROWS of them (small enough to
     * stay in the first-level cache), and per stretch of that many
     * samples the turn to its first sample. */
    float *ftab[2];
    float *fturn[2];
};

static void offtune_build(OfftuneTable *t, uint64_t n, int32_t rate, int repeater, int keys) {
    const int per = repeater ? 2 : 1;
    double freqs[MAX_EXTRA];
    int nb = 0;
    const int32_t *groups[2];
    const int ntones = plan_tones(keys, &groups[0], &groups[1]);
    for (int g = 0; g < 2; g++)
        for (int i = 0; i < ntones; i++)
            for (int s = 0; s < per; s++) {
                double f = groups[g][i];
                if (repeater) f = s == 0 ? REPEATER_CARRIER_HZ + f : REPEATER_CARRIER_HZ - f;
                for (int o = 0; o < N_OFFTUNE; o++) freqs[nb++] = f + OFFTUNE_HZ[o];
            }
    t->nbins = nb;
    t->per_group = nb / 2;
    t->n = n;
    t->h1 = n / 2;
    t->h2 = n - n / 2;
    const int pg = t->per_group;
    for (int g = 0; g < 2; g++) {
        t->tab[g] = (double *)malloc((size_t)t->h2 * 2 * pg * sizeof(double));
        t->ftab[g] = (float *)malloc((size_t)ROUGH_ROWS * 2 * pg * sizeof(float));
        t->fturn[g] = (float *)malloc((size_t)rough_stretches(t->h2) * 2 * pg * sizeof(float));
        if (!t->tab[g] || !t->ftab[g] || !t->fturn[g]) core_out_of_memory();
    }
    for (int b = 0; b < nb; b++) {
        const double w = CORE_TWO_PI * freqs[b] / (double)rate;
        double *col = t->tab[b / pg] + 2 * (b % pg);
        for (uint64_t i = 0; i < t->h2; i++) {
            double ph = fmod(w * (double)i, CORE_TWO_PI);
            col[i * 2 * pg] = cos(ph);
            col[i * 2 * pg + 1] = sin(ph);
        }
        double ph = fmod(w * (double)t->h1, CORE_TWO_PI);
        t->rot[2 * b] = cos(ph);
        t->rot[2 * b + 1] = sin(ph);
    }
    for (int b = 0; b < nb; b++) {
        const double w = CORE_TWO_PI * freqs[b] / (double)rate;
        float *col = t->ftab[b / pg] + 2 * (b % pg), *turn = t->fturn[b / pg] + 2 * (b % pg);
        for (uint64_t i = 0; i < ROUGH_ROWS; i++) {
            double ph = fmod(w * (double)i, CORE_TWO_PI);
            col[i * 2 * pg] = (float)cos(ph);
            col[i * 2 * pg + 1] = (float)sin(ph);
        }
        for (uint64_t k = 0; k < rough_stretches(t->h2); k++) {
            double ph = fmod(w * (double)(k * ROUGH_ROWS), CORE_TWO_PI);
            turn[k * 2 * pg] = (float)cos(ph);
            turn[k * 2 * pg + 1] = (float)sin(ph);
        }
    }
}

static void offtune_free(OfftuneTable *t) {
    for (int g = 0; g < 2; g++) {
        free(t->tab[g]);
        free(t->ftab[g]);
        free(t->fturn[g]);
    }
}

/* Rough sums in float of NB bins (of rows tab) over count <= ROUGH_ROWS
 * samples into acc, 2 NB floats: only a bound is made of them, so the
 * order of the additions is free. Off by far less than ROUGH_SLACK allows
 * for. */
template <int NB>
static void rough_nb(const float *x, uint64_t count, const float *tab, float *acc) {
    for (int b = 0; b < 2 * NB; b++) acc[b] = 0.0f;
    for (uint64_t i = 0; i < count; i++)
        for (int b = 0; b < 2 * NB; b++) acc[b] += x[i] * tab[i * 2 * NB + b];
}

/* Where the processor has AVX2 and FMA, eight lanes a vector; S sets of
 * sums, every S-th sample each, keep both units busy despite the fused
 * adds' latency. */
#if CORE_AVX2
template <int NB>
__attribute__((target("avx2,fma"))) static void rough_wide_nb(const float *x, uint64_t count,
                                                              const float *tab, float *acc) {
    constexpr int NV = NB / 4, S = NV <= 3 ? 4 : 2;
    __m256 a[S][NV];
    for (int k = 0; k < S; k++)
        for (int v = 0; v < NV; v++) a[k][v] = _mm256_setzero_ps();
    uint64_t i = 0;
    for (; i + S <= count; i += S)
        for (int k = 0; k < S; k++) {
            const __m256 xv = _mm256_set1_ps(x[i + k]);
            const float *t = tab + (i + k) * 2 * NB;
            for (int v = 0; v < NV; v++)
                a[k][v] = _mm256_fmadd_ps(xv, _mm256_loadu_ps(t + 8 * v), a[k][v]);
        }
    for (; i < count; i++) {
        const __m256 xv = _mm256_set1_ps(x[i]);
        for (int v = 0; v < NV; v++)
            a[0][v] = _mm256_fmadd_ps(xv, _mm256_loadu_ps(tab + i * 2 * NB + 8 * v), a[0][v]);
    }
    for (int k = 1; k < S; k++)
        for (int v = 0; v < NV; v++) a[0][v] = _mm256_add_ps(a[0][v], a[k][v]);
    for (int v = 0; v < NV; v++) _mm256_storeu_ps(acc + 8 * v, a[0][v]);
}
#endif

static void rough_rows(int nb, const float *x, uint64_t count, const float *tab, float *acc) {
#if CORE_AVX2
    static const int wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (wide) {
        switch (nb) {
        case 12: rough_wide_nb<12>(x, count, tab, acc); return;
        case 16: rough_wide_nb<16>(x, count, tab, acc); return;
        case 24: rough_wide_nb<24>(x, count, tab, acc); return;
        default: rough_wide_nb<32>(x, count, tab, acc); return;
        }
    }
#endif
    switch (nb) {
    case 12: rough_nb<12>(x, count, tab, acc); break;
    case 16: rough_nb<16>(x, count, tab, acc); break;
    case 24: rough_nb<24>(x, count, tab, acc); break;
    default: rough_nb<32>(x, count, tab, acc); break;
    }
}

/* One group's rough sums over count samples of a half, from its sample 0:
 * a stretch of ROUGH_ROWS at a time, each turned to where it starts. */
static void rough_sum(const OfftuneTable *t, int g, const float *x, uint64_t count, float *acc) {
    const int pg = t->per_group;
    for (int b = 0; b < 2 * pg; b++) acc[b] = 0.0f;
    float part[2 * MAX_EXTRA];
    for (uint64_t k = 0; k * ROUGH_ROWS < count; k++) {
        const uint64_t at = k * ROUGH_ROWS, n = count - at < ROUGH_ROWS ? count - at : ROUGH_ROWS;
        rough_rows(pg, x + at, n, t->ftab[g], part);
        const float *turn = t->fturn[g] + k * 2 * pg;
        for (int j = 0; j < pg; j++) {
            const float c = turn[2 * j], sn = turn[2 * j + 1], re = part[2 * j],
                        im = part[2 * j + 1];
            acc[2 * j] += c * re - sn * im;
            acc[2 * j + 1] += c * im + sn * re;
        }
    }
}

/* As accumulate_nb, four lanes a vector: the same products and sums per
 * lane, so the same bits. */
#if CORE_AVX2
template <int NB>
__attribute__((target("avx2"))) static void accumulate_wide_nb(const float *x, uint64_t count,
                                                               const double *tab, double *acc) {
    constexpr int NV = NB / 2;
    __m256d a[NV];
    for (int v = 0; v < NV; v++) a[v] = _mm256_loadu_pd(acc + 4 * v);
    for (uint64_t i = 0; i < count; i++) {
        const __m256d xv = _mm256_set1_pd((double)x[i]);
        const double *t = tab + i * 2 * NB;
        for (int v = 0; v < NV; v++)
            a[v] = _mm256_add_pd(a[v], _mm256_mul_pd(xv, _mm256_loadu_pd(t + 4 * v)));
    }
    for (int v = 0; v < NV; v++) _mm256_storeu_pd(acc + 4 * v, a[v]);
}
#endif

/* One group's sums over count samples of a half, from its sample 0. */
static void offtune_sum(const OfftuneTable *t, int g, const float *x, uint64_t count,
                        double *acc) {
    memset(acc, 0, sizeof(double) * 2 * t->per_group);
#if CORE_AVX2
    static const int avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        switch (t->per_group) {
        case 12: accumulate_wide_nb<12>(x, count, t->tab[g], acc); return;
        case 16: accumulate_wide_nb<16>(x, count, t->tab[g], acc); return;
        case 24: accumulate_wide_nb<24>(x, count, t->tab[g], acc); return;
        default: accumulate_wide_nb<32>(x, count, t->tab[g], acc); return;
        }
    }
#endif
    double sq = 0.0;
    switch (t->per_group) {
    case 12: accumulate_nb<12>(x, count, t->tab[g], acc, &sq); break;
    case 16: accumulate_nb<16>(x, count, t->tab[g], acc, &sq); break;
    case 24: accumulate_nb<24>(x, count, t->tab[g], acc, &sq); break;
    default: accumulate_nb<32>(x, count, t->tab[g], acc, &sq); break;
    }
}

/* The live frame's table is made once per mode and plan, when first
 * needed, then only read. */
static const OfftuneTable *live_offtune(int repeater, int keys) {
    struct Live {
        OfftuneTable t;
        Live(int repeater, int keys) { offtune_build(&t, 2048, DTMF_SAMPLE_RATE, repeater, keys); }
    };
    if (keys && repeater) {
        static const Live all_rep(1, KEYS_ALL);
        return &all_rep.t;
    }
    if (keys) {
        static const Live all(0, KEYS_ALL);
        return &all.t;
    }
    if (repeater) {
        static const Live digits_rep(1, KEYS_0_6);
        return &digits_rep.t;
    }
    static const Live digits(0, KEYS_0_6);
    return &digits.t;
}

/* A walk over frames that overlap by half sums each half once: the second
 * half of one frame is the first of the next. Two halves are kept, each
 * with the groups summed so far. */
struct OfftuneHalf {
    const float *at; /* the half's first sample, or NULL */
    int have[2], have_rough[2];
    double acc[2][MAX_EXTRA];
    float rough[2][MAX_EXTRA];
};
struct OfftuneMemo {
    OfftuneHalf half[2];
    int next; /* the one to replace */
};

/* The memo's place for the half at x, taken over from an older half
 * unless that one is in slot avoid. */
static OfftuneHalf *memo_half(OfftuneMemo *memo, const float *x, int avoid, int *slot) {
    int s = memo->half[0].at == x ? 0 : memo->half[1].at == x ? 1 : -1;
    if (s < 0) {
        s = memo->next == avoid ? 1 - avoid : memo->next;
        memo->next = 1 - s;
        memset(&memo->half[s], 0, sizeof memo->half[s]);
        memo->half[s].at = x;
    }
    *slot = s;
    return &memo->half[s];
}

/* Group g's sums of the half at x (count samples, from its sample 0); with
 * a memo, kept there unless the half is kept in slot avoid. *slot: where. */
static const double *offtune_half(const OfftuneTable *t, OfftuneMemo *memo, int g,
                                  const float *x, uint64_t count, int avoid, int *slot,
                                  double *scratch) {
    *slot = -1;
    if (!memo) {
        offtune_sum(t, g, x, count, scratch);
        return scratch;
    }
    OfftuneHalf *h = memo_half(memo, x, avoid, slot);
    if (!h->have[g]) {
        offtune_sum(t, g, x, count, h->acc[g]);
        h->have[g] = 1;
    }
    return h->acc[g];
}

/* The same in float. */
static const float *rough_half(const OfftuneTable *t, OfftuneMemo *memo, int g, const float *x,
                               uint64_t count, int avoid, int *slot, float *scratch) {
    *slot = -1;
    if (!memo) {
        rough_sum(t, g, x, count, scratch);
        return scratch;
    }
    OfftuneHalf *h = memo_half(memo, x, avoid, slot);
    if (!h->have_rough[g]) {
        rough_sum(t, g, x, count, h->rough[g]);
        h->have_rough[g] = 1;
    }
    return h->rough[g];
}

/* Room for float's rounding in a sum over a half, per unit of
 * sqrt(h * its sum of squares), which no sum of its samples times
 * numbers of at most 1 exceeds: some 40 times what 1024 roundings can do. */
static const double ROUGH_SLACK = 1e-3;

/* Per tone of group g (per_tone bins each), no less than any of its
 * off-tune magnitudes over frame x (of halves' sums of squares qa, qb):
 * the rough sums joined as the exact ones are, |A + rot B|, and room for
 * either half's rounding. */
static void offtune_bounds(const OfftuneTable *t, OfftuneMemo *memo, int g, const float *x,
                           double qa, double qb, int per_tone, double *bound) {
    float sa[MAX_EXTRA], sb[MAX_EXTRA];
    int slot;
    const float *a = rough_half(t, memo, g, x, t->h1, -1, &slot, sa);
    const float *b =
        t->h1 == t->h2 ? rough_half(t, memo, g, x + t->h1, t->h2, slot, &slot, sb)
                       : rough_half(t, NULL, g, x + t->h1, t->h2, -1, &slot, sb);
    const double slack =
        ROUGH_SLACK * (sqrt((double)t->h1 * qa) + sqrt((double)t->h2 * qb));
    const double norm = (double)t->n * 0.5;
    for (int tone = 0, j = 0; j < t->per_group; tone++) {
        double top = 0.0;
        for (int k = 0; k < per_tone; k++, j++) {
            const int i = g * t->per_group + j;
            const double cr = t->rot[2 * i], ci = t->rot[2 * i + 1];
            const double re = a[2 * j] + (b[2 * j] * cr - b[2 * j + 1] * ci);
            const double im = a[2 * j + 1] + (b[2 * j] * ci + b[2 * j + 1] * cr);
            const double v = sqrt(re * re + im * im);
            top = v > top ? v : top;
        }
        bound[tone] = (top + slack) / norm;
    }
}

/* Magnitudes of group g's off-tune bins of frame x (and of either half),
 * and the second half times the conjugate of the first, in phase. */
static void offtune_mags(const OfftuneTable *t, OfftuneMemo *memo, int g, const float *x,
                         float *mags, float *ha, float *hb, float *cross) {
    double sa[MAX_EXTRA], sb[MAX_EXTRA];
    int slot;
    const double *a = offtune_half(t, memo, g, x, t->h1, -1, &slot, sa);
    const double *b =
        t->h1 == t->h2 ? offtune_half(t, memo, g, x + t->h1, t->h2, slot, &slot, sb)
                       : offtune_half(t, NULL, g, x + t->h1, t->h2, -1, &slot, sb);
    const double norm = (double)t->n * 0.5;
    for (int j = 0; j < t->per_group; j++) {
        const int i = g * t->per_group + j;
        double cr = t->rot[2 * i], ci = t->rot[2 * i + 1];
        double bre = b[2 * j] * cr - b[2 * j + 1] * ci, bim = b[2 * j] * ci + b[2 * j + 1] * cr;
        double re = a[2 * j] + bre, im = a[2 * j + 1] + bim;
        mags[j] = (float)(sqrt(re * re + im * im) / norm);
        ha[j] = (float)(2.0 * sqrt(a[2 * j] * a[2 * j] + a[2 * j + 1] * a[2 * j + 1]) / norm);
        hb[j] = (float)(2.0 * sqrt(bre * bre + bim * bim) / norm);
        cross[2 * j] = (float)(bre * a[2 * j] + bim * a[2 * j + 1]);
        cross[2 * j + 1] = (float)(bim * a[2 * j] - bre * a[2 * j + 1]);
    }
}

/* ---- The decision --------------------------------------------------------- */

/* One frame as decide sees it: its samples (for the off-tune bins), its
 * sums (b null for a frame summed in one piece) and, if the caller keeps
 * them, the off-tune table for its length and rate and the off-tune sums
 * of the halves before. */
struct FrameIn {
    const float *x;
    uint64_t n;
    int32_t rate;
    const Sums *a, *b;
    const OfftuneTable *offtune;
    OfftuneMemo *memo;
    int alone; /* it vouches for a short tone with one other frame close by */
};

/* Each tone's best measure: v its magnitude, ha/hb over either half (-1
 * when unknown). */
struct ToneMeasure {
    float v, ha, hb;
    double hz;    /* where it was measured */
    int bin;      /* the nominal bin it was measured at, or -1: ... */
    float cr, ci; /* ... the second half times the conjugate of the first, in phase at hz */
};

static void take_best(ToneMeasure *dst, float v, float ha, float hb, double hz, int bin,
                      float cr = 0.0f, float ci = 0.0f) {
    if (v > dst->v) {
        dst->v = v;
        dst->ha = ha;
        dst->hb = hb;
        dst->hz = hz;
        dst->bin = bin;
        dst->cr = cr;
        dst->ci = ci;
    }
}

/* Squared Goertzel magnitudes of nk <= 4 NV bins (c2 = 2 cos w each) over
 * y[0..m); many bins abreast keep the adds' latency hidden. */
template <int NV>
static void goertzel(const float *y, uint64_t m, const float *c2, float *out, int nk) {
    float s1[4 * NV], s2[4 * NV];
#if defined(__SSE2__)
    __m128 c[NV], a1[NV], a2[NV];
    for (int v = 0; v < NV; v++) {
        c[v] = _mm_loadu_ps(c2 + 4 * v);
        a1[v] = a2[v] = _mm_setzero_ps();
    }
    for (uint64_t j = 0; j < m; j++) {
        const __m128 x = _mm_set1_ps(y[j]);
        for (int v = 0; v < NV; v++) {
            __m128 s0 = _mm_add_ps(_mm_sub_ps(x, a2[v]), _mm_mul_ps(c[v], a1[v]));
            a2[v] = a1[v];
            a1[v] = s0;
        }
    }
    for (int v = 0; v < NV; v++) {
        _mm_storeu_ps(s1 + 4 * v, a1[v]);
        _mm_storeu_ps(s2 + 4 * v, a2[v]);
    }
#else
    for (int b = 0; b < 4 * NV; b++) s1[b] = s2[b] = 0.0f;
    for (uint64_t j = 0; j < m; j++)
        for (int b = 0; b < 4 * NV; b++) {
            float s0 = y[j] - s2[b] + c2[b] * s1[b];
            s2[b] = s1[b];
            s1[b] = s0;
        }
#endif
    for (int b = 0; b < nk; b++) out[b] = s1[b] * s1[b] + s2[b] * s2[b] - c2[b] * s1[b] * s2[b];
}

/* As goertzel, eight bins a vector: the same steps per lane, the same bits. */
#if CORE_AVX2
template <int NV>
__attribute__((target("avx2"))) static void goertzel_wide(const float *y, uint64_t m,
                                                          const float *c2, float *out, int nk) {
    float s1[8 * NV], s2[8 * NV];
    __m256 c[NV], a1[NV], a2[NV];
    for (int v = 0; v < NV; v++) {
        c[v] = _mm256_loadu_ps(c2 + 8 * v);
        a1[v] = a2[v] = _mm256_setzero_ps();
    }
    for (uint64_t j = 0; j < m; j++) {
        const __m256 x = _mm256_set1_ps(y[j]);
        for (int v = 0; v < NV; v++) {
            __m256 s0 = _mm256_add_ps(_mm256_sub_ps(x, a2[v]), _mm256_mul_ps(c[v], a1[v]));
            a2[v] = a1[v];
            a1[v] = s0;
        }
    }
    for (int v = 0; v < NV; v++) {
        _mm256_storeu_ps(s1 + 8 * v, a1[v]);
        _mm256_storeu_ps(s2 + 8 * v, a2[v]);
    }
    for (int b = 0; b < nk; b++) out[b] = s1[b] * s1[b] + s2[b] * s2[b] - c2[b] * s1[b] * s2[b];
}
#endif

/* Squared Goertzel magnitudes of nk bins, c2 padded with zeros to a
 * multiple of 8. */
static void goertzel_bins(const float *y, uint64_t m, const float *c2, float *mag, int nk) {
#if CORE_AVX2
    static const int avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        for (int b = 0; b < nk; b += 48) {
            const int left = nk - b < 48 ? nk - b : 48;
            switch ((left + 7) / 8) {
            case 1: goertzel_wide<1>(y, m, c2 + b, mag + b, left); break;
            case 2: goertzel_wide<2>(y, m, c2 + b, mag + b, left); break;
            case 3: goertzel_wide<3>(y, m, c2 + b, mag + b, left); break;
            case 4: goertzel_wide<4>(y, m, c2 + b, mag + b, left); break;
            case 5: goertzel_wide<5>(y, m, c2 + b, mag + b, left); break;
            default: goertzel_wide<6>(y, m, c2 + b, mag + b, left); break;
            }
        }
        return;
    }
#endif
    for (int b = 0; b < nk;) {
        const int left = nk - b;
        if (left > 16) {
            goertzel<8>(y, m, c2 + b, mag + b, left < 32 ? left : 32);
            b += 32;
        } else if (left > 8) {
            goertzel<4>(y, m, c2 + b, mag + b, left);
            b += 16;
        } else {
            goertzel<2>(y, m, c2 + b, mag + b, left);
            b += 8;
        }
    }
}

/* y[j]: the sum of x[j d] .. x[j d + d - 1], added in sample order. */
#if CORE_AVX2
/* Eight sums at once: eight rows of eight samples, turned into eight
 * columns, each added to the sums in turn. */
__attribute__((target("avx2"))) static void box_sums_8(const float *x, uint64_t m, float *y) {
    uint64_t j = 0;
    for (; j + 8 <= m; j += 8) {
        __m256 r[8], t[8];
        for (int k = 0; k < 8; k++) r[k] = _mm256_loadu_ps(x + (j + k) * 8);
        for (int k = 0; k < 8; k += 2) {
            t[k] = _mm256_unpacklo_ps(r[k], r[k + 1]);
            t[k + 1] = _mm256_unpackhi_ps(r[k], r[k + 1]);
        }
        for (int k = 0; k < 8; k += 4) {
            r[k] = _mm256_shuffle_ps(t[k], t[k + 2], 0x44);
            r[k + 1] = _mm256_shuffle_ps(t[k], t[k + 2], 0xEE);
            r[k + 2] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0x44);
            r[k + 3] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0xEE);
        }
        /* r[0..3]: samples 0, 1, 2, 3 (low lanes) and 4, 5, 6, 7 (high) of
         * rows 0-3; r[4..7] the same of rows 4-7 */
        __m256 col[8];
        for (int k = 0; k < 4; k++) {
            col[k] = _mm256_permute2f128_ps(r[k], r[k + 4], 0x20);
            col[k + 4] = _mm256_permute2f128_ps(r[k], r[k + 4], 0x31);
        }
        __m256 acc = _mm256_setzero_ps();
        for (int k = 0; k < 8; k++) acc = _mm256_add_ps(acc, col[k]);
        _mm256_storeu_ps(y + j, acc);
    }
    for (; j < m; j++) {
        float v = 0.0f;
        for (int k = 0; k < 8; k++) v += x[j * 8 + k];
        y[j] = v;
    }
}
#endif

static void box_sums(const float *x, uint64_t m, uint64_t d, float *y) {
#if CORE_AVX2
    static const int avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && d == 8) {
        box_sums_8(x, m, y);
        return;
    }
#endif
    for (uint64_t j = 0; j < m; j++) y[j] = 0.0f;
    for (uint64_t i = 0; i < d; i++) /* sums side by side */
        for (uint64_t j = 0; j < m; j++) y[j] += x[j * d + i];
}

/* Of the bins within NEIGHBOUR_HZ of each tone, the loudest more than lobe
 * bins from the tone's peak, over that peak (the larger of the two tones);
 * 0 when that bin is no louder than white noise of power noise2 might make.
 * The frame is first summed D samples at a time: the bins sit at the same
 * frequencies, and the sums cost an eighth. */
static float crowding(const float *x, uint64_t n, int32_t rate, const double hz[2], double noise2,
                      int64_t lobe) {
    double top = (hz[0] > hz[1] ? hz[0] : hz[1]) + NEIGHBOUR_HZ;
    uint64_t d = 8; /* a box sum's droop stays small below a third of its own rate */
    while (d > 1 && (n % d != 0 || top * 3.0 * (double)d > (double)rate)) d /= 2;
    const uint64_t m = n / d;
    float stack[512];
    float *y = m <= 512 ? stack : (float *)malloc((size_t)m * sizeof(float));
    if (!y) core_out_of_memory();
    box_sums(x, m, d, y);
    int owned;
    const double *trig = trig_table(n, &owned);
    const double bin_hz = (double)rate / (double)n;
    int64_t w = (int64_t)(NEIGHBOUR_HZ / bin_hz);
    if (w < 2) w = 2;
    if (w > 31) w = 31; /* long frames: 64 bins, a narrower neighbourhood */
    /* both tones' bins in one list, sixteen at a time */
    int64_t k0[2], lo[2], hi[2];
    float c2[128 + 32], mag[128 + 32];
    int nk = 0, first[2];
    for (int t = 0; t < 2; t++) {
        k0[t] = (int64_t)(hz[t] / bin_hz + 0.5);
        lo[t] = k0[t] - w < 1 ? 1 : k0[t] - w;
        hi[t] = k0[t] + w > (int64_t)(m / 2) - 1 ? (int64_t)(m / 2) - 1 : k0[t] + w;
        first[t] = nk;
        if (k0[t] - 2 < lo[t] || k0[t] + 2 > hi[t]) continue; /* too near 0 or the Nyquist rate */
        for (int64_t k = lo[t]; k <= hi[t]; k++) /* k d < n / 2 */
            c2[nk++] = (float)(2.0 * trig[2 * ((uint64_t)k * d)]);
    }
    for (int b = nk; b % 8; b++) c2[b] = 0.0f;
    goertzel_bins(y, m, c2, mag, nk);
    float worst = 0.0f;
    for (int t = 0; t < 2; t++) {
        if (k0[t] - 2 < lo[t] || k0[t] + 2 > hi[t]) continue;
        const float *mg = mag + first[t] - lo[t]; /* indexed by bin */
        int64_t kp = k0[t] - 2;
        for (int64_t k = kp + 1; k <= k0[t] + 2; k++)
            if (mg[k] > mg[kp]) kp = k;
        float nb = 0.0f;
        for (int64_t k = lo[t]; k <= hi[t]; k++)
            if ((k < kp - lobe || k > kp + lobe) && mg[k] > nb) nb = mg[k];
        /* a bin of white noise: E|sum|^2 = n noise2, whatever the box size */
        if (nb <= NOISE_BINS * (double)n * noise2) continue;
        if (mg[kp] > 0.0f && nb / mg[kp] > worst) worst = nb / mg[kp];
    }
    if (owned) free((void *)trig);
    if (y != stack) free(y);
    return sqrtf(worst);
}

/* At a nominal bin: the second half's sum times the conjugate of the
 * first's, whose angle is the phase turn from one half to the other. */
static void nominal_turn(const BinPlan *p, const FrameIn *fr, int bin, double *cr, double *ci) {
    const double *a = fr->a->acc + 2 * bin, *b = fr->b->acc + 2 * bin;
    const double sign = p->odd[bin] ? -1.0 : 1.0;
    *cr = sign * (b[0] * a[0] + b[1] * a[1]);
    *ci = sign * (b[1] * a[0] - b[0] * a[1]);
}

/* The phase turn of the tone measured at a nominal bin against that of a
 * tone exactly where it belongs: x > 0 and |y| <= x tan a when it is within
 * a radians of it (a rate / (2 pi h) Hz, h the half's length). */
static void turn_off_tune(const BinPlan *p, const FrameIn *fr, int bin, double *x, double *y) {
    double cr, ci;
    nominal_turn(p, fr, bin, &cr, &ci);
    const double c = p->turn[2 * bin], s = p->turn[2 * bin + 1];
    *x = cr * c + ci * s;
    *y = ci * c - cr * s;
}

/* Both turns within hz (tan a > a, so this errs towards no) */
static int both_within(const double xy[4], double hz, const FrameIn *fr) {
    const double a = hz * CORE_TWO_PI * (double)(fr->n / 2) / (double)fr->rate, a2 = a * a;
    return xy[0] > 0.0 && xy[2] > 0.0 && xy[1] * xy[1] <= a2 * xy[0] * xy[0] &&
           xy[3] * xy[3] <= a2 * xy[2] * xy[2];
}

/* The variance of a tone's offset (Hz^2) in white noise of power noise2
 * per sample: each half's phase wanders by the noise in its sum over the
 * tone's there. */
static double offset_var(const FrameIn *fr, const ToneMeasure *w, double noise2) {
    const double h = (double)(fr->n / 2), hz_per_rad = (double)fr->rate / (CORE_TWO_PI * h);
    const double ha = (double)w->ha * w->ha, hb = (double)w->hb * w->hb;
    if (!(ha > 0.0 && hb > 0.0)) return HUGE_VAL;
    return 2.0 * noise2 / h * (1.0 / ha + 1.0 / hb) * hz_per_rad * hz_per_rad;
}

/* How far tone w sits from f (Hz), from the turn of its phase between the
 * halves: exact within half a bin of where it was measured. */
static double tone_offset(const BinPlan *p, const FrameIn *fr, const ToneMeasure *w, double f) {
    double cr = w->cr, ci = w->ci;
    if (w->bin >= 0) nominal_turn(p, fr, w->bin, &cr, &ci);
    return w->hz - atan2(ci, cr) * (double)fr->rate / (CORE_TWO_PI * (double)(fr->n / 2)) - f;
}

/* Whether a row and a column er, ec Hz off their rf, cf fit one sender's
 * tuning or clock, to within tol. */
static int one_sender(double er, double ec, double rf, double cf, double tol) {
    const int by_hz = fabs(ec - er) <= tol && fabs(er + ec) * 0.5 <= MAX_SHIFT_HZ + tol * 0.5;
    const int by_clock = fabs(ec - er * cf / rf) <= tol && fabs(ec) <= MAX_CLOCK * cf + tol;
    return by_hz || by_clock;
}

/* The power that is not the tones. Levels are on the plain scale (tone
 * magnitude over the frame's RMS, times SIDEBAND_GAIN in repeater mode), on
 * which a pair of levels l0, l1 holds (l0^2 + l1^2) / 2 of the frame's power
 * in either mode: a disguised tone's two sidebands carry together what the
 * plain tone would, and the gain is what makes the scales meet. Every check
 * takes the rest from here: its share of the frame's power ... */
static double rest_share(double l0, double l1) {
    const double share = 0.5 * (l0 * l0 + l1 * l1);
    return share < 1.0 ? 1.0 - share : 0.0;
}

/* ... and its power per sample. */
static double rest_power(double l0, double l1, float level) {
    return (double)level * level * rest_share(l0, l1);
}

/* Where tone f is heard (in repeater mode, in the sideband w was found in);
 * *sign: which way it moves when f does. */
static double heard_at(const BinPlan *p, const ToneMeasure *w, double f, double *sign = NULL) {
    const double s = !p->repeater || w->hz > REPEATER_CARRIER_HZ ? 1.0 : -1.0;
    if (sign) *sign = s;
    return p->repeater ? REPEATER_CARRIER_HZ + s * f : f;
}

/* What decide knows of a frame: its level and each tone's best measure so
 * far (the rows, then the columns: ntones each), and the pair it points at. */
struct Measured {
    float level;
    float gain; /* a sideband's magnitude times this is on the plain scale */
    int ntones;
    const int32_t *freqs[2];
    ToneMeasure tm[2 * MAX_TONES];
};

struct Pair {
    int best[2]; /* row, column: index within the group */
    float lv[2]; /* their levels */
    const ToneMeasure *r, *c;
    double rf, cf; /* their nominal tones */
};

/* Whether the pair's tones are off tune as one sender's would be. In
 * repeater mode the tones or the sidebands may be what went off. */
static int offsets_agree(const BinPlan *p, const FrameIn *fr, const Measured *m, const Pair *pr) {
    /* the usual case, both tones near where their nominal bins say, the
     * quick way: within AGREE_HZ / 2 each, then within tol / 2 */
    const ToneMeasure *r = pr->r, *c = pr->c;
    const int nominal = r->bin >= 0 && c->bin >= 0;
    double xy[4];
    if (nominal) {
        turn_off_tune(p, fr, r->bin, &xy[0], &xy[1]);
        turn_off_tune(p, fr, c->bin, &xy[2], &xy[3]);
        if (both_within(xy, 0.5 * AGREE_HZ, fr)) return 1;
    }
    const double noise2 = rest_power(pr->lv[0], pr->lv[1], m->level);
    const double tol =
        AGREE_HZ + AGREE_SIGMAS * sqrt(offset_var(fr, r, noise2) + offset_var(fr, c, noise2));
    if (nominal && both_within(xy, 0.5 * tol, fr)) return 1;
    double sr, sc;
    const double rb = heard_at(p, r, pr->rf, &sr), cb = heard_at(p, c, pr->cf, &sc);
    const double er = tone_offset(p, fr, r, rb), ec = tone_offset(p, fr, c, cb);
    return one_sender(er, ec, rb, cb, tol) ||
           (p->repeater && one_sender(sr * er, sc * ec, pr->rf, pr->cf, tol));
}

/* tone_offset takes the turn to span a half's length, as it does for a
 * tone that fills both halves. One that starts or stops inside the frame
 * fills a half only in part (its level there tells how much), and its phase
 * turns over the distance between the filled parts' middles: (1 + fill) / 2
 * of a half. Returns that factor, or 0 when the tone fills less than
 * MIN_FILL of a half: there the other tone's leakage and the edge itself
 * move the phase more than noise would. */
static double turn_span(const ToneMeasure *w) {
    const double hi = w->ha > w->hb ? w->ha : w->hb, lo = w->ha > w->hb ? w->hb : w->ha;
    return lo >= MIN_FILL * hi && hi > 0.0 ? 0.5 * (1.0 + lo / hi) : 0.0;
}

static void tune_unknown(PairTune *t) {
    t->row_hz = t->col_hz = 0.0;
    t->row_spread_hz = t->col_spread_hz = HUGE_VAL;
}

/* Whether a pair stayed tuned as it was a frame before, to within drift
 * (Hz, and the spreads); unknown counts as yes. */
static int tune_held(const PairTune *was, const PairTune *now, double drift = DRIFT_HZ) {
    const double r2 =
        was->row_spread_hz * was->row_spread_hz + now->row_spread_hz * now->row_spread_hz;
    const double c2 =
        was->col_spread_hz * was->col_spread_hz + now->col_spread_hz * now->col_spread_hz;
    if (!(r2 + c2 < HUGE_VAL)) return 1;
    const double row = now->row_hz - was->row_hz, col = now->col_hz - was->col_hz;
    return fabs(row) <= drift + DRIFT_SIGMAS * sqrt(r2) &&
           fabs(col) <= drift + DRIFT_SIGMAS * sqrt(c2) &&
           fabs(row - col) <= drift + DRIFT_SIGMAS * sqrt(r2 + c2);
}

/* A steady frame: neither half holds much less power than the other. */
static int halves_balanced(const FrameIn *fr) {
    const double qa = fr->a->sq, qb = fr->b->sq;
    return (qa < qb ? qa : qb) >= MIN_HALF_BALANCE * (qa < qb ? qb : qa);
}

/* The frame's level and its tones measured at their nominal bins. */
static void measure_nominal(const BinPlan *p, const FrameIn *fr, Measured *m) {
    float mags[MAX_BINS], ha[MAX_BINS], hb[MAX_BINS];
    const int halves = fr->b != NULL;
    const double sumsq = frame_mags(p, fr->a, fr->b, mags, ha, hb);
    m->level = (float)sqrt(sumsq / (double)p->n);
    m->gain = p->repeater ? SIDEBAND_GAIN : 1.0f;
    m->ntones = p->ntones;
    m->freqs[0] = p->freqs[0];
    m->freqs[1] = p->freqs[1];
    const int per = p->repeater ? 2 : 1;
    for (int t = 0; t < 2 * p->ntones; t++) {
        m->tm[t].v = -1.0f;
        for (int s = 0; s < per; s++) {
            const int i = t * per + s;
            take_best(&m->tm[t], mags[i], halves ? ha[i] : -1.0f, halves ? hb[i] : -1.0f,
                      p->hz[i], i);
        }
    }
}

/* The loudest row and column; a tie keeps the lower frequency. */
static void pick_pair(const Measured *m, Pair *pr) {
    const int nt = m->ntones;
    for (int g = 0; g < 2; g++) {
        pr->best[g] = 0;
        for (int i = 1; i < nt; i++)
            if (m->tm[g * nt + i].v > m->tm[g * nt + pr->best[g]].v) pr->best[g] = i;
        pr->lv[g] = m->tm[g * nt + pr->best[g]].v / m->level * m->gain;
    }
    pr->r = &m->tm[pr->best[0]];
    pr->c = &m->tm[nt + pr->best[1]];
    pr->rf = m->freqs[0][pr->best[0]];
    pr->cf = m->freqs[1][pr->best[1]];
}

static int both_reach(const Pair *pr, float threshold) {
    return pr->lv[0] >= threshold && pr->lv[1] >= threshold;
}

/* Stage 1, the nominal bins: a digit, none, or a pair worth looking for
 * off tune. */
enum NominalVerdict { NOMINAL_DIGIT, NOMINAL_NONE, NOMINAL_LOOK_OFF_TUNE };

static NominalVerdict nominal_pick(const BinPlan *p, const FrameIn *fr, const Measured *m,
                                   const Pair *pr, float threshold) {
    if (!both_reach(pr, threshold)) return NOMINAL_LOOK_OFF_TUNE;
    if (!fr->b || offsets_agree(p, fr, m, pr)) return NOMINAL_DIGIT;
    /* A tone more than a bin off reaches its nominal bin only through the
     * skirt, weakly and with its phase a whole bin wrong: such a pair is
     * measured again off tune. A strong pair placed as no sender would is
     * no digit. */
    const float weaker = pr->lv[0] < pr->lv[1] ? pr->lv[0] : pr->lv[1];
    return weaker >= SKIRT_LEVEL ? NOMINAL_NONE : NOMINAL_LOOK_OFF_TUNE;
}

/* Stage 2, the off-tune retry: the bins OFFTUNE_HZ from each tone join the
 * measures, and the pair is picked again. Only in a steady frame: this
 * search is where speech would otherwise get in. Whether the new pair
 * reaches the threshold. A group that fell short is measured first: if it
 * still does, the other is not needed. */
static int offtune_pick(const BinPlan *p, const FrameIn *fr, Measured *m, Pair *pr,
                        float threshold) {
    if (!fr->b || !halves_balanced(fr)) return 0;
    OfftuneTable own;
    const OfftuneTable *ot = fr->offtune;
    if (!ot) {
        offtune_build(&own, fr->n, fr->rate, p->repeater, p->keys);
        ot = &own;
    }
    const int per = p->repeater ? 2 : 1;
    const int nt = p->ntones;
    const int first = pr->lv[0] >= threshold ? 1 : 0;
    int reach = 1;
    for (int k = 0; k < 2 && reach; k++) {
        const int g = k == 0 ? first : 1 - first;
        const ToneMeasure *tm = m->tm + nt * g;
        /* The rough sums bound every tone's off-tune bins: a group that
         * fell short and cannot reach stops the search; where no tone's
         * off-tune bins can beat what was measured (nor a runner-up rise
         * to where it counts), the exact sums would change nothing. */
        double bound[MAX_TONES];
        offtune_bounds(ot, fr->memo, g, fr->x, fr->a->sq, fr->b->sq, per * N_OFFTUNE, bound);
        float top = -1.0f;
        for (int t = 0; t < nt; t++) top = tm[t].v > top ? tm[t].v : top;
        double most = 0.0;
        int change = 0;
        for (int t = 0; t < nt; t++) {
            most = bound[t] > most ? bound[t] : most;
            const double matters = tm[t].v > MAX_RUNNER_UP * top ? tm[t].v : MAX_RUNNER_UP * top;
            change |= !(bound[t] <= 0.999 * matters);
        }
        if (pr->lv[g] < threshold && most < 0.999 * threshold * m->level / m->gain) {
            reach = 0;
            break;
        }
        if (!change) {
            reach = top / m->level * m->gain >= threshold;
            continue;
        }
        float em[MAX_EXTRA], eha[MAX_EXTRA], ehb[MAX_EXTRA], ecross[2 * MAX_EXTRA];
        offtune_mags(ot, fr->memo, g, fr->x, em, eha, ehb, ecross);
        top = -1.0f;
        for (int t = nt * g; t < nt * g + nt; t++) {
            for (int j = 0; j < per * N_OFFTUNE; j++) {
                const int i = (t - nt * g) * per * N_OFFTUNE + j;
                double f = p->freqs[g][t - nt * g];
                if (p->repeater)
                    f = j / N_OFFTUNE == 0 ? REPEATER_CARRIER_HZ + f : REPEATER_CARRIER_HZ - f;
                take_best(&m->tm[t], em[i], eha[i], ehb[i], f + OFFTUNE_HZ[j % N_OFFTUNE], -1,
                          ecross[2 * i], ecross[2 * i + 1]);
            }
            if (m->tm[t].v > top) top = m->tm[t].v;
        }
        reach = top / m->level * m->gain >= threshold;
    }
    if (!fr->offtune) offtune_free(&own);
    if (!reach) return 0;
    pick_pair(m, pr);
    return both_reach(pr, threshold);
}

/* Stage 3, the speech guards; each only vetoes. An off-tune pair must also
 * stand alone in its group and hold its level across the halves (its
 * half magnitudes are a sideband's own: the noise term is brought to their
 * scale by the gain). A pair holding little of the frame must stand clear
 * of the spectrum around it. */
static int speech_guards(const FrameIn *fr, const Measured *m, const Pair *pr, int offtune) {
    const double rest = rest_share(pr->lv[0], pr->lv[1]);
    for (int g = 0; offtune && g < 2; g++) {
        const ToneMeasure *w = g == 0 ? pr->r : pr->c;
        for (int i = 0; i < m->ntones; i++)
            if (i != pr->best[g] && m->tm[g * m->ntones + i].v > MAX_RUNNER_UP * w->v) return 0;
        const float hi = w->ha > w->hb ? w->ha : w->hb, lo = w->ha > w->hb ? w->hb : w->ha;
        if (hi - lo > HALF_DRIFT * hi + HALF_DRIFT_NOISE * (float)sqrt(rest) * m->level / m->gain)
            return 0;
    }
    /* A voice's vowel holds still for a few frames close together: a short
     * tone's frames are checked whatever their share. */
    if (rest <= 1.0 - CLEAN_SHARE && !fr->alone) return 1;
    const double hz[2] = {pr->r->hz, pr->c->hz};
    /* A tone that starts or stops inside the frame is shorter than it, and
     * its main lobe wider: up to three bins for a third of it. */
    const int64_t lobe = fr->b && !halves_balanced(fr) ? 3 : 1;
    return crowding(fr->x, fr->n, fr->rate, hz, rest_power(pr->lv[0], pr->lv[1], m->level),
                    lobe) <= MAX_NEIGHBOUR;
}

/* Stage 4, the pair's tuning, for the digit stream's drift check. The power
 * that is not the tones is what makes the offsets wander; a tone between
 * bins shows weaker there than it is, so its level is first brought back up
 * by the frame's response that far off. */
static void pair_tune(const BinPlan *p, const FrameIn *fr, const Measured *m, const Pair *pr,
                      PairTune *t) {
    const ToneMeasure *w[2] = {pr->r, pr->c};
    const double f[2] = {pr->rf, pr->cf};
    double off[2], span[2], a[2];
    for (int g = 0; g < 2; g++) {
        const double at = heard_at(p, w[g], f[g]);
        span[g] = turn_span(w[g]);
        if (!(span[g] > 0.0)) return;
        const double from_bin = (tone_offset(p, fr, w[g], at) - (w[g]->hz - at)) / span[g];
        off[g] = (w[g]->hz - at) + from_bin;
        const double x = 0.5 * CORE_TWO_PI * from_bin * (double)fr->n / (double)fr->rate;
        const double response = fabs(x) < 1e-6 ? 1.0 : fmax(fabs(sin(x) / x), 0.5);
        a[g] = (double)pr->lv[g] / response;
    }
    const double noise2 = rest_power(a[0], a[1], m->level);
    t->row_hz = off[0];
    t->col_hz = off[1];
    t->row_spread_hz = sqrt(offset_var(fr, pr->r, noise2)) / span[0];
    t->col_spread_hz = sqrt(offset_var(fr, pr->c, noise2)) / span[1];
}

static int32_t decide(const BinPlan *p, const FrameIn *fr, float threshold, float *row_level,
                      float *col_level, PairTune *tune) {
    if (tune) tune_unknown(tune);
    Measured m;
    measure_nominal(p, fr, &m);
    if (!(m.level > RMS_FLOOR)) {
        if (row_level) *row_level = 0.0f;
        if (col_level) *col_level = 0.0f;
        return -1;
    }
    Pair pr;
    pick_pair(&m, &pr);
    if (row_level) *row_level = pr.lv[0];
    if (col_level) *col_level = pr.lv[1];
    if (m.level < MIN_FRAME_RMS) return -1;

    const NominalVerdict v = nominal_pick(p, fr, &m, &pr, threshold);
    if (v == NOMINAL_NONE) return -1;
    const int offtune = v == NOMINAL_LOOK_OFF_TUNE;
    if (offtune) {
        if (!offtune_pick(p, fr, &m, &pr, threshold)) return -1;
        /* off-tune levels show only once they make a digit */
        if (row_level) *row_level = pr.lv[0];
        if (col_level) *col_level = pr.lv[1];
        if (!offsets_agree(p, fr, &m, &pr)) return -1;
    }
    if (!speech_guards(fr, &m, &pr, offtune)) return -1;
    if (tune && fr->b) pair_tune(p, fr, &m, &pr, tune);
    return p->keys ? dtmf_pair_to_key((int32_t)pr.rf, (int32_t)pr.cf)
                   : dtmf_pair_to_digit((int32_t)pr.rf, (int32_t)pr.cf);
}

/* Live capture always delivers 2048 samples at 44,100 Hz: the phase rows of
 * a half-frame are made once per mode and plan (144 KiB for digits 0-6,
 * 192 KiB for the whole keypad; the repeater's twice that, when first
 * read) and then only read. */
template <int NTONES, int REPEATER> struct LivePhases {
    BinPlan plan;
    alignas(64) double tab[1024 * 2 * (REPEATER + 1) * 2 * NTONES]; /* rows on cache lines */
    LivePhases() {
        int owned;
        const double *trig = trig_table(2048, &owned);
        plan_detector(&plan, 2048, DTMF_SAMPLE_RATE, REPEATER, NTONES == 4);
        fill_phases(&plan, trig, 0, 1024, tab);
    }
};
struct LivePlan {
    const BinPlan *plan;
    const double *tab;
};

static LivePlan live_phases(int repeater, int keys) {
    if (keys && repeater) {
        static const LivePhases<4, 1> all_rep;
        return LivePlan{&all_rep.plan, all_rep.tab};
    }
    if (keys) {
        static const LivePhases<4, 0> all;
        return LivePlan{&all.plan, all.tab};
    }
    if (repeater) {
        static const LivePhases<3, 1> digits_rep;
        return LivePlan{&digits_rep.plan, digits_rep.tab};
    }
    static const LivePhases<3, 0> digits;
    return LivePlan{&digits.plan, digits.tab};
}

static int32_t detect_frame(const float *s, uint64_t count, int32_t rate, float threshold,
                            int repeater, int keys, float *row_level, float *col_level,
                            PairTune *tune, int alone = 0) {
    if (tune) tune_unknown(tune);
    if (!s || count == 0 || rate <= 0) {
        if (row_level) *row_level = 0.0f;
        if (col_level) *col_level = 0.0f;
        return -1;
    }
    if (count == 2048 && rate == DTMF_SAMPLE_RATE) {
        const LivePlan live = live_phases(repeater, keys);
        const BinPlan *p = live.plan;
        Sums a, b;
        memset(&a, 0, sizeof a);
        memset(&b, 0, sizeof b);
        accumulate(s, 1024, live.tab, p->nbins, &a);
        accumulate(s + 1024, 1024, live.tab, p->nbins, &b);
        FrameIn fr = {s, count, rate, &a, &b, live_offtune(repeater, keys), NULL, alone};
        return decide(p, &fr, threshold, row_level, col_level, tune);
    }
    BinPlan p;
    plan_detector(&p, count, rate, repeater, keys);
    int owned;
    double *trig = trig_table(count, &owned);
    Sums a, b;
    FrameIn fr = {s, count, rate, &a, NULL, NULL, NULL, alone};
    if (count % 2 == 0) {
        sum_stretch(&p, trig, s, 0, count / 2, &a);
        sum_stretch(&p, trig, s + count / 2, 0, count / 2, &b);
        fr.b = &b;
    } else {
        sum_stretch(&p, trig, s, 0, count, &a);
    }
    if (owned) free(trig);
    return decide(&p, &fr, threshold, row_level, col_level, tune);
}

int32_t detect_digit_in_frame(const float *s, uint64_t count, int32_t rate, float threshold,
                              float *row_level, float *col_level, PairTune *tune) {
    return detect_frame(s, count, rate, threshold, 0, KEYS_0_6, row_level, col_level, tune);
}

int32_t detect_digit_in_frame_repeater(const float *s, uint64_t count, int32_t rate,
                                       float threshold, float *row_level, float *col_level,
                                       PairTune *tune) {
    return detect_frame(s, count, rate, threshold, 1, KEYS_0_6, row_level, col_level, tune);
}

int32_t detect_key_in_frame(const float *s, uint64_t count, int32_t rate, float threshold,
                            int32_t repeater, int32_t keys, float *row_level, float *col_level,
                            PairTune *tune) {
    return detect_frame(s, count, rate, threshold, repeater != 0, keys == KEYS_ALL, row_level,
                        col_level, tune);
}

float goertzel_mag(const float *s, uint64_t count, int32_t rate, int32_t freq) {
    if (count == 0) return (float)NAN;
    if (rate <= 0) return 0.0f;
    BinPlan p;
    p.nbins = 0;
    p.repeater = 0;
    p.keys = 0;
    p.ntones = 0;
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
    tune_unknown(&ds->tune);
    tune_unknown(&ds->tune_before);
    ds->share = 0.0f;
}

int32_t digit_stream_feed(DigitStream *ds, int32_t detection, const PairTune *tune) {
    if (detection < 0) {
        digit_stream_reset(ds);
        return -1;
    }
    const PairTune was = ds->tune, was_before = ds->tune_before;
    ds->tune_before = was;
    if (tune)
        ds->tune = *tune;
    else
        tune_unknown(&ds->tune);
    if (detection != ds->last_digit) {
        ds->last_digit = detection;
        ds->run_frames = 1;
        ds->emitted = 0;
        return -1;
    }
    if (ds->emitted) return -1;
    ds->run_frames++;
    /* A frame whose halves meet across a jump in phase (the sound device lost
     * or repeated samples) reads badly against both its neighbours: the one
     * before it still vouches for the tone. Else the next frame may show it held. */
    if (!tune_held(&was, &ds->tune) && !(ds->run_frames >= 3 && tune_held(&was_before, &ds->tune)))
        return -1;
    ds->emitted = 1;
    return detection;
}

/* ---- Whole-buffer decoding -------------------------------------------- */

/* A fast sender's tone (40 ms, shorter than a frame) fills a frame well only
 * where the frame sits nearly centred on it: a stretch of starts narrower
 * than a hop, so one frame in the hop grid may read it and its neighbours
 * not. When a digit's run ends after that one frame, and its pair filled
 * that frame, frames half and three quarters of a hop from it, nearest
 * first, may show it held; the tone counts if one does, as its second frame
 * would. Both must pass every speech guard, and a sweep moves less between
 * frames closer than a hop, so the drift they may show shrinks with their
 * distance (a quarter hop apart, two sweeps crossing still look held).
 * Frames a hop apart hold any longer tone twice, so this costs nothing on
 * them. Only plain tones: dialers send them, and in repeater mode a voice's
 * sidebands pass the looks too often. */
static const int LOOK_QUARTERS[4] = {2, -2, 3, -3};
static const uint64_t MIN_LOOK_HOP = 512; /* finer hops see short tones twice anyway */

/* Whether a frame near the one at `at` (whose detection ds holds), both
 * checked as frames alone, confirms the digit. */
static int32_t look_near(const float *s, uint64_t count, uint64_t at, uint64_t frame_len,
                         uint64_t hop, int32_t rate, float threshold, int rep, int keys,
                         const DigitStream *ds) {
    const int32_t d = ds->last_digit;
    if (detect_frame(s + at, frame_len, rate, threshold, rep, keys, NULL, NULL, NULL, 1) != d)
        return -1;
    for (int k = 0; k < 4; k++) {
        const int64_t g = (int64_t)at + LOOK_QUARTERS[k] * (int64_t)(hop / 4);
        if (g < 0 || (uint64_t)g + frame_len > count) continue;
        PairTune tune;
        const int32_t det =
            detect_frame(s + g, frame_len, rate, threshold, rep, keys, NULL, NULL, &tune, 1);
        DigitStream trial = *ds;
        const double drift = DRIFT_HZ * abs(LOOK_QUARTERS[k]) / 4.0;
        if (det == d && digit_stream_feed(&trial, det, &tune) == det &&
            tune_held(&ds->tune, &tune, drift))
            return det;
    }
    return -1;
}

/* A digit sent twice with a short pause (50 ms) may have no frame of its
 * own in the pause: the frames across it hold the tone before and the tone
 * after. The half-frame in the pause is this much quieter than the halves
 * on either side, and ends the run. */
static const double GAP_DIP = 0.25;

/* Feeds frame `at`'s detection (levels rl, cl) to ds, the frame before
 * ending its run where `pause` says so; a digit whose run ended after one
 * frame (the one a hop before) is looked for near that frame first, if its
 * pair filled that frame: a tone's edge in a frame beside its run holds
 * little of it. */
static int32_t feed_frame(const float *s, uint64_t count, uint64_t at, uint64_t frame_len,
                          uint64_t hop, int32_t rate, float threshold, int rep, int keys,
                          DigitStream *ds, int32_t det, const PairTune *tune, float rl, float cl,
                          int pause) {
    int32_t looked = -1;
    if (!rep && hop >= MIN_LOOK_HOP && ds->last_digit >= 0 && ds->run_frames == 1 && !ds->emitted &&
        ds->share >= CLEAN_SHARE && (det != ds->last_digit || pause) && at >= hop)
        looked = look_near(s, count, at - hop, frame_len, hop, rate, threshold, rep, keys, ds);
    if (pause) digit_stream_reset(ds);
    const int32_t digit = digit_stream_feed(ds, det, tune);
    ds->share = det >= 0 ? (float)(1.0 - rest_share(rl, cl)) : 0.0f;
    return looked >= 0 ? looked : digit;
}

uint64_t detect_frames(const float *s, uint64_t count, int32_t rate, uint64_t frame_len,
                       uint64_t hop, float threshold, int32_t repeater, DigitStream *ds,
                       FrameVisitor visit, void *ctx, int32_t keys) {
    return detect_frames_from(s, count, 0, rate, frame_len, hop, threshold, repeater, ds, visit,
                              ctx, keys);
}

uint64_t detect_frames_from(const float *s, uint64_t count, uint64_t first, int32_t rate,
                            uint64_t frame_len, uint64_t hop, float threshold, int32_t repeater,
                            DigitStream *ds, FrameVisitor visit, void *ctx, int32_t keys) {
    DigitStream own;
    if (!ds) {
        digit_stream_reset(&own);
        ds = &own;
    }
    if (!s || frame_len == 0 || hop == 0 || first > count || count - first < frame_len) return 0;
    const uint64_t frames = (count - first - frame_len) / hop + 1;
    const int rep = repeater != 0, all = keys == KEYS_ALL;

    /* Frames that do not overlap by exactly half gain nothing from sharing;
     * huge ones would need a phase table many times the recording's size. */
    if (frame_len % 2 != 0 || hop * 2 != frame_len || hop > 65536 || rate <= 0) {
        for (uint64_t f = 0; f < frames; f++) {
            const uint64_t at = first + f * hop;
            float rl, cl;
            PairTune tune;
            int32_t det =
                detect_frame(s + at, frame_len, rate, threshold, rep, all, &rl, &cl, &tune);
            int32_t digit = feed_frame(s, count, at, frame_len, hop, rate, threshold, rep, all, ds,
                                       det, &tune, rl, cl, 0);
            if (visit && visit(ctx, at, det, digit, rl, cl)) return f + 1;
        }
        return frames;
    }

    BinPlan p;
    double *tab = NULL;
    const double *phases;
    OfftuneTable own_ot;
    const OfftuneTable *ot;
    if (frame_len == 2048 && rate == DTMF_SAMPLE_RATE) {
        /* The live frame's tables serve: a stream walks a block at a time. */
        const LivePlan live = live_phases(rep, all);
        p = *live.plan;
        phases = live.tab;
        ot = live_offtune(rep, all);
    } else {
        plan_detector(&p, frame_len, rate, rep, all);
        int owned;
        double *trig = trig_table(frame_len, &owned);
        tab = (double *)malloc((size_t)hop * 2 * p.nbins * sizeof(double));
        if (!tab) core_out_of_memory();
        fill_phases(&p, trig, 0, hop, tab);
        if (owned) free(trig);
        phases = tab;
        offtune_build(&own_ot, frame_len, rate, rep, all);
        ot = &own_ot;
    }

    /* Frame f is halves f and f + 1; the next two halves are summed together. */
    OfftuneMemo memo;
    memset(&memo, 0, sizeof memo);
    Sums halves[3];
    memset(&halves[0], 0, sizeof halves[0]);
    const float *x = s + first;
    /* a stream keeps the half before its next frame: its power, summed as
     * accumulate sums it */
    int have_before = first >= hop;
    double before = 0.0;
    for (uint64_t i = 0; have_before && i < hop; i++) before += (double)(x - hop)[i] * (x - hop)[i];
    accumulate(x, hop, phases, p.nbins, &halves[0]);
    uint64_t f = 0, summed = 1;
    for (; f < frames; f++) {
        Sums *a = &halves[f % 3], *b = &halves[(f + 1) % 3];
        if (summed == f + 1) {
            memset(b, 0, sizeof *b);
            if (f + 1 < frames) {
                Sums *c = &halves[(f + 2) % 3];
                memset(c, 0, sizeof *c);
                accumulate_pair(x + (f + 1) * hop, x + (f + 2) * hop, hop, phases, p.nbins, b, c);
                summed = f + 3;
            } else {
                accumulate(x + (f + 1) * hop, hop, phases, p.nbins, b);
                summed = f + 2;
            }
        }
        const uint64_t at = first + f * hop;
        float rl, cl;
        PairTune tune;
        FrameIn fr = {s + at, frame_len, rate, a, b, ot, &memo, 0};
        int32_t det = decide(&p, &fr, threshold, &rl, &cl, &tune);
        /* the half before this frame's first, for the pause between tones */
        const int pause = have_before && a->sq < GAP_DIP * (before < b->sq ? before : b->sq);
        before = a->sq;
        have_before = 1;
        int32_t digit = feed_frame(s, count, at, frame_len, hop, rate, threshold, rep, all, ds, det,
                                   &tune, rl, cl, pause);
        if (visit && visit(ctx, at, det, digit, rl, cl)) {
            f++;
            break;
        }
    }
    free(tab);
    if (ot == &own_ot) offtune_free(&own_ot);
    return f;
}
