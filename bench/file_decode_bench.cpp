// How long the window takes to decode a WAV file on the Hex page, from the
// click to the summary in the status line, and where that time goes: the
// core alone (reading and decoding, digits only counted) against the page.
// Run by hand, on a display: scripts/wine-run build-NAME/win/bench/file_decode_bench.exe FILE.wav
#include "shell/shell.h"
#include "tabs/tabs.h"
#include "tabs/rxpage.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

static double now_ms(void) {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart * 1000.0 / (double)f.QuadPart;
}

static void pump(void) {
    MSG m;
    while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

static uint64_t g_count;
static void count_digit(int32_t) { g_count++; }

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: file_decode_bench FILE.wav\n");
        return 2;
    }
    const char *path = argv[1];

    double t0 = now_ms();
    SampleBuf buf;
    sb_init(&buf);
    uint32_t rate = 0;
    if (load_wav_mono_float(path, &buf, &rate) != 0) {
        fprintf(stderr, "cannot read %s\n", path);
        return 1;
    }
    double t1 = now_ms();
    RxPanel panel;
    rxpanel_init(&panel, 2, -1);
    rxpanel_decode_samples(&panel, buf.data, buf.len, (int32_t)rate, count_digit);
    double t2 = now_ms();
    sb_free(&buf);
    printf("core: read %.0f ms, decode %.0f ms, %llu digits\n", t1 - t0, t2 - t1,
           (unsigned long long)g_count);

    HWND w = app_create_main_window(GetModuleHandleA(NULL), SW_SHOW);
    // The Hex page in front, as a user has it: its readouts are drawn.
    SendMessageA(g_app.tab_control, TCM_SETCURSEL, 4, 0);
    for (int i = 0; i < 7; i++) ShowWindow(g_app.pages[i], i == 4 ? SW_SHOW : SW_HIDE);
    pump();
    char status[200] = "";
    double c0 = now_ms();
    hex_decode_path(path);
    for (;;) { // the page may decode on a thread of its own
        pump();
        GetWindowTextA(g_app.hex.status_label, status, sizeof status);
        if (strncmp(status, "Decoding", 8) != 0) break;
        Sleep(1);
    }
    double c1 = now_ms();
    printf("window: %.0f ms from the click to \"%s\" (%llu digits held)\n", c1 - c0, status,
           (unsigned long long)g_app.hex.panel.received.count);
    DestroyWindow(w);
    return 0;
}
