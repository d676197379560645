/* The application shell: the one application-state record, control ids,
 * the cross-thread messages, and the shell's functions (main window and
 * routing, custom window classes, control factory, theme, transmit
 * scheduling). Everything here runs on the GUI thread. */
#ifndef TESSARY_APP_H
#define TESSARY_APP_H

#include <windows.h>
#include <stdint.h>
#include "core/dtmf_core.h"
#include "receiving/rxpanel.h"
#include "tabs/tabs.h"

/* ==== Ids ==== */
#define IDC_CALLSIGN_EDIT      1000
#define IDC_SIGNOFF            1001
#define IDC_CALLSIGN_BUTTON    1002
#define IDC_REPEATER_CHECK     1003
#define IDC_CW_CHECK           1004
#define IDC_SPEED_SLIDER       1005
#define IDC_TAB_CONTROL        1006
#define IDC_TX_TEXT_EDIT       1007
#define IDC_TX_ENCODE          1008
#define IDC_TX_PLAY            1009
#define IDC_TX_SAVE            1010
#define IDC_IMGENC_ENCODE      1021
#define IDC_IMGENC_PLAY        1022
#define IDC_IMGENC_SAVE        1023
#define IDC_RX_LISTEN          1024
#define IDC_RX_DECODE_FILE     1025
#define IDC_RX_CLEAR           1026
#define IDC_RX_THRESHOLD       1027
#define IDC_IMGDEC_LISTEN      1028
#define IDC_IMGDEC_DECODE_FILE 1029
#define IDC_IMGDEC_CLEAR       1030
#define IDC_IMGDEC_THRESHOLD   1031
#define IDC_HEX_OPEN           1032
#define IDC_HEX_PLAY           1033
#define IDC_HEX_SAVE_AUDIO     1034
#define IDC_HEX_LISTEN         1035
#define IDC_HEX_DECODE_FILE    1036
#define IDC_HEX_CLEAR          1037
#define IDC_HEX_SAVE_HEX       1038
#define IDC_HEX_THRESHOLD      1039
#define IDC_SERVER_DIR_EDIT    1040
#define IDC_SERVER_MSG_EDIT    1041
#define IDC_SERVER_SEND        1042
#define IDC_SERVER_STOP        1043
#define IDC_SERVER_CLEAR       1044
#define IDC_SERVER_THRESHOLD   1045

#define IDI_APPICON 6000

#define WM_APP_DIGIT  (WM_APP + 1)
#define WM_APP_METERS (WM_APP + 2)

#define TX_TIMER_ID 5000

#define LED_ON_COLOR RGB(255, 107, 94)

struct AppState {
    HWND main_wnd;
    HFONT font_text;
    HFONT font_readout;
    HFONT font_small;
    HINSTANCE instance;
    char audio_dir[260];
    HWND callsign_edit;
    HWND callsign_button;
    HWND tx_led;
    HWND tx_status;
    HWND repeater_check;
    int32_t repeater_mode;
    HWND cw_check;
    int32_t cw_mode;
    HWND speed_slider;
    HWND speed_label;
    double tone_seconds;
    double gap_seconds;
    HWND tab_control;
    HWND pages[7];

    TxTab tx;
    ImgEncTab imgenc;
    RxTab rx;
    ImgDecTab imgdec;
    HexTab hex;
    ServerTab server;

    int32_t tx_countdown;
    double tx_total_seconds;
    uint64_t tx_start_tick;
    int32_t tx_active;
};

extern AppState g_app;

/* ---- main window and routing (shell/main, shell/handlers) ---- */
/* WinMain's steps up to showing the window, without the message loop, so
 * that tests can build the real window and pump messages themselves.
 * Zero-fills g_app first. Returns the main window. */
HWND app_create_main_window(HINSTANCE instance, int show);
/* "<folder of path>\audio" into out (at most size bytes with the NUL). */
void audio_dir_from_module_path(const char *path, char *out, uint64_t size);
/* The callsign rule: ASCII letters and digits only, upper-cased, at most
 * 255 kept. out holds at least 256 bytes. Returns the length. */
uint64_t callsign_clean(const char *in, char *out);
void callsign_sanitise(HWND edit);
LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
void route_command(WPARAM wp, LPARAM lp); /* shared by the main window and every page */
void handle_command(int id, LPARAM lp);
void handle_hscroll(HWND control, WPARAM code);
void handle_app_digit(int32_t panel_id, int32_t digit);
void handle_app_meters(int32_t panel_id, int32_t row, int32_t col);

/* ---- custom window classes (shell/winclasses) ---- */
extern const uint32_t PALETTE_COLORS[7];
void register_custom_classes(HINSTANCE instance);
COLORREF color_of_digit(uint32_t digit);
void set_led(HWND led, int on, COLORREF color);

/* ---- control factory and theme (shell/helpers) ---- */
HWND mk_static(HWND parent, const char *text, int x, int y, int w, int h, HFONT font, int tag);
HWND mk_button(HWND parent, const char *text, int x, int y, int w, int h, int id);
HWND mk_checkbox(HWND parent, const char *text, int x, int y, int w, int h, int id);
HWND mk_edit(HWND parent, int x, int y, int w, int h, int id, HFONT font);
HWND mk_readout_label(HWND parent, const char *caption, int x, int *y, int w, HFONT font);
HBRUSH theme_ctlcolor(HDC dc, HWND control);
const char *filename_only(const char *path);

/* ---- transmit scheduling and station-ID controls (shell/helpers) ---- */
void start_tx(const SampleBuf *buf);
void tx_timer_tick(void);
int32_t build_full_samples(const uint32_t *digits, uint64_t count, SampleBuf *out);
void signoff_click(void);
void callsign_click(void);
void repeater_mode_toggle(void);
void morse_mode_toggle(void);
void tx_speed_update(int32_t percent);

#endif
