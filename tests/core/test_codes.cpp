// Digit codes for text, bytes and server requests, and the way back.
#include "core_test_util.h"
#include <string.h>

TEST(Codes, TextHexAndRequestDigits) {
    EXPECT_EQ(text_digits("Hi There!"),
              (std::vector<int32_t>{1, 1, 1, 2, 0, 0, 2, 6, 1, 1, 0, 5, 2, 4, 0, 5}));
    EXPECT_TRUE(text_digits("123\t\xe9").empty()); // a high byte is never a table index

    uint8_t all[256];
    for (int i = 0; i < 256; i++) all[i] = (uint8_t)i;
    uint64_t n = 0;
    uint32_t *d = encode_bytes_hex(all, 256, &n);
    std::vector<int32_t> rule; // the table form against the per-nibble rule
    for (int b = 0; b < 256; b++)
        for (int nib : {b >> 4, b & 15}) rule.insert(rule.end(), {nib / 6, nib % 6});
    EXPECT_EQ(std::vector<int32_t>(d, d + n), rule);
    free(d);

    // The request's layout is pinned by the CLI's request round trip.
    EXPECT_TRUE(server_request_digits("0070", "hi", &n) == nullptr &&
                server_request_digits("000", "hi", &n) == nullptr);
    d = server_request_digits("6543", std::string(5000, 'z').c_str(), &n);
    EXPECT_EQ(n, (uint64_t)SERVER_MAX_DIGITS);
    free(d);
}

TEST(Codes, HexStringToBytes) {
    const char *err = "unset";
    uint64_t got = 77;
    uint8_t *bytes = hex_string_to_bytes("4a6Bzz", 4, &got, &err); // the length bounds the read
    ASSERT_TRUE(bytes != nullptr && err == nullptr);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + got), (std::vector<uint8_t>{0x4A, 0x6B}));
    free(bytes);
    bytes = hex_string_to_bytes("", 0, &got, &err);
    EXPECT_TRUE(bytes != nullptr && got == 0);
    free(bytes);
    EXPECT_TRUE(hex_string_to_bytes("4a6", 3, &got, &err) == nullptr && strstr(err, "odd number"));
    EXPECT_TRUE(hex_string_to_bytes("4?6", 3, &got, &err) == nullptr &&
                strstr(err, "invalid characters")); // invalid wins
}

struct Rx : RxDigits {
    explicit Rx(uint64_t limit) { rx_digits_init(this, limit); }
    ~Rx() { rx_digits_free(this); }
    std::string read(int32_t reading, uint64_t size = 64) {
        std::vector<char> out(size + 1, 'X');
        uint64_t n = rx_digits_read(this, reading, out.data(), size);
        EXPECT_EQ(n, strlen(out.data()));
        return out.data();
    }
};

TEST(Received, StoresUpToItsLimitAndCountsTheRest) {
    Rx r(3);
    EXPECT_TRUE(rx_digits_add(&r, 8) == -1 && rx_digits_add(&r, -1) == -1);
    for (int32_t d : {1, 1, 3}) EXPECT_EQ(rx_digits_add(&r, d), 1);
    EXPECT_TRUE(rx_digits_full(&r) && rx_digits_add(&r, 6) == 0 && rx_digits_add(&r, 2) == 0);
    EXPECT_TRUE(r.count == 3 && r.dropped == 2);
    rx_digits_clear(&r);
    EXPECT_TRUE(r.count == 0 && r.dropped == 0 && r.limit == 3 && !rx_digits_full(&r));

    Rx big(0); // no limit: grows past every allocation, keeping what it had
    for (int i = 0; i < 5000; i++) ASSERT_EQ(rx_digits_add(&big, i % 7), 1);
    EXPECT_TRUE(!rx_digits_full(&big) && big.digits[0] == 0 && big.digits[4999] == 4999 % 7);
    char chars[5];
    EXPECT_EQ(rx_digits_chars(&big, chars, sizeof chars), 4u); // cut to the room given
    EXPECT_STREQ(chars, "0123");
}

TEST(Received, PairsReadAsTextAndHex) {
    Rx r(0);
    std::string last_text, last_hex;
    for (int32_t d : {1, 1, 3, 6, 0, 0, 2, 3, 3, 0, 5}) {
        rx_digits_add(&r, d);
        char t = rx_digits_last_pair(&r, RX_READ_TEXT), h = rx_digits_last_pair(&r, RX_READ_HEX);
        last_text += t ? t : '.';
        last_hex += h ? h : '.';
    }
    EXPECT_EQ(last_text, ".h.?. .q.u.");      // 3 6 = 27 has no letter
    EXPECT_EQ(last_hex, ".7.?.0.f.?.");       // 3 0 = 18 is no nibble
    EXPECT_EQ(r.read(RX_READ_TEXT), "h? qu"); // the unpaired last digit waits
    EXPECT_EQ(r.read(RX_READ_HEX), "7?0f?");
    EXPECT_EQ(r.read(RX_READ_TEXT, 3), "h?");
    // Not a digit: never a table index.
    EXPECT_TRUE(rx_pair_char(0, 9, RX_READ_TEXT) == '?' && rx_pair_char(-1, 7, RX_READ_HEX) == '?');
    EXPECT_EQ(rx_pair_char(0, 6, RX_READ_HEX), '6');
}
