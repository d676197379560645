// A whole journey: text -> digits -> audio -> WAV file -> reader -> detector ->
// digits -> text, in both modes, near the level gate, in a shape the CLI tests
// do not make (stereo at 22050 Hz).
#include "core_test_util.h"
#include <math.h>

TEST(RoundTrip, QuietStereoFileAt22050Hz)
{
    const std::vector<int32_t> sent = text_digits("Need a fix");  // every digit, some repeated
    const std::vector<uint32_t> u(sent.begin(), sent.end());
    const double tone = 0.18, gap = 1.2 * 3072 / 22050;  // a frame of 2048 fits inside a gap at 22050 Hz
    for (int rep = 0; rep < 2; rep++) {
        SCOPED_TRACE(testing::Message() << "repeater " << rep);
        Buf b, at_rate, back;
        gen_digits_samples(&b, u.data(), u.size(), rep, tone, gap);
        for (uint64_t i = 0; i < b.len; i++) b.data[i] *= rep ? 0.02f : 0.01f;  // disguise costs 3 dB of RMS
        resample_linear(&b, 44100, 22050, &at_rate);
        std::string path = temp_path("rt.wav");
        write_file(path, wav_image(&at_rate, 22050, 2, 16));
        uint32_t rate = 0;
        ASSERT_EQ(load_wav_mono_float(path.c_str(), &back, &rate), 0);
        EXPECT_TRUE(rate == 22050 && back.len == at_rate.len);
        RxDigits got;  // decoded as the receiving pages do
        rx_digits_init(&got, RX_MAX_DIGITS);
        detect_frames(back.data, back.len, 22050, 2048, 1024, 0.30f, rep, nullptr,
                      [](void *ctx, uint64_t, int32_t, int32_t digit, float, float) {
                          if (digit >= 0) rx_digits_add(static_cast<RxDigits *>(ctx), digit);
                          return 0;
                      }, &got);
        EXPECT_EQ(std::vector<int32_t>(got.digits, got.digits + got.count), sent);
        char out[64];
        rx_digits_read(&got, RX_READ_TEXT, out, sizeof out);
        EXPECT_STREQ(out, "need a fix");
        rx_digits_free(&got);
    }
}
