// Digit codes for text, bytes and server requests, and the way back.
#include "core_test_util.h"

TEST(Codes, TextAndHexDigits)
{
    EXPECT_EQ(text_digits("Hi There!"), (std::vector<int32_t>{1, 1, 1, 2, 0, 0, 2, 6, 1, 1, 0, 5, 2, 4, 0, 5}));
    EXPECT_EQ(text_digits("R2-D2"), (std::vector<int32_t>{2, 4, 0, 4}));
    EXPECT_TRUE(text_digits("123\t\xe9").empty());

    uint8_t all[256];
    for (int i = 0; i < 256; i++) all[i] = (uint8_t)i;
    uint64_t n = 0;
    uint32_t *d = encode_bytes_hex(all, 256, &n);
    ASSERT_EQ(n, 1024u);
    for (int b = 0; b < 256; b++) {  // the table form against the per-byte rule
        int h = b >> 4, l = b & 15;
        ASSERT_EQ(as_ints(d + 4 * b, 4), (std::vector<int32_t>{h / 6, h % 6, l / 6, l % 6})) << b;
    }
    free(d);
}

TEST(Codes, HexStringToBytes)
{
    const char *err = "unset";
    uint64_t got = 77;
    uint8_t *bytes = hex_string_to_bytes("4a6Bzz", 4, &got, &err);  // the length bounds the read
    ASSERT_TRUE(bytes != nullptr);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + got), (std::vector<uint8_t>{0x4A, 0x6B}));
    EXPECT_EQ(err, nullptr);
    free(bytes);
    bytes = hex_string_to_bytes("", 0, &got, &err);
    EXPECT_TRUE(bytes != nullptr && got == 0);
    free(bytes);
    EXPECT_EQ(hex_string_to_bytes("4a6", 3, &got, &err), nullptr);
    EXPECT_NE(std::string(err).find("odd number"), std::string::npos);
    EXPECT_EQ(hex_string_to_bytes("4?6", 3, &got, &err), nullptr);  // invalid wins over odd
    EXPECT_NE(std::string(err).find("invalid characters"), std::string::npos);
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
    d = server_request_digits("6543", std::string(5000, 'z').c_str(), &n);
    EXPECT_EQ(n, (uint64_t)SERVER_MAX_DIGITS);
    free(d);
}
