// Image decode page: the first 64 digits heard become the 8x8 picture, row
// by row from the top-left cell; later digits are ignored until Clear.
#include <stdio.h>
#include "tabs/tabs.h"
#include "tabs/rxpage.h"

static ImgDecTab &D = g_app.imgdec;

static int32_t take_digit(int32_t digit);
static void show_reception(void);
static void decode_done(void);

static RxPageUi imgdec_ui(void) {
    RxPageUi u = {D.listen_button, D.led, D.status_label, D.row_meter,    D.col_meter,
                  &D.panel,        NULL,  take_digit,     show_reception, decode_done};
    return u;
}

HWND build_img_dec_tab(HWND page) {
    RECT rc;
    GetClientRect(page, &rc);
    int w = rc.right - rc.left;

    rxpanel_init(&D.panel, PANEL_IMGDEC, IMG_PIXELS);
    for (int i = 0; i < IMG_PIXELS; i++) D.pixels[i] = -1;

    D.listen_button = rxpage_make_buttons(page, 14, IDC_IMGDEC_LISTEN);
    rxpage_make_status_row(page, 50, &D.led, &D.status_label, IDC_IMGDEC_STATUS);
    rxpage_make_meters(page, 76, &D.row_meter, &D.col_meter);
    D.threshold_bar = rxpage_make_threshold(page, 122, IDC_IMGDEC_THRESHOLD);
    mk_static(page, "DECODED IMAGE", 14, 168, 200, 16, g_app.font_small, 1);
    D.grid = mk_pixel_grid(page, 14, 188, D.pixels, NULL);
    int y = 168;
    int rw = w - 378 > 200 ? w - 378 : 200;
    D.digits_label =
        mk_readout_label(page, "DIGIT STREAM", 364, &y, rw, g_app.font_readout, IDC_IMGDEC_DIGITS);
    RxPageUi u = imgdec_ui();
    rxpage_register(&u);
    return page;
}

/* The picture is the first 64 digits; the rest are ignored until Clear. */
static int32_t take_digit(int32_t digit) {
    if (rx_digits_add(&D.panel.received, digit) != 1) return 0;
    int32_t n = (int32_t)D.panel.received.count;
    D.pixels[n - 1] = digit;
    if (n == IMG_PIXELS) {
        char status[64];
        snprintf(status, sizeof status, "Image complete (%d/%d pixels)", IMG_PIXELS, IMG_PIXELS);
        SetWindowTextA(D.status_label, status);
    }
    return 1;
}

static void show_reception(void) {
    rxpage_show_digits(D.digits_label, &D.panel.received);
    InvalidateRect(D.grid, NULL, FALSE);
}

void imgdec_on_digit(int32_t digit) {
    if (take_digit(digit)) show_reception();
}

void imgdec_on_meters(int32_t row, int32_t col) {
    RxPageUi u = imgdec_ui();
    rxpage_set_meters(&u, row, col);
}

void imgdec_toggle_listen(void) {
    RxPageUi u = imgdec_ui();
    rxpage_toggle_listen(&u);
}

void imgdec_clear(void) {
    RxPageUi u = imgdec_ui();
    rxpage_drop_decode(&u);
    rxpanel_reset(&D.panel);
    for (int i = 0; i < IMG_PIXELS; i++) D.pixels[i] = -1;
    SetWindowTextA(D.digits_label, " ");
    InvalidateRect(D.grid, NULL, FALSE);
}

void imgdec_status_text(char *out, uint64_t size, int32_t count) {
    if (count >= IMG_PIXELS)
        snprintf(out, size, "Decoded full image (%d/%d pixels)", count, IMG_PIXELS);
    else if (count < 1)
        snprintf(out, size, "%s", RXPAGE_NO_TONES_TEXT);
    else
        snprintf(out, size, "Decoded %d/%d pixels -- try lowering the threshold", count,
                 IMG_PIXELS);
}

static void decode_done(void) {
    char status[96];
    imgdec_status_text(status, sizeof status, (int32_t)D.panel.received.count);
    SetWindowTextA(D.status_label, status);
}

int32_t imgdec_decode_path(const char *path) {
    RxPageUi u = imgdec_ui();
    return rxpage_decode_wav(&u, path, imgdec_clear);
}

void imgdec_decode_file(void) {
    RxPageUi u = imgdec_ui();
    char path[260];
    if (!rxpage_stop_decode(&u) && rxpage_ask_wav_path(path, sizeof path)) imgdec_decode_path(path);
}
