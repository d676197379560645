// The real main window, hidden, driven through its messages: header layout,
// callsign rule, speed, tabs, the transmit countdown and progress on the real
// timer, and the station-ID buttons' message boxes.
#include <gtest/gtest.h>
#include "tests/win/shell_kit.h"
#include "audio/audio.h"
#include <commctrl.h>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

struct HeaderItem {
    int id;
    const char *cls;
    const char *text;
    RECT r;
};

RECT child_rect(HWND c) {
    RECT r;
    GetWindowRect(c, &r);
    MapWindowPoints(NULL, GetParent(c), (POINT *)&r, 2);
    return r;
}

std::string class_of(HWND w) {
    char c[64] = "";
    GetClassNameA(w, c, sizeof c);
    return c;
}

bool visible_flag(HWND w) { return (GetWindowLongPtrA(w, GWL_STYLE) & WS_VISIBLE) != 0; }

void set_callsign(const char *s) { SetWindowTextA(g_app.callsign_edit, s); }

// A folder of its own with the named clips, each a short real WAV file.
std::string clip_folder(const char *tag, const std::vector<std::string> &names) {
    char tmp[MAX_PATH];
    GetTempPathA(sizeof tmp, tmp);
    char dir[MAX_PATH];
    snprintf(dir, sizeof dir, "%stessary-shell-%lu-%s", tmp, GetCurrentProcessId(), tag);
    CreateDirectoryA(dir, NULL);
    SampleBuf b;
    sb_init(&b);
    uint32_t d = 5;
    gen_digits_samples(&b, &d, 1, 0, 0.05, 0.01);
    for (const std::string &n : names) save_wav((std::string(dir) + "\\" + n).c_str(), &b);
    sb_free(&b);
    return dir;
}

class ShellWindow : public ::testing::Test {
protected:
    void SetUp() override {
        shell_app();
        // Back to idle whatever the previous test left.
        KillTimer(g_app.main_wnd, TX_TIMER_ID);
        audio_stop();
        g_app.tx_active = 0;
        g_app.tx_countdown = 0;
        SetWindowTextA(g_app.tx_status, "");
        set_callsign("");
        g_app.cw_mode = 0;
    }
    void TearDown() override {
        KillTimer(g_app.main_wnd, TX_TIMER_ID);
        rxpanel_stop_active();
        audio_stop();
    }
};

TEST_F(ShellWindow, HeaderLayoutIdsAndTexts) {
    HWND w = g_app.main_wnd;
    EXPECT_EQ(class_of(w), "DtmfMainWindow");
    EXPECT_EQ(shell_text(w), "Tessary -- 0-6 Line");
    RECT c;
    GetClientRect(w, &c);
    EXPECT_EQ(c.right, 1010);
    EXPECT_EQ(c.bottom, 1076);
    LONG style = GetWindowLongA(w, GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);

    const HeaderItem items[] = {
        {IDC_CALLSIGN_EDIT, "Edit", "", {636, 8, 746, 32}},
        {IDC_SIGNOFF, "Button", "Sign off", {752, 8, 832, 32}},
        {IDC_CALLSIGN_BUTTON, "Button", "Callsign", {10, 40, 100, 64}},
        {IDC_REPEATER_CHECK, "Button", "Repeater mode", {112, 42, 252, 62}},
        {IDC_CW_CHECK, "Button", "CW ID (fast Morse)", {10, 74, 180, 94}},
        {IDC_SPEED_SLIDER, TRACKBAR_CLASSA, "", {104, 104, 344, 134}},
    };
    for (const HeaderItem &it : items) {
        HWND ctl = GetDlgItem(w, it.id);
        ASSERT_TRUE(ctl) << it.id;
        EXPECT_STRCASEEQ(class_of(ctl).c_str(), it.cls) << it.id;
        EXPECT_EQ(shell_text(ctl), it.text) << it.id;
        RECT r = child_rect(ctl);
        EXPECT_TRUE(EqualRect(&r, &it.r)) << it.id << ": " << r.left << "," << r.top << " "
                                          << r.right << "," << r.bottom;
    }
    EXPECT_EQ(GetDlgItem(w, IDC_CALLSIGN_EDIT), g_app.callsign_edit);
    EXPECT_EQ((HFONT)SendMessageA(g_app.callsign_edit, WM_GETFONT, 0, 0), g_app.font_text);
    EXPECT_EQ((HFONT)SendMessageA(g_app.callsign_button, WM_GETFONT, 0, 0), g_app.font_small);
    EXPECT_EQ(GetWindowLongPtrA(g_app.repeater_check, GWLP_USERDATA), 2);
    EXPECT_EQ(GetWindowLongPtrA(g_app.tx_status, GWLP_USERDATA), 2);
    EXPECT_EQ(SendMessageA(g_app.repeater_check, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(SendMessageA(g_app.speed_slider, TBM_GETRANGEMIN, 0, 0), 50);
    EXPECT_EQ(SendMessageA(g_app.speed_slider, TBM_GETRANGEMAX, 0, 0), 500);
    EXPECT_EQ(SendMessageA(g_app.speed_slider, TBM_GETPOS, 0, 0), 100);
    RECT led = child_rect(g_app.tx_led);
    EXPECT_EQ(led.left, 848);
    EXPECT_EQ(led.right - led.left, 14);
    EXPECT_EQ((COLORREF)GetWindowLongPtrA(g_app.tx_led, GWLP_USERDATA), RGB(124, 143, 135));

    // Tab strip, its seven items and the pages inside it.
    EXPECT_EQ(GetDlgItem(w, IDC_TAB_CONTROL), g_app.tab_control);
    RECT t = child_rect(g_app.tab_control);
    EXPECT_TRUE(t.left == 10 && t.top == 140 && t.right == 1000 && t.bottom == 1066);
    const char *names[7] = {"Transmit (text)", "Image encode", "Receive (text)", "Image decode",
                            "Hex (file)",      "Reference",    "Server"};
    ASSERT_EQ(SendMessageA(g_app.tab_control, TCM_GETITEMCOUNT, 0, 0), 7);
    for (int i = 0; i < 7; i++) {
        char buf[64] = "";
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = buf;
        item.cchTextMax = sizeof buf;
        SendMessageA(g_app.tab_control, TCM_GETITEMA, i, (LPARAM)&item);
        EXPECT_STREQ(buf, names[i]);
        EXPECT_EQ(class_of(g_app.pages[i]), "DtmfPage");
        EXPECT_EQ(GetParent(g_app.pages[i]), g_app.tab_control);
    }
}

TEST_F(ShellWindow, CallsignKeepsOnlyUpperCaseLettersAndDigits) {
    set_callsign("k9 abc-1");
    EXPECT_EQ(shell_text(g_app.callsign_edit), "K9ABC1");

    // Typed one key at a time, the way a user does.
    set_callsign("");
    SetFocus(g_app.callsign_edit);
    for (const char *p = "w1a-w"; *p; p++) SendMessageA(g_app.callsign_edit, WM_CHAR, *p, 0);
    EXPECT_EQ(shell_text(g_app.callsign_edit), "W1AW");
    DWORD start = 0, end = 0;
    SendMessageA(g_app.callsign_edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    EXPECT_EQ(start, 4u);

    // Pasted: only the first 255 characters are read and kept.
    std::string lower(300, 'q');
    ASSERT_TRUE(OpenClipboard(g_app.main_wnd));
    EmptyClipboard();
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, lower.size() + 1);
    memcpy(GlobalLock(mem), lower.c_str(), lower.size() + 1);
    GlobalUnlock(mem);
    SetClipboardData(CF_TEXT, mem);
    CloseClipboard();
    set_callsign("");
    SendMessageA(g_app.callsign_edit, WM_PASTE, 0, 0);
    EXPECT_EQ(shell_text(g_app.callsign_edit), std::string(255, 'Q'));

    // The rule itself, bytes beyond ASCII included.
    char out[256];
    EXPECT_EQ(callsign_clean("a\xe9z\xc3\xa4 0", out), 3u);
    EXPECT_STREQ(out, "AZ0");
    EXPECT_EQ(callsign_clean(std::string(400, '7').c_str(), out), 255u);
}

TEST_F(ShellWindow, SpeedSliderSetsToneGapAndLabel) {
    const struct {
        int pos;
        const char *label;
        double tone, gap;
    } cases[] = {
        {50, "50% speed (360ms tone / 180ms gap)", 0.36, 0.18},
        {200, "200% speed (90ms tone / 45ms gap)", 0.09, 0.045},
        {500, "500% speed (36ms tone / 18ms gap)", 0.036, 0.018},
        {100, "100% speed (180ms tone / 90ms gap)", 0.18, 0.09},
    };
    for (const auto &c : cases) {
        SendMessageA(g_app.speed_slider, TBM_SETPOS, TRUE, c.pos);
        SendMessageA(g_app.main_wnd, WM_HSCROLL, TB_THUMBTRACK, (LPARAM)g_app.speed_slider);
        EXPECT_EQ(shell_text(g_app.speed_label), c.label);
        EXPECT_NEAR(g_app.tone_seconds, c.tone, 1e-9);
        EXPECT_NEAR(g_app.gap_seconds, c.gap, 1e-9);
    }
    // A scroll message without a control leaves everything as it was.
    SendMessageA(g_app.main_wnd, WM_HSCROLL, SB_LINERIGHT, 0);
    EXPECT_NEAR(g_app.tone_seconds, 0.18, 1e-9);
}

TEST_F(ShellWindow, TabStripShowsExactlyTheChosenPage) {
    for (int sel : {3, 6, 6, 0}) {
        SendMessageA(g_app.tab_control, TCM_SETCURSEL, sel, 0);
        NMHDR nm = {g_app.tab_control, IDC_TAB_CONTROL, (UINT)TCN_SELCHANGE};
        SendMessageA(g_app.main_wnd, WM_NOTIFY, IDC_TAB_CONTROL, (LPARAM)&nm);
        for (int i = 0; i < 7; i++) EXPECT_EQ(visible_flag(g_app.pages[i]), i == sel) << sel << "/" << i;
    }
    // A notification from another sender switches nothing.
    NMHDR other = {g_app.speed_slider, IDC_SPEED_SLIDER, (UINT)TCN_SELCHANGE};
    SendMessageA(g_app.tab_control, TCM_SETCURSEL, 2, 0);
    SendMessageA(g_app.main_wnd, WM_NOTIFY, IDC_SPEED_SLIDER, (LPARAM)&other);
    EXPECT_TRUE(visible_flag(g_app.pages[0]));
    EXPECT_FALSE(visible_flag(g_app.pages[2]));
    SendMessageA(g_app.tab_control, TCM_SETCURSEL, 0, 0);
}

// Runs the real timer until the transmission ends, recording every status
// text and counting completions (falling edges of tx_active seen by the
// main window's timer handling, which the Server page is told about).
struct TxRun {
    std::vector<std::string> texts;
    int completions = 0;
};

TxRun run_tx(DWORD timeout_ms, const std::function<void(TxRun &)> &each = nullptr) {
    TxRun run;
    ULONGLONG end = GetTickCount64() + timeout_ms;
    int32_t was = g_app.tx_active;
    while (GetTickCount64() < end) {
        shell_pump(5);
        std::string t = shell_text(g_app.tx_status);
        if (run.texts.empty() || run.texts.back() != t) run.texts.push_back(t);
        if (was && !g_app.tx_active) run.completions++;
        was = g_app.tx_active;
        if (each) each(run);
        if (!g_app.tx_active) break;
    }
    return run;
}

SampleBuf tone_buf(double seconds) {
    SampleBuf b;
    sb_init(&b);
    sb_append_silence(&b, (uint64_t)(seconds * 44100));
    return b;
}

TEST_F(ShellWindow, CountdownThenProgressThenIdle) {
    SampleBuf b = tone_buf(0.2);
    start_tx(&b);
    sb_free(&b);
    EXPECT_EQ(shell_text(g_app.tx_status), "TX in 3...");
    EXPECT_EQ(g_app.tx_active, 1);
    EXPECT_NEAR(g_app.tx_total_seconds, 1.2, 1e-9);

    bool led_seen_on = false, led_on_in_countdown = false;
    TxRun run = run_tx(15000, [&](TxRun &) {
        COLORREF led = (COLORREF)GetWindowLongPtrA(g_app.tx_led, GWLP_USERDATA);
        if (led == LED_ON_COLOR) {
            led_seen_on = true;
            if (g_app.tx_countdown > 0) led_on_in_countdown = true;
        }
    });
    ASSERT_GE(run.texts.size(), 5u);
    EXPECT_EQ(run.texts[0], "TX in 3...");
    EXPECT_EQ(run.texts[1], "TX in 2...");
    EXPECT_EQ(run.texts[2], "TX in 1...");
    EXPECT_EQ(run.texts.back(), "");
    double last = -1;
    for (size_t i = 3; i + 1 < run.texts.size(); i++) {
        double shown = -1, total = -1;
        ASSERT_EQ(sscanf(run.texts[i].c_str(), "%lf / %lfs", &shown, &total), 2) << run.texts[i];
        EXPECT_DOUBLE_EQ(total, 1.2);
        EXPECT_LE(shown, 1.2);
        EXPECT_GE(shown, last);
        last = shown;
    }
    EXPECT_GE(last, 0.9); // the tick that reaches the total clears the label at once
    EXPECT_TRUE(led_seen_on);
    EXPECT_FALSE(led_on_in_countdown);
    EXPECT_EQ((COLORREF)GetWindowLongPtrA(g_app.tx_led, GWLP_USERDATA), RGB(124, 143, 135));
    EXPECT_EQ(run.completions, 1);
    EXPECT_EQ(g_app.tx_countdown, 0);

    // Other timers and empty buffers change nothing.
    SendMessageA(g_app.main_wnd, WM_TIMER, TX_TIMER_ID + 1, 0);
    SampleBuf empty;
    sb_init(&empty);
    start_tx(&empty);
    start_tx(NULL);
    EXPECT_EQ(g_app.tx_active, 0);
    EXPECT_EQ(shell_text(g_app.tx_status), "");
}

TEST_F(ShellWindow, CompletionReachesTheServerPageOnceAtTheFallingEdge) {
    // The Server page listens for its answer when told a request has gone.
    ShellBoxWatch boxes;
    g_app.server.exchange_state = 1;
    SampleBuf b = tone_buf(0.1);
    start_tx(&b);
    sb_free(&b);
    TxRun run = run_tx(15000, [&](TxRun &r) {
        if (g_app.tx_active) {
            EXPECT_EQ(g_app.server.exchange_state, 1) << r.texts.back();
        }
    });
    EXPECT_EQ(run.completions, 1);
    EXPECT_NE(g_app.server.exchange_state, 1);
    rxpanel_stop_active();
    g_app.server.exchange_state = 0;
}

TEST_F(ShellWindow, SecondTransmissionRestartsCountdownWithoutCompletingTheFirst) {
    g_app.server.exchange_state = 1; // would move on at any completion
    ShellBoxWatch boxes;

    SampleBuf a = tone_buf(0.5);
    start_tx(&a);
    sb_free(&a);
    ASSERT_TRUE(shell_pump_until([] { return shell_text(g_app.tx_status) == "TX in 2..."; }, 3000));
    SampleBuf b = tone_buf(0.3);
    start_tx(&b);
    sb_free(&b);
    EXPECT_EQ(shell_text(g_app.tx_status), "TX in 3...");
    EXPECT_NEAR(g_app.tx_total_seconds, 1.3, 1e-9);

    // Now during playback: a long one, replaced while it sounds.
    ASSERT_TRUE(shell_pump_until([] { return g_app.tx_countdown == 0; }, 5000));
    SampleBuf c = tone_buf(30);
    start_tx(&c);
    sb_free(&c);
    ASSERT_TRUE(shell_pump_until([] { return g_app.tx_countdown == 0; }, 5000));
    shell_pump(300);
    EXPECT_EQ((COLORREF)GetWindowLongPtrA(g_app.tx_led, GWLP_USERDATA), LED_ON_COLOR);
    EXPECT_EQ(audio_play_threads_alive(), 1);
    SampleBuf d = tone_buf(0.2);
    start_tx(&d);
    sb_free(&d);
    EXPECT_EQ(shell_text(g_app.tx_status), "TX in 3...");
    EXPECT_EQ((COLORREF)GetWindowLongPtrA(g_app.tx_led, GWLP_USERDATA), RGB(124, 143, 135));
    EXPECT_EQ(g_app.tx_active, 1);
    // The cut playback's thread winds down well before the new one starts.
    EXPECT_TRUE(shell_pump_until([] { return audio_play_threads_alive() == 0; }, 2000));
    EXPECT_EQ(g_app.server.exchange_state, 1);

    TxRun run = run_tx(15000);
    EXPECT_EQ(run.completions, 1);
    EXPECT_NEAR(g_app.tx_total_seconds, 1.2, 1e-9);
    rxpanel_stop_active();
    g_app.server.exchange_state = 0;
}

TEST_F(ShellWindow, StationButtonsExplainWhatIsMissing) {
    ShellBoxWatch watch;
    std::string none = clip_folder("none", {});
    std::string some = clip_folder("some", {"w.wav", "1.wav"});
    std::string full = clip_folder("full", {"w.wav", "1.wav", "website.wav", "QRT.wav"});

    SendMessageA(g_app.main_wnd, WM_COMMAND, MAKEWPARAM(IDC_SIGNOFF, BN_CLICKED), 0);
    SendMessageA(g_app.main_wnd, WM_COMMAND, MAKEWPARAM(IDC_CALLSIGN_BUTTON, BN_CLICKED), 0);

    set_callsign("W1X");
    snprintf(g_app.audio_dir, sizeof g_app.audio_dir, "%s", some.c_str());
    callsign_click(); // x.wav is missing

    set_callsign("W1");
    snprintf(g_app.audio_dir, sizeof g_app.audio_dir, "%s", some.c_str());
    signoff_click(); // clips there, QRT.wav not
    uint32_t digits[2] = {1, 2};
    SampleBuf out;
    sb_init(&out);
    EXPECT_EQ(build_full_samples(digits, 2, &out), -1); // website.wav not there
    EXPECT_EQ(out.len, 0u);

    std::vector<ShellBox> seen = watch.boxes();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].title, "Sign off");
    EXPECT_EQ(seen[0].text, "Enter a callsign first.");
    EXPECT_EQ(seen[1].title, "Callsign");
    EXPECT_EQ(seen[1].text, "Enter a callsign first.");
    EXPECT_EQ(seen[2].title, "Callsign audio missing");
    EXPECT_EQ(seen[2].text.rfind("Missing callsign clip: ", 0), 0u) << seen[2].text;
    EXPECT_NE(seen[2].text.find("x.wav"), std::string::npos) << seen[2].text;
    EXPECT_EQ(seen[3].title, "Sign-off audio missing");
    EXPECT_EQ(seen[3].text, "Missing: " + some + "/QRT.wav");
    EXPECT_EQ(seen[4].title, "Callsign audio missing");
    EXPECT_NE(seen[4].text.find("website.wav"), std::string::npos) << seen[4].text;
    EXPECT_EQ(g_app.tx_active, 0);

    // With everything in place both buttons transmit; CW needs no clips.
    snprintf(g_app.audio_dir, sizeof g_app.audio_dir, "%s", full.c_str());
    callsign_click();
    EXPECT_EQ(shell_text(g_app.tx_status), "TX in 3...");
    double id_only = g_app.tx_total_seconds;
    signoff_click();
    EXPECT_EQ(shell_text(g_app.tx_status), "TX in 3...");
    EXPECT_GT(g_app.tx_total_seconds, id_only + 0.3);
    EXPECT_EQ(build_full_samples(digits, 2, &out), 0);
    EXPECT_GT(out.len, 0u);
    sb_free(&out);
    snprintf(g_app.audio_dir, sizeof g_app.audio_dir, "%s", none.c_str());
    SendMessageA(g_app.cw_check, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(g_app.main_wnd, WM_COMMAND, MAKEWPARAM(IDC_CW_CHECK, BN_CLICKED), 0);
    EXPECT_EQ(g_app.cw_mode, 1);
    g_app.tx_active = 0;
    callsign_click();
    EXPECT_EQ(g_app.tx_active, 1);
    SendMessageA(g_app.cw_check, BM_SETCHECK, BST_UNCHECKED, 0);
    SendMessageA(g_app.main_wnd, WM_COMMAND, MAKEWPARAM(IDC_CW_CHECK, BN_CLICKED), 0);
    EXPECT_EQ(g_app.cw_mode, 0);

    // A sign-off clip that is there but unreadable is reported, not skipped.
    FILE *f = fopen((full + "/QRT.wav").c_str(), "wb");
    fputs("not a wave file", f);
    fclose(f);
    snprintf(g_app.audio_dir, sizeof g_app.audio_dir, "%s", full.c_str());
    signoff_click();
    seen = watch.boxes();
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[5].title, "Sign-off audio missing");
    EXPECT_EQ(seen[5].text, "Cannot read: " + full + "/QRT.wav");
}

TEST(ShellPieces, AudioFolderFileNamesAndTheme) {
    char dir[260];
    audio_dir_from_module_path("C:\\Prog\\Tessary.exe", dir, sizeof dir);
    EXPECT_STREQ(dir, "C:\\Prog\\audio");
    audio_dir_from_module_path("/opt/a\\b/Tessary.exe", dir, sizeof dir);
    EXPECT_STREQ(dir, "/opt/a\\b\\audio");
    audio_dir_from_module_path("Tessary.exe", dir, sizeof dir);
    EXPECT_STREQ(dir, "Tessary.exe\\audio");
    std::string longp(300, 'p');
    audio_dir_from_module_path(longp.c_str(), dir, sizeof dir);
    EXPECT_EQ(strlen(dir), 259u);

    EXPECT_STREQ(filename_only("C:\\a/b\\c.wav"), "c.wav");
    EXPECT_STREQ(filename_only("c.wav"), "c.wav");
    EXPECT_STREQ(filename_only("C:\\a\\"), "");

    shell_app();
    HDC dc = CreateCompatibleDC(NULL);
    HWND untagged = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 5, 5, g_app.main_wnd, NULL, NULL, NULL);
    HBRUSH panel = theme_ctlcolor(dc, untagged);
    EXPECT_EQ(GetTextColor(dc), RGB(124, 143, 135));
    EXPECT_EQ(GetBkColor(dc), RGB(20, 28, 25));
    const struct {
        int tag;
        COLORREF text, back;
    } tags[] = {{1, RGB(124, 143, 135), RGB(20, 28, 25)}, {2, RGB(124, 143, 135), RGB(14, 20, 18)},
                {3, RGB(76, 255, 179), RGB(11, 16, 14)},  {4, RGB(220, 231, 225), RGB(11, 16, 14)},
                {5, RGB(46, 122, 92), RGB(20, 28, 25)},   {9, RGB(124, 143, 135), RGB(20, 28, 25)}};
    HBRUSH readout = NULL;
    for (const auto &t : tags) {
        SetWindowLongPtrA(untagged, GWLP_USERDATA, t.tag);
        HBRUSH b = theme_ctlcolor(dc, untagged);
        EXPECT_EQ(GetTextColor(dc), t.text) << t.tag;
        EXPECT_EQ(GetBkColor(dc), t.back) << t.tag;
        if (t.tag == 1 || t.tag == 5 || t.tag == 9) {
            EXPECT_EQ(b, panel) << t.tag;
        }
        if (t.tag == 3) readout = b;
        if (t.tag == 4) {
            EXPECT_EQ(b, readout);
        }
    }
    int y = 112;
    HWND box = mk_readout_label(g_app.main_wnd, "CAP", 14, &y, 300, NULL);
    EXPECT_EQ(y, 178);
    RECT r = child_rect(box);
    EXPECT_EQ(r.top, 130);
    EXPECT_EQ(r.bottom - r.top, 40);
    EXPECT_EQ(GetWindowLongPtrA(box, GWLP_USERDATA), 3);
    DestroyWindow(box);
    DestroyWindow(untagged);
    DeleteDC(dc);
}

} // namespace

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(ProgramResources, IconGroupVersionAndManifest) {
    HMODULE exe = LoadLibraryExA(TESSARY_EXE_WIN, NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(exe) << TESSARY_EXE_WIN;

    HRSRC group = FindResourceA(exe, MAKEINTRESOURCEA(IDI_APPICON), MAKEINTRESOURCEA(14)); // RT_GROUP_ICON
    ASSERT_TRUE(group);
    const BYTE *dir = (const BYTE *)LockResource(LoadResource(exe, group));
    WORD count = *(const WORD *)(dir + 4);
    ASSERT_EQ(count, 7);
    const GroupIconEntry *e = (const GroupIconEntry *)(dir + 6);
    const int want[7] = {16, 24, 32, 48, 64, 128, 256};
    for (int i = 0; i < 7; i++) {
        EXPECT_EQ(e[i].width ? e[i].width : 256, want[i]);
        EXPECT_EQ(e[i].bit_count, 32);
        // Each image is a real, opaque-in-the-middle 32-bit DIB.
        HRSRC img = FindResourceA(exe, MAKEINTRESOURCEA(e[i].id), MAKEINTRESOURCEA(3)); // RT_ICON
        ASSERT_TRUE(img);
        const BITMAPINFOHEADER *bih = (const BITMAPINFOHEADER *)LockResource(LoadResource(exe, img));
        EXPECT_EQ(bih->biWidth, want[i]);
        EXPECT_EQ(bih->biBitCount, 32);
        const BYTE *px = (const BYTE *)(bih + 1);
        int mid = want[i] / 2;
        EXPECT_EQ(px[(mid * want[i] + mid) * 4 + 3], 255) << want[i];
        EXPECT_EQ(px[3], 0) << want[i]; // corners are transparent
    }
    HICON small = (HICON)LoadImageA(exe, MAKEINTRESOURCEA(IDI_APPICON), IMAGE_ICON, 16, 16, 0);
    EXPECT_TRUE(small);

    HRSRC man = FindResourceA(exe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)); // RT_MANIFEST
    ASSERT_TRUE(man);
    std::string m((const char *)LockResource(LoadResource(exe, man)), SizeofResource(exe, man));
    for (const char *s : {"version=\"1.0.0.0\"", "processorArchitecture=\"*\"", "type=\"win32\"",
                          "<description>Tessary -- 0-6 Line</description>", "level=\"asInvoker\"",
                          "uiAccess=\"false\"", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
                          "{e2011457-1546-43c5-a5fe-008deee3d3f0}"})
        EXPECT_NE(m.find(s), std::string::npos) << s;
    EXPECT_EQ(m.find("Common-Controls"), std::string::npos);
    EXPECT_EQ(m.find("dpiAware"), std::string::npos);
    FreeLibrary(exe);

    DWORD size = GetFileVersionInfoSizeA(TESSARY_EXE_WIN, NULL);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(TESSARY_EXE_WIN, 0, size, info.data()));
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void **)&fixed, &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileType, (DWORD)VFT_APP);
    for (const char *key : {"FileDescription", "ProductName"}) {
        char path[64];
        snprintf(path, sizeof path, "\\StringFileInfo\\040904b0\\%s", key);
        char *value = NULL;
        ASSERT_TRUE(VerQueryValueA(info.data(), path, (void **)&value, &len)) << key;
        EXPECT_STREQ(value, "Tessary");
    }
}

} // namespace

namespace {

volatile LONG g_loud_frames;
void count_loud(const float *frame, uint64_t count, void *) {
    float peak = 0;
    for (uint64_t i = 0; i < count; i++) peak = frame[i] > peak ? frame[i] : peak;
    if (peak > 0.05f) InterlockedIncrement(&g_loud_frames);
}

TEST_F(ShellWindow, TheBuiltClipsSpeakACallsignOutOfTheBox) {
    const char *names = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (const char *c = names; *c; c++) {
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\%c.wav", TESSARY_CLIPS_WIN, *c);
        SampleBuf b;
        sb_init(&b);
        uint32_t rate = 0;
        EXPECT_EQ(load_wav_mono_float(path, &b, &rate), 0) << path;
        EXPECT_EQ(rate, 44100u) << path;
        EXPECT_GT(b.len, 4410u) << path; // at least a tenth of a second of speech
        sb_free(&b);
    }
    snprintf(g_app.audio_dir, sizeof g_app.audio_dir, "%s", TESSARY_CLIPS_WIN);
    ShellBoxWatch watch;
    set_callsign("K1");
    char err[256] = "";
    ASSERT_EQ(audio_capture_start(count_loud, NULL, err, sizeof err), 1) << err;
    SendMessageA(g_app.main_wnd, WM_COMMAND, MAKEWPARAM(IDC_CALLSIGN_BUTTON, BN_CLICKED), 0);
    EXPECT_EQ(shell_text(g_app.tx_status), "TX in 3...");
    LONG before_play = 0;
    run_tx(20000, [&](TxRun &) {
        if (g_app.tx_countdown > 0) before_play = g_loud_frames;
    });
    audio_capture_stop();
    EXPECT_EQ(before_play, 0);
    EXPECT_GT(g_loud_frames, 10); // "kilo one" is well over half a second
    signoff_click();                // QRT.wav and website.wav are there too
    EXPECT_EQ(shell_text(g_app.tx_status), "TX in 3...");
    uint32_t digits[3] = {1, 2, 3};
    SampleBuf out;
    sb_init(&out);
    EXPECT_EQ(build_full_samples(digits, 3, &out), 0);
    sb_free(&out);
    EXPECT_TRUE(watch.boxes().empty());
}

} // namespace
