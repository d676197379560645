// Digit pace: a lost tone or a tone cut in two damages one pair, not the rest.
#include "core_test_util.h"

// What a receiving page would hold: the digits as characters ('?' lost).
static std::string received(const SampleBuf &b) {
    struct Walk {
        DigitPacer pacer;
        RxDigits rx;
    } w;
    digit_pacer_reset(&w.pacer, 44100);
    rx_digits_init(&w.rx, 0);
    auto visit = [](void *ctx, uint64_t start, int32_t, int32_t digit, float, float) {
        int32_t out[2],
            n = digit >= 0 ? digit_pacer_feed(&((Walk *)ctx)->pacer, digit, start, out) : 0;
        for (int32_t i = 0; i < n; i++) rx_digits_add(&((Walk *)ctx)->rx, out[i]);
        return 0;
    };
    detect_frames(b.data, b.len, 44100, 2048, 1024, 0.3f, 0, NULL, visit, &w);
    std::string s(w.rx.count + 1, '\0');
    s.resize(rx_digits_chars(&w.rx, &s[0], s.size()));
    rx_digits_free(&w.rx);
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

        Buf lost, cut;
        sb_append_buf(&lost, &clean);
        sb_append_buf(&cut, &clean);
        uint64_t at = 2205 + 31 * per; // the 32nd digit's tone
        for (uint64_t i = 0; i < (uint64_t)(tone * 44100); i++) lost.data[at + i] = 0.0f;
        for (uint64_t i = 0; i < 2646; i++) cut.data[at + 2205 + i] = 0.0f; // 60 ms, inside
        std::string want = chars(sent);
        want[31] = '?';
        EXPECT_EQ(received(lost), want) << speed;
        std::string got = received(cut);
        EXPECT_TRUE(got == chars(sent) || got == want) << speed << "\n" << got << "\n" << want;
    }
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
