/* rxpanel -- the receiving engine of the four receiving pages.
 *
 * Every way in runs the core's decode stream, as tessary-cli decode does:
 * live, the capture thread feeds each 2048-sample buffer to the panel's own
 * stream (which takes the frame straddling it and the last buffer, then the
 * buffer itself) and posts WM_APP_METERS / WM_APP_DIGIT to the main window;
 * a file decodes on a thread of its own (see "Decoding a file" below), or at
 * once from memory. Everything else runs on the GUI thread.
 *
 * Clear while listening: the GUI thread restarts the stream the capture
 * thread feeds. One short lock (g_feed_cs) covers the capture thread's
 * feed (two detections and their posts) and the GUI thread's reset, so the
 * stream is never half-reset; and since a digit is posted inside the lock,
 * every digit of the old run is already queued when the reset takes the
 * lock, where the reset removes it.
 *
 * The capture thread reads the panel's threshold and the repeater flag,
 * which the GUI thread may change at any frame, with one atomic access each.
 */
#include "receiving/rxpanel.h"
#include "audio/audio.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <new>

static RxPanel *g_active_panel;
static HWND g_notify;
static const int32_t *g_repeater_mode;
static RxPanelStoppedFn g_stopped_notify;

static CRITICAL_SECTION g_feed_cs;
static int32_t g_feed_cs_ready; /* GUI thread, before any capture thread */

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
    return g_repeater_mode ? __atomic_load_n(g_repeater_mode, __ATOMIC_RELAXED) : 0;
}

static float threshold_of(const RxPanel *p) {
    float t;
    __atomic_load(&p->threshold, &t, __ATOMIC_RELAXED);
    return t;
}

void rxpanel_set_threshold(RxPanel *p, float threshold) {
    __atomic_store(&p->threshold, &threshold, __ATOMIC_RELAXED);
}

/* The panels whose file decode runs, for the window's close. */
static RxPanel *g_decoding[8];

static void track_decoding(RxPanel *p, int32_t on) {
    for (RxPanel *&slot : g_decoding)
        if (on ? !slot : slot == p) {
            slot = on ? p : NULL;
            return;
        }
}

static DecodeSettings panel_settings(const RxPanel *p) {
    DecodeSettings set = {};
    set.threshold = threshold_of(p);
    set.repeater = repeater_on();
    set.hop = DECODE_DEFAULT_HOP;
    set.resample = 1;
    return set;
}

static int32_t meter_percent(float ratio) {
    double v = (double)ratio * 100.0;
    if (!(v > 0.0)) return 0; /* also NaN */
    if (v >= 100.0) return 100;
    return (int32_t)v;
}

/* Each capture buffer's own frame lights the meters (21.5 times a second);
 * the frames that straddle two buffers only detect. */
static int32_t live_frame(void *ctx, uint64_t start, int32_t, int32_t, float row, float col) {
    const RxPanel *p = (const RxPanel *)ctx;
    if (start % DECODE_FRAME_LEN != 0 || !g_notify) return 0;
    uint32_t r = (uint32_t)meter_percent(row), c = (uint32_t)meter_percent(col);
    PostMessageA(g_notify, WM_APP_METERS, (WPARAM)p->panel_id, (LPARAM)(r | (c << 16)));
    return 0;
}

static void live_digit(void *ctx, int32_t digit) {
    const RxPanel *p = (const RxPanel *)ctx;
    if (g_notify) PostMessageA(g_notify, WM_APP_DIGIT, (WPARAM)p->panel_id, (LPARAM)digit);
}

/* A new stretch of sound: a tone half-heard before must not complete with
 * the first frame of the next. Under the panel lock, or with no capture. */
static void live_restart(RxPanel *p) {
    decode_stream_free(&p->live);
    DecodeSettings set = panel_settings(p);
    decode_stream_init(&p->live, &set, DTMF_SAMPLE_RATE, live_frame, live_digit, p);
}

void rxpanel_init(RxPanel *p, int32_t panel_id, int32_t max_digits) {
    feed_lock_init();
    memset(p, 0, sizeof *p);
    p->panel_id = panel_id;
    p->max_digits = max_digits;
    rx_digits_init(&p->received, max_digits >= 0 ? (uint64_t)max_digits : RX_MAX_DIGITS);
    p->threshold = 0.3f;
    live_restart(p);
}

void rxpanel_reset(RxPanel *p) {
    feed_lock_init();
    rxpanel_decode_file_stop(p);
    EnterCriticalSection(&g_feed_cs);
    rx_digits_clear(&p->received);
    live_restart(p);
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
    decode_stream_finish(&p->live);
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
    live_restart(p);
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

void capture_frame_callback(const float *frame, uint64_t count, void *ctx) {
    RxPanel *p = (RxPanel *)ctx;
    EnterCriticalSection(&g_feed_cs);
    p->live.set.threshold = threshold_of(p); /* from this buffer's frames on */
    p->live.set.repeater = repeater_on();
    decode_stream_feed(&p->live, frame, count);
    LeaveCriticalSection(&g_feed_cs);
}

/* ---- Decoding a file --------------------------------------------------
 *
 * Both forms run the core's decode stream with the panel's settings: the
 * recording brought to 44.1 kHz, the frames every half frame, the digit
 * stream, the pacer with its ticks and, at the end, its flush. A reception
 * with a limit (the picture's 64) stops before the first frame after it is
 * reached; one without stops once it is full and one more came, which is all
 * the page can still tell ("Reception full"). */

static uint64_t stop_count(const RxPanel *p) {
    return p->max_digits >= 0 ? (uint64_t)p->max_digits : (uint64_t)RX_MAX_DIGITS + 1;
}

struct DecodeWalk {
    RxDigitHandler handler;
    uint64_t count, stop_at;
};

static int32_t walk_frame(void *ctx, uint64_t, int32_t, int32_t, float, float) {
    const DecodeWalk *w = (const DecodeWalk *)ctx;
    return w->count >= w->stop_at;
}

static void walk_digit(void *ctx, int32_t digit) {
    DecodeWalk *w = (DecodeWalk *)ctx;
    w->count++;
    if (w->handler) w->handler(digit);
}

void rxpanel_decode_samples(RxPanel *p, const float *samples, uint64_t count, int32_t rate,
                            RxDigitHandler handler) {
    if (!samples || rate <= 0) return;
    DecodeWalk walk = {handler, p->received.count, stop_count(p)};
    if (walk.count >= walk.stop_at) return;
    DecodeSettings set = panel_settings(p);
    DecodeStream d;
    decode_stream_init(&d, &set, rate, walk_frame, walk_digit, &walk);
    decode_stream_feed(&d, samples, count);
    decode_stream_finish(&d);
    decode_stream_free(&d);
}

/* Room for every digit a decode can give: the stop count, then what the
 * frame that reached it and the final flush may add. */
#define FILE_JOB_DIGITS (RX_MAX_DIGITS + 1 + 2 * DIGIT_PACER_OUT)
static const uint64_t FILE_BLOCK = 16384; /* samples read at a time */
static const DWORD FILE_NEWS_MS = 50;     /* at most this often, a message */
static const DWORD FILE_STOP_WAIT_MS = 5000;

struct RxFileJob {
    std::atomic<int32_t> refs; /* the panel's and the thread's: the last frees */
    std::atomic<int32_t> stop, done, posted, percent;
    HANDLE thread;
    FILE *f;
    WavReader reader;
    DecodeSettings set;
    HWND notify;
    int32_t panel_id;
    uint64_t stop_at;
    CRITICAL_SECTION cs; /* digits and count */
    int32_t digits[FILE_JOB_DIGITS];
    uint64_t count, taken;
};

static void job_release(RxFileJob *j) {
    if (--j->refs > 0) return;
    wav_reader_close(&j->reader);
    if (j->f) fclose(j->f);
    DeleteCriticalSection(&j->cs);
    free(j);
}

/* One message waits at a time: the take that answers it sees all news. */
static void job_post(RxFileJob *j) {
    if (!j->posted.exchange(1) && j->notify)
        PostMessageA(j->notify, WM_APP_FILE, (WPARAM)j->panel_id, 0);
}

static int32_t job_frame(void *ctx, uint64_t, int32_t, int32_t, float, float) {
    RxFileJob *j = (RxFileJob *)ctx;
    EnterCriticalSection(&j->cs);
    int32_t enough = j->count >= j->stop_at;
    LeaveCriticalSection(&j->cs);
    return enough || j->stop;
}

static void job_digit(void *ctx, int32_t digit) {
    RxFileJob *j = (RxFileJob *)ctx;
    EnterCriticalSection(&j->cs);
    if (j->count < FILE_JOB_DIGITS) j->digits[j->count++] = digit;
    LeaveCriticalSection(&j->cs);
}

static DWORD WINAPI file_thread(LPVOID arg) {
    RxFileJob *j = (RxFileJob *)arg;
    DecodeStream d;
    decode_stream_init(&d, &j->set, (int32_t)j->reader.info.rate, job_frame, job_digit, j);
    float *block = (float *)malloc(FILE_BLOCK * sizeof *block);
    const uint64_t size = j->reader.size;
    DWORD last = GetTickCount();
    while (block && !j->stop && !d.stopped) {
        uint64_t n = wav_reader_read(&j->reader, block, FILE_BLOCK);
        if (n == 0) {
            decode_stream_finish(&d);
            break;
        }
        decode_stream_feed(&d, block, n);
        if (size && size != UINT64_MAX) j->percent = (int32_t)(j->reader.pos * 100 / size);
        if (GetTickCount() - last >= FILE_NEWS_MS) {
            last = GetTickCount();
            job_post(j);
        }
    }
    free(block);
    decode_stream_free(&d);
    j->percent = 100;
    j->done = 1;
    job_post(j);
    job_release(j);
    return 0;
}

int32_t rxpanel_decode_file_start(RxPanel *p, const char *path) {
    rxpanel_decode_file_stop(p);
    RxFileJob *j = (RxFileJob *)calloc(1, sizeof *j);
    if (!j) return 0;
    new (j) RxFileJob();
    InitializeCriticalSection(&j->cs);
    j->refs = 1;
    j->f = path ? fopen(path, "rb") : NULL;
    char why[128];
    if (!j->f || wav_reader_open_file(&j->reader, j->f, why, sizeof why) != 0 ||
        !j->reader.readable || j->reader.info.rate == 0) {
        job_release(j);
        return 0;
    }
    j->set = panel_settings(p);
    j->notify = g_notify;
    j->panel_id = p->panel_id;
    j->stop_at = stop_count(p) > p->received.count ? stop_count(p) - p->received.count : 0;
    j->refs = 2;
    j->thread = CreateThread(NULL, 0, file_thread, j, 0, NULL);
    if (!j->thread) {
        j->refs = 1;
        job_release(j);
        return 0;
    }
    p->file = j;
    track_decoding(p, 1);
    return 1;
}

uint64_t rxpanel_decode_file_take(RxPanel *p, int32_t *out, uint64_t max, int32_t *percent,
                                  int32_t *done) {
    RxFileJob *j = p->file;
    if (done) *done = 0;
    if (!j) {
        if (done) *done = 1;
        return 0;
    }
    j->posted = 0; /* before reading: news after this point posts again */
    const int32_t ended = j->done;
    EnterCriticalSection(&j->cs);
    uint64_t n = j->count - j->taken;
    if (n > max) n = max;
    if (n) memcpy(out, j->digits + j->taken, (size_t)n * sizeof *out);
    j->taken += n;
    const int32_t all = j->taken == j->count;
    LeaveCriticalSection(&j->cs);
    if (percent) *percent = j->percent;
    if (ended && all) {
        WaitForSingleObject(j->thread, FILE_STOP_WAIT_MS); /* it has only its return left */
        CloseHandle(j->thread);
        p->file = NULL;
        track_decoding(p, 0);
        job_release(j);
        if (done) *done = 1;
    }
    return n;
}

void rxpanel_decode_file_stop(RxPanel *p) {
    RxFileJob *j = p->file;
    if (!j) return;
    p->file = NULL;
    track_decoding(p, 0);
    j->stop = 1;
    /* A block takes milliseconds; a file on a hung network share may not
     * come back, and then the thread frees the job when it does. */
    WaitForSingleObject(j->thread, FILE_STOP_WAIT_MS);
    CloseHandle(j->thread);
    job_release(j);
}

int32_t rxpanel_decoding_file(const RxPanel *p) { return p->file != NULL; }

void rxpanel_decode_file_stop_all(void) {
    for (RxPanel *p : g_decoding)
        if (p) rxpanel_decode_file_stop(p);
}
