/* The program's own window classes: tab pages, colour swatches, the 8x8
 * pixel grids and the LED dots, plus the seven-colour palette. */
#include "shell/app.h"

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
        route_command(wp, lp);
        return 0;
    case WM_HSCROLL:
        handle_hscroll((HWND)lp, wp);
        return 0;
    case WM_CTLCOLORSTATIC:
        return (LRESULT)theme_ctlcolor((HDC)wp, (HWND)lp);
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

static LRESULT CALLBACK SwatchProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    int32_t index = (int32_t)GetWindowLongPtrA(hwnd, GWLP_USERDATA);
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;
    case WM_LBUTTONDOWN:
        imgenc_set_active_color(index);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT rc;
        GetClientRect(hwnd, &rc);
        HBRUSH fill = CreateSolidBrush(color_of_digit((uint32_t)index));
        FillRect(dc, &rc, fill);
        DeleteObject(fill);
        int active = index == g_app.imgenc.active_color;
        HPEN pen = CreatePen(PS_SOLID, active ? 3 : 1, active ? RGB(76, 255, 179) : RGB(38, 51, 46));
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

static int32_t *grid_pixels(HWND hwnd) {
    return GetWindowLongPtrA(hwnd, GWLP_USERDATA) ? g_app.imgdec.pixels : g_app.imgenc.pixels;
}

static void grid_paint_at(HWND hwnd, LPARAM lp) {
    int x = (short)LOWORD(lp);
    int y = (short)HIWORD(lp);
    int col = x / CELL; // truncation toward zero: up to 39 px outside still hits the edge cell
    int row = y / CELL;
    if (col < 0 || col > 7 || row < 0 || row > 7) return;
    g_app.imgenc.pixels[row * 8 + col] = g_app.imgenc.active_color;
    InvalidateRect(hwnd, NULL, FALSE);
}

static LRESULT CALLBACK PixelGridProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    int read_only = GetWindowLongPtrA(hwnd, GWLP_USERDATA) != 0;
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        const int32_t *px = grid_pixels(hwnd);
        for (int row = 0; row < 8; row++) {
            for (int col = 0; col < 8; col++) {
                RECT c = {col * CELL, row * CELL, col * CELL + CELL, row * CELL + CELL};
                HBRUSH b = CreateSolidBrush(color_of_digit((uint32_t)px[row * 8 + col]));
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

static LRESULT CALLBACK LedDotProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;
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

static void register_one(HINSTANCE instance, const char *name, WNDPROC proc, HBRUSH background) {
    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    RegisterClassExA(&wc);
}

void register_custom_classes(HINSTANCE instance) {
    register_one(instance, "DtmfPixelGrid", PixelGridProc, NULL);
    register_one(instance, "DtmfLedDot", LedDotProc, NULL);
    register_one(instance, "DtmfPage", PageProc, (HBRUSH)(COLOR_WINDOW + 1));
    register_one(instance, "DtmfSwatch", SwatchProc, NULL);
}
