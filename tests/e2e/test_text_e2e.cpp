// Text over the air, end to end: the real Tessary.exe driven through its
// window; what the Transmit page plays into the sound loopback, the Receive
// page hears, and WAV files saved by it or made by sox decode on the Receive
// page.
#include <gtest/gtest.h>
#include <ctype.h>
#include "tests/e2e/driver.h"

static const char SENTENCE[] = "The quick brown fox jumps over the lazy dog, twice!";
static const char SOX_TEXT[] = "tones made by sox"; /* see CMakeLists.txt */

// The letter code written out independently of the program.
static std::string code_of(const std::string &text, std::string *plain) {
    std::string digits;
    plain->clear();
    for (char c : text) {
        int n = c == ' ' ? 0 : isalpha((unsigned char)c) ? tolower(c) - 'a' + 1 : -1;
        if (n < 0) continue;
        *plain += n ? (char)tolower(c) : ' ';
        digits += (char)('0' + n / 7);
        digits += (char)('0' + n % 7);
    }
    return digits;
}

static std::string data_path(const char *name) {
    return drv_win_path((std::string(E2E_DATA_DIR) + "/" + name).c_str());
}

class TextE2E : public ::testing::Test {
  protected:
    DrvApp app;
    void SetUp() override { ASSERT_TRUE(drv_start(&app, TESSARY_EXE, 30000)); }
    void TearDown() override {
        if (!app.pi.hProcess) return;
        HWND stray = drv_find_box(&app, NULL, 0);
        if (stray) drv_close_box(stray);
        EXPECT_EQ(drv_close(&app, 15000), 0) << "the program closes cleanly";
    }
    HWND item(int tab, int id) { return drv_item(&app, tab, id); }
    std::string rx_readout(int id) { return drv_text(item(DRV_TAB_RX, id)); }
    HWND rx_status() { return drv_item(&app, DRV_TAB_RX, IDC_RX_STATUS); }
    HWND tx_status() { return drv_item(&app, DRV_HEADER, IDC_TX_STATUS); }

    void encode(const char *text, const std::string &digits) {
        ASSERT_TRUE(drv_select_tab(&app, DRV_TAB_TX));
        drv_set_text(item(DRV_TAB_TX, IDC_TX_TEXT_EDIT), text);
        drv_click(item(DRV_TAB_TX, IDC_TX_ENCODE));
        EXPECT_EQ(drv_text(drv_item(&app, DRV_TAB_TX, IDC_TX_DIGITS)), digits);
    }

    // Types, encodes, listens, plays, and checks what the Receive page heard.
    void over_the_air(double seconds_per_digit) {
        std::string plain, digits = code_of(SENTENCE, &plain);
        encode(SENTENCE, digits);

        ASSERT_TRUE(drv_select_tab(&app, DRV_TAB_RX));
        drv_click(item(DRV_TAB_RX, IDC_RX_CLEAR));
        drv_click(item(DRV_TAB_RX, IDC_RX_LISTEN));
        ASSERT_EQ(drv_text(rx_status()), "Listening...");

        ASSERT_TRUE(drv_select_tab(&app, DRV_TAB_TX));
        drv_click(item(DRV_TAB_TX, IDC_TX_PLAY));
        DWORD play_ms = (DWORD)(1000 * (4 + digits.size() * seconds_per_digit));
        ASSERT_TRUE(drv_wait_text(tx_status(), "0.", 6000, true)) << "playback starts";
        ASSERT_TRUE(drv_wait_text(tx_status(), "", play_ms + 10000)) << "playback ends";

        ASSERT_TRUE(drv_select_tab(&app, DRV_TAB_RX));
        drv_wait_text(drv_item(&app, DRV_TAB_RX, IDC_RX_TEXT), plain.c_str(), 3000);
        EXPECT_EQ(rx_readout(IDC_RX_TEXT), plain);
        EXPECT_EQ(rx_readout(IDC_RX_DIGITS), digits);
        // Left listening: closing the program must still end it cleanly.
    }

    // Decodes an audio file through the real open dialog; `count` digits are due.
    void decode(const std::string &path, size_t count) {
        EXPECT_TRUE(drv_select_tab(&app, DRV_TAB_RX));
        drv_click_async(item(DRV_TAB_RX, IDC_RX_DECODE_FILE));
        EXPECT_TRUE(drv_file_dialog(&app, path.c_str(), 15000)) << path;
        std::string want = "Decoded " + std::to_string(count) + " digits from file";
        EXPECT_TRUE(drv_wait_text(rx_status(), want.c_str(), 20000))
            << path << ": " << drv_text(rx_status());
    }
};

TEST_F(TextE2E, SentenceCrossesTheLoopbackAtFullSpeed) { over_the_air(0.27); }

// 150 %: repeated digits (the two 0s of every space) are 60 ms apart, which
// only the overlapping frame grid of live reception keeps apart.
TEST_F(TextE2E, SentenceCrossesTheLoopbackAtOneAndAHalfSpeed) {
    drv_set_trackbar(item(DRV_HEADER, IDC_SPEED_SLIDER), 150);
    ASSERT_EQ(drv_text(item(DRV_HEADER, IDC_SPEED_LABEL)).rfind("150% speed", 0), 0u);
    over_the_air(0.18);
}

TEST_F(TextE2E, SentenceCrossesTheLoopbackAtOneAndAHalfSpeedInRepeaterMode) {
    HWND check = item(DRV_HEADER, IDC_REPEATER_CHECK);
    drv_click(check);
    ASSERT_EQ(SendMessageA(check, BM_GETCHECK, 0, 0), BST_CHECKED);
    drv_set_trackbar(item(DRV_HEADER, IDC_SPEED_SLIDER), 150);
    over_the_air(0.18);
}

TEST_F(TextE2E, SavedFileDecodesOnTheReceivePage) {
    std::string plain, digits = code_of(SENTENCE, &plain);
    encode(SENTENCE, digits);
    std::string path =
        data_path(("saved-" + std::to_string(GetCurrentProcessId()) + ".wav").c_str());
    DeleteFileA(path.c_str());

    drv_click_async(item(DRV_TAB_TX, IDC_TX_SAVE));
    ASSERT_TRUE(drv_file_dialog(&app, path.c_str(), 15000));
    HWND box = drv_find_box(&app, "Saved", 15000); // its text is checked in-process
    ASSERT_TRUE(box);
    drv_close_box(box);

    decode(path, digits.size());
    EXPECT_EQ(rx_readout(IDC_RX_TEXT), plain);
    EXPECT_EQ(rx_readout(IDC_RX_DIGITS), digits);
    DeleteFileA(path.c_str());
}

TEST_F(TextE2E, FilesMadeBySoxDecodeAtTheirOwnRate) {
    std::string plain, digits = code_of(SOX_TEXT, &plain);
    for (const char *f : {"sox-8000.wav", "sox-48000.wav", "sox-stereo.wav", "sox-8bit.wav"}) {
        decode(data_path(f), digits.size());
        EXPECT_EQ(rx_readout(IDC_RX_TEXT), plain) << f;
    }
}
