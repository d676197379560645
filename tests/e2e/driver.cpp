/* driver -- see driver.h. Everything here talks to the program only through
 * window messages that Windows copies between processes. */
#include "tests/e2e/driver.h"
#include "shell/app.h"

#include <commctrl.h>
#include <string.h>

#include <vector>

static const DWORD POLL_MS = 40;

static DWORD pid_of(HWND w) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    return pid;
}

static std::string class_of(HWND w) {
    char name[64] = "";
    GetClassNameA(w, name, sizeof name);
    return name;
}

static int expired(DWORD start, DWORD timeout_ms) { return GetTickCount() - start >= timeout_ms; }

std::string drv_win_path(const char *path) {
    std::string s = path ? path : "";
    if (s.empty() || s[0] != '/') return s;
    std::string out = "Z:";
    for (char c : s) out += c == '/' ? '\\' : c;
    return out;
}

/* ---- the program ---- */

struct FindTop {
    DWORD pid;
    const char *cls;
    const char *title; /* null: any */
    HWND found;
};

static BOOL CALLBACK find_top(HWND w, LPARAM lp) {
    FindTop *f = (FindTop *)lp;
    if (pid_of(w) != f->pid || class_of(w) != f->cls || !IsWindowVisible(w)) return TRUE;
    if (f->title && drv_window_text(w) != f->title) return TRUE;
    f->found = w;
    return FALSE;
}

static HWND top_window(DWORD pid, const char *cls, const char *title) {
    FindTop f = {pid, cls, title, NULL};
    EnumWindows(find_top, (LPARAM)&f);
    return f.found;
}

int drv_start(DrvApp *app, const char *exe_path, DWORD timeout_ms) {
    return drv_start_env(app, exe_path, NULL, timeout_ms);
}

/* This process's environment with `extra` ("NAME=value" lines, separated
 * by '\n') added, as a block for CreateProcessA. */
static std::string environment_with(const char *extra) {
    std::string block;
    char *env = GetEnvironmentStringsA();
    for (const char *p = env; p && *p; p += strlen(p) + 1) (block += p) += '\0';
    FreeEnvironmentStringsA(env);
    std::string line;
    for (const char *p = extra;; p++) {
        if (*p == '\n' || *p == 0) {
            if (!line.empty()) (block += line) += '\0';
            line.clear();
            if (!*p) break;
        } else {
            line += *p;
        }
    }
    return block + '\0';
}

int drv_start_env(DrvApp *app, const char *exe_path, const char *extra_env, DWORD timeout_ms) {
    memset(app, 0, sizeof *app);
    std::string exe = drv_win_path(exe_path);
    std::string cmd = "\"" + exe + "\"";
    std::string dir = exe.substr(0, exe.find_last_of("\\/") == std::string::npos
                                        ? 0
                                        : exe.find_last_of("\\/"));
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    std::string env = extra_env ? environment_with(extra_env) : std::string();
    if (!CreateProcessA(exe.c_str(), &cmd[0], NULL, NULL, FALSE, 0,
                        extra_env ? (LPVOID)env.data() : NULL,
                        dir.empty() ? NULL : dir.c_str(), &si, &app->pi))
        return 0;
    // The program goes when this process goes, even when a time-out kills it.
    HANDLE job = CreateJobObjectA(NULL, NULL);
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION lim;
        memset(&lim, 0, sizeof lim);
        lim.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &lim, sizeof lim);
        AssignProcessToJobObject(job, app->pi.hProcess); /* the handle is kept until exit */
    }
    DWORD start = GetTickCount();
    // The window is shown only after every page has been built.
    while (!expired(start, timeout_ms)) {
        app->main = top_window(app->pi.dwProcessId, "DtmfMainWindow", NULL);
        if (app->main) return 1;
        if (WaitForSingleObject(app->pi.hProcess, POLL_MS) == WAIT_OBJECT_0) break;
    }
    drv_close(app, 2000);
    return 0;
}

int drv_running(const DrvApp *app) {
    return app->pi.hProcess && WaitForSingleObject(app->pi.hProcess, 0) == WAIT_TIMEOUT;
}

int drv_close(DrvApp *app, DWORD timeout_ms) {
    if (!app->pi.hProcess) return -1;
    if (app->main && IsWindow(app->main)) PostMessageA(app->main, WM_CLOSE, 0, 0);
    int code = -1;
    if (WaitForSingleObject(app->pi.hProcess, timeout_ms) == WAIT_OBJECT_0) {
        DWORD c = 0;
        GetExitCodeProcess(app->pi.hProcess, &c);
        code = (int)c;
    } else {
        TerminateProcess(app->pi.hProcess, 1);
        WaitForSingleObject(app->pi.hProcess, 5000);
    }
    CloseHandle(app->pi.hProcess);
    CloseHandle(app->pi.hThread);
    memset(app, 0, sizeof *app);
    return code;
}

/* ---- windows and controls ---- */

/* A control only that page has; the Reference page has none. */
static const int PAGE_MARKER[7] = {IDC_TX_TEXT_EDIT, IDC_IMGENC_ENCODE, IDC_RX_LISTEN,
                                   IDC_IMGDEC_LISTEN, IDC_HEX_OPEN, 0, IDC_SERVER_SEND};

static std::vector<HWND> pages_of(const DrvApp *app) {
    std::vector<HWND> pages;
    HWND tab = GetDlgItem(app->main, IDC_TAB_CONTROL);
    for (HWND c = GetWindow(tab, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (class_of(c) == "DtmfPage") pages.push_back(c);
    return pages;
}

HWND drv_page(const DrvApp *app, int tab) {
    if (tab < 0 || tab > 6) return NULL;
    std::vector<HWND> pages = pages_of(app);
    for (HWND p : pages) {
        if (PAGE_MARKER[tab]) {
            if (GetDlgItem(p, PAGE_MARKER[tab])) return p;
            continue;
        }
        int marked = 0;
        for (int i = 0; i < 7; i++)
            if (PAGE_MARKER[i] && GetDlgItem(p, PAGE_MARKER[i])) marked = 1;
        if (!marked) return p;
    }
    return NULL;
}

HWND drv_item(const DrvApp *app, int tab, int id) {
    if (tab == DRV_HEADER) return GetDlgItem(app->main, id);
    HWND page = drv_page(app, tab);
    return page ? GetDlgItem(page, id) : NULL;
}

HWND drv_child_at(HWND parent, int x, int y) {
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(HWND_DESKTOP, parent, (POINT *)&r, 2);
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return c;
    }
    return NULL;
}

HWND drv_readout(const DrvApp *app, int tab, const char *caption) {
    HWND page = drv_page(app, tab);
    if (!page) return NULL;
    HWND cap = NULL;
    for (HWND c = GetWindow(page, GW_CHILD); c && !cap; c = GetWindow(c, GW_HWNDNEXT))
        if (class_of(c) == "Static" && drv_window_text(c) == caption) cap = c;
    if (!cap) return NULL;
    RECT r;
    GetWindowRect(cap, &r);
    MapWindowPoints(HWND_DESKTOP, page, (POINT *)&r, 2);
    // The value box sits 18 pixels below its caption's top.
    return drv_child_at(page, r.left + 4, r.top + 18 + 4);
}

int drv_selected_tab(const DrvApp *app) {
    return (int)SendMessageA(GetDlgItem(app->main, IDC_TAB_CONTROL), TCM_GETCURSEL, 0, 0);
}

int drv_select_tab(const DrvApp *app, int tab) {
    HWND strip = GetDlgItem(app->main, IDC_TAB_CONTROL);
    HWND page = drv_page(app, tab);
    if (!strip || !page) return 0;
    // Arrow keys move the selection one tab at a time and make the strip
    // send TCN_SELCHANGE to the main window from inside the program.
    for (int guard = 0; guard < 14; guard++) {
        int cur = drv_selected_tab(app);
        if (cur == tab) break;
        WPARAM key = cur < tab ? VK_RIGHT : VK_LEFT;
        SendMessageA(strip, WM_KEYDOWN, key, 1);
        SendMessageA(strip, WM_KEYUP, key, (LPARAM)0xC0000001);
    }
    DWORD start = GetTickCount();
    while (!IsWindowVisible(page) && !expired(start, 2000)) Sleep(POLL_MS);
    return drv_selected_tab(app) == tab && IsWindowVisible(page);
}

std::string drv_window_text(HWND w) {
    if (!w) return "";
    LRESULT n = SendMessageA(w, WM_GETTEXTLENGTH, 0, 0);
    if (n < 0) n = 0;
    std::string s((size_t)n + 1, '\0');
    LRESULT got = SendMessageA(w, WM_GETTEXT, (WPARAM)(n + 1), (LPARAM)&s[0]);
    s.resize(got > 0 ? (size_t)got : 0);
    return s;
}

int drv_set_text(HWND w, const char *text) {
    return w && SendMessageA(w, WM_SETTEXT, 0, (LPARAM)text) ? 1 : 0;
}

void drv_click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }

void drv_click_async(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

int drv_checked(HWND checkbox) {
    return SendMessageA(checkbox, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void drv_set_trackbar(HWND bar, int pos) {
    SendMessageA(bar, TBM_SETPOS, TRUE, pos);
    SendMessageA(GetParent(bar), WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, pos), (LPARAM)bar);
    SendMessageA(GetParent(bar), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), (LPARAM)bar);
}

int drv_trackbar_pos(HWND bar) { return (int)SendMessageA(bar, TBM_GETPOS, 0, 0); }

int drv_progress_pos(HWND bar) { return (int)SendMessageA(bar, PBM_GETPOS, 0, 0); }

int drv_enabled(HWND w) { return IsWindowEnabled(w) ? 1 : 0; }

LONG_PTR drv_window_data(HWND w) { return GetWindowLongPtrA(w, GWLP_USERDATA); }

/* ---- waiting ---- */

void drv_pump(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG m;
        while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        Sleep(ms < POLL_MS ? ms : POLL_MS);
    } while (!expired(start, ms));
}

int drv_wait_text(HWND w, const char *expected, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (drv_window_text(w) == expected) return 1;
        if (expired(start, timeout_ms)) return 0;
        Sleep(POLL_MS);
    }
}

int drv_wait_text_prefix(HWND w, const char *prefix, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    size_t n = strlen(prefix);
    for (;;) {
        if (drv_window_text(w).compare(0, n, prefix) == 0) return 1;
        if (expired(start, timeout_ms)) return 0;
        Sleep(POLL_MS);
    }
}

std::string drv_wait_text_settled(HWND w, DWORD quiet_ms, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    std::string last = drv_window_text(w);
    DWORD changed = GetTickCount();
    while (!expired(start, timeout_ms)) {
        Sleep(POLL_MS);
        std::string now = drv_window_text(w);
        if (now != last) {
            last = now;
            changed = GetTickCount();
        } else if (expired(changed, quiet_ms)) {
            break;
        }
    }
    return last;
}

/* ---- message boxes and dialogs ---- */

HWND drv_find_box(const DrvApp *app, const char *title, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND w = top_window(app->pi.dwProcessId, "#32770", title);
        if (w || expired(start, timeout_ms)) return w;
        Sleep(POLL_MS);
    }
}

HWND drv_find_any_box(const DrvApp *app, DWORD timeout_ms) {
    return drv_find_box(app, NULL, timeout_ms);
}

static int is_icon_static(HWND c) {
    return class_of(c) == "Static" && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

std::string drv_box_message(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    if (text && !is_icon_static(text)) return drv_window_text(text);
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (class_of(c) == "Static" && !is_icon_static(c) && !drv_window_text(c).empty())
            return drv_window_text(c);
    return "";
}

int drv_box_has_icon(HWND box) {
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (is_icon_static(c) && SendMessageA(c, STM_GETICON, 0, 0)) return 1;
    return 0;
}

static void wait_gone(HWND w, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    while (IsWindow(w) && !expired(start, timeout_ms)) Sleep(POLL_MS);
}

void drv_close_box(HWND box) {
    HWND ok = GetDlgItem(box, IDOK);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)ok);
    wait_gone(box, 5000);
}

/* The file name box of the common dialogs: a combo box (cmb13) in the
 * Explorer style, an edit (edt1) in the old one. */
static HWND file_name_box(HWND dlg) {
    HWND c = GetDlgItem(dlg, 0x47c);
    if (!c) c = GetDlgItem(dlg, 0x480);
    return c;
}

int drv_file_dialog(const DrvApp *app, const char *win_path, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    HWND dlg = NULL, name = NULL;
    while (!expired(start, timeout_ms)) {
        dlg = top_window(app->pi.dwProcessId, "#32770", NULL);
        if (dlg && (name = file_name_box(dlg)) != NULL) break;
        Sleep(POLL_MS);
    }
    if (!dlg || !name) return 0;
    Sleep(200); /* let the dialog finish filling its folder view */
    std::string path = drv_win_path(win_path);
    SendMessageA(name, WM_SETTEXT, 0, (LPARAM)path.c_str());
    HWND edit = FindWindowExA(name, NULL, "Edit", NULL);
    if (edit) SendMessageA(edit, WM_SETTEXT, 0, (LPARAM)path.c_str());
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dlg, IDOK));
    wait_gone(dlg, timeout_ms);
    return !IsWindow(dlg);
}
