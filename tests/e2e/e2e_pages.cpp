// The picture, file and server pages used as a user would use them: the
// real Tessary.exe under Wine, its sound going round the loopback sink.
#include <gtest/gtest.h>
#include <random>
#include "audio/audio.h"
#include "tests/core/core_test_util.h"
#include "tests/e2e/driver.h"

static const COLORREF PALETTE[7] = {0x000000, 0xFFFFFF, 0x3539E5, 0x00D4FF,
                                    0x71CC2E, 0xFF8C2D, 0x008CFF};

// What the screen shows of `wnd`, as a BMP in $TESSARY_ARTIFACTS (or here).
static int screenshot(HWND wnd, const char *name) {
    RECT rc;
    if (!GetWindowRect(wnd, &rc)) return -1;
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    HDC screen = GetDC(NULL), mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
    SelectObject(mem, old);
    BITMAPINFO bi = {};
    // 24 bits: viewers read a 32-bit BMP's spare byte as alpha, and GDI leaves it 0.
    bi.bmiHeader = {sizeof bi.bmiHeader, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint8_t> px((size_t)((w * 3 + 3) & ~3) * h); // rows padded to four bytes
    int rows = GetDIBits(mem, bmp, 0, h, px.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    DWORD head = sizeof(BITMAPFILEHEADER) + sizeof bi.bmiHeader;
    BITMAPFILEHEADER bf = {0x4D42, head + (DWORD)px.size(), 0, 0, head};

    std::string file((const char *)&bf, sizeof bf);
    file.append((const char *)&bi.bmiHeader, sizeof bi.bmiHeader)
        .append((const char *)px.data(), px.size());
    const char *dir = getenv("TESSARY_ARTIFACTS");
    write_file(dir && *dir ? drv_win_path(dir) + "\\" + name : std::string(name), file);
    return rows == h ? 0 : -1;
}

static COLORREF pixel(HWND w, int x, int y) {
    POINT p = {x, y};
    ClientToScreen(w, &p);
    HDC screen = GetDC(NULL);
    COLORREF c = GetPixel(screen, p.x, p.y);
    ReleaseDC(NULL, screen);
    return c;
}

// The test's own ears and voice on the loop, through the program's sound layer.
static void keep_frame(const float *frame, uint64_t count, void *user) {
    std::vector<float> *heard = (std::vector<float> *)user;
    heard->insert(heard->end(), frame, frame + count);
}

static bool play_digits(const std::vector<uint32_t> &digits, DWORD timeout_ms) {
    Buf b;
    gen_digits_samples(&b, digits.data(), digits.size(), 0, 0.18, 0.09);
    audio_play(b.data, b.len);
    return drv_until([] { return audio_play_threads_alive() == 0; }, timeout_ms, 20);
}

static int32_t collect(void *ctx, uint64_t, int32_t, int32_t digit, float, float) {
    if (digit >= 0) ((std::vector<int32_t> *)ctx)->push_back(digit);
    return 0;
}

static std::vector<int32_t> detect(const std::vector<float> &samples) {
    std::vector<int32_t> digits;
    DigitStream ds;
    digit_stream_reset(&ds);
    detect_frames(samples.data(), samples.size(), 44100, 2048, 1024, 0.3f, 0, &ds, collect,
                  &digits);
    return digits;
}

class PagesE2e : public ::testing::Test {
  protected:
    DrvApp app;
    void SetUp() override { ASSERT_TRUE(drv_start(&app, TESSARY_EXE, 30000)); }
    void TearDown() override { drv_close(&app, 10000); }

    HWND page(int tab) { return drv_page(&app, tab); }
    HWND item(int tab, int id) { return drv_item(&app, tab, id); }
    void shot(int tab, const char *name) {
        drv_select_tab(&app, tab);
        drv_pump(600);
        EXPECT_EQ(screenshot(app.main, name), 0) << name;
    }
    std::string temp(const char *name) {
        std::string p = temp_path(name);
        DeleteFileA(p.c_str()); // the program's save dialog would ask before overwriting
        return p;
    }
    // Clicks a button that opens a file dialog and answers it with `path`.
    void via_dialog(HWND button, const std::string &path) {
        drv_click_async(button);
        ASSERT_TRUE(drv_file_dialog(&app, path.c_str(), 15000)) << path;
    }
    void expect_box(const char *title, const std::string &message) {
        HWND box = drv_find_box(&app, title, 20000);
        ASSERT_TRUE(box != NULL) << title;
        EXPECT_EQ(drv_box_message(box), message);
        drv_close_box(box);
    }

    // Paints `pic` with one press-drag-release per colour, then encodes it.
    void paint(const int (&pic)[64]) {
        std::vector<HWND> swatches = drv_children(page(DRV_TAB_IMGENC), "DtmfSwatch");
        HWND grid = drv_children(page(DRV_TAB_IMGENC), "DtmfPixelGrid").at(0);
        ASSERT_EQ(swatches.size(), 7u);
        for (int color = 0; color < 7; color++) {
            SendMessageA(swatches[color], WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
            bool down = false;
            for (int i = 0; i < 64; i++) {
                if (pic[i] != color) continue;
                LPARAM at = MAKELPARAM((i % 8) * 40 + 20, (i / 8) * 40 + 20);
                SendMessageA(grid, down ? WM_MOUSEMOVE : WM_LBUTTONDOWN, MK_LBUTTON, at);
                down = true;
            }
            if (down) SendMessageA(grid, WM_LBUTTONUP, 0, MAKELPARAM(0, 0));
        }
        drv_click(item(DRV_TAB_IMGENC, IDC_IMGENC_ENCODE));
    }
};

TEST_F(PagesE2e, PictureInAllSevenColoursArrivesCellForCell) {
    int pic[64];
    std::string want;
    for (int i = 0; i < 64; i++) {
        pic[i] = (i / 8 + i % 8) % 7;
        want += (char)('0' + pic[i]);
    }
    drv_select_tab(&app, DRV_TAB_IMGDEC);
    drv_click(item(DRV_TAB_IMGDEC, IDC_IMGDEC_LISTEN));
    HWND status = item(DRV_TAB_IMGDEC, IDC_IMGDEC_STATUS);
    ASSERT_TRUE(drv_wait_text(status, "Listening...", 5000));

    drv_select_tab(&app, DRV_TAB_IMGENC);
    paint(pic);
    ASSERT_EQ(drv_text(item(DRV_TAB_IMGENC, IDC_IMGENC_DIGITS)), want);
    drv_click(item(DRV_TAB_IMGENC, IDC_IMGENC_PLAY));
    HWND got = item(DRV_TAB_IMGDEC, IDC_IMGDEC_DIGITS);
    EXPECT_TRUE(drv_wait_text(got, want.c_str(), 60000)) << drv_text(got);
    shot(DRV_TAB_IMGENC, "page-image-encode.bmp");
    shot(DRV_TAB_IMGDEC, "page-image-decode.bmp");

    HWND grid = drv_children(page(DRV_TAB_IMGDEC), "DtmfPixelGrid").at(0);
    for (int i = 0; i < 64; i++)
        EXPECT_EQ(pixel(grid, (i % 8) * 40 + 20, (i / 8) * 40 + 20), PALETTE[pic[i]])
            << "cell " << i;
    drv_click(item(DRV_TAB_IMGDEC, IDC_IMGDEC_LISTEN));
    EXPECT_TRUE(drv_wait_text(status, "Microphone idle", 5000));
}

TEST_F(PagesE2e, FileOfRandomBytesComesBackByteForByte) {
    std::string bytes(256, '\0'), want_hex;
    std::mt19937 rng(20261206);
    for (char &b : bytes) {
        b = (char)rng();
        want_hex += "0123456789abcdef"[(uint8_t)b >> 4];
        want_hex += "0123456789abcdef"[b & 15];
    }
    // The whole file goes through a saved WAV; its first 32 bytes over the
    // air, as minutes of live tones only add exposure to loopback hiccups.
    std::string head = bytes.substr(0, 32);
    std::string src = temp("random.bin"), src_head = temp("random-head.bin"),
                wav = temp("random.wav");
    std::string via_wav = temp("via-wav.bin"), via_air = temp("via-air.bin");
    write_file(src, bytes);
    write_file(src_head, head);
    HWND file_line = item(DRV_TAB_HEX, IDC_HEX_FILE);
    auto open_file = [&](const std::string &path, const char *counts) {
        via_dialog(item(DRV_TAB_HEX, IDC_HEX_OPEN), path);
        std::string want = path.substr(path.find_last_of("\\") + 1) + " -- " + counts;
        EXPECT_TRUE(drv_wait_text(file_line, want.c_str(), 5000)) << drv_text(file_line);
    };

    drv_select_tab(&app, DRV_TAB_HEX);
    open_file(src, "256 bytes -> 512 hex chars -> 1024 tones");

    // Through a saved WAV file.
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_SAVE_AUDIO), wav);
    expect_box("Saved", "Saved to " + wav);
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_DECODE_FILE), wav);
    HWND status = item(DRV_TAB_HEX, IDC_HEX_STATUS);
    EXPECT_TRUE(drv_wait_text(status, "Decoded 1024 digits from file", 60000)) << drv_text(status);
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_SAVE_HEX), via_wav);
    expect_box("Saved", "Saved 256 bytes to " + via_wav);
    EXPECT_EQ(read_file(via_wav), bytes);

    // Live, from the page's own ENCODE side to its DECODE side.
    open_file(src_head, "32 bytes -> 64 hex chars -> 128 tones");
    drv_click(item(DRV_TAB_HEX, IDC_HEX_CLEAR));
    drv_click(item(DRV_TAB_HEX, IDC_HEX_LISTEN));
    ASSERT_TRUE(drv_wait_text(status, "Listening...", 5000));
    drv_click(item(DRV_TAB_HEX, IDC_HEX_PLAY));
    HWND hex = item(DRV_TAB_HEX, IDC_HEX_TEXT);
    EXPECT_TRUE(drv_wait_text(hex, want_hex.substr(0, 64).c_str(), 120000)) << drv_text(hex);
    drv_pump(3000); // a spurious extra digit would show up here
    drv_click(item(DRV_TAB_HEX, IDC_HEX_LISTEN));
    shot(DRV_TAB_HEX, "page-hex.bmp");
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_SAVE_HEX), via_air);
    expect_box("Saved", "Saved 32 bytes to " + via_air);
    EXPECT_EQ(read_file(via_air), head);
    for (const std::string &p : {src, src_head, wav, via_wav, via_air}) DeleteFileA(p.c_str());
}

TEST_F(PagesE2e, ServerRequestGoesOutThenTheResponseIsRead) {
    drv_select_tab(&app, DRV_TAB_SERVER);
    drv_set_text(item(DRV_TAB_SERVER, IDC_SERVER_DIR_EDIT), "0123");
    drv_set_text(item(DRV_TAB_SERVER, IDC_SERVER_MSG_EDIT), "hi");

    std::vector<float> heard;
    char err[256] = "";
    ASSERT_EQ(audio_capture_start(keep_frame, &heard, err, sizeof err), 1) << err;
    drv_click(item(DRV_TAB_SERVER, IDC_SERVER_SEND));
    HWND status = item(DRV_TAB_SERVER, IDC_SERVER_STATUS);
    ASSERT_TRUE(drv_wait_text(status, "Listening for response...", 30000)) << drv_text(status);
    drv_pump(500);
    audio_capture_stop();
    EXPECT_EQ(detect(heard), (std::vector<int32_t>{0, 1, 2, 3, 1, 1, 1, 2, 6, 5, 4, 3, 2, 1, 0}));

    // "ok": o = 15 -> 2 1, k = 11 -> 1 4.
    ASSERT_TRUE(play_digits({2, 1, 1, 4}, 10000));
    HWND response = item(DRV_TAB_SERVER, IDC_SERVER_RESPONSE);
    EXPECT_TRUE(drv_wait_text(response, "ok", 5000)) << drv_text(response);
    shot(DRV_TAB_SERVER, "page-server.bmp");
    shot(DRV_TAB_REF, "page-reference.bmp");
}
