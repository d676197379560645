/* The readout box ("DtmfReadout"): a read-only text in the readout colours
 * that wraps, scrolls when it holds more than it shows, and whose text can
 * be selected with the mouse (or Ctrl+A, or the right-click menu) and
 * copied (Ctrl+C, or the menu).
 *
 * Why not a read-only edit control: Wine's edit control re-wraps a long
 * unbroken digit stream in time that grows with the square of its length
 * (about 0.25 s for 4096 digits on every change), and a receiving page
 * changes its readout with every digit. Here the text is the window text
 * (WM_GETTEXT works as for any control, also from another process) and the
 * wrap is recomputed in one pass when painting.
 *
 * Like an edit control it answers EM_SETSEL, EM_GETSEL, WM_COPY,
 * EM_GETLINECOUNT and EM_GETFIRSTVISIBLELINE, so tools and tests can drive
 * it the usual way. GUI thread only. */
#include "ui/ui.h"

#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

struct Readout {
    HFONT font;
    int32_t first;  /* first line shown */
    int32_t anchor; /* selection: from anchor to caret, in characters */
    int32_t caret;
    int32_t dragging;
    int32_t laying_out; /* showing the bar resizes the box: no layout inside */
    int32_t cw, ch;     /* character cell of the font */
    SCROLLINFO bar;     /* as last set, so an unchanged bar is not redrawn */
};

struct Line {
    int32_t start, len;
};

Readout *state(HWND w) { return (Readout *)GetWindowLongPtrA(w, 0); }

std::string text_of(HWND w) {
    std::string s((size_t)GetWindowTextLengthA(w) + 1, '\0');
    s.resize((size_t)GetWindowTextA(w, &s[0], (int)s.size()));
    return s;
}

void measure_font(HWND w) {
    Readout *r = state(w);
    HDC dc = GetDC(w);
    HGDIOBJ old = SelectObject(dc, r->font ? r->font : GetStockObject(SYSTEM_FONT));
    TEXTMETRICA tm;
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(w, dc);
    r->cw = tm.tmAveCharWidth > 0 ? (int32_t)tm.tmAveCharWidth : 1;
    r->ch = tm.tmHeight > 0 ? (int32_t)tm.tmHeight : 1;
}

/* The font is fixed-pitch, so a line holds a fixed number of characters.
 * Words are kept whole where a line has a space to break at; a longer run
 * (a digit stream) is cut where the line is full. */
std::vector<Line> wrap(const std::string &s, int32_t per_line) {
    std::vector<Line> lines;
    int32_t n = (int32_t)s.size(), at = 0;
    if (per_line < 1) per_line = 1;
    while (at < n) {
        int32_t len = n - at < per_line ? n - at : per_line;
        if (at + len < n && s[at + len] == ' ') {
            len++; // the space at the break hangs off the line's end
        } else if (at + len < n) {
            int32_t sp = len;
            while (sp > 0 && s[at + sp - 1] != ' ') sp--;
            if (sp > 0) len = sp;
        }
        lines.push_back({at, len});
        at += len;
    }
    if (lines.empty()) lines.push_back({0, 0});
    return lines;
}

struct Layout {
    std::string text;
    std::vector<Line> lines;
    int32_t cw, ch, shown;
};

Layout layout(HWND w, bool without_bar = false) {
    Layout l;
    l.text = text_of(w);
    if (!state(w)->cw) measure_font(w);
    l.cw = state(w)->cw;
    l.ch = state(w)->ch;
    RECT rc;
    GetClientRect(w, &rc);
    int32_t width = (int32_t)rc.right;
    if (without_bar && (GetWindowLongA(w, GWL_STYLE) & WS_VSCROLL))
        width += GetSystemMetrics(SM_CXVSCROLL);
    l.lines = wrap(l.text, width / l.cw);
    l.shown = (int32_t)rc.bottom / l.ch;
    if (l.shown < 1) l.shown = 1;
    return l;
}

int32_t last_first(const Layout &l) {
    int32_t m = (int32_t)l.lines.size() - l.shown;
    return m > 0 ? m : 0;
}

void update_bar(HWND w, const Layout &l) {
    Readout *r = state(w);
    if (r->first > last_first(l)) r->first = last_first(l);
    if (r->first < 0) r->first = 0;
    SCROLLINFO si;
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    si.nMin = 0;
    si.nMax = (int)l.lines.size() - 1;
    si.nPage = (UINT)l.shown;
    si.nPos = r->first;
    if (si.nMax == r->bar.nMax && si.nPage == r->bar.nPage && si.nPos == r->bar.nPos) return;
    r->bar = si;
    SetScrollInfo(w, SB_VERT, &si, TRUE);
}

/* Lays the text out again; the scroll bar shows only when it is needed,
 * and showing it narrows the lines, so the layout is made twice then. */
void relayout(HWND w) {
    Readout *r = state(w);
    if (r->laying_out) return;
    r->laying_out = 1;
    Layout l = layout(w, true);
    bool need = (int32_t)l.lines.size() > l.shown;
    bool has = (GetWindowLongA(w, GWL_STYLE) & WS_VSCROLL) != 0;
    if (need != has) {
        ShowScrollBar(w, SB_VERT, need);
        r->bar.nMax = -1; // the bar is new to the window: set it in full
        l = layout(w);
    }
    update_bar(w, l);
    InvalidateRect(w, NULL, TRUE);
    r->laying_out = 0;
}

void scroll_to(HWND w, int32_t first) {
    state(w)->first = first;
    update_bar(w, layout(w));
    InvalidateRect(w, NULL, TRUE);
}

int32_t char_at(HWND w, LPARAM lp) {
    Layout l = layout(w);
    int32_t x = (short)LOWORD(lp), y = (short)HIWORD(lp);
    int32_t row = state(w)->first + (y < 0 ? -1 : y / l.ch);
    if (row < 0) return 0;
    if (row >= (int32_t)l.lines.size()) return (int32_t)l.text.size();
    const Line &ln = l.lines[(size_t)row];
    int32_t col = x < 0 ? 0 : (x + l.cw / 2) / l.cw;
    return ln.start + (col < ln.len ? col : ln.len);
}

void select(HWND w, int32_t anchor, int32_t caret) {
    int32_t n = GetWindowTextLengthA(w);
    Readout *r = state(w);
    r->anchor = anchor < 0 || anchor > n ? n : anchor;
    r->caret = caret < 0 || caret > n ? n : caret;
    InvalidateRect(w, NULL, FALSE);
}

void copy_selection(HWND w) {
    Readout *r = state(w);
    int32_t a = r->anchor < r->caret ? r->anchor : r->caret;
    int32_t b = r->anchor < r->caret ? r->caret : r->anchor;
    if (a == b || !OpenClipboard(w)) return;
    std::string s = text_of(w).substr((size_t)a, (size_t)(b - a));
    EmptyClipboard();
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, s.size() + 1);
    if (mem) {
        memcpy(GlobalLock(mem), s.c_str(), s.size() + 1);
        GlobalUnlock(mem);
        if (!SetClipboardData(CF_TEXT, mem)) GlobalFree(mem);
    }
    CloseClipboard();
}

void paint(HWND w) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    Readout *r = state(w);
    // The page chooses the colours, as it does for its statics.
    HBRUSH back = (HBRUSH)SendMessageA(GetParent(w), WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)w);
    COLORREF fg = GetTextColor(dc), bg = GetBkColor(dc);
    RECT rc;
    GetClientRect(w, &rc);
    FillRect(dc, &rc, back ? back : (HBRUSH)GetStockObject(BLACK_BRUSH));
    HGDIOBJ old = SelectObject(dc, r->font ? r->font : GetStockObject(SYSTEM_FONT));
    Layout l = layout(w);
    int32_t a = r->anchor < r->caret ? r->anchor : r->caret;
    int32_t b = r->anchor < r->caret ? r->caret : r->anchor;
    for (int32_t i = r->first, y = 0; i < (int32_t)l.lines.size() && y < rc.bottom;
         i++, y += l.ch) {
        const Line &ln = l.lines[(size_t)i];
        for (int32_t c = 0; c < ln.len;) {
            // Runs of selected and unselected characters.
            int32_t at = ln.start + c;
            bool sel = at >= a && at < b;
            int32_t k = c;
            while (k < ln.len && ((ln.start + k >= a && ln.start + k < b) == sel)) k++;
            SetTextColor(dc, sel ? bg : fg);
            SetBkColor(dc, sel ? fg : bg);
            TextOutA(dc, c * l.cw, y, l.text.c_str() + at, k - c);
            c = k;
        }
    }
    SelectObject(dc, old);
    EndPaint(w, &ps);
}

void context_menu(HWND w, LPARAM lp) {
    HMENU m = CreatePopupMenu();
    Readout *r = state(w);
    AppendMenuA(m, r->anchor != r->caret ? MF_STRING : MF_STRING | MF_GRAYED, 1, "Copy");
    AppendMenuA(m, MF_STRING, 2, "Select all");
    POINT p = {(short)LOWORD(lp), (short)HIWORD(lp)};
    if (p.x == -1 && p.y == -1) GetCursorPos(&p);
    int cmd = TrackPopupMenu(m, TPM_RETURNCMD | TPM_RIGHTBUTTON, p.x, p.y, 0, w, NULL);
    DestroyMenu(m);
    if (cmd == 1) copy_selection(w);
    if (cmd == 2) select(w, 0, -1);
}

LRESULT CALLBACK ReadoutProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_NCCREATE: {
        Readout *r = (Readout *)calloc(1, sizeof(Readout));
        if (!r) return FALSE;
        SetWindowLongPtrA(w, 0, (LONG_PTR)r);
        break;
    }
    case WM_NCDESTROY:
        free(state(w));
        SetWindowLongPtrA(w, 0, 0);
        break;
    case WM_SETTEXT: {
        if (!state(w)) break;
        Layout before = layout(w);
        bool at_end = state(w)->first >= last_first(before);
        size_t new_len = lp ? strlen((const char *)lp) : 0;
        bool grew = new_len > before.text.size() &&
                    strncmp((const char *)lp, before.text.c_str(), before.text.size()) == 0;
        LRESULT res = DefWindowProcA(w, msg, wp, lp);
        select(w, 0, 0);
        relayout(w);
        // A live reception grows at its end; keep the end in view unless the
        // reader has scrolled back. Anything else starts from the top.
        Layout now = layout(w);
        state(w)->first = grew && at_end ? last_first(now) : grew ? state(w)->first : 0;
        update_bar(w, now);
        return res;
    }
    case WM_SETFONT:
        state(w)->font = (HFONT)wp;
        measure_font(w);
        relayout(w);
        return 0;
    case WM_GETFONT: return (LRESULT)state(w)->font;
    case WM_SIZE: relayout(w); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: paint(w); return 0;
    case WM_VSCROLL: {
        SCROLLINFO si;
        si.cbSize = sizeof si;
        si.fMask = SIF_ALL;
        GetScrollInfo(w, SB_VERT, &si);
        int32_t first = state(w)->first, page = (int32_t)si.nPage;
        switch (LOWORD(wp)) {
        case SB_LINEUP: first--; break;
        case SB_LINEDOWN: first++; break;
        case SB_PAGEUP: first -= page; break;
        case SB_PAGEDOWN: first += page; break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: first = si.nTrackPos; break;
        case SB_TOP: first = 0; break;
        case SB_BOTTOM: first = si.nMax; break;
        default: return 0;
        }
        scroll_to(w, first);
        return 0;
    }
    case WM_MOUSEWHEEL:
        scroll_to(w, state(w)->first - GET_WHEEL_DELTA_WPARAM(wp) / WHEEL_DELTA);
        return 0;
    case WM_LBUTTONDOWN: {
        SetFocus(w);
        SetCapture(w);
        int32_t at = char_at(w, lp);
        select(w, (wp & MK_SHIFT) ? state(w)->anchor : at, at);
        state(w)->dragging = 1;
        return 0;
    }
    case WM_MOUSEMOVE:
        if (state(w)->dragging) select(w, state(w)->anchor, char_at(w, lp));
        return 0;
    case WM_LBUTTONUP:
        state(w)->dragging = 0;
        if (GetCapture() == w) ReleaseCapture();
        return 0;
    case WM_RBUTTONUP: SetFocus(w); break; // DefWindowProc turns it into WM_CONTEXTMENU
    case WM_CONTEXTMENU: context_menu(w, lp); return 0;
    case WM_KEYDOWN:
        if (GetKeyState(VK_CONTROL) < 0 && wp == 'A') select(w, 0, -1);
        if (GetKeyState(VK_CONTROL) < 0 && (wp == 'C' || wp == VK_INSERT)) copy_selection(w);
        return 0;
    case WM_GETDLGCODE: return DLGC_WANTCHARS;
    case EM_SETSEL: select(w, (int32_t)wp, (int32_t)lp); return 0;
    case EM_GETSEL:
        if (wp)
            *(DWORD *)wp =
                (DWORD)(state(w)->anchor < state(w)->caret ? state(w)->anchor : state(w)->caret);
        if (lp)
            *(DWORD *)lp =
                (DWORD)(state(w)->anchor < state(w)->caret ? state(w)->caret : state(w)->anchor);
        return 0;
    case WM_COPY: copy_selection(w); return 0;
    case EM_GETLINECOUNT: return (LRESULT)layout(w).lines.size();
    case EM_GETFIRSTVISIBLELINE: return state(w)->first;
    }
    return DefWindowProcA(w, msg, wp, lp);
}

} // namespace

void register_readout_class(HINSTANCE instance) {
    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ReadoutProc;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(NULL, IDC_IBEAM);
    wc.lpszClassName = "DtmfReadout";
    RegisterClassExA(&wc);
}
