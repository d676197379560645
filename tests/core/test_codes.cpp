// Digit codes, the tone plan, the sample buffer and the shared helpers.
#include "core_test_util.h"
#include "core/core_internal.h"
#include <stdlib.h>

static std::vector<int32_t> text_digits(const char *t)
{
    uint64_t n = 99;
    uint32_t *d = encode_text(t, &n);
    EXPECT_TRUE(d != nullptr);
    std::vector<int32_t> v = as_ints(d, n);
    free(d);
    return v;
}

TEST(Codes, LetterCode)
{
    EXPECT_EQ(text_digits("coffee"), (std::vector<int32_t>{0, 3, 2, 1, 0, 6, 0, 6, 0, 5, 0, 5}));
    EXPECT_EQ(text_digits("Hi There!"), text_digits("hi there"));
    EXPECT_EQ(text_digits("hi there"), (std::vector<int32_t>{1, 1, 1, 2, 0, 0, 2, 6, 1, 1, 0, 5, 2, 4, 0, 5}));
    EXPECT_EQ(text_digits("R2-D2"), (std::vector<int32_t>{2, 4, 0, 4}));
    EXPECT_TRUE(text_digits("").empty());
    EXPECT_TRUE(text_digits("123\t\xe9").empty());
    for (int n = 0; n <= 26; n++) {  // every letter survives its pair
        int32_t hi, lo;
        num_to_pair7(n, &hi, &lo);
        EXPECT_EQ(num_to_letter(pair7_to_num(hi, lo)), n ? 'a' + n - 1 : ' ');
    }
    EXPECT_EQ(letter_to_num('?'), -1);
    EXPECT_EQ(num_to_letter(27), '?');
    EXPECT_EQ(num_to_letter(-1), '?');
}

TEST(Codes, HexCode)
{
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; i++) all[i] = (uint8_t)i;
    uint64_t n = 0;
    uint32_t *d = encode_bytes_hex(all.data(), all.size(), &n);
    ASSERT_EQ(n, 1024u);
    for (int b = 0; b < 256; b++) {  // table form against the per-byte rule
        int h = b >> 4, l = b & 15;
        EXPECT_EQ(as_ints(d + 4 * b, 4), (std::vector<int32_t>{h / 6, h % 6, l / 6, l % 6})) << b;
        EXPECT_EQ(pair6_to_hex_nibble((int32_t)d[4 * b], (int32_t)d[4 * b + 1]), h);
    }
    free(d);
    d = encode_bytes_hex(all.data(), 0, &n);
    EXPECT_TRUE(d != nullptr);
    EXPECT_EQ(n, 0u);
    free(d);

    const char *err = "unset";
    uint64_t got = 77;
    uint8_t *bytes = hex_string_to_bytes("4a6B", 4, &got, &err);
    ASSERT_TRUE(bytes != nullptr);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(bytes[0], 0x4A);
    EXPECT_EQ(bytes[1], 0x6B);
    EXPECT_EQ(err, nullptr);
    free(bytes);
    bytes = hex_string_to_bytes("", 0, &got, &err);
    EXPECT_TRUE(bytes != nullptr);
    EXPECT_EQ(got, 0u);
    free(bytes);
    got = 5;
    EXPECT_EQ(hex_string_to_bytes("4a6", 3, &got, &err), nullptr);
    EXPECT_NE(std::string(err).find("odd number"), std::string::npos);
    EXPECT_EQ(hex_string_to_bytes("4?6", 3, &got, &err), nullptr);  // invalid wins over odd
    EXPECT_NE(std::string(err).find("invalid characters"), std::string::npos);
    EXPECT_EQ(got, 5u);
    bytes = hex_string_to_bytes("4a6Bzz", 4, &got, &err);  // the length bounds the read
    EXPECT_EQ(bytes[1], 0x6B);
    free(bytes);
}

TEST(Codes, ReceivedPairsAndServerRequest)
{
    int32_t digits[] = {1, 1, 3, 6, 0, 0, 2, 3, 9};
    char out[16];
    EXPECT_EQ(digits_to_text(digits, 9, out, sizeof out), 4u);
    EXPECT_STREQ(out, "h? q");  // 3 6 = 27 has no letter; the odd last digit waits
    EXPECT_EQ(digits_to_hex_text(digits, 8, out, sizeof out), 4u);
    EXPECT_STREQ(out, "7?0f");
    EXPECT_EQ(digits_to_text(digits, 8, out, 3), 2u);  // cut to the room given
    EXPECT_STREQ(out, "h?");

    uint64_t n = 1;
    uint32_t *d = server_request_digits("0000", "Hi!", &n);
    EXPECT_EQ(as_ints(d, n), (std::vector<int32_t>{0, 0, 0, 0, 1, 1, 1, 2}));
    free(d);
    EXPECT_EQ(server_request_digits("0070", "hi", &n), nullptr);
    EXPECT_EQ(server_request_digits("000", "hi", &n), nullptr);
    std::string long_msg(5000, 'z');
    d = server_request_digits("6543", long_msg.c_str(), &n);
    EXPECT_EQ(n, (uint64_t)SERVER_MAX_DIGITS);
    EXPECT_EQ(d[3], 3u);
    free(d);

    double tone, gap;
    speed_to_tone_gap(100, &tone, &gap);
    EXPECT_EQ(tone, 0.18);
    EXPECT_EQ(gap, 0.09);
    speed_to_tone_gap(-5, &tone, &gap);
    EXPECT_DOUBLE_EQ(tone, 18.0);
}

TEST(ToneBuffer, PlanAndGrowth)
{
    EXPECT_EQ(dtmf_row_freq(0), 941);
    EXPECT_EQ(dtmf_col_freq(7), 0);
    EXPECT_EQ(dtmf_pair_to_digit(770, 1477), 6);
    EXPECT_EQ(dtmf_pair_to_digit(941, 1209), -1);

    Buf b;
    sb_reserve(&b, 0);
    sb_append_silence(&b, 0);
    sb_append(&b, nullptr, 0);
    EXPECT_EQ(b.data, nullptr);
    sb_reserve(&b, 3000);
    EXPECT_EQ(b.cap, 4096u);
    sb_append_silence(&b, 4000);
    b.data[3999] = 0.5f;
    sb_append_silence(&b, 100);
    EXPECT_EQ(b.cap, 8192u);
    Buf c;
    sb_append_buf(&c, &b);
    EXPECT_EQ(c.len, 4100u);
    EXPECT_EQ(c.data[3999], 0.5f);
    sb_free(&c);
    sb_free(&c);
}
