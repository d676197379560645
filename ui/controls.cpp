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
    HWND c = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, x,
                             y, w, h, parent, (HMENU)(INT_PTR)id, g_app.instance, NULL);
    SendMessageA(c, WM_SETFONT, (WPARAM)font, TRUE);
    return c;
}

void set_control_id(HWND control, int id) { SetWindowLongPtrA(control, GWLP_ID, id); }

/* ---- readouts ----
 * A read-only multi-line edit, so that a long reception can be scrolled,
 * selected and copied. Its scroll bar shows only when the text is longer
 * than the box; a text that grows while the end is in view keeps the end in
 * view, as a live reception should. */

static WNDPROC g_edit_proc;

static int32_t visible_lines(HWND box) {
    RECT rc;
    GetClientRect(box, &rc);
    HDC dc = GetDC(box);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageA(box, WM_GETFONT, 0, 0));
    TEXTMETRICA tm;
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(box, dc);
    int32_t h = tm.tmHeight > 0 ? (int32_t)tm.tmHeight : 1;
    int32_t n = (int32_t)(rc.bottom - rc.top) / h;
    return n > 0 ? n : 1;
}

static LRESULT CALLBACK ReadoutProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != WM_SETTEXT) return CallWindowProcA(g_edit_proc, hwnd, msg, wp, lp);
    int32_t shown = visible_lines(hwnd);
    int32_t old_lines = (int32_t)CallWindowProcA(g_edit_proc, hwnd, EM_GETLINECOUNT, 0, 0);
    int32_t first = (int32_t)CallWindowProcA(g_edit_proc, hwnd, EM_GETFIRSTVISIBLELINE, 0, 0);
    int32_t old_len = (int32_t)CallWindowProcA(g_edit_proc, hwnd, WM_GETTEXTLENGTH, 0, 0);
    int32_t follow = first + shown >= old_lines;

    LRESULT r = CallWindowProcA(g_edit_proc, hwnd, msg, wp, lp);
    int32_t new_len = lp ? (int32_t)strlen((const char *)lp) : 0;
    int32_t lines = (int32_t)CallWindowProcA(g_edit_proc, hwnd, EM_GETLINECOUNT, 0, 0);
    ShowScrollBar(hwnd, SB_VERT, lines > shown);
    lines = (int32_t)CallWindowProcA(g_edit_proc, hwnd, EM_GETLINECOUNT, 0, 0); /* bar narrows it */
    int32_t target = 0;
    if (new_len > old_len) target = follow ? lines - shown : first;
    if (target > 0) CallWindowProcA(g_edit_proc, hwnd, EM_LINESCROLL, 0, target);
    return r;
}

HWND mk_readout_label(HWND parent, const char *caption, int x, int *y, int w, HFONT font, int id) {
    mk_static(parent, caption, x, *y, w, 16, g_app.font_small, 1);
    HWND box = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                               WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, x,
                               *y + 18, w, 40, parent, (HMENU)(INT_PTR)id, g_app.instance, NULL);
    SendMessageA(box, WM_SETFONT, (WPARAM)font, TRUE);
    SendMessageA(box, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    SetWindowLongPtrA(box, GWLP_USERDATA, 3);
    WNDPROC prev = (WNDPROC)SetWindowLongPtrA(box, GWLP_WNDPROC, (LONG_PTR)ReadoutProc);
    if (!g_edit_proc) g_edit_proc = prev;
    SetWindowTextA(box, " ");
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
    case 2: back = WINDOW_BG; brush = g_bgBrush; break;
    case 3: text = READOUT_TEXT; back = READOUT_BG; brush = g_readoutBrush; break;
    case 4: text = CELL_TEXT; back = READOUT_BG; brush = g_readoutBrush; break;
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
