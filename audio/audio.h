/* audio -- playback and capture through the Windows waveform interface.
 *
 * Playback: audio_play copies the samples to 16 bits (the core's
 * sample_to_pcm16, as WAV files get them) and plays them once on
 * a detached thread of their own; a later audio_play or audio_stop cuts the
 * current one short. Nothing is reported when playback fails or ends.
 *
 * Capture: audio_capture_start opens the default recording device, keeps four
 * 2048-sample buffers queued and calls on_frame on the capture thread with
 * every filled buffer as exactly 2048 floats. Start returns 1, or 0 with a
 * readable text in err. There is one capture at most.
 *
 * Every public function is for the GUI thread only (never from on_frame).
 */
#ifndef TESSARY_AUDIO_H
#define TESSARY_AUDIO_H

#include <windows.h>
#include <mmsystem.h>
#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "core/dtmf_core.h"

#define AUDIO_RATE            DTMF_SAMPLE_RATE
#define CAPTURE_BUFFERS       4
#define CAPTURE_FRAME_SAMPLES DECODE_FRAME_LEN /* each buffer is one detector frame */

typedef void (*AudioFrameFn)(const float *frame, uint64_t count, void *user);

struct CaptureState {
    HWAVEIN hwi;
    WAVEHDR headers[CAPTURE_BUFFERS];
    int16_t *buffers[CAPTURE_BUFFERS];
    HANDLE event;
    HANDLE thread;
    std::atomic<int32_t> running; /* cleared by the GUI thread to end the capture thread */
    AudioFrameFn on_frame;
    void *user;
};

struct PlayJob {
    int16_t *samples;
    uint64_t count;
    uint32_t generation; /* which audio_play started it; see audio.cpp */
    WAVEHDR header;      /* heap, not stack: may have to outlive the thread */
};

void audio_play(const float *samples, uint64_t count);
void audio_stop(void);
void audio_shutdown(void);
int32_t audio_capture_start(AudioFrameFn on_frame, void *user, char *err, uint64_t err_size);
void audio_capture_stop(void);
int32_t audio_capture_is_running(void);

/* Test seam: the allocator used for the capture buffers (null = malloc).
 * Lets a test make the third buffer fail without starving the process. */
typedef void *(*AudioAllocFn)(size_t size);
void audio_set_capture_alloc(AudioAllocFn fn);

/* The output device of the playback in progress, or null. */
HWAVEOUT audio_current_output(void);

/* Number of play threads still running (finished ones have freed all). */
int32_t audio_play_threads_alive(void);

#endif
