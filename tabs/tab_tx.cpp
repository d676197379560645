/* The "Transmit (text)" page: encodes a line of text into the letter code,
 * shows the digits, and plays or saves them. GUI thread only. */
#include "tabs/tabs.h"
#include "tabs/pagefile.h"

#include <stdlib.h>
#include <string.h>

HWND build_tx_tab(HWND page) {
    TxTab *t = &g_app.tx;
    RECT rc;
    GetClientRect(page, &rc);
    int w = (int)(rc.right - rc.left) - 28;

    mk_static(page, "Text to send", 14, 14, w, 18, g_app.font_small, 1);
    t->text_edit = mk_edit(page, 14, 36, w, 26, IDC_TX_TEXT_EDIT, g_app.font_text);
    SetWindowTextA(t->text_edit, "coffee");
    mk_button(page, "Encode", 14, 72, 90, 26, IDC_TX_ENCODE);
    t->play_button = mk_button(page, "Play tones", 112, 72, 100, 26, IDC_TX_PLAY);
    t->save_button = mk_button(page, "Save audio (.wav)", 220, 72, 150, 26, IDC_TX_SAVE);
    int y = 112;
    t->digits_label =
        mk_readout_label(page, "DIGIT STREAM", 14, &y, w, g_app.font_readout, IDC_TX_DIGITS);
    EnableWindow(t->play_button, FALSE);
    EnableWindow(t->save_button, FALSE);
    tx_encode_text();
    return page;
}

void tx_encode_text(void) {
    TxTab *t = &g_app.tx;
    char text[4096];
    text[0] = 0;
    GetWindowTextA(t->text_edit, text, sizeof text);

    free(t->tx_digits);
    t->tx_digit_count = 0;
    t->tx_digits = encode_text(text, &t->tx_digit_count);
    if (!t->tx_digits) t->tx_digit_count = 0;

    char *shown = t->tx_digit_count ? (char *)malloc(t->tx_digit_count + 1) : NULL;
    if (!shown) {
        // An empty stream, or one too large to show: nothing that could be sent.
        t->tx_digit_count = 0;
        SetWindowTextA(t->digits_label, "(nothing to encode)");
        EnableWindow(t->play_button, FALSE);
        EnableWindow(t->save_button, FALSE);
        return;
    }
    for (uint64_t i = 0; i < t->tx_digit_count; i++) shown[i] = (char)('0' + t->tx_digits[i]);
    shown[t->tx_digit_count] = 0;
    SetWindowTextA(t->digits_label, shown);
    free(shown);
    EnableWindow(t->play_button, TRUE);
    EnableWindow(t->save_button, TRUE);
}

void tx_play(void) {
    TxTab *t = &g_app.tx;
    if (t->tx_digit_count == 0) return;
    SampleBuf buf;
    sb_init(&buf);
    if (build_full_samples(t->tx_digits, t->tx_digit_count, &buf) == 0) start_tx(&buf);
    sb_free(&buf);
}

int32_t tx_save_to(const char *path) {
    TxTab *t = &g_app.tx;
    if (t->tx_digit_count == 0 || !path) return -1;
    SampleBuf buf;
    sb_init(&buf);
    if (build_full_samples(t->tx_digits, t->tx_digit_count, &buf) != 0) {
        sb_free(&buf);
        return -1;
    }
    int32_t rc = save_wav_reporting(path, &buf);
    sb_free(&buf);
    return rc;
}

void tx_save(void) {
    if (g_app.tx.tx_digit_count == 0) return;
    char path[260] = "dtmf-text.wav";
    if (ask_save_path(path, sizeof path, "WAV audio\0*.wav\0", "wav", 1)) tx_save_to(path);
}
