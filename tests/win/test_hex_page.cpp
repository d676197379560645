// The Hex (file) page, in a real hidden main window.
#include <gtest/gtest.h>
#include "tests/win/kit.h"

static HexTab &H = g_app.hex;

static void feed(const char *digits) {
    for (const char *p = digits; *p; p++) hex_on_digit(*p - '0');
}

class HexPage : public ::testing::Test {
  protected:
    void SetUp() override {
        shell_app();
        hex_clear();
    }
};

TEST_F(HexPage, OpeningFilesAndTurningAwayWhatCannotBeSent) {
    std::string abc = temp_path("abc.bin"), big = temp_path("big.bin");
    std::string empty = temp_path("empty.bin"), missing = temp_path("missing.bin");
    write_file(abc, "abc");
    ASSERT_EQ(hex_open_path(abc.c_str()), 0);
    EXPECT_EQ(drv_text(H.tx_digits_label), "100110021003");
    EXPECT_TRUE(IsWindowEnabled(H.play_button) && IsWindowEnabled(H.save_audio_button));

    // Too large, missing: a box each, and "abc" stays loaded.
    write_file(big, std::string(HEX_MAX_FILE_BYTES + 1, 'Z'));
    BoxWatch boxes;
    EXPECT_EQ(hex_open_path(big.c_str()), -1);
    EXPECT_EQ(hex_open_path(missing.c_str()), -1);
    std::vector<std::string> said = boxes.said();
    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[0].rfind("File too large|" + std::string(filename_only(big.c_str())) +
                                " -- 1025 bytes",
                            0),
              0u);
    EXPECT_NE(said[0].find("1024 bytes -> 2048 hex chars -> 4096 tones"), std::string::npos);
    EXPECT_EQ(said[1], "Open failed|Could not open that file.");
    EXPECT_EQ(drv_text(H.tx_digits_label), "100110021003");

    write_file(empty, "");
    ASSERT_EQ(hex_open_path(empty.c_str()), 0);
    EXPECT_EQ(drv_text(H.tx_digits_label), "(nothing to encode)");
    EXPECT_NE(drv_text(H.file_label).find(" -- 0 bytes -> 0 hex chars -> 0 tones"),
              std::string::npos);
    EXPECT_FALSE(IsWindowEnabled(H.play_button) || IsWindowEnabled(H.save_audio_button));
}

TEST_F(HexPage, ReceivedPairsBecomeHexAndBadOnesBlockTheSave) {
    EXPECT_FALSE(IsWindowEnabled(H.save_hex_button));
    feed("100130");
    EXPECT_EQ(drv_text(H.hex_label), "61?");
    EXPECT_TRUE(IsWindowEnabled(H.save_hex_button));

    std::string out = temp_path("never.bin");
    BoxWatch boxes;
    EXPECT_EQ(hex_save_bytes_to(out.c_str()), -1);
    hex_clear();
    feed("100110");
    EXPECT_EQ(hex_save_bytes_to(out.c_str()), -1);
    EXPECT_EQ(boxes.said(),
              (std::vector<std::string>{
                  "Cannot save|Decoded hex contains invalid characters (marked '?') -- "
                  "lower the tone threshold or re-transmit.",
                  "Cannot save|Decoded hex has an odd number of characters -- reception "
                  "may be incomplete."}));
    EXPECT_EQ(GetFileAttributesA(out.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(HexPage, AFileThatOverfillsTheReceptionDoesNotLookComplete) {
    std::vector<uint32_t> many(RX_MAX_DIGITS + 2);
    for (size_t i = 0; i < many.size(); i++) many[i] = (uint32_t)(i % 2);
    Buf b;
    gen_digits_samples(&b, many.data(), many.size(), 0, 0.12, 0.06); // 150 %
    std::string wav = temp_path("overfull.wav");
    ASSERT_EQ(save_wav(wav.c_str(), &b), 0);
    ASSERT_EQ(hex_decode_path(wav.c_str()), 0);
    EXPECT_EQ(H.panel.received.count, (uint64_t)RX_MAX_DIGITS);
    EXPECT_EQ(drv_text(H.hex_label), std::string(RX_MAX_DIGITS / 2, '1'));
    EXPECT_EQ(drv_text(H.status_label), "Reception full (4096 digits) -- later digits dropped");
    DeleteFileA(wav.c_str());
}

TEST_F(HexPage, SavedBytesAreExactAndAFailedWriteIsNotReportedAsSaved) {
    feed("00000021001401142323"); // 00 0d 0a 1a ff: what a text-mode write would mangle
    std::string out = temp_path("out.bin"), bad = temp_path("no-such-dir\\out.bin");
    BoxWatch boxes;
    ASSERT_EQ(hex_save_bytes_to(out.c_str()), 0);
    EXPECT_EQ(read_file(out), std::string("\0\r\n\x1a\xff", 5));
    EXPECT_EQ(hex_save_bytes_to(bad.c_str()), -1);
    EXPECT_EQ(boxes.said(),
              (std::vector<std::string>{"Saved|Saved 5 bytes to " + out,
                                        "Save failed|Could not write that file.\n\n" + bad}));
}
