/* Routing: commands by control id, scroll messages by trackbar handle, and
 * the capture thread's messages by panel id. One call per case. */
#include "shell/shell.h"
#include "tabs/tabs.h"

#include <commctrl.h>
#include <ctype.h>
#include <string.h>

void callsign_sanitise(HWND edit) {
    char text[256];
    char clean[256];
    GetWindowTextA(edit, text, sizeof text);
    callsign_clean(text, clean);
    // Rewriting sets off another EN_CHANGE; an unchanged text ends the chain.
    if (strcmp(clean, text) == 0) return;
    DWORD start = LOWORD(SendMessageA(edit, EM_GETSEL, 0, 0));
    SetWindowTextA(edit, clean);
    SendMessageA(edit, EM_SETSEL, start, start);
}

void route_command(WPARAM wp, LPARAM lp) {
    int id = LOWORD(wp);
    int code = HIWORD(wp);
    if (id == IDC_CALLSIGN_EDIT && code == EN_CHANGE) {
        callsign_sanitise(g_app.callsign_edit ? g_app.callsign_edit : (HWND)lp);
    } else if (id == IDC_SERVER_DIR_EDIT && code == EN_CHANGE) {
        servertab_filter_dir_in();
        servertab_on_text_in_change();
    } else if (id == IDC_SERVER_MSG_EDIT && code == EN_CHANGE) {
        servertab_on_text_in_change();
    } else {
        handle_command(id, lp);
    }
}

void handle_command(int id, LPARAM) {
    switch (id) {
    case IDC_SIGNOFF: signoff_click(); break;
    case IDC_CALLSIGN_BUTTON: callsign_click(); break;
    case IDC_REPEATER_CHECK: repeater_mode_toggle(); break;
    case IDC_CW_CHECK: morse_mode_toggle(); break;
    case IDC_TX_ENCODE: tx_encode_text(); break;
    case IDC_TX_PLAY: tx_play(); break;
    case IDC_TX_SAVE: tx_save(); break;
    case IDC_IMGENC_ENCODE: imgenc_encode(); break;
    case IDC_IMGENC_PLAY: imgenc_play(); break;
    case IDC_IMGENC_SAVE: imgenc_save(); break;
    case IDC_RX_LISTEN: rx_toggle_listen(); break;
    case IDC_RX_DECODE_FILE: rx_decode_file(); break;
    case IDC_RX_CLEAR: rx_clear(); break;
    case IDC_IMGDEC_LISTEN: imgdec_toggle_listen(); break;
    case IDC_IMGDEC_DECODE_FILE: imgdec_decode_file(); break;
    case IDC_IMGDEC_CLEAR: imgdec_clear(); break;
    case IDC_HEX_OPEN: hex_open_file_to_encode(); break;
    case IDC_HEX_PLAY: hex_play(); break;
    case IDC_HEX_SAVE_AUDIO: hex_save_audio(); break;
    case IDC_HEX_LISTEN: hex_toggle_listen(); break;
    case IDC_HEX_DECODE_FILE: hex_decode_file(); break;
    case IDC_HEX_CLEAR: hex_clear(); break;
    case IDC_HEX_SAVE_HEX: hex_save_to_file(); break;
    case IDC_SERVER_SEND: servertab_send_click(); break;
    case IDC_SERVER_STOP: servertab_stop_click(); break;
    case IDC_SERVER_CLEAR: servertab_clear_click(); break;
    default: break;
    }
}

void handle_hscroll(HWND control, WPARAM) {
    // Plain scroll bars send no handle; it must not match an unbuilt page's null bar.
    if (!control) return;
    int32_t pos = (int32_t)SendMessageA(control, TBM_GETPOS, 0, 0);
    if (control == g_app.speed_slider) {
        tx_speed_update(pos);
        return;
    }
    float t = (float)pos / 100.0f;
    if (control == g_app.rx.threshold_bar)
        rxpanel_set_threshold(&g_app.rx.panel, t);
    else if (control == g_app.imgdec.threshold_bar)
        rxpanel_set_threshold(&g_app.imgdec.panel, t);
    else if (control == g_app.hex.threshold_bar)
        rxpanel_set_threshold(&g_app.hex.panel, t);
    else if (control == g_app.server.threshold_bar)
        rxpanel_set_threshold(&g_app.server.panel, t);
}

void handle_app_digit(int32_t panel_id, int32_t digit) {
    switch (panel_id) {
    case PANEL_RX: rx_on_digit(digit); break;
    case PANEL_IMGDEC: imgdec_on_digit(digit); break;
    case PANEL_HEX: hex_on_digit(digit); break;
    case PANEL_SERVER: servertab_on_digit(digit); break;
    default: break;
    }
}

void handle_app_meters(int32_t panel_id, int32_t row, int32_t col) {
    switch (panel_id) {
    case PANEL_RX: rx_on_meters(row, col); break;
    case PANEL_IMGDEC: imgdec_on_meters(row, col); break;
    case PANEL_HEX: hex_on_meters(row, col); break;
    case PANEL_SERVER: servertab_on_meters(row, col); break;
    default: break;
    }
}
