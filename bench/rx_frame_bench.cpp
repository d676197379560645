// How long the capture thread spends on one live frame: detection, the digit
// stream and the two posts, as capture_frame_callback runs them, under Wine.
// Run by hand: scripts/wine-run build-NAME/win/bench/rx_frame_bench.exe
#include "shell/shell.h"
#include "tabs/tabs.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

static std::vector<float> frame_of(int digit, double amp) {
    std::vector<float> f(2048, 0.0f);
    for (int i = 0; digit >= 0 && i < 2048; i++)
        f[i] = (float)(amp * (sin(6.283185307179586 * DIGIT_ROW[digit] * i / 44100.0) +
                              sin(6.283185307179586 * DIGIT_COL[digit] * i / 44100.0)));
    return f;
}

static void drain(void) {
    MSG m;
    while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) {}
}

int main(void) {
    g_app.main_wnd = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    rxpanel_set_target(g_app.main_wnd, &g_app.repeater_mode);
    RxPanel panel;
    rxpanel_init(&panel, 0, -1);
    std::vector<std::vector<float>> frames;
    for (int d = -1; d < 7; d++) frames.push_back(frame_of(d, 0.3));

    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    const int n = 2000;
    for (int repeater = 0; repeater < 2; repeater++) {
        g_app.repeater_mode = repeater;
        std::vector<double> us;
        for (int i = 0; i < n + 50; i++) {
            const std::vector<float> &f = frames[(i / 3) % frames.size()];
            LARGE_INTEGER a, b;
            QueryPerformanceCounter(&a);
            capture_frame_callback(f.data(), 2048, &panel);
            QueryPerformanceCounter(&b);
            if (i >= 50)
                us.push_back((double)(b.QuadPart - a.QuadPart) * 1e6 / (double)freq.QuadPart);
            if (i % 64 == 0) drain();
        }
        std::sort(us.begin(), us.end());
        double sum = 0;
        for (double u : us) sum += u;
        printf("%s detector: %d frames, mean %.0f us, median %.0f us, 99th %.0f us, max %.0f us "
               "(%.1f %% of the 46.4 ms a frame lasts)\n",
               repeater ? "repeater" : "plain", n, sum / n, us[n / 2], us[n * 99 / 100], us[n - 1],
               100.0 * (sum / n) / 46439.9);
    }
    return 0;
}
