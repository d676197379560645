// Playback and capture through the real sound server: what is played comes
// back through capture frames and is detected; a replaced playback stops;
// capture survives many start/stop cycles and failed starts leave nothing.
#include <gtest/gtest.h>
#include "audio/audio.h"
#include <psapi.h>
#include <stdint.h>
#include <functional>
#include <vector>
#include "core/dtmf_core.h"

namespace {

// What the capture thread saw: frames and detected digits (each once).
struct Heard {
    CRITICAL_SECTION cs;
    DigitStream ds;
    std::vector<int32_t> digits;
    volatile LONG frames = 0;
    Heard() {
        InitializeCriticalSection(&cs);
        digit_stream_reset(&ds);
    }
    ~Heard() { DeleteCriticalSection(&cs); }
    std::vector<int32_t> get() {
        EnterCriticalSection(&cs);
        std::vector<int32_t> v = digits;
        LeaveCriticalSection(&cs);
        return v;
    }
};

void on_frame(const float *frame, uint64_t count, void *user) {
    Heard *h = (Heard *)user;
    InterlockedIncrement(&h->frames);
    int32_t d = detect_digit_in_frame(frame, count, AUDIO_RATE, 0.3f, NULL, NULL);
    int32_t got = digit_stream_feed(&h->ds, d);
    if (got >= 0) {
        EnterCriticalSection(&h->cs);
        h->digits.push_back(got);
        LeaveCriticalSection(&h->cs);
    }
}

void wait_ms(DWORD ms) { Sleep(ms); }

bool wait_for(const std::function<bool()> &pred, DWORD timeout_ms) {
    ULONGLONG end = GetTickCount64() + timeout_ms;
    while (!pred()) {
        if (GetTickCount64() >= end) return false;
        Sleep(10);
    }
    return true;
}

// Behind a second of silence, as every transmission goes out: the loopback
// needs a moment after playback starts before frames flow.
SampleBuf digit_block(const std::vector<uint32_t> &digits) {
    SampleBuf b;
    sb_init(&b);
    sb_append_silence(&b, AUDIO_RATE);
    gen_digits_samples(&b, digits.data(), digits.size(), 0, 0.18, 0.09);
    return b;
}

SIZE_T private_bytes() {
    PROCESS_MEMORY_COUNTERS_EX pm = {};
    pm.cb = sizeof pm;
    GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS *)&pm, sizeof pm);
    return pm.PrivateUsage;
}

DWORD handles() {
    DWORD n = 0;
    GetProcessHandleCount(GetCurrentProcess(), &n);
    return n;
}

TEST(SoundLoopback, PlayedDigitsComeBackThroughCapture) {
    Heard heard;
    char err[256] = "";
    ASSERT_EQ(audio_capture_start(on_frame, &heard, err, sizeof err), 1) << err;
    EXPECT_EQ(audio_capture_is_running(), 1);
    const std::vector<uint32_t> sent = {1, 2, 3, 4, 5, 6, 0, 3};
    SampleBuf b = digit_block(sent);
    audio_play(b.data, b.len);
    sb_free(&b);
    wait_for([&] { return heard.get().size() >= sent.size(); }, 8000);
    wait_ms(300);
    audio_capture_stop();
    EXPECT_EQ(audio_capture_is_running(), 0);
    EXPECT_GT(heard.frames, 20);
    std::vector<int32_t> got = heard.get();
    EXPECT_EQ(got, std::vector<int32_t>(sent.begin(), sent.end()));
    EXPECT_TRUE(wait_for([] { return audio_play_threads_alive() == 0; }, 3000));
}

TEST(SoundLoopback, ANewPlaybackCutsTheOldOneShort) {
    Heard heard;
    char err[256] = "";
    ASSERT_EQ(audio_capture_start(on_frame, &heard, err, sizeof err), 1) << err;
    // Ten seconds of "1" (one long tone), replaced after a moment by "5 2".
    SampleBuf longer;
    sb_init(&longer);
    uint32_t one = 1;
    gen_digit_samples(&longer, one, 10.0, 0.1);
    audio_play(longer.data, longer.len);
    sb_free(&longer);
    ASSERT_TRUE(wait_for([&] { return !heard.get().empty(); }, 5000));
    SampleBuf next = digit_block({5, 2});
    audio_play(next.data, next.len);
    sb_free(&next);
    // The cut thread ends at once; the new one after its 0.54 s.
    EXPECT_TRUE(wait_for([] { return audio_play_threads_alive() <= 1; }, 1000));
    EXPECT_TRUE(wait_for([] { return audio_play_threads_alive() == 0; }, 4000));
    wait_ms(300);
    audio_capture_stop();
    EXPECT_EQ(heard.get(), (std::vector<int32_t>{1, 5, 2}));

    // Stopped before its thread has even opened the device: it never sounds.
    SampleBuf again;
    sb_init(&again);
    gen_digit_samples(&again, 6, 5.0, 0.1);
    audio_play(again.data, again.len);
    sb_free(&again);
    audio_stop();
    EXPECT_TRUE(wait_for([] { return audio_play_threads_alive() == 0; }, 1500));
    EXPECT_EQ(audio_current_output(), (HWAVEOUT)NULL);

    // A stop with nothing playing, and a play of nothing, are harmless.
    audio_stop();
    audio_play(NULL, 10);
    audio_play(NULL, 0);
    EXPECT_EQ(audio_play_threads_alive(), 0);
}

TEST(SoundLoopback, TwoHundredCaptureCyclesLeaveNothingBehind) {
    Heard a, b;
    char err[256] = "";
    // Warm up the driver once so its own one-off allocations are not counted.
    ASSERT_EQ(audio_capture_start(on_frame, &a, err, sizeof err), 1) << err;
    audio_capture_stop();
    DWORD h0 = handles();
    SIZE_T m0 = private_bytes();
    for (int i = 0; i < 200; i++) {
        ASSERT_EQ(audio_capture_start(on_frame, (i & 1) ? &a : &b, err, sizeof err), 1) << i << err;
        if (i % 50 == 0) wait_ms(60); // some cycles with frames in flight
        audio_capture_stop();
        ASSERT_EQ(audio_capture_is_running(), 0);
    }
    audio_capture_stop(); // closing twice does nothing
    EXPECT_LE(handles(), h0 + 4);
    EXPECT_LT(private_bytes(), m0 + 1024 * 1024);

    // Starting while running replaces the receiver.
    LONG before_a = a.frames;
    ASSERT_EQ(audio_capture_start(on_frame, &a, err, sizeof err), 1);
    ASSERT_EQ(audio_capture_start(on_frame, &b, err, sizeof err), 1);
    LONG b_start = b.frames, a_mid = a.frames;
    SampleBuf tone = digit_block({4});
    audio_play(tone.data, tone.len);
    sb_free(&tone);
    EXPECT_TRUE(wait_for([&] { return b.frames > b_start + 3; }, 3000));
    audio_capture_stop();
    EXPECT_EQ(a.frames, a_mid);
    EXPECT_GE(a_mid, before_a);
}

TEST(SoundLoopback, ABufferThatNeverCompletesDoesNotHoldItsThreadForEver) {
    std::vector<float> s(AUDIO_RATE / 5, 0.25f);
    audio_play(s.data(), s.size());
    ASSERT_TRUE(wait_for([] { return audio_current_output() != NULL; }, 3000));
    waveOutPause(audio_current_output()); // the buffer will never be done now
    // 0.2 s of sound, so the thread gives up a few seconds later and cleans up.
    EXPECT_TRUE(wait_for([] { return audio_play_threads_alive() == 0; }, 8000));
    EXPECT_EQ(audio_current_output(), (HWAVEOUT)NULL);
}

volatile LONG g_in_slow_frame;
void slow_frame(const float *, uint64_t, void *) {
    InterlockedExchange(&g_in_slow_frame, 1);
    Sleep(1500); // longer than any fixed wait a stop might give up after
    InterlockedExchange(&g_in_slow_frame, 0);
}

TEST(SoundLoopback, StopWaitsForACallbackStillRunning) {
    char err[256] = "";
    ASSERT_EQ(audio_capture_start(slow_frame, NULL, err, sizeof err), 1) << err;
    SampleBuf tone = digit_block({2});
    audio_play(tone.data, tone.len);
    sb_free(&tone);
    ASSERT_TRUE(wait_for([] { return g_in_slow_frame == 1; }, 5000));
    audio_capture_stop();
    EXPECT_EQ(g_in_slow_frame, 0);
    EXPECT_EQ(audio_capture_is_running(), 0);
    audio_stop();
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
        strcpy(err, "");
        EXPECT_EQ(audio_capture_start(on_frame, &heard, err, sizeof err), 0);
        EXPECT_STREQ(err, "Could not allocate capture buffers.");
        EXPECT_EQ(audio_capture_is_running(), 0);
        audio_set_capture_alloc(NULL);
        if (i == 3) h0 = handles();
    }
    EXPECT_LE(handles(), h0 + 2);
    // The device was closed: a normal start works straight after.
    ASSERT_EQ(audio_capture_start(on_frame, &heard, err, sizeof err), 1) << err;
    audio_capture_stop();
}

TEST(SoundLoopback, SamplesAreClippedAtTheSixteenBitEdge) {
    EXPECT_EQ(audio_sample_to_i16(1.5f), 32767);
    EXPECT_EQ(audio_sample_to_i16(1.0f), 32767);
    EXPECT_EQ(audio_sample_to_i16(-1.0f), -32767);
    EXPECT_EQ(audio_sample_to_i16(-1.5f), -32767);
    EXPECT_EQ(audio_sample_to_i16(0.5f), 16383);
    EXPECT_EQ(audio_sample_to_i16(-0.5f), -16383);
}

} // namespace
