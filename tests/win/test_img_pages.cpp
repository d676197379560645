// Image encode and Image decode pages, in a real (hidden) main window.
#include <gtest/gtest.h>
#include "tests/win/kit.h"

static ImgEncTab &E = g_app.imgenc;
static ImgDecTab &D = g_app.imgdec;

static void mouse(UINT msg, int x, int y, WPARAM keys) {
    SendMessageA(E.grid, msg, keys, MAKELPARAM((WORD)(short)x, (WORD)(short)y));
}

class ImagePages : public ::testing::Test {
  protected:
    void SetUp() override {
        shell_app();
        for (int i = 0; i < 64; i++) E.pixels[i] = 1;
        imgenc_set_active_color(0);
        imgenc_encode();
        imgdec_clear();
    }
};

TEST_F(ImagePages, PaintingWithTheMouseWritesTheActiveColourAndOnlyEncodeSendsIt) {
    // A press, a drag along the top row and out of the grid, and a release outside.
    imgenc_set_active_color(6);
    mouse(WM_LBUTTONDOWN, 5, 5, MK_LBUTTON);
    EXPECT_EQ(GetCapture(), E.grid);
    for (int x = 45; x < 320; x += 40) mouse(WM_MOUSEMOVE, x, 10, MK_LBUTTON);
    mouse(WM_MOUSEMOVE, -39, 90, MK_LBUTTON);  // truncates to column 0, row 2
    mouse(WM_MOUSEMOVE, -40, 130, MK_LBUTTON); // column -1: nothing
    mouse(WM_MOUSEMOVE, 100, 400, MK_LBUTTON); // row 10: nothing
    mouse(WM_MOUSEMOVE, 100, 200, 0);          // button up: nothing
    mouse(WM_LBUTTONUP, 500, 500, 0);
    EXPECT_NE(GetCapture(), E.grid);

    std::string painted;
    for (int i = 0; i < 64; i++) painted += (char)('0' + E.pixels[i]);
    EXPECT_EQ(painted, "66666666"
                       "11111111"
                       "61111111" +
                           std::string(40, '1'));

    // Painting alone changes neither the readout nor what Play would send.
    EXPECT_EQ(drv_text(E.digits_label), std::string(64, '1'));
    EXPECT_EQ(E.digits[0], 1);
    imgenc_encode();
    EXPECT_EQ(drv_text(E.digits_label), painted);
    EXPECT_EQ(E.digits[16], 6);

    std::string wav = temp_path("no-such-dir\\picture.wav");
    BoxWatch boxes;
    EXPECT_EQ(imgenc_save_to(wav.c_str()), -1);
    EXPECT_EQ(boxes.said(),
              std::vector<std::string>{"Save failed|Could not write the WAV file:\n" + wav});
}

TEST_F(ImagePages, DecodeStopsAtSixtyFourDigitsLiveAndFromAFile) {
    for (int i = 0; i < 63; i++) imgdec_on_digit(i % 7);
    EXPECT_NE(drv_text(D.status_label), "Image complete (64/64 pixels)");
    imgdec_on_digit(5);
    EXPECT_EQ(drv_text(D.status_label), "Image complete (64/64 pixels)");
    std::string full = drv_text(D.digits_label);
    imgdec_on_digit(2);
    EXPECT_EQ(D.panel.received.count, 64u);
    EXPECT_EQ(D.pixels[63], 5);
    EXPECT_EQ(drv_text(D.digits_label), full);
    imgdec_clear();
    EXPECT_EQ(D.pixels[0], -1);

    std::string wav = temp_path("ten.wav");
    ASSERT_TRUE(kit_make_wav(wav, {1, 2, 3, 4, 5, 6, 0, 1, 2, 3}));
    ASSERT_EQ(imgdec_decode_path(wav.c_str()), 0);
    EXPECT_EQ(drv_text(D.status_label), "Decoded 10/64 pixels -- try lowering the threshold");
    EXPECT_EQ(D.pixels[9], 3);
    EXPECT_EQ(D.pixels[10], -1);

    std::vector<uint32_t> hundred(100);
    for (int i = 0; i < 100; i++) hundred[i] = (uint32_t)(i % 7);
    ASSERT_TRUE(kit_make_wav(wav, hundred));
    ASSERT_EQ(imgdec_decode_path(wav.c_str()), 0);
    EXPECT_EQ(D.panel.received.count, 64u);
    EXPECT_EQ(drv_text(D.status_label), "Decoded full image (64/64 pixels)");
}
