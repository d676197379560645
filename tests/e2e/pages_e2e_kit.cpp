#include "tests/e2e/pages_e2e_kit.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "core/dtmf_core.h"
#include "tests/e2e/driver.h"

/* ---- PNG, uncompressed (stored deflate blocks): no library needed ---- */

static void put32(std::vector<uint8_t> &v, uint32_t x)
{
    for (int s = 24; s >= 0; s -= 8) v.push_back((uint8_t)(x >> s));
}

static void chunk(std::vector<uint8_t> &png, const char *type, const std::vector<uint8_t> &data)
{
    put32(png, (uint32_t)data.size());
    size_t body = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    uint32_t crc = ~0u;
    for (size_t i = body; i < png.size(); i++) {
        crc ^= png[i];
        for (int k = 0; k < 8; k++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    put32(png, ~crc);
}

// Rows of BGRA pixels, top first.
static std::vector<uint8_t> png_encode(const uint8_t *bgra, int w, int h)
{
    std::vector<uint8_t> raw;
    for (int i = 0; i < w * h; i++) {
        if (i % w == 0) raw.push_back(0);
        raw.insert(raw.end(), {bgra[i * 4 + 2], bgra[i * 4 + 1], bgra[i * 4]});
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    for (size_t off = 0; off < raw.size(); off += 65535) {
        size_t n = raw.size() - off < 65535 ? raw.size() - off : 65535;
        z.insert(z.end(), {(uint8_t)(off + n >= raw.size()), (uint8_t)n, (uint8_t)(n >> 8),
                           (uint8_t)~n, (uint8_t)(~n >> 8)});
        z.insert(z.end(), raw.begin() + off, raw.begin() + off + n);
    }
    put32(z, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}, ihdr;
    put32(ihdr, (uint32_t)w);
    put32(ihdr, (uint32_t)h);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    chunk(png, "IHDR", ihdr);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", {});
    return png;
}

int e2e_screenshot(HWND wnd, const char *name)
{
    RECT rc;
    if (!GetWindowRect(wnd, &rc)) return -1;
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
    SelectObject(mem, old);
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof bi.bmiHeader, w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint8_t> bgra((size_t)w * h * 4);
    GetDIBits(mem, bmp, 0, h, bgra.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);

    std::vector<uint8_t> png = png_encode(bgra.data(), w, h);
    const char *dir = getenv("TESSARY_ARTIFACTS");
    std::string path = dir && *dir ? drv_win_path(dir) + "\\" + name : std::string(name);
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return -1;
    size_t n = fwrite(png.data(), 1, png.size(), f);
    return (fclose(f) == 0 && n == png.size()) ? 0 : -1;
}

COLORREF e2e_pixel(HWND w, int x, int y)
{
    POINT p = {x, y};
    ClientToScreen(w, &p);
    HDC screen = GetDC(NULL);
    COLORREF c = GetPixel(screen, p.x, p.y);
    ReleaseDC(NULL, screen);
    return c;
}

/* ---- the test's own sound ---- */

static WAVEFORMATEX MONO16 = {WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0};

static DWORD WINAPI record_thread(LPVOID p)
{
    E2eRecorder *r = (E2eRecorder *)p;
    for (int next = 0; !r->stop;) {
        WAVEHDR *h = &r->hdr[next];
        if (!(h->dwFlags & WHDR_DONE)) {
            Sleep(5);
            continue;
        }
        const int16_t *s = (const int16_t *)h->lpData;
        for (DWORD i = 0; i < h->dwBytesRecorded / 2; i++) r->samples.push_back(s[i] / 32768.0f);
        h->dwFlags &= ~WHDR_DONE;
        waveInAddBuffer(r->in, h, sizeof *h);
        next = (next + 1) % 8;
    }
    return 0;
}

int e2e_record_start(E2eRecorder *r)
{
    if (waveInOpen(&r->in, WAVE_MAPPER, &MONO16, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
        return -1;
    for (int i = 0; i < 8; i++) {
        r->hdr[i] = {};
        r->hdr[i].lpData = (LPSTR)r->buf[i];
        r->hdr[i].dwBufferLength = sizeof r->buf[i];
        waveInPrepareHeader(r->in, &r->hdr[i], sizeof r->hdr[i]);
        waveInAddBuffer(r->in, &r->hdr[i], sizeof r->hdr[i]);
    }
    r->thread = CreateThread(NULL, 0, record_thread, r, 0, NULL);
    waveInStart(r->in);
    return 0;
}

void e2e_record_stop(E2eRecorder *r)
{
    InterlockedExchange(&r->stop, 1);
    WaitForSingleObject(r->thread, 2000);
    CloseHandle(r->thread);
    waveInReset(r->in);
    for (int i = 0; i < 8; i++) waveInUnprepareHeader(r->in, &r->hdr[i], sizeof r->hdr[i]);
    waveInClose(r->in);
}

int e2e_play_digits(const std::vector<uint32_t> &digits, DWORD timeout_ms)
{
    SampleBuf b;
    sb_init(&b);
    gen_digits_samples(&b, digits.data(), digits.size(), 0, 0.18, 0.09);
    std::vector<int16_t> pcm(b.len);
    for (uint64_t i = 0; i < b.len; i++) pcm[i] = (int16_t)(b.data[i] * 32767.0f);
    sb_free(&b);

    HWAVEOUT out;
    if (waveOutOpen(&out, WAVE_MAPPER, &MONO16, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
        return -1;
    WAVEHDR h = {};
    h.lpData = (LPSTR)pcm.data();
    h.dwBufferLength = (DWORD)(pcm.size() * 2);
    waveOutPrepareHeader(out, &h, sizeof h);
    waveOutWrite(out, &h, sizeof h);
    DWORD start = GetTickCount();
    while (!(h.dwFlags & WHDR_DONE) && GetTickCount() - start < timeout_ms) Sleep(20);
    int ok = (h.dwFlags & WHDR_DONE) ? 0 : -1;
    waveOutReset(out);
    waveOutUnprepareHeader(out, &h, sizeof h);
    waveOutClose(out);
    return ok;
}

static int32_t collect(void *ctx, uint64_t, int32_t, int32_t digit, float, float)
{
    if (digit >= 0) ((std::vector<int32_t> *)ctx)->push_back(digit);
    return 0;
}

std::vector<int32_t> e2e_detect(const std::vector<float> &samples)
{
    std::vector<int32_t> digits;
    DigitStream ds;
    digit_stream_reset(&ds);
    detect_frames(samples.data(), samples.size(), 44100, 2048, 1024, 0.3f, 0, &ds, collect,
                  &digits);
    return digits;
}
