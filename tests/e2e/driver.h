/* driver -- window helpers for every Windows test: the first part serves the
 * in-process tests (through tests/win/kit.h) too; the rest drives a running
 * Tessary.exe from another process as a user would (drv_click returns when
 * the click is handled; drv_click_async is for buttons that open a dialog).
 * Every wait is bounded and returns false/null when it runs out. Texts go
 * by WM_GETTEXT, which Windows (and Wine) copies across processes; WM_NOTIFY
 * is not copied, so tabs are switched with the tab strip's own keys. */
#ifndef TESSARY_E2E_DRIVER_H
#define TESSARY_E2E_DRIVER_H

#include <windows.h>
#include <commctrl.h>
#include <string.h>
#include <functional>
#include <string>
#include <vector>
#include "ui/ids.h"

// Texts of any length (readouts hold up to 4096 digits).
inline std::string drv_text(HWND w) {
    if (!w) return "";
    LRESULT n = SendMessageA(w, WM_GETTEXTLENGTH, 0, 0);
    std::string s((size_t)(n > 0 ? n : 0) + 1, '\0');
    s.resize((size_t)SendMessageA(w, WM_GETTEXT, s.size(), (LPARAM)&s[0]));
    return s;
}

// Keeps this thread's queue answered for ms (at least one pass).
inline void drv_pump(DWORD ms) {
    ULONGLONG end = GetTickCount64() + ms;
    do {
        MSG m;
        while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        if (ms) Sleep(2);
    } while (GetTickCount64() < end);
}

// Pumps until pred holds or the time runs out; returns pred's last answer.
inline bool drv_until(const std::function<bool()> &pred, DWORD timeout_ms, DWORD poll_ms = 5) {
    ULONGLONG end = GetTickCount64() + timeout_ms;
    while (!pred()) {
        if (GetTickCount64() >= end) return false;
        drv_pump(poll_ms);
    }
    return true;
}

inline std::string drv_class(HWND w) {
    char name[64] = "";
    return GetClassNameA(w, name, sizeof name) ? name : "";
}

// A visible top-level window of process pid, of class cls, titled title (null: any).
inline HWND drv_top_window(DWORD pid, const char *cls, const char *title) {
    for (HWND w = GetTopWindow(NULL); w; w = GetWindow(w, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid && drv_class(w) == cls && IsWindowVisible(w) &&
            (!title || drv_text(w) == title))
            return w;
    }
    return NULL;
}

// A message box's text is the static with id 0xFFFF.
inline std::string drv_box_message(HWND box) { return drv_text(GetDlgItem(box, 0xFFFF)); }

// Answers a box or a dialog with OK; true once it is gone.
inline bool drv_close_box(HWND box, DWORD timeout_ms = 5000) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
    return drv_until([box] { return !IsWindow(box); }, timeout_ms, 40);
}

/* ---- The program in a process of its own ---- */

// Pages in tab order: Transmit, Image encode, Receive, Image decode, Hex, Reference, Server.
// DRV_HEADER for drv_item: a control of the main window's header.
enum { DRV_TAB_TX = 0, DRV_TAB_RX = 2, DRV_TAB_HEX = 4, DRV_TAB_SERVER = 6, DRV_HEADER = -1 };

struct DrvApp {
    PROCESS_INFORMATION pi;
    HWND main;
};

/* "/tmp/x.wav" -> "Z:\tmp\x.wav"; Windows paths are returned unchanged. */
inline std::string drv_win_path(const char *path) {
    std::string s = path ? path : "";
    if (s.empty() || s[0] != '/') return s;
    std::string out = "Z:";
    for (char c : s) out += c == '/' ? '\\' : c;
    return out;
}

/* Returns the exit code, or -1 when it had to be killed. */
inline int drv_close(DrvApp *app, DWORD timeout_ms) {
    if (!app->pi.hProcess) return -1;
    if (app->main && IsWindow(app->main)) PostMessageA(app->main, WM_CLOSE, 0, 0);
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(app->pi.hProcess, timeout_ms) == WAIT_OBJECT_0)
        GetExitCodeProcess(app->pi.hProcess, &code);
    else if (TerminateProcess(app->pi.hProcess, 1))
        WaitForSingleObject(app->pi.hProcess, 5000);
    CloseHandle(app->pi.hProcess);
    CloseHandle(app->pi.hThread);
    memset(app, 0, sizeof *app);
    return (int)code;
}

/* True once the main window shows. The program dies with the test process. */
inline bool drv_start(DrvApp *app, const char *exe_path, DWORD timeout_ms) {
    memset(app, 0, sizeof *app);
    std::string exe = drv_win_path(exe_path);
    std::string cmd = "\"" + exe + "\"";
    std::string dir = exe.substr(0, exe.find_last_of("\\/") + 1);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (!CreateProcessA(exe.c_str(), &cmd[0], NULL, NULL, FALSE, 0, NULL,
                        dir.empty() ? NULL : dir.c_str(), &si, &app->pi))
        return false;
    // The program goes when this process goes, even when a time-out kills it.
    HANDLE job = CreateJobObjectA(NULL, NULL);
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION lim = {};
        lim.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &lim, sizeof lim);
        AssignProcessToJobObject(job, app->pi.hProcess); /* the handle is kept until exit */
    }
    // The window is shown only after every page has been built.
    drv_until(
        [app] {
            app->main = drv_top_window(app->pi.dwProcessId, "DtmfMainWindow", NULL);
            return app->main || WaitForSingleObject(app->pi.hProcess, 0) == WAIT_OBJECT_0;
        },
        timeout_ms, 40);
    if (app->main) return true;
    drv_close(app, 2000);
    return false;
}

// The pages sit in the tab strip in tab order.
inline HWND drv_page(const DrvApp *app, int tab) {
    HWND c = GetWindow(GetDlgItem(app->main, IDC_TAB_CONTROL), GW_CHILD);
    for (int i = 0; c && tab >= 0; c = GetWindow(c, GW_HWNDNEXT))
        if (drv_class(c) == "DtmfPage" && i++ == tab) return c;
    return NULL;
}

inline HWND drv_item(const DrvApp *app, int tab, int id) {
    HWND parent = tab == DRV_HEADER ? app->main : drv_page(app, tab);
    return parent ? GetDlgItem(parent, id) : NULL;
}

inline bool drv_select_tab(const DrvApp *app, int tab) {
    HWND strip = GetDlgItem(app->main, IDC_TAB_CONTROL);
    HWND page = drv_page(app, tab);
    if (!strip || !page) return false;
    // Arrow keys move the selection one tab at a time and make the strip
    // send TCN_SELCHANGE to the main window from inside the program.
    for (int guard = 0; guard < 14; guard++) {
        int cur = (int)SendMessageA(strip, TCM_GETCURSEL, 0, 0);
        if (cur == tab) break;
        WPARAM key = cur < tab ? VK_RIGHT : VK_LEFT;
        SendMessageA(strip, WM_KEYDOWN, key, 1);
        SendMessageA(strip, WM_KEYUP, key, (LPARAM)0xC0000001);
    }
    drv_until([page] { return IsWindowVisible(page) != 0; }, 2000, 40);
    return SendMessageA(strip, TCM_GETCURSEL, 0, 0) == tab && IsWindowVisible(page);
}

inline void drv_set_text(HWND w, const char *text) { SendMessageA(w, WM_SETTEXT, 0, (LPARAM)text); }
inline void drv_click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }
inline void drv_click_async(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

/* Moves a trackbar and tells its parent as a drag of the thumb would. */
inline void drv_set_trackbar(HWND bar, int pos) {
    SendMessageA(bar, TBM_SETPOS, TRUE, pos);
    SendMessageA(GetParent(bar), WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, pos), (LPARAM)bar);
    SendMessageA(GetParent(bar), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), (LPARAM)bar);
}

/* Waits until the text equals `expected`, or only starts with it. */
inline bool drv_wait_text(HWND w, const char *expected, DWORD timeout_ms, bool prefix = false) {
    size_t n = prefix ? strlen(expected) : std::string::npos;
    return drv_until([&] { return drv_text(w).compare(0, n, expected) == 0; }, timeout_ms, 40);
}

/* A dialog window (#32770) of the program with this title (null: any). */
inline HWND drv_find_box(const DrvApp *app, const char *title, DWORD timeout_ms) {
    HWND w = NULL;
    drv_until([&] { return (w = drv_top_window(app->pi.dwProcessId, "#32770", title)) != NULL; },
              timeout_ms, 40);
    return w;
}

/* Fills the open or save dialog the program shows and confirms it. */
inline bool drv_file_dialog(const DrvApp *app, const char *path, DWORD timeout_ms) {
    HWND dlg = NULL, name = NULL;
    // The file name box: a combo (cmb13) in the Explorer style, an edit
    // (edt1) in the old one.
    drv_until(
        [&] {
            dlg = drv_top_window(app->pi.dwProcessId, "#32770", NULL);
            return dlg && ((name = GetDlgItem(dlg, 0x47c)) || (name = GetDlgItem(dlg, 0x480)));
        },
        timeout_ms, 40);
    if (!name) return false;
    Sleep(200); /* let the dialog finish filling its folder view */
    std::string p = drv_win_path(path);
    SendMessageA(name, WM_SETTEXT, 0, (LPARAM)p.c_str());
    HWND edit = FindWindowExA(name, NULL, "Edit", NULL);
    if (edit) SendMessageA(edit, WM_SETTEXT, 0, (LPARAM)p.c_str());
    return drv_close_box(dlg, timeout_ms);
}

#endif
