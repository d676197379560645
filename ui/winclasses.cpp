/* The program's own window classes: tab pages, colour swatches, the 8x8
 * pixel grids and the LED dots, plus the seven-colour palette. A control's
 * data comes with its creation and stays in its extra bytes, so none of
 * them needs to know which page owns it. */
#include "ui/ui.h"

const uint32_t PALETTE_COLORS[7] = {
    0x000000, // 0 black
    0xFFFFFF, // 1 white
    0x3539E5, // 2 red
    0x00D4FF, // 3 yellow
    0x71CC2E, // 4 green
    0xFF8C2D, // 5 blue
    0x008CFF, // 6 orange
};

static const COLORREF NO_COLOR = RGB(26, 36, 32);
static const COLORREF LED_OFF = RGB(124, 143, 135);
static const int CELL = 40;

COLORREF color_of_digit(uint32_t digit) { return digit < 7 ? PALETTE_COLORS[digit] : NO_COLOR; }

void set_led(HWND led, int on, COLORREF color) {
    SetWindowLongPtrA(led, GWLP_USERDATA, (LONG_PTR)(on ? color : LED_OFF));
    InvalidateRect(led, NULL, FALSE);
}

static LRESULT CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND: {
        RECT rc;
        GetClientRect(hwnd, &rc);
        HBRUSH b = CreateSolidBrush(RGB(20, 28, 25));
        FillRect((HDC)wp, &rc, b);
        DeleteObject(b);
        return 1;
    }
    case WM_COMMAND:
    case WM_HSCROLL:
        // The main window routes everything, whichever page it came from.
        return SendMessageA(g_app.main_wnd, msg, wp, lp);
    case WM_CTLCOLORSTATIC: return (LRESULT)theme_ctlcolor((HDC)wp, (HWND)lp);
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

/* Swatch extra bytes: its index, the active colour it compares with, the
 * click handler. */
enum { SW_INDEX = 0, SW_ACTIVE = 8, SW_CLICK = 16, SW_BYTES = 24 };
struct SwatchInit {
    int32_t index;
    const int32_t *active;
    void (*on_click)(int32_t);
};

static LRESULT CALLBACK SwatchProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    int32_t index = (int32_t)GetWindowLongPtrA(hwnd, SW_INDEX);
    switch (msg) {
    case WM_NCCREATE: {
        const SwatchInit *in = (const SwatchInit *)((CREATESTRUCTA *)lp)->lpCreateParams;
        SetWindowLongPtrA(hwnd, SW_INDEX, in->index);
        SetWindowLongPtrA(hwnd, SW_ACTIVE, (LONG_PTR)in->active);
        SetWindowLongPtrA(hwnd, SW_CLICK, (LONG_PTR)in->on_click);
        break;
    }
    case WM_ERASEBKGND: return 1;
    case WM_LBUTTONDOWN: {
        void (*click)(int32_t) = (void (*)(int32_t))GetWindowLongPtrA(hwnd, SW_CLICK);
        if (click) click(index);
        return 0;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT rc;
        GetClientRect(hwnd, &rc);
        HBRUSH fill = CreateSolidBrush(color_of_digit((uint32_t)index));
        FillRect(dc, &rc, fill);
        DeleteObject(fill);
        const int32_t *active_color = (const int32_t *)GetWindowLongPtrA(hwnd, SW_ACTIVE);
        int active = active_color && index == *active_color;
        HPEN pen =
            CreatePen(PS_SOLID, active ? 3 : 1, active ? RGB(76, 255, 179) : RGB(38, 51, 46));
        HGDIOBJ old_pen = SelectObject(dc, pen);
        HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, rc.left, rc.top, rc.right, rc.bottom);
        SelectObject(dc, old_brush);
        SelectObject(dc, old_pen);
        DeleteObject(pen);
        EndPaint(hwnd, &ps);
        return 0;
    }
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

HWND mk_swatch(HWND parent, int x, int y, int32_t index, const int32_t *active,
               void (*on_click)(int32_t index)) {
    SwatchInit in = {index, active, on_click};
    return CreateWindowExA(0, "DtmfSwatch", "", WS_CHILD | WS_VISIBLE, x, y, 26, 26, parent, NULL,
                           g_app.instance, &in);
}

/* Grid extra bytes: its cells, and the colour a click paints (null: the
 * grid only shows). */
enum { GRID_CELLS = 0, GRID_PAINT = 8, GRID_BYTES = 16 };
struct GridInit {
    int32_t *cells;
    const int32_t *paint_color;
};

static void grid_paint_at(HWND hwnd, LPARAM lp) {
    int32_t *cells = (int32_t *)GetWindowLongPtrA(hwnd, GRID_CELLS);
    const int32_t *color = (const int32_t *)GetWindowLongPtrA(hwnd, GRID_PAINT);
    int x = (short)LOWORD(lp);
    int y = (short)HIWORD(lp);
    int col = x / CELL; // truncation toward zero: up to 39 px outside still hits the edge cell
    int row = y / CELL;
    if (!cells || !color || col < 0 || col > 7 || row < 0 || row > 7) return;
    cells[row * 8 + col] = *color;
    InvalidateRect(hwnd, NULL, FALSE);
}

static LRESULT CALLBACK PixelGridProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    int read_only = GetWindowLongPtrA(hwnd, GRID_PAINT) == 0;
    switch (msg) {
    case WM_NCCREATE: {
        const GridInit *in = (const GridInit *)((CREATESTRUCTA *)lp)->lpCreateParams;
        SetWindowLongPtrA(hwnd, GRID_CELLS, (LONG_PTR)in->cells);
        SetWindowLongPtrA(hwnd, GRID_PAINT, (LONG_PTR)in->paint_color);
        break;
    }
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        const int32_t *px = (const int32_t *)GetWindowLongPtrA(hwnd, GRID_CELLS);
        for (int row = 0; row < 8; row++) {
            for (int col = 0; col < 8; col++) {
                RECT c = {col * CELL, row * CELL, col * CELL + CELL, row * CELL + CELL};
                HBRUSH b = CreateSolidBrush(color_of_digit(px ? (uint32_t)px[row * 8 + col] : 7u));
                FillRect(dc, &c, b);
                DeleteObject(b);
                FrameRect(dc, &c, (HBRUSH)GetStockObject(BLACK_BRUSH));
            }
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_LBUTTONDOWN:
        if (read_only) return 0;
        SetCapture(hwnd);
        grid_paint_at(hwnd, lp);
        return 0;
    case WM_MOUSEMOVE:
        if (!read_only && (wp & MK_LBUTTON)) grid_paint_at(hwnd, lp);
        return 0;
    case WM_LBUTTONUP:
        if (!read_only && GetCapture() == hwnd) ReleaseCapture();
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

HWND mk_pixel_grid(HWND parent, int x, int y, int32_t *cells, const int32_t *paint_color) {
    GridInit in = {cells, paint_color};
    return CreateWindowExA(WS_EX_CLIENTEDGE, "DtmfPixelGrid", "", WS_CHILD | WS_VISIBLE, x, y, 320,
                           320, parent, NULL, g_app.instance, &in);
}

static LRESULT CALLBACK LedDotProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT rc;
        GetClientRect(hwnd, &rc);
        HBRUSH b = CreateSolidBrush((COLORREF)GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        HGDIOBJ old_brush = SelectObject(dc, b);
        HGDIOBJ old_pen = SelectObject(dc, GetStockObject(NULL_PEN));
        Ellipse(dc, rc.left, rc.top, rc.right, rc.bottom);
        SelectObject(dc, old_pen);
        SelectObject(dc, old_brush);
        DeleteObject(b);
        EndPaint(hwnd, &ps);
        return 0;
    }
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

static void register_one(HINSTANCE instance, const char *name, WNDPROC proc, HBRUSH background,
                         int extra = 0) {
    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.cbWndExtra = extra;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    RegisterClassExA(&wc);
}

void register_custom_classes(HINSTANCE instance) {
    register_one(instance, "DtmfPixelGrid", PixelGridProc, NULL, GRID_BYTES);
    register_one(instance, "DtmfLedDot", LedDotProc, NULL);
    register_one(instance, "DtmfPage", PageProc, (HBRUSH)(COLOR_WINDOW + 1));
    register_one(instance, "DtmfSwatch", SwatchProc, NULL, SW_BYTES);
    register_readout_class(instance);
}
