// Helpers for the shell's in-process tests: the real main window (hidden),
// message pumping on the test thread, and a watcher thread that answers the
// program's message boxes and records their titles and texts.
#ifndef TESSARY_TESTS_SHELL_KIT_H
#define TESSARY_TESTS_SHELL_KIT_H

#include <windows.h>
#include <string.h>
#include <functional>
#include <string>
#include <vector>
#include "shell/app.h"

inline HWND shell_app(void) {
    static HWND w = NULL;
    if (!w) w = app_create_main_window(GetModuleHandleA(NULL), SW_HIDE);
    return w;
}

inline void shell_pump(DWORD ms) {
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
inline bool shell_pump_until(const std::function<bool()> &pred, DWORD timeout_ms) {
    ULONGLONG end = GetTickCount64() + timeout_ms;
    while (!pred()) {
        if (GetTickCount64() >= end) return false;
        shell_pump(5);
    }
    return true;
}

inline std::string shell_text(HWND w) {
    char t[2048] = "";
    GetWindowTextA(w, t, sizeof t);
    return t;
}

struct ShellBox {
    std::string title, text;
};

// While alive, closes every message box of this process and records it.
struct ShellBoxWatch {
    HANDLE thread = NULL;
    volatile LONG stop = 0;
    CRITICAL_SECTION cs;
    std::vector<ShellBox> seen;

    static BOOL CALLBACK top(HWND w, LPARAM lp) {
        ShellBoxWatch *self = (ShellBoxWatch *)lp;
        DWORD pid = 0;
        char cls[16] = "";
        GetWindowThreadProcessId(w, &pid);
        GetClassNameA(w, cls, sizeof cls);
        if (pid != GetCurrentProcessId() || strcmp(cls, "#32770") != 0 || !IsWindowVisible(w))
            return TRUE;
        ShellBox b;
        char t[1400] = "";
        GetWindowTextA(w, t, sizeof t);
        b.title = t;
        t[0] = 0;
        GetDlgItemTextA(w, 0xFFFF, t, sizeof t); // the message text's static
        b.text = t;
        EnterCriticalSection(&self->cs);
        self->seen.push_back(b);
        LeaveCriticalSection(&self->cs);
        SendMessageA(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return TRUE;
    }
    static DWORD WINAPI run(LPVOID p) {
        ShellBoxWatch *self = (ShellBoxWatch *)p;
        while (!self->stop) {
            EnumWindows(top, (LPARAM)self);
            Sleep(20);
        }
        return 0;
    }
    ShellBoxWatch() {
        InitializeCriticalSection(&cs);
        thread = CreateThread(NULL, 0, run, this, 0, NULL);
    }
    ~ShellBoxWatch() {
        InterlockedExchange(&stop, 1);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        DeleteCriticalSection(&cs);
    }
    std::vector<ShellBox> boxes() {
        EnterCriticalSection(&cs);
        std::vector<ShellBox> v = seen;
        LeaveCriticalSection(&cs);
        return v;
    }
};

#endif
