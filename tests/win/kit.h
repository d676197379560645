// Helpers for the in-process Windows tests, beside the core tests' own
// (Buf, files, WAV images) and the window helpers shared with the
// end-to-end tests (drv_text, drv_pump, drv_until ...).
#ifndef TESSARY_TESTS_WIN_KIT_H
#define TESSARY_TESTS_WIN_KIT_H

#include <math.h>
#include <atomic>
#include <mutex>
#include <thread>
#include "shell/shell.h"
#include "tabs/tabs.h"
#include "tests/core/core_test_util.h"
#include "tests/e2e/driver.h"

inline HWND shell_app(void) {
    static HWND w = NULL;
    if (!w) w = app_create_main_window(GetModuleHandleA(NULL), SW_HIDE);
    return w;
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
        for (; !stop; Sleep(20)) {
            HWND w = drv_top_window(GetCurrentProcessId(), "#32770", NULL);
            if (!w) continue;
            Box b = {drv_text(w), drv_box_message(w), false};
            HICON hand = LoadIconA(NULL, IDI_HAND);
            for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                b.error_icon |= (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                                (HICON)SendMessageA(c, STM_GETICON, 0, 0) == hand;
            mu.lock(); // recorded before the box lets its caller go on
            seen.push_back(b);
            mu.unlock();
            drv_close_box(w);
        }
    }};
    ~BoxWatch() {
        stop = true;
        thread.join();
    }
    std::vector<Box> boxes() {
        std::lock_guard<std::mutex> lock(mu);
        return seen;
    }
    std::vector<std::string> said() { // every box so far as "title|text"
        std::vector<std::string> out;
        for (const Box &b : boxes()) out.push_back(b.title + "|" + b.text);
        return out;
    }
};

// A page's file decode, to its end: the decode runs on a thread of its own
// and its news come as messages. Returns what the page's decode returned.
inline int32_t kit_decode(int32_t (*decode_path)(const char *), const std::string &wav) {
    int32_t r = decode_path(wav.c_str());
    drv_until(
        [] {
            return !rxpanel_decoding_file(&g_app.rx.panel) &&
                   !rxpanel_decoding_file(&g_app.imgdec.panel) &&
                   !rxpanel_decoding_file(&g_app.hex.panel);
        },
        60000, 2);
    return r;
}

// A WAV file holding the given digits as a plain digit block (at 100 % speed).
inline bool kit_make_wav(const std::string &path, const std::vector<uint32_t> &digits,
                         double tone_s = 0.18, double gap_s = 0.09) {
    Buf b;
    gen_digits_samples(&b, digits.data(), digits.size(), 0, tone_s, gap_s);
    return save_wav(path.c_str(), &b) == 0;
}

// One 2048-sample frame at 44100 Hz: the digit's two tones, or silence (-1).
inline std::vector<float> rx_frame(int digit) {
    std::vector<float> f(2048, 0.0f);
    for (int i = 0; digit >= 0 && i < 2048; i++)
        f[i] = (float)(0.4 * sin(6.283185307179586 * DIGIT_ROW[digit] * i / 44100) +
                       0.4 * sin(6.283185307179586 * DIGIT_COL[digit] * i / 44100));
    return f;
}

#endif
