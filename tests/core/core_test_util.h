// Helpers for the core, CLI and Windows tests: temporary files and
// hand-built WAV images.
#ifndef TESSARY_CORE_TEST_UTIL_H
#define TESSARY_CORE_TEST_UTIL_H

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdint.h>
#include <stdlib.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include "core/dtmf_core.h"

// A SampleBuf released at the end of the test.
struct Buf : SampleBuf {
    Buf() : SampleBuf{nullptr, 0, 0} {}
    Buf(const Buf &) = delete;
    ~Buf() { sb_free(this); }
};

inline std::string temp_path(const std::string &name) {
    const testing::TestInfo *t = testing::UnitTest::GetInstance()->current_test_info();
    return testing::TempDir() + "tessary_" + t->test_suite_name() + "_" + t->name() + "_" + name;
}

inline void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary);
    ASSERT_TRUE(f.write(bytes.data(), (std::streamsize)bytes.size()).flush()) << path;
}

inline std::string read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline std::string le(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; i++) s += (char)(v >> (8 * i));
    return s;
}

inline std::string chunk(const std::string &id, const std::string &body) {
    return id + le((uint32_t)body.size(), 4) + body + (body.size() & 1 ? std::string(1, '\0') : "");
}

inline std::string fmt_body(uint32_t channels, uint32_t rate, uint32_t bits, uint32_t tag = 1) {
    uint32_t frame = channels * bits / 8;
    return le(tag, 2) + le(channels, 2) + le(rate, 4) + le(rate * frame, 4) + le(frame, 2) +
           le(bits, 2);
}

inline std::string riff(const std::string &chunks) {
    return "RIFF" + le(4 + (uint32_t)chunks.size(), 4) + "WAVE" + chunks;
}

// A whole file as recorders write it (an odd extra chunk before the data);
// samples in [-1, 1], 8 or 16 bits, every channel carries the same value.
inline std::string wav_image(const SampleBuf *b, uint32_t rate, uint32_t channels, uint32_t bits) {
    std::string data;
    for (uint64_t i = 0; i < b->len; i++)
        for (uint32_t c = 0; c < channels; c++)
            data += le(bits == 8 ? (uint32_t)(128 + (int)(b->data[i] * 127))
                                 : (uint32_t)(int32_t)(b->data[i] * 32767),
                       (int)bits / 8);
    return riff(chunk("fmt ", fmt_body(channels, rate, bits)) + chunk("LIST", "odd") +
                chunk("data", data));
}

inline std::vector<int32_t> text_digits(const char *t) {
    uint64_t n = 99;
    uint32_t *d = encode_text(t, &n);
    std::vector<int32_t> v(d, d + n);
    free(d);
    return v;
}

// One digit's tone and gap at 100 %, in samples: the pace of a block.
static const uint64_t DIGIT_PER_100 =
    digit_block_samples(1, TONE_S_AT_100, GAP_S_AT_100) - BLOCK_PAUSE_SAMPLES;

#endif
