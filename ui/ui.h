/* The services every page shares: the control factory and colour theme,
 * the program's own window classes, and transmit scheduling with the
 * header's station-ID controls. GUI thread only. */
#ifndef TESSARY_UI_H
#define TESSARY_UI_H

#include <windows.h>
#include <stdint.h>
#include "core/dtmf_core.h"
#include "ui/appstate.h"
#include "ui/ids.h"

#define LED_ON_COLOR RGB(255, 107, 94)

/* ---- control factory and theme (ui/controls) ----
 * Theme tags, kept in each static's user-data slot: 1 label on the panel,
 * 2 label on the window background, 3 readout, 4 table cell, 5 heading. */
HWND mk_static(HWND parent, const char *text, int x, int y, int w, int h, HFONT font, int tag);
HWND mk_button(HWND parent, const char *text, int x, int y, int w, int h, int id);
HWND mk_checkbox(HWND parent, const char *text, int x, int y, int w, int h, int id);
HWND mk_edit(HWND parent, int x, int y, int w, int h, int id, HFONT font);
/* A caption at *y and below it a readout box 40 pixels high (ui/readout):
 * read-only, scrolls when it holds more than it shows, its text can be
 * selected and copied. Moves *y past both. `id` lets tests and tools find
 * the box. */
HWND mk_readout_label(HWND parent, const char *caption, int x, int *y, int w, HFONT font, int id);
/* Statics that change at run time get an id too. */
void set_control_id(HWND control, int id);
/* WM_CTLCOLORSTATIC for the main window and the pages (readouts ask
 * through it too). */
HBRUSH theme_ctlcolor(HDC dc, HWND control);
const char *filename_only(const char *path);
/* How wide text is drawn in font on window w, in pixels: for captions that
 * must not wrap whatever font stands in for the program's own. */
int text_width(HWND w, HFONT font, const char *text);
/* Every message box of the program: owned by the main window, the error
 * icon for what failed, the information icon for a save ("Saved"). A fatal
 * one may come from any thread, while the GUI thread waits for that very
 * thread: it has no owner, and holds the whole program until it is read. */
enum AppBox { BOX_ERROR, BOX_SAVED, BOX_FATAL };
void app_box(AppBox kind, const char *title, const char *text);

/* ---- the program's window classes (ui/winclasses) ---- */
extern const uint32_t PALETTE_COLORS[7];
/* "DtmfPage" forwards commands and scroll messages to the main window. */
void register_custom_classes(HINSTANCE instance);
void register_readout_class(HINSTANCE instance);
COLORREF color_of_digit(uint32_t digit);
void set_led(HWND led, int on, COLORREF color);
/* An 8x8 grid of 40-pixel cells showing `cells` (64 entries, read at every
 * paint). With `paint_color` it is a canvas: a click or drag writes
 * *paint_color into the cell under the mouse. */
HWND mk_pixel_grid(HWND parent, int x, int y, int32_t *cells, const int32_t *paint_color);
/* A palette swatch of colour `index`, framed brightly while *active equals
 * it; a click calls on_click(index). */
HWND mk_swatch(HWND parent, int x, int y, int32_t index, const int32_t *active,
               void (*on_click)(int32_t index));

/* ---- transmit scheduling and station-ID controls (ui/transmit) ---- */
void start_tx(const SampleBuf *buf);
/* One tick of TX_TIMER_ID. Returns 1 on the tick that ends a transmission. */
int32_t tx_timer_tick(void);
/* The complete transmission of a digit stream with the header's station ID,
 * speed and repeater setting. 0, or -1 after telling the user. */
int32_t build_full_samples(const uint32_t *digits, uint64_t count, SampleBuf *out);
/* The same for a server request (the end marker as a block of its own). */
int32_t build_request_samples(const char *dir, const char *message, SampleBuf *out);
void signoff_click(void);
void callsign_click(void);
void repeater_mode_toggle(void);
void morse_mode_toggle(void);
void tx_speed_update(int32_t percent);

#endif
