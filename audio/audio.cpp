/* Playback and capture over winmm. See audio.h for the contract.
 *
 * Waits, and what happens when they run out:
 *  - play thread: polls WHDR_DONE every 15 ms until the buffer's duration
 *    plus a margin has passed; then it resets the device itself, so a buffer
 *    the device never completes cannot keep the thread alive for ever.
 *  - capture thread: waits 200 ms at a time for the device event and
 *    re-checks `running` after each wait.
 *  - audio_capture_stop: waits for the capture thread to end before freeing
 *    anything. The thread ends within one on_frame call once `running` is
 *    clear and the event is set; on_frame holds only the panel's short lock,
 *    which no GUI-thread holder keeps while it waits for capture. Freeing
 *    after a time-out instead would hand the device and a running callback
 *    memory that is gone.
 *  - audio_shutdown: waits up to SHUTDOWN_WAIT_MS for the play threads,
 *    which end within a poll step once their device is reset; one whose
 *    driver hangs past that is left to the end of the process.
 */
#include "audio/audio.h"
#include "core/dtmf_core.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

static CRITICAL_SECTION g_play_cs;
static int32_t g_play_cs_init;
static HWAVEOUT g_current_hwo;
/* Bumped by every audio_play and audio_stop: a play thread that opens its
 * device after it was superseded must not start sounding over the newer one
 * (it has not registered a handle yet, so nobody could reset it). */
static uint32_t g_play_generation;
static std::atomic<int32_t> g_play_threads;

static CaptureState g_cap;
static AudioAllocFn g_capture_alloc;

static const int32_t PLAY_POLL_MS = 15;
static const DWORD PLAY_MARGIN_MS = 3000;
static const DWORD CAPTURE_WAIT_MS = 200;
static const DWORD SHUTDOWN_WAIT_MS = 1000;
static const DWORD CAPTURE_BUFFER_BYTES = CAPTURE_FRAME_SAMPLES * 2;

static WAVEFORMATEX audio_format(void) {
    WAVEFORMATEX f;
    memset(&f, 0, sizeof f);
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = AUDIO_RATE;
    f.nAvgBytesPerSec = AUDIO_RATE * 2;
    f.nBlockAlign = 2;
    f.wBitsPerSample = 16;
    f.cbSize = 0;
    return f;
}

static void play_lock_init(void) {
    if (!g_play_cs_init) {
        InitializeCriticalSection(&g_play_cs);
        g_play_cs_init = 1;
    }
}

/* Stops whatever plays and supersedes any play thread not yet registered.
 * The reset happens under the lock so that the handle cannot be closed (and
 * its value reused by a newer playback) between reading and resetting it. */
static uint32_t play_cut(void) {
    play_lock_init();
    EnterCriticalSection(&g_play_cs);
    uint32_t gen = ++g_play_generation;
    if (g_current_hwo) waveOutReset(g_current_hwo);
    LeaveCriticalSection(&g_play_cs);
    return gen;
}

static void play_unregister(HWAVEOUT hwo) {
    EnterCriticalSection(&g_play_cs);
    if (g_current_hwo == hwo) g_current_hwo = NULL;
    LeaveCriticalSection(&g_play_cs);
}

static int32_t wait_done(const WAVEHDR *h, DWORD limit_ms) {
    ULONGLONG end = GetTickCount64() + limit_ms;
    while (!(h->dwFlags & WHDR_DONE)) {
        if (GetTickCount64() >= end) return 0;
        Sleep(PLAY_POLL_MS);
    }
    return 1;
}

static DWORD WINAPI play_thread(LPVOID arg) {
    PlayJob *job = (PlayJob *)arg;
    WAVEFORMATEX fmt = audio_format();
    HWAVEOUT hwo = NULL;
    if (waveOutOpen(&hwo, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        hwo = NULL;
        goto done;
    }

    EnterCriticalSection(&g_play_cs);
    if (job->generation != g_play_generation) {
        LeaveCriticalSection(&g_play_cs);
        waveOutClose(hwo);
        goto done;
    }
    g_current_hwo = hwo;
    LeaveCriticalSection(&g_play_cs);

    {
        WAVEHDR *h = &job->header;
        memset(h, 0, sizeof *h);
        h->lpData = (LPSTR)job->samples;
        h->dwBufferLength = (DWORD)(job->count * 2);
        int32_t prepared = waveOutPrepareHeader(hwo, h, sizeof *h) == MMSYSERR_NOERROR;
        int32_t written = prepared && waveOutWrite(hwo, h, sizeof *h) == MMSYSERR_NOERROR;
        if (written) {
            DWORD duration_ms = (DWORD)(job->count * 1000 / AUDIO_RATE);
            DWORD limit = duration_ms + duration_ms / 4 + PLAY_MARGIN_MS;
            if (!wait_done(h, limit)) {
                waveOutReset(hwo);
                wait_done(h, 1000);
            }
        }
        play_unregister(hwo);
        if (prepared && waveOutUnprepareHeader(hwo, h, sizeof *h) != MMSYSERR_NOERROR) {
            waveOutReset(hwo);
            if (!wait_done(h, 1000) ||
                waveOutUnprepareHeader(hwo, h, sizeof *h) != MMSYSERR_NOERROR) {
                /* The device still claims the buffer: leak it with its
                 * header rather than let the driver write into freed heap. */
                g_play_threads--;
                return 0;
            }
        }
        waveOutClose(hwo);
    }

done:
    free(job->samples);
    free(job);
    g_play_threads--;
    return 0;
}

void audio_play(const float *samples, uint64_t count) {
    uint32_t gen = play_cut();
    if (!samples || count == 0) return;
    /* One header carries the whole buffer; its length is 32-bit. */
    if (count > 0x7FFFFFFFull / 2) return;

    int16_t *copy = (int16_t *)malloc((size_t)count * 2);
    if (!copy) return;
    for (uint64_t i = 0; i < count; i++) copy[i] = sample_to_pcm16(samples[i]);

    PlayJob *job = (PlayJob *)malloc(sizeof *job);
    if (!job) {
        free(copy);
        return;
    }
    job->samples = copy;
    job->count = count;
    job->generation = gen;
    g_play_threads++;
    HANDLE t = CreateThread(NULL, 0, play_thread, job, 0, NULL);
    if (!t) {
        g_play_threads--;
        free(copy);
        free(job);
        return;
    }
    CloseHandle(t);
}

void audio_stop(void) { play_cut(); }

void audio_shutdown(void) {
    play_cut();
    const ULONGLONG end = GetTickCount64() + SHUTDOWN_WAIT_MS;
    while (g_play_threads > 0 && GetTickCount64() < end) Sleep(PLAY_POLL_MS / 3);
}

HWAVEOUT audio_current_output(void) {
    play_lock_init();
    EnterCriticalSection(&g_play_cs);
    HWAVEOUT h = g_current_hwo;
    LeaveCriticalSection(&g_play_cs);
    return h;
}

int32_t audio_play_threads_alive(void) { return g_play_threads; }

/* ---- capture ---- */

void audio_set_capture_alloc(AudioAllocFn fn) { g_capture_alloc = fn; }

static DWORD WINAPI capture_thread(LPVOID arg) {
    CaptureState *cs = (CaptureState *)arg;
    float frame[CAPTURE_FRAME_SAMPLES];
    int32_t next = 0;
    if (!cs->running) return 0;
    for (;;) {
        DWORD w = WaitForSingleObject(cs->event, CAPTURE_WAIT_MS);
        if (w != WAIT_OBJECT_0) {
            if (!cs->running) return 0;
            continue;
        }
        ResetEvent(cs->event);
        if (!cs->running) return 0;
        /* The device fills buffers in the order they were queued, so the
         * oldest is always at `next`; index order would hand a late
         * receiver the newest buffer before older ones after a wrap. */
        for (; cs->running; next = (next + 1) % CAPTURE_BUFFERS) {
            int32_t i = next;
            WAVEHDR *h = &cs->headers[i];
            if (!(h->dwFlags & WHDR_DONE)) break;
            uint64_t n = h->dwBytesRecorded / 2;
            if (n > CAPTURE_FRAME_SAMPLES) n = CAPTURE_FRAME_SAMPLES;
            const int16_t *src = cs->buffers[i];
            uint64_t k = 0;
            for (; k < n; k++) frame[k] = (float)src[k] * 3.0517578125e-05f;
            for (; k < CAPTURE_FRAME_SAMPLES; k++) frame[k] = 0.0f;
            if (cs->on_frame) cs->on_frame(frame, CAPTURE_FRAME_SAMPLES, cs->user);
            h->dwFlags &= ~(DWORD)WHDR_DONE;
            if (cs->running) waveInAddBuffer(cs->hwi, h, sizeof *h);
        }
        if (!cs->running) return 0;
    }
}

static void capture_clear(void) {
    g_cap.hwi = NULL;
    memset(g_cap.headers, 0, sizeof g_cap.headers);
    memset(g_cap.buffers, 0, sizeof g_cap.buffers);
    g_cap.event = NULL;
    g_cap.thread = NULL;
    g_cap.running = 0;
    g_cap.on_frame = NULL;
    g_cap.user = NULL;
}

/* Closes whatever a start or a capture left open. Only called when no
 * capture thread runs any more. */
static void capture_release(void) {
    if (g_cap.hwi) {
        waveInStop(g_cap.hwi);
        waveInReset(g_cap.hwi);
        for (int32_t i = 0; i < CAPTURE_BUFFERS; i++)
            if (g_cap.headers[i].dwFlags & WHDR_PREPARED)
                waveInUnprepareHeader(g_cap.hwi, &g_cap.headers[i], sizeof(WAVEHDR));
    }
    for (int32_t i = 0; i < CAPTURE_BUFFERS; i++) free(g_cap.buffers[i]);
    if (g_cap.hwi) waveInClose(g_cap.hwi);
    if (g_cap.event) CloseHandle(g_cap.event);
    capture_clear();
}

static void put_err(char *err, uint64_t size, const char *fmt, unsigned code) {
    if (err && size > 0) snprintf(err, (size_t)size, fmt, code);
}

int32_t audio_capture_start(AudioFrameFn on_frame, void *user, char *err, uint64_t err_size) {
    audio_capture_stop();
    capture_clear();
    g_cap.on_frame = on_frame;
    g_cap.user = user;

    g_cap.event = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!g_cap.event) {
        put_err(err, err_size, "Could not create capture event.", 0);
        return 0;
    }

    WAVEFORMATEX fmt = audio_format();
    MMRESULT r =
        waveInOpen(&g_cap.hwi, WAVE_MAPPER, &fmt, (DWORD_PTR)g_cap.event, 0, CALLBACK_EVENT);
    if (r != MMSYSERR_NOERROR) {
        put_err(err, err_size,
                "Could not open microphone (MMRESULT %u). Check that a recording device "
                "is connected and not in use.",
                (unsigned)r);
        g_cap.hwi = NULL;
        CloseHandle(g_cap.event);
        g_cap.event = NULL;
        return 0;
    }

    AudioAllocFn alloc = g_capture_alloc ? g_capture_alloc : malloc;
    for (int32_t i = 0; i < CAPTURE_BUFFERS; i++) {
        g_cap.buffers[i] = (int16_t *)alloc(CAPTURE_BUFFER_BYTES);
        if (!g_cap.buffers[i]) {
            put_err(err, err_size, "Could not allocate capture buffers.", 0);
            capture_release();
            return 0;
        }
    }
    for (int32_t i = 0; i < CAPTURE_BUFFERS; i++) {
        WAVEHDR *h = &g_cap.headers[i];
        memset(h, 0, sizeof *h);
        h->lpData = (LPSTR)g_cap.buffers[i];
        h->dwBufferLength = CAPTURE_BUFFER_BYTES;
        r = waveInPrepareHeader(g_cap.hwi, h, sizeof *h);
        if (r == MMSYSERR_NOERROR) r = waveInAddBuffer(g_cap.hwi, h, sizeof *h);
        if (r != MMSYSERR_NOERROR) {
            put_err(err, err_size, "Could not queue capture buffers (MMRESULT %u).", (unsigned)r);
            capture_release();
            return 0;
        }
    }

    g_cap.running = 1;
    r = waveInStart(g_cap.hwi);
    if (r != MMSYSERR_NOERROR) {
        put_err(err, err_size, "Could not start recording (MMRESULT %u).", (unsigned)r);
        capture_release();
        return 0;
    }

    g_cap.thread = CreateThread(NULL, 0, capture_thread, &g_cap, 0, NULL);
    if (!g_cap.thread) {
        put_err(err, err_size, "Could not start capture thread.", 0);
        g_cap.running = 0;
        capture_release();
        return 0;
    }
    return 1;
}

void audio_capture_stop(void) {
    if (!g_cap.hwi) return;
    g_cap.running = 0;
    waveInStop(g_cap.hwi);
    waveInReset(g_cap.hwi);
    if (g_cap.event) SetEvent(g_cap.event);
    if (g_cap.thread) {
        WaitForSingleObject(g_cap.thread, INFINITE);
        CloseHandle(g_cap.thread);
        g_cap.thread = NULL;
    }
    capture_release();
}

int32_t audio_capture_is_running(void) { return g_cap.running; }
