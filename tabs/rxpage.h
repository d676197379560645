/* rxpage -- the parts the receiving pages (Receive text, Image decode, Hex,
 * Server) share: building the listening block (buttons, LED and status line,
 * level meters, threshold slider), the listen toggle with its status texts
 * and "Microphone error" box, the meters, and decoding a WAV file at its own
 * rate. Everything here runs on the GUI thread.
 *
 * How a page uses it
 *
 *   Build (positions are the page's own; x is always 14 for the left edge):
 *     p->listen_button = rxpage_make_buttons(page, 14, IDC_RX_LISTEN);
 *                             // "Start listening", "Decode an audio file...",
 *                             // "Clear" with ids first, first + 1, first + 2
 *     rxpage_make_status_row(page, 50, &p->led, &p->status_label, IDC_RX_STATUS);
 *                             // LED at y + 3 (dark), "Microphone idle" at y
 *     rxpage_make_meters(page, 76, &p->row_meter, &p->col_meter);
 *                             // ROW/COL captions at y, bars (0-100) at y + 16
 *     p->threshold_bar = rxpage_make_threshold(page, 122, IDC_RX_THRESHOLD);
 *                             // slider 10-70 at 30 at y, caption at y + 6
 *   The Server page, whose status line and LED sit apart, makes its LED with
 *   rxpage_make_led and its own status label, and uses the rest as is.
 *
 *   Actions: describe the page's controls and panel with an RxPageUi, made
 *   afresh from the page's record whenever needed, and register it once at
 *   the end of the build (rxpage_register):
 *     static RxPageUi hex_ui(void) {
 *         RxPageUi u = { g_app.hex.listen_button, g_app.hex.led, g_app.hex.status_label,
 *                        g_app.hex.row_meter, g_app.hex.col_meter, &g_app.hex.panel };
 *         return u;
 *     }
 *     void hex_toggle_listen(void) { RxPageUi u = hex_ui(); rxpage_toggle_listen(&u); }
 *     void hex_on_meters(int32_t r, int32_t c) { RxPageUi u = hex_ui(); rxpage_set_meters(&u, r, c); }
 *
 *   Decoding a file is two steps, so that tests can skip the dialog:
 *     void hex_decode_file(void) {
 *         char path[260];
 *         if (rxpage_ask_wav_path(path, sizeof path)) hex_decode_path(path);
 *     }
 *     int32_t hex_decode_path(const char *path) {   // the testable step
 *         RxPageUi u = hex_ui();
 *         int32_t n = rxpage_decode_wav(&u, path, hex_clear, hex_on_digit);
 *         if (n >= 0) { rxpage_decode_summary(text, sizeof text, &u.panel->received); ... }
 *         return n < 0 ? -1 : 0;
 *     }
 *   rxpage_decode_wav stops listening (as the toggle does), calls the page's
 *   clear (which must reset the panel), shows "Decoding <name>...", reads the
 *   file, and then either shows the "Decode error" box and returns -1, or
 *   runs the panel's decoder with the page's digit handler and returns the
 *   panel's digit count.
 *
 *   Digits: a page's handler stores each with rxpage_store_digit (which
 *   says when the reception is full) and shows them with rxpage_show_digits;
 *   the pairs they complete come from the core's rx_digits_last_pair.
 */
#ifndef TESSARY_RXPAGE_H
#define TESSARY_RXPAGE_H

#include <windows.h>
#include <stdint.h>
#include "ui/ui.h"

#define RXPAGE_IDLE_TEXT      "Microphone idle"
#define RXPAGE_LISTENING_TEXT "Listening..."
#define RXPAGE_NO_TONES_TEXT  "No tones detected -- try lowering the threshold"
#define RXPAGE_FULL_TEXT      "Reception full (4096 digits) -- later digits dropped"

struct RxPageUi {
    HWND listen_button;
    HWND led;
    HWND status_label;
    HWND row_meter;
    HWND col_meter;
    RxPanel *panel;
    /* What the page does when another page takes its microphone; null:
     * the idle look of the listening block. */
    void (*displaced)(void);
};

/* ---- building ---- */
HWND rxpage_make_buttons(HWND page, int y, int first_id);
HWND rxpage_make_led(HWND page, int x, int y);
void rxpage_make_status_row(HWND page, int y, HWND *led, HWND *status_label, int status_id);
void rxpage_make_meters(HWND page, int caption_y, HWND *row_meter, HWND *col_meter);
HWND rxpage_make_threshold(HWND page, int y, int id);

/* ---- listening and meters ---- */
/* Once, at the end of the build: when another page (or a transmission)
 * takes the microphone from this page's panel, the page is switched to its
 * idle look (button, LED, "Microphone idle", meters 0) instead of going on
 * showing a listening state it no longer has. */
void rxpage_register(const RxPageUi *ui);
/* Starts or stops the panel by its listening flag. Returns 1 when the panel
 * listens afterwards, 0 otherwise (a failed start shows "Microphone error"
 * and leaves the controls as they were). */
int32_t rxpage_toggle_listen(const RxPageUi *ui);
/* Stops the panel if it listens, and shows the idle state. */
void rxpage_stop_listening(const RxPageUi *ui);
void rxpage_set_meters(const RxPageUi *ui, int32_t row, int32_t col);

/* ---- decoding a file ---- */
/* The open-file dialog: "WAV audio" / "All files", the file must exist.
 * Returns 1 with the path in `path`, 0 when the user cancelled. */
int32_t rxpage_ask_wav_path(char *path, uint64_t size);
/* See above. Returns the panel's digit count, or -1 when the file could not
 * be read (the user has been told). */
int32_t rxpage_decode_wav(const RxPageUi *ui, const char *path, void (*clear)(void),
                          RxDigitHandler on_digit);
/* "Decoded %d digit%s from file", the no-tones text for 0 digits, or the
 * full text when digits were dropped: a cut-off file must not look whole. */
void rxpage_decode_summary(char *out, uint64_t size, const RxDigits *r);

/* ---- received digits ---- */
/* Stores a digit in the panel's reception. Returns 1 when stored; 0 when
 * the reception is full, which the status line then says (once). */
int32_t rxpage_store_digit(const RxPageUi *ui, int32_t digit);
/* A digit readout: one character per digit, or " " when there are none. */
void rxpage_show_digits(HWND readout, const RxDigits *r);

#endif
