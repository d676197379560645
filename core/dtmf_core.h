/*
 * dtmf_core -- Tessary's signal core: tone plan, digit codes, synthesis,
 * WAV files, station identification and tone detection.
 *
 * Plain computation on 32-bit float samples; no platform headers, no globals
 * (beyond constant tables), safe to call from any thread on distinct data.
 *
 * Conventions
 *   - Functions that can fail return 0 for success and -1 for failure.
 *   - SampleBuf: zero it (or sb_init) before use, release with sb_free. Every
 *     function that fills a buffer appends; it never clears it first. A
 *     buffer that cannot grow ends the process ("out of memory", exit 1).
 *   - Digit streams returned by encode_text / encode_bytes_hex are malloc'd
 *     arrays of digits 0-6; the caller releases them with free(). They are
 *     null (count 0) only when the array cannot be allocated.
 *   - Byte arrays returned by hex_string_to_bytes are malloc'd; free() them.
 *   - All synthesis happens at 44,100 samples per second.
 *
 * Usage
 *   dtmf_row_freq, dtmf_col_freq, dtmf_pair_to_digit       tone plan
 *   sb_init, sb_free, sb_reserve, sb_append,
 *   sb_append_silence, sb_append_buf                       sample buffer
 *   letter_to_num, num_to_letter, num_to_pair7, pair7_to_num,
 *   encode_text, hex_nibble_to_pair6, pair6_to_hex_nibble,
 *   encode_bytes_hex, hex_string_to_bytes                  digit codes
 *   envelope_apply, gen_digit_samples, gen_digits_samples,
 *   repeater_modulate                                      synthesis
 *   save_wav, load_wav_mono_float[_mem], resample_linear,
 *   sample_to_pcm16                                        WAV files
 *   morse_pattern_for_char, build_morse_samples,
 *   load_callsign_audio, build_id_block,
 *   build_transmission_samples                             station ID
 *   goertzel_mag, detect_digit_in_frame,
 *   detect_digit_in_frame_repeater, digit_stream_reset,
 *   digit_stream_feed, detect_frames                       detection
 *   speed_to_tone_gap, build_station_transmission,
 *   server_request_digits, digits_to_text,
 *   digits_to_hex_text                                     shared helpers
 */
#ifndef TESSARY_DTMF_CORE_H
#define TESSARY_DTMF_CORE_H

#include <stddef.h>
#include <stdint.h>

/* ---- Tone plan -------------------------------------------------------
 *
 *              1209 Hz   1336 Hz   1477 Hz
 *    697 Hz      1         2         3
 *    770 Hz      4         5         6
 *    941 Hz      -         0         -
 */
extern const int32_t ROW_FREQS[3];
extern const int32_t COL_FREQS[3];
extern const int32_t DIGIT_ROW[7];
extern const int32_t DIGIT_COL[7];

int32_t dtmf_row_freq(uint32_t digit);
int32_t dtmf_col_freq(uint32_t digit);
int32_t dtmf_pair_to_digit(int32_t row_hz, int32_t col_hz);

/* ---- Sample buffer ---------------------------------------------------- */
struct SampleBuf {
    float *data;
    uint64_t len;
    uint64_t cap;
};

void sb_init(SampleBuf *b);
void sb_free(SampleBuf *b);
void sb_reserve(SampleBuf *b, uint64_t extra);
void sb_append(SampleBuf *b, const float *src, uint64_t n);
void sb_append_silence(SampleBuf *b, uint64_t n);
void sb_append_buf(SampleBuf *dst, const SampleBuf *src);

/* ---- Digit codes ------------------------------------------------------ */
extern const char HEX_CHARS[17];

int32_t letter_to_num(char c);
char num_to_letter(int32_t n);
void num_to_pair7(int32_t n, int32_t *hi, int32_t *lo);
int32_t pair7_to_num(int32_t hi, int32_t lo);
uint32_t *encode_text(const char *text, uint64_t *out_count);

void hex_nibble_to_pair6(int32_t v, int32_t *hi, int32_t *lo);
int32_t pair6_to_hex_nibble(int32_t hi, int32_t lo);
uint32_t *encode_bytes_hex(const uint8_t *bytes, uint64_t n, uint64_t *out_count);
uint8_t *hex_string_to_bytes(const char *chars, uint64_t len, uint64_t *out_n,
                             const char **out_err);

/* ---- Synthesis -------------------------------------------------------- */
#define DTMF_SAMPLE_RATE 44100

void envelope_apply(float *s, uint64_t n, uint64_t ramp);
void gen_digit_samples(SampleBuf *b, uint32_t digit, double tone_s, double gap_s);
/* In repeater mode only the block appended by this call is disguised, its
 * first sample at carrier phase 0; samples already in b stay as they were. */
void gen_digits_samples(SampleBuf *b, const uint32_t *digits, uint64_t count,
                        int32_t repeater, double tone_s, double gap_s);
void repeater_modulate(float *s, uint64_t n, int32_t rate);

/* ---- WAV files and resampling ----------------------------------------- */
int32_t save_wav(const char *path, const SampleBuf *b);
int32_t load_wav_mono_float(const char *path, SampleBuf *out, uint32_t *out_rate);
void resample_linear(const SampleBuf *in, int32_t from_rate, int32_t to_rate,
                     SampleBuf *out);

/* save_wav returns -1 also when writing or closing fails (a full disk) and,
 * without touching the file, for a buffer whose size the 32-bit header
 * fields cannot hold (more than 2,147,483,629 samples). The readers treat a
 * "fmt " chunk with sample rate 0 (or above 2^31 - 1) as unreadable (-1),
 * append nothing on failure, and size nothing from a header field beyond
 * the bytes the file really holds. */

/* load_wav_mono_float on a file image already in memory. */
int32_t load_wav_mono_float_mem(const uint8_t *data, uint64_t size, SampleBuf *out,
                                uint32_t *out_rate);

/* The 16-bit rule of WAV writing and playback: above +1.0 gives 32767,
 * otherwise limited to -1.0, times 32767, truncated; NaN gives 0. */
int16_t sample_to_pcm16(float v);

/* ---- Station identification and transmission assembly ----------------- */
extern const char *const MORSE_TABLE[36];

const char *morse_pattern_for_char(char c);
void build_morse_samples(const char *text, SampleBuf *out);
int32_t load_callsign_audio(const char *folder, const char *callsign, SampleBuf *out,
                            char *err, uint64_t err_size);
int32_t build_id_block(const char *folder, const SampleBuf *callsign, SampleBuf *out,
                       char *err, uint64_t err_size);
void build_transmission_samples(const uint32_t *digits, uint64_t count,
                                 const SampleBuf *periodic_id, const SampleBuf *final_id,
                                 int32_t repeater, double tone_s, double gap_s,
                                 SampleBuf *out);

/* ---- Detection -------------------------------------------------------- */
struct DigitStream {
    int32_t last_digit;
    int32_t run_frames;
    int32_t emitted;
};

float goertzel_mag(const float *s, uint64_t count, int32_t rate, int32_t freq);
int32_t detect_digit_in_frame(const float *s, uint64_t count, int32_t rate, float threshold,
                              float *row_level, float *col_level);
int32_t detect_digit_in_frame_repeater(const float *s, uint64_t count, int32_t rate,
                                       float threshold, float *row_level, float *col_level);
void digit_stream_reset(DigitStream *ds);
int32_t digit_stream_feed(DigitStream *ds, int32_t detection);

/* Frame-by-frame decoding of a whole sample array, the way file decoding
 * works: frames of frame_len samples starting at 0, hop, 2*hop ... while a
 * whole frame fits; each frame runs the plain or repeater detector (by
 * `repeater`) at `rate` with `threshold`, its result is fed to `ds`, and
 * `visit` (may be null) is called with the frame's start sample, the raw
 * detection, the digit the stream reported (-1 for none) and both levels.
 * A non-zero return from `visit` stops the walk. Returns the number of
 * frames examined. With frame_len 2048 and hop 1024 it shares the work of
 * each half-frame between the two frames that contain it, and gives exactly
 * what detect_digit_in_frame[_repeater] gives frame by frame. */
typedef int32_t (*FrameVisitor)(void *ctx, uint64_t start, int32_t detection,
                                int32_t digit, float row_level, float col_level);
uint64_t detect_frames(const float *s, uint64_t count, int32_t rate, uint64_t frame_len,
                       uint64_t hop, float threshold, int32_t repeater, DigitStream *ds,
                       FrameVisitor visit, void *ctx);

/* ---- Shared by the program and tessary-cli ---------------------------- */

/* Tone and gap lengths for a speed in percent (below 1 counts as 1):
 * 0.18 s and 0.09 s at 100 %. */
void speed_to_tone_gap(int32_t percent, double *tone_s, double *gap_s);

/* A complete digit transmission with station identification, as the
 * program plays and saves it. Empty callsign (no letters or digits): the
 * digit block alone. Otherwise the callsign ID (Morse when cw is non-zero,
 * else clips from audio_dir) at the start and every ten minutes, and the
 * closing ID block (callsign ID, 50 ms, "website.wav") at the end.
 * Returns 0, or -1 with the missing file's path in err and out untouched. */
int32_t build_station_transmission(const uint32_t *digits, uint64_t count,
                                   const char *audio_dir, const char *callsign, int32_t cw,
                                   int32_t repeater, double tone_s, double gap_s,
                                   SampleBuf *out, char *err, uint64_t err_size);

/* The server exchange: request digits are the four directory digits
 * ("0"-"6" each) followed by the letter code of the message, at most
 * SERVER_MAX_DIGITS; the end marker follows the request as a block of its
 * own. server_request_digits returns a malloc'd array (free() it), or null
 * when dir is not exactly four characters "0"-"6". */
#define SERVER_MAX_DIGITS 8300
extern const uint32_t SERVER_MARKER[7]; /* 6 5 4 3 2 1 0 */
uint32_t *server_request_digits(const char *dir, const char *message, uint64_t *out_count);

/* Received digits read as the receiving pages read them, pair by pair
 * (first digit high). Text: num_to_letter(pair7_to_num(hi, lo)), so 27-48
 * give "?". Hex: HEX_CHARS[pair6_to_hex_nibble(hi, lo)], "?" above 15. An
 * unpaired last digit gives nothing. Output is NUL-terminated and cut to
 * out_size - 1 characters; returns the number of characters written. */
uint64_t digits_to_text(const int32_t *digits, uint64_t n, char *out, uint64_t out_size);
uint64_t digits_to_hex_text(const int32_t *digits, uint64_t n, char *out, uint64_t out_size);

#endif
