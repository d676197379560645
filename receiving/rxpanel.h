/* rxpanel -- the receiving engine each receiving page embeds: its threshold,
 * its digit stream, the microphone connection and file decoding.
 * All functions run on the GUI thread except capture_frame_callback. */
#ifndef TESSARY_RXPANEL_H
#define TESSARY_RXPANEL_H

#include <windows.h>
#include <stdint.h>
#include "core/dtmf_core.h"

/* The two messages the capture thread posts: word parameter the panel id
 * 0-3; long parameter the digit, or the row level 0-100 in the low 16 bits
 * and the column level 0-100 in the next 16. */
#define WM_APP_DIGIT  (WM_APP + 1)
#define WM_APP_METERS (WM_APP + 2)

#define DECODE_FRAME_SAMPLES 2048
#define DECODE_HOP_SAMPLES   1024

struct RxPanel {
    RxDigits received;  /* the digits of this reception, stored by the page's handler */
    int32_t max_digits; /* file decoding stops once this many are held; negative: never */
    float threshold;
    DigitStream stream;
    int32_t listening;
    int32_t panel_id;
    /* Live frames overlap by half, as file decoding's do: the second half of
     * the last capture buffer starts the next frame. Capture thread only,
     * except that a reset drops it (under the panel lock). */
    float tail[DECODE_HOP_SAMPLES];
    int32_t have_tail;
    uint32_t resets; /* a detection made before the newest reset is not fed */
};

typedef void (*RxDigitHandler)(int32_t digit);

/* Once at start-up, before any panel listens: the window that gets the
 * panels' messages, and the repeater-mode flag the detector follows (read
 * by the capture thread at every frame; null: plain tones). */
void rxpanel_set_target(HWND notify, const int32_t *repeater_mode);

/* On a zeroed record, once. The reception holds max_digits (64 for a
 * picture), or RX_MAX_DIGITS when max_digits is negative. */
void rxpanel_init(RxPanel *p, int32_t panel_id, int32_t max_digits);
void rxpanel_reset(RxPanel *p);
int32_t rxpanel_start_listening(RxPanel *p, char *err, uint64_t err_size);
void rxpanel_stop_listening(RxPanel *p);
void rxpanel_stop_active(void);
RxPanel *rxpanel_get_active(void);
void rxpanel_decode_samples(RxPanel *p, const float *samples, uint64_t count, int32_t rate,
                            RxDigitHandler handler);
void capture_frame_callback(const float *frame, uint64_t count, void *panel);

/* Called on the GUI thread when a panel stops listening other than by its
 * own rxpanel_stop_listening (another panel started, or rxpanel_stop_active),
 * so that its page can show that it no longer listens. Null: nobody. */
typedef void (*RxPanelStoppedFn)(RxPanel *p);
void rxpanel_set_stopped_notify(RxPanelStoppedFn fn);

#endif
