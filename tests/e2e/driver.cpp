/* driver -- see driver.h. Everything here talks to the program only through
 * window messages that Windows copies between processes. */
#include "tests/e2e/driver.h"
#include "shell/shell.h"
#include "tabs/tabs.h"

#include <commctrl.h>
#include <string.h>

static const DWORD POLL_MS = 40;

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

/* A visible top-level window of the process, of class `cls`, titled `title`
 * (null: any). */
static HWND top_window(DWORD pid, const char *cls, const char *title) {
    for (HWND w = GetTopWindow(NULL); w; w = GetWindow(w, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid && class_of(w) == cls && IsWindowVisible(w) &&
            (!title || drv_window_text(w) == title))
            return w;
    }
    return NULL;
}

int drv_start(DrvApp *app, const char *exe_path, DWORD timeout_ms) {
    memset(app, 0, sizeof *app);
    std::string exe = drv_win_path(exe_path);
    std::string cmd = "\"" + exe + "\"";
    std::string dir = exe.substr(0, exe.find_last_of("\\/") + 1);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (!CreateProcessA(exe.c_str(), &cmd[0], NULL, NULL, FALSE, 0, NULL,
                        dir.empty() ? NULL : dir.c_str(), &si, &app->pi))
        return 0;
    // The program goes when this process goes, even when a time-out kills it.
    HANDLE job = CreateJobObjectA(NULL, NULL);
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION lim = {};
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

int drv_close(DrvApp *app, DWORD timeout_ms) {
    if (!app->pi.hProcess) return -1;
    if (app->main && IsWindow(app->main)) PostMessageA(app->main, WM_CLOSE, 0, 0);
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(app->pi.hProcess, timeout_ms) == WAIT_OBJECT_0) {
        GetExitCodeProcess(app->pi.hProcess, &code);
    } else {
        TerminateProcess(app->pi.hProcess, 1);
        WaitForSingleObject(app->pi.hProcess, 5000);
    }
    CloseHandle(app->pi.hProcess);
    CloseHandle(app->pi.hThread);
    memset(app, 0, sizeof *app);
    return (int)code;
}

std::vector<HWND> drv_children(HWND parent, const char *cls) {
    std::vector<HWND> out;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (!cls || lstrcmpiA(class_of(c).c_str(), cls) == 0) out.push_back(c);
    return out;
}

// The pages sit in the tab strip in tab order.
HWND drv_page(const DrvApp *app, int tab) {
    std::vector<HWND> pages = drv_children(GetDlgItem(app->main, IDC_TAB_CONTROL), "DtmfPage");
    return tab >= 0 && tab < (int)pages.size() ? pages[tab] : NULL;
}

HWND drv_item(const DrvApp *app, int tab, int id) {
    HWND parent = tab == DRV_HEADER ? app->main : drv_page(app, tab);
    return parent ? GetDlgItem(parent, id) : NULL;
}

int drv_select_tab(const DrvApp *app, int tab) {
    HWND strip = GetDlgItem(app->main, IDC_TAB_CONTROL);
    HWND page = drv_page(app, tab);
    if (!strip || !page) return 0;
    // Arrow keys move the selection one tab at a time and make the strip
    // send TCN_SELCHANGE to the main window from inside the program.
    for (int guard = 0; guard < 14; guard++) {
        int cur = (int)SendMessageA(strip, TCM_GETCURSEL, 0, 0);
        if (cur == tab) break;
        WPARAM key = cur < tab ? VK_RIGHT : VK_LEFT;
        SendMessageA(strip, WM_KEYDOWN, key, 1);
        SendMessageA(strip, WM_KEYUP, key, (LPARAM)0xC0000001);
    }
    DWORD start = GetTickCount();
    while (!IsWindowVisible(page) && !expired(start, 2000)) Sleep(POLL_MS);
    return SendMessageA(strip, TCM_GETCURSEL, 0, 0) == tab && IsWindowVisible(page);
}

std::string drv_window_text(HWND w) {
    if (!w) return "";
    LRESULT n = SendMessageA(w, WM_GETTEXTLENGTH, 0, 0);
    std::string s((size_t)(n > 0 ? n : 0) + 1, '\0');
    LRESULT got = SendMessageA(w, WM_GETTEXT, s.size(), (LPARAM)&s[0]);
    s.resize(got > 0 ? (size_t)got : 0);
    return s;
}

void drv_set_text(HWND w, const char *text) { SendMessageA(w, WM_SETTEXT, 0, (LPARAM)text); }

void drv_click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }

void drv_click_async(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

void drv_set_trackbar(HWND bar, int pos) {
    SendMessageA(bar, TBM_SETPOS, TRUE, pos);
    SendMessageA(GetParent(bar), WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, pos), (LPARAM)bar);
    SendMessageA(GetParent(bar), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), (LPARAM)bar);
}

void drv_pump(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG m;
        while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        Sleep(ms < POLL_MS ? ms : POLL_MS);
    } while (!expired(start, ms));
}

int drv_wait_text(HWND w, const char *expected, DWORD timeout_ms, bool prefix) {
    DWORD start = GetTickCount();
    for (;;) {
        std::string t = drv_window_text(w);
        if (prefix ? t.compare(0, strlen(expected), expected) == 0 : t == expected) return 1;
        if (expired(start, timeout_ms)) return 0;
        Sleep(POLL_MS);
    }
}

HWND drv_find_box(const DrvApp *app, const char *title, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND w = top_window(app->pi.dwProcessId, "#32770", title);
        if (w || expired(start, timeout_ms)) return w;
        Sleep(POLL_MS);
    }
}

// A message box's text is the static with id 0xFFFF.
std::string drv_box_message(HWND box) { return drv_window_text(GetDlgItem(box, 0xFFFF)); }

static void wait_gone(HWND w, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    while (IsWindow(w) && !expired(start, timeout_ms)) Sleep(POLL_MS);
}

void drv_close_box(HWND box) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
    wait_gone(box, 5000);
}

int drv_file_dialog(const DrvApp *app, const char *path, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    HWND dlg = NULL, name = NULL;
    while (!name && !expired(start, timeout_ms)) {
        Sleep(POLL_MS);
        dlg = top_window(app->pi.dwProcessId, "#32770", NULL);
        // The file name box: a combo (cmb13) in the Explorer style, an edit
        // (edt1) in the old one.
        if (dlg && !(name = GetDlgItem(dlg, 0x47c))) name = GetDlgItem(dlg, 0x480);
    }
    if (!name) return 0;
    Sleep(200); /* let the dialog finish filling its folder view */
    std::string p = drv_win_path(path);
    SendMessageA(name, WM_SETTEXT, 0, (LPARAM)p.c_str());
    HWND edit = FindWindowExA(name, NULL, "Edit", NULL);
    if (edit) SendMessageA(edit, WM_SETTEXT, 0, (LPARAM)p.c_str());
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dlg, IDOK));
    wait_gone(dlg, timeout_ms);
    return !IsWindow(dlg);
}
