// Tone synthesis, the repeater disguise, callsign clips and transmission layouts.
#include "core_test_util.h"
#include "core/core_internal.h"
#include <math.h>
#include <string.h>
#include <filesystem>

static const uint64_t S = 13230; // silence around every identification

TEST(Synth, CopiedBurstsAndTheRepeater) {
    Buf one, b;
    gen_digit_samples(&one, 1, 0.18, 0.09);
    float four[4] = {1, 1, 1, 1};
    envelope_apply(four, 4, 529); // a ramp longer than the tone
    EXPECT_EQ(std::vector<float>(four, four + 4), (std::vector<float>{0, 1, 1, 0}));

    const uint32_t digits[] = {0, 1, 2, 3, 4, 5, 6, 7, 3, 3, 9, 0, 6};
    for (int rep = 0; rep < 2; rep++) {
        Buf fast, slow;
        gen_digits_samples(&fast, digits, 13, rep, 0.05, 0.02);
        sb_append_silence(&slow, BLOCK_LEAD_IN_SAMPLES);
        for (uint32_t d : digits) gen_digit_samples(&slow, d, 0.05, 0.02);
        sb_append_silence(&slow, BLOCK_TAIL_SAMPLES);
        if (rep) repeater_modulate(slow.data, slow.len, 44100);
        ASSERT_TRUE(fast.len == slow.len && digit_block_samples(13, 0.05, 0.02) == fast.len);
        EXPECT_EQ(memcmp(fast.data, slow.data, fast.len * sizeof(float)), 0) << "repeater " << rep;
    }

    // No digits: nothing at all; a tone is at least one sample; a length that cannot be held saturates.
    EXPECT_EQ(digit_block_samples(0, 0.18, 0.09) + digit_block_samples(2, 1e-9, -1),
              BLOCK_LEAD_IN_SAMPLES + 2u + BLOCK_TAIL_SAMPLES);
    EXPECT_EQ(digit_block_samples(UINT64_MAX / 2, 0.18, 0.09), UINT64_MAX);
    sb_append_silence(&b, 7); // what the caller already had stays untouched
    b.data[3] = 0.75f;
    gen_digits_samples(&b, digits + 1, 1, 1, 0.18, 0.09);
    sb_append_buf(&b, &b); // from itself, across a reallocation
    EXPECT_TRUE(b.data[3] == 0.75f && b.data[b.len / 2 + 3] == 0.75f);
    for (uint64_t i = 0; i < one.len; i++) // the disguise multiplies by an 1800 Hz carrier
        ASSERT_NEAR(b.data[7 + BLOCK_LEAD_IN_SAMPLES + i],
                    one.data[i] * cos(CORE_TWO_PI * REPEATER_CARRIER_HZ *
                                      (BLOCK_LEAD_IN_SAMPLES + i) / 44100.0),
                    1e-6)
            << i;
}

// A sink that checks each piece against the one-buffer render, in order;
// from call stop_at on it refuses.
struct SameAs {
    const SampleBuf *ref;
    uint64_t at = 0, calls = 0, stop_at = UINT64_MAX;
    bool same = true;
    static int32_t put(void *ctx, const float *s, uint64_t n) {
        SameAs *k = (SameAs *)ctx;
        if (k->calls++ >= k->stop_at) return -1;
        k->same = k->same && n && k->at + n <= k->ref->len &&
                  memcmp(s, k->ref->data + k->at, n * sizeof(float)) == 0;
        k->at += n;
        return 0;
    }
};

// Checks out = parts laid end to end (null: silence).
static void expect_layout(const SampleBuf *out,
                          std::vector<std::pair<const float *, uint64_t>> parts) {
    uint64_t at = 0, part = 0;
    for (auto &p : parts) {
        ASSERT_LE(at + p.second, out->len) << "part " << part;
        uint64_t i = 0;
        while (i < p.second && out->data[at + i] == (p.first ? p.first[i] : 0.0f)) i++;
        EXPECT_EQ(i, p.second) << "part " << part++ << " at sample " << at;
        at += p.second;
    }
    EXPECT_EQ(at, out->len);
}

TEST(Station, TransmissionLayouts) {
    Buf p, f, dr, e;
    const float pv[] = {0.25f, 1, 2, 3, 4}, fv[] = {-0.5f, -1, -2};
    sb_append(&p, pv, 5);
    sb_append(&f, fv, 3);
    const uint32_t digits[] = {2, 5};
    gen_digits_samples(&dr, digits, 2, 1, 0.18, 0.09);
    build_transmission_samples(digits, 2, &p, &f, 1, 0.18, 0.09, &e); // only digits disguised
    expect_layout(&e, {{pv, 5}, {nullptr, S}, {dr.data, dr.len}, {nullptr, S}, {fv, 3}});

    // 8820 samples per digit: 2999 digits fill exactly ten minutes, 3000 go 8820 over.
    const double tone = 5880.5 / 44100, gap = 2940.5 / 44100;
    std::vector<uint32_t> many(3000, 4);
    Buf long_d, exact, over;
    gen_digits_samples(&long_d, many.data(), 3000, 0, tone, gap);
    ASSERT_EQ(long_d.len, 26460000u + 8820);
    build_transmission_samples(many.data(), 3000, &p, nullptr, 0, tone, gap, &over);
    expect_layout(&over, {{pv, 5},
                          {nullptr, S},
                          {long_d.data, 26460000},
                          {nullptr, S},
                          {pv, 5},
                          {nullptr, S},
                          {long_d.data + 26460000, 8820},
                          {nullptr, S},
                          {pv, 5}});
    build_transmission_samples(many.data(), 2999, &p, nullptr, 0, tone, gap, &exact);
    EXPECT_EQ(exact.len, 5 + S + 26460000 + S + 5);
    EXPECT_TRUE(transmission_samples(3000, &p, nullptr, tone, gap) == over.len &&
                transmission_samples(2999, &p, &f, tone, gap) == exact.len - 2);
}

TEST(Station, IdentificationSignoffAndServerRequest) {
    std::string dir = temp_path("audio");
    std::error_code ignored; // a folder that cannot be made fails the saves below
    std::filesystem::create_directory(dir, ignored);
    for (const char *left : {"/website.wav", "/QRT.wav"})
        remove((dir + left).c_str()); // by an earlier run
    Buf a, b;
    sb_append_silence(&a, 300);
    a.data[0] = 0.5f;
    ASSERT_EQ(save_wav((dir + "/a.wav").c_str(), &a), 0);
    sb_append_silence(&b, 100); // b: 22050 Hz stereo 8-bit, so it is mixed and resampled
    b.data[0] = 1.0f;
    write_file(dir + "/b.wav", wav_image(&b, 22050, 2, 8));

    char err[1024] = "";
    Buf id, partial, out, full, morse, block;
    ASSERT_EQ(load_callsign_audio(dir.c_str(), "A-b", &id, err, sizeof err), 0);
    ASSERT_EQ(id.len, 300u + 2205 + 200);
    EXPECT_TRUE(fabsf(id.data[0] - 0.5f) < 1e-4 && id.data[300 + 2205] == 127.0f / 128);
    sb_append_silence(&partial, 1);
    EXPECT_EQ(build_callsign_id(dir.c_str(), "ax", 0, &partial, err, sizeof err), -1);
    EXPECT_TRUE(err == dir + "/x.wav" && partial.len == 1u); // a missing clip adds nothing

    const uint32_t digits[] = {4};
    auto station = [&](const char *callsign, int32_t cw, SampleBuf *o) {
        return build_station_transmission(digits, 1, dir.c_str(), callsign, cw, 0, 0.18, 0.09, o,
                                          err, sizeof err);
    };
    gen_digits_samples(&block, digits, 1, 0, 0.18, 0.09);
    EXPECT_EQ(station("e", 1, &out), -1);
    EXPECT_EQ(std::string(err), dir + "/website.wav"); // CW still needs the closing clip
    EXPECT_EQ(station("!", 0, &out), 0);
    expect_layout(&out, {{block.data, block.len}}); // no callsign: no identification

    write_file(dir + "/website.wav", read_file(dir + "/a.wav"));
    build_morse_samples("e", &morse);
    ASSERT_EQ(station("E", 1, &full), 0);
    ASSERT_EQ(full.len, morse.len + S + block.len + S + morse.len + 2205 + 300);
    EXPECT_TRUE(memcmp(full.data, morse.data, morse.len * 4) == 0 &&
                fabsf(full.data[full.len - 300] - 0.5f) < 1e-4);

    // Signing off: a silent one is no sign-off, and a failure leaves out alone.
    const std::string qrt = dir + "/QRT.wav";
    Buf signoff, server, two_step;
    EXPECT_EQ(build_signoff(dir.c_str(), &morse, &signoff, err, sizeof err), -1);
    EXPECT_EQ(std::string(err), "Missing: " + qrt);
    write_file(qrt, riff(chunk("fmt ", fmt_body(1, 8000, 16)) + chunk("data", "")));
    EXPECT_EQ(build_signoff(dir.c_str(), &morse, &signoff, err, sizeof err), -1);
    EXPECT_EQ(std::string(err), "Cannot read: " + qrt);
    write_file(qrt, read_file(dir + "/b.wav"));
    ASSERT_EQ(build_signoff(dir.c_str(), &morse, &signoff, err, sizeof err), 0);
    ASSERT_EQ(signoff.len, morse.len + S + 200);
    EXPECT_TRUE(memcmp(signoff.data, morse.data, morse.len * 4) == 0 &&
                signoff.data[morse.len + S] == 127.0f / 128);

    // A request and its end marker, each a block of its own (own carrier phase).
    uint64_t n = 0;
    uint32_t *d = server_request_digits("0123", "Hi there", &n);
    ASSERT_EQ(build_station_transmission(d, n, dir.c_str(), "K1", 1, 1, 0.1, 0.05, &two_step, err,
                                         sizeof err),
              0);
    free(d);
    gen_digits_samples(&two_step, SERVER_MARKER, 7, 1, 0.1, 0.05);
    ASSERT_EQ(build_server_transmission("0123", "Hi there", dir.c_str(), "K1", 1, 1, 0.1, 0.05,
                                        &server, err, sizeof err),
              0);
    ASSERT_TRUE(server.len == two_step.len &&
                memcmp(server.data, two_step.data, server.len * 4) == 0);
    EXPECT_EQ(build_server_transmission("0173", "Hi", dir.c_str(), "", 0, 0, 0.1, 0.05, &signoff,
                                        err, sizeof err),
              -2);
    EXPECT_EQ(build_server_transmission("0123", "Hi", dir.c_str(), "Q", 0, 0, 0.1, 0.05, &signoff,
                                        err, sizeof err),
              -1);
    EXPECT_TRUE(err == dir + "/q.wav" && signoff.len == morse.len + S + 200); // left alone
}

TEST(Station, StreamedAsRendered) {
    std::string dir = temp_path("clips");
    std::error_code ignored;
    std::filesystem::create_directory(dir, ignored);
    Buf site;
    sb_append_silence(&site, 50);
    ASSERT_EQ(save_wav((dir + "/website.wav").c_str(), &site), 0);
    const uint32_t digits[] = {1, 3, 5, 0, 9, 2};
    char err[1024] = "";
    for (const char *call : {"K1", ""})
        for (int request = 0; request < 2; request++) {
            SCOPED_TRACE(std::string(call) + (request ? " request" : ""));
            Buf whole;
            StationTx tx;
            const char *d = dir.c_str();
            ASSERT_EQ(request
                          ? server_tx_init(&tx, "0123", "Hi", d, call, 1, 1, 0.1, 0.05, err, 1024)
                          : station_tx_init(&tx, digits, 6, d, call, 1, 1, 0.1, 0.05, err, 1024),
                      0);
            if (request)
                build_server_transmission("0123", "Hi", d, call, 1, 1, 0.1, 0.05, &whole, err,
                                          1024);
            else
                build_station_transmission(digits, 6, d, call, 1, 1, 0.1, 0.05, &whole, err, 1024);
            SameAs k{&whole}, stopped{&whole};
            EXPECT_EQ(station_tx_samples(&tx), whole.len); // known before the first sample
            EXPECT_EQ(station_tx_stream(&tx, SameAs::put, &k), 0);
            EXPECT_TRUE(k.same && k.at == whole.len && k.calls > 2);
            stopped.stop_at = k.calls / 2;
            EXPECT_EQ(station_tx_stream(&tx, SameAs::put, &stopped), -1);
            EXPECT_EQ(stopped.calls, k.calls / 2 + 1); // a refused piece ends the stream at once
            station_tx_free(&tx);
        }
    StationTx bad; // a failed start leaves nothing to send and nothing to leak
    EXPECT_EQ(server_tx_init(&bad, "0193", "Hi", dir.c_str(), "", 0, 0, 0.1, 0.05, err, 1024), -2);
    EXPECT_EQ(station_tx_samples(&bad), 0u);
    station_tx_free(&bad);
}
