/* The main window: start-up (fonts, classes, header row, tab strip and
 * pages) and MainWndProc, which only routes. */
#include "shell/shell.h"
#include "tabs/tabs.h"
#include "tabs/rxpage.h"
#include "audio/audio.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

static const int CLIENT_W = 1010;
static const int CLIENT_H = 1076;
static const DWORD MAIN_STYLE = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

static const char *const TAB_NAMES[7] = {
    "Transmit (text)", "Image encode", "Receive (text)", "Image decode",
    "Hex (file)",      "Reference",    "Server",
};

typedef HWND (*PageBuilder)(HWND page);
static const PageBuilder PAGE_BUILDERS[7] = {
    build_tx_tab,  build_img_enc_tab, build_rx_tab,     build_img_dec_tab,
    build_hex_tab, build_ref_tab,     build_server_tab,
};

void audio_dir_from_module_path(const char *path, char *out, uint64_t size) {
    char dir[260];
    snprintf(dir, sizeof dir, "%s", path);
    char *bs = strrchr(dir, '\\');
    char *fs = strrchr(dir, '/');
    char *cut = bs > fs ? bs : fs;
    if (cut) *cut = 0;
    snprintf(out, (size_t)size, "%s\\audio", dir);
}

/* A program without a console cannot just print this and vanish. */
static void report_fatal(const char *what) {
    char text[160];
    snprintf(text, sizeof text, "Tessary ran %s and has to close.", what);
    app_box(BOX_FATAL, "Out of memory", text);
}

static HFONT make_font(int height) {
    return CreateFontA(-height, 0, 0, 0, 400, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       FIXED_PITCH | FF_MODERN, "Consolas");
}

static void create_header(HWND w) {
    HFONT small = g_app.font_small;
    mk_static(
        w,
        "Callsign (station ID, plays at start/end and every 10 min -- reads audio/<char>.wav):", 10,
        12, 620, 18, small, 2);
    g_app.callsign_edit = mk_edit(w, 636, 8, 110, 24, IDC_CALLSIGN_EDIT, g_app.font_text);
    mk_button(w, "Sign off", 752, 8, 80, 24, IDC_SIGNOFF);
    g_app.tx_led = CreateWindowExA(0, "DtmfLedDot", "", WS_CHILD | WS_VISIBLE, 848, 13, 14, 14, w,
                                   NULL, g_app.instance, NULL);
    set_led(g_app.tx_led, 0, 0);
    mk_static(w, "TX", 868, 10, 24, 18, small, 2);
    g_app.tx_status = mk_static(w, "", 894, 10, 110, 18, small, 2);
    set_control_id(g_app.tx_status, IDC_TX_STATUS);
    g_app.callsign_button = mk_button(w, "Callsign", 10, 40, 90, 24, IDC_CALLSIGN_BUTTON);
    // The long caption gets what the check box's text leaves, so that it
    // stays on one line in whichever font stands in for Consolas.
    static const char repeater_caption[] =
        "(disguises tones with a modulated carrier so they don't sound like DTMF -- "
        "decoding handles it automatically)";
    int box_w = 24 + text_width(w, small, "Repeater mode");
    if (box_w > 140) box_w = 140;
    g_app.repeater_check = mk_checkbox(w, "Repeater mode", 112, 42, box_w, 20, IDC_REPEATER_CHECK);
    const int cap_x = 112 + box_w + 8;
    mk_static(w, repeater_caption, cap_x, 44, CLIENT_W - 4 - cap_x, 16, small, 2);
    g_app.cw_check = mk_checkbox(w, "CW ID (fast Morse)", 10, 74, 170, 20, IDC_CW_CHECK);
    mk_static(w,
              "(sends the callsign as fast Morse instead of speech -- periodic ID, Sign off, "
              "and the Callsign button)",
              190, 76, 800, 16, small, 2);
    mk_static(w, "DTMF SPEED", 10, 108, 90, 16, small, 2);
    g_app.speed_slider =
        CreateWindowExA(0, TRACKBAR_CLASSA, "", WS_CHILD | WS_VISIBLE | TBS_AUTOTICKS, 104, 104,
                        240, 30, w, (HMENU)(INT_PTR)IDC_SPEED_SLIDER, g_app.instance, NULL);
    SendMessageA(g_app.speed_slider, TBM_SETRANGE, TRUE,
                 MAKELPARAM(SPEED_MIN_PERCENT, SPEED_MAX_PERCENT));
    SendMessageA(g_app.speed_slider, TBM_SETPOS, TRUE, 100);
    // A tick every unit would be 450 of them, a solid grey bar: one every 50 %.
    SendMessageA(g_app.speed_slider, TBM_SETTICFREQ, 50, 0);
    g_app.speed_label = mk_static(w, "", 352, 110, 340, 16, small, 2);
    set_control_id(g_app.speed_label, IDC_SPEED_LABEL);
}

static void create_tabs(HWND w) {
    RECT rc;
    GetClientRect(w, &rc);
    g_app.tab_control =
        CreateWindowExA(0, WC_TABCONTROLA, "", WS_CHILD | WS_VISIBLE, 10, 140, rc.right - 20,
                        rc.bottom - 150, w, (HMENU)(INT_PTR)IDC_TAB_CONTROL, g_app.instance, NULL);
    SendMessageA(g_app.tab_control, WM_SETFONT, (WPARAM)g_app.font_small, TRUE);
    for (int i = 0; i < 7; i++) {
        TCITEMA item;
        memset(&item, 0, sizeof item);
        item.mask = TCIF_TEXT;
        item.pszText = (LPSTR)TAB_NAMES[i];
        SendMessageA(g_app.tab_control, TCM_INSERTITEMA, i, (LPARAM)&item);
    }
    RECT d;
    GetClientRect(g_app.tab_control, &d);
    SendMessageA(g_app.tab_control, TCM_ADJUSTRECT, FALSE, (LPARAM)&d);
    for (int i = 0; i < 7; i++) {
        DWORD style = WS_CHILD | WS_CLIPCHILDREN | (i == 0 ? WS_VISIBLE : 0);
        g_app.pages[i] =
            CreateWindowExA(0, "DtmfPage", "", style, d.left, d.top, d.right - d.left,
                            d.bottom - d.top, g_app.tab_control, NULL, g_app.instance, NULL);
        PAGE_BUILDERS[i](g_app.pages[i]);
    }
}

HWND app_create_main_window(HINSTANCE instance, int show) {
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_TAB_CLASSES | ICC_BAR_CLASSES;
    InitCommonControlsEx(&icc);

    memset(&g_app, 0, sizeof g_app);
    core_set_fatal_report(report_fatal);
    g_app.instance = instance;

    char path[260];
    DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
    if (n >= sizeof path) n = sizeof path - 1;
    path[n] = 0;
    audio_dir_from_module_path(path, g_app.audio_dir, sizeof g_app.audio_dir);

    g_app.font_text = make_font(16);
    g_app.font_readout = make_font(18);
    g_app.font_small = make_font(13);
    register_custom_classes(instance);

    WNDCLASSEXA wc;
    memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APPICON));
    wc.hIconSm = (HICON)LoadImageA(instance, MAKEINTRESOURCEA(IDI_APPICON), IMAGE_ICON, 16, 16, 0);
    wc.lpszClassName = "DtmfMainWindow";
    RegisterClassExA(&wc);

    RECT r = {0, 0, CLIENT_W, CLIENT_H};
    AdjustWindowRect(&r, MAIN_STYLE, FALSE);
    g_app.main_wnd = CreateWindowExA(0, "DtmfMainWindow", "Tessary -- 0-6 Line", MAIN_STYLE,
                                     CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                                     r.bottom - r.top, NULL, NULL, instance, NULL);
    rxpanel_set_target(g_app.main_wnd, &g_app.repeater_mode);
    create_header(g_app.main_wnd);
    tx_speed_update(100);
    create_tabs(g_app.main_wnd);
    ShowWindow(g_app.main_wnd, show);
    UpdateWindow(g_app.main_wnd);
    return g_app.main_wnd;
}

static void show_selected_page(void) {
    int sel = (int)SendMessageA(g_app.tab_control, TCM_GETCURSEL, 0, 0);
    for (int i = 0; i < 7; i++) ShowWindow(g_app.pages[i], i == sel ? SW_SHOW : SW_HIDE);
}

static void on_tx_timer(void) {
    if (tx_timer_tick()) servertab_on_tx_complete();
}

static void erase_background(HWND hwnd, HDC dc) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    HBRUSH b = CreateSolidBrush(RGB(14, 20, 18));
    FillRect(dc, &rc, b);
    DeleteObject(b);
}

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE: return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_CLOSE:
        rxpanel_decode_file_stop_all();
        rxpanel_stop_active();
        audio_shutdown();
        DestroyWindow(hwnd);
        return 0;
    case WM_ERASEBKGND: erase_background(hwnd, (HDC)wp); return 1;
    case WM_NOTIFY: {
        const NMHDR *nm = (const NMHDR *)lp;
        if (nm->hwndFrom == g_app.tab_control && nm->code == (UINT)TCN_SELCHANGE)
            show_selected_page();
        return 0;
    }
    case WM_COMMAND: route_command(wp, lp); return 0;
    case WM_TIMER:
        if (wp == TX_TIMER_ID) on_tx_timer();
        return 0;
    case WM_HSCROLL: handle_hscroll((HWND)lp, wp); return 0;
    case WM_CTLCOLORSTATIC: return (LRESULT)theme_ctlcolor((HDC)wp, (HWND)lp);
    case WM_CTLCOLORBTN:
        if ((HWND)lp == g_app.repeater_check || (HWND)lp == g_app.cw_check)
            return (LRESULT)theme_ctlcolor((HDC)wp, (HWND)lp);
        break;
    case WM_APP_DIGIT: handle_app_digit((int32_t)wp, (int32_t)lp); return 0;
    case WM_APP_METERS:
        handle_app_meters((int32_t)wp, (int32_t)(lp & 0xFFFF), (int32_t)((lp >> 16) & 0xFFFF));
        return 0;
    case WM_APP_FILE: rxpage_file_news((int32_t)wp); return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}
