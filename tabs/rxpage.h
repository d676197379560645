/* rxpage -- the parts the receiving pages (Receive text, Image decode, Hex,
 * Server) share: building the listening block (buttons, LED and status line,
 * level meters, threshold slider), the listen toggle with its status texts
 * and "Microphone error" box, the meters, and decoding a WAV file through
 * the core's decode stream. Everything here runs on the GUI thread.
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
 *   Actions: describe the page's controls, panel and digit handling with an
 *   RxPageUi, made afresh from the page's record whenever needed, and
 *   register it once at the end of the build (rxpage_register):
 *     static RxPageUi hex_ui(void) {
 *         RxPageUi u = { g_app.hex.listen_button, g_app.hex.led, g_app.hex.status_label,
 *                        g_app.hex.row_meter, g_app.hex.col_meter, &g_app.hex.panel, NULL,
 *                        hex_take_digit, hex_show_reception, NULL };
 *         return u;
 *     }
 *     void hex_toggle_listen(void) { RxPageUi u = hex_ui(); rxpage_toggle_listen(&u); }
 *     void hex_on_meters(int32_t r, int32_t c) { RxPageUi u = hex_ui(); rxpage_set_meters(&u, r, c); }
 *
 *   Decoding a file is two steps, so that tests can skip the dialog; the
 *   decode button stops a decode that runs:
 *     void hex_decode_file(void) {
 *         RxPageUi u = hex_ui();
 *         char path[260];
 *         if (!rxpage_stop_decode(&u) && rxpage_ask_wav_path(path, sizeof path))
 *             hex_decode_path(path);
 *     }
 *     int32_t hex_decode_path(const char *path) {   // the testable step
 *         RxPageUi u = hex_ui();
 *         return rxpage_decode_wav(&u, path, hex_clear);
 *     }
 *   rxpage_decode_wav stops listening (as the toggle does), calls the page's
 *   clear (which must reset the panel), shows "Decoding <name>...", opens the
 *   file, and then either shows the "Decode error" box and returns -1, or
 *   starts the panel's file decode and returns 0. The decode runs on its own
 *   thread; on the GUI thread (WM_APP_FILE, rxpage_file_news) each digit it
 *   found goes to the page's take, the page's show redraws the readouts once
 *   per batch, the status line says "Decoding <name>... 40 %", and at the end
 *   the page's decoded sets its summary (by default rxpage_decode_summary's). Clear, the
 *   listen button and another file end a decode first.
 *
 *   Digits: a page's take stores each with rxpage_store_digit (which says
 *   when the reception is full); its show draws them with rxpage_show_digits;
 *   the pairs they complete come from the core's rx_digits_last_pair. The
 *   live handler (WM_APP_DIGIT) is take and then show.
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
    /* A digit into the reception without redrawing (1 when stored); the
     * readouts redrawn; the status line once a file decode has ended (null:
     * rxpage_decode_summary's text). */
    int32_t (*take)(int32_t digit);
    void (*show)(void);
    void (*decoded)(void);
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
/* See above. Returns 0 once the decode runs, or -1 when the file could not
 * be read (the user has been told). */
int32_t rxpage_decode_wav(const RxPageUi *ui, const char *path, void (*clear)(void));
/* WM_APP_FILE for the page registered with that panel id. */
void rxpage_file_news(int32_t panel_id);
/* Ends the page's file decode, keeping the digits found so far, and says
 * so in the status line. Returns 1 when one was running. */
int32_t rxpage_stop_decode(const RxPageUi *ui);
/* Ends it quietly (the page is clearing): the listening block looks idle. */
void rxpage_drop_decode(const RxPageUi *ui);
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
