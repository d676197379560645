// The detector: the shared-halves walk against frame-by-frame detection, and
// the gates. The digits themselves are held to account by the CLI round trips
// (the walk also looks again near a lone frame and hears pauses between
// halves, which frame-by-frame feeding does not).
#include "core_test_util.h"
#include "core/core_internal.h"
#include <math.h>
#include <tuple>

static std::vector<float> tones(std::vector<double> freqs, double amp) {
    std::vector<float> x(2048, 0.0f);
    for (uint64_t i = 0; i < x.size(); i++)
        for (double f : freqs) x[i] += (float)(amp * sin(CORE_TWO_PI * f * i / 44100 + f));
    return x;
}

TEST(Detect, SharedHalvesGiveFrameByFrameResults) {
    std::vector<int32_t> t = text_digits("the quick brown fox");
    std::vector<uint32_t> d(t.begin(), t.end());
    struct Walk {
        int32_t rate;
        int rep;
        uint64_t hop;
    };
    for (Walk w : {Walk{44100, 0, 1024}, Walk{22050, 1, 700}}) {
        Buf b;
        gen_digits_samples(&b, d.data(), d.size(), w.rep, 0.06, 0.03);
        for (uint64_t i = 0; i < b.len; i++) b.data[i] += (float)((i * 7919 % 1000) / 50000.0);
        std::vector<std::tuple<uint64_t, int32_t, float, float>> fast,
            slow; // start, detection, meters
        DigitStream ds;
        digit_stream_reset(&ds);
        uint64_t frames = detect_frames(
            b.data, b.len, w.rate, 2048, w.hop, 0.3f, w.rep, &ds,
            [](void *ctx, uint64_t at, int32_t det, int32_t, float rl, float cl) {
                static_cast<decltype(fast) *>(ctx)->emplace_back(at, det, rl, cl);
                return 0;
            },
            &fast);
        digit_stream_reset(&ds);
        for (uint64_t at = 0; at + 2048 <= b.len; at += w.hop) {
            float rl, cl;
            PairTune tune;
            int32_t det =
                w.rep ? detect_digit_in_frame_repeater(b.data + at, 2048, w.rate, 0.3f, &rl, &cl,
                                                       &tune)
                      : detect_digit_in_frame(b.data + at, 2048, w.rate, 0.3f, &rl, &cl, &tune);
            slow.emplace_back(at, det, rl, cl);
        }
        EXPECT_EQ(frames, slow.size());
        EXPECT_TRUE(fast == slow) << "rate " << w.rate << " repeater " << w.rep << " hop " << w.hop;
    }
}

TEST(Detect, Gates) {
    std::vector<float> zeros(2048, 0.0f), faint = tones({697, 1209}, 0.002);
    float rl = 9, cl = 9;
    EXPECT_EQ(detect_digit_in_frame(zeros.data(), 2048, 44100, 0.3f, &rl, &cl), -1);
    EXPECT_EQ(rl + cl, 0.0f);
    EXPECT_EQ(detect_digit_in_frame(faint.data(), 2048, 44100, 0.3f, &rl, &cl), -1); // RMS 0.002
    EXPECT_GT(rl, 0.7f);
    std::vector<float> quiet =
        tones({(double)DIGIT_ROW[5], (double)DIGIT_COL[5]}, 0.008); // just above the gate
    EXPECT_EQ(detect_digit_in_frame(quiet.data(), 2048, 44100, 0.3f, nullptr, nullptr), 5);
    repeater_modulate(quiet.data(), 2048, 44100); // the disguise costs 3 dB of RMS
    EXPECT_EQ(detect_digit_in_frame_repeater(quiet.data(), 2048, 44100, 0.3f, nullptr, nullptr), 5);

    std::vector<float> x = tones({(double)DIGIT_ROW[5], (double)DIGIT_COL[5]}, 0.44);
    EXPECT_EQ(detect_digit_in_frame(x.data(), 2048, 44100, 0.70f, &rl, &cl), 5);
    EXPECT_EQ(detect_digit_in_frame_repeater(x.data(), 2048, 44100, 0.3f, &rl, &cl),
              -1); // plain tones are no disguise
    EXPECT_LT(fmaxf(rl, cl), 0.1f);

    std::vector<float> no_digit = tones({941, 1209}, 0.44), row_only = tones({697}, 0.44);
    EXPECT_EQ(detect_digit_in_frame(no_digit.data(), 2048, 44100, 0.1f, &rl, &cl), -1);
    EXPECT_EQ(detect_digit_in_frame(row_only.data(), 2048, 44100, 0.1f, &rl, &cl), -1);
    EXPECT_TRUE(rl > 1.0f && cl < 0.1f);
}

// A transmitter off tune by up to 1.5 % or 20 Hz still gives its digit, in
// either mode.
TEST(Detect, OffTuneTones) {
    for (double shift : {-0.015, -0.01, 0.01, 0.015})
        for (uint32_t d = 0; d < 7; d++) {
            std::vector<float> x =
                tones({DIGIT_ROW[d] * (1 + shift), DIGIT_COL[d] * (1 + shift)}, 0.44);
            EXPECT_EQ(detect_digit_in_frame(x.data(), 2048, 44100, 0.3f, nullptr, nullptr),
                      (int32_t)d)
                << "digit " << d << " shift " << shift;
            repeater_modulate(x.data(), 2048, 44100);
            EXPECT_EQ(detect_digit_in_frame_repeater(x.data(), 2048, 44100, 0.3f, nullptr, nullptr),
                      (int32_t)d)
                << "repeater digit " << d << " shift " << shift;
        }
    for (double hz : {-20.0, 20.0})
        for (uint32_t d = 0; d < 7; d++) {
            std::vector<float> x = tones({DIGIT_ROW[d] + hz, DIGIT_COL[d] + hz}, 0.44);
            EXPECT_EQ(detect_digit_in_frame(x.data(), 2048, 44100, 0.15f, nullptr, nullptr),
                      (int32_t)d)
                << "digit " << d << " " << hz << " Hz";
        }
}

// A voice or a chord puts partials a pitch apart around whatever it lights
// up; a tone pair stands alone, even deep in white noise. (In repeater mode
// partials midway between bins still slip through at higher pitches.)
TEST(Detect, CrowdedSpectrumIsNoDigit) {
    for (double pitch : {90.0, 120.0, 160.0, 190.0})
        for (uint32_t d = 0; d < 7; d++) {
            double r = DIGIT_ROW[d], c = DIGIT_COL[d];
            std::vector<float> x = tones({r - pitch, r, r + pitch, c - pitch, c, c + pitch}, 0.2);
            EXPECT_EQ(detect_digit_in_frame(x.data(), 2048, 44100, 0.15f, nullptr, nullptr), -1)
                << "digit " << d << " pitch " << pitch;
            if (pitch > 120.0) continue;
            repeater_modulate(x.data(), 2048, 44100);
            EXPECT_EQ(
                detect_digit_in_frame_repeater(x.data(), 2048, 44100, 0.15f, nullptr, nullptr), -1)
                << "repeater digit " << d << " pitch " << pitch;
        }
    uint64_t seed = 12345;
    auto gauss = [&seed]() { // sum of 12 uniforms: close enough to normal
        double s = -6.0;
        for (int i = 0; i < 12; i++) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            s += (double)(seed >> 11) / 9007199254740992.0;
        }
        return s;
    };
    for (uint32_t d = 0; d < 7; d++) {
        int found = 0;
        for (int trial = 0; trial < 20; trial++) {
            std::vector<float> x = tones({(double)DIGIT_ROW[d], (double)DIGIT_COL[d]}, 0.3);
            for (float &v : x) v += (float)(0.85 * gauss()); // 9 dB above the pair's power
            found +=
                detect_digit_in_frame(x.data(), 2048, 44100, 0.15f, nullptr, nullptr) == (int32_t)d;
        }
        EXPECT_GE(found, 18) << "digit " << d << " in noise";
    }
}

// Two partials near a row and a column but each off its own way (a voice's
// harmonics, a chord) are no sender's pair; moved alike, within 2 % or 22 Hz,
// they are (OffTuneTones), and not beyond.
TEST(Detect, TonesOffEachTheirOwnWayAreNoDigit) {
    struct Off {
        double r, c; // Hz
    };
    for (Off o : {Off{12, -3}, Off{-14, 2}, Off{9, -9}, Off{-30, -30}, Off{30, 30}})
        for (uint32_t d = 0; d < 7; d++) {
            std::vector<float> x = tones({DIGIT_ROW[d] + o.r, DIGIT_COL[d] + o.c}, 0.44);
            EXPECT_EQ(detect_digit_in_frame(x.data(), 2048, 44100, 0.3f, nullptr, nullptr), -1)
                << "digit " << d << " off " << o.r << " / " << o.c << " Hz";
        }
}

// Two sweeps crossing a row and a column at the same moment, both off alike,
// look like a mistuned sender for a frame or two; but a sender holds its
// tones still from one frame to the next. Held still, the same pair is a digit.
// Disguised, the pair holds most of the frame's power just as plainly: its
// tuning is as sure, and the sweeps fare no better (a few still pass where a
// row and a column sideband happen to move alike).
TEST(Detect, SweepsCrossingARowAndAColumnAreNoDigit) {
    auto digits = [](std::vector<float> &x, int rep) {
        int n = 0;
        detect_frames(
            x.data(), x.size(), 44100, 2048, 1024, 0.3f, rep, nullptr,
            [](void *ctx, uint64_t, int32_t, int32_t digit, float, float) {
                *(int *)ctx += digit >= 0;
                return 0;
            },
            &n);
        return n;
    };
    int disguised_sweeps = 0;
    for (uint32_t d = 0; d < 7; d++)
        for (double off : {-12.0, -6.0, 0.0, 5.0, 10.0})
            for (double move : {0.0, 1.0}) { // Hz/s: 90 up and 160 down, crossing at 0.5 s
                std::vector<float> x(44100);
                for (uint64_t i = 0; i < x.size(); i++) {
                    double t = (double)i / 44100 - 0.5;
                    x[i] =
                        (float)(0.4 * sin(CORE_TWO_PI *
                                          ((DIGIT_ROW[d] + off) * t + 0.5 * 90.0 * move * t * t)) +
                                0.4 * sin(CORE_TWO_PI *
                                          ((DIGIT_COL[d] + off) * t - 0.5 * 160.0 * move * t * t)));
                }
                EXPECT_EQ(digits(x, 0), move > 0.0 ? 0 : 1)
                    << "digit " << d << " off " << off << " Hz, moving " << move;
                repeater_modulate(x.data(), x.size(), 44100);
                if (move > 0.0)
                    disguised_sweeps += digits(x, 1);
                else
                    EXPECT_EQ(digits(x, 1), 1) << "disguised digit " << d << " off " << off;
            }
    EXPECT_LE(disguised_sweeps, 4) << "of 35 disguised crossings";
}
