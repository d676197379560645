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

// The window's plan reads exactly what it read before the whole keypad came
// in: every frame's detection, digit and meters (to 1e-5, which no platform's
// sine tables move) over 16-bit recordings, plain and disguised, paced, fast
// and in noise, at the default and a fine hop.
TEST(Detect, TheDigitPlanReadsAsBefore) {
    struct Digest {
        uint64_t h = 1469598103934665603ull; // FNV-1a
        void add(int64_t v) {
            for (int i = 0; i < 8; i++) h = (h ^ (uint8_t)(v >> (8 * i))) * 1099511628211ull;
        }
    } dg;
    std::vector<int32_t> t = text_digits("the quick brown fox jumps over the lazy dog");
    std::vector<uint32_t> d(t.begin(), t.end());
    struct Take {
        double tone, gap, noise;
        int rep;
    };
    for (Take k : {Take{0.06, 0.03, 0.02, 0}, Take{0.052, 0.008, 0.02, 0}, Take{0.1, 0.05, 0.5, 0},
                   Take{0.06, 0.03, 0.02, 1}, Take{0.1, 0.05, 0.4, 1}}) {
        Buf b;
        gen_digits_samples(&b, d.data(), d.size(), k.rep, k.tone, k.gap);
        uint64_t seed = 12345;
        for (uint64_t i = 0; i < b.len; i++) {
            double s = -6.0; // sum of 12 uniforms
            for (int j = 0; j < 12; j++) {
                seed = seed * 6364136223846793005ull + 1442695040888963407ull;
                s += (double)(seed >> 11) / 9007199254740992.0;
            }
            b.data[i] = (float)(nearbyint((b.data[i] + k.noise * s) * 0.5 * 32767.0) / 32767.0);
        }
        for (uint64_t hop : {1024, 256}) {
            DigitStream ds;
            digit_stream_reset(&ds);
            dg.add((int64_t)detect_frames(
                b.data, b.len, 44100, 2048, hop, 0.3f, k.rep, &ds,
                [](void *ctx, uint64_t at, int32_t det, int32_t digit, float rl, float cl) {
                    for (int64_t v : {(int64_t)at, (int64_t)det, (int64_t)digit,
                                      (int64_t)llround(rl * 1e5), (int64_t)llround(cl * 1e5)})
                        ((Digest *)ctx)->add(v);
                    return 0;
                },
                &dg));
        }
    }
    EXPECT_EQ(dg.h, 0x5786727e87ae4749ull);
}

// The whole keypad, each key rendered as the synthesiser renders a digit;
// '.' leaves a tone out.
static void key_block(Buf *b, const char *keys, double tone_s, double gap_s, int rep) {
    const uint64_t from = b->len, nt = (uint64_t)(tone_s * 44100), ng = (uint64_t)(gap_s * 44100);
    sb_append_silence(b, BLOCK_LEAD_IN_SAMPLES);
    for (const char *k = keys; *k; k++) {
        sb_append_silence(b, nt + ng);
        for (int32_t r : KEY_ROW_FREQS)
            for (int32_t c : KEY_COL_FREQS)
                if (KEY_CHARS[dtmf_pair_to_key(r, c)] == *k)
                    core_render_pair(b->data + b->len - nt - ng, r, c, nt);
    }
    sb_append_silence(b, BLOCK_TAIL_SAMPLES);
    if (rep) repeater_modulate(b->data + from, b->len - from, 44100);
}

struct Heard {
    int32_t keys;
    std::string s;
};

static std::string decoded(const SampleBuf *b, int rep, int32_t keys) {
    DecodeSettings set = {0.3f, rep, DECODE_DEFAULT_HOP, 1, keys};
    Heard h = {keys, ""};
    DecodeStream d;
    decode_stream_init(
        &d, &set, 44100, nullptr,
        [](void *ctx, int32_t v) { ((Heard *)ctx)->s += rx_value_char(v, ((Heard *)ctx)->keys); },
        &h);
    decode_stream_feed(&d, b->data, b->len);
    decode_stream_finish(&d);
    decode_stream_free(&d);
    return h.s;
}

// Every key, plain and disguised, at the window's pace and at a dialer's
// (52 ms tones, 8 ms gaps); a lost key is marked apart from the key 7. The
// digit plan hears only 0-6 in the same sound.
TEST(Detect, WholeKeypad) {
    const char *all = "0123456789*#ABCD147*2580369#ABCD";
    struct Take {
        double tone, gap;
        int rep;
    };
    for (Take k : {Take{0.18, 0.09, 0}, Take{0.052, 0.008, 0}, Take{0.18, 0.09, 1}}) {
        Buf b;
        key_block(&b, all, k.tone, k.gap, k.rep);
        EXPECT_EQ(decoded(&b, k.rep, KEYS_ALL), all) << k.tone << " s, repeater " << k.rep;
        // the pace tells the 8 between 5 and 0 missing where a dialer's is too quick to
        EXPECT_EQ(decoded(&b, k.rep, KEYS_0_6), k.tone > 0.1 ? "01234561425?036" : "01234561425036")
            << k.tone << " s";
    }
    Buf lost;
    key_block(&lost, "1234567.9*#ABCD", 0.1, 0.05, 0);
    EXPECT_EQ(decoded(&lost, 0, KEYS_ALL), "1234567?9*#ABCD");
    // off tune as one sender is, each key alone
    for (int32_t r : KEY_ROW_FREQS)
        for (int32_t c : KEY_COL_FREQS)
            for (double shift : {-0.015, 0.015}) {
                std::vector<float> x = tones({r * (1 + shift), c * (1 + shift)}, 0.44);
                EXPECT_EQ(
                    detect_key_in_frame(x.data(), 2048, 44100, 0.3f, 0, KEYS_ALL, nullptr, nullptr),
                    dtmf_pair_to_key(r, c))
                    << r << " + " << c << " Hz, " << shift;
            }
}
