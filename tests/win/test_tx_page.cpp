// The Transmit (text) page, in a real hidden main window.
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
    EXPECT_EQ(drv_text(T.text_edit), "coffee"); // encoded at start
    EXPECT_EQ(drv_text(T.digits_label), "032106060505");
    EXPECT_TRUE(IsWindowEnabled(T.play_button));

    type_and_encode("2024!");
    EXPECT_EQ(drv_text(T.digits_label), "(nothing to encode)");
    EXPECT_FALSE(IsWindowEnabled(T.play_button));
    EXPECT_FALSE(IsWindowEnabled(T.save_button));
    SetWindowTextA(T.text_edit, "hi");
    EXPECT_FALSE(IsWindowEnabled(T.play_button)) << "typing alone does not encode";

    type_and_encode("Hi, Bo!");
    EXPECT_EQ(drv_text(T.digits_label), "1112000221");
    EXPECT_TRUE(IsWindowEnabled(T.save_button));

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

TEST(TxPage, SaveWritesTheStreamOrSaysWhyNot) {
    shell_app();
    type_and_encode("hello world");
    std::string wav = temp_path("tx-hello.wav");
    std::string bad = "Z:\\no\\such\\folder\\tx.wav";
    BoxWatch boxes;
    EXPECT_EQ(tx_save_to(wav.c_str()), 0);
    EXPECT_EQ(tx_save_to(bad.c_str()), -1);
    ASSERT_EQ(boxes.said(),
              (std::vector<std::string>{"Saved|Saved to " + wav,
                                        "Save failed|Could not write the WAV file:\n" + bad}));
    EXPECT_TRUE(!boxes.boxes()[0].error_icon && boxes.boxes()[1].error_icon);
}
