// Whole journeys: content -> digits -> audio -> WAV file -> reader ->
// detector -> digits -> content, in both modes and in the file shapes
// people actually record.
#include "core_test_util.h"
#include <stdlib.h>

static std::vector<int32_t> digits_of_text(const char *t)
{
    uint64_t n;
    uint32_t *d = encode_text(t, &n);
    std::vector<int32_t> v = as_ints(d, n);
    free(d);
    return v;
}

static Buf *synth(Buf *b, const std::vector<int32_t> &digits, int32_t rep, double tone, double gap, float gain)
{
    std::vector<uint32_t> u(digits.begin(), digits.end());
    gen_digits_samples(b, u.data(), u.size(), rep, tone, gap);
    for (uint64_t i = 0; i < b->len; i++) b->data[i] *= gain;
    return b;
}

TEST(RoundTrip, TextAndBytesThroughSavedFiles)
{
    const char *text = "Hello over there";
    const uint8_t bytes[] = {0x00, 0x5A, 0xFF, 0x10, 0x10, 0x7E};
    uint64_t nb;
    uint32_t *bd = encode_bytes_hex(bytes, sizeof bytes, &nb);
    const std::vector<int32_t> hex_digits = as_ints(bd, nb);
    free(bd);
    for (int rep = 0; rep < 2; rep++)
        for (float gain : {1.0f, rep ? 0.02f : 0.01f}) {  // disguise costs 3 dB of RMS against the gate
            SCOPED_TRACE(testing::Message() << "repeater " << rep << " gain " << gain);
            for (int kind = 0; kind < 2; kind++) {
                const std::vector<int32_t> sent = kind ? hex_digits : digits_of_text(text);
                Buf b, back;
                std::string path = temp_path("rt.wav");
                ASSERT_EQ(save_wav(path.c_str(), synth(&b, sent, rep, 0.18, 0.09, gain)), 0);
                uint32_t rate = 0;
                ASSERT_EQ(load_wav_mono_float(path.c_str(), &back, &rate), 0);
                ASSERT_EQ(rate, 44100u);
                std::vector<int32_t> got = decode_digits(&back, (int32_t)rate, rep);
                EXPECT_EQ(got, sent);
                std::vector<char> out(got.size() + 1);
                if (kind == 0) {
                    digits_to_text(got.data(), got.size(), out.data(), out.size());
                    EXPECT_STREQ(out.data(), "hello over there");
                } else {
                    uint64_t n = digits_to_hex_text(got.data(), got.size(), out.data(), out.size());
                    const char *err = nullptr;
                    uint8_t *r = hex_string_to_bytes(out.data(), n, &n, &err);
                    ASSERT_TRUE(r != nullptr) << err;
                    EXPECT_EQ(std::vector<uint8_t>(r, r + n), std::vector<uint8_t>(bytes, bytes + sizeof bytes));
                    free(r);
                }
            }
        }
}

TEST(RoundTrip, OtherRatesChannelsAndWidths)
{
    struct Shape { uint32_t rate, channels, bits; };
    const std::vector<int32_t> sent = digits_of_text("need a fix");  // holds repeated digits
    for (Shape s : {Shape{8000, 1, 16}, Shape{22050, 2, 8}, Shape{48000, 2, 32}, Shape{44100, 3, 16}})
        for (int rep = 0; rep < 2; rep++) {
            SCOPED_TRACE(testing::Message() << s.rate << " Hz, " << s.channels << " ch, " << s.bits
                                            << " bit, repeater " << rep);
            // A frame of 2048 must fit inside a tone and inside a gap at the file's rate.
            double frame_s = 1.2 * 3072 / s.rate;
            double tone = frame_s > 0.18 ? frame_s : 0.18, gap = frame_s > 0.09 ? frame_s : 0.09;
            Buf b, at_rate, back;
            resample_linear(synth(&b, sent, rep, tone, gap, 0.9f), 44100, (int32_t)s.rate, &at_rate);
            std::string path = temp_path("shape.wav");
            write_file(path, riff(chunk("fmt ", fmt_body(s.channels, s.rate, s.bits)) +
                                  chunk("LIST", "odd") + chunk("data", pcm(&at_rate, s.channels, s.bits))));
            uint32_t rate = 0;
            ASSERT_EQ(load_wav_mono_float(path.c_str(), &back, &rate), 0);
            EXPECT_EQ(rate, s.rate);
            EXPECT_EQ(back.len, at_rate.len);
            EXPECT_EQ(decode_digits(&back, (int32_t)rate, rep), sent);
        }
}
