// Server page: a request (directory number, message, end marker) goes out,
// and once it has played the page listens and reads the answer as letters.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "tabs/tabs.h"
#include "tabs/rxpage.h"

#define PREVIEW_MAX 8192
#define MSG_MAX     4096

static ServerTab &S = g_app.server;

uint32_t server_filter_dir(const char *in, char *out) {
    uint32_t n = 0;
    for (const char *p = in; *p && n < 4; p++)
        if (*p >= '0' && *p <= '6') out[n++] = *p;
    out[n] = '\0';
    return n;
}

uint64_t server_preview_text(const char *dir, const char *message, char *out, uint64_t size) {
    if (size == 0) return 0;
    uint64_t n = 0;
    for (const char *p = dir; *p && n + 1 < size; p++) out[n++] = *p;
    uint64_t count = 0;
    uint32_t *digits = encode_text(message, &count);
    for (uint64_t i = 0; i < count && n + 1 < size; i++) out[n++] = (char)('0' + digits[i]);
    free(digits);
    out[n] = '\0';
    return n;
}

static void show_idle(void);

static RxPageUi server_ui(void) {
    RxPageUi u = {NULL,     S.led,     S.status_label, S.row_meter, S.col_meter,
                  &S.panel, show_idle, NULL,           NULL,        NULL};
    return u;
}

static void set_meters(int32_t row, int32_t col) {
    RxPageUi u = server_ui();
    rxpage_set_meters(&u, row, col);
}

/* Also when another page takes the microphone: the exchange is over. */
static void show_idle(void) {
    S.exchange_state = EXCHANGE_IDLE;
    set_led(S.led, 0, LED_ON_COLOR);
    SetWindowTextA(S.status_label, "Idle");
    set_meters(0, 0);
}

HWND build_server_tab(HWND page) {
    RECT rc;
    GetClientRect(page, &rc);
    int w = rc.right - rc.left;

    rxpanel_init(&S.panel, PANEL_SERVER, -1);
    S.response_text[0] = '\0';
    S.response_len = 0;
    S.exchange_state = EXCHANGE_IDLE;

    // The caption says what 0000 reaches, so it must not be cut: where the font
    // runs wider than 260 pixels the box moves right to make room.
    static const char dir_caption[] = "Dir (4 digits, 0-6) -- 0000 = AI assistant";
    int cap_w = text_width(page, g_app.font_small, dir_caption) + 2;
    int cap_box = cap_w > 260 ? cap_w : 260;
    mk_static(page, dir_caption, 14, 14, cap_box, 18, g_app.font_small, 1);
    S.dir_edit = mk_edit(page, 20 + cap_box, 12, 60, 24, IDC_SERVER_DIR_EDIT, g_app.font_text);
    SendMessageA(S.dir_edit, EM_LIMITTEXT, 4, 0);
    SetWindowTextA(S.dir_edit, "0000");
    mk_static(page, "Message (text)", 14, 40, w - 28, 18, g_app.font_small, 1);
    S.message_edit = mk_edit(page, 14, 62, 500, 26, IDC_SERVER_MSG_EDIT, g_app.font_text);
    S.send_button = mk_button(page, "Send", 522, 62, 80, 26, IDC_SERVER_SEND);
    S.stop_button = mk_button(page, "Stop", 610, 62, 80, 26, IDC_SERVER_STOP);
    mk_button(page, "Clear", 698, 62, 80, 26, IDC_SERVER_CLEAR);
    int y = 98;
    S.preview_label = mk_readout_label(page, "WILL SEND (digit stream: dir + text)", 14, &y, w - 28,
                                       g_app.font_text, IDC_SERVER_PREVIEW);
    S.status_label = mk_static(page, "Idle", 14, 164, w - 28, 18, g_app.font_small, 1);
    set_control_id(S.status_label, IDC_SERVER_STATUS);
    S.led = rxpage_make_led(page, 14, 191);
    rxpage_make_meters(page, 210, &S.row_meter, &S.col_meter);
    S.threshold_bar = rxpage_make_threshold(page, 256, IDC_SERVER_THRESHOLD);
    y = 296;
    S.rx_digits_label = mk_readout_label(page, "RESPONSE (digit stream)", 14, &y, w - 28,
                                         g_app.font_text, IDC_SERVER_RX_DIGITS);
    S.response_label = mk_readout_label(page, "RESPONSE (text)", 14, &y, w - 28, g_app.font_readout,
                                        IDC_SERVER_RESPONSE);

    update_preview();
    RxPageUi u = server_ui();
    rxpage_register(&u);
    return page;
}

void servertab_filter_dir_in(void) {
    char text[64], kept[8];
    GetWindowTextA(S.dir_edit, text, sizeof text);
    server_filter_dir(text, kept);
    if (strcmp(kept, text) == 0) return; // also ends the change our own rewrite causes
    DWORD start = 0;
    SendMessageA(S.dir_edit, EM_GETSEL, (WPARAM)&start, 0);
    SetWindowTextA(S.dir_edit, kept);
    SendMessageA(S.dir_edit, EM_SETSEL, start, start);
}

void update_preview(void) {
    char dir[64];
    static char message[MSG_MAX];
    static char preview[PREVIEW_MAX + 1];
    GetWindowTextA(S.dir_edit, dir, sizeof dir);
    GetWindowTextA(S.message_edit, message, sizeof message);
    server_preview_text(dir, message, preview, sizeof preview);
    SetWindowTextA(S.preview_label, preview[0] ? preview : " ");
}

void servertab_on_text_in_change(void) { update_preview(); }

void update_rx_digits_label(void) { rxpage_show_digits(S.rx_digits_label, &S.panel.received); }

static void clear_response(void) {
    rxpanel_reset(&S.panel);
    update_rx_digits_label();
    S.response_len = 0;
    S.response_text[0] = '\0';
    SetWindowTextA(S.response_label, "");
}

void servertab_send_click(void) {
    char dir[64];
    static char message[MSG_MAX];
    GetWindowTextA(S.dir_edit, dir, sizeof dir);
    GetWindowTextA(S.message_edit, message, sizeof message);
    char kept[8];
    if (strlen(dir) != 4 || server_filter_dir(dir, kept) != 4) {
        app_box(BOX_ERROR, "Server", "Enter exactly 4 dir digits (0-6) first.");
        return;
    }

    rxpanel_stop_active();
    set_led(S.led, 0, LED_ON_COLOR);

    SampleBuf buf;
    sb_init(&buf);
    if (build_request_samples(dir, message, &buf) == 0) {
        S.exchange_state = EXCHANGE_SENDING;
        SetWindowTextA(S.status_label, "Sending...");
        start_tx(&buf);
    }
    sb_free(&buf);
}

void servertab_on_tx_complete(void) {
    if (S.exchange_state != EXCHANGE_SENDING) return;
    clear_response();
    char err[256];
    if (rxpanel_start_listening(&S.panel, err, sizeof err)) {
        S.exchange_state = EXCHANGE_LISTENING;
        set_led(S.led, 1, LED_ON_COLOR);
        SetWindowTextA(S.status_label, "Listening for response...");
    } else {
        S.exchange_state = EXCHANGE_IDLE;
        app_box(BOX_ERROR, "Microphone error", err);
        SetWindowTextA(S.status_label, "Idle (mic error)");
    }
}

void servertab_on_digit(int32_t digit) {
    RxPageUi u = server_ui();
    if (!rxpage_store_digit(&u, digit)) return;
    update_rx_digits_label();
    char c = rx_digits_last_pair(&S.panel.received, RX_READ_TEXT);
    if (!c || S.response_len >= RX_TEXT_MAX - 1) return;
    S.response_text[S.response_len++] = c;
    S.response_text[S.response_len] = '\0';
    SetWindowTextA(S.response_label, S.response_text);
}

void servertab_stop_click(void) {
    if (S.panel.listening) rxpanel_stop_listening(&S.panel);
    show_idle();
}

void servertab_clear_click(void) { clear_response(); }

void servertab_on_meters(int32_t row, int32_t col) { set_meters(row, col); }
