// The Server page, in a real hidden main window.
#include <gtest/gtest.h>
#include "tests/win/kit.h"

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
    DWORD start = 0;
    SendMessageA(S.dir_edit, EM_GETSEL, (WPARAM)&start, 0);
    EXPECT_LE(start, 4u);
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
    {
        BoxWatch boxes;
        servertab_send_click();
        EXPECT_EQ(boxes.said(),
                  std::vector<std::string>{"Server|Enter exactly 4 dir digits (0-6) first."});
    }
    EXPECT_EQ(S.exchange_state, 0);
    EXPECT_EQ(g_app.tx_active, 0);

    SetWindowTextA(S.dir_edit, "0123");
    SetWindowTextA(S.message_edit, "hi");
    servertab_send_click();
    EXPECT_EQ(S.exchange_state, 1);
    EXPECT_EQ(drv_text(S.status_label), "Sending...");
    EXPECT_EQ(g_app.tx_active, 1);
    // Stop during the countdown: nothing listens once the request has played.
    servertab_stop_click();
    EXPECT_EQ(drv_text(S.status_label), "Idle");
    servertab_on_tx_complete();
    EXPECT_EQ(S.exchange_state, 0);
    EXPECT_FALSE(S.panel.listening);
    KillTimer(g_app.main_wnd, TX_TIMER_ID);
    g_app.tx_active = 0;
}

TEST_F(ServerPage, AnotherPageTakingTheMicrophoneEndsTheWaitForTheAnswer) {
    S.exchange_state = 1; // the request has just played
    servertab_on_tx_complete();
    if (!S.panel.listening) GTEST_SKIP() << "no recording device here";
    EXPECT_EQ(drv_text(S.status_label), "Listening for response...");
    EXPECT_EQ(GetWindowLongPtrA(S.led, GWLP_USERDATA), (LONG_PTR)LED_ON_COLOR);

    rx_toggle_listen();
    EXPECT_EQ(rxpanel_get_active(), &g_app.rx.panel);
    EXPECT_EQ(drv_text(S.status_label), "Idle");
    EXPECT_NE(GetWindowLongPtrA(S.led, GWLP_USERDATA), (LONG_PTR)LED_ON_COLOR);
    EXPECT_EQ(S.exchange_state, 0);
    rx_toggle_listen();
}
