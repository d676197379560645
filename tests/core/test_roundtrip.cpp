// Whole journeys: text -> digits -> audio -> WAV file -> reader -> detector ->
// digits -> text, in both modes, in the shapes the CLI tests do not make:
// near the level gate, and stereo 8-bit at 22050 Hz.
#include "core_test_util.h"
#include <math.h>

TEST(RoundTrip, TextThroughFiles)
{
    const std::vector<int32_t> sent = text_digits("Need a fix");  // every digit, some repeated
    const std::vector<uint32_t> u(sent.begin(), sent.end());
    struct Shape { uint32_t rate, channels, bits; bool quiet; };  // rate 0: save_wav's 44100 Hz
    for (Shape s : {Shape{0, 1, 16, true}, Shape{22050, 2, 8, false}})
        for (int rep = 0; rep < 2; rep++) {
            uint32_t rate = s.rate ? s.rate : 44100;
            SCOPED_TRACE(testing::Message() << rate << " Hz, " << s.channels << " ch, " << s.bits << " bit, repeater " << rep);
            // A frame of 2048 must fit inside a tone and inside a gap at the file's rate.
            double frame_s = 1.2 * 3072 / rate, tone = fmax(frame_s, 0.18), gap = fmax(frame_s, 0.09);
            float gain = !s.quiet ? 0.9f : rep ? 0.02f : 0.01f;  // disguise costs 3 dB of RMS
            Buf b, at_rate, back;
            gen_digits_samples(&b, u.data(), u.size(), rep, tone, gap);
            for (uint64_t i = 0; i < b.len; i++) b.data[i] *= gain;
            std::string path = temp_path("rt.wav");
            if (s.rate) {
                resample_linear(&b, 44100, (int32_t)rate, &at_rate);
                write_file(path, wav_image(&at_rate, rate, s.channels, s.bits));
            } else {
                ASSERT_EQ(save_wav(path.c_str(), &b), 0);
            }
            uint32_t got_rate = 0;
            ASSERT_EQ(load_wav_mono_float(path.c_str(), &back, &got_rate), 0);
            EXPECT_TRUE(got_rate == rate && back.len == (s.rate ? at_rate.len : b.len));
            RxDigits got;  // decoded as the receiving pages do
            rx_digits_init(&got, RX_MAX_DIGITS);
            detect_frames(back.data, back.len, (int32_t)rate, 2048, 1024, 0.30f, rep, nullptr,
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
