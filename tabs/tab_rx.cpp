/* The "Receive (text)" page: listens or decodes a WAV file on panel 0 and
 * shows the digits and the text their pairs spell. GUI thread only. */
#include "tabs/tabs.h"
#include "tabs/rxpage.h"

#include <stdio.h>

static int32_t take_digit(int32_t digit);
static void show_reception(void);

static RxPageUi rx_ui(void) {
    RxTab *t = &g_app.rx;
    RxPageUi u = {t->listen_button, t->led, t->status_label, t->row_meter,   t->col_meter,
                  &t->panel,        NULL,   take_digit,      show_reception, NULL};
    return u;
}

HWND build_rx_tab(HWND page) {
    RxTab *t = &g_app.rx;
    rxpanel_init(&t->panel, PANEL_RX, -1);
    t->text_len = 0;
    t->text[0] = 0;

    t->listen_button = rxpage_make_buttons(page, 14, IDC_RX_LISTEN);
    rxpage_make_status_row(page, 50, &t->led, &t->status_label, IDC_RX_STATUS);
    rxpage_make_meters(page, 76, &t->row_meter, &t->col_meter);
    t->threshold_bar = rxpage_make_threshold(page, 122, IDC_RX_THRESHOLD);

    RECT rc;
    GetClientRect(page, &rc);
    int w = (int)(rc.right - rc.left) - 28;
    int y = 162;
    t->digits_label =
        mk_readout_label(page, "DIGIT STREAM", 14, &y, w, g_app.font_readout, IDC_RX_DIGITS);
    t->text_label =
        mk_readout_label(page, "DECODED TEXT", 14, &y, w, g_app.font_readout, IDC_RX_TEXT);

    RxPageUi u = rx_ui();
    rxpage_register(&u);
    return page;
}

void rx_toggle_listen(void) {
    RxPageUi u = rx_ui();
    rxpage_toggle_listen(&u);
}

void rx_clear(void) {
    RxTab *t = &g_app.rx;
    RxPageUi u = rx_ui();
    rxpage_drop_decode(&u);
    rxpanel_reset(&t->panel);
    t->text_len = 0;
    t->text[0] = 0;
    SetWindowTextA(t->digits_label, " ");
    SetWindowTextA(t->text_label, "");
}

void rx_update_digits_label(void) {
    rxpage_show_digits(g_app.rx.digits_label, &g_app.rx.panel.received);
}

/* Stores the digit and the letter its pair completes; 1 when stored. */
static int32_t take_digit(int32_t digit) {
    RxTab *t = &g_app.rx;
    RxPageUi u = rx_ui();
    if (!rxpage_store_digit(&u, digit)) return 0;
    char c = rx_digits_last_pair(&t->panel.received, RX_READ_TEXT);
    if (c && t->text_len < RX_TEXT_MAX - 1) {
        t->text[t->text_len++] = c;
        t->text[t->text_len] = 0;
    }
    return 1;
}

static void show_reception(void) {
    rx_update_digits_label();
    SetWindowTextA(g_app.rx.text_label, g_app.rx.text);
}

void rx_on_digit(int32_t digit) {
    if (take_digit(digit)) show_reception();
}

void rx_on_meters(int32_t row, int32_t col) {
    RxPageUi u = rx_ui();
    rxpage_set_meters(&u, row, col);
}

int32_t rx_decode_path(const char *path) {
    RxPageUi u = rx_ui();
    return rxpage_decode_wav(&u, path, rx_clear);
}

void rx_decode_file(void) {
    RxPageUi u = rx_ui();
    char path[260];
    if (!rxpage_stop_decode(&u) && rxpage_ask_wav_path(path, sizeof path)) rx_decode_path(path);
}
