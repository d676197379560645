// Decoding block by block must find exactly what decoding the whole
// recording finds: the resampler and the frame grid carry across blocks.
#include <math.h>
#include <random>
#include "tests/core/core_test_util.h"
#include "core/core_internal.h"

namespace {

struct Seen {
    std::vector<uint64_t> frames; // start, detection and digit packed together
    std::vector<int32_t> digits;
};

int32_t on_frame(void *ctx, uint64_t start, int32_t det, int32_t digit, float, float) {
    ((Seen *)ctx)->frames.push_back(start * 64 + (uint64_t)(det + 1) * 8 + (uint64_t)(digit + 1));
    return 0;
}
void on_digit(void *ctx, int32_t d) { ((Seen *)ctx)->digits.push_back(d); }

// Feeds x in blocks of random size (at most `most`), or whole when most is 0.
Seen decode_in_blocks(const SampleBuf &x, int32_t rate, uint64_t most, unsigned seed) {
    DecodeSettings set = {0.3f, 0, DECODE_DEFAULT_HOP, 1};
    DecodeStream d;
    Seen seen;
    decode_stream_init(&d, &set, rate, on_frame, on_digit, &seen);
    std::mt19937 rng(seed);
    for (uint64_t at = 0; at < x.len;) {
        uint64_t n = most ? 1 + rng() % most : x.len;
        if (n > x.len - at) n = x.len - at;
        decode_stream_feed(&d, x.data + at, n);
        at += n;
    }
    decode_stream_finish(&d);
    decode_stream_free(&d);
    return seen;
}

} // namespace

TEST(Stream, ClipResamplingKeepsBothEnds) {
    Buf abc, up, single, down, none;
    const float in[3] = {1.0f, -0.5f, 0.25f};
    sb_append(&abc, in, 3);
    resample_linear(&abc, 22050, 44100, &up);
    const double at[6] = {0, 0.4, 0.8, 1.2, 1.6, 2.0};
    ASSERT_EQ(up.len, 6u);
    for (int i = 0; i < 6; i++) {
        int k = (int)at[i];
        double t = at[i] - k, want = in[k] * (1 - t) + (k < 2 ? in[k + 1] : in[k]) * t;
        EXPECT_FLOAT_EQ(up.data[i], (float)want) << i;
    }
    sb_append(&single, in, 1);
    resample_linear(&single, 8000, 44100, &down);
    EXPECT_EQ(down.len, 6u); // 5.5 rounds up; every one the sample itself
    for (uint64_t i = 0; i < down.len; i++) EXPECT_EQ(down.data[i], 1.0f);
    Buf thousand, fewer;
    for (int i = 0; i < 1000; i++) sb_append(&thousand, in + i % 3, 1);
    resample_linear(&thousand, 48000, 44100, &fewer);
    EXPECT_EQ(fewer.len, 919u);
    EXPECT_EQ(fewer.data[918], thousand.data[999]);
    resample_linear(&none, 22050, 44100, &down);
    EXPECT_EQ(down.len, 6u);
}

TEST(Stream, ResamplerGivesTheSameSamplesForAnySplit) {
    Buf x;
    std::mt19937 rng(7);
    for (int i = 0; i < 5000; i++) {
        float v = (float)(rng() % 2001) / 1000.0f - 1.0f;
        sb_append(&x, &v, 1);
    }
    const int32_t rates[][2] = {{8000, 44100}, {48000, 44100}, {96000, 44100}, {22050, 44100}};
    for (auto &r : rates) {
        Buf whole;
        Resampler one;
        resampler_init(&one, r[0], r[1]);
        resampler_feed(&one, x.data, x.len, &whole);
        resampler_finish(&one, &whole);
        // Steps on to the input's end; upsampled, the last ones hold its last sample.
        EXPECT_NEAR((double)whole.len, 5000.0 * r[1] / r[0], 1.0) << r[0];
        if (r[0] < r[1]) {
            EXPECT_EQ(whole.data[whole.len - 1], x.data[x.len - 1]);
        }
        for (uint64_t most : {1ull, 3ull, 1000ull}) {
            Resampler rs;
            resampler_init(&rs, r[0], r[1]);
            Buf parts;
            for (uint64_t at = 0; at < x.len;) {
                uint64_t n = std::min<uint64_t>(1 + rng() % most, x.len - at);
                resampler_feed(&rs, x.data + at, n, &parts);
                at += n;
            }
            resampler_finish(&rs, &parts);
            ASSERT_EQ(parts.len, whole.len) << r[0] << " in blocks of up to " << most;
            EXPECT_EQ(0, memcmp(parts.data, whole.data, whole.len * sizeof(float)))
                << r[0] << " in blocks of up to " << most;
        }
    }
}

TEST(Stream, BlocksFindTheFramesAndDigitsOfTheWholeRecording) {
    // A message at 22050 Hz, resampled on the way in, with a tone lost in it.
    Buf at44, at22;
    std::vector<int32_t> sent = text_digits("HELLO THERE");
    std::vector<uint32_t> tx(sent.begin(), sent.end());
    gen_digits_samples(&at44, tx.data(), tx.size(), 0, 0.18, 0.09);
    uint64_t tone = digit_block_samples(1, 0.18, 0.09) - BLOCK_PAUSE_SAMPLES;
    uint64_t third = BLOCK_LEAD_IN_SAMPLES + 4 * tone;
    memset(at44.data + third, 0, (size_t)(0.18 * 44100) * sizeof(float));
    resample_linear(&at44, 44100, 22050, &at22);

    Seen whole = decode_in_blocks(at22, 22050, 0, 0);
    ASSERT_EQ(whole.digits.size(), sent.size());
    EXPECT_EQ(whole.digits[4], RX_DIGIT_LOST);
    for (uint64_t most : {700ull, 2048ull, 30000ull}) {
        Seen parts = decode_in_blocks(at22, 22050, most, (unsigned)most);
        EXPECT_EQ(parts.frames, whole.frames) << "blocks of up to " << most;
        EXPECT_EQ(parts.digits, whole.digits) << "blocks of up to " << most;
    }
}

// Dialers send tones shorter than a frame with short pauses: each is read
// once, a digit sent twice after a pause of 50 ms twice, whatever the blocks.
// Our own tones fade in and out over 12 ms; a dialer's within a few. At
// 40 ms a pair whose tones lie off their bins opposite ways (3: 697 and
// 1477 Hz) is now and then taken for two tones off each their own way.
TEST(Stream, FastSendersAreReadWithoutChoosingAHop) {
    struct Pace {
        double tone, gap;
        bool repeats; // after 8 ms a repeated tone runs on into the next
        uint64_t fade; // samples, 0: our own synthesis
    };
    std::mt19937 rng(11);
    for (Pace p : {Pace{0.040, 0.008, false, 132}, Pace{0.045, 0.008, false, 0},
                   Pace{0.052, 0.008, false, 0}, Pace{0.050, 0.050, true, 0},
                   Pace{0.070, 0.050, true, 132}}) {
        std::vector<uint32_t> tx;
        while (tx.size() < 120) {
            uint32_t d = rng() % 7;
            if (!p.repeats && !tx.empty() && d == tx.back()) continue;
            tx.push_back(d);
        }
        Buf x;
        if (!p.fade) gen_digits_samples(&x, tx.data(), tx.size(), 0, p.tone, p.gap);
        for (uint32_t i = 0; p.fade && i < tx.size(); i++) {
            std::vector<float> t((size_t)(p.tone * 44100), 0.0f);
            for (size_t k = 0; k < t.size(); k++)
                t[k] = (float)(0.4 * sin(CORE_TWO_PI * DIGIT_ROW[tx[i]] * k / 44100 + i) +
                               0.4 * sin(CORE_TWO_PI * DIGIT_COL[tx[i]] * k / 44100 + 2 * i));
            envelope_apply(t.data(), t.size(), p.fade);
            sb_append(&x, t.data(), t.size());
            sb_append_silence(&x, (uint64_t)(p.gap * 44100));
        }
        sb_append_silence(&x, 8820);
        Seen whole = decode_in_blocks(x, 44100, 0, 0);
        std::vector<int32_t> lost = whole.digits; // at most one digit missing
        for (size_t i = 0; i < tx.size() && lost.size() < tx.size(); i++)
            if (i >= lost.size() || lost[i] != (int32_t)tx[i])
                lost.insert(lost.begin() + (ptrdiff_t)i, (int32_t)tx[i]);
        EXPECT_EQ(lost, std::vector<int32_t>(tx.begin(), tx.end()))
            << p.tone * 1000 << " ms / " << p.gap * 1000 << " ms";
        EXPECT_GE(whole.digits.size() + (p.tone > 0.04 ? 0 : 1), tx.size()) << p.tone * 1000;
        Seen parts = decode_in_blocks(x, 44100, 1500, 3);
        EXPECT_EQ(parts.frames, whole.frames) << p.tone * 1000 << " ms in blocks";
        EXPECT_EQ(parts.digits, whole.digits) << p.tone * 1000 << " ms in blocks";
    }
}
