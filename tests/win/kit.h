// Helpers for the in-process Windows tests, beside the core tests' own
// (Buf, files, WAV images).
#ifndef TESSARY_TESTS_WIN_KIT_H
#define TESSARY_TESTS_WIN_KIT_H

#include <windows.h>
#include <math.h>
#include <string.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include "shell/shell.h"
#include "tabs/tabs.h"
#include "tests/core/core_test_util.h"

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

// Texts of any length (readouts hold up to 4096 digits).
inline std::string kit_text(HWND w) {
    std::string s((size_t)GetWindowTextLengthA(w) + 1, '\0');
    s.resize((size_t)GetWindowTextA(w, &s[0], (int)s.size()));
    return s;
}

struct Box {
    std::string title, text;
    bool error_icon;
};

// While alive, answers every message box of this process and records it.
struct BoxWatch {
    std::atomic<bool> stop{false};
    std::mutex mu;
    std::vector<Box> seen;
    std::thread thread{[this] {
        for (; !stop; Sleep(20)) EnumWindows(top, (LPARAM)this);
    }};

    static BOOL CALLBACK top(HWND w, LPARAM lp) {
        BoxWatch *self = (BoxWatch *)lp;
        DWORD pid = 0;
        char cls[16] = "";
        GetWindowThreadProcessId(w, &pid);
        GetClassNameA(w, cls, sizeof cls);
        if (pid != GetCurrentProcessId() || strcmp(cls, "#32770") != 0 || !IsWindowVisible(w))
            return TRUE;
        Box b = {kit_text(w), kit_text(GetDlgItem(w, 0xFFFF)), false};
        HICON hand = LoadIconA(NULL, IDI_HAND);
        for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            b.error_icon |= (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                            (HICON)SendMessageA(c, STM_GETICON, 0, 0) == hand;
        std::lock_guard<std::mutex> lock(self->mu);
        self->seen.push_back(b);
        SendMessageA(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return TRUE;
    }
    ~BoxWatch() {
        stop = true;
        thread.join();
    }
    std::vector<Box> boxes() {
        std::lock_guard<std::mutex> lock(mu);
        return seen;
    }
    // Every box so far as "title|text".
    std::vector<std::string> said() {
        std::vector<std::string> out;
        for (const Box &b : boxes()) out.push_back(b.title + "|" + b.text);
        return out;
    }
};

// A WAV file holding the given digits as a plain digit block at 100 % speed.
inline bool kit_make_wav(const std::string &path, const std::vector<uint32_t> &digits) {
    Buf b;
    gen_digits_samples(&b, digits.data(), digits.size(), 0, 0.18, 0.09);
    return save_wav(path.c_str(), &b) == 0;
}

// One 2048-sample frame at 44100 Hz: the digit's two tones, or silence (-1),
// or a lone row tone (-2).
inline std::vector<float> rx_frame(int digit) {
    std::vector<float> f(2048, 0.0f);
    if (digit == -1) return f;
    double fr = digit == -2 ? 697 : DIGIT_ROW[digit], fc = digit == -2 ? 0 : DIGIT_COL[digit];
    for (int i = 0; i < 2048; i++)
        f[i] = (float)(0.4 * sin(6.283185307179586 * fr * i / 44100) +
                       0.4 * sin(6.283185307179586 * fc * i / 44100));
    return f;
}

#endif
