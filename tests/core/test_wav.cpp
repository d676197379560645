// Writing and reading WAV files, malformed ones included, and resampling.
#include "core_test_util.h"
#include "core/core_internal.h"
#include <math.h>

TEST(Wav, SavedBytesAreExact)
{
    Buf b;
    const float v[] = {1.5f, 1.0f, 0.5f, -0.00001f, -1.0f, -2.0f, NAN};
    sb_append(&b, v, 7);
    std::string path = temp_path("x.wav");
    ASSERT_EQ(save_wav(path.c_str(), &b), 0);
    const std::string fmt = chunk("fmt ", fmt_body(1, 44100, 16));  // clipped, rounded toward zero, NaN silent
    EXPECT_EQ(read_file(path), riff(fmt + chunk("data", le(32767, 2) + le(32767, 2) + le(16383, 2) + le(0, 2) +
                                                        le(-32767, 2) + le(-32767, 2) + le(0, 2))));
    Buf empty;
    ASSERT_EQ(save_wav(path.c_str(), &empty), 0);
    EXPECT_EQ(read_file(path), riff(fmt + chunk("data", "")));
}

TEST(Wav, SaveReportsFailures)
{
    Buf b;
    sb_append_silence(&b, 100000);
    EXPECT_EQ(save_wav((testing::TempDir() + "no/such/dir/x.wav").c_str(), &b), -1);
#ifndef _WIN32
    EXPECT_EQ(save_wav("/dev/full", &b), -1);  // a full disk
#endif
    // Too long for the 32-bit size fields: refused before anything is read or written.
    SampleBuf huge = {nullptr, CORE_WAV_MAX_SAMPLES + 1, CORE_WAV_MAX_SAMPLES + 1};
    std::string path = temp_path("huge.wav");
    write_file(path, "keep");
    EXPECT_EQ(save_wav(path.c_str(), &huge), -1);
    EXPECT_EQ(read_file(path), "keep");
}

TEST(Wav, MalformedFilesGiveTheDefinedResult)
{
    struct BadFile { const char *name; std::string bytes; int32_t rc; uint64_t samples; uint32_t rate; float first; };
    const std::string fmt16 = chunk("fmt ", fmt_body(1, 8000, 16));
    const std::string four = le(16384, 2) + le(-16384, 2) + le(16384, 2) + le(16384, 2);
    std::string lying = riff(fmt16 + "data" + le(0xFFFFFFFF, 4) + four);
    std::string odd_pad = riff(fmt16 + chunk("LIST", "abc") + chunk("data", four));
    std::string late_fmt = riff(chunk("data", std::string("\x00\x80\xff", 3)) +
                                chunk("fmt ", fmt_body(1, 22050, 8)));
    std::string float_tag = riff(chunk("fmt ", fmt_body(1, 48000, 32, 3)) + chunk("data", le(0x40000000, 4)));
    std::string cut_fmt = riff(chunk("data", four) + "fmt " + le(16, 4) + le(1, 2) + le(2, 2));
    const BadFile cases[] = {
        {"empty", "", -1, 0, 0, 0},
        {"cut header", std::string("RIFF\x10\0\0\0WAV", 11), -1, 0, 0, 0},
        {"not wave", riff("").replace(8, 4, "AVI "), -1, 0, 0, 0},
        {"no data", riff(fmt16), -1, 0, 0, 0},
        {"rate 0", riff(chunk("fmt ", fmt_body(1, 0, 16)) + chunk("data", four)), -1, 0, 0, 0},
        {"lying size", lying, 0, 4, 8000, 0.5f},
        {"lying size cut mid-sample", lying.substr(0, lying.size() - 1), 0, 3, 8000, 0.5f},
        {"cut chunk header", riff(fmt16 + chunk("data", four)) + "da", 0, 4, 8000, 0.5f},
        {"odd chunk and pad", odd_pad, 0, 4, 8000, 0.5f},
        {"fmt after data", late_fmt, 0, 3, 22050, -1.0f},
        {"cut fmt keeps defaults", cut_fmt, 0, 4, 44100, 0.5f},
        {"no fmt", riff(chunk("data", four)), 0, 4, 44100, 0.5f},
        {"float tag read as int", float_tag, 0, 1, 48000, 0.5f},
        {"stereo mixes", riff(chunk("fmt ", fmt_body(2, 8000, 16)) + chunk("data", four)), 0, 2, 8000, 0.0f},
        {"zero channels", riff(chunk("fmt ", fmt_body(0, 8000, 16)) + chunk("data", four)), 0, 4, 8000, 0.0f},
        {"24-bit", riff(chunk("fmt ", fmt_body(1, 8000, 24)) + chunk("data", four + "ab")), 0, 3, 8000, 0.0f},
        {"4-bit", riff(chunk("fmt ", fmt_body(1, 8000, 4)) + chunk("data", four)), 0, 0, 8000, 0.0f},
        {"65535 channels", riff(chunk("fmt ", fmt_body(65535, 8000, 32)) + chunk("data", four)), 0, 0, 8000, 0.0f},
        {"empty data", riff(fmt16 + chunk("data", "")), 0, 0, 8000, 0.0f},
    };
    for (const BadFile &c : cases) {
        std::string path = temp_path("bad.wav");
        write_file(path, c.bytes);
        for (int from_file = 0; from_file < 2; from_file++) {
            Buf b;
            uint32_t rate = 12345;
            int32_t rc = from_file ? load_wav_mono_float(path.c_str(), &b, &rate)
                                   : load_wav_mono_float_mem((const uint8_t *)c.bytes.data(), c.bytes.size(), &b, &rate);
            SCOPED_TRACE(std::string(c.name) + (from_file ? " (file)" : " (memory)"));
            EXPECT_EQ(rc, c.rc);
            EXPECT_EQ(b.len, c.samples);
            EXPECT_EQ(rate, c.rc ? 12345u : c.rate);
            EXPECT_EQ(b.len ? b.data[0] : 0.0f, c.first);
        }
    }
    Buf b;
    EXPECT_EQ(load_wav_mono_float((testing::TempDir() + "missing.wav").c_str(), &b, nullptr), -1);
}

TEST(Resample, PositionsAndLengths)
{
    Buf in, out, one;
    const float abc[] = {1.0f, 2.0f, 4.0f};
    sb_append(&in, abc, 3);
    resample_linear(&in, 22050, 44100, &out);  // positions 0, 0.4, 0.8 ... 2.0
    const float expect[] = {1.0f, 1.4f, 1.8f, 2.4f, 3.2f, 4.0f};
    ASSERT_EQ(out.len, 6u);
    for (int i = 0; i < 6; i++) EXPECT_FLOAT_EQ(out.data[i], expect[i]);
    in.len = 1;
    resample_linear(&in, 44100, 8000, &one);  // rounds to no samples: one is kept
    EXPECT_EQ(one.len, 1u);
    EXPECT_EQ(one.data[0], 1.0f);
}
