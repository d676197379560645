/* Control factory and theme, and the transmit scheduler with the header's
 * station-ID controls. */
#include "shell/app.h"
#include "audio/audio.h"

#include <stdio.h>
#include <string.h>

/* ---- control factory ---- */

HWND mk_static(HWND parent, const char *text, int x, int y, int w, int h, HFONT font, int tag) {
    HWND c = CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE | SS_LEFT, x, y, w, h, parent,
                             NULL, g_app.instance, NULL);
    if (font) SendMessageA(c, WM_SETFONT, (WPARAM)font, TRUE);
    SetWindowLongPtrA(c, GWLP_USERDATA, tag);
    return c;
}

HWND mk_button(HWND parent, const char *text, int x, int y, int w, int h, int id) {
    HWND c = CreateWindowExA(0, "BUTTON", text, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, x, y, w, h,
                             parent, (HMENU)(INT_PTR)id, g_app.instance, NULL);
    SendMessageA(c, WM_SETFONT, (WPARAM)g_app.font_small, TRUE);
    return c;
}

HWND mk_checkbox(HWND parent, const char *text, int x, int y, int w, int h, int id) {
    HWND c = CreateWindowExA(0, "BUTTON", text, WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, x, y, w, h,
                             parent, (HMENU)(INT_PTR)id, g_app.instance, NULL);
    SendMessageA(c, WM_SETFONT, (WPARAM)g_app.font_small, TRUE);
    SetWindowLongPtrA(c, GWLP_USERDATA, 2);
    return c;
}

HWND mk_edit(HWND parent, int x, int y, int w, int h, int id, HFONT font) {
    HWND c = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, x,
                             y, w, h, parent, (HMENU)(INT_PTR)id, g_app.instance, NULL);
    SendMessageA(c, WM_SETFONT, (WPARAM)font, TRUE);
    return c;
}

HWND mk_readout_label(HWND parent, const char *caption, int x, int *y, int w, HFONT font) {
    mk_static(parent, caption, x, *y, w, 16, g_app.font_small, 1);
    HWND box = CreateWindowExA(WS_EX_CLIENTEDGE, "STATIC", " ", WS_CHILD | WS_VISIBLE, x, *y + 18, w,
                               40, parent, NULL, g_app.instance, NULL);
    SendMessageA(box, WM_SETFONT, (WPARAM)font, TRUE);
    SetWindowLongPtrA(box, GWLP_USERDATA, 3);
    *y += 66;
    return box;
}

/* ---- theme ---- */

static HBRUSH g_panelBrush;
static HBRUSH g_bgBrush;
static HBRUSH g_readoutBrush;

static const COLORREF PANEL = RGB(20, 28, 25);
static const COLORREF WINDOW_BG = RGB(14, 20, 18);
static const COLORREF READOUT_BG = RGB(11, 16, 14);
static const COLORREF LABEL_TEXT = RGB(124, 143, 135);
static const COLORREF READOUT_TEXT = RGB(76, 255, 179);
static const COLORREF CELL_TEXT = RGB(220, 231, 225);
static const COLORREF HEADING_TEXT = RGB(46, 122, 92);

HBRUSH theme_ctlcolor(HDC dc, HWND control) {
    if (!g_panelBrush) g_panelBrush = CreateSolidBrush(PANEL);
    if (!g_bgBrush) g_bgBrush = CreateSolidBrush(WINDOW_BG);
    if (!g_readoutBrush) g_readoutBrush = CreateSolidBrush(READOUT_BG);

    COLORREF text = LABEL_TEXT, back = PANEL;
    HBRUSH brush = g_panelBrush;
    switch (GetWindowLongPtrA(control, GWLP_USERDATA)) {
    case 2: back = WINDOW_BG; brush = g_bgBrush; break;
    case 3: text = READOUT_TEXT; back = READOUT_BG; brush = g_readoutBrush; break;
    case 4: text = CELL_TEXT; back = READOUT_BG; brush = g_readoutBrush; break;
    case 5: text = HEADING_TEXT; break;
    default: break;
    }
    SetBkMode(dc, OPAQUE);
    SetTextColor(dc, text);
    SetBkColor(dc, back);
    return brush;
}

const char *filename_only(const char *path) {
    const char *bs = strrchr(path, '\\');
    const char *fs = strrchr(path, '/');
    const char *cut = bs > fs ? bs : fs;
    return cut ? cut + 1 : path;
}

/* ---- transmit scheduling ---- */

static SampleBuf g_pending_tx;
static int32_t g_pending_tx_init;

static const uint64_t LEAD_IN_SAMPLES = 44100;
static const uint64_t SIGNOFF_GAP_SAMPLES = 13230;
static const UINT COUNTDOWN_MS = 1000;
static const UINT PROGRESS_MS = 100;

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
    sb_append_silence(&g_pending_tx, LEAD_IN_SAMPLES);
    sb_append_buf(&g_pending_tx, buf);
    g_app.tx_countdown = 3;
    g_app.tx_total_seconds = (double)g_pending_tx.len / 44100.0;
    g_app.tx_active = 1;
    // A cut-short playback may have left the LED lit.
    set_led(g_app.tx_led, 0, 0);
    set_status_countdown(3);
    SetTimer(g_app.main_wnd, TX_TIMER_ID, COUNTDOWN_MS, NULL);
}

void tx_timer_tick(void) {
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
        return;
    }
    if (!g_app.tx_active) {
        // A stray tick after the end (already queued when the timer died).
        KillTimer(g_app.main_wnd, TX_TIMER_ID);
        return;
    }
    double elapsed = (double)(GetTickCount64() - g_app.tx_start_tick) / 1000.0;
    double shown = elapsed < g_app.tx_total_seconds ? elapsed : g_app.tx_total_seconds;
    char t[64];
    snprintf(t, sizeof t, "%.1f / %.1fs", shown, g_app.tx_total_seconds);
    SetWindowTextA(g_app.tx_status, t);
    if (shown >= g_app.tx_total_seconds) {
        KillTimer(g_app.main_wnd, TX_TIMER_ID);
        set_led(g_app.tx_led, 0, 0);
        SetWindowTextA(g_app.tx_status, "");
        g_app.tx_active = 0;
    }
}

static void read_callsign(char *out) {
    out[0] = 0;
    GetWindowTextA(g_app.callsign_edit, out, 256);
}

static void missing_clip_box(const char *err) {
    char text[1200];
    snprintf(text, sizeof text, "Missing callsign clip: %s", err);
    MessageBoxA(g_app.main_wnd, text, "Callsign audio missing", MB_ICONERROR);
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

/* The callsign ID alone, for the two header buttons. 0, or -1 after the
 * user has been told why. */
static int32_t build_callsign_id(const char *title, SampleBuf *id) {
    char callsign[256];
    read_callsign(callsign);
    if (!callsign[0]) {
        MessageBoxA(g_app.main_wnd, "Enter a callsign first.", title, MB_ICONERROR);
        return -1;
    }
    if (g_app.cw_mode) {
        build_morse_samples(callsign, id);
        return 0;
    }
    char err[1024] = "";
    if (load_callsign_audio(g_app.audio_dir, callsign, id, err, sizeof err) != 0) {
        missing_clip_box(err);
        return -1;
    }
    return 0;
}

void signoff_click(void) {
    SampleBuf id, clip, clip44, tx;
    sb_init(&id);
    sb_init(&clip);
    sb_init(&clip44);
    sb_init(&tx);
    if (build_callsign_id("Sign off", &id) != 0) goto out;
    {
        char path[1024];
        char text[1200];
        snprintf(path, sizeof path, "%s/QRT.wav", g_app.audio_dir);
        FILE *f = fopen(path, "rb");
        if (!f) {
            snprintf(text, sizeof text, "Missing: %s", path);
            MessageBoxA(g_app.main_wnd, text, "Sign-off audio missing", MB_ICONERROR);
            goto out;
        }
        fclose(f);
        uint32_t rate = 44100;
        // A clip that exists but cannot be read would otherwise sign off silently.
        if (load_wav_mono_float(path, &clip, &rate) != 0 || clip.len == 0) {
            snprintf(text, sizeof text, "Cannot read: %s", path);
            MessageBoxA(g_app.main_wnd, text, "Sign-off audio missing", MB_ICONERROR);
            goto out;
        }
        resample_linear(&clip, (int32_t)rate, 44100, &clip44);
        sb_append_buf(&tx, &id);
        sb_append_silence(&tx, SIGNOFF_GAP_SAMPLES);
        sb_append_buf(&tx, &clip44);
        if (tx.len > 0) start_tx(&tx);
    }
out:
    sb_free(&id);
    sb_free(&clip);
    sb_free(&clip44);
    sb_free(&tx);
}

void callsign_click(void) {
    SampleBuf id;
    sb_init(&id);
    if (build_callsign_id("Callsign", &id) == 0 && id.len > 0) start_tx(&id);
    sb_free(&id);
}

void repeater_mode_toggle(void) {
    g_app.repeater_mode = SendMessageA(g_app.repeater_check, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void morse_mode_toggle(void) {
    g_app.cw_mode = SendMessageA(g_app.cw_check, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void tx_speed_update(int32_t percent) {
    int32_t p = percent < 1 ? 1 : percent;
    speed_to_tone_gap(p, &g_app.tone_seconds, &g_app.gap_seconds);
    char t[64];
    snprintf(t, sizeof t, "%d%% speed (%.0fms tone / %.0fms gap)", (int)p, g_app.tone_seconds * 1000.0,
             g_app.gap_seconds * 1000.0);
    SetWindowTextA(g_app.speed_label, t);
}
