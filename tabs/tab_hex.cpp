// Hex (file) page: any file goes out as four digits per byte (each hex
// nibble as two base-6 digits); received pairs come back as hex characters
// and the bytes they spell are saved untouched.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "tabs/tabs.h"
#include "tabs/pagefile.h"
#include "tabs/rxpage.h"

static HexTab &H = g_app.hex;

static int32_t take_digit(int32_t digit);
static void show_reception(void);

/* Whole minutes (rounded up) that n digits take at the slowest speed. */
static int slowest_minutes(uint64_t n) {
    double tone, gap;
    speed_to_tone_gap(SPEED_MIN_PERCENT, &tone, &gap);
    const uint64_t minute = 60 * (uint64_t)DTMF_SAMPLE_RATE;
    return (int)((digit_block_samples(n, tone, gap) - BLOCK_PAUSE_SAMPLES + minute - 1) / minute);
}

static RxPageUi hex_ui(void) {
    RxPageUi u = {H.listen_button, H.led, H.status_label, H.row_meter,    H.col_meter,
                  &H.panel,        NULL,  take_digit,     show_reception, NULL};
    return u;
}

HWND build_hex_tab(HWND page) {
    RECT rc;
    GetClientRect(page, &rc);
    int w = rc.right - rc.left;

    rxpanel_init(&H.panel, PANEL_HEX, -1);
    H.hex_text[0] = '\0';
    H.hex_len = 0;

    mk_static(page,
              "Encode: open any file -- its bytes become a hex string, sent as base-6 digit pairs "
              "(two tones per hex nibble, digits 0-5 only). Decode: listen or load an audio file, "
              "then save the recovered bytes.",
              14, 14, w - 28, 32, g_app.font_small, 1);
    mk_static(page, "ENCODE", 14, 58, 200, 16, g_app.font_small, 5);
    mk_button(page, "Open file to encode...", 14, 80, 170, 26, IDC_HEX_OPEN);
    H.play_button = mk_button(page, "Play tones", 192, 80, 100, 26, IDC_HEX_PLAY);
    EnableWindow(H.play_button, FALSE);
    H.save_audio_button =
        mk_button(page, "Save audio (.wav)", 300, 80, 150, 26, IDC_HEX_SAVE_AUDIO);
    EnableWindow(H.save_audio_button, FALSE);
    H.file_label = mk_static(page, "No file loaded", 14, 114, w - 28, 16, g_app.font_small, 1);
    set_control_id(H.file_label, IDC_HEX_FILE);
    int y = 136;
    H.tx_digits_label = mk_readout_label(page, "DIGIT STREAM", 14, &y, w - 28, g_app.font_readout,
                                         IDC_HEX_TX_DIGITS);

    mk_static(page, "DECODE", 14, 212, 200, 16, g_app.font_small, 5);
    H.listen_button = rxpage_make_buttons(page, 234, IDC_HEX_LISTEN);
    H.save_hex_button = mk_button(page, "Save hex to file...", 408, 234, 150, 26, IDC_HEX_SAVE_HEX);
    EnableWindow(H.save_hex_button, FALSE);
    rxpage_make_status_row(page, 268, &H.led, &H.status_label, IDC_HEX_STATUS);
    rxpage_make_meters(page, 292, &H.row_meter, &H.col_meter);
    H.threshold_bar = rxpage_make_threshold(page, 338, IDC_HEX_THRESHOLD);
    y = 378;
    H.rx_digits_label = mk_readout_label(page, "DIGIT STREAM", 14, &y, w - 28, g_app.font_readout,
                                         IDC_HEX_RX_DIGITS);
    H.hex_label =
        mk_readout_label(page, "DECODED HEX", 14, &y, w - 28, g_app.font_readout, IDC_HEX_TEXT);
    RxPageUi u = hex_ui();
    rxpage_register(&u);
    return page;
}

/* ---- ENCODE ---- */

static void refuse_file(const char *title, const char *fmt, const char *name, long long size) {
    char msg[700];
    snprintf(msg, sizeof msg, fmt, name, size);
    app_box(BOX_ERROR, title, msg);
}

int32_t hex_open_path(const char *path) {
    const char *name = filename_only(path);
    FILE *f = fopen(path, "rb");
    if (!f) {
        app_box(BOX_ERROR, "Open failed", "Could not open that file.");
        return -1;
    }
    long long size = -1;
    if (_fseeki64(f, 0, SEEK_END) == 0) size = _ftelli64(f);
    if (size < 0 || _fseeki64(f, 0, SEEK_SET) != 0) {
        fclose(f);
        refuse_file("Open failed", "Could not determine the size of %s.", name, 0);
        return -1;
    }
    if (size > HEX_MAX_FILE_BYTES) {
        fclose(f);
        char fmt[400];
        snprintf(fmt, sizeof fmt,
                 "%%s -- %%lld bytes is too large to send.\n\n"
                 "The largest file is %d bytes -> %d hex chars -> %d tones: all that one "
                 "reception can hold, and about %d minutes of tones at the slowest speed.",
                 HEX_MAX_FILE_BYTES, HEX_MAX_FILE_BYTES * 2, HEX_MAX_FILE_BYTES * 4,
                 slowest_minutes(HEX_MAX_FILE_BYTES * 4));
        refuse_file("File too large", fmt, name, size);
        return -1;
    }

    uint8_t *bytes = (uint8_t *)malloc(size > 0 ? (size_t)size : 1);
    size_t got = bytes ? fread(bytes, 1, (size_t)size, f) : 0;
    fclose(f);
    if (!bytes || got != (size_t)size) {
        free(bytes);
        app_box(BOX_ERROR, "Open failed", "Could not read that file.");
        return -1;
    }

    free(H.tx_digits);
    H.tx_digits = encode_bytes_hex(bytes, (uint64_t)size, &H.tx_digit_count);
    free(bytes);

    char line[356];
    snprintf(line, sizeof line, "%s -- %ld bytes -> %llu hex chars -> %llu tones", name, (long)size,
             (unsigned long long)(H.tx_digit_count / 2), (unsigned long long)H.tx_digit_count);
    SetWindowTextA(H.file_label, line);

    if (H.tx_digit_count) {
        char *text = (char *)malloc(H.tx_digit_count + 1);
        for (uint64_t i = 0; i < H.tx_digit_count; i++) text[i] = (char)('0' + H.tx_digits[i]);
        text[H.tx_digit_count] = '\0';
        SetWindowTextA(H.tx_digits_label, text);
        free(text);
    } else {
        SetWindowTextA(H.tx_digits_label, "(nothing to encode)");
    }
    EnableWindow(H.play_button, H.tx_digit_count != 0);
    EnableWindow(H.save_audio_button, H.tx_digit_count != 0);
    return 0;
}

void hex_open_file_to_encode(void) {
    char path[260] = "";
    if (ask_open_path(path, sizeof path, "All files\0*.*\0")) hex_open_path(path);
}

void hex_play(void) {
    if (H.tx_digit_count == 0) return;
    SampleBuf buf;
    sb_init(&buf);
    if (build_full_samples(H.tx_digits, H.tx_digit_count, &buf) == 0) start_tx(&buf);
    sb_free(&buf);
}

int32_t hex_save_audio_to(const char *path) {
    if (H.tx_digit_count == 0) return -1;
    SampleBuf buf;
    sb_init(&buf);
    int32_t rc = -1;
    if (build_full_samples(H.tx_digits, H.tx_digit_count, &buf) == 0)
        rc = save_wav_reporting(path, &buf);
    sb_free(&buf);
    return rc;
}

void hex_save_audio(void) {
    if (H.tx_digit_count == 0) return;
    char path[260] = "dtmf-hex.wav";
    if (ask_save_path(path, sizeof path, "WAV audio\0*.wav\0", "wav", 1)) hex_save_audio_to(path);
}

/* ---- DECODE ---- */

void hex_update_digits_label(void) { rxpage_show_digits(H.rx_digits_label, &H.panel.received); }

/* Stores the digit and the hex character its pair completes; 1 when stored. */
static int32_t take_digit(int32_t digit) {
    RxPageUi u = hex_ui();
    if (!rxpage_store_digit(&u, digit)) return 0;
    char c = rx_digits_last_pair(&H.panel.received, RX_READ_HEX);
    if (c && H.hex_len < RX_TEXT_MAX - 1) {
        H.hex_text[H.hex_len++] = c;
        H.hex_text[H.hex_len] = '\0';
    }
    return 1;
}

static void show_reception(void) {
    hex_update_digits_label();
    SetWindowTextA(H.hex_label, H.hex_text);
    EnableWindow(H.save_hex_button, H.hex_len > 0);
}

void hex_on_digit(int32_t digit) {
    if (take_digit(digit)) show_reception();
}

void hex_on_meters(int32_t row, int32_t col) {
    RxPageUi u = hex_ui();
    rxpage_set_meters(&u, row, col);
}

void hex_toggle_listen(void) {
    RxPageUi u = hex_ui();
    rxpage_toggle_listen(&u);
}

void hex_clear(void) {
    RxPageUi u = hex_ui();
    rxpage_drop_decode(&u);
    rxpanel_reset(&H.panel);
    H.hex_len = 0;
    H.hex_text[0] = '\0';
    SetWindowTextA(H.rx_digits_label, " ");
    SetWindowTextA(H.hex_label, "");
    EnableWindow(H.save_hex_button, FALSE);
}

int32_t hex_decode_path(const char *path) {
    RxPageUi u = hex_ui();
    return rxpage_decode_wav(&u, path, hex_clear);
}

void hex_decode_file(void) {
    RxPageUi u = hex_ui();
    char path[260];
    if (!rxpage_stop_decode(&u) && rxpage_ask_wav_path(path, sizeof path)) hex_decode_path(path);
}

/* The received bytes, or null after telling the user why they cannot be saved. */
static uint8_t *decoded_bytes(uint64_t *n) {
    const char *why = NULL;
    uint8_t *bytes = hex_string_to_bytes(H.hex_text, (uint64_t)H.hex_len, n, &why);
    if (!bytes) app_box(BOX_ERROR, "Cannot save", why);
    return bytes;
}

static int32_t write_bytes(const char *path, const uint8_t *bytes, uint64_t n) {
    char msg[400];
    FILE *f = fopen(path, "wb");
    int ok = f != NULL;
    if (f) {
        ok = fwrite(bytes, 1, (size_t)n, f) == (size_t)n;
        ok = (fclose(f) == 0) && ok;
        // A short file must not pass for the received data.
        if (!ok) remove(path);
    }
    if (!ok) {
        snprintf(msg, sizeof msg, "Could not write that file.\n\n%s", path);
        app_box(BOX_ERROR, "Save failed", msg);
        return -1;
    }
    snprintf(msg, 308, "Saved %llu bytes to %s", (unsigned long long)n, path);
    app_box(BOX_SAVED, "Saved", msg);
    return 0;
}

int32_t hex_save_bytes_to(const char *path) {
    if (H.hex_len == 0) return -1;
    uint64_t n = 0;
    uint8_t *bytes = decoded_bytes(&n);
    if (!bytes) return -1;
    int32_t rc = write_bytes(path, bytes, n);
    free(bytes);
    return rc;
}

void hex_save_to_file(void) {
    if (H.hex_len == 0) return;
    uint64_t n = 0;
    uint8_t *bytes = decoded_bytes(&n);
    if (!bytes) return;
    char path[260] = "decoded-output";
    // Replacing an existing file is asked for, as every other save does.
    if (ask_save_path(path, sizeof path, "All files\0*.*\0", NULL, 1)) write_bytes(path, bytes, n);
    free(bytes);
}
