// The pages used as a user would use them: the real Tessary.exe under Wine,
// driven through its window from this process, its sound going round the
// loopback sink. This process answers the server through the program's own
// sound layer.
#include <gtest/gtest.h>
#include <ctype.h>
#include <random>
#include "audio/audio.h"
#include "tests/core/core_test_util.h"
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

class PagesE2e : public ::testing::Test {
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
};

// At 150 %, repeated digits (the two 0s of every space) are 60 ms apart,
// which only the overlapping frame grid of live reception keeps apart; plain,
// then in repeater mode. Left listening: the program must still close cleanly.
TEST_F(PagesE2e, SentenceCrossesTheLoopbackAtOneAndAHalfSpeed) {
    std::string plain, digits = code_of(SENTENCE, &plain);
    drv_set_trackbar(item(DRV_HEADER, IDC_SPEED_SLIDER), 150);
    ASSERT_EQ(drv_text(item(DRV_HEADER, IDC_SPEED_LABEL)).rfind("150% speed", 0), 0u);
    ASSERT_TRUE(drv_select_tab(&app, DRV_TAB_TX));
    drv_set_text(item(DRV_TAB_TX, IDC_TX_TEXT_EDIT), SENTENCE);
    drv_click(item(DRV_TAB_TX, IDC_TX_ENCODE));
    EXPECT_EQ(drv_text(item(DRV_TAB_TX, IDC_TX_DIGITS)), digits);
    drv_click(item(DRV_TAB_RX, IDC_RX_LISTEN));
    ASSERT_EQ(drv_text(item(DRV_TAB_RX, IDC_RX_STATUS)), "Listening...");
    HWND tx_status = item(DRV_HEADER, IDC_TX_STATUS), text = item(DRV_TAB_RX, IDC_RX_TEXT);
    for (int repeater = 0; repeater < 2; repeater++) {
        SCOPED_TRACE(repeater ? "repeater" : "plain");
        if (repeater) drv_click(item(DRV_HEADER, IDC_REPEATER_CHECK));
        ASSERT_EQ(SendMessageA(item(DRV_HEADER, IDC_REPEATER_CHECK), BM_GETCHECK, 0, 0), repeater);
        drv_click(item(DRV_TAB_RX, IDC_RX_CLEAR));
        drv_click(item(DRV_TAB_TX, IDC_TX_PLAY));
        ASSERT_TRUE(drv_wait_text(tx_status, "0.", 6000, true)) << "playback starts";
        ASSERT_TRUE(drv_wait_text(tx_status, "", (DWORD)(14000 + 180 * digits.size())))
            << "playback ends";
        drv_wait_text(text, plain.c_str(), 3000);
        EXPECT_EQ(drv_text(text), plain);
        EXPECT_EQ(drv_text(item(DRV_TAB_RX, IDC_RX_DIGITS)), digits);
    }
}

// Through the real open dialog, at each file's own rate and layout.
TEST_F(PagesE2e, FilesMadeBySoxDecodeAtTheirOwnRate) {
    std::string plain, digits = code_of(SOX_TEXT, &plain);
    std::string want = "Decoded " + std::to_string(digits.size()) + " digits from file";
    HWND status = item(DRV_TAB_RX, IDC_RX_STATUS);
    ASSERT_TRUE(drv_select_tab(&app, DRV_TAB_RX));
    for (const char *f : {"sox-8000.wav", "sox-48000.wav", "sox-stereo.wav", "sox-8bit.wav"}) {
        via_dialog(item(DRV_TAB_RX, IDC_RX_DECODE_FILE), std::string(E2E_DATA_DIR) + "/" + f);
        EXPECT_TRUE(drv_wait_text(status, want.c_str(), 20000)) << f << ": " << drv_text(status);
        EXPECT_EQ(drv_text(item(DRV_TAB_RX, IDC_RX_TEXT)), plain) << f;
    }
}

// Through a saved WAV file; live tones are the other tests' part.
TEST_F(PagesE2e, FileOfRandomBytesComesBackByteForByte) {
    std::string bytes(256, '\0');
    std::mt19937 rng(20261206);
    for (char &b : bytes) b = (char)rng();
    std::string src = temp("random.bin"), wav = temp("random.wav"), back = temp("back.bin");
    write_file(src, bytes);
    drv_select_tab(&app, DRV_TAB_HEX);
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_OPEN), src);
    HWND status = item(DRV_TAB_HEX, IDC_HEX_STATUS);
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_SAVE_AUDIO), wav);
    expect_box("Saved", "Saved to " + wav);
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_DECODE_FILE), wav);
    EXPECT_TRUE(drv_wait_text(status, "Decoded 1024 digits from file", 60000)) << drv_text(status);
    via_dialog(item(DRV_TAB_HEX, IDC_HEX_SAVE_HEX), back);
    expect_box("Saved", "Saved 256 bytes to " + back);
    EXPECT_EQ(read_file(back), bytes);
    for (const std::string &p : {src, wav, back}) DeleteFileA(p.c_str());
}

// What the request sounds like is the core's and the CLI's to pin down; here,
// that the page sends, then hears the answer this process plays.
TEST_F(PagesE2e, ServerRequestGoesOutThenTheResponseIsRead) {
    drv_select_tab(&app, DRV_TAB_SERVER);
    drv_set_text(item(DRV_TAB_SERVER, IDC_SERVER_DIR_EDIT), "0123");
    drv_set_text(item(DRV_TAB_SERVER, IDC_SERVER_MSG_EDIT), "hi");
    drv_click(item(DRV_TAB_SERVER, IDC_SERVER_SEND));
    HWND status = item(DRV_TAB_SERVER, IDC_SERVER_STATUS);
    ASSERT_TRUE(drv_wait_text(status, "Listening for response...", 30000)) << drv_text(status);
    // Listening starts once the request has left the loudspeaker: no tail of
    // the end marker may be read as the answer. (The wait also lets the new
    // record stream settle: the loopback may hand its first seconds twice.)
    drv_pump(2500);
    HWND response = item(DRV_TAB_SERVER, IDC_SERVER_RESPONSE);
    EXPECT_EQ(drv_text(response), "") << "the page heard its own request";

    // "ok": o = 15 -> 2 1, k = 11 -> 1 4.
    const uint32_t ok[] = {2, 1, 1, 4};
    Buf b;
    sb_append_silence(&b, 44100); // a fresh output stream may swallow its start
    gen_digits_samples(&b, ok, 4, 0, 0.18, 0.09);
    audio_play(b.data, b.len);
    ASSERT_TRUE(drv_until([] { return audio_play_threads_alive() == 0; }, 10000, 20));
    EXPECT_TRUE(drv_wait_text(response, "ok", 5000)) << drv_text(response);
}
