/* rxpanel -- the receiving engine each receiving page embeds: its threshold,
 * its digit stream, the microphone connection and file decoding.
 * All functions run on the GUI thread except capture_frame_callback. */
#ifndef TESSARY_RXPANEL_H
#define TESSARY_RXPANEL_H

#include <windows.h>
#include <stdint.h>
#include "core/dtmf_core.h"
#include "audio/audio.h"

/* The two messages the capture thread posts: word parameter the panel id
 * 0-3; long parameter the digit, or the row level 0-100 in the low 16 bits
 * and the column level 0-100 in the next 16. */
#define WM_APP_DIGIT  (WM_APP + 1)
#define WM_APP_METERS (WM_APP + 2)
/* A file decode has news for the panel whose id is the word parameter:
 * digits, its progress, or its end (rxpanel_decode_file_take). */
#define WM_APP_FILE (WM_APP + 3)

/* The panels by id: what each receiving page passes to rxpanel_init. */
enum RxPanelId { PANEL_RX = 0, PANEL_IMGDEC = 1, PANEL_HEX = 2, PANEL_SERVER = 3, PANEL_COUNT = 4 };

/* A capture buffer is one decoder frame (audio.h), and the live frames
 * between two buffers fall on the file decoder's grid. */
static_assert(DECODE_DEFAULT_HOP * 2 == DECODE_FRAME_LEN, "live frames straddle two buffers");

struct RxFileJob;

struct RxPanel {
    RxDigits received;  /* the digits of this reception, stored by the page's handler */
    int32_t max_digits; /* file decoding stops once this many are held; negative: never */
    float threshold;    /* written by the GUI thread, read by the capture thread: see rxpanel.cpp */
    int32_t listening;
    int32_t panel_id;
    /* What the microphone has brought since listening began, through the
     * decoder file decoding runs: frames every half buffer, the digit stream
     * (live.digits) and the pacer. Capture thread, or the GUI thread under
     * the panel lock. */
    DecodeStream live;
    RxFileJob *file; /* the file decode in progress, or null (GUI thread) */
};

typedef void (*RxDigitHandler)(int32_t digit);

/* Once at start-up, before any panel listens: the window that gets the
 * panels' messages, and the repeater-mode flag the detector follows (read
 * by the capture thread at every frame; null: plain tones). */
void rxpanel_set_target(HWND notify, const int32_t *repeater_mode);

/* On a zeroed record, once. The reception holds max_digits (64 for a
 * picture), or RX_MAX_DIGITS when max_digits is negative. */
void rxpanel_init(RxPanel *p, int32_t panel_id, int32_t max_digits);
void rxpanel_reset(RxPanel *p); /* also ends a file decode of the panel */
/* The threshold slider's value; the capture thread takes it from its next frame. */
void rxpanel_set_threshold(RxPanel *p, float threshold);
int32_t rxpanel_start_listening(RxPanel *p, char *err, uint64_t err_size);
void rxpanel_stop_listening(RxPanel *p);
void rxpanel_stop_active(void);
RxPanel *rxpanel_get_active(void);
/* Decodes samples at any rate through the core's decode stream (as
 * tessary-cli decode does), handing each digit to handler; stops once the
 * reception holds max_digits. For samples already in memory. */
void rxpanel_decode_samples(RxPanel *p, const float *samples, uint64_t count, int32_t rate,
                            RxDigitHandler handler);

/* The same decode of a WAV file on a thread of its own, so the window stays
 * alive through a long recording. Start opens the file (0 with nothing
 * started when it is no readable WAV, 1 started); the thread then posts
 * WM_APP_FILE whenever it has news, at most every 50 ms. Take hands over
 * the digits found since the last take (at most max; call again while it
 * fills out) and the progress 0-100; *done is set once the decode has ended
 * and every digit was taken, and the job is then gone. Stop ends the job
 * early, dropping what was not taken. Digits come in the order found, and
 * the reception limit applies as in rxpanel_decode_samples. */
int32_t rxpanel_decode_file_start(RxPanel *p, const char *path);
uint64_t rxpanel_decode_file_take(RxPanel *p, int32_t *out, uint64_t max, int32_t *percent,
                                  int32_t *done);
void rxpanel_decode_file_stop(RxPanel *p);
int32_t rxpanel_decoding_file(const RxPanel *p);
/* Every panel's file decode, at the window's close. */
void rxpanel_decode_file_stop_all(void);

void capture_frame_callback(const float *frame, uint64_t count, void *panel);

/* Called on the GUI thread when a panel stops listening other than by its
 * own rxpanel_stop_listening (another panel started, or rxpanel_stop_active),
 * so that its page can show that it no longer listens. Null: nobody. */
typedef void (*RxPanelStoppedFn)(RxPanel *p);
void rxpanel_set_stopped_notify(RxPanelStoppedFn fn);

#endif
