/* Control factory and theme. GUI thread only. */
#include "ui/ui.h"

#include <string.h>

HWND mk_static(HWND parent, const char *text, int x, int y, int w, int h, HFONT font, int tag) {
    HWND c = CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE | SS_LEFT, x, y, w, h, parent,
                             NULL, g_app.instance, NULL);
    if (font) SendMessageA(c, WM_SETFONT, (WPARAM)font, TRUE);
    SetWindowLongPtrA(c, GWLP_USERDATA, tag);
    return c;
}

HWND mk_button(HWND parent, const char *text, int x, int y, int w, int h, int id) {
    HWND c = CreateWindowExA(0, "BUTTON", text, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, x, y, w, h,
                             parent, (HMENU)(INT_PTR)id, g_app.instance, NULL);
    SendMessageA(c, WM_SETFONT, (WPARAM)g_app.font_small, TRUE);
    return c;
}

HWND mk_checkbox(HWND parent, const char *text, int x, int y, int w, int h, int id) {
    HWND c = CreateWindowExA(0, "BUTTON", text, WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, x, y, w, h,
                             parent, (HMENU)(INT_PTR)id, g_app.instance, NULL);
    SendMessageA(c, WM_SETFONT, (WPARAM)g_app.font_small, TRUE);
    SetWindowLongPtrA(c, GWLP_USERDATA, 2);
    return c;
}

HWND mk_edit(HWND parent, int x, int y, int w, int h, int id, HFONT font) {
    HWND c = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL,
                             x, y, w, h, parent, (HMENU)(INT_PTR)id, g_app.instance, NULL);
    SendMessageA(c, WM_SETFONT, (WPARAM)font, TRUE);
    return c;
}

void set_control_id(HWND control, int id) { SetWindowLongPtrA(control, GWLP_ID, id); }

HWND mk_readout_label(HWND parent, const char *caption, int x, int *y, int w, HFONT font, int id) {
    mk_static(parent, caption, x, *y, w, 16, g_app.font_small, 1);
    HWND box = CreateWindowExA(WS_EX_CLIENTEDGE, "DtmfReadout", " ", WS_CHILD | WS_VISIBLE, x,
                               *y + 18, w, 40, parent, (HMENU)(INT_PTR)id, g_app.instance, NULL);
    SendMessageA(box, WM_SETFONT, (WPARAM)font, TRUE);
    SetWindowLongPtrA(box, GWLP_USERDATA, 3);
    *y += 66;
    return box;
}

/* ---- theme ---- */

static HBRUSH g_panelBrush;
static HBRUSH g_bgBrush;
static HBRUSH g_readoutBrush;

static const COLORREF PANEL = RGB(20, 28, 25);
static const COLORREF WINDOW_BG = RGB(14, 20, 18);
static const COLORREF READOUT_BG = RGB(11, 16, 14);
static const COLORREF LABEL_TEXT = RGB(124, 143, 135);
static const COLORREF READOUT_TEXT = RGB(76, 255, 179);
static const COLORREF CELL_TEXT = RGB(220, 231, 225);
static const COLORREF HEADING_TEXT = RGB(46, 122, 92);

HBRUSH theme_ctlcolor(HDC dc, HWND control) {
    if (!g_panelBrush) g_panelBrush = CreateSolidBrush(PANEL);
    if (!g_bgBrush) g_bgBrush = CreateSolidBrush(WINDOW_BG);
    if (!g_readoutBrush) g_readoutBrush = CreateSolidBrush(READOUT_BG);

    COLORREF text = LABEL_TEXT, back = PANEL;
    HBRUSH brush = g_panelBrush;
    switch (GetWindowLongPtrA(control, GWLP_USERDATA)) {
    case 2:
        back = WINDOW_BG;
        brush = g_bgBrush;
        break;
    case 3:
        text = READOUT_TEXT;
        back = READOUT_BG;
        brush = g_readoutBrush;
        break;
    case 4:
        text = CELL_TEXT;
        back = READOUT_BG;
        brush = g_readoutBrush;
        break;
    case 5: text = HEADING_TEXT; break;
    default: break;
    }
    SetBkMode(dc, OPAQUE);
    SetTextColor(dc, text);
    SetBkColor(dc, back);
    return brush;
}

const char *filename_only(const char *path) {
    const char *bs = strrchr(path, '\\');
    const char *fs = strrchr(path, '/');
    const char *cut = bs > fs ? bs : fs;
    return cut ? cut + 1 : path;
}

void app_box(AppBox kind, const char *title, const char *text) {
    if (kind == BOX_FATAL)
        MessageBoxA(NULL, text, title, MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
    else
        MessageBoxA(g_app.main_wnd, text, title,
                    kind == BOX_SAVED ? MB_ICONINFORMATION : MB_ICONERROR);
}

int text_width(HWND w, HFONT font, const char *text) {
    HDC dc = GetDC(w);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc, text, (int)strlen(text), &size);
    SelectObject(dc, old);
    ReleaseDC(w, dc);
    return size.cx;
}
