/* The one application-state record, g_app: the shell's fields, one
 * sub-record per page and the transmit scheduler's timing. Zero-filled at
 * start, touched by the GUI thread only (the capture thread reads just what
 * the receiver panel was pointed at). */
#ifndef TESSARY_APPSTATE_H
#define TESSARY_APPSTATE_H

#include <windows.h>
#include <stdint.h>
#include "core/dtmf_core.h"
#include "receiving/rxpanel.h"

#define RX_TEXT_MAX 8192 /* text buffers of the receiving pages, NUL included */
#define IMG_PIXELS  64

struct TxTab {
    HWND text_edit;
    HWND play_button;
    HWND save_button;
    HWND digits_label;
    uint32_t *tx_digits;
    uint64_t tx_digit_count;
};

struct ImgEncTab {
    HWND swatches[7];
    HWND grid;
    HWND play_button;
    HWND save_button;
    HWND digits_label;
    int32_t pixels[IMG_PIXELS];
    int32_t active_color;
    int32_t digits[IMG_PIXELS];
};

struct RxTab {
    HWND listen_button;
    HWND led;
    HWND status_label;
    HWND row_meter;
    HWND col_meter;
    HWND threshold_bar;
    HWND digits_label;
    HWND text_label;
    RxPanel panel;
    char text[RX_TEXT_MAX];
    int32_t text_len;
};

struct ImgDecTab {
    HWND listen_button;
    HWND led;
    HWND status_label;
    HWND row_meter;
    HWND col_meter;
    HWND threshold_bar;
    HWND grid;
    HWND digits_label;
    RxPanel panel;
    int32_t pixels[IMG_PIXELS];
};

struct HexTab {
    HWND file_label;
    HWND tx_digits_label;
    HWND play_button;
    HWND save_audio_button;
    uint32_t *tx_digits;
    uint64_t tx_digit_count;
    HWND listen_button;
    HWND led;
    HWND status_label;
    HWND row_meter;
    HWND col_meter;
    HWND threshold_bar;
    HWND rx_digits_label;
    HWND hex_label;
    HWND save_hex_button;
    RxPanel panel;
    char hex_text[RX_TEXT_MAX];
    int32_t hex_len;
};

/* Where the Server page's exchange stands: the request is on the air
 * until the transmission ends, then the page listens for the answer. */
enum ServerExchange { EXCHANGE_IDLE = 0, EXCHANGE_SENDING = 1, EXCHANGE_LISTENING = 2 };

struct ServerTab {
    HWND dir_edit;
    HWND message_edit;
    HWND preview_label;
    HWND send_button;
    HWND stop_button;
    HWND status_label;
    HWND led;
    HWND row_meter;
    HWND col_meter;
    HWND threshold_bar;
    HWND rx_digits_label;
    HWND response_label;
    RxPanel panel;
    char response_text[RX_TEXT_MAX];
    int32_t response_len;
    ServerExchange exchange_state;
};

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

#endif
