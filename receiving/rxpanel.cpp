// Placeholder so the program links until the receiver panel lands.
#include "receiving/rxpanel.h"
#include <string.h>

static RxPanel *g_active_panel;

void rxpanel_init(RxPanel *p, int32_t id, int32_t max_digits) {
    memset(p, 0, sizeof *p);
    p->panel_id = id;
    p->max_digits = max_digits;
    p->threshold = 0.3f;
    digit_stream_reset(&p->stream);
}
void rxpanel_reset(RxPanel *p) { p->digit_count = 0; digit_stream_reset(&p->stream); }
int32_t rxpanel_start_listening(RxPanel *, char *, uint64_t) { return 0; }
void rxpanel_stop_listening(RxPanel *p) { p->listening = 0; }
void rxpanel_stop_active(void) {}
RxPanel *rxpanel_get_active(void) { return g_active_panel; }
void rxpanel_decode_samples(RxPanel *, const float *, uint64_t, int32_t, RxDigitHandler) {}
void capture_frame_callback(const float *, uint64_t, void *) {}
