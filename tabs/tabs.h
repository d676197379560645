/* The seven pages of the tab strip: each page's builder and its actions
 * (their state is the page's sub-record of g_app). Builders and actions run on the GUI
 * thread; logic a test can call without a window lives beside them. */
#ifndef TESSARY_TABS_H
#define TESSARY_TABS_H

#include <windows.h>
#include <stdint.h>
#include "ui/ui.h"

/* ---- Transmit (text) ---- */
HWND build_tx_tab(HWND page);
void tx_encode_text(void);
void tx_play(void);
void tx_save(void);
/* Save's work after its dialog: renders and writes the WAV file, and tells
 * the user either way. Returns 0 when the file was written, else -1. */
int32_t tx_save_to(const char *path);

/* ---- Image encode ---- */
HWND build_img_enc_tab(HWND page);
void imgenc_set_active_color(int32_t color);
void imgenc_encode(void);
void imgenc_play(void);
void imgenc_save(void);
int32_t imgenc_save_to(const char *path); /* the save after its dialog; 0 or -1 */

/* ---- Receive (text) ---- */
HWND build_rx_tab(HWND page);
void rx_toggle_listen(void);
void rx_decode_file(void);
void rx_clear(void);
void rx_on_digit(int32_t digit);
void rx_on_meters(int32_t row, int32_t col);
void rx_update_digits_label(void);
/* Decode's work after its dialog. Returns 0, or -1 when the file could not
 * be read (the user has been told). */
int32_t rx_decode_path(const char *path);

/* ---- Image decode ---- */
HWND build_img_dec_tab(HWND page);
void imgdec_toggle_listen(void);
void imgdec_decode_file(void);
void imgdec_clear(void);
void imgdec_on_digit(int32_t digit);
void imgdec_on_meters(int32_t row, int32_t col);
int32_t imgdec_decode_path(const char *path); /* the decode after its dialog; 0 or -1 */
/* Status after a file decode that left `count` cells. */
void imgdec_status_text(char *out, uint64_t size, int32_t count);

/* ---- Hex (file) ---- */
HWND build_hex_tab(HWND page);
void hex_open_file_to_encode(void);
void hex_play(void);
void hex_save_audio(void);
void hex_toggle_listen(void);
void hex_decode_file(void);
void hex_clear(void);
void hex_save_to_file(void);
void hex_on_digit(int32_t digit);
void hex_on_meters(int32_t row, int32_t col);
void hex_update_digits_label(void);
/* The largest file the page sends: all that one reception holds (4096 digits). */
#define HEX_MAX_FILE_BYTES 1024
/* The file steps after their dialogs; each returns 0, or -1 after telling the user. */
int32_t hex_open_path(const char *path);
int32_t hex_save_audio_to(const char *path);
int32_t hex_decode_path(const char *path);
int32_t hex_save_bytes_to(const char *path);

/* ---- Reference ---- */
HWND build_ref_tab(HWND page);
HWND mk_cell(HWND page, const char *text, int x, int y, int width);

/* ---- Server ---- */
HWND build_server_tab(HWND page);
void servertab_filter_dir_in(void);
void servertab_on_text_in_change(void);
void servertab_send_click(void);
void servertab_stop_click(void);
void servertab_clear_click(void);
void servertab_on_digit(int32_t digit);
void servertab_on_meters(int32_t row, int32_t col);
void servertab_on_tx_complete(void);
void update_preview(void);
void update_rx_digits_label(void);
/* Keeps the digits 0-6 of `in`, at most four, in out (size >= 5); returns how many. */
uint32_t server_filter_dir(const char *in, char *out);
/* The WILL SEND text: dir as typed, then the message's digits; cut to size - 1. */
uint64_t server_preview_text(const char *dir, const char *message, char *out, uint64_t size);

#endif
