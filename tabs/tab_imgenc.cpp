// Image encode page: an 8x8 canvas painted in the seven palette colours and
// sent as 64 digits, one per pixel, row by row from the top-left cell.
#include <stdio.h>
#include <string.h>
#include "tabs/tabs.h"
#include "tabs/pagefile.h"

static ImgEncTab &T = g_app.imgenc;

HWND build_img_enc_tab(HWND page) {
    RECT rc;
    GetClientRect(page, &rc);
    int w = rc.right - rc.left;

    for (int i = 0; i < IMG_PIXELS; i++) T.pixels[i] = 1;
    T.active_color = 0;

    mk_static(page,
              "Each of the 64 pixels stores one color 0-6, sent as one DTMF tone per pixel. "
              "Pick a color, click cells to paint, then encode.",
              14, 14, w - 28, 32, g_app.font_small, 1);
    mk_static(page, "PALETTE", 14, 54, 200, 16, g_app.font_small, 1);
    for (int i = 0; i < 7; i++)
        T.swatches[i] =
            mk_swatch(page, 14 + 30 * i, 74, i, &T.active_color, imgenc_set_active_color);
    T.grid = mk_pixel_grid(page, 14, 110, T.pixels, &T.active_color);

    mk_button(page, "Encode image", 364, 54, 110, 26, IDC_IMGENC_ENCODE);
    T.play_button = mk_button(page, "Play tones", 482, 54, 100, 26, IDC_IMGENC_PLAY);
    T.save_button = mk_button(page, "Save audio (.wav)", 590, 54, 150, 26, IDC_IMGENC_SAVE);
    int y = 94;
    int rw = w - 378 > 200 ? w - 378 : 200;
    T.digits_label = mk_readout_label(page, "DIGIT STREAM (64 digits)", 364, &y, rw,
                                      g_app.font_readout, IDC_IMGENC_DIGITS);

    imgenc_encode();
    return page;
}

void imgenc_set_active_color(int32_t color) {
    // The canvas writes whatever is active, so only palette indices may get in.
    if (color < 0 || color > 6) return;
    T.active_color = color;
    for (int i = 0; i < 7; i++) InvalidateRect(T.swatches[i], NULL, FALSE);
}

void imgenc_encode(void) {
    char text[IMG_PIXELS + 1];
    for (int k = 0; k < IMG_PIXELS; k++) {
        T.digits[k] = T.pixels[k];
        text[k] = (char)('0' + (T.pixels[k] & 0xFF));
    }
    text[IMG_PIXELS] = '\0';
    SetWindowTextA(T.digits_label, text);
    EnableWindow(T.play_button, TRUE);
    EnableWindow(T.save_button, TRUE);
}

void imgenc_play(void) {
    uint32_t digits[IMG_PIXELS];
    for (int k = 0; k < IMG_PIXELS; k++) digits[k] = (uint32_t)T.digits[k];
    SampleBuf buf;
    sb_init(&buf);
    if (build_full_samples(digits, IMG_PIXELS, &buf) == 0) start_tx(&buf);
    sb_free(&buf);
}

int32_t imgenc_save_to(const char *path) {
    uint32_t digits[IMG_PIXELS];
    for (int k = 0; k < IMG_PIXELS; k++) digits[k] = (uint32_t)T.digits[k];
    SampleBuf buf;
    sb_init(&buf);
    int32_t rc = -1;
    if (build_full_samples(digits, IMG_PIXELS, &buf) == 0) rc = save_wav_reporting(path, &buf);
    sb_free(&buf);
    return rc;
}

void imgenc_save(void) {
    char path[260] = "dtmf-image.wav";
    if (!ask_save_path(path, sizeof path, "WAV audio\0*.wav\0", "wav", 1)) return;
    imgenc_save_to(path);
}
