/* rxpanel -- the receiving engine of the four receiving pages.
 *
 * Live frames arrive on the capture thread, which detects, feeds the panel's
 * digit stream and posts WM_APP_METERS / WM_APP_DIGIT to the main window.
 * Everything else runs on the GUI thread.
 *
 * Clear while listening: the GUI thread resets the same digit stream the
 * capture thread feeds. One short lock (g_feed_cs) covers the capture
 * thread's feed-and-post and the GUI thread's reset, so the stream is never
 * half-reset; and since a digit is posted inside the lock, every digit of
 * the old run is already queued when the reset takes the lock, where the
 * reset removes it. The detection itself runs outside the lock.
 */
#include "receiving/rxpanel.h"
#include "audio/audio.h"

#include <stdlib.h>
#include <string.h>

static RxPanel *g_active_panel;
static HWND g_notify;
static const int32_t *g_repeater_mode;
static RxPanelStoppedFn g_stopped_notify;

static CRITICAL_SECTION g_feed_cs;
static volatile LONG g_feed_cs_ready;

/* GUI thread, before any capture thread exists. */
static void feed_lock_init(void) {
    if (g_feed_cs_ready) return;
    InitializeCriticalSection(&g_feed_cs);
    g_feed_cs_ready = 1;
}

/* Removes this panel's queued messages `msg` from the GUI thread's queue;
 * other panels' messages are posted again in their order. GUI thread only. */
static void drop_queued(UINT msg, int32_t panel_id) {
    HWND w = g_notify;
    if (!w) return;
    MSG m;
    MSG *keep = NULL;
    size_t nkeep = 0, cap = 0;
    while (PeekMessageA(&m, w, msg, msg, PM_REMOVE | PM_NOYIELD | PM_QS_POSTMESSAGE)) {
        if ((int32_t)m.wParam == panel_id) continue;
        if (nkeep == cap) {
            size_t ncap = cap ? cap * 2 : 16;
            MSG *grown = (MSG *)realloc(keep, ncap * sizeof *grown);
            if (!grown) break; /* that one message is lost rather than looping */
            keep = grown;
            cap = ncap;
        }
        keep[nkeep++] = m;
    }
    for (size_t i = 0; i < nkeep; i++)
        PostMessageA(w, keep[i].message, keep[i].wParam, keep[i].lParam);
    free(keep);
}

void rxpanel_set_target(HWND notify, const int32_t *repeater_mode) {
    g_notify = notify;
    g_repeater_mode = repeater_mode;
}

static int32_t repeater_on(void) {
    return g_repeater_mode ? *(const volatile int32_t *)g_repeater_mode : 0;
}

void rxpanel_init(RxPanel *p, int32_t panel_id, int32_t max_digits) {
    feed_lock_init();
    memset(p, 0, sizeof *p);
    p->panel_id = panel_id;
    p->max_digits = max_digits;
    rx_digits_init(&p->received, max_digits >= 0 ? (uint64_t)max_digits : RX_MAX_DIGITS);
    p->threshold = 0.3f;
    digit_stream_reset(&p->stream);
}

void rxpanel_reset(RxPanel *p) {
    feed_lock_init();
    EnterCriticalSection(&g_feed_cs);
    rx_digits_clear(&p->received);
    digit_stream_reset(&p->stream);
    p->have_tail = 0;
    p->heard = 0;
    digit_pacer_reset(&p->pacer, DTMF_SAMPLE_RATE);
    p->resets++;
    drop_queued(WM_APP_DIGIT, p->panel_id);
    LeaveCriticalSection(&g_feed_cs);
}

void rxpanel_set_stopped_notify(RxPanelStoppedFn fn) { g_stopped_notify = fn; }

/* After the capture thread has ended: levels still queued would light the
 * meters of a page that has just shown itself idle. Digits stay queued,
 * and one the pacer still held joins them. */
static void stop_capture_of(RxPanel *p) {
    audio_capture_stop();
    g_active_panel = NULL;
    p->listening = 0;
    drop_queued(WM_APP_METERS, p->panel_id);
    EnterCriticalSection(&g_feed_cs);
    int32_t out[DIGIT_PACER_OUT];
    int32_t n = digit_pacer_flush(&p->pacer, out);
    for (int32_t i = 0; i < n && g_notify; i++)
        PostMessageA(g_notify, WM_APP_DIGIT, (WPARAM)p->panel_id, (LPARAM)out[i]);
    LeaveCriticalSection(&g_feed_cs);
}

/* Another panel or a transmission takes the microphone: tell the page. */
static void displace(RxPanel *p) {
    stop_capture_of(p);
    if (g_stopped_notify) g_stopped_notify(p);
}

int32_t rxpanel_start_listening(RxPanel *p, char *err, uint64_t err_size) {
    feed_lock_init();
    if (g_active_panel == p)
        stop_capture_of(p);
    else if (g_active_panel)
        displace(g_active_panel);
    // A new capture is a new stretch of sound: a tone half-heard before must
    // not complete with the first frame of this one.
    digit_stream_reset(&p->stream);
    p->have_tail = 0;
    p->heard = 0;
    digit_pacer_reset(&p->pacer, DTMF_SAMPLE_RATE);
    if (!audio_capture_start(capture_frame_callback, p, err, err_size)) return 0;
    g_active_panel = p;
    p->listening = 1;
    return 1;
}

void rxpanel_stop_listening(RxPanel *p) {
    if (p == g_active_panel) stop_capture_of(p);
    p->listening = 0;
}

void rxpanel_stop_active(void) {
    if (g_active_panel) displace(g_active_panel);
}

RxPanel *rxpanel_get_active(void) { return g_active_panel; }

static int32_t meter_percent(float ratio) {
    double v = (double)ratio * 100.0;
    if (!(v > 0.0)) return 0; /* also NaN */
    if (v >= 100.0) return 100;
    return (int32_t)v;
}

static int32_t detect_live(const float *frame, uint64_t count, float threshold, int32_t repeater,
                           float *row, float *col, PairTune *tune) {
    return repeater
               ? detect_digit_in_frame_repeater(frame, count, DTMF_SAMPLE_RATE, threshold, row, col,
                                                tune)
               : detect_digit_in_frame(frame, count, DTMF_SAMPLE_RATE, threshold, row, col, tune);
}

/* A digit the stream reported in the frame that began at `start` (or -1:
 * none), after the pacer's word on it; a digit the pacer held may come out
 * with either. Under the panel lock. */
static void post_digit(HWND w, RxPanel *p, int32_t digit, uint64_t start) {
    int32_t out[DIGIT_PACER_OUT];
    int32_t n = digit >= 0 ? digit_pacer_feed(&p->pacer, digit, start, out)
                           : digit_pacer_tick(&p->pacer, start, out);
    for (int32_t i = 0; i < n && w; i++)
        PostMessageA(w, WM_APP_DIGIT, (WPARAM)p->panel_id, (LPARAM)out[i]);
}

/* Each capture buffer gives two frames on the file decoder's grid: the one
 * that straddles it and the last buffer (when there is one), then the
 * buffer itself. A buffer of another length is taken as one frame. */
void capture_frame_callback(const float *frame, uint64_t count, void *ctx) {
    RxPanel *p = (RxPanel *)ctx;
    float threshold = *(volatile float *)&p->threshold;
    int32_t repeater = repeater_on();
    HWND w = g_notify;
    const uint64_t hop = DECODE_HOP_SAMPLES;
    const int32_t whole = count == DECODE_FRAME_SAMPLES;

    float joined[DECODE_FRAME_SAMPLES];
    EnterCriticalSection(&g_feed_cs);
    uint32_t resets = p->resets;
    int32_t straddle = whole && p->have_tail;
    if (straddle) memcpy(joined, p->tail, sizeof p->tail);
    if (whole) memcpy(p->tail, frame + hop, sizeof p->tail);
    p->have_tail = whole;
    LeaveCriticalSection(&g_feed_cs);

    float row = 0.0f, col = 0.0f;
    int32_t first = -1;
    PairTune first_tune, tune;
    if (straddle) {
        memcpy(joined + hop, frame, hop * sizeof *frame);
        first =
            detect_live(joined, DECODE_FRAME_SAMPLES, threshold, repeater, NULL, NULL, &first_tune);
    }
    int32_t det = detect_live(frame, count, threshold, repeater, &row, &col, &tune);

    uint32_t r = (uint32_t)meter_percent(row);
    uint32_t c = (uint32_t)meter_percent(col);
    if (w) PostMessageA(w, WM_APP_METERS, (WPARAM)p->panel_id, (LPARAM)(r | (c << 16)));

    EnterCriticalSection(&g_feed_cs);
    if (p->resets == resets) {
        if (straddle)
            post_digit(w, p, digit_stream_feed(&p->stream, first, &first_tune), p->heard - hop);
        post_digit(w, p, digit_stream_feed(&p->stream, det, &tune), p->heard);
        p->heard += count;
    }
    LeaveCriticalSection(&g_feed_cs);
}

struct DecodeWalk {
    RxPanel *panel;
    RxDigitHandler handler;
};

static int32_t limit_reached(const RxPanel *p) {
    return p->max_digits >= 0 && p->received.count >= (uint64_t)p->max_digits;
}

static int32_t decode_visit(void *ctx, uint64_t start, int32_t, int32_t digit, float, float) {
    DecodeWalk *walk = (DecodeWalk *)ctx;
    if (digit < 0 || !walk->handler) return 0;
    int32_t out[DIGIT_PACER_OUT];
    int32_t n = digit_pacer_feed(&walk->panel->pacer, digit, start, out);
    for (int32_t i = 0; i < n; i++) walk->handler(out[i]);
    return limit_reached(walk->panel); /* stop before the next frame */
}

void rxpanel_decode_samples(RxPanel *p, const float *samples, uint64_t count, int32_t rate,
                            RxDigitHandler handler) {
    if (!samples || rate <= 0) return;
    if (limit_reached(p)) return;
    /* Frames are counted in samples, so at the file's own rate a low-rate
     * recording gets long frames (256 ms at 8000 Hz) that swallow the gaps
     * between repeated digits. Bringing the file to the live rate first
     * gives it the same 46 ms frames live reception has. */
    SampleBuf at_live = {};
    if (rate != DTMF_SAMPLE_RATE) {
        SampleBuf in = {(float *)samples, count, count};
        resample_linear(&in, rate, DTMF_SAMPLE_RATE, &at_live);
        samples = at_live.data;
        count = at_live.len;
    }
    if (count >= DECODE_FRAME_SAMPLES) {
        DecodeWalk walk = {p, handler};
        digit_pacer_reset(&p->pacer, DTMF_SAMPLE_RATE);
        detect_frames(samples, count, DTMF_SAMPLE_RATE, DECODE_FRAME_SAMPLES, DECODE_HOP_SAMPLES,
                      p->threshold, repeater_on(), &p->stream, decode_visit, &walk);
        int32_t out[DIGIT_PACER_OUT];
        int32_t n = handler && !limit_reached(p) ? digit_pacer_flush(&p->pacer, out) : 0;
        for (int32_t i = 0; i < n; i++) handler(out[i]);
    }
    sb_free(&at_live);
}
