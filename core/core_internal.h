/*
 * Pieces of the signal core shared between its own source files, its tests,
 * the fuzzer and the benchmarks. Not part of the public contract.
 */
#ifndef TESSARY_CORE_INTERNAL_H
#define TESSARY_CORE_INTERNAL_H

#include <stdint.h>
#include "core/dtmf_core.h"

#define CORE_TWO_PI 6.283185307179586

/* Both sines of a digit at 0.44 each; held in single precision on purpose
 * so the synthesised values match a float-based transmitter bit for bit. */
#define CORE_TONE_AMP 0.44f

/* Reports the fatal "out of memory" and ends the process (exit status 1). */
void core_out_of_memory(void);

/* The bin magnitude straight from its definition: a single-bin DFT by
 * correlation, one sine and one cosine per sample. The fast forms are
 * checked against this. */
float goertzel_mag_direct(const float *s, uint64_t count, int32_t rate, int32_t freq);

/* One digit's tone burst (without its gap), computed sample by sample. */
void core_render_burst(float *dst, uint32_t digit, uint64_t n);
/* The same for any tone pair (the tests' keys beyond 0-6). */
void core_render_pair(float *dst, int32_t row_hz, int32_t col_hz, uint64_t n);

/* encode_bytes_hex's loop into memory the caller owns (4 n digits). */
void encode_bytes_hex_into(const uint8_t *bytes, uint64_t n, uint32_t *out);

#endif
