// The real main window, hidden, driven through its messages and its real timer.
#include <gtest/gtest.h>
#include "tests/win/kit.h"
#include "audio/audio.h"
#include <algorithm>

namespace {

COLORREF led_color(void) { return (COLORREF)GetWindowLongPtrA(g_app.tx_led, GWLP_USERDATA); }
const COLORREF LED_OFF = RGB(124, 143, 135);

void set_audio_dir(const std::string &d) {
    snprintf(g_app.audio_dir, sizeof g_app.audio_dir, "%s", d.c_str());
}

void click(int id) { SendMessageA(g_app.main_wnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

// A folder of its own holding the named clips, each a short real WAV file.
std::string clip_folder(const char *tag, const std::vector<std::string> &names) {
    std::string dir = temp_path(tag);
    CreateDirectoryA(dir.c_str(), NULL);
    Buf b;
    gen_digit_samples(&b, 5, 0.05, 0.01);
    for (const std::string &n : names) save_wav((dir + "\\" + n).c_str(), &b);
    return dir;
}

void start_silence(double seconds) {
    Buf b;
    sb_append_silence(&b, (uint64_t)(seconds * 44100));
    start_tx(&b);
}

// Pumps the real timer until the transmission ends; returns each distinct status text.
std::vector<std::string> run_tx(DWORD timeout_ms, const std::function<void()> &each = nullptr) {
    std::vector<std::string> texts;
    drv_until(
        [&] {
            std::string t = drv_text(g_app.tx_status);
            if (texts.empty() || texts.back() != t) texts.push_back(t);
            if (each) each();
            return !g_app.tx_active;
        },
        timeout_ms);
    return texts;
}

class ShellWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        shell_app();
        TearDown();
        g_app.tx_active = g_app.tx_countdown = g_app.cw_mode = 0;
        SetWindowTextA(g_app.tx_status, "");
        SetWindowTextA(g_app.callsign_edit, "");
    }
    void TearDown() override {
        KillTimer(g_app.main_wnd, TX_TIMER_ID);
        rxpanel_stop_active();
        audio_stop();
        g_app.server.exchange_state = EXCHANGE_IDLE;
    }
};

TEST_F(ShellWindow, CallsignKeepsOnlyCapitalsAndDigits) {
    for (const char *p = "w1a-w"; *p; p++) SendMessageA(g_app.callsign_edit, WM_CHAR, *p, 0);
    EXPECT_EQ(drv_text(g_app.callsign_edit), "W1AW");
    DWORD start = 0;
    SendMessageA(g_app.callsign_edit, EM_GETSEL, (WPARAM)&start, 0);
    EXPECT_EQ(start, 4u); // the caret stays at the end while typing
    SetWindowTextA(g_app.callsign_edit, std::string(300, 'q').c_str()); // as a paste would
    EXPECT_EQ(drv_text(g_app.callsign_edit), std::string(255, 'Q'));

    char out[256];
    EXPECT_EQ(callsign_clean("a\xe9z\xc3\xa4 0", out), 3u); // bytes beyond ASCII go
    EXPECT_STREQ(out, "AZ0");
}

// (Picking a tab shows its page: every end-to-end test does it.)
TEST_F(ShellWindow, CaptureMessagesAndThresholdsReachTheirOwnPage) {
    RxPanel *panels[4] = {&g_app.rx.panel, &g_app.imgdec.panel, &g_app.hex.panel,
                          &g_app.server.panel};
    HWND bars[4] = {g_app.rx.threshold_bar, g_app.imgdec.threshold_bar, g_app.hex.threshold_bar,
                    g_app.server.threshold_bar};
    for (int id = 0; id <= 4; id++) {
        uint64_t before[4];
        for (int i = 0; i < 4; i++) before[i] = panels[i]->received.count;
        PostMessageA(g_app.main_wnd, WM_APP_METERS, id, MAKELPARAM(40, 60));
        PostMessageA(g_app.main_wnd, WM_APP_DIGIT, id, 3);
        drv_pump(0);
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(panels[i]->received.count, before[i] + (i == id)) << id << i;
    }
    // Thresholds: scroll messages arrive at the page that holds the trackbar.
    for (int i = 0; i < 4; i++) {
        SendMessageA(bars[i], TBM_SETPOS, TRUE, 20 + i);
        SendMessageA(GetParent(bars[i]), WM_HSCROLL, TB_ENDTRACK, (LPARAM)bars[i]);
        EXPECT_FLOAT_EQ(panels[i]->threshold, (20 + i) / 100.0f) << i;
    }
}

TEST_F(ShellWindow, CountdownProgressRestartsAndTheEndIsTold) {
    BoxWatch boxes;
    g_app.server.exchange_state = EXCHANGE_SENDING; // the Server page moves on when told of the end
    start_silence(0.2);
    EXPECT_EQ(drv_text(g_app.tx_status), "TX in 3...");

    bool led_on = false, early = false, told_early = false;
    std::vector<std::string> texts = run_tx(15000, [&] {
        bool lit = led_color() == LED_ON_COLOR; // lit, or sounding, only after the countdown
        led_on |= lit;
        early |= g_app.tx_countdown > 0 && (lit || audio_play_threads_alive() > 0);
        told_early |= g_app.tx_active && g_app.server.exchange_state != EXCHANGE_SENDING;
    });
    ASSERT_GE(texts.size(), 5u);
    EXPECT_EQ(texts[0] + texts[1] + texts[2], "TX in 3...TX in 2...TX in 1...");
    EXPECT_EQ(texts.back(), "");
    double last = -1;
    for (size_t i = 3; i + 1 < texts.size(); i++) {
        double shown = -1, total = -1;
        ASSERT_EQ(sscanf(texts[i].c_str(), "%lf / %lfs", &shown, &total), 2) << texts[i];
        EXPECT_DOUBLE_EQ(total, 1.2); // the lead-in second counts
        EXPECT_TRUE(shown >= last && shown <= 1.2) << texts[i];
        last = shown;
    }
    EXPECT_TRUE(led_on && !early && !told_early);
    EXPECT_TRUE(led_color() == LED_OFF && g_app.server.exchange_state != EXCHANGE_SENDING);

    // A second transmission during playback cuts the sounding one short and
    // starts afresh; the LED waits for the new countdown.
    g_app.server.exchange_state = EXCHANGE_SENDING;
    start_silence(30);
    ASSERT_TRUE(
        drv_until([] { return g_app.tx_countdown == 0 && audio_play_threads_alive() == 1; }, 5000));
    EXPECT_EQ(led_color(), LED_ON_COLOR);
    start_silence(0.2);
    EXPECT_EQ(drv_text(g_app.tx_status), "TX in 3...");
    EXPECT_EQ(led_color(), LED_OFF);
    EXPECT_TRUE(drv_until([] { return audio_play_threads_alive() == 0; }, 2000));
    EXPECT_EQ(g_app.server.exchange_state, EXCHANGE_SENDING);

    EXPECT_EQ(run_tx(15000).back(), "");
    EXPECT_NE(g_app.server.exchange_state, EXCHANGE_SENDING);
    EXPECT_NEAR(g_app.tx_total_seconds, 1.2, 1e-9);
}

TEST_F(ShellWindow, StationButtonsSayWhatIsMissingAndTheBuiltClipsSpeak) {
    // Which clip is missing is the core's to say; here, that the user hears of it.
    BoxWatch watch;
    std::string some = clip_folder("some", {"w.wav", "1.wav"});
    click(IDC_SIGNOFF);
    set_audio_dir(some);
    SetWindowTextA(g_app.callsign_edit, "W1X");
    callsign_click(); // no x.wav
    SetWindowTextA(g_app.callsign_edit, "W1");
    signoff_click(); // no QRT.wav
    EXPECT_EQ(g_app.tx_active, 0);
    EXPECT_EQ(watch.said(), (std::vector<std::string>{
                                "Sign off|Enter a callsign first.",
                                "Callsign audio missing|Missing callsign clip: " + some + "/x.wav",
                                "Sign-off audio missing|Missing: " + some + "/QRT.wav"}));

    // CW needs no clips at all.
    set_audio_dir(clip_folder("none", {}));
    SendMessageA(g_app.cw_check, BM_SETCHECK, BST_CHECKED, 0);
    click(IDC_CW_CHECK);
    callsign_click();
    EXPECT_TRUE(g_app.cw_mode == 1 && g_app.tx_active == 1);
    g_app.cw_mode = 0;

    // The clips built with the program: every letter and digit spoken aloud,
    // and the sign-off and closing clips beside them.
    for (const char *c = "abcdefghijklmnopqrstuvwxyz0123456789"; *c; c++) {
        Buf b;
        uint32_t rate = 0;
        std::string path = std::string(TESSARY_CLIPS_WIN) + "\\" + *c + ".wav";
        ASSERT_TRUE(!load_wav_mono_float(path.c_str(), &b, &rate) && rate == 44100 && b.len > 4410)
            << path;
        EXPECT_GT(*std::max_element(b.data, b.data + b.len), 0.05f) << path;
    }
    set_audio_dir(TESSARY_CLIPS_WIN);
    SetWindowTextA(g_app.callsign_edit, "K1");
    click(IDC_CALLSIGN_BUTTON);
    EXPECT_EQ(drv_text(g_app.tx_status), "TX in 3...");
    double id_only = g_app.tx_total_seconds;
    signoff_click();
    EXPECT_GT(g_app.tx_total_seconds, id_only + 0.3);
    uint32_t digits[2] = {1, 2};
    Buf out;
    EXPECT_EQ(build_full_samples(digits, 2, &out), 0); // website.wav is there too
    EXPECT_EQ(watch.said().size(), 3u);
}

} // namespace

// A window program has no console to print "out of memory" on: it says so
// in a box before it ends with status 1. The failing half runs as a child.
TEST(ShellWindowAlone, RunningOutOfMemorySaysSoInABoxAndEnds) {
    if (GetEnvironmentVariableA("TESSARY_OOM_CHILD", NULL, 0)) {
        shell_app();
        SampleBuf b;
        sb_init(&b);
        sb_reserve(&b, UINT64_MAX / 2); // no heap holds this
        return;                         // not reached
    }
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    std::string cmd = std::string("\"") + self +
                      "\" --gtest_filter=ShellWindowAlone.RunningOutOfMemorySaysSoInABoxAndEnds";
    SetEnvironmentVariableA("TESSARY_OOM_CHILD", "1");
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    BOOL started = CreateProcessA(NULL, &cmd[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi);
    SetEnvironmentVariableA("TESSARY_OOM_CHILD", NULL);
    ASSERT_TRUE(started);
    HWND box = NULL;
    drv_until([&] { return (box = drv_top_window(pi.dwProcessId, "#32770", NULL)) != NULL; }, 30000,
              50);
    ASSERT_TRUE(box != NULL) << "the program vanished without a word";
    EXPECT_EQ(drv_text(box), "Out of memory");
    EXPECT_EQ(drv_box_message(box), "Tessary ran out of memory and has to close.");
    drv_close_box(box);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 1u);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

// A one-line caption or check box whose text runs past its box wraps, and
// its second line peeks out below; in the font the scripts give Wine, every
// one fits.
TEST(ShellWindowAlone, EveryOneLineCaptionFitsItsBox) {
    shell_app();
    std::vector<HWND> all;
    EnumChildWindows(
        g_app.main_wnd,
        [](HWND w, LPARAM l) {
            ((std::vector<HWND> *)l)->push_back(w);
            return TRUE;
        },
        (LPARAM)&all);
    int checked = 0;
    for (HWND w : all) {
        std::string cls = drv_class(w), text = drv_text(w);
        RECT r;
        GetClientRect(w, &r);
        LONG style = GetWindowLongA(w, GWL_STYLE);
        bool check = cls == "Button" && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX;
        if (text.empty() || r.bottom > 20 || !(cls == "Static" || check)) continue;
        HFONT font = (HFONT)SendMessageA(w, WM_GETFONT, 0, 0);
        int need = text_width(w, font, text.c_str()) + (check ? 20 : 0);
        EXPECT_LE(need, r.right) << "\"" << text << "\"";
        checked++;
    }
    EXPECT_GT(checked, 20);
    // A tick per percent drew the speed slider's ticks as one grey bar.
    EXPECT_LE(SendMessageA(g_app.speed_slider, TBM_GETNUMTICS, 0, 0), 12);
}
