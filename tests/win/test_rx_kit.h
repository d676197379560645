// Shared by the text pages' tests: a message-box watcher that also tells
// which icon a box shows, and frames of pure tone pairs.
#ifndef TESSARY_TESTS_RX_KIT_H
#define TESSARY_TESTS_RX_KIT_H

#include <math.h>
#include <string>
#include <vector>
#include "tests/win/pages_kit.h"

struct RxBox {
    std::string title, text;
    bool error_icon;
};

// While alive, answers every message box of this process and records it.
struct RxBoxWatch {
    HANDLE thread = NULL;
    volatile LONG stop = 0;
    CRITICAL_SECTION cs;
    std::vector<RxBox> seen;

    static BOOL CALLBACK top(HWND w, LPARAM lp) {
        RxBoxWatch *self = (RxBoxWatch *)lp;
        DWORD pid = 0;
        char cls[16] = "";
        GetWindowThreadProcessId(w, &pid);
        GetClassNameA(w, cls, sizeof cls);
        if (pid != GetCurrentProcessId() || strcmp(cls, "#32770") != 0 || !IsWindowVisible(w))
            return TRUE;
        RxBox b;
        b.title = kit_text(w);
        b.text = kit_text(GetDlgItem(w, 0xFFFF));
        b.error_icon = false;
        HICON hand = LoadIconA(NULL, IDI_HAND);
        for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if ((GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                (HICON)SendMessageA(c, STM_GETICON, 0, 0) == hand)
                b.error_icon = true;
        EnterCriticalSection(&self->cs);
        self->seen.push_back(b);
        LeaveCriticalSection(&self->cs);
        SendMessageA(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return TRUE;
    }
    static DWORD WINAPI run(LPVOID p) {
        RxBoxWatch *self = (RxBoxWatch *)p;
        while (!self->stop) {
            EnumWindows(top, (LPARAM)self);
            Sleep(20);
        }
        return 0;
    }
    RxBoxWatch() {
        InitializeCriticalSection(&cs);
        thread = CreateThread(NULL, 0, run, this, 0, NULL);
    }
    ~RxBoxWatch() {
        InterlockedExchange(&stop, 1);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        DeleteCriticalSection(&cs);
    }
    std::vector<RxBox> boxes() {
        EnterCriticalSection(&cs);
        std::vector<RxBox> v = seen;
        LeaveCriticalSection(&cs);
        return v;
    }
};

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
