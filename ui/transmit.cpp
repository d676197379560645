/* Transmit scheduling: a transmission waits behind a three-second countdown
 * and one second of silence, then plays while the header shows its
 * progress; and the header's station-ID controls. GUI thread only. */
#include "ui/ui.h"
#include "audio/audio.h"

#include <stdio.h>
#include <string.h>

static SampleBuf g_pending_tx;
static int32_t g_pending_tx_init;

static const UINT COUNTDOWN_MS = 1000;
static const UINT PROGRESS_MS = 100;
/* The device starts a little after audio_play and the sound server lags
 * behind it: the end waits for the playback itself (this long at most past
 * the computed length), so a page that listens next does not hear the tail. */
static const double PLAYOUT_GRACE_S = 3.0;

static void set_status_countdown(int32_t n) {
    char t[32];
    snprintf(t, sizeof t, "TX in %d...", (int)n);
    SetWindowTextA(g_app.tx_status, t);
}

void start_tx(const SampleBuf *buf) {
    if (!buf || buf->len == 0) return;
    audio_stop();
    KillTimer(g_app.main_wnd, TX_TIMER_ID);
    if (!g_pending_tx_init) {
        sb_init(&g_pending_tx);
        g_pending_tx_init = 1;
    }
    sb_free(&g_pending_tx);
    sb_init(&g_pending_tx);
    sb_append_silence(&g_pending_tx, TX_LEAD_IN_SAMPLES);
    sb_append_buf(&g_pending_tx, buf);
    g_app.tx_countdown = 3;
    g_app.tx_total_seconds = (double)g_pending_tx.len / 44100.0;
    g_app.tx_active = 1;
    // A cut-short playback may have left the LED lit.
    set_led(g_app.tx_led, 0, 0);
    set_status_countdown(3);
    SetTimer(g_app.main_wnd, TX_TIMER_ID, COUNTDOWN_MS, NULL);
}

int32_t tx_timer_tick(void) {
    if (g_app.tx_countdown > 0) {
        g_app.tx_countdown--;
        if (g_app.tx_countdown == 0) {
            audio_play(g_pending_tx.data, g_pending_tx.len);
            set_led(g_app.tx_led, 1, LED_ON_COLOR);
            g_app.tx_start_tick = GetTickCount64();
            KillTimer(g_app.main_wnd, TX_TIMER_ID);
            SetTimer(g_app.main_wnd, TX_TIMER_ID, PROGRESS_MS, NULL);
        } else {
            set_status_countdown(g_app.tx_countdown);
        }
        return 0;
    }
    if (!g_app.tx_active) {
        // A stray tick after the end (already queued when the timer died).
        KillTimer(g_app.main_wnd, TX_TIMER_ID);
        return 0;
    }
    double elapsed = (double)(GetTickCount64() - g_app.tx_start_tick) / 1000.0;
    double shown = elapsed < g_app.tx_total_seconds ? elapsed : g_app.tx_total_seconds;
    char t[64];
    snprintf(t, sizeof t, "%.1f / %.1fs", shown, g_app.tx_total_seconds);
    SetWindowTextA(g_app.tx_status, t);
    if (shown >= g_app.tx_total_seconds) {
        if (audio_play_threads_alive() > 0 && elapsed < g_app.tx_total_seconds + PLAYOUT_GRACE_S)
            return 0;
        KillTimer(g_app.main_wnd, TX_TIMER_ID);
        set_led(g_app.tx_led, 0, 0);
        SetWindowTextA(g_app.tx_status, "");
        g_app.tx_active = 0;
        return 1;
    }
    return 0;
}

static void read_callsign(char *out) {
    out[0] = 0;
    GetWindowTextA(g_app.callsign_edit, out, 256);
}

static void missing_clip_box(const char *err) {
    char text[1200];
    snprintf(text, sizeof text, "Missing callsign clip: %s", err);
    app_box(BOX_ERROR, "Callsign audio missing", text);
}

int32_t build_full_samples(const uint32_t *digits, uint64_t count, SampleBuf *out) {
    char callsign[256];
    char err[1024] = "";
    read_callsign(callsign);
    if (build_station_transmission(digits, count, g_app.audio_dir, callsign, g_app.cw_mode,
                                   g_app.repeater_mode, g_app.tone_seconds, g_app.gap_seconds, out,
                                   err, sizeof err) != 0) {
        missing_clip_box(err);
        return -1;
    }
    return 0;
}

int32_t build_request_samples(const char *dir, const char *message, SampleBuf *out) {
    char callsign[256];
    char err[1024] = "";
    read_callsign(callsign);
    int32_t rc = build_server_transmission(dir, message, g_app.audio_dir, callsign, g_app.cw_mode,
                                           g_app.repeater_mode, g_app.tone_seconds,
                                           g_app.gap_seconds, out, err, sizeof err);
    if (rc == -1) missing_clip_box(err);
    return rc == 0 ? 0 : -1;
}

/* The callsign ID alone, for the two header buttons. 0, or -1 after the
 * user has been told why. */
static int32_t header_callsign_id(const char *title, SampleBuf *id) {
    char callsign[256];
    read_callsign(callsign);
    if (!callsign[0]) {
        app_box(BOX_ERROR, title, "Enter a callsign first.");
        return -1;
    }
    char err[1024] = "";
    if (build_callsign_id(g_app.audio_dir, callsign, g_app.cw_mode, id, err, sizeof err) != 0) {
        missing_clip_box(err);
        return -1;
    }
    return 0;
}

void signoff_click(void) {
    SampleBuf id, tx;
    sb_init(&id);
    sb_init(&tx);
    char err[1200] = "";
    if (header_callsign_id("Sign off", &id) == 0) {
        if (build_signoff(g_app.audio_dir, &id, &tx, err, sizeof err) == 0)
            start_tx(&tx);
        else
            app_box(BOX_ERROR, "Sign-off audio missing", err);
    }
    sb_free(&id);
    sb_free(&tx);
}

void callsign_click(void) {
    SampleBuf id;
    sb_init(&id);
    if (header_callsign_id("Callsign", &id) == 0 && id.len > 0) start_tx(&id);
    sb_free(&id);
}

/* The capture thread reads the flag at every frame. */
void repeater_mode_toggle(void) {
    int32_t on = SendMessageA(g_app.repeater_check, BM_GETCHECK, 0, 0) == BST_CHECKED;
    __atomic_store_n(&g_app.repeater_mode, on, __ATOMIC_RELAXED);
}

void morse_mode_toggle(void) {
    g_app.cw_mode = SendMessageA(g_app.cw_check, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void tx_speed_update(int32_t percent) {
    int32_t p = percent < 1 ? 1 : percent;
    speed_to_tone_gap(p, &g_app.tone_seconds, &g_app.gap_seconds);
    char t[64];
    snprintf(t, sizeof t, "%d%% speed (%.0fms tone / %.0fms gap)", (int)p,
             g_app.tone_seconds * 1000.0, g_app.gap_seconds * 1000.0);
    SetWindowTextA(g_app.speed_label, t);
}
