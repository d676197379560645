// The picture, file and server pages used as a user would use them: the
// real Tessary.exe under Wine, its sound going round the loopback sink.
#include <gtest/gtest.h>
#include <stdio.h>
#include <random>
#include "core/dtmf_core.h"
#include "shell/app.h"
#include "tests/e2e/driver.h"
#include "tests/e2e/pages_e2e_kit.h"

#ifndef TESSARY_EXE
#error "TESSARY_EXE must name the program under test"
#endif

static const COLORREF PALETTE[7] = {0x000000, 0xFFFFFF, 0x3539E5, 0x00D4FF,
                                    0x71CC2E, 0xFF8C2D, 0x008CFF};

class PagesE2e : public ::testing::Test {
protected:
    DrvApp app;
    void SetUp() override { ASSERT_TRUE(drv_start(&app, TESSARY_EXE, 30000)); }
    void TearDown() override { drv_close(&app, 10000); }

    HWND page(int tab) { return drv_page(&app, tab); }
    HWND item(int tab, int id) { return drv_item(&app, tab, id); }
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

    // Paints `pic` with one press-drag-release per colour, then encodes it.
    void paint(const int (&pic)[64])
    {
        HWND p = page(DRV_TAB_IMGENC);
        std::vector<HWND> swatches = e2e_children(p, "DtmfSwatch");
        HWND grid = e2e_children(p, "DtmfPixelGrid").at(0);
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
        HWND enc_box = e2e_child_at(page(DRV_TAB_IMGENC), "Static", 364, 112);
        ASSERT_EQ(drv_window_text(enc_box), want);
        drv_click(item(DRV_TAB_IMGENC, IDC_IMGENC_PLAY));

        HWND dec_box = e2e_child_at(page(DRV_TAB_IMGDEC), "Static", 364, 186);
        std::string got;
        for (DWORD waited = 0; waited < 60000 && got.size() < 64; waited += 500) {
            drv_pump(500);
            got = drv_window_text(dec_box);
        }
        EXPECT_EQ(got, want);
        HWND status = e2e_child_at(page(DRV_TAB_IMGDEC), "Static", 32, 50);
        EXPECT_EQ(drv_window_text(status), "Image complete (64/64 pixels)");

        drv_select_tab(&app, DRV_TAB_IMGDEC);
        drv_pump(600);
        HWND grid = e2e_children(page(DRV_TAB_IMGDEC), "DtmfPixelGrid").at(0);
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
    HWND status = e2e_child_at(page(DRV_TAB_IMGDEC), "Static", 32, 50);
    ASSERT_TRUE(drv_wait_text(status, "Listening...", 5000));

    send_and_receive_picture(first);
    shot(DRV_TAB_IMGENC, "page-image-encode.png");
    shot(DRV_TAB_IMGDEC, "page-image-decode.png");

    drv_click(item(DRV_TAB_IMGDEC, IDC_IMGDEC_CLEAR));
    HWND dec_box = e2e_child_at(page(DRV_TAB_IMGDEC), "Static", 364, 186);
    EXPECT_EQ(drv_window_text(dec_box), " ");
    send_and_receive_picture(second);
    drv_click(item(DRV_TAB_IMGDEC, IDC_IMGDEC_LISTEN));
    EXPECT_TRUE(drv_wait_text(status, "Microphone idle", 5000));
}

TEST_F(PagesE2e, FileOfRandomBytesComesBackByteForByte)
{
    std::vector<uint8_t> bytes(256);
    std::mt19937 rng(20261206);
    for (uint8_t &b : bytes) b = (uint8_t)rng();
    std::string src = temp("random.bin"), wav = temp("random.wav");
    std::string via_wav = temp("via-wav.bin"), via_air = temp("via-air.bin");
    FILE *f = fopen(src.c_str(), "wb");
    ASSERT_TRUE(f && fwrite(bytes.data(), 1, 256, f) == 256 && fclose(f) == 0);
    auto saved_bytes = [&](const std::string &path) {
        std::vector<uint8_t> out(300);
        FILE *g = fopen(path.c_str(), "rb");
        if (!g) return std::vector<uint8_t>();
        out.resize(fread(out.data(), 1, out.size(), g));
        fclose(g);
        return out;
    };

    drv_select_tab(&app, DRV_TAB_HEX);
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_OPEN), src);
    HWND file_line = e2e_child_at(page(DRV_TAB_HEX), "Static", 14, 114);
    EXPECT_TRUE(drv_wait_text(file_line, (src.substr(src.find_last_of("\\") + 1) +
                                          " -- 256 bytes -> 512 hex chars -> 1024 tones")
                                             .c_str(),
                              5000))
        << drv_window_text(file_line);

    // Through a saved WAV file.
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_SAVE_AUDIO), wav);
    expect_box("Saved", "Saved to " + wav);
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_DECODE_FILE), wav);
    HWND status = e2e_child_at(page(DRV_TAB_HEX), "Static", 32, 268);
    EXPECT_TRUE(drv_wait_text(status, "Decoded 1024 digits from file", 60000))
        << drv_window_text(status);
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_SAVE_HEX), via_wav);
    expect_box("Saved", "Saved 256 bytes to " + via_wav);
    EXPECT_EQ(saved_bytes(via_wav), bytes);

    // Live, from the page's own ENCODE side to its DECODE side.
    drv_click(item(DRV_TAB_HEX, IDC_HEX_CLEAR));
    drv_click(item(DRV_TAB_HEX, IDC_HEX_LISTEN));
    ASSERT_TRUE(drv_wait_text(status, "Listening...", 5000));
    drv_click(item(DRV_TAB_HEX, IDC_HEX_PLAY));
    HWND hex_box = e2e_child_at(page(DRV_TAB_HEX), "Static", 14, 462);
    std::string hex;
    for (DWORD waited = 0; waited < 360000 && hex.size() < 512; waited += 2000) {
        drv_pump(2000);
        hex = drv_window_text(hex_box);
    }
    EXPECT_EQ(hex.size(), 512u);
    drv_pump(3000); // a spurious extra digit would show up here
    drv_click(item(DRV_TAB_HEX, IDC_HEX_LISTEN));
    shot(DRV_TAB_HEX, "page-hex.png");
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_SAVE_HEX), via_air);
    expect_box("Saved", "Saved 256 bytes to " + via_air);
    EXPECT_EQ(saved_bytes(via_air), bytes);
    for (const std::string &p : {src, wav, via_wav, via_air}) DeleteFileA(p.c_str());
}

TEST_F(PagesE2e, ServerRequestGoesOutThenTheResponseIsRead)
{
    drv_select_tab(&app, DRV_TAB_SERVER);
    drv_set_text(item(DRV_TAB_SERVER, IDC_SERVER_DIR_EDIT), "0123");
    drv_set_text(item(DRV_TAB_SERVER, IDC_SERVER_MSG_EDIT), "hi");
    HWND preview = e2e_child_at(page(DRV_TAB_SERVER), "Static", 14, 116);
    EXPECT_EQ(drv_window_text(preview), "01231112");

    E2eRecorder rec;
    ASSERT_EQ(e2e_record_start(&rec), 0);
    drv_click(item(DRV_TAB_SERVER, IDC_SERVER_SEND));
    HWND status = e2e_child_at(page(DRV_TAB_SERVER), "Static", 14, 164);
    EXPECT_EQ(drv_window_text(status), "Sending...");
    ASSERT_TRUE(drv_wait_text(status, "Listening for response...", 30000))
        << drv_window_text(status);
    drv_pump(500);
    e2e_record_stop(&rec);
    std::vector<int32_t> heard = e2e_detect(rec.samples);
    std::vector<int32_t> request = {0, 1, 2, 3, 1, 1, 1, 2, 6, 5, 4, 3, 2, 1, 0};
    EXPECT_EQ(heard, request);

    // "ok": o = 15 -> 2 1, k = 11 -> 1 4.
    ASSERT_EQ(e2e_play_digits({2, 1, 1, 4}, 10000), 0);
    HWND response = e2e_child_at(page(DRV_TAB_SERVER), "Static", 14, 380);
    EXPECT_TRUE(drv_wait_text(response, "ok", 5000)) << drv_window_text(response);
    EXPECT_EQ(drv_window_text(e2e_child_at(page(DRV_TAB_SERVER), "Static", 14, 314)), "2114");
    shot(DRV_TAB_SERVER, "page-server.png");

    drv_click(item(DRV_TAB_SERVER, IDC_SERVER_STOP));
    EXPECT_EQ(drv_window_text(status), "Idle");
    shot(DRV_TAB_REF, "page-reference.png");
}
