// Playback and capture through the real sound server.
#include <gtest/gtest.h>
#include "tests/win/kit.h"
#include "audio/audio.h"
#include <psapi.h>

namespace {

// What the capture thread heard: frames, and digits as a receiver reports them.
struct Heard {
    DigitStream ds;
    int32_t digits[64];
    std::atomic<LONG> count{0}, frames{0};
    Heard() { digit_stream_reset(&ds); }
    std::vector<int32_t> get() { return std::vector<int32_t>(digits, digits + count); }
};

void on_frame(const float *frame, uint64_t count, void *user) {
    Heard *h = (Heard *)user;
    h->frames++;
    int32_t got = digit_stream_feed(
        &h->ds, detect_digit_in_frame(frame, count, AUDIO_RATE, 0.3f, NULL, NULL));
    if (got >= 0 && h->count < 64) {
        h->digits[h->count] = got;
        h->count++; // published after the digit is written
    }
}

// Behind a second of silence, as every transmission goes out: the loopback
// needs a moment after playback starts before frames flow.
void play_digits(const std::vector<uint32_t> &digits, double tone_s = 0.18) {
    Buf b;
    sb_append_silence(&b, AUDIO_RATE);
    gen_digits_samples(&b, digits.data(), digits.size(), 0, tone_s, 0.09);
    audio_play(b.data, b.len);
}

// (A whole message round the loop: the end-to-end tests.)
TEST(SoundLoopback, PlayedDigitsComeBackAndANewPlaybackCutsTheOldOneShort) {
    Heard cut;
    char err[256] = "";
    ASSERT_EQ(audio_capture_start(on_frame, &cut, err, sizeof err), 1) << err;
    play_digits({1}, 10.0);
    ASSERT_TRUE(drv_until([&] { return !cut.get().empty(); }, 5000));
    play_digits({5, 2});
    EXPECT_TRUE(drv_until([] { return audio_play_threads_alive() <= 1; }, 1000));
    EXPECT_TRUE(drv_until([] { return audio_play_threads_alive() == 0; }, 4000));
    Sleep(300);
    audio_capture_stop();
    EXPECT_EQ(audio_capture_is_running(), 0);
    EXPECT_EQ(cut.get(), (std::vector<int32_t>{1, 5, 2}));

    // Stopped before its thread has even opened the device: it never sounds.
    play_digits({6}, 5.0);
    audio_stop();
    EXPECT_TRUE(drv_until([] { return audio_play_threads_alive() == 0; }, 1500));
    EXPECT_EQ(audio_current_output(), (HWAVEOUT)NULL);
}

TEST(SoundLoopback, ABufferThatNeverCompletesDoesNotHoldItsThreadForEver) {
    std::vector<float> s(AUDIO_RATE / 5, 0.25f);
    audio_play(s.data(), s.size());
    ASSERT_TRUE(drv_until([] { return audio_current_output() != NULL; }, 3000));
    waveOutPause(audio_current_output()); // the buffer will never be done now
    EXPECT_TRUE(drv_until([] { return audio_play_threads_alive() == 0; }, 8000));
    EXPECT_EQ(audio_current_output(), (HWAVEOUT)NULL);
}

DWORD handles() {
    DWORD n = 0;
    GetProcessHandleCount(GetCurrentProcess(), &n);
    return n;
}

TEST(SoundLoopback, TwoHundredCaptureCyclesLeaveNothingBehind) {
    Heard a, b;
    char err[256] = "";
    ASSERT_EQ(audio_capture_start(on_frame, &a, err, sizeof err), 1)
        << err; // driver's one-off setup
    audio_capture_stop();
    PROCESS_MEMORY_COUNTERS_EX pm = {};
    auto private_bytes = [&pm] {
        GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS *)&pm, sizeof pm);
        return pm.PrivateUsage;
    };
    DWORD h0 = handles();
    SIZE_T m0 = private_bytes();
    for (int i = 0; i < 200; i++) {
        ASSERT_EQ(audio_capture_start(on_frame, (i & 1) ? &a : &b, err, sizeof err), 1) << i << err;
        if (i % 50 == 0) Sleep(60); // some cycles with frames in flight
        audio_capture_stop();
    }
    audio_capture_stop();
    EXPECT_LE(handles(), h0 + 4);
    EXPECT_LT(private_bytes(), m0 + 1024 * 1024);

    // Starting while running hands the frames to the new receiver only.
    ASSERT_EQ(audio_capture_start(on_frame, &a, err, sizeof err), 1);
    ASSERT_EQ(audio_capture_start(on_frame, &b, err, sizeof err), 1);
    LONG b0 = b.frames, a0 = a.frames;
    play_digits({4});
    EXPECT_TRUE(drv_until([&] { return b.frames > b0 + 3; }, 4000));
    audio_capture_stop();
    EXPECT_EQ(a.frames, a0);
    // A play thread still sounding when the process ends takes winmm down with it.
    audio_stop();
    EXPECT_TRUE(drv_until([] { return audio_play_threads_alive() == 0; }, 3000));
}

std::atomic<LONG> g_in_slow_frame;
void slow_frame(const float *, uint64_t, void *) {
    g_in_slow_frame = 1;
    Sleep(1500); // longer than any fixed wait a stop might give up after
    g_in_slow_frame = 0;
}

TEST(SoundLoopback, StopWaitsForACallbackStillRunning) {
    char err[256] = "";
    ASSERT_EQ(audio_capture_start(slow_frame, NULL, err, sizeof err), 1) << err;
    play_digits({2});
    ASSERT_TRUE(drv_until([] { return g_in_slow_frame == 1; }, 5000));
    audio_capture_stop();
    EXPECT_EQ(g_in_slow_frame, 0);
    audio_stop();
    EXPECT_TRUE(drv_until([] { return audio_play_threads_alive() == 0; }, 3000));
}

// A capture thread that is sometimes held up (a busy machine): the device
// completes two or three buffers before it looks again, often across the
// wrap of the buffer ring. Each frame is reduced to the mean pitch of what
// it holds, from interpolated upward zero crossings, so the loopback's
// occasional short dropouts only thin a frame out.
struct Pitches {
    double hz[400];
    std::atomic<LONG> count{0};
    std::atomic<DWORD> thread{0};
};
double frame_pitch(const float *x, uint64_t n) {
    double first = -1, last = -1;
    int32_t periods = 0;
    for (uint64_t k = 1; k < n; k++) {
        if (!(x[k - 1] < -1e-3f && x[k] >= 0.0f)) continue;
        double t = (double)(k - 1) + x[k - 1] / (x[k - 1] - x[k]);
        if (last >= 0 && t - last < 0.002 * AUDIO_RATE)
            periods++;
        else if (last >= 0)
            first = -2; // a dropout: restart the span
        if (first < 0) first = t, periods = 0;
        last = t;
    }
    return periods > 20 ? periods * (double)AUDIO_RATE / (last - first) : 0.0;
}
void heard_frame(const float *frame, uint64_t count, void *user) {
    Pitches *p = (Pitches *)user;
    p->thread = GetCurrentThreadId();
    if (p->count < 400) p->hz[p->count] = frame_pitch(frame, count);
    p->count++;
}

TEST(SoundLoopback, FramesOfAHeldUpCaptureThreadStillArriveInTheOrderTheyWereHeard) {
    // A sweep from 600 Hz rising 2400 Hz a second: about 110 Hz a frame.
    std::vector<float> s(AUDIO_RATE / 2, 0.0f);
    double phase = 0;
    for (int32_t i = 0; i < 4 * AUDIO_RATE; i++) {
        phase += 6.283185307179586 * (600.0 + 2400.0 * i / AUDIO_RATE) / AUDIO_RATE;
        s.push_back((float)(0.5 * sin(phase)));
    }
    s.resize(s.size() + AUDIO_RATE / 2, 0.0f);
    Pitches p;
    char err[256] = "";
    ASSERT_EQ(audio_capture_start(heard_frame, &p, err, sizeof err), 1) << err;
    ASSERT_TRUE(drv_until([&] { return p.thread != 0; }, 3000));
    HANDLE t = OpenThread(THREAD_SUSPEND_RESUME, FALSE, p.thread);
    ASSERT_TRUE(t != NULL);
    audio_play(s.data(), s.size());
    for (int32_t i = 0; i < 24; i++) {
        Sleep(40 + 17 * (i % 5));
        SuspendThread(t);
        Sleep(150);
        ResumeThread(t);
    }
    CloseHandle(t);
    drv_until([] { return audio_play_threads_alive() == 0; }, 9000);
    audio_capture_stop();
    int32_t n = p.count < 400 ? (int32_t)p.count : 400, compared = 0;
    for (int32_t i = 1; i < n; i++) {
        if (p.hz[i - 1] == 0.0 || p.hz[i] == 0.0) continue;
        // Wine's capture itself now and then repeats a few ms when held
        // up, which can pull a frame back by well under one frame's rise.
        EXPECT_GT(p.hz[i], p.hz[i - 1] - 100.0) << "frame " << i;
        compared++;
    }
    EXPECT_GT(compared, 60);
}

int g_allocs_left;
void *failing_alloc(size_t n) { return g_allocs_left-- > 0 ? malloc(n) : NULL; }

TEST(SoundLoopback, ACaptureBufferThatCannotBeHadFailsTheStartCleanly) {
    Heard heard;
    char err[256];
    DWORD h0 = 0;
    for (int i = 0; i < 30; i++) {
        g_allocs_left = i % 4; // the first, second, third or fourth buffer fails
        audio_set_capture_alloc(failing_alloc);
        EXPECT_EQ(audio_capture_start(on_frame, &heard, err, sizeof err), 0);
        EXPECT_STREQ(err, "Could not allocate capture buffers.");
        EXPECT_EQ(audio_capture_is_running(), 0);
        audio_set_capture_alloc(NULL);
        if (i == 3) h0 = handles();
    }
    EXPECT_LE(handles(), h0 + 2);
    ASSERT_EQ(audio_capture_start(on_frame, &heard, err, sizeof err), 1)
        << err; // device was closed
    audio_capture_stop();
}

} // namespace
