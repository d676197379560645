/*
 * pace.cpp -- the sender's steady pace tells a lost digit and a split tone.
 *
 * Digits of one block start a fixed tone + gap apart. A tone that went
 * missing leaves twice that between its neighbours; a tone cut in two by a
 * short dropout (or a noisy frame) starts the same digit again long before
 * the next one is due. Marking the first and dropping the second keeps
 * every later pair aligned, so a dropout damages one letter, byte or cell
 * instead of everything after it.
 *
 * The pace shows only from the third digit on, so the second waits for it:
 * a second that came two intervals after the first had one go missing
 * in between. A second that repeats the first may be the rest of a first
 * tone cut in two (the first tone is the one a squelch or a starting sound
 * device clips): then the third waits too, and the fourth decides. Cut,
 * the first three onsets span one interval; repeated, two.
 *
 * Longer pauses belong to the transmission: the station ID between its
 * 300 ms silences, and the end marker of a server request, which follows
 * its request as a block of its own and so starts 200 ms (the block's
 * closing 150 ms and the marker's opening 50 ms) later than the pace says.
 */
#include "core/dtmf_core.h"

#include <string.h>

/* Intervals within this fraction of the pace count as the pace itself. */
static const double PACE_TOLERANCE = 0.25;
/* The same digit again within this much of the pace is one tone, cut: the
 * rest of a cut tone starts before the tone ends (two thirds of the pace),
 * while a repeated digit whose start a dropout delayed comes later. */
static const double SPLIT_FRACTION = 0.7;
/* Intervals below this many paces are the pace, a little off or quickening. */
static const double RELEARN_BELOW = 1.6;
/* Onsets fall on the decoder's frame grid, every DECODE_DEFAULT_HOP samples
 * (23.2 ms at 44.1 kHz): two intervals closer than two of these steps
 * cannot be told apart. Rounded up to 25 ms; a finer hop (tessary-cli's
 * --hop) only makes onsets more exact, so the margin still holds there. */
static constexpr double ONSET_STEP_S = 0.025;
static_assert(DECODE_DEFAULT_HOP < ONSET_STEP_S * DTMF_SAMPLE_RATE, "the step covers a hop");

void digit_pacer_reset(DigitPacer *p, int32_t rate) {
    memset(p, 0, sizeof *p);
    p->rate = rate > 0 ? rate : DTMF_SAMPLE_RATE;
    p->last_digit = -1;
    p->lost = RX_DIGIT_LOST;
}

/* The lower median of the recent intervals: lost digits and pauses are the
 * exception, so they do not move it. One interval is enough to tell a loss
 * early in a message (the next one twice as long); a cut tone waits for two,
 * since taking a repeated digit for one would drop it. */
static uint64_t pace_of(const DigitPacer *p) {
    if (p->n_recent < 1) return 0;
    uint64_t v[DIGIT_PACER_HISTORY];
    int32_t n = p->n_recent;
    memcpy(v, p->recent, sizeof v);
    for (int32_t i = 1; i < n; i++)
        for (int32_t j = i; j > 0 && v[j - 1] > v[j]; j--) {
            uint64_t t = v[j];
            v[j] = v[j - 1];
            v[j - 1] = t;
        }
    return v[(n - 1) / 2];
}

static void remember(DigitPacer *p, uint64_t interval) {
    p->recent[p->next_recent] = interval;
    p->next_recent = (p->next_recent + 1) % DIGIT_PACER_HISTORY;
    if (p->n_recent < DIGIT_PACER_HISTORY) p->n_recent++;
}

static double near(double a, double b) { return a > b ? a - b : b - a; }

/* How much later than the pace a block that follows another starts. */
static double block_pause(const DigitPacer *p) {
    return (double)BLOCK_PAUSE_SAMPLES * p->rate / DTMF_SAMPLE_RATE;
}

/* Three intervals in a row that fit neither the pace nor a pause: the
 * sender has changed speed, and they are the new pace. */
static int32_t relearned(DigitPacer *p, uint64_t interval) {
    p->odd[p->n_odd++] = interval;
    if (p->n_odd < 3) return 0;
    memcpy(p->recent, p->odd, sizeof p->odd);
    p->n_recent = 3;
    p->next_recent = 3;
    p->n_odd = 0;
    return 1;
}

/* Whether an interval of iv samples, at pace, ending with digit, left a
 * digit out: twice the pace, nearer that than a block's pause. Where the
 * two are too close to tell (near 150 % speed), the end marker is told by
 * its first digit. */
static int32_t lost_between(const DigitPacer *p, double iv, double pace, int32_t digit) {
    const double lost = near(iv, 2.0 * pace);
    const double pause = near(iv, pace + block_pause(p));
    const double apart = near(2.0 * pace, pace + block_pause(p));
    if (lost > PACE_TOLERANCE * pace || lost >= pause) return 0;
    /* A fast sender's interval, its onsets a step early and late, is no loss. */
    if (iv <= pace + 2.0 * ONSET_STEP_S * p->rate) return 0;
    return !(apart < 2.0 * ONSET_STEP_S * p->rate && pause <= PACE_TOLERANCE * pace &&
             digit == (int32_t)SERVER_MARKER[0]);
}

/* A digit after the last one, by the pace learnt so far. */
static int32_t step(DigitPacer *p, int32_t digit, uint64_t onset, int32_t *out) {
    const uint64_t interval = onset - p->last_onset;
    const double iv = (double)interval, pace = (double)pace_of(p);
    int32_t n = 0;
    if (pace == 0 || iv < RELEARN_BELOW * pace) {
        if (p->n_recent >= 2 && digit == p->last_digit && iv < SPLIT_FRACTION * pace)
            return 0; /* the rest of the tone just reported: its onset stays */
        remember(p, interval);
        p->n_odd = 0;
    } else {
        const int32_t is_lost = lost_between(p, iv, pace, digit);
        // A pause (identification, the end marker's block) is no loss; a
        // run of such intervals is a slower sender.
        if (!relearned(p, interval) && is_lost) out[n++] = p->lost;
    }
    p->last_digit = digit;
    p->last_onset = onset;
    out[n++] = digit;
    return n;
}

/* The second digit, held, once the third shows the pace. */
static int32_t settle_second(DigitPacer *p, int32_t third, uint64_t onset, int32_t *out) {
    p->state = PACER_PACED;
    const double first = (double)(p->held_onset - p->last_onset);
    const double next = (double)(onset - p->held_onset);
    int32_t n = 0;
    if (lost_between(p, first, next, p->held)) {
        out[n++] = p->lost;
        p->last_digit = p->held;
        p->last_onset = p->held_onset;
        out[n++] = p->held;
    } else {
        n += step(p, p->held, p->held_onset, out + n);
    }
    return n + step(p, third, onset, out + n);
}

/* The two held digits, once the fourth's onset gives an interval. */
static int32_t settle_held(DigitPacer *p, uint64_t onset, int32_t *out) {
    const double i1 = (double)(p->held_onset - p->last_onset);
    const double i2 = (double)(p->held2_onset - p->held_onset);
    const double i3 = (double)(onset - p->held2_onset);
    /* Two equal intervals are a repeated digit and then a loss: a tone cut
     * in its middle would look the same, but leaves too little to report. */
    const int32_t equal = near(i1, i2) <= PACE_TOLERANCE * (i1 > i2 ? i1 : i2);
    if (!equal && near(i1 + i2, i3) <= PACE_TOLERANCE * i3 && i1 < SPLIT_FRACTION * i3) {
        p->state = PACER_PACED; /* the second was the first tone's rest */
        return step(p, p->held2, p->held2_onset, out);
    }
    return settle_second(p, p->held2, p->held2_onset, out);
}

int32_t digit_pacer_flush(DigitPacer *p, int32_t *out) {
    if (p->state == PACER_HELD_TWO) return settle_second(p, p->held2, p->held2_onset, out);
    if (p->state != PACER_HELD_SECOND) return 0;
    p->state = PACER_PACED;
    return step(p, p->held, p->held_onset, out);
}

int32_t digit_pacer_tick(DigitPacer *p, uint64_t now, int32_t *out) {
    /* the next is due one interval after the last held, two if it went missing */
    if (p->state == PACER_HELD_TWO) {
        uint64_t a = p->held_onset - p->last_onset, b = p->held2_onset - p->held_onset;
        if (now < p->held2_onset + 2 * (a > b ? a : b)) return 0;
        return digit_pacer_flush(p, out);
    }
    if (p->state != PACER_HELD_SECOND) return 0;
    uint64_t due = p->held_onset + 2 * (p->held_onset - p->last_onset);
    // A second that repeats the first may be the rest of a first tone cut in
    // two, not a pace: the third decides, and it may come a whole pace of
    // the slowest sender after the first.
    if (p->held == p->last_digit) {
        double tone, gap;
        speed_to_tone_gap(SPEED_MIN_PERCENT, &tone, &gap);
        const uint64_t third =
            p->last_onset + (uint64_t)((1.0 + PACE_TOLERANCE) * (tone + gap) * p->rate);
        if (due < third) due = third;
    }
    if (now < due) return 0;
    return digit_pacer_flush(p, out);
}

int32_t digit_pacer_feed(DigitPacer *p, int32_t digit, uint64_t onset, int32_t *out) {
    const uint64_t last = p->state == PACER_HELD_TWO      ? p->held2_onset
                          : p->state == PACER_HELD_SECOND ? p->held_onset
                                                          : p->last_onset;
    if (p->last_digit < 0 || onset < last) { /* a stream starts; a pace learnt still holds */
        int32_t n = digit_pacer_flush(p, out);
        p->last_digit = digit;
        p->last_onset = onset;
        p->state = p->n_recent > 0 ? PACER_PACED : PACER_FIRST;
        out[n++] = digit;
        return n;
    }
    if (p->state == PACER_FIRST) {
        p->held = digit;
        p->held_onset = onset;
        p->state = PACER_HELD_SECOND;
        return 0;
    }
    if (p->state == PACER_PACED) return step(p, digit, onset, out);
    if (p->state == PACER_HELD_SECOND && p->held == p->last_digit) {
        p->held2 = digit;
        p->held2_onset = onset;
        p->state = PACER_HELD_TWO;
        return 0;
    }
    if (p->state == PACER_HELD_SECOND) return settle_second(p, digit, onset, out);
    int32_t n = settle_held(p, onset, out);
    return n + step(p, digit, onset, out + n);
}
