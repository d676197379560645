// The Receive (text) page and its receiver panel, in a real hidden main window.
#include <gtest/gtest.h>
#include "tests/win/kit.h"

#include <random>

static RxTab &R = g_app.rx;

// Decodes samples with a fresh panel and returns the digits it reports.
static std::vector<int32_t> panel_decode(const SampleBuf &b) {
    static std::vector<int32_t> got;
    static RxPanel p;
    got.clear();
    rx_digits_free(&p.received);
    p = RxPanel{};
    rxpanel_init(&p, 1, -1);
    rxpanel_decode_samples(&p, b.data, b.len, 44100, [](int32_t d) {
        got.push_back(d);
        rx_digits_add(&p.received, d);
    });
    return got;
}

// Messages the capture side has posted for a panel, removed from the queue.
static std::vector<MSG> take(UINT msg, int32_t panel_id) {
    std::vector<MSG> out, others;
    MSG m;
    while (PeekMessageA(&m, g_app.main_wnd, msg, msg, PM_REMOVE))
        (m.wParam == (WPARAM)panel_id ? out : others).push_back(m);
    for (const MSG &o : others) PostMessageA(o.hwnd, o.message, o.wParam, o.lParam);
    return out;
}

// Frames as the capture thread delivers them, from a thread of its own.
static void feed_on_thread(const std::vector<int> &frames) {
    std::thread([&] {
        for (int d : frames) capture_frame_callback(rx_frame(d).data(), 2048, &R.panel);
    }).join();
}

class RxPage : public ::testing::Test {
  protected:
    void SetUp() override {
        shell_app();
        rx_clear();
    }
};

TEST_F(RxPage, PairsSpellLettersAndAFullReceptionSaysSo) {
    for (int d : {2, 0, 0, 0, 6, 6, 3}) rx_on_digit(d);
    EXPECT_EQ(drv_text(R.digits_label), "2000663");
    EXPECT_EQ(drv_text(R.text_label), "n ?");

    // The readout keeps the newest digits in view as they come.
    rx_clear();
    for (int i = 0; i < 400; i++) rx_on_digit(i % 2);
    EXPECT_GT(SendMessageA(R.digits_label, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    for (int i = 400; i < RX_MAX_DIGITS; i++) rx_on_digit(i % 2);
    std::string full_digits = drv_text(R.digits_label);
    EXPECT_EQ(drv_text(R.status_label), "Microphone idle");
    for (int d : {0, 2}) rx_on_digit(d);
    EXPECT_EQ(drv_text(R.digits_label), full_digits);
    EXPECT_EQ(R.text_len, RX_MAX_DIGITS / 2);
    EXPECT_EQ(drv_text(R.status_label), "Reception full (4096 digits) -- later digits dropped");
}

TEST_F(RxPage, FileDecodeReportsWhatItFound) {
    std::string coffee = temp_path("rx-coffee.wav"), tiny = temp_path("rx-tiny.wav"),
                junk = temp_path("rx-junk.wav");
    ASSERT_TRUE(kit_make_wav(coffee, {0, 3, 2, 1, 0, 6, 0, 6, 0, 5, 0, 5}));
    Buf b;
    sb_append_silence(&b, 2047); // less than one frame
    ASSERT_EQ(save_wav(tiny.c_str(), &b), 0);
    write_file(junk, "not a wav");

    ASSERT_EQ(kit_decode(rx_decode_path, tiny), 0);
    EXPECT_EQ(drv_text(R.status_label), "No tones detected -- try lowering the threshold");
    ASSERT_EQ(kit_decode(rx_decode_path, coffee), 0); // (counts and the next file: the sox test)
    BoxWatch boxes;
    EXPECT_EQ(kit_decode(rx_decode_path, junk), -1);
    EXPECT_EQ(boxes.said(), std::vector<std::string>{"Decode error|Could not read that WAV file."});
    EXPECT_TRUE(boxes.boxes()[0].error_icon);
    EXPECT_EQ(drv_text(R.digits_label), " ") << "the failed decode still cleared the page";
    EXPECT_EQ(R.text_len, 0);
}

TEST_F(RxPage, LiveFramesFollowTheFileDecodersGridSoFastSendersDecode) {
    // 150 %: a 60 ms gap leaves no whole buffer of silence between repeated
    // digits; only frames that straddle two buffers see it.
    const std::vector<uint32_t> sent = {1, 1, 6, 6, 0, 0, 3, 3, 5, 2, 2, 4};
    for (int32_t rep = 0; rep < 2; rep++) {
        g_app.repeater_mode = rep;
        rx_clear();
        Buf b;
        gen_digits_samples(&b, sent.data(), sent.size(), rep, 0.12, 0.06);
        sb_append_silence(&b, 2048 - b.len % 2048);
        std::thread([&] {
            for (uint64_t i = 0; i < b.len; i += 2048)
                capture_frame_callback(b.data + i, 2048, &R.panel);
        }).join();
        std::vector<int32_t> live;
        for (const MSG &m : take(WM_APP_DIGIT, 0)) live.push_back((int32_t)m.lParam);
        EXPECT_EQ(live, std::vector<int32_t>(sent.begin(), sent.end())) << "repeater " << rep;
        EXPECT_EQ(panel_decode(b), live) << "repeater " << rep;
    }
    g_app.repeater_mode = 0;
}

TEST_F(RxPage, ClearWhileListeningForgetsTheOldRunEntirely) {
    // Digits already posted before Clear never reach the page; another
    // panel's digits and every meter message (one a frame) stay queued.
    PostMessageA(g_app.main_wnd, WM_APP_DIGIT, 1, 5);
    feed_on_thread({2, 2, -1, 3, 3});
    rx_clear();
    EXPECT_TRUE(take(WM_APP_DIGIT, 0).empty());
    EXPECT_EQ(take(WM_APP_DIGIT, 1).size(), 1u);
    std::vector<MSG> meters = take(WM_APP_METERS, 0);
    ASSERT_EQ(meters.size(), 5u);
    EXPECT_TRUE(LOWORD(meters[0].lParam) > 50 && meters[2].lParam == 0) << "silence reads 0";

    // A tone half-heard before Clear needs two frames of its own after it.
    feed_on_thread({6});
    rx_clear();
    feed_on_thread({6});
    EXPECT_TRUE(take(WM_APP_DIGIT, 0).empty());
    feed_on_thread({6});
    EXPECT_EQ(take(WM_APP_DIGIT, 0).size(), 1u);

    // Clear racing the capture thread leaves nothing behind.
    std::atomic<bool> stop{false};
    std::thread t([&] {
        std::vector<float> tone = rx_frame(5), quiet = rx_frame(-1);
        while (!stop)
            for (const std::vector<float> *f : {&tone, &tone, &quiet}) {
                capture_frame_callback(f->data(), 2048, &R.panel);
                Sleep(1); // the device's pace, roughly; a flood would starve the pump
            }
    });
    bool foreign = false;
    for (int i = 0; i < 300; i++) {
        rx_clear();
        drv_pump(0);
        for (uint64_t k = 0; k < R.panel.received.count; k++)
            foreign |= R.panel.received.digits[k] != 5;
        if (i % 16 == 0) Sleep(1);
    }
    Sleep(50); // digits pile up unread
    stop = true;
    t.join();
    EXPECT_FALSE(foreign);
    rx_clear();
    drv_pump(0);
    EXPECT_EQ(R.panel.received.count, 0u);
    EXPECT_EQ(drv_text(R.digits_label), " ");
    EXPECT_EQ(drv_text(R.text_label), "");
}

// What tessary-cli.exe prints for a command line, run as its own process.
static std::string run_cli(const std::string &args) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    HANDLE rd, wr;
    if (!CreatePipe(&rd, &wr, &sa, 0)) return "(no pipe)";
    SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = wr;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi;
    std::string cmd = std::string("\"") + TESSARY_CLI_WIN + "\" " + args;
    if (!CreateProcessA(NULL, &cmd[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        CloseHandle(rd);
        CloseHandle(wr);
        return "(cannot start)";
    }
    CloseHandle(wr);
    std::string out;
    char buf[4096];
    DWORD n;
    while (ReadFile(rd, buf, sizeof buf, &n, NULL) && n > 0) out.append(buf, n);
    WaitForSingleObject(pi.hProcess, 60000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(rd);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// The window's file decoding and tessary-cli decode are one decoder: the
// same recordings give the same digits, lost tones and all.
TEST_F(RxPage, WindowAndCliDecodeARecordingAlike) {
    std::vector<int32_t> msg = text_digits("same digits either way");
    std::vector<uint32_t> sent(msg.begin(), msg.end());
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(0.0f, 0.25f);
    struct Case {
        const char *name;
        int32_t repeater;
        int32_t rate;
    };
    for (Case c : {Case{"clean", 0, 44100}, Case{"noisy", 0, 44100}, Case{"lost", 0, 44100},
                   Case{"8k", 0, 8000}, Case{"repeater", 1, 44100}}) {
        Buf b, at_rate;
        gen_digits_samples(&b, sent.data(), sent.size(), c.repeater, 0.12, 0.06);
        std::string name = c.name;
        if (name == "noisy")
            for (uint64_t i = 0; i < b.len; i++) b.data[i] += noise(rng);
        if (name == "lost") // the seventh tone goes missing
            memset(b.data + BLOCK_LEAD_IN_SAMPLES + 6 * (5292 + 2646), 0, 5292 * sizeof(float));
        resample_linear(&b, 44100, c.rate, &at_rate);
        std::string wav = temp_path("alike-" + name + ".wav");
        write_file(wav, wav_image(&at_rate, (uint32_t)c.rate, 1, 16));

        g_app.repeater_mode = c.repeater;
        ASSERT_EQ(kit_decode(rx_decode_path, wav), 0) << name;
        std::string window(RX_MAX_DIGITS + 1, '\0');
        window.resize(rx_digits_chars(&R.panel.received, &window[0], window.size()));
        std::string cli =
            run_cli("decode \"" + wav + "\" --as digits" + (c.repeater ? " --repeater" : ""));
        EXPECT_EQ(window, cli) << name;
        EXPECT_GE(window.size(), sent.size() - 1) << name;
        if (name == "lost") {
            EXPECT_NE(window.find('?'), std::string::npos);
        }
        DeleteFileA(wav.c_str());
    }
    g_app.repeater_mode = 0;
}

// A long recording decodes on its own thread: the page shows how far it has
// got, the decode button stops it with what was found so far, Clear drops
// it, and left alone it ends with the usual summary.
TEST_F(RxPage, ALongFileShowsProgressAndCanBeStopped) {
    std::vector<int32_t> msg = text_digits("hello");
    std::vector<uint32_t> sent(msg.begin(), msg.end());
    Buf b, at8k;
    gen_digits_samples(&b, sent.data(), sent.size(), 0, 0.18, 0.09);
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    const uint64_t tones = b.len;
    sb_append_silence(&b, 44100ull * 60 * 4); // four minutes of noise after it
    for (uint64_t i = tones; i < b.len; i++) b.data[i] = noise(rng);
    resample_linear(&b, 44100, 8000, &at8k);
    std::string wav = temp_path("long-noise.wav");
    write_file(wav, wav_image(&at8k, 8000, 1, 16));
    HWND decode_button = GetDlgItem(GetParent(R.listen_button), IDC_RX_DECODE_FILE);
    const std::string decoding = std::string("Decoding ") + filename_only(wav.c_str()) + "... ";
    auto progress = [&] {
        int pct = -1;
        std::string s = drv_text(R.status_label);
        return s.compare(0, decoding.size(), decoding) == 0 &&
               sscanf(s.c_str() + decoding.size(), "%d %%", &pct) == 1 && pct > 0 && pct < 100;
    };

    ASSERT_EQ(rx_decode_path(wav.c_str()), 0);
    EXPECT_EQ(drv_text(decode_button), "Stop decoding");
    ASSERT_TRUE(drv_until(progress, 20000, 2)) << drv_text(R.status_label);
    ASSERT_TRUE(rxpanel_decoding_file(&R.panel)) << "over before it could be stopped";
    rx_decode_file(); // the same button, now "Stop decoding"
    EXPECT_FALSE(rxpanel_decoding_file(&R.panel));
    EXPECT_EQ(drv_text(decode_button), "Decode an audio file...");
    int pct = -1, n = -1;
    ASSERT_EQ(
        sscanf(drv_text(R.status_label).c_str(), "Decoding stopped at %d %% -- %d digit", &pct, &n),
        2)
        << drv_text(R.status_label);
    EXPECT_EQ((uint64_t)n, R.panel.received.count);
    EXPECT_EQ(drv_text(R.text_label).substr(0, 5), std::string("hello").substr(0, n / 2));

    ASSERT_EQ(rx_decode_path(wav.c_str()), 0);
    rx_clear();
    EXPECT_FALSE(rxpanel_decoding_file(&R.panel));
    EXPECT_EQ(drv_text(R.status_label), "Microphone idle");
    EXPECT_EQ(drv_text(R.digits_label), " ");
    EXPECT_EQ(drv_text(decode_button), "Decode an audio file...");

    ASSERT_EQ(kit_decode(rx_decode_path, wav), 0);
    EXPECT_EQ(drv_text(R.text_label), "hello");
    EXPECT_EQ(drv_text(R.status_label), "Decoded 10 digits from file");
    DeleteFileA(wav.c_str());
}
