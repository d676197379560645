// Writing and reading WAV files, malformed ones included.
#include "core_test_util.h"
#include <math.h>
#include <algorithm>

// A write sink that keeps the bytes, counts its calls and fails at the n-th.
struct Sink {
    int calls = 0, fail_at = -1;
    std::string got;
    static int32_t put(void *ctx, const void *data, uint64_t n) {
        Sink *k = (Sink *)ctx;
        k->got.append((const char *)data, n);
        return k->calls++ == k->fail_at ? -1 : 0;
    }
};

TEST(Wav, SavedBytesAreExact) {
    Buf b, empty;
    const float v[] = {1.5f, 1.0f, 0.5f, -0.00001f, -1.0f, -2.0f, NAN};
    sb_append(&b, v, 7);
    std::string path = temp_path("x.wav");
    ASSERT_EQ(save_wav(path.c_str(), &b), 0);
    const std::string fmt =
        chunk("fmt ", fmt_body(1, 44100, 16)); // clipped, rounded toward zero, NaN silent
    EXPECT_EQ(read_file(path),
              riff(fmt + chunk("data", le(32767, 2) + le(32767, 2) + le(16383, 2) + le(0, 2) +
                                           le(-32767, 2) + le(-32767, 2) + le(0, 2))));
    ASSERT_EQ(save_wav(path.c_str(), &empty), 0);
    EXPECT_EQ(read_file(path), riff(fmt + chunk("data", "")));
}

TEST(Wav, WrittenInPiecesAsWhole) {
    Buf b;
    sb_append_silence(&b, 30000);
    for (int i = 0; i < 30000; i++) b.data[i] = (float)(i % 200) / 100.0f - 1.0f;
    Sink whole, pieces, strict;
    ASSERT_EQ(write_wav(Sink::put, &whole, &b), 0);
    WavWriter w;
    ASSERT_EQ(wav_writer_begin(&w, Sink::put, &pieces, b.len), 0);
    for (uint64_t at = 0; at < b.len; at += 9001)
        ASSERT_EQ(wav_writer_put(&w, b.data + at, std::min<uint64_t>(9001, b.len - at)), 0);
    EXPECT_EQ(wav_writer_end(&w), 0);
    EXPECT_EQ(pieces.got, whole.got);
    // The header's count holds: one short fails at the end, one too many is not written.
    ASSERT_EQ(wav_writer_begin(&w, Sink::put, &strict, 3), 0);
    EXPECT_EQ(wav_writer_put(&w, b.data, 2), 0);
    EXPECT_EQ(wav_writer_end(&w), -1);
    EXPECT_EQ(wav_writer_put(&w, b.data, 2), -1);
    EXPECT_EQ(wav_writer_end(&w), -1);
    EXPECT_EQ(strict.got.size(), 44u + 4);
}

TEST(Wav, SaveReportsFailures) {
    Buf b;
    sb_append_silence(&b, 100000);
    EXPECT_EQ(save_wav((testing::TempDir() + "no/such/dir/x.wav").c_str(), &b), -1);
#ifndef _WIN32
    EXPECT_EQ(save_wav("/dev/full", &b), -1); // a full disk
#endif
    Sink failing; // the CLI writes through a sink; its byte-for-byte test pins what a sink gets
    failing.fail_at = 1;
    EXPECT_EQ(write_wav(Sink::put, &failing, &b), -1);
    EXPECT_EQ(failing.calls, 2); // stops at the first failure
    // Too long for the 32-bit size fields: refused before anything is read or written.
    SampleBuf huge = {nullptr, WAV_MAX_SAMPLES + 1, WAV_MAX_SAMPLES + 1};
    std::string path = temp_path("huge.wav");
    write_file(path, "keep");
    EXPECT_EQ(save_wav(path.c_str(), &huge), -1);
    EXPECT_EQ(read_file(path), "keep");
    Sink untouched;
    EXPECT_EQ(write_wav(Sink::put, &untouched, &huge), -1);
    EXPECT_EQ(untouched.calls, 0);
}

TEST(Wav, MalformedFilesGiveTheDefinedResult) {
    // rc, samples, rate, first: what the readers give; says: wav_read_info's verdict ("" accepted).
    struct BadFile {
        const char *name;
        std::string bytes;
        int32_t rc;
        uint64_t samples;
        uint32_t rate;
        float first;
        const char *says;
    };
    const std::string fmt16 = chunk("fmt ", fmt_body(1, 8000, 16));
    const std::string four = le(16384, 2) + le(-16384, 2) + le(16384, 2) + le(16384, 2),
                      data4 = chunk("data", four);
    const std::string lying = riff(fmt16 + "data" + le(0xFFFFFFFF, 4) + four);
    auto fmt = [](uint32_t ch, uint32_t rate, uint32_t bits) {
        return chunk("fmt ", fmt_body(ch, rate, bits));
    };
    const std::string adpcm = chunk("fmt ", fmt_body(1, 8000, 16, 0xFFFE) + le(22, 2) + le(16, 2) +
                                                le(0, 4) + le(2, 2) + std::string(14, 'g'));
    const BadFile cases[] = {
        {"empty", "", -1, 0, 0, 0, "not a WAV file (no RIFF/WAVE header)"},
        {"no data", riff(fmt16), -1, 0, 0, 0, "no audio in the WAV file (no \"data\" chunk)"},
        {"rate 0", riff(fmt(1, 0, 16) + data4), -1, 0, 0, 0,
         "sample rate 0 Hz is out of range (1000-768000)"},
        {"lying size", lying, 0, 4, 8000, 0.5f, ""},
        {"lying size cut mid-sample", lying.substr(0, lying.size() - 1), 0, 3, 8000, 0.5f, ""},
        {"cut chunk header", riff(fmt16 + data4) + "da", 0, 4, 8000, 0.5f, ""},
        {"fmt after data", riff(chunk("data", std::string("\x00\x80\xff", 3)) + fmt(1, 22050, 8)),
         0, 3, 22050, -1.0f, ""},
        {"32-bit float",
         riff(chunk("fmt ", fmt_body(1, 48000, 32, 3)) + chunk("data", le(0x3F000000, 4))), 0, 1,
         48000, 0.5f, ""},
        {"24-bit", riff(fmt(1, 8000, 24) + chunk("data", le(0x400000, 3))), 0, 1, 8000, 0.5f, ""},
        {"extensible 64-bit float",
         riff(chunk("fmt ", fmt_body(1, 8000, 64, 0xFFFE) + le(22, 2) + le(64, 2) + le(0, 4) +
                                le(3, 2) + std::string(14, 'g')) +
              chunk("data", le(0, 4) + le(0x3FE00000, 4))),
         0, 1, 8000, 0.5f, ""},
        {"16-bit float", riff(chunk("fmt ", fmt_body(1, 8000, 16, 3)) + data4), 0, 4, 8000, 0.0f,
         "16-bit floating-point samples are not supported"},
        {"stereo mixes", riff(fmt(2, 8000, 16) + data4), 0, 2, 8000, 0.0f, ""},
        {"zero channels", riff(fmt(0, 8000, 16) + data4), 0, 4, 8000, 0.0f,
         "the WAV header declares no channels"},
        {"65535 channels", riff(fmt(65535, 8000, 32) + data4), 0, 0, 8000, 0.0f, ""},
        {"extensible ADPCM", riff(adpcm + data4), 0, 4, 8000, 0.5f,
         "compressed WAV (format 2) is not supported"},
        {"rate too high", riff(fmt(1, 768001, 8) + data4), 0, 8, 768001, -1.0f,
         "sample rate 768001 Hz"},
    };
    for (const BadFile &c : cases) {
        std::string path = temp_path("bad.wav");
        write_file(path, c.bytes);
        for (int from_file = 0; from_file < 2; from_file++) {
            SCOPED_TRACE(std::string(c.name) + (from_file ? " (file)" : " (memory)"));
            const uint8_t *mem = (const uint8_t *)c.bytes.data();
            Buf b;
            uint32_t rate = 12345;
            EXPECT_EQ(from_file ? load_wav_mono_float(path.c_str(), &b, &rate)
                                : load_wav_mono_float_mem(mem, c.bytes.size(), &b, &rate),
                      c.rc);
            EXPECT_TRUE(b.len == c.samples && rate == (c.rc ? 12345u : c.rate) &&
                        (b.len ? b.data[0] : 0.0f) == c.first);
            WavInfo info;
            char why[200] = "unset";
            int32_t rc = from_file ? wav_read_info(path.c_str(), &info, why, sizeof why)
                                   : wav_read_info_mem(mem, c.bytes.size(), &info, why, sizeof why);
            EXPECT_EQ(rc, *c.says ? -1 : 0);
            EXPECT_EQ(std::string(why).find(c.says), 0u) << why;
            EXPECT_TRUE(*c.says ||
                        ((info.format_tag == 1 || info.format_tag == 3) && info.rate == c.rate));
        }
    }
    WavInfo info;
    char why[200];
    EXPECT_EQ(
        wav_read_info_mem((const uint8_t *)lying.data(), lying.size(), &info, why, sizeof why), 0);
    EXPECT_EQ(info.data_bytes, 8u); // what is there, not what the header claims
    Buf b;
    EXPECT_TRUE(load_wav_mono_float("missing.wav", &b, nullptr) == -1 &&
                wav_read_info("missing.wav", &info, why, sizeof why) == -1);
}

// Everything a forward reading gives: the bytes come a few at a time, as
// from a pipe, and the samples are taken in blocks of odd sizes.
static std::vector<float> read_forward(const std::string &bytes, int32_t *rc, uint32_t *rate) {
    struct Pipe {
        const std::string *s;
        size_t at;
    } pipe = {&bytes, 0};
    auto read = [](void *ctx, void *buf, uint64_t n) -> uint64_t {
        Pipe *p = (Pipe *)ctx;
        uint64_t k = std::min<uint64_t>({n, 1 + p->at % 7, p->s->size() - p->at});
        memcpy(buf, p->s->data() + p->at, (size_t)k);
        p->at += (size_t)k;
        return k;
    };
    WavReader r;
    *rc = wav_reader_open(&r, read, &pipe, nullptr, 0);
    *rate = r.info.rate;
    std::vector<float> got;
    float block[37];
    for (uint64_t n, max = 1; (n = wav_reader_read(&r, block, max)) > 0; max = max % 37 + 1)
        got.insert(got.end(), block, block + n);
    wav_reader_close(&r);
    return got;
}

TEST(Wav, ReadForwardTheSoundIsTheWholeFilesSound) {
    std::string stereo24;
    for (uint32_t i = 0; i < 300; i++) stereo24 += le(i * 27000, 3) + le(0u - i * 999, 3);
    Buf tone;
    gen_digit_samples(&tone, 3, 0.01, 0.0);
    struct Case {
        std::string bytes;
        uint64_t samples;
    } cases[] = {
        // The last frame is cut short.
        {riff(chunk("fmt ", fmt_body(2, 96000, 24)) + chunk("LIST", "odd") +
              chunk("data", stereo24 + "\x01")),
         300},
        {wav_image(&tone, 22050, 1, 16) + chunk("LIST", "after the sound"), tone.len},
        {wav_image(&tone, 8000, 3, 8), tone.len},
    };
    for (const Case &c : cases) {
        Buf whole;
        uint32_t rate = 0, whole_rate = 0;
        int32_t rc = -1;
        ASSERT_EQ(load_wav_mono_float_mem((const uint8_t *)c.bytes.data(), c.bytes.size(), &whole,
                                          &whole_rate),
                  0);
        std::vector<float> got = read_forward(c.bytes, &rc, &rate);
        EXPECT_TRUE(rc == 0 && rate == whole_rate && whole.len == c.samples);
        ASSERT_EQ(got.size(), whole.len);
        EXPECT_EQ(0, memcmp(got.data(), whole.data, got.size() * sizeof(float)));
    }

    // Recorders writing to a pipe cannot fill in the sizes: the sound runs to the end.
    for (uint32_t untold : {0u, 0x7FFFF000u, 0xFFFFFFFFu}) {
        const std::string f = "RIFF" + le(untold, 4) + "WAVE" +
                              chunk("fmt ", fmt_body(1, 8000, 16)) + "data" + le(untold, 4) +
                              std::string(16, '\x10');
        int32_t rc = -1;
        uint32_t rate = 0;
        Buf whole;
        EXPECT_EQ(read_forward(f, &rc, &rate).size(), 8u) << untold;
        EXPECT_EQ(load_wav_mono_float_mem((const uint8_t *)f.data(), f.size(), &whole, &rate), 0);
        EXPECT_EQ(whole.len, 8u) << untold;
    }
}
