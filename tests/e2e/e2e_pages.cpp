// The picture, file and server pages used as a user would use them: the
// real Tessary.exe under Wine, its sound going round the loopback sink.
#include <gtest/gtest.h>
#include <stdio.h>
#include <random>
#include "core/dtmf_core.h"
#include "shell/app.h"
#include "tests/e2e/driver.h"
#include "tests/e2e/pages_e2e_kit.h"

static const COLORREF PALETTE[7] = {0x000000, 0xFFFFFF, 0x3539E5, 0x00D4FF,
                                    0x71CC2E, 0xFF8C2D, 0x008CFF};

class PagesE2e : public ::testing::Test {
protected:
    DrvApp app;
    void SetUp() override { ASSERT_TRUE(drv_start(&app, TESSARY_EXE, 30000)); }
    void TearDown() override { drv_close(&app, 10000); }

    HWND page(int tab) { return drv_page(&app, tab); }
    HWND item(int tab, int id) { return drv_item(&app, tab, id); }
    // The text box whose top-left corner is at (x, y) on a page.
    HWND label(int tab, int x, int y) { return drv_child_at(page(tab), "Static", x + 2, y + 2); }
    void shot(int tab, const char *name)
    {
        drv_select_tab(&app, tab);
        drv_pump(600);
        EXPECT_EQ(e2e_screenshot(app.main, name), 0) << name;
    }
    std::string temp(const char *name)
    {
        char dir[MAX_PATH];
        GetTempPathA(sizeof dir, dir);
        std::string p = std::string(dir) + "tessary-e2e-" + std::to_string(GetCurrentProcessId()) +
                        "-" + name;
        DeleteFileA(p.c_str());
        return p;
    }
    // Clicks a button that opens a file dialog and answers it with `path`.
    void via_dialog(HWND button, const std::string &path)
    {
        drv_click_async(button);
        ASSERT_TRUE(drv_file_dialog(&app, path.c_str(), 15000)) << path;
    }
    void expect_box(const char *title, const std::string &message)
    {
        HWND box = drv_find_box(&app, title, 20000);
        ASSERT_TRUE(box != NULL) << title;
        EXPECT_EQ(drv_box_message(box), message);
        drv_close_box(box);
    }
    // Polls a readout until it holds `size` characters or the time runs out.
    std::string wait_length(HWND box, size_t size, DWORD timeout_ms, DWORD step_ms)
    {
        std::string got;
        for (DWORD waited = 0; waited < timeout_ms && got.size() < size; waited += step_ms) {
            drv_pump(step_ms);
            got = drv_window_text(box);
        }
        return got;
    }

    // Paints `pic` with one press-drag-release per colour, then encodes it.
    void paint(const int (&pic)[64])
    {
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
    void send_and_receive_picture(const int (&pic)[64])
    {
        std::string want;
        for (int v : pic) want += (char)('0' + v);
        drv_select_tab(&app, DRV_TAB_IMGENC);
        paint(pic);
        ASSERT_EQ(drv_window_text(label(DRV_TAB_IMGENC, 364, 112)), want);
        drv_click(item(DRV_TAB_IMGENC, IDC_IMGENC_PLAY));

        EXPECT_EQ(wait_length(label(DRV_TAB_IMGDEC, 364, 186), 64, 60000, 500), want);
        EXPECT_EQ(drv_window_text(label(DRV_TAB_IMGDEC, 32, 50)), "Image complete (64/64 pixels)");

        drv_select_tab(&app, DRV_TAB_IMGDEC);
        drv_pump(600);
        HWND grid = drv_children(page(DRV_TAB_IMGDEC), "DtmfPixelGrid").at(0);
        for (int i = 0; i < 64; i++)
            EXPECT_EQ(e2e_pixel(grid, (i % 8) * 40 + 20, (i / 8) * 40 + 20), PALETTE[pic[i]])
                << "cell " << i;
    }
};

TEST_F(PagesE2e, PictureInAllSevenColoursArrivesCellForCellTwice)
{
    int first[64], second[64];
    for (int i = 0; i < 64; i++) {
        first[i] = (i / 8 + i % 8) % 7;
        second[i] = (i * 3 + i / 8) % 7;
    }
    drv_select_tab(&app, DRV_TAB_IMGDEC);
    drv_click(item(DRV_TAB_IMGDEC, IDC_IMGDEC_LISTEN));
    HWND status = label(DRV_TAB_IMGDEC, 32, 50);
    ASSERT_TRUE(drv_wait_text(status, "Listening...", 5000));

    send_and_receive_picture(first);
    shot(DRV_TAB_IMGENC, "page-image-encode.png");
    shot(DRV_TAB_IMGDEC, "page-image-decode.png");

    drv_click(item(DRV_TAB_IMGDEC, IDC_IMGDEC_CLEAR));
    EXPECT_EQ(drv_window_text(label(DRV_TAB_IMGDEC, 364, 186)), " ");
    send_and_receive_picture(second);
    drv_click(item(DRV_TAB_IMGDEC, IDC_IMGDEC_LISTEN));
    EXPECT_TRUE(drv_wait_text(status, "Microphone idle", 5000));
}

TEST_F(PagesE2e, FileOfRandomBytesComesBackByteForByte)
{
    std::vector<uint8_t> bytes(256);
    std::mt19937 rng(20261206);
    for (uint8_t &b : bytes) b = (uint8_t)rng();
    // The whole file goes through a saved WAV; a shorter one over the air, as
    // minutes of live tones only add exposure to the loopback's hiccups.
    std::vector<uint8_t> head(bytes.begin(), bytes.begin() + 32);
    std::string src = temp("random.bin"), src_head = temp("random-head.bin");
    std::string wav = temp("random.wav"), via_wav = temp("via-wav.bin"), via_air = temp("via-air.bin");
    for (auto &[path, data] : {std::make_pair(src, bytes), std::make_pair(src_head, head)}) {
        FILE *f = fopen(path.c_str(), "wb");
        ASSERT_TRUE(f && fwrite(data.data(), 1, data.size(), f) == data.size() && fclose(f) == 0);
    }
    auto saved_bytes = [&](const std::string &path) {
        std::vector<uint8_t> out(300);
        FILE *g = fopen(path.c_str(), "rb");
        if (!g) return std::vector<uint8_t>();
        out.resize(fread(out.data(), 1, out.size(), g));
        fclose(g);
        return out;
    };
    HWND file_line = label(DRV_TAB_HEX, 14, 114);
    auto open_file = [&](const std::string &path, const char *counts) {
        via_dialog(item(DRV_TAB_HEX, IDC_HEX_OPEN), path);
        std::string want = path.substr(path.find_last_of("\\") + 1) + " -- " + counts;
        EXPECT_TRUE(drv_wait_text(file_line, want.c_str(), 5000)) << drv_window_text(file_line);
    };

    drv_select_tab(&app, DRV_TAB_HEX);
    open_file(src, "256 bytes -> 512 hex chars -> 1024 tones");

    // Through a saved WAV file.
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_SAVE_AUDIO), wav);
    expect_box("Saved", "Saved to " + wav);
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_DECODE_FILE), wav);
    HWND status = label(DRV_TAB_HEX, 32, 268);
    EXPECT_TRUE(drv_wait_text(status, "Decoded 1024 digits from file", 60000))
        << drv_window_text(status);
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_SAVE_HEX), via_wav);
    expect_box("Saved", "Saved 256 bytes to " + via_wav);
    EXPECT_EQ(saved_bytes(via_wav), bytes);

    // Live, from the page's own ENCODE side to its DECODE side.
    open_file(src_head, "32 bytes -> 64 hex chars -> 128 tones");
    drv_click(item(DRV_TAB_HEX, IDC_HEX_CLEAR));
    drv_click(item(DRV_TAB_HEX, IDC_HEX_LISTEN));
    ASSERT_TRUE(drv_wait_text(status, "Listening...", 5000));
    drv_click(item(DRV_TAB_HEX, IDC_HEX_PLAY));
    std::string hex = wait_length(label(DRV_TAB_HEX, 14, 462), 64, 120000, 1000);
    EXPECT_TRUE(hex.size() == 64 && hex.find('?') == std::string::npos) << hex;
    drv_pump(3000); // a spurious extra digit would show up here
    drv_click(item(DRV_TAB_HEX, IDC_HEX_LISTEN));
    shot(DRV_TAB_HEX, "page-hex.png");
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_SAVE_HEX), via_air);
    expect_box("Saved", "Saved 32 bytes to " + via_air);
    EXPECT_EQ(saved_bytes(via_air), head);
    for (const std::string &p : {src, src_head, wav, via_wav, via_air}) DeleteFileA(p.c_str());
}

TEST_F(PagesE2e, ServerRequestGoesOutThenTheResponseIsRead)
{
    drv_select_tab(&app, DRV_TAB_SERVER);
    drv_set_text(item(DRV_TAB_SERVER, IDC_SERVER_DIR_EDIT), "0123");
    drv_set_text(item(DRV_TAB_SERVER, IDC_SERVER_MSG_EDIT), "hi");
    EXPECT_EQ(drv_window_text(label(DRV_TAB_SERVER, 14, 116)), "01231112");

    E2eRecorder rec;
    ASSERT_EQ(e2e_record_start(&rec), 0);
    drv_click(item(DRV_TAB_SERVER, IDC_SERVER_SEND));
    HWND status = label(DRV_TAB_SERVER, 14, 164);
    EXPECT_EQ(drv_window_text(status), "Sending...");
    ASSERT_TRUE(drv_wait_text(status, "Listening for response...", 30000))
        << drv_window_text(status);
    drv_pump(500);
    e2e_record_stop(&rec);
    std::vector<int32_t> request = {0, 1, 2, 3, 1, 1, 1, 2, 6, 5, 4, 3, 2, 1, 0};
    EXPECT_EQ(e2e_detect(rec.samples), request);

    // "ok": o = 15 -> 2 1, k = 11 -> 1 4.
    ASSERT_EQ(e2e_play_digits({2, 1, 1, 4}, 10000), 0);
    HWND response = label(DRV_TAB_SERVER, 14, 380);
    EXPECT_TRUE(drv_wait_text(response, "ok", 5000)) << drv_window_text(response);
    EXPECT_EQ(drv_window_text(label(DRV_TAB_SERVER, 14, 314)), "2114");
    shot(DRV_TAB_SERVER, "page-server.png");

    drv_click(item(DRV_TAB_SERVER, IDC_SERVER_STOP));
    EXPECT_EQ(drv_window_text(status), "Idle");
    shot(DRV_TAB_REF, "page-reference.png");
}
