// What the page end-to-end tests need beside the driver: screenshots as PNG,
// and the test's own sound card use (recording the loop, playing into it).
#ifndef TESSARY_E2E_PAGES_KIT_H
#define TESSARY_E2E_PAGES_KIT_H

#include <windows.h>
#include <mmsystem.h>
#include <stdint.h>
#include <string>
#include <vector>

/* Writes what the screen shows of window `w` as a PNG into
 * $TESSARY_ARTIFACTS (or the current folder) under `name`. 0 or -1. */
int e2e_screenshot(HWND w, const char *name);
/* The colour on screen at a client point of `w`. */
COLORREF e2e_pixel(HWND w, int x, int y);

/* Records the default input at 44.1 kHz mono from start to stop. */
struct E2eRecorder {
    HWAVEIN in = NULL;
    WAVEHDR hdr[8];
    int16_t buf[8][2048];
    HANDLE thread = NULL;
    volatile LONG stop = 0;
    std::vector<float> samples;
};
int e2e_record_start(E2eRecorder *r);
void e2e_record_stop(E2eRecorder *r);

/* Plays digits as a plain digit block at 100 % speed on the default output
 * and returns when it has played (or after timeout_ms). 0 or -1. */
int e2e_play_digits(const std::vector<uint32_t> &digits, DWORD timeout_ms);

/* Digits the core's detector finds in 44.1 kHz samples (threshold 0.3). */
std::vector<int32_t> e2e_detect(const std::vector<float> &samples);

#endif
