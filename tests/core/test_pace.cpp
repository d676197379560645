// Digit pace: a lost tone or a tone cut in two damages one pair, not the rest.
#include "core_test_util.h"

// What a receiving page would hold, through the decoder every caller runs:
// the digits as characters ('?' lost).
static std::string received(const SampleBuf &b) {
    RxDigits rx;
    rx_digits_init(&rx, 0);
    DecodeSettings set = {0.3f, 0, DECODE_DEFAULT_HOP, 1};
    DecodeStream d;
    decode_stream_init(
        &d, &set, 44100, nullptr,
        [](void *ctx, int32_t digit) { rx_digits_add((RxDigits *)ctx, digit); }, &rx);
    decode_stream_feed(&d, b.data, b.len);
    decode_stream_finish(&d);
    decode_stream_free(&d);
    std::string s(rx.count + 1, '\0');
    s.resize(rx_digits_chars(&rx, &s[0], s.size()));
    rx_digits_free(&rx);
    return s;
}

static std::string chars(const std::vector<uint32_t> &d) {
    std::string s;
    for (uint32_t v : d) s += (char)('0' + v);
    return s;
}

TEST(Pace, ALostToneOrAToneCutInTwoCostsOnePair) {
    std::vector<uint32_t> sent;
    for (int i = 0; i < 60; i++) sent.push_back((uint32_t)((i * 5 + i / 7) % 7));
    for (double speed : {1.0, 1.5}) {
        const double tone = 0.18 / speed, gap = 0.09 / speed;
        const uint64_t per = (uint64_t)(tone * 44100) + (uint64_t)(gap * 44100);
        Buf clean;
        gen_digits_samples(&clean, sent.data(), sent.size(), 0, tone, gap);
        ASSERT_EQ(received(clean), chars(sent)) << speed;

        // the second digit (before the pace is known), one before a 6 (the
        // end marker's first digit: at 150 % its pause takes as long), one
        // well inside
        for (uint64_t k : {1, 3, 31}) {
            if (k == 3 && speed > 1.0) continue;
            Buf lost;
            sb_append_buf(&lost, &clean);
            uint64_t at = BLOCK_LEAD_IN_SAMPLES + k * per;
            for (uint64_t i = 0; i < (uint64_t)(tone * 44100); i++) lost.data[at + i] = 0.0f;
            std::string want = chars(sent);
            want[k] = '?';
            EXPECT_EQ(received(lost), want) << speed << " digit " << k;
        }
        Buf cut;
        sb_append_buf(&cut, &clean);
        uint64_t at = BLOCK_LEAD_IN_SAMPLES + 31 * per;
        for (uint64_t i = 0; i < 2646; i++)
            cut.data[at + BLOCK_LEAD_IN_SAMPLES + i] = 0.0f; // 60 ms, inside
        std::string want = chars(sent);
        want[31] = '?';
        std::string got = received(cut);
        EXPECT_TRUE(got == chars(sent) || got == want) << speed << "\n" << got << "\n" << want;
    }
}

// A squelch opening or a sound device starting clips the first tone: its
// two pieces are one digit, while a digit sent twice stays two, also when
// a dropout delayed the first one's start.
TEST(Pace, CutToneIsOneDigitRepeatedDigitIsTwo) {
    const std::vector<uint32_t> sent = {2, 1, 1, 4, 3, 5, 0, 6, 2, 2};
    Buf clean;
    gen_digits_samples(&clean, sent.data(), sent.size(), 0, 0.18, 0.09);
    for (double hole_at : {0.02, 0.05}) { // a cut in the middle stays ambiguous
        Buf cut;
        sb_append_buf(&cut, &clean);
        uint64_t at = BLOCK_LEAD_IN_SAMPLES + (uint64_t)(hole_at * 44100);
        for (uint64_t i = 0; i < 2646; i++) cut.data[at + i] = 0.0f; // 60 ms
        uint64_t raw = 0;
        detect_frames(
            cut.data, cut.len, 44100, DECODE_FRAME_LEN, DECODE_DEFAULT_HOP, 0.3f, 0, NULL,
            [](void *ctx, uint64_t, int32_t, int32_t digit, float, float) {
                *(uint64_t *)ctx += digit >= 0;
                return 0;
            },
            &raw);
        ASSERT_EQ(raw, sent.size() + 1) << "the hole at " << hole_at << " s cut no tone";
        EXPECT_EQ(received(cut), chars(sent)) << hole_at;
    }
    // A dropout at the very start of a tone delays its onset: the same digit
    // sent next is still a digit of its own.
    const std::vector<uint32_t> repeat = {3, 0, 4, 0, 0, 1, 3, 2, 5, 6};
    Buf late;
    gen_digits_samples(&late, repeat.data(), repeat.size(), 0, 0.18, 0.09);
    for (uint64_t i = 0; i < 2646; i++)
        late.data[BLOCK_LEAD_IN_SAMPLES + 3 * DIGIT_PER_100 + 220 + i] = 0.0f;
    EXPECT_EQ(received(late), chars(repeat));

    std::vector<uint32_t> twice = {2, 2, 1, 4, 3, 5};
    Buf b;
    gen_digits_samples(&b, twice.data(), twice.size(), 0, 0.18, 0.09);
    EXPECT_EQ(received(b), chars(twice));
}

TEST(Pace, PausesOfTheTransmissionAreNoLosses) {
    // The end marker starts 200 ms later than the pace says; at 150 % that
    // is within a frame of a lost digit's interval.
    for (int speed : {100, 150}) {
        double tone, gap;
        speed_to_tone_gap(speed, &tone, &gap);
        Buf req;
        char err[64];
        ASSERT_EQ(build_server_transmission("0123", "hello there", "", "", 0, 0, tone, gap, &req,
                                            err, sizeof err),
                  0);
        EXPECT_EQ(received(req), "012311051515210026110524056543210") << speed;
    }
    // A sender that slows down mid-way is followed after a few digits.
    std::vector<uint32_t> a(20, 0), b(20, 0);
    for (int i = 0; i < 20; i++) a[i] = b[i] = (uint32_t)(i % 7);
    Buf both;
    gen_digits_samples(&both, a.data(), a.size(), 0, 0.18, 0.09);
    gen_digits_samples(&both, b.data(), b.size(), 0, 0.36, 0.18);
    std::string got = received(both);
    EXPECT_EQ(got.substr(0, 20), chars(a));
    EXPECT_EQ(got.substr(got.size() - 15), chars(b).substr(5)) << got;
}

// The second digit waits for the third; live, not longer than the third is
// overdue, and a recording's end gives it up. Onsets by hand.
TEST(Pace, HeldDigitsAndCloseCalls) {
    const uint64_t per = DIGIT_PER_100; // 270 ms
    DigitPacer p;
    int32_t out[DIGIT_PACER_OUT];
    digit_pacer_reset(&p, 44100);
    ASSERT_EQ(digit_pacer_feed(&p, 1, 0, out), 1);
    EXPECT_EQ(digit_pacer_feed(&p, 2, per, out), 0);
    EXPECT_EQ(digit_pacer_tick(&p, 3 * per - 1, out), 0);
    ASSERT_EQ(digit_pacer_tick(&p, 3 * per, out), 1);
    EXPECT_EQ(out[0], 2);
    ASSERT_EQ(digit_pacer_feed(&p, 3, 3 * per, out), 2); // the pace is known: one missing
    EXPECT_EQ(out[0], RX_DIGIT_LOST);
    EXPECT_EQ(digit_pacer_flush(&p, out), 0);

    digit_pacer_reset(&p, 44100);
    digit_pacer_feed(&p, 1, 0, out);
    digit_pacer_feed(&p, 2, per, out);
    ASSERT_EQ(digit_pacer_flush(&p, out), 1);
    EXPECT_EQ(out[0], 2);

    // A first digit sent twice, then a loss: equal intervals are no cut tone.
    digit_pacer_reset(&p, 44100);
    std::vector<int32_t> got;
    const uint64_t onsets[] = {0, per, 2 * per, 4 * per, 5 * per};
    const int32_t digits[] = {1, 1, 2, 3, 4};
    for (int i = 0; i < 5; i++)
        for (int32_t k = 0, n = digit_pacer_feed(&p, digits[i], onsets[i], out); k < n; k++)
            got.push_back(out[k]);
    EXPECT_EQ(got, (std::vector<int32_t>{1, 1, 2, RX_DIGIT_LOST, 3, 4}));

    // At 100 % a 6 heard a little early after a lost digit is still nearer
    // that than the end marker's pause (470 ms).
    digit_pacer_reset(&p, 44100);
    for (uint64_t i = 0; i < 4; i++) digit_pacer_feed(&p, 1, i * per, out);
    ASSERT_EQ(digit_pacer_feed(&p, 6, 5 * per - 265, out), 2);
    EXPECT_EQ(out[0], RX_DIGIT_LOST);
}
