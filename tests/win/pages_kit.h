// Helpers for the in-process tests of the image, hex and server pages,
// beside shell_kit.h's window, pumping and message-box watch: long texts,
// temporary files, and digits in and out of WAV files.
#ifndef TESSARY_TESTS_PAGES_KIT_H
#define TESSARY_TESTS_PAGES_KIT_H

#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>
#include "tests/win/shell_kit.h"

// Texts of any length (readouts hold up to 4096 digits).
inline std::string kit_text(HWND w)
{
    int n = GetWindowTextLengthA(w);
    std::string s((size_t)n + 1, '\0');
    GetWindowTextA(w, &s[0], n + 1);
    s.resize(strlen(s.c_str()));
    return s;
}

inline std::string kit_temp_path(const char *name)
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%stessary-pages-%lu-%s", dir, GetCurrentProcessId(), name);
    return path;
}

inline bool kit_write_file(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    size_t n = bytes.empty() ? 0 : fwrite(bytes.data(), 1, bytes.size(), f);
    return fclose(f) == 0 && n == bytes.size();
}

inline std::vector<uint8_t> kit_read_file(const std::string &path)
{
    std::vector<uint8_t> out;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    fclose(f);
    return out;
}

inline int32_t kit_collect(void *ctx, uint64_t, int32_t, int32_t digit, float, float)
{
    if (digit >= 0) ((std::vector<int32_t> *)ctx)->push_back(digit);
    return 0;
}

// The digits a receiver would hear in a WAV file (plain tones, threshold 0.3).
inline std::vector<int32_t> kit_wav_digits(const std::string &path)
{
    std::vector<int32_t> digits;
    SampleBuf b;
    sb_init(&b);
    uint32_t rate = 44100;
    if (load_wav_mono_float(path.c_str(), &b, &rate) == 0) {
        DigitStream ds;
        digit_stream_reset(&ds);
        detect_frames(b.data, b.len, (int32_t)rate, 2048, 1024, 0.3f, 0, &ds, kit_collect,
                      &digits);
    }
    sb_free(&b);
    return digits;
}

// A WAV file holding the given digits as a plain digit block at 100 % speed.
inline bool kit_make_wav(const std::string &path, const std::vector<uint32_t> &digits)
{
    SampleBuf b;
    sb_init(&b);
    gen_digits_samples(&b, digits.data(), digits.size(), 0, 0.18, 0.09);
    bool ok = save_wav(path.c_str(), &b) == 0;
    sb_free(&b);
    return ok;
}

#endif
