// Speed of the signal core's heavy paths, measured with the shipped flags.
// "x_realtime" is seconds of audio handled per second of wall time.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>
#include <math.h>
#include <random>
#include <vector>
#include "core/core_internal.h"
#include "core/dtmf_core.h"

static const double TEN_MINUTES = 600.0;
static const uint64_t TEN_MIN_SAMPLES = 26460000;

// Ten minutes of digits at 100 % speed (270 ms each).
static std::vector<uint32_t> ten_minutes_of_digits() {
    std::vector<uint32_t> d((size_t)(TEN_MINUTES / 0.27));
    for (size_t i = 0; i < d.size(); i++) d[i] = (uint32_t)((i * 5 + i / 7) % 7);
    return d;
}

// A ten-minute recording in memory, as a file decode sees it.
static const SampleBuf *recording(int repeater) {
    static SampleBuf b[2];
    if (!b[repeater].len) {
        std::vector<uint32_t> d = ten_minutes_of_digits();
        gen_digits_samples(&b[repeater], d.data(), d.size(), repeater, 0.18, 0.09);
        sb_append_silence(&b[repeater], b[repeater].len < TEN_MIN_SAMPLES
                                            ? TEN_MIN_SAMPLES - b[repeater].len
                                            : 0);
        b[repeater].len = TEN_MIN_SAMPLES;
    }
    return &b[repeater];
}

static void BM_DecodeTenMinutes(benchmark::State &state) {
    const int repeater = (int)state.range(0);
    const SampleBuf *b = recording(repeater);
    uint64_t frames = 0;
    for (auto _ : state) {
        DigitStream ds;
        digit_stream_reset(&ds);
        frames = detect_frames(b->data, b->len, 44100, 2048, 1024, 0.3f, repeater, &ds, nullptr,
                               nullptr);
        benchmark::DoNotOptimize(frames);
    }
    state.counters["x_realtime"] =
        benchmark::Counter(TEN_MINUTES * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["frames"] = (double)frames;
}
BENCHMARK(BM_DecodeTenMinutes)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The plain ten minutes in white noise at an SNR of range(0) dB (the pair's
// power while it sounds over the noise's), then one gain so nothing clips:
// the frames between tones hold noise the detector must turn down.
static const SampleBuf *noisy_recording(int snr_db) {
    static SampleBuf b[2];
    SampleBuf *r = &b[snr_db < 0];
    if (!r->len) {
        const SampleBuf *clean = recording(0);
        sb_append_buf(r, clean);
        double tone2 = 0.0, n = 0.0;
        for (uint64_t i = 0; i < clean->len; i++)
            if (clean->data[i] != 0.0f) {
                tone2 += (double)clean->data[i] * clean->data[i];
                n++;
            }
        std::mt19937 rng(20240611);
        std::normal_distribution<double> g(0.0, sqrt(tone2 / n / pow(10.0, snr_db / 10.0)));
        float peak = 0.0f;
        for (uint64_t i = 0; i < r->len; i++) {
            r->data[i] += (float)g(rng);
            peak = fmaxf(peak, fabsf(r->data[i]));
        }
        for (uint64_t i = 0; i < r->len; i++) r->data[i] *= 0.97f / peak;
    }
    return r;
}

static void BM_DecodeTenMinutesNoisy(benchmark::State &state) {
    const SampleBuf *b = noisy_recording((int)state.range(0));
    uint64_t digits = 0;
    for (auto _ : state) {
        DigitStream ds;
        digit_stream_reset(&ds);
        digits = 0;
        detect_frames(b->data, b->len, 44100, 2048, 1024, 0.3f, 0, &ds,
                      [](void *ctx, uint64_t, int32_t, int32_t digit, float, float) -> int32_t {
                          *(uint64_t *)ctx += digit >= 0;
                          return 0;
                      },
                      &digits);
    }
    state.counters["x_realtime"] =
        benchmark::Counter(TEN_MINUTES * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["digits"] = (double)digits;
}
BENCHMARK(BM_DecodeTenMinutesNoisy)->Arg(0)->Arg(-6)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_DetectOneFrame(benchmark::State &state) {
    const int repeater = (int)state.range(0);
    const float *frame = recording(repeater)->data + 2205 + 3000;
    float rl, cl;
    for (auto _ : state) {
        int32_t d = repeater ? detect_digit_in_frame_repeater(frame, 2048, 44100, 0.3f, &rl, &cl)
                             : detect_digit_in_frame(frame, 2048, 44100, 0.3f, &rl, &cl);
        benchmark::DoNotOptimize(d);
    }
}
BENCHMARK(BM_DetectOneFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The definition, one sine and one cosine per sample and bin, for scale.
static void BM_DetectOneFrameDirect(benchmark::State &state) {
    const float *frame = recording(0)->data + 2205 + 3000;
    for (auto _ : state) {
        float m = 0;
        for (int i = 0; i < 3; i++) m += goertzel_mag_direct(frame, 2048, 44100, ROW_FREQS[i]);
        for (int i = 0; i < 3; i++) m += goertzel_mag_direct(frame, 2048, 44100, COL_FREQS[i]);
        benchmark::DoNotOptimize(m);
    }
}
BENCHMARK(BM_DetectOneFrameDirect)->Unit(benchmark::kMicrosecond);

static void BM_BuildTenMinuteBlock(benchmark::State &state) {
    std::vector<uint32_t> d = ten_minutes_of_digits();
    const double seconds = d.size() * 0.27;
    for (auto _ : state) {
        SampleBuf b = {nullptr, 0, 0};
        gen_digits_samples(&b, d.data(), d.size(), (int32_t)state.range(0), 0.18, 0.09);
        benchmark::DoNotOptimize(b.data);
        sb_free(&b);
    }
    state.counters["x_realtime"] =
        benchmark::Counter(seconds * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BuildTenMinuteBlock)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same into a buffer kept from the last round: the synthesis alone,
// without the kernel's cost of mapping 106 MB of fresh pages.
static void BM_BuildTenMinuteBlockReused(benchmark::State &state) {
    std::vector<uint32_t> d = ten_minutes_of_digits();
    const double seconds = d.size() * 0.27;
    SampleBuf b = {nullptr, 0, 0};
    gen_digits_samples(&b, d.data(), d.size(), (int32_t)state.range(0), 0.18, 0.09);
    for (auto _ : state) {
        b.len = 0;
        gen_digits_samples(&b, d.data(), d.size(), (int32_t)state.range(0), 0.18, 0.09);
        benchmark::DoNotOptimize(b.data);
    }
    sb_free(&b);
    state.counters["x_realtime"] =
        benchmark::Counter(seconds * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BuildTenMinuteBlockReused)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The floor under every fresh big buffer on this machine: allocate, touch
// once, free.
static void BM_FreshMemory(benchmark::State &state) {
    const size_t bytes = (size_t)state.range(0) << 20;
    for (auto _ : state) {
        char *p = (char *)malloc(bytes);
        memset(p, 1, bytes);
        benchmark::DoNotOptimize(p);
        free(p);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytes);
}
BENCHMARK(BM_FreshMemory)->Arg(106)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime();

static std::vector<uint8_t> &mebibytes(size_t n) {
    static std::vector<uint8_t> bytes;
    if (bytes.size() != n) {
        bytes.resize(n);
        for (size_t i = 0; i < n; i++) bytes[i] = (uint8_t)(i * 2654435761u >> 13);
    }
    return bytes;
}

// As callers use it: a fresh 16-bytes-per-byte array each time, so the
// figure includes the kernel handing out (and zeroing) a gibibyte of pages.
static void BM_EncodeBytesHex(benchmark::State &state) {
    std::vector<uint8_t> &in = mebibytes(64u << 20);
    for (auto _ : state) {
        uint64_t n;
        uint32_t *d = encode_bytes_hex(in.data(), in.size(), &n);
        benchmark::DoNotOptimize(d);
        free(d);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)in.size());
}
BENCHMARK(BM_EncodeBytesHex)->Unit(benchmark::kMillisecond)->UseRealTime();

// The encoding loop alone, into memory that is already mapped.
static void BM_EncodeBytesHexLoop(benchmark::State &state) {
    std::vector<uint8_t> &in = mebibytes(64u << 20);
    std::vector<uint32_t> out(in.size() * 4 + 1);
    for (auto _ : state) {
        encode_bytes_hex_into(in.data(), in.size(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)in.size());
}
BENCHMARK(BM_EncodeBytesHexLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
