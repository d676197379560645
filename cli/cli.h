/*
 * tessary-cli -- the headless companion: encode, decode and analyze from a
 * shell, built on the same signal core as the window program.
 *
 * Every command returns its exit status: CLI_OK, CLI_BAD_INPUT (bad input,
 * or nothing decoded where something was required) or CLI_USAGE. Errors go
 * to stderr as one line: "tessary-cli: COMMAND: [FILE: ]reason".
 */
#ifndef TESSARY_CLI_H
#define TESSARY_CLI_H

#include <stdint.h>
#include <string>
#include <vector>
#include "core/dtmf_core.h"

enum { CLI_OK = 0, CLI_BAD_INPUT = 1, CLI_USAGE = 2 };

/* The file decoder's frame: 2048 samples, a new one every 1024. */
#define CLI_DEFAULT_HOP DECODE_DEFAULT_HOP

/* ---- Messages (cli_io.cpp) ---- */
/* MinGW's C++ stdio is the C99 one (%zu, %llu), not msvcrt's. */
#if defined(__MINGW32__)
#define CLI_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#elif defined(__GNUC__)
#define CLI_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define CLI_PRINTF(f, a)
#endif
void cli_error(const char *cmd, const char *file, const char *fmt, ...) CLI_PRINTF(3, 4);
void cli_warn(const char *cmd, const char *file, const char *fmt, ...) CLI_PRINTF(3, 4);
/* A usage error: one line, pointing at the command's --help; returns CLI_USAGE. */
int cli_usage_error(const char *cmd, const char *fmt, ...) CLI_PRINTF(2, 3);

/* ---- Option parsing (main.cpp) ---- */
struct CliArgs {
    int argc;
    char **argv;
    int i; /* next argument to look at */
};
/* True when argv[i] is the option (or --name=value); moves past it and puts
 * its value in *val when the option takes one. Sets *bad on a missing value. */
int cli_opt(CliArgs *a, const char *name, const char *alias, const char **val, int *bad);
int cli_flag(CliArgs *a, const char *name, const char *alias);
/* Whole-string numbers; 0 on success, -1 when not a number. */
int cli_parse_int(const char *s, long *out);
int cli_parse_double(const char *s, double *out);

/* ---- Files and streams (cli_io.cpp) ---- */
void cli_binary_stdio(void);
/* Whole file ("-" is stdin) into bytes; 0 or -1 with the reason in err.
 * Reading stops once more than `limit` bytes are in (out then holds more
 * than limit: the caller tells the user). */
int cli_read_all(const char *path, std::vector<uint8_t> *out, std::string *err,
                 uint64_t limit = UINT64_MAX);
/* Bytes to a file ("-" is stdout), checked to the last byte. */
int cli_write_all(const char *path, const void *data, size_t n, std::string *err);
/* The folder holding this executable, for the default clip folder. */
std::string cli_exe_dir(const char *argv0);

/* A recording being read ("-": stdin): a WAV file, or headerless 16-bit
 * little-endian mono PCM at raw_rate (0: a WAV file). Pipes and devices are
 * read as the sound arrives. cli_open_audio checks the input and prints
 * what is wrong with it; cli_read_audio gives up to max mono samples at the
 * file's rate (wav_reader_read), 0 at the end; cli_close_audio reports a
 * read error. Each returns CLI_OK or CLI_BAD_INPUT. */
struct CliAudio {
    WavReader wav;
    const char *shown; /* the name in messages */
    FILE *f;           /* null for stdin */
    int fd;            /* read directly unless the input is a regular file */
    int regular;
    uint64_t bytes; /* taken from the input */
    int read_errno; /* non-zero after a read error */
};
int cli_open_audio(const char *cmd, const char *path, uint32_t raw_rate, CliAudio *a);
uint64_t cli_read_audio(CliAudio *a, float *out, uint64_t max);
int cli_close_audio(const char *cmd, CliAudio *a);
/* The whole of a WAV file ("-": stdin) as mono samples at its own rate;
 * 2 GiB and more are refused. Prints the error itself. */
int cli_load_audio(const char *cmd, const char *path, SampleBuf *out, uint32_t *rate);
/* Writes a buffer as the program's WAV ("-": stdout). */
int cli_save_wav(const char *cmd, const char *path, const SampleBuf *b);

/* ---- Reading recordings, shared by decode and analyze (cmd_decode.cpp) ---- */
struct FrameInfo {
    uint64_t start;
    int32_t detection;
    int32_t digit;
    float row_level;
    float col_level;
};
/* Parses FILE|-, -h, -o, --threshold, --hop, --repeater, --resample,
 * --native-rate and the command's own value options. Returns -1 to go on,
 * else the exit status (help shown, or the usage error reported). */
struct CliValueOpt {
    const char *name, *alias;
    const char **val;
};
int cli_decode_args(const char *cmd, int argc, char **argv, void (*help)(void), DecodeSettings *ds,
                    const char **in_path, const char **out_path, std::vector<CliValueOpt> own);
/* A recording as decoded: the samples walked and the rates. */
struct Recording {
    uint64_t n_samples;
    uint32_t rate, file_rate;
};
/* Reads a recording (cli_open_audio) block by block, brings it to 44100 Hz
 * unless told not to and walks its frames: frames (may be null) and
 * reported digits are added as they are found. on_block (may be null) is
 * called after every block; a non-zero return stops the reading. Reading
 * runs on a second thread, a few blocks ahead. Prints the error itself;
 * returns CLI_OK or CLI_BAD_INPUT. */
int cli_read_recording(const char *cmd, const char *path, uint32_t raw_rate,
                       const DecodeSettings *ds, std::vector<FrameInfo> *frames, RxDigits *digits,
                       Recording *rec, int (*on_block)(void *ctx) = nullptr, void *ctx = nullptr);
/* --raw RATE's value: 0 when not given; -1 after a usage error (reported). */
long cli_raw_rate(const char *cmd, const char *val);

/* ---- What to send, shared by encode, play and serve (cmd_encode.cpp) ---- */
struct EncodeJob {
    std::string kind;          /* text, file, image or request */
    std::string content;       /* the text, file name or image digits as given */
    const char *dir = nullptr; /* a request's directory */
    const char *callsign = "";
    std::string clip_dir;
    long speed = 100;
    int repeater = 0, cw = 0;
    std::vector<uint32_t> digits; /* for a request: the message alone */
    uint64_t count = 0;           /* for a request: directory and message */
};
/* Parses encode's KIND CONTENT and transmission options plus the command's
 * own value options. Returns -1 to go on, else the exit status. */
int cli_encode_args(const char *cmd, int argc, char **argv, const char *argv0, void (*help)(void),
                    EncodeJob *job, std::vector<CliValueOpt> own);
/* Reads stdin or the file where asked and makes the digits; prints the error
 * itself. CLI_OK or CLI_BAD_INPUT. */
int cli_encode_digits(const char *cmd, EncodeJob *job);

/* The transmission encode writes, into out (cmd_sound.cpp); prints a missing
 * clip itself. CLI_OK or CLI_BAD_INPUT. */
int cli_build_transmission(const char *cmd, const EncodeJob *job, SampleBuf *out);
/* Plays lead_in_s of silence, then b, to device (null: the default) and
 * waits until played; prints a failure. */
int cli_play_samples(const char *cmd, const char *device, const SampleBuf *b, double lead_in_s);

/* ---- A station's command (cli_run.cpp) ---- */
enum { RUN_DONE, RUN_FAILED, RUN_TIMED_OUT, RUN_INTERRUPTED, RUN_CANNOT };
/* Runs command through the shell (/bin/sh -c; on Windows cmd /c) with input
 * on its standard input; keeps the first max_out bytes of its standard
 * output in out (its standard error is ours). Past timeout_s, or on Ctrl-C,
 * its process group (on Windows its job) is killed. RUN_DONE or RUN_FAILED
 * with exit_status set; RUN_CANNOT with the reason in why. */
int cli_run(const std::string &command, const std::string &input, double timeout_s, size_t max_out,
            std::string *out, int *exit_status, std::string *why);

/* decode's --threshold, --repeater, --hop, --native-rate and --resample at
 * argv[a->i]: 1 taken, 0 not one of them, -1 bad value (reported). */
int cli_decode_option(const char *cmd, CliArgs *a, DecodeSettings *ds);

/* ---- Commands ---- */
int cmd_encode(int argc, char **argv, const char *argv0);
int cmd_decode(int argc, char **argv);
int cmd_analyze(int argc, char **argv);
int cmd_listen(int argc, char **argv);
int cmd_play(int argc, char **argv, const char *argv0);
int cmd_serve(int argc, char **argv, const char *argv0);
void help_encode(void);
void help_decode(void);
void help_analyze(void);
void help_listen(void);
void help_play(void);
void help_serve(void);

/* The SVG picture of the frames of a walk between t0 and t1 seconds. */
std::string analyze_svg(const char *title, const std::vector<FrameInfo> &frames, uint32_t rate,
                        double t0, double t1, const DecodeSettings *ds);

#endif
