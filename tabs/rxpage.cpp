/* rxpage -- what the receiving pages share; see rxpage.h for how a page
 * uses it. GUI thread only. */
#include "tabs/rxpage.h"
#include "tabs/tabs.h"
#include "tabs/pagefile.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

/* The pages by panel id: told when another page takes the microphone, and
 * handed what a file decode finds. */
static RxPageUi g_registered[PANEL_COUNT];
/* The name of the file each panel decodes, for its status line. */
static char g_decoding_name[PANEL_COUNT][260];

#define DECODE_BUTTON_TEXT "Decode an audio file..."
#define STOP_DECODE_TEXT   "Stop decoding"

HWND rxpage_make_buttons(HWND page, int y, int first_id) {
    HWND listen = mk_button(page, "Start listening", 14, y, 130, 26, first_id);
    mk_button(page, DECODE_BUTTON_TEXT, 152, y, 170, 26, first_id + 1);
    mk_button(page, "Clear", 330, y, 70, 26, first_id + 2);
    return listen;
}

HWND rxpage_make_led(HWND page, int x, int y) {
    HWND led = CreateWindowExA(0, "DtmfLedDot", "", WS_CHILD | WS_VISIBLE, x, y, 12, 12, page, NULL,
                               g_app.instance, NULL);
    set_led(led, 0, LED_ON_COLOR);
    return led;
}

void rxpage_make_status_row(HWND page, int y, HWND *led, HWND *status_label, int status_id) {
    *led = rxpage_make_led(page, 14, y + 3);
    *status_label = mk_static(page, RXPAGE_IDLE_TEXT, 32, y, 300, 18, g_app.font_small, 1);
    set_control_id(*status_label, status_id);
}

static HWND make_meter(HWND page, int x, int y) {
    HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, x, y, 380, 16, page,
                               NULL, g_app.instance, NULL);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    return bar;
}

void rxpage_make_meters(HWND page, int caption_y, HWND *row_meter, HWND *col_meter) {
    mk_static(page, "ROW (697/770/941 Hz)", 14, caption_y, 200, 14, g_app.font_small, 1);
    mk_static(page, "COL (1209/1336/1477 Hz)", 400, caption_y, 220, 14, g_app.font_small, 1);
    *row_meter = make_meter(page, 14, caption_y + 16);
    *col_meter = make_meter(page, 400, caption_y + 16);
}

HWND rxpage_make_threshold(HWND page, int y, int id) {
    mk_static(page, "TONE THRESHOLD", 14, y + 6, 120, 16, g_app.font_small, 1);
    HWND bar = CreateWindowExA(0, TRACKBAR_CLASSA, "", WS_CHILD | WS_VISIBLE | TBS_AUTOTICKS, 140,
                               y, 380, 30, page, (HMENU)(INT_PTR)id, g_app.instance, NULL);
    SendMessageA(bar, TBM_SETRANGE, TRUE, MAKELPARAM(10, 70));
    SendMessageA(bar, TBM_SETPOS, TRUE, 30);
    return bar;
}

static void show_idle(const RxPageUi *ui) {
    SetWindowTextA(ui->listen_button, "Start listening");
    set_led(ui->led, 0, LED_ON_COLOR);
    SetWindowTextA(ui->status_label, RXPAGE_IDLE_TEXT);
    rxpage_set_meters(ui, 0, 0);
}

static void on_panel_stopped(RxPanel *p) {
    for (int i = 0; i < PANEL_COUNT; i++) {
        if (g_registered[i].panel != p) continue;
        if (g_registered[i].displaced)
            g_registered[i].displaced();
        else
            show_idle(&g_registered[i]);
    }
}

void rxpage_register(const RxPageUi *ui) {
    if (!ui->panel) return;
    int32_t id = ui->panel->panel_id;
    if (id < 0 || id >= PANEL_COUNT) return;
    g_registered[id] = *ui;
    rxpanel_set_stopped_notify(on_panel_stopped);
}

int32_t rxpage_toggle_listen(const RxPageUi *ui) {
    rxpage_stop_decode(ui);
    if (ui->panel->listening) {
        rxpage_stop_listening(ui);
        return 0;
    }
    char err[256] = "";
    if (!rxpanel_start_listening(ui->panel, err, sizeof err)) {
        app_box(BOX_ERROR, "Microphone error", err);
        return 0;
    }
    SetWindowTextA(ui->listen_button, "Stop listening");
    set_led(ui->led, 1, LED_ON_COLOR);
    SetWindowTextA(ui->status_label, RXPAGE_LISTENING_TEXT);
    return 1;
}

void rxpage_stop_listening(const RxPageUi *ui) {
    if (!ui->panel->listening) return;
    rxpanel_stop_listening(ui->panel);
    show_idle(ui);
}

void rxpage_set_meters(const RxPageUi *ui, int32_t row, int32_t col) {
    SendMessageA(ui->row_meter, PBM_SETPOS, (WPARAM)row, 0);
    SendMessageA(ui->col_meter, PBM_SETPOS, (WPARAM)col, 0);
}

int32_t rxpage_ask_wav_path(char *path, uint64_t size) {
    if (!path || size == 0) return 0;
    path[0] = 0;
    uint32_t n = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)size;
    return ask_open_path(path, n, "WAV audio\0*.wav\0All files\0*.*\0");
}

static HWND decode_button(const RxPageUi *ui) {
    return GetDlgItem(GetParent(ui->listen_button), GetDlgCtrlID(ui->listen_button) + 1);
}

int32_t rxpage_decode_wav(const RxPageUi *ui, const char *path, void (*clear)(void)) {
    rxpage_stop_listening(ui);
    if (clear)
        clear();
    else
        rxpanel_reset(ui->panel);

    char status[320];
    snprintf(status, sizeof status, "Decoding %s...", filename_only(path));
    SetWindowTextA(ui->status_label, status);
    if (!rxpanel_decode_file_start(ui->panel, path)) {
        // Only what decodes to real sound: a compressed file would read as noise.
        app_box(BOX_ERROR, "Decode error", "Could not read that WAV file.");
        return -1;
    }
    int32_t id = ui->panel->panel_id;
    if (id >= 0 && id < PANEL_COUNT)
        snprintf(g_decoding_name[id], sizeof g_decoding_name[id], "%s", filename_only(path));
    SetWindowTextA(decode_button(ui), STOP_DECODE_TEXT);
    return 0;
}

/* Every digit found so far into the page, then one redraw; once the decode
 * has ended, the page's summary. Returns 1 when it has ended. */
static int32_t take_found(const RxPageUi *ui, int32_t *percent) {
    int32_t batch[512], done = 0;
    uint64_t n, total = 0;
    do {
        n = rxpanel_decode_file_take(ui->panel, batch, 512, percent, &done);
        for (uint64_t i = 0; i < n && ui->take; i++) ui->take(batch[i]);
        total += n;
    } while (n == 512 && !done);
    if (total && ui->show) ui->show();
    if (!done) return 0;
    SetWindowTextA(decode_button(ui), DECODE_BUTTON_TEXT);
    if (ui->decoded) {
        ui->decoded();
    } else {
        char status[128];
        rxpage_decode_summary(status, sizeof status, &ui->panel->received);
        SetWindowTextA(ui->status_label, status);
    }
    return 1;
}

void rxpage_file_news(int32_t panel_id) {
    if (panel_id < 0 || panel_id >= PANEL_COUNT) return;
    const RxPageUi *ui = &g_registered[panel_id];
    if (!ui->panel || !rxpanel_decoding_file(ui->panel)) return; /* ended meanwhile */
    int32_t percent = 0;
    if (take_found(ui, &percent)) return;
    char status[320];
    snprintf(status, sizeof status, "Decoding %s... %d %%", g_decoding_name[panel_id], percent);
    SetWindowTextA(ui->status_label, status);
}

int32_t rxpage_stop_decode(const RxPageUi *ui) {
    if (!rxpanel_decoding_file(ui->panel)) return 0;
    int32_t percent = 0;
    if (take_found(ui, &percent)) return 1; /* it ended on its own meanwhile */
    rxpanel_decode_file_stop(ui->panel);
    SetWindowTextA(decode_button(ui), DECODE_BUTTON_TEXT);
    char status[320];
    const uint64_t n = ui->panel->received.count;
    snprintf(status, sizeof status, "Decoding stopped at %d %% -- %d digit%s", percent, (int)n,
             n == 1 ? "" : "s");
    SetWindowTextA(ui->status_label, status);
    return 1;
}

void rxpage_drop_decode(const RxPageUi *ui) {
    if (!rxpanel_decoding_file(ui->panel)) return;
    rxpanel_decode_file_stop(ui->panel);
    SetWindowTextA(decode_button(ui), DECODE_BUTTON_TEXT);
    SetWindowTextA(ui->status_label, RXPAGE_IDLE_TEXT);
}

static_assert(RX_MAX_DIGITS == 4096, "RXPAGE_FULL_TEXT names the size");

void rxpage_decode_summary(char *out, uint64_t size, const RxDigits *r) {
    if (!out || size == 0) return;
    uint64_t count = r->count;
    if (r->dropped)
        snprintf(out, (size_t)size, "%s", RXPAGE_FULL_TEXT);
    else if (count < 1)
        snprintf(out, (size_t)size, "%s", RXPAGE_NO_TONES_TEXT);
    else
        snprintf(out, (size_t)size, "Decoded %d digit%s from file", (int)count,
                 count == 1 ? "" : "s");
}

int32_t rxpage_store_digit(const RxPageUi *ui, int32_t digit) {
    RxDigits *r = &ui->panel->received;
    int32_t stored = rx_digits_add(r, digit);
    if (stored == 0 && r->dropped == 1) SetWindowTextA(ui->status_label, RXPAGE_FULL_TEXT);
    return stored == 1;
}

void rxpage_show_digits(HWND readout, const RxDigits *r) {
    static char text[RX_MAX_DIGITS + 2];
    if (r->count == 0) {
        SetWindowTextA(readout, " ");
        return;
    }
    rx_digits_chars(r, text, sizeof text);
    SetWindowTextA(readout, text);
}
