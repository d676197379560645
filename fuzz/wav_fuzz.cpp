// libFuzzer target for the WAV reader. Each input is read from memory and
// from a file, and both readings must agree; whatever loads is then
// resampled and run through the file decoder at its own rate.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include "core/dtmf_core.h"

static char g_path[64];

static int32_t count_frames(void *ctx, uint64_t, int32_t det, int32_t, float, float)
{
    if (det < -1 || det > 6) abort();
    ++*static_cast<uint64_t *>(ctx);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!g_path[0]) {
        snprintf(g_path, sizeof g_path, "/tmp/tessary-wav-fuzz-XXXXXX");
        int fd = mkstemp(g_path);
        if (fd < 0) abort();
        close(fd);
    }
    FILE *f = fopen(g_path, "wb");
    if (!f) abort();
    fwrite(data, 1, size, f);
    fclose(f);

    SampleBuf mem = {nullptr, 0, 0}, file = {nullptr, 0, 0};
    uint32_t mem_rate = 7, file_rate = 7;
    int32_t a = load_wav_mono_float_mem(data, size, &mem, &mem_rate);
    int32_t b = load_wav_mono_float(g_path, &file, &file_rate);
    if (a != b || mem_rate != file_rate || mem.len != file.len) abort();
    if (mem.len && memcmp(mem.data, file.data, mem.len * sizeof(float)) != 0) abort();
    if (a == 0 && (mem_rate == 0 || mem.len > size)) abort();

    if (a == 0 && mem.len) {
        if ((double)mem.len * 44100.0 / mem_rate < 2e6) {
            SampleBuf at44 = {nullptr, 0, 0};
            resample_linear(&mem, (int32_t)mem_rate, 44100, &at44);
            if (at44.len == 0) abort();
            sb_free(&at44);
        }
        DigitStream ds;
        digit_stream_reset(&ds);
        uint64_t frames = 0;
        detect_frames(mem.data, mem.len, (int32_t)mem_rate, 2048, 1024, 0.3f, (int32_t)(size & 1), &ds,
                      count_frames, &frames);
        if (mem.len >= 2048 && frames != (mem.len - 2048) / 1024 + 1) abort();
    }
    sb_free(&mem);
    sb_free(&file);
    return 0;
}
