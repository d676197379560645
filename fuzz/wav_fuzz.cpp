// libFuzzer target for the WAV reader. Each input is read from memory and
// through a stream (the file reader's own code, on an fmemopen stream so no
// disk is touched), and both readings and both header verdicts must agree;
// read forward only, a few bytes at a time as from a pipe, it must give the
// same sound wherever it starts at the same chunk with the same format.
// Whatever loads is then resampled and run through the file decoder.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <vector>
#include "core/dtmf_core.h"

// Work that grows with the length of a load and not with its bytes' shape
// (the decoder's frames, a low rate's resampling to 44,100 Hz) is cut to a
// few frames' worth: more of the same found nothing new and cost most of
// the time.
static const uint64_t DETECT_SAMPLES = 2048 + 3 * 1024;
static const uint64_t RESAMPLE_INPUT = 4096;
static const double RESAMPLE_OUTPUT = 16384;

static int32_t count_frames(void *ctx, uint64_t, int32_t det, int32_t, float, float) {
    if (det < -1 || det > 6) abort();
    ++*static_cast<uint64_t *>(ctx);
    return 0;
}

// A pipe handing out a few bytes at a time: position, end, start.
static uint64_t trickle(void *ctx, void *buf, uint64_t n) {
    const uint8_t **p = static_cast<const uint8_t **>(ctx);
    uint64_t k = std::min<uint64_t>({n, (uint64_t)(p[1] - p[0]), 1 + (uint64_t)(p[0] - p[2]) % 13});
    memcpy(buf, p[0], k);
    p[0] += k;
    return k;
}

static void same_when_read_forward(const uint8_t *data, size_t size, const SampleBuf &whole) {
    static const uint8_t none = 0;
    const uint8_t *start = data ? data : &none, *pipe[3] = {start, start + size, start};
    WavReader fw, mem;
    wav_reader_open(&fw, trickle, pipe, nullptr, 0);
    wav_reader_open_mem(&mem, data, size, nullptr, 0);
    const WavInfo &a = fw.info, &b = mem.info;
    const int same_start = fw.readable && mem.readable && fw.pos == mem.pos &&
                           a.format_tag == b.format_tag && a.channels == b.channels &&
                           a.rate == b.rate && a.bits == b.bits;
    std::vector<float> got(size + 7);
    uint64_t n = 0;
    for (uint64_t k = 1; k && n <= size; n += k) k = wav_reader_read(&fw, &got[n], 1 + n % 7);
    if (n > size ||
        (same_start && (n != whole.len || (n && memcmp(&got[0], whole.data, n * sizeof(float))))))
        abort();
    wav_reader_close(&fw);
    wav_reader_close(&mem);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // fmemopen refuses a zero-sized buffer: the empty input is read from memory only.
    FILE *f = size ? fmemopen((void *)data, size, "rb") : nullptr;
    if (size && !f) abort();

    SampleBuf mem = {nullptr, 0, 0}, file = {nullptr, 0, 0};
    uint32_t mem_rate = 7, file_rate = 7;
    int32_t a = load_wav_mono_float_mem(data, size, &mem, &mem_rate);
    int32_t b = size ? load_wav_mono_float_stream(f, &file, &file_rate) : -1;
    if (a != b || mem_rate != file_rate || mem.len != file.len) abort();
    if (mem.len && memcmp(mem.data, file.data, mem.len * sizeof(float)) != 0) abort();
    if (a == 0 && (mem_rate == 0 || mem.len > size)) abort();
    same_when_read_forward(data, size, mem);

    WavInfo im, is;
    char wm[200], ws[200];
    memset(&im, 0x55, sizeof im);
    memset(&is, 0x55, sizeof is);
    int32_t rm = wav_read_info_mem(data, size, &im, wm, sizeof wm);
    if ((rm == 0) != (wm[0] == '\0')) abort();
    if (size && (wav_read_info_stream(f, &is, ws, sizeof ws) != rm || strcmp(wm, ws) != 0 ||
                 memcmp(&im, &is, sizeof im) != 0))
        abort();
    if (f) fclose(f);
    // What the verdict passes, the readers load.
    if (rm == 0 && (a != 0 || im.rate != mem_rate || im.data_bytes > size)) abort();

    if (a == 0 && mem.len) {
        SampleBuf head = {mem.data, mem.len < RESAMPLE_INPUT ? mem.len : RESAMPLE_INPUT, 0};
        if ((double)head.len * 44100.0 / mem_rate < RESAMPLE_OUTPUT) {
            SampleBuf at44 = {nullptr, 0, 0};
            resample_linear(&head, (int32_t)mem_rate, 44100, &at44);
            if (at44.len == 0) abort();
            sb_free(&at44);
        }
        uint64_t n = mem.len < DETECT_SAMPLES ? mem.len : DETECT_SAMPLES;
        DigitStream ds;
        digit_stream_reset(&ds);
        uint64_t frames = 0;
        detect_frames(mem.data, n, (int32_t)mem_rate, 2048, 1024, 0.3f, (int32_t)(size & 1), &ds,
                      count_frames, &frames);
        if (n >= 2048 && frames != (n - 2048) / 1024 + 1) abort();
    }
    sb_free(&mem);
    sb_free(&file);
    return 0;
}
