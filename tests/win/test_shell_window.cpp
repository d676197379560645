// The real main window, hidden, driven through its messages and its real timer.
#include <gtest/gtest.h>
#include "tests/win/kit.h"
#include "audio/audio.h"

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
    ULONGLONG end = GetTickCount64() + timeout_ms;
    while (GetTickCount64() < end) {
        drv_pump(5);
        std::string t = drv_text(g_app.tx_status);
        if (texts.empty() || texts.back() != t) texts.push_back(t);
        if (each) each();
        if (!g_app.tx_active) break;
    }
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
        g_app.server.exchange_state = 0;
    }
};

TEST_F(ShellWindow, CallsignKeepsOnlyCapitalsAndDigits) {
    for (const char *p = "w1a-w"; *p; p++) SendMessageA(g_app.callsign_edit, WM_CHAR, *p, 0);
    EXPECT_EQ(drv_text(g_app.callsign_edit), "W1AW");
    DWORD start = 0;
    SendMessageA(g_app.callsign_edit, EM_GETSEL, (WPARAM)&start, 0);
    EXPECT_EQ(start, 4u); // the caret stays at the end while typing

    // Pasted: only the first 255 characters are read and kept.
    std::string lower(300, 'q');
    ASSERT_TRUE(OpenClipboard(g_app.main_wnd));
    EmptyClipboard();
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, lower.size() + 1);
    memcpy(GlobalLock(mem), lower.c_str(), lower.size() + 1);
    GlobalUnlock(mem);
    SetClipboardData(CF_TEXT, mem);
    CloseClipboard();
    SetWindowTextA(g_app.callsign_edit, "");
    SendMessageA(g_app.callsign_edit, WM_PASTE, 0, 0);
    EXPECT_EQ(drv_text(g_app.callsign_edit), std::string(255, 'Q'));

    char out[256];
    EXPECT_EQ(callsign_clean("a\xe9z\xc3\xa4 0", out), 3u); // bytes beyond ASCII go
    EXPECT_STREQ(out, "AZ0");
}

TEST_F(ShellWindow, TabsShowTheirPageAndCaptureMessagesReachTheirOwn) {
    for (int sel : {3, 6, 6, 0}) {
        SendMessageA(g_app.tab_control, TCM_SETCURSEL, sel, 0);
        NMHDR nm = {g_app.tab_control, IDC_TAB_CONTROL, (UINT)TCN_SELCHANGE};
        SendMessageA(g_app.main_wnd, WM_NOTIFY, IDC_TAB_CONTROL, (LPARAM)&nm);
        for (int i = 0; i < 7; i++)
            EXPECT_EQ((GetWindowLongA(g_app.pages[i], GWL_STYLE) & WS_VISIBLE) != 0, i == sel)
                << sel << i;
    }

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
        ASSERT_TRUE(bars[i]) << i;
        SendMessageA(bars[i], TBM_SETPOS, TRUE, 20 + i);
        SendMessageA(GetParent(bars[i]), WM_HSCROLL, TB_ENDTRACK, (LPARAM)bars[i]);
        EXPECT_FLOAT_EQ(panels[i]->threshold, (20 + i) / 100.0f) << i;
    }
}

TEST_F(ShellWindow, CountdownProgressRestartsAndTheEndIsTold) {
    BoxWatch boxes;
    g_app.server.exchange_state = 1; // the Server page moves on when told of the end
    start_silence(0.2);
    EXPECT_EQ(drv_text(g_app.tx_status), "TX in 3...");

    bool led_on = false, led_on_early = false, told_early = false;
    std::vector<std::string> texts = run_tx(15000, [&] {
        if (led_color() == LED_ON_COLOR) {
            led_on = true;
            led_on_early |= g_app.tx_countdown > 0;
        }
        told_early |= g_app.tx_active && g_app.server.exchange_state != 1;
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
    EXPECT_TRUE(led_on && !led_on_early);
    EXPECT_EQ(led_color(), LED_OFF);
    EXPECT_FALSE(told_early);
    EXPECT_NE(g_app.server.exchange_state, 1);

    // A second transmission in the countdown starts it afresh.
    g_app.server.exchange_state = 1;
    start_silence(0.5);
    ASSERT_TRUE(drv_until([] { return drv_text(g_app.tx_status) == "TX in 2..."; }, 3000));
    start_silence(0.3);
    EXPECT_EQ(drv_text(g_app.tx_status), "TX in 3...");
    EXPECT_NEAR(g_app.tx_total_seconds, 1.3, 1e-9);

    // One during playback cuts the sounding one and the LED waits for the new countdown.
    ASSERT_TRUE(drv_until([] { return g_app.tx_countdown == 0; }, 5000));
    start_silence(30);
    ASSERT_TRUE(
        drv_until([] { return g_app.tx_countdown == 0 && audio_play_threads_alive() == 1; }, 5000));
    EXPECT_EQ(led_color(), LED_ON_COLOR);
    start_silence(0.2);
    EXPECT_EQ(drv_text(g_app.tx_status), "TX in 3...");
    EXPECT_EQ(led_color(), LED_OFF);
    EXPECT_TRUE(drv_until([] { return audio_play_threads_alive() == 0; }, 2000));
    EXPECT_EQ(g_app.server.exchange_state, 1);

    EXPECT_EQ(run_tx(15000).back(), "");
    EXPECT_NE(g_app.server.exchange_state, 1);
    EXPECT_NEAR(g_app.tx_total_seconds, 1.2, 1e-9);
}

volatile LONG g_loud_frames;
void count_loud(const float *frame, uint64_t count, void *) {
    float peak = 0;
    for (uint64_t i = 0; i < count; i++) peak = frame[i] > peak ? frame[i] : peak;
    if (peak > 0.05f) InterlockedIncrement(&g_loud_frames);
}

TEST_F(ShellWindow, StationButtonsSayWhatIsMissingAndTheBuiltClipsSpeak) {
    BoxWatch watch;
    std::string some = clip_folder("some", {"w.wav", "1.wav"});
    click(IDC_SIGNOFF);
    click(IDC_CALLSIGN_BUTTON);
    set_audio_dir(some);
    SetWindowTextA(g_app.callsign_edit, "W1X");
    callsign_click(); // no x.wav
    SetWindowTextA(g_app.callsign_edit, "W1");
    signoff_click(); // no QRT.wav
    uint32_t digits[2] = {1, 2};
    Buf out;
    EXPECT_EQ(build_full_samples(digits, 2, &out), -1); // no website.wav
    EXPECT_EQ(g_app.tx_active, 0);
    EXPECT_EQ(watch.said(),
              (std::vector<std::string>{
                  "Sign off|Enter a callsign first.", "Callsign|Enter a callsign first.",
                  "Callsign audio missing|Missing callsign clip: " + some + "/x.wav",
                  "Sign-off audio missing|Missing: " + some + "/QRT.wav",
                  "Callsign audio missing|Missing callsign clip: " + some + "/website.wav"}));

    // CW needs no clips at all.
    set_audio_dir(clip_folder("none", {}));
    SendMessageA(g_app.cw_check, BM_SETCHECK, BST_CHECKED, 0);
    click(IDC_CW_CHECK);
    callsign_click();
    EXPECT_EQ(g_app.tx_active, 1);
    SendMessageA(g_app.cw_check, BM_SETCHECK, BST_UNCHECKED, 0);
    click(IDC_CW_CHECK);
    EXPECT_EQ(g_app.cw_mode, 0);

    // The clips built with the program speak a callsign, and only once the countdown is over.
    for (const char *c = "abcdefghijklmnopqrstuvwxyz0123456789"; *c; c++) {
        std::string path = std::string(TESSARY_CLIPS_WIN) + "\\" + *c + ".wav";
        Buf b;
        uint32_t rate = 0;
        EXPECT_EQ(load_wav_mono_float(path.c_str(), &b, &rate), 0) << path;
        EXPECT_TRUE(rate == 44100 && b.len > 4410) << path;
    }
    set_audio_dir(TESSARY_CLIPS_WIN);
    SetWindowTextA(g_app.callsign_edit, "K1");
    char err[256] = "";
    ASSERT_EQ(audio_capture_start(count_loud, NULL, err, sizeof err), 1) << err;
    click(IDC_CALLSIGN_BUTTON);
    EXPECT_EQ(drv_text(g_app.tx_status), "TX in 3...");
    double id_only = g_app.tx_total_seconds;
    LONG before_play = 0;
    run_tx(20000, [&] {
        if (g_app.tx_countdown > 0) before_play = g_loud_frames;
    });
    audio_capture_stop();
    EXPECT_EQ(before_play, 0);
    EXPECT_GT(g_loud_frames, 10); // "kilo one" lasts well over half a second
    signoff_click();
    EXPECT_GT(g_app.tx_total_seconds, id_only + 0.3);
    EXPECT_EQ(build_full_samples(digits, 2, &out), 0);
    EXPECT_GT(out.len, 0u);
    EXPECT_EQ(watch.said().size(), 5u);
}

const void *resource(HMODULE m, int id, int type, DWORD *size = NULL) {
    HRSRC r = FindResourceA(m, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(type));
    if (size) *size = r ? SizeofResource(m, r) : 0;
    return r ? LockResource(LoadResource(m, r)) : NULL;
}

TEST(ProgramResources, IconsInEverySizeAndAManifest) {
    HMODULE exe = LoadLibraryExA(TESSARY_EXE_WIN, NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(exe) << TESSARY_EXE_WIN;
    const BYTE *group = (const BYTE *)resource(exe, IDI_APPICON, 14); // RT_GROUP_ICON
    ASSERT_TRUE(group);
    ASSERT_EQ(*(const WORD *)(group + 4), 7);
    const int sizes[7] = {16, 24, 32, 48, 64, 128, 256};
    for (int i = 0; i < 7; i++) {
        WORD id = *(const WORD *)(group + 6 + 14 * i + 12); // 14-byte entries, id last
        const BITMAPINFOHEADER *bih = (const BITMAPINFOHEADER *)resource(exe, id, 3); // RT_ICON
        ASSERT_TRUE(bih);
        int n = sizes[i];
        EXPECT_TRUE(bih->biWidth == n && bih->biBitCount == 32) << n;
        const BYTE *px = (const BYTE *)(bih + 1);
        EXPECT_EQ(px[(n / 2 * n + n / 2) * 4 + 3], 255) << n; // drawn in the middle
        EXPECT_EQ(px[3], 0) << n;                             // clear in the corner
    }

    DWORD size = 0;
    const char *man = (const char *)resource(exe, 1, 24, &size); // RT_MANIFEST
    ASSERT_TRUE(man);
    EXPECT_NE(std::string(man, size).find("level=\"asInvoker\""), std::string::npos);
    FreeLibrary(exe);
}

} // namespace
