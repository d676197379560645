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
 *   - stream_digits_samples, stream_transmission_samples and
 *     station_tx_stream hand a transmission to a SampleSink piece by piece,
 *     in memory that does not grow with its length; the one-buffer forms
 *     are built on them and give the very same samples.
 *
 * Usage
 *   dtmf_row_freq, dtmf_col_freq, dtmf_pair_to_digit       tone plan
 *   sb_init, sb_free, sb_reserve, sb_append,
 *   sb_append_silence, sb_append_buf                       sample buffer
 *   letter_to_num, num_to_letter, num_to_pair7, pair7_to_num,
 *   encode_text, hex_nibble_to_pair6, pair6_to_hex_nibble,
 *   encode_bytes_hex, hex_string_to_bytes                  digit codes
 *   envelope_apply, gen_digit_samples, gen_digits_samples,
 *   repeater_modulate, digit_block_samples,
 *   stream_digits_samples                                  synthesis
 *   wav_writer_begin, wav_writer_put, wav_writer_end,
 *   write_wav, save_wav, wav_reader_open[_file|_mem|_raw],
 *   wav_reader_read, wav_reader_close,
 *   load_wav_mono_float[_mem|_stream],
 *   wav_read_info[_mem|_stream], resample_linear,
 *   sample_to_pcm16                                        WAV files
 *   morse_pattern_for_char, build_morse_samples,
 *   load_callsign_audio, build_id_block,
 *   build_transmission_samples, transmission_samples,
 *   stream_transmission_samples                            station ID
 *   goertzel_mag, detect_digit_in_frame,
 *   detect_digit_in_frame_repeater, digit_stream_reset,
 *   digit_stream_feed, detect_frames                       detection
 *   digit_pacer_reset, digit_pacer_feed,
 *   digit_pacer_flush, digit_pacer_tick                    digit pace
 *   speed_to_tone_gap, build_callsign_id,
 *   build_station_transmission, build_signoff,
 *   server_request_digits, build_server_transmission,
 *   station_tx_init, server_tx_init, station_tx_samples,
 *   station_tx_stream, station_tx_free                     shared helpers
 *   rx_digits_init, rx_digits_free, rx_digits_clear,
 *   rx_digits_add, rx_digits_full, rx_pair_char,
 *   rx_digits_last_pair, rx_digits_chars, rx_digits_read   received digits
 *   resampler_*, decode_stream_*                           streaming
 */
#ifndef TESSARY_DTMF_CORE_H
#define TESSARY_DTMF_CORE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

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
/* A buffer that cannot grow ends the process (status 1): "out of memory" on
 * the standard error stream, or, once a program without one has set it,
 * through its report first (a window says so in a box). */
typedef void (*CoreFatalFn)(const char *what);
void core_set_fatal_report(CoreFatalFn report);

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
/* The callsign as it goes on the air: ASCII letters and digits only,
 * upper-cased, at most 255 kept. out holds at least 256 bytes. Returns the
 * length. */
uint64_t callsign_clean(const char *in, char *out);

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

/* The timing of a digit block on the air, which receivers rely on. At
 * 100 % a digit is a 180 ms tone and a 90 ms gap; the speed (50-500 %)
 * divides both. A block opens with 50 ms of silence for the receiver's
 * level to settle and closes with 150 ms so its last digit's frames end, so
 * the first tone of a block that follows another starts BLOCK_PAUSE_SAMPLES
 * later than the pace alone says (the end marker of a request). */
#define TONE_S_AT_100         0.18
#define GAP_S_AT_100          0.09
#define SPEED_MIN_PERCENT     50
#define SPEED_MAX_PERCENT     500
#define BLOCK_LEAD_IN_SAMPLES 2205
#define BLOCK_TAIL_SAMPLES    6615
#define BLOCK_PAUSE_SAMPLES   (BLOCK_LEAD_IN_SAMPLES + BLOCK_TAIL_SAMPLES)
static_assert(BLOCK_LEAD_IN_SAMPLES * 20 == DTMF_SAMPLE_RATE, "50 ms");
static_assert(BLOCK_TAIL_SAMPLES * 20 == DTMF_SAMPLE_RATE * 3, "150 ms");

/* Repeater mode moves each tone f to the sidebands 1800 +/- f. */
#define REPEATER_CARRIER_HZ 1800.0

void envelope_apply(float *s, uint64_t n, uint64_t ramp);
void gen_digit_samples(SampleBuf *b, uint32_t digit, double tone_s, double gap_s);
/* In repeater mode only the block appended by this call is disguised, its
 * first sample at carrier phase 0; samples already in b stay as they were. */
void gen_digits_samples(SampleBuf *b, const uint32_t *digits, uint64_t count, int32_t repeater,
                        double tone_s, double gap_s);
void repeater_modulate(float *s, uint64_t n, int32_t rate);
/* Exactly how many samples gen_digits_samples appends for count digits
 * (0 for none; UINT64_MAX when no buffer could hold them), so a caller can
 * turn a transmission away before rendering it. */
uint64_t digit_block_samples(uint64_t count, double tone_s, double gap_s);

/* Where piece-by-piece synthesis goes: n samples (n >= 1) valid for the
 * call only. Returns 0 to go on, -1 to stop the whole transmission. */
typedef int32_t (*SampleSink)(void *ctx, const float *s, uint64_t n);

/* gen_digits_samples piece by piece: digit_block_samples(count, ...) samples
 * in all, at most 16384 per call. Returns 0, or -1 when the sink stopped it.
 * Besides a piece it holds one burst per digit value sent. */
int32_t stream_digits_samples(const uint32_t *digits, uint64_t count, int32_t repeater,
                              double tone_s, double gap_s, SampleSink sink, void *ctx);

/* ---- WAV files and resampling ----------------------------------------- */

/* Largest buffer whose 16-bit data still fits the WAV header's 32-bit
 * RIFF size field (36 + 2 n <= 0xFFFFFFFF). */
#define WAV_MAX_SAMPLES 2147483629ull

/* Writers make the program's one format: 44-byte header, 16-bit mono,
 * 44,100 Hz. A buffer above WAV_MAX_SAMPLES is refused (-1) before a
 * single byte is written. write_wav hands the bytes to `write` in pieces
 * and stops at its first -1. save_wav returns -1 also when writing,
 * flushing or closing fails (a full disk). */
typedef int32_t (*WavWriteFn)(void *ctx, const void *data, uint64_t n); /* 0 or -1 */
int32_t write_wav(WavWriteFn write, void *ctx, const SampleBuf *b);
int32_t save_wav(const char *path, const SampleBuf *b);

/* The same file written as its samples come: wav_writer_begin writes the
 * header for exactly n samples (above WAV_MAX_SAMPLES: -1, nothing
 * written); wav_writer_put, a SampleSink whose ctx is the WavWriter, writes
 * samples; wav_writer_end returns 0 only when all n came and every write
 * succeeded. After a failure, or beyond n samples, every call returns -1
 * and writes nothing. */
struct WavWriter {
    WavWriteFn write;
    void *ctx;
    uint64_t left; /* samples the header still promises */
    int32_t failed;
};
int32_t wav_writer_begin(WavWriter *w, WavWriteFn write, void *ctx, uint64_t n);
int32_t wav_writer_put(void *writer, const float *s, uint64_t n);
int32_t wav_writer_end(const WavWriter *w);

/* What a WAV file's header says. format_tag is 1 for PCM, 3 for float (for
 * 0xFFFE the sub-format's tag). data_bytes is cut to the bytes present; read
 * forward only it is the size field, UINT64_MAX when the sound runs to the
 * end of the input. */
struct WavInfo {
    uint32_t format_tag;
    uint32_t channels;
    uint32_t rate;
    uint32_t bits;
    uint64_t data_bytes;
};

/* The one WAV reader: it walks the chunks, then gives the sound as mono
 * float samples (channels mixed) at the file's own rate, block by block,
 * holding 64 KiB of bytes whatever the input's length. It takes 8, 16, 24
 * and 32-bit integer PCM and 32 and 64-bit float, also inside
 * WAVE_FORMAT_EXTENSIBLE.
 *
 * It reads forward only, so a pipe will do: the first "data" chunk is the
 * sound, with the "fmt " chunk before it (none: 16-bit mono 44,100 Hz). A
 * source that can seek (memory, a seekable FILE, read from its start) may
 * have its "fmt " after the sound; read forward such a file is refused, as
 * it cannot be read right. The chunk walk ends at the first name that is
 * not four printable characters; a pad byte after an odd-sized chunk may be
 * missing. A "data" chunk whose size field is 0 or 0x7FFFF000 and up
 * (what recorders writing to a pipe put there), or any in an input known to
 * exceed 4 GiB, runs to the end of the input. Nothing is sized from a header
 * field.
 *
 * open returns 0 when the file holds sound for a person: a known sample
 * format, at least one channel, 1000-768000 Hz and a "data" chunk. Else -1
 * with a one-line reason in why ("not a WAV file (no RIFF/WAVE header)",
 * "sample rate 0 Hz is out of range (1000-768000)" ...). info is filled as
 * far as the header goes either way. `readable` may still be set after a
 * refusal: a compressed tag is read by its width, an unknown width or no
 * channel as silence; only no RIFF header, no "data" chunk, or a rate of 0
 * or above 2^31 - 1 leave it 0. wav_reader_read then writes up to max
 * samples: what is buffered, else what one read of the source brings, so a
 * live pipe's sound comes as it arrives; 0 only at the end (or when not
 * readable). wav_reader_close releases the buffer whatever open returned
 * (a FILE stays open).
 *
 * read returns the bytes it put in buf, fewer than n when that is what
 * there is so far, 0 at the end of the input (or on an error it keeps to
 * tell its caller). wav_reader_open_raw reads headerless 16-bit
 * little-endian mono PCM at `rate` the same way (-1 when the rate is out of
 * range). */
typedef uint64_t (*WavReadFn)(void *ctx, void *buf, uint64_t n);
struct WavReader {
    WavInfo info;
    int32_t readable;
    /* The reader's own. */
    WavReadFn read;
    void *ctx;
    const uint8_t *mem; /* memory and FILE sources can seek */
    FILE *f;
    uint64_t size; /* the source's length; UINT64_MAX when unknown */
    uint64_t pos;  /* bytes taken from the source */
    uint64_t left; /* bytes of sound still to read; UINT64_MAX: to the end */
    /* Bytes the data chunk declares that the input does not hold: known at
     * open for a source that can seek, else once the reading has ended. */
    uint64_t missing;
    uint32_t kind, bytes, channels, in_frame;
    float sum;
    uint8_t *buf;
    uint64_t buf_len, buf_at;
};
int32_t wav_reader_open(WavReader *r, WavReadFn read, void *ctx, char *why, uint64_t why_size);
int32_t wav_reader_open_file(WavReader *r, FILE *f, char *why, uint64_t why_size);
int32_t wav_reader_open_mem(WavReader *r, const uint8_t *data, uint64_t size, char *why,
                            uint64_t why_size);
int32_t wav_reader_open_raw(WavReader *r, WavReadFn read, void *ctx, uint32_t rate, char *why,
                            uint64_t why_size);
uint64_t wav_reader_read(WavReader *r, float *out, uint64_t max);
void wav_reader_close(WavReader *r);

/* The whole sound at once, through the reader: -1 (nothing appended) when
 * it is not readable. The path form opens the file and uses it. */
int32_t load_wav_mono_float(const char *path, SampleBuf *out, uint32_t *out_rate);
int32_t load_wav_mono_float_mem(const uint8_t *data, uint64_t size, SampleBuf *out,
                                uint32_t *out_rate);
int32_t load_wav_mono_float_stream(FILE *f, SampleBuf *out, uint32_t *out_rate);

/* The reader's verdict on a whole file, without its samples: 0, or -1 with
 * the reason in why ("cannot open the file" for a path that will not open). */
int32_t wav_read_info(const char *path, WavInfo *info, char *why, uint64_t why_size);
int32_t wav_read_info_mem(const uint8_t *data, uint64_t size, WavInfo *info, char *why,
                          uint64_t why_size);
int32_t wav_read_info_stream(FILE *f, WavInfo *info, char *why, uint64_t why_size);

/* Linear interpolation, no filtering. resample_linear gives round(n * to /
 * from) samples (at least 1) spread so that the first and the last equal the
 * input's first and last. The stream form (Resampler) steps at exactly
 * from/to instead, which gives the same samples for any split of the input
 * into blocks: feed appends every sample the input so far settles, finish
 * the rest up to the input's end. */
void resample_linear(const SampleBuf *in, int32_t from_rate, int32_t to_rate, SampleBuf *out);
struct Resampler {
    uint64_t from, to;
    uint64_t in_count;  /* input samples fed */
    uint64_t out_count; /* output samples given */
    float last;         /* input sample in_count - 1 */
};
void resampler_init(Resampler *r, int32_t from_rate, int32_t to_rate);
void resampler_feed(Resampler *r, const float *x, uint64_t n, SampleBuf *out);
void resampler_finish(Resampler *r, SampleBuf *out);

/* The 16-bit rule of WAV writing and playback: above +1.0 gives 32767,
 * otherwise limited to -1.0, times 32767, truncated; NaN gives 0. */
int16_t sample_to_pcm16(float v);

/* ---- Station identification and transmission assembly ----------------- */
extern const char *const MORSE_TABLE[36];

const char *morse_pattern_for_char(char c);
void build_morse_samples(const char *text, SampleBuf *out);
int32_t load_callsign_audio(const char *folder, const char *callsign, SampleBuf *out, char *err,
                            uint64_t err_size);
int32_t build_id_block(const char *folder, const SampleBuf *callsign, SampleBuf *out, char *err,
                       uint64_t err_size);
void build_transmission_samples(const uint32_t *digits, uint64_t count,
                                const SampleBuf *periodic_id, const SampleBuf *final_id,
                                int32_t repeater, double tone_s, double gap_s, SampleBuf *out);
/* What build_transmission_samples appends, counted (UINT64_MAX when no
 * buffer could hold it) and sent piece by piece (0, or -1 when the sink
 * stopped it). */
uint64_t transmission_samples(uint64_t count, const SampleBuf *periodic_id,
                              const SampleBuf *final_id, double tone_s, double gap_s);
int32_t stream_transmission_samples(const uint32_t *digits, uint64_t count,
                                    const SampleBuf *periodic_id, const SampleBuf *final_id,
                                    int32_t repeater, double tone_s, double gap_s, SampleSink sink,
                                    void *ctx);

/* ---- Detection -------------------------------------------------------- */

/* Where a detected pair sat: each tone's offset from where it belongs (Hz)
 * and how far noise may have moved it (spread, HUGE_VAL when the frame
 * could not tell). A sender holds its tones still from frame to frame;
 * two sweeps crossing a row and a column, or a voice's glide, move. */
struct PairTune {
    double row_hz, col_hz;
    double row_spread_hz, col_spread_hz;
};

/* A digit is reported once per run of frames that detect it: at the second
 * frame, or later while the pair's tuning still moves between frames. */
struct DigitStream {
    int32_t last_digit;
    int32_t run_frames;
    int32_t emitted;
    PairTune tune, tune_before; /* the last frame's, the one before it */
    float share;                /* the last frame's pair's share of its power */
};

float goertzel_mag(const float *s, uint64_t count, int32_t rate, int32_t freq);
/* tune (may be null) gets the detected pair's tuning, spreads HUGE_VAL with no digit */
int32_t detect_digit_in_frame(const float *s, uint64_t count, int32_t rate, float threshold,
                              float *row_level, float *col_level, PairTune *tune = NULL);
int32_t detect_digit_in_frame_repeater(const float *s, uint64_t count, int32_t rate,
                                       float threshold, float *row_level, float *col_level,
                                       PairTune *tune = NULL);
void digit_stream_reset(DigitStream *ds);
/* tune: the detection's, from the detector; null when not known */
int32_t digit_stream_feed(DigitStream *ds, int32_t detection, const PairTune *tune = NULL);

/* Frame-by-frame decoding of a whole sample array, the way file decoding
 * works: frames of frame_len samples starting at 0, hop, 2*hop ... while a
 * whole frame fits; each frame runs the plain or repeater detector (by
 * `repeater`) at `rate` with `threshold`, its result is fed to `ds`, and
 * `visit` (may be null) is called with the frame's start sample, the raw
 * detection, the digit the stream reported (-1 for none) and both levels.
 * A non-zero return from `visit` stops the walk. Returns the number of
 * frames examined. With frame_len 2048 and hop 1024 it shares the work of
 * each half-frame between the two frames that contain it, and detects
 * exactly what detect_digit_in_frame[_repeater] detects frame by frame.
 * Digits are what digit_stream_feed makes of those detections, and for a
 * fast sender's short tones also: with hops of 512 and more a plain digit
 * whose run ends after one frame counts if a frame near it (half a hop or
 * three quarters away) reads it too, and with hop 1024 a half-frame much quieter than
 * the halves around it (a pause) ends a run. */
typedef int32_t (*FrameVisitor)(void *ctx, uint64_t start, int32_t detection, int32_t digit,
                                float row_level, float col_level);
uint64_t detect_frames(const float *s, uint64_t count, int32_t rate, uint64_t frame_len,
                       uint64_t hop, float threshold, int32_t repeater, DigitStream *ds,
                       FrameVisitor visit, void *ctx);
/* The same with frames from sample `first` of s on (start offsets still
 * counted from s[0]): a stream walked a block at a time keeps the samples
 * before its next frame there, where a short tone is looked for again. */
uint64_t detect_frames_from(const float *s, uint64_t count, uint64_t first, int32_t rate,
                            uint64_t frame_len, uint64_t hop, float threshold, int32_t repeater,
                            DigitStream *ds, FrameVisitor visit, void *ctx);

/* ---- Shared by the program and tessary-cli ---------------------------- */

/* Silence played ahead of every transmission: it keys a radio up, and it is
 * what a sound stream just opened may swallow. */
#define TX_LEAD_IN_SAMPLES 44100

/* Tone and gap lengths for a speed in percent (below 1 counts as 1):
 * 0.18 s and 0.09 s at 100 %. */
void speed_to_tone_gap(int32_t percent, double *tone_s, double *gap_s);

/* The callsign ID alone: Morse when cw is non-zero, else the spoken clips
 * from audio_dir (a callsign without letters or digits gives nothing).
 * Returns 0, or -1 with the missing clip's path in err and out untouched. */
int32_t build_callsign_id(const char *audio_dir, const char *callsign, int32_t cw, SampleBuf *out,
                          char *err, uint64_t err_size);

/* A complete digit transmission with station identification, as the
 * program plays and saves it. Empty callsign (no letters or digits): the
 * digit block alone. Otherwise the callsign ID at the start and every ten
 * minutes, and the closing ID block (callsign ID, 50 ms, "website.wav") at
 * the end. Returns 0, or -1 with the missing file's path in err and out
 * untouched. */
int32_t build_station_transmission(const uint32_t *digits, uint64_t count, const char *audio_dir,
                                   const char *callsign, int32_t cw, int32_t repeater,
                                   double tone_s, double gap_s, SampleBuf *out, char *err,
                                   uint64_t err_size);

/* Signing off: callsign_id, 300 ms of silence, then <audio_dir>/QRT.wav at
 * 44,100 Hz. Returns 0, or -1 with out untouched and the whole message for
 * the user in err: "Missing: <path>" when the clip cannot be opened,
 * "Cannot read: <path>" when it is not a readable WAV or holds no sound. */
int32_t build_signoff(const char *audio_dir, const SampleBuf *callsign_id, SampleBuf *out,
                      char *err, uint64_t err_size);

/* The server exchange: request digits are the four directory digits
 * ("0"-"6" each) followed by the letter code of the message, at most
 * SERVER_MAX_DIGITS; the end marker follows the request as a block of its
 * own. server_request_digits returns a malloc'd array (free() it), or null
 * when dir is not exactly four characters "0"-"6". */
#define SERVER_MAX_DIGITS 8300
extern const uint32_t SERVER_MARKER[7]; /* 6 5 4 3 2 1 0 */
uint32_t *server_request_digits(const char *dir, const char *message, uint64_t *out_count);

/* A whole server request as sent: build_station_transmission of the
 * request digits, then SERVER_MARKER as a block of its own with the same
 * repeater, tone and gap. Returns 0; -2 (err "") when dir is not four
 * digits 0-6; -1 with the missing clip's path in err. out is untouched on
 * failure. */
int32_t build_server_transmission(const char *dir, const char *message, const char *audio_dir,
                                  const char *callsign, int32_t cw, int32_t repeater, double tone_s,
                                  double gap_s, SampleBuf *out, char *err, uint64_t err_size);

/* The two above without the one buffer: station_tx_init and server_tx_init
 * take the same arguments and return the same codes, loading the clips
 * into tx; station_tx_samples is the exact length, known before the first
 * sample; station_tx_stream sends it piece by piece (0, or -1 when the sink
 * stopped it) and may be called again. station_tx_init keeps the digits by
 * reference: they must outlive tx. Free tx with station_tx_free, whatever
 * init returned. */
struct StationTx {
    const uint32_t *digits;
    uint64_t count;
    uint32_t *own_digits; /* a request's, malloc'd */
    SampleBuf id, final_id;
    int32_t repeater;
    int32_t marker; /* SERVER_MARKER follows as a block of its own */
    double tone_s, gap_s;
};
int32_t station_tx_init(StationTx *tx, const uint32_t *digits, uint64_t count,
                        const char *audio_dir, const char *callsign, int32_t cw, int32_t repeater,
                        double tone_s, double gap_s, char *err, uint64_t err_size);
int32_t server_tx_init(StationTx *tx, const char *dir, const char *message, const char *audio_dir,
                       const char *callsign, int32_t cw, int32_t repeater, double tone_s,
                       double gap_s, char *err, uint64_t err_size);
uint64_t station_tx_samples(const StationTx *tx);
int32_t station_tx_stream(const StationTx *tx, SampleSink sink, void *ctx);
void station_tx_free(StationTx *tx);

/* ---- Digit pace (pace.cpp) --------------------------------------------
 *
 * Between the detector and a reception: digit_pacer_feed takes each digit
 * the stream reports with the sample its frame began at (onsets at `rate`)
 * and writes into out (room for DIGIT_PACER_OUT) what the reception should
 * hold: the digit, preceded by RX_DIGIT_LOST when the interval since the
 * last one says a digit went missing in between, or nothing when it is the
 * same tone again, cut in two by a dropout. Returns how many it wrote. It
 * learns the pace from the digits themselves: the second digit of a stream
 * is held until the third shows the pace, so a loss between the first two
 * is marked too (a lost first tone leaves no trace). When the second
 * repeats the first, the third is held as well until the fourth tells a
 * repeated digit from a first tone cut in two (a squelch opening, a sound
 * device starting). digit_pacer_flush gives up held digits at the end of a
 * recording; live, digit_pacer_tick (with the onset of every frame) gives
 * them up once the next is overdue.
 * Pauses longer than a lost digit (identification, the end marker's block)
 * are not taken for losses. Reset it with each new stretch of sound. */
#define RX_DIGIT_LOST       7 /* a digit that went missing; pairs with it read "?" */
#define DIGIT_PACER_HISTORY 7
#define DIGIT_PACER_OUT     6
enum PacerState {
    PACER_NONE = 0,        /* no digit yet since the reset */
    PACER_FIRST = 1,       /* the first digit given; no interval yet */
    PACER_HELD_SECOND = 2, /* the second held until the third shows the pace */
    PACER_PACED = 3,       /* the pace known: each digit is judged as it comes */
    PACER_HELD_TWO = 4,    /* the second repeats the first: both wait for the fourth */
};
struct DigitPacer {
    int32_t rate;
    int32_t last_digit;
    uint64_t last_onset;
    uint64_t recent[DIGIT_PACER_HISTORY]; /* intervals at the pace, newest last */
    int32_t n_recent;
    int32_t next_recent;
    uint64_t odd[3]; /* intervals that fit no pace, in a row */
    int32_t n_odd;
    PacerState state;
    int32_t held; /* the second one, until the third comes */
    uint64_t held_onset;
    int32_t held2; /* the third, while the second may be the first's rest */
    uint64_t held2_onset;
};
void digit_pacer_reset(DigitPacer *p, int32_t rate);
int32_t digit_pacer_feed(DigitPacer *p, int32_t digit, uint64_t onset, int32_t *out);
int32_t digit_pacer_flush(DigitPacer *p, int32_t *out);
int32_t digit_pacer_tick(DigitPacer *p, uint64_t now, int32_t *out);

/* ---- Received digits (rxdigits.cpp) -----------------------------------
 *
 * What one reception holds: digits 0-6 in arrival order, read pair by pair
 * (first digit high) as text or hex. Text: num_to_letter(pair7_to_num), so
 * 27-48 read "?"; hex: HEX_CHARS[pair6_to_hex_nibble], "?" above 15. A pair
 * holding anything but 0-6 reads "?". Character outputs are NUL-terminated
 * and cut to size - 1; they return the length written. */
#define RX_MAX_DIGITS 4096 /* what one reception on a page holds */
enum { RX_READ_TEXT = 0, RX_READ_HEX = 1 };
struct RxDigits {
    int32_t *digits; /* digits 0-6 in arrival order (malloc'd, grows up to limit) */
    uint64_t count;
    uint64_t cap;     /* allocated entries */
    uint64_t limit;   /* the most it holds; 0: no limit */
    uint64_t dropped; /* digits that arrived once it was full */
};
void rx_digits_init(RxDigits *r, uint64_t limit); /* empty, no allocation yet */
void rx_digits_free(RxDigits *r);
void rx_digits_clear(RxDigits *r); /* forgets digits and dropped; keeps limit */
/* 1 stored; 0 full: dropped and counted. A digit outside 0-6 is not stored: -1. */
int32_t rx_digits_add(RxDigits *r, int32_t digit); /* RX_DIGIT_LOST is stored too */
int32_t rx_digits_full(const RxDigits *r);
char rx_pair_char(int32_t hi, int32_t lo, int32_t reading);
/* The pair the newest stored digit completed; 0 when it opened a pair. */
char rx_digits_last_pair(const RxDigits *r, int32_t reading);
uint64_t rx_digits_chars(const RxDigits *r, char *out, uint64_t size); /* "0"-"6", "?" lost */
/* All complete pairs; an unpaired last digit gives nothing. */
uint64_t rx_digits_read(const RxDigits *r, int32_t reading, char *out, uint64_t size);

/* ---- Decoding a recording as it arrives (stream.cpp) -------------------
 *
 * What file decoding does to a whole recording, done block by block in
 * constant memory: brought to 44,100 Hz unless told not to, frames of 2048
 * samples every `hop`, the detector, the digit stream and the pacer. Any
 * split into blocks gives the frames and digits of the whole recording at
 * once. on_frame (may be null) sees every frame with its start at the
 * decoding rate; on_digit (may be null) every digit as a reception stores
 * it, RX_DIGIT_LOST included. A non-zero return from on_frame stops the
 * decoding: later input is ignored. */
#define DECODE_FRAME_LEN   2048
#define DECODE_DEFAULT_HOP 1024
struct DecodeSettings {
    float threshold;
    int32_t repeater;
    uint64_t hop;     /* 1 - DECODE_FRAME_LEN */
    int32_t resample; /* decode at 44100 Hz whatever the input's rate */
};
typedef void (*DigitFn)(void *ctx, int32_t digit);
struct DecodeStream {
    DecodeSettings set;
    int32_t rate; /* the rate frames are taken at */
    int32_t resampling;
    Resampler rs;
    SampleBuf pending; /* from `kept` samples before the next frame's first on */
    SampleBuf scratch;
    uint64_t base; /* index of pending.data[0] at `rate` */
    uint64_t kept; /* samples before the next frame's first */
    DigitStream digits;
    DigitPacer pacer;
    FrameVisitor on_frame;
    DigitFn on_digit;
    void *ctx;
    int32_t stopped;
};
void decode_stream_init(DecodeStream *d, const DecodeSettings *set, int32_t in_rate,
                        FrameVisitor on_frame, DigitFn on_digit, void *ctx);
void decode_stream_feed(DecodeStream *d, const float *x, uint64_t n);
void decode_stream_finish(DecodeStream *d); /* the input has ended */
void decode_stream_free(DecodeStream *d);
/* Samples at the decoding rate so far. */
uint64_t decode_stream_samples(const DecodeStream *d);

#endif
