// Whole journeys: text or bytes -> digits -> audio -> WAV file -> reader ->
// detector -> digits -> text or bytes, in both modes and in the file shapes
// people actually record.
#include "core_test_util.h"
#include <math.h>

TEST(RoundTrip, TextAndBytesThroughFiles)
{
    const uint8_t bytes[] = {0x00, 0x5A, 0xFF, 0x10, 0x10, 0x7E};
    uint64_t n;
    uint32_t *d = encode_bytes_hex(bytes, sizeof bytes, &n);
    const std::vector<int32_t> hex = as_ints(d, n), text = text_digits("Need a fix");  // repeated digits
    free(d);
    // rate 0: written by save_wav at 44100 Hz; quiet: near the level gate.
    struct Shape { uint32_t rate, channels, bits; bool quiet; };
    for (Shape s : {Shape{0, 1, 16, false}, Shape{0, 1, 16, true}, Shape{22050, 2, 8, false}})
        for (int rep = 0; rep < 2; rep++)
            for (const std::vector<int32_t> *sent : {&text, &hex}) {
                uint32_t rate = s.rate ? s.rate : 44100;
                SCOPED_TRACE(testing::Message() << rate << " Hz, " << s.channels << " ch, " << s.bits << " bit, quiet "
                                                << s.quiet << ", repeater " << rep << ", hex " << (sent == &hex));
                // A frame of 2048 must fit inside a tone and inside a gap at the file's rate.
                double frame_s = 1.2 * 3072 / rate, tone = fmax(frame_s, 0.18), gap = fmax(frame_s, 0.09);
                float gain = !s.quiet ? 0.9f : rep ? 0.02f : 0.01f;  // disguise costs 3 dB of RMS
                std::vector<uint32_t> u(sent->begin(), sent->end());
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
                EXPECT_EQ(got_rate, rate);
                EXPECT_EQ(back.len, s.rate ? at_rate.len : b.len);
                RxDigits got;  // decoded as the receiving pages do
                rx_digits_init(&got, RX_MAX_DIGITS);
                detect_frames(back.data, back.len, (int32_t)rate, 2048, 1024, 0.30f, rep, nullptr,
                              [](void *ctx, uint64_t, int32_t, int32_t digit, float, float) {
                                  if (digit >= 0) rx_digits_add(static_cast<RxDigits *>(ctx), digit);
                                  return 0;
                              }, &got);
                EXPECT_EQ(std::vector<int32_t>(got.digits, got.digits + got.count), *sent);
                std::vector<char> out(got.count + 1);
                n = rx_digits_read(&got, sent == &text ? RX_READ_TEXT : RX_READ_HEX, out.data(), out.size());
                rx_digits_free(&got);
                if (sent == &text) {
                    EXPECT_STREQ(out.data(), "need a fix");
                    continue;
                }
                const char *err = nullptr;
                uint8_t *r = hex_string_to_bytes(out.data(), n, &n, &err);
                ASSERT_TRUE(r != nullptr) << err;
                EXPECT_EQ(std::vector<uint8_t>(r, r + n), std::vector<uint8_t>(bytes, bytes + sizeof bytes));
                free(r);
            }
}
