// The Transmit, Image, Hex and Server pages, in a real hidden main window.
#include <gtest/gtest.h>
#include "tests/win/kit.h"
#include "audio/audio.h"

static TxTab &T = g_app.tx;

static bool vertical_bar_shown(HWND w) {
    SCROLLBARINFO sb;
    sb.cbSize = sizeof sb;
    return GetScrollBarInfo(w, OBJID_VSCROLL, &sb) && !(sb.rgstate[0] & STATE_SYSTEM_INVISIBLE);
}

static std::string clipboard_text(void) {
    std::string s;
    if (!OpenClipboard(NULL)) return s;
    HANDLE h = GetClipboardData(CF_TEXT);
    const char *p = h ? (const char *)GlobalLock(h) : NULL;
    if (p) s = p;
    if (h) GlobalUnlock(h);
    CloseClipboard();
    return s;
}

static void type_and_encode(const char *text) {
    SetWindowTextA(T.text_edit, text);
    tx_encode_text();
}

TEST(TxPage, OnlyLettersAndSpacesAreSentAndOnlyEncodeChangesTheStream) {
    shell_app();
    type_and_encode("2024!"); // the code itself is the core's (Codes)
    EXPECT_EQ(drv_text(T.digits_label), "(nothing to encode)");
    EXPECT_FALSE(IsWindowEnabled(T.play_button) || IsWindowEnabled(T.save_button));
    SetWindowTextA(T.text_edit, "hi");
    EXPECT_FALSE(IsWindowEnabled(T.play_button)) << "typing alone does not encode";

    type_and_encode("Hi, Bo!");
    EXPECT_TRUE(IsWindowEnabled(T.play_button) && IsWindowEnabled(T.save_button));

    EXPECT_FALSE(vertical_bar_shown(T.digits_label)) << "a short stream fits";
    std::string huge(5000, 'a');
    type_and_encode(huge.c_str());
    EXPECT_EQ(T.tx_digit_count, 2u * 4095) << "the first 4095 characters";
    // Far more than the box shows: it scrolls, and every digit can be copied.
    EXPECT_TRUE(vertical_bar_shown(T.digits_label));
    SendMessageA(T.digits_label, EM_SETSEL, 0, -1);
    SendMessageA(T.digits_label, WM_COPY, 0, 0);
    std::string want;
    for (int i = 0; i < 4095; i++) want += "01";
    EXPECT_EQ(clipboard_text(), want);

    // Play sends the last encoded stream, not what the edit now holds.
    type_and_encode("coffee");
    SetWindowTextA(T.text_edit, "a much longer text that was never encoded");
    tx_play();
    Buf expect;
    ASSERT_EQ(build_full_samples(T.tx_digits, T.tx_digit_count, &expect), 0);
    EXPECT_EQ(g_app.tx_active, 1);
    EXPECT_DOUBLE_EQ(g_app.tx_total_seconds, (double)(expect.len + 44100) / 44100.0);
    audio_stop();
    KillTimer(g_app.main_wnd, TX_TIMER_ID);
}

// (A save that works, and its box: the end-to-end file test.)
TEST(TxPage, AFailedSaveSaysWhy) {
    shell_app();
    type_and_encode("hello world");
    std::string bad = "Z:\\no\\such\\folder\\tx.wav";
    BoxWatch boxes;
    EXPECT_EQ(tx_save_to(bad.c_str()), -1);
    ASSERT_EQ(boxes.said(),
              std::vector<std::string>{"Save failed|Could not write the WAV file:\n" + bad});
    EXPECT_TRUE(boxes.boxes()[0].error_icon);
}

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
    mouse(WM_MOUSEMOVE, -40, 130, MK_LBUTTON); // column -1: nothing
    mouse(WM_MOUSEMOVE, 100, 400, MK_LBUTTON); // row 10: nothing
    mouse(WM_MOUSEMOVE, 100, 200, 0);          // button up: nothing
    mouse(WM_LBUTTONUP, 500, 500, 0);
    EXPECT_NE(GetCapture(), E.grid);

    std::string painted;
    for (int i = 0; i < 64; i++) painted += (char)('0' + E.pixels[i]);
    EXPECT_EQ(painted, "66666666" + std::string(56, '1'));

    // Painting alone changes neither the readout nor what Play would send.
    EXPECT_EQ(drv_text(E.digits_label), std::string(64, '1'));
    EXPECT_EQ(E.digits[0], 1);
    imgenc_encode();
    EXPECT_EQ(drv_text(E.digits_label), painted);
    EXPECT_EQ(E.digits[7], 6);
}

// (A file that holds more: HexPage's overfull one.)
TEST_F(ImagePages, DecodeStopsAtSixtyFourDigits) {
    for (int i = 0; i < 63; i++) imgdec_on_digit(i % 7);
    EXPECT_NE(drv_text(D.status_label), "Image complete (64/64 pixels)");
    imgdec_on_digit(5);
    EXPECT_EQ(drv_text(D.status_label), "Image complete (64/64 pixels)");
    std::string full = drv_text(D.digits_label);
    imgdec_on_digit(2);
    EXPECT_TRUE(D.panel.received.count == 64 && D.pixels[63] == 5);
    EXPECT_EQ(drv_text(D.digits_label), full);
}

static HexTab &H = g_app.hex;

static void feed(const char *digits) {
    for (const char *p = digits; *p; p++) hex_on_digit(*p - '0');
}

class HexPage : public ::testing::Test {
  protected:
    void SetUp() override {
        shell_app();
        hex_clear();
    }
};

TEST_F(HexPage, OpeningFilesAndTurningAwayWhatCannotBeSent) {
    std::string abc = temp_path("abc.bin"), big = temp_path("big.bin");
    write_file(abc, "abc");
    ASSERT_EQ(hex_open_path(abc.c_str()), 0);
    EXPECT_EQ(drv_text(H.tx_digits_label), "100110021003");
    EXPECT_TRUE(IsWindowEnabled(H.play_button) && IsWindowEnabled(H.save_audio_button));

    // One byte too many: a box, and "abc" stays loaded.
    write_file(big, std::string(HEX_MAX_FILE_BYTES + 1, 'Z'));
    BoxWatch boxes;
    EXPECT_EQ(hex_open_path(big.c_str()), -1);
    std::string said = boxes.said().at(0);
    EXPECT_EQ(
        said.rfind("File too large|" + std::string(filename_only(big.c_str())) + " -- 1025", 0),
        0u);
    EXPECT_NE(said.find("1024 bytes -> 2048 hex chars -> 4096 tones"), std::string::npos);
    EXPECT_EQ(drv_text(H.tx_digits_label), "100110021003");
}

TEST_F(HexPage, ReceivedPairsBecomeHexAndBadOnesBlockTheSave) {
    EXPECT_FALSE(IsWindowEnabled(H.save_hex_button));
    feed("100130");
    EXPECT_EQ(drv_text(H.hex_label), "61?");
    EXPECT_TRUE(IsWindowEnabled(H.save_hex_button));

    // Why is the core's to say (hex_string_to_bytes); here, that nothing is written.
    std::string out = temp_path("never.bin");
    BoxWatch boxes;
    EXPECT_EQ(hex_save_bytes_to(out.c_str()), -1);
    EXPECT_EQ(boxes.said(), std::vector<std::string>{
                                "Cannot save|Decoded hex contains invalid characters (marked '?') "
                                "-- lower the tone threshold or re-transmit."});
    EXPECT_EQ(GetFileAttributesA(out.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(HexPage, AFileThatOverfillsTheReceptionDoesNotLookComplete) {
    std::vector<uint32_t> many(RX_MAX_DIGITS + 2);
    for (size_t i = 0; i < many.size(); i++) many[i] = (uint32_t)(i % 2);
    std::string wav = temp_path("overfull.wav");
    ASSERT_TRUE(kit_make_wav(wav, many, 0.12, 0.06)); // 150 %
    ASSERT_EQ(kit_decode(hex_decode_path, wav), 0);
    EXPECT_EQ(H.panel.received.count, (uint64_t)RX_MAX_DIGITS);
    EXPECT_EQ(drv_text(H.hex_label), std::string(RX_MAX_DIGITS / 2, '1'));
    EXPECT_EQ(drv_text(H.status_label), "Reception full (4096 digits) -- later digits dropped");
    DeleteFileA(wav.c_str());
}

TEST_F(HexPage, SavedBytesAreExactAndAFailedWriteIsNotReportedAsSaved) {
    feed("00000021001401142323"); // 00 0d 0a 1a ff: what a text-mode write would mangle
    std::string out = temp_path("out.bin"), bad = temp_path("no-such-dir\\out.bin");
    BoxWatch boxes;
    ASSERT_EQ(hex_save_bytes_to(out.c_str()), 0);
    EXPECT_EQ(read_file(out), std::string("\0\r\n\x1a\xff", 5));
    EXPECT_EQ(hex_save_bytes_to(bad.c_str()), -1);
    EXPECT_EQ(boxes.said(),
              (std::vector<std::string>{"Saved|Saved 5 bytes to " + out,
                                        "Save failed|Could not write that file.\n\n" + bad}));
}

static ServerTab &S = g_app.server;

class ServerPage : public ::testing::Test {
  protected:
    void SetUp() override {
        shell_app();
        servertab_stop_click();
        servertab_clear_click();
        SetWindowTextA(S.message_edit, "");
        SetWindowTextA(S.dir_edit, "0000");
    }
};

TEST_F(ServerPage, DirectoryKeepsFourDigitsZeroToSixAndThePreviewFollows) {
    // Typing goes through the page's own change routing.
    SetWindowTextA(S.dir_edit, "71a29-6543");
    EXPECT_EQ(drv_text(S.dir_edit), "1265");
    EXPECT_EQ(drv_text(S.preview_label), "1265");

    SetWindowTextA(S.dir_edit, "0000");
    SetWindowTextA(S.message_edit, "Hi!");
    EXPECT_EQ(drv_text(S.preview_label), "00001112");
    SetWindowTextA(S.message_edit, "");
    SetWindowTextA(S.dir_edit, "");
    EXPECT_EQ(drv_text(S.preview_label), " ");
}

TEST_F(ServerPage, SendNeedsFourDigitsAndThenWaitsForTheRequestToPlay) {
    SetWindowTextA(S.dir_edit, "012");
    BoxWatch boxes;
    servertab_send_click();
    EXPECT_EQ(boxes.said(),
              std::vector<std::string>{"Server|Enter exactly 4 dir digits (0-6) first."});
    EXPECT_TRUE(S.exchange_state == EXCHANGE_IDLE && g_app.tx_active == 0);

    SetWindowTextA(S.dir_edit, "0123");
    SetWindowTextA(S.message_edit, "hi");
    servertab_send_click();
    EXPECT_TRUE(S.exchange_state == EXCHANGE_SENDING && g_app.tx_active == 1);
    EXPECT_EQ(drv_text(S.status_label), "Sending...");
    Buf request; // what goes out is the request the edits spell
    ASSERT_EQ(build_request_samples("0123", "hi", &request), 0);
    EXPECT_DOUBLE_EQ(g_app.tx_total_seconds, (double)(request.len + 44100) / 44100.0);
    // Stop during the countdown: nothing listens once the request has played.
    servertab_stop_click();
    EXPECT_EQ(drv_text(S.status_label), "Idle");
    servertab_on_tx_complete();
    EXPECT_EQ(S.exchange_state, EXCHANGE_IDLE);
    EXPECT_FALSE(S.panel.listening);
    KillTimer(g_app.main_wnd, TX_TIMER_ID);
    g_app.tx_active = 0;
}

TEST_F(ServerPage, AnotherPageTakingTheMicrophoneEndsTheWaitForTheAnswer) {
    S.exchange_state = EXCHANGE_SENDING; // the request has just played
    servertab_on_tx_complete();
    if (!S.panel.listening) GTEST_SKIP() << "no recording device here";
    EXPECT_EQ(drv_text(S.status_label), "Listening for response...");
    EXPECT_EQ(GetWindowLongPtrA(S.led, GWLP_USERDATA), (LONG_PTR)LED_ON_COLOR);

    rx_toggle_listen();
    EXPECT_EQ(rxpanel_get_active(), &g_app.rx.panel);
    EXPECT_EQ(drv_text(S.status_label), "Idle");
    EXPECT_NE(GetWindowLongPtrA(S.led, GWLP_USERDATA), (LONG_PTR)LED_ON_COLOR);
    EXPECT_EQ(S.exchange_state, EXCHANGE_IDLE);
    EXPECT_EQ(drv_text(g_app.rx.status_label), "Listening...");

    rxpanel_stop_listening(&S.panel); // not active: disturbs nothing
    EXPECT_EQ(rxpanel_get_active(), &g_app.rx.panel);
    // Decoding a file stops listening first; the page says so.
    std::string wav = temp_path("listen.wav");
    ASSERT_TRUE(kit_make_wav(wav, {0, 1}));
    ASSERT_EQ(kit_decode(rx_decode_path, wav), 0);
    EXPECT_EQ(rxpanel_get_active(), nullptr);
    EXPECT_EQ(drv_text(g_app.rx.listen_button), "Start listening");
}
