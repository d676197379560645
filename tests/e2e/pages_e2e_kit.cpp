#include "tests/e2e/pages_e2e_kit.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "core/dtmf_core.h"
#include "tests/e2e/driver.h"

struct ChildQuery {
    const char *cls;
    HWND page;
    int x, y;
    HWND found;
    std::vector<HWND> all;
};

static BOOL CALLBACK visit_child(HWND w, LPARAM lp)
{
    ChildQuery *q = (ChildQuery *)lp;
    if (GetParent(w) != q->page) return TRUE;
    char cls[64];
    GetClassNameA(w, cls, sizeof cls);
    if (q->cls && lstrcmpiA(cls, q->cls) != 0) return TRUE;
    q->all.push_back(w);
    RECT rc;
    GetWindowRect(w, &rc);
    POINT p = {rc.left, rc.top};
    ScreenToClient(q->page, &p);
    if (!q->found && p.x == q->x && p.y == q->y) q->found = w;
    return TRUE;
}

HWND e2e_child_at(HWND page, const char *cls, int x, int y)
{
    ChildQuery q = {cls, page, x, y, NULL, {}};
    EnumChildWindows(page, visit_child, (LPARAM)&q);
    return q.found;
}

std::vector<HWND> e2e_children(HWND page, const char *cls)
{
    ChildQuery q = {cls, page, -100000, -100000, NULL, {}};
    EnumChildWindows(page, visit_child, (LPARAM)&q);
    return q.all;
}

/* ---- PNG, uncompressed (stored deflate blocks): no library needed ---- */

static uint32_t crc32_of(const uint8_t *p, size_t n, uint32_t crc = 0)
{
    crc = ~crc;
    for (size_t i = 0; i < n; i++) {
        crc ^= p[i];
        for (int k = 0; k < 8; k++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

static void put32(std::vector<uint8_t> &v, uint32_t x)
{
    for (int s = 24; s >= 0; s -= 8) v.push_back((uint8_t)(x >> s));
}

static void chunk(std::vector<uint8_t> &png, const char *type, const std::vector<uint8_t> &data)
{
    put32(png, (uint32_t)data.size());
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    put32(png, crc32_of(body.data(), body.size()));
}

static std::vector<uint8_t> png_encode(const uint8_t *rgb, int w, int h)
{
    std::vector<uint8_t> raw;
    for (int y = 0; y < h; y++) {
        raw.push_back(0);
        raw.insert(raw.end(), rgb + (size_t)y * w * 3, rgb + (size_t)(y + 1) * w * 3);
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    for (size_t off = 0; off < raw.size() || off == 0; off += 65535) {
        size_t n = raw.size() - off < 65535 ? raw.size() - off : 65535;
        z.push_back(off + n >= raw.size() ? 1 : 0);
        z.push_back((uint8_t)n);
        z.push_back((uint8_t)(n >> 8));
        z.push_back((uint8_t)~n);
        z.push_back((uint8_t)(~n >> 8));
        z.insert(z.end(), raw.begin() + off, raw.begin() + off + n);
        if (n == 0) break;
    }
    put32(z, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<uint8_t> ihdr;
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
    BITMAPINFO bi;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    std::vector<uint8_t> bgra((size_t)w * h * 4);
    GetDIBits(mem, bmp, 0, h, bgra.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);

    std::vector<uint8_t> rgb((size_t)w * h * 3);
    for (size_t i = 0; i < (size_t)w * h; i++) {
        rgb[i * 3] = bgra[i * 4 + 2];
        rgb[i * 3 + 1] = bgra[i * 4 + 1];
        rgb[i * 3 + 2] = bgra[i * 4];
    }
    std::vector<uint8_t> png = png_encode(rgb.data(), w, h);
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

static WAVEFORMATEX mono16(void)
{
    WAVEFORMATEX f;
    memset(&f, 0, sizeof f);
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = 44100;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 2;
    f.nAvgBytesPerSec = 88200;
    return f;
}

static DWORD WINAPI record_thread(LPVOID p)
{
    E2eRecorder *r = (E2eRecorder *)p;
    int next = 0;
    while (!r->stop) {
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
    WAVEFORMATEX f = mono16();
    if (waveInOpen(&r->in, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return -1;
    for (int i = 0; i < 8; i++) {
        memset(&r->hdr[i], 0, sizeof r->hdr[i]);
        r->hdr[i].lpData = (LPSTR)r->buf[i];
        r->hdr[i].dwBufferLength = sizeof r->buf[i];
        waveInPrepareHeader(r->in, &r->hdr[i], sizeof r->hdr[i]);
        waveInAddBuffer(r->in, &r->hdr[i], sizeof r->hdr[i]);
    }
    r->stop = 0;
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

    WAVEFORMATEX f = mono16();
    HWAVEOUT out;
    if (waveOutOpen(&out, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return -1;
    WAVEHDR h;
    memset(&h, 0, sizeof h);
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
