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
#include <stdio.h>
#include <functional>
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

/* ---- Options (cli_args.cpp) ---- */
/* Every command reads its arguments through one table of options, so each
 * takes --name VALUE and --name=VALUE alike, -h/--help, and "--" to end the
 * options. Numbers are read strictly (no blanks, hex or "inf") and checked
 * against their range; `must` is the refusal, ", not 'VALUE'" follows. */
enum { OPT_FLAG, OPT_TEXT, OPT_PATH, OPT_WHOLE, OPT_PERCENT, OPT_REAL };
struct CliOption {
    const char *name = nullptr, *alias = nullptr;
    int kind = OPT_TEXT; /* OPT_PATH refuses ""; OPT_PERCENT is whole, with an optional % */
    double lo = 0, hi = 0;
    std::string must;
    /* Takes the value as given and as a number: -1 to go on, else an exit
     * status (the reason already printed). */
    std::function<int(const char *text, double num)> take;
};
CliOption cli_flag_opt(const char *name, int *to, int value = 1);
CliOption cli_text_opt(const char *name, const char *alias, const char **to, int kind = OPT_TEXT);
CliOption cli_number_opt(const char *name, int kind, double lo, double hi, std::string must,
                         std::function<void(double)> set);
/* Walks argv by the table; what is not an option goes to pos in order.
 * Returns -1 to go on, else the exit status (help shown, or the usage error
 * reported). */
int cli_parse(const char *cmd, int argc, char **argv, const std::vector<CliOption> &table,
              void (*help)(void), std::vector<const char *> *pos);
/* Whole-string numbers as cli_parse reads them; 0 on success, -1 when not a number. */
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
/* Whether path ("-": stdout) can be written, found before any work is done
 * and without changing what is there; *made is set when the check created
 * the file, for the caller to remove if it ends up writing nothing. Prints
 * the error itself. */
int cli_check_output(const char *cmd, const char *path, int *made);
/* Writes a buffer as the program's WAV ("-": stdout). */
int cli_save_wav(const char *cmd, const char *path, const SampleBuf *b);
/* Sound gathered to be saved as one WAV at the end, held as its 16-bit
 * samples in a temporary file (in memory only where none can be made), so
 * hours of it cost no memory. cli_spool_add appends n samples (x null:
 * silence); cli_spool_save writes them as cli_save_wav would. */
struct CliSpool {
    FILE *f;
    SampleBuf mem;
    uint64_t n;
    int failed;
};
void cli_spool_init(CliSpool *s);
void cli_spool_add(CliSpool *s, const float *x, uint64_t n);
int cli_spool_save(const char *cmd, const char *path, CliSpool *s);
void cli_spool_free(CliSpool *s);

/* ---- Reading recordings, shared by decode and analyze (cmd_decode.cpp) ---- */
struct FrameInfo {
    uint64_t start;
    int32_t detection;
    int32_t digit;
    float row_level, col_level; /* of frames merged into one: the highest ... */
    float row_lo, col_lo;       /* ... and the lowest */
};
/* The frames of a walk as analyze uses them (cmd_analyze.cpp): counted
 * whole, and kept between t0 and t1 seconds (t1 < 0: to the end) for the
 * picture, neighbours merged in pairs whenever more than a picture can
 * show pile up, so an endless input costs no more than a short one. Every
 * reported digit's frame in the stretch is kept apart. */
struct FrameSketch {
    double t0 = 0, t1 = -1;
    float threshold = 0;
    uint32_t rate = DTMF_SAMPLE_RATE; /* of the frames' starts */
    uint64_t total = 0, passing = 0, detecting = 0, shown = 0;
    std::vector<FrameInfo> frames, digits;
    uint64_t span = 1; /* frames merged into each kept one */
    uint64_t pending = 0;
};
void sketch_add(FrameSketch *s, const FrameInfo &f);
void sketch_finish(FrameSketch *s);
/* decode's --threshold, --hop, --repeater, --resample and --native-rate,
 * added to a command's table. */
void cli_decode_options(std::vector<CliOption> *t, DecodeSettings *ds);
/* --keys 0-6|all (decode, analyze, listen): the plan read, into ds->keys. */
CliOption cli_keys_option(const char *cmd, DecodeSettings *ds);
/* After the options: the whole keypad is read as key characters only (as,
 * when given, null by default, becomes "digits"; a reading of the digits
 * 0-6 is refused), and only plain. Without it *as defaults to "text".
 * Returns -1 to go on, else the usage error's status. */
int cli_keys_check(const char *cmd, const DecodeSettings *ds, const char **as);
/* Parses FILE|-, -o, the options above and the command's own. Returns -1
 * to go on, else the exit status (help shown, or the usage error reported). */
int cli_decode_args(const char *cmd, int argc, char **argv, void (*help)(void), DecodeSettings *ds,
                    const char **in_path, const char **out_path, std::vector<CliOption> own);
/* --raw RATE: the input is headerless PCM (rate stays 0 when not given). */
CliOption cli_raw_option(long *rate);
/* A recording as decoded: the samples walked, the rates and the pace. */
struct Recording {
    uint64_t n_samples;
    uint32_t rate, file_rate;
    uint64_t pace; /* the usual interval between digits, in samples at rate; 0: unknown */
};
/* Reads a recording (cli_open_audio) block by block, brings it to 44100 Hz
 * unless told not to and walks its frames: frames (may be null; its rate
 * is set) and reported digits are added as they are found. on_block (may be null) is
 * called after every block; a non-zero return stops the reading. Each
 * digit also goes to lines (may be null) with where it was heard. Reading
 * runs on a second thread, a few blocks ahead. Prints the error itself;
 * returns CLI_OK or CLI_BAD_INPUT. */
int cli_read_recording(const char *cmd, const char *path, uint32_t raw_rate,
                       const DecodeSettings *ds, FrameSketch *frames, RxDigits *digits,
                       Recording *rec, int (*on_block)(void *ctx) = nullptr, void *ctx = nullptr,
                       struct TxLines *lines = nullptr);

/* ---- Transmissions as lines (cli_lines.cpp) ---- */
/* The characters of digits d[from, to) as --as reads them (as: d, t, h, i):
 * digits (with KEYS_ALL keys) as they are; a letter or hex character for
 * each pair completed (pairs counted from d[0]); an image row once its
 * eighth digit is in. */
void cli_digit_text(const int32_t *d, uint64_t from, uint64_t to, char as, std::string *out,
                    int32_t keys = KEYS_0_6);
/* listen's and decode --json's output, transmission by transmission: a
 * transmission ends after a request's end marker or after a pause no
 * transmission has inside. Each is a line (a request as its directory and
 * message) or one JSON object; written to stdout as soon as it is known. */
struct TxLines {
    char as = 't';
    int json = 0, live = 0;
    int32_t keys = KEYS_0_6; /* KEYS_ALL: keys, and no end marker to look for */
    uint64_t rate = DTMF_SAMPLE_RATE;
    std::vector<int32_t> digits; /* of the transmission going on */
    uint64_t start_at = 0, last_at = 0, shown = 0;
    int write_errno = 0;
};
void lines_init(TxLines *t, char as, int json, uint64_t rate, int32_t keys = KEYS_0_6);
/* A digit whose frame began at sample `at`. */
void lines_digit(TxLines *t, int32_t digit, uint64_t at);
/* Nothing more heard up to sample `now`: ends a transmission that has paused. */
void lines_tick(TxLines *t, uint64_t now);
/* Ends the transmission going on, if any. */
void lines_end(TxLines *t);

/* ---- What to send, shared by encode, play and serve (cmd_encode.cpp) ---- */
struct EncodeJob {
    std::string kind;          /* text, file, image or request */
    std::string content;       /* the text, file name or image digits as given */
    const char *dir = nullptr; /* a request's directory */
    const char *callsign = "";
    std::string clip_dir; /* empty: 'audio' beside the program */
    long speed = 100;
    int repeater = 0, cw = 0;
    std::vector<uint32_t> digits; /* for a request: the message alone */
    uint64_t count = 0;           /* for a request: directory and message */
};
/* How a transmission is sent: --speed, --callsign, --audio-dir, --cw and
 * --repeater (into *repeater), added to a command's table. */
void cli_tx_options(const char *cmd, std::vector<CliOption> *t, EncodeJob *job, int *repeater);
/* Parses encode's KIND CONTENT, --dir, the options above and the command's
 * own. Returns -1 to go on, else the exit status. */
int cli_encode_args(const char *cmd, int argc, char **argv, const char *argv0, void (*help)(void),
                    EncodeJob *job, std::vector<CliOption> own);
/* Reads stdin or the file where asked and makes the digits; prints the error
 * itself. CLI_OK or CLI_BAD_INPUT. */
int cli_encode_digits(const char *cmd, EncodeJob *job);

/* The transmission encode writes, into out (cmd_sound.cpp); prints a missing
 * clip itself. CLI_OK or CLI_BAD_INPUT. */
int cli_build_transmission(const char *cmd, const EncodeJob *job, SampleBuf *out);

/* ---- Push-to-talk (cli_ptt.cpp) ---- */
enum { PTT_NONE, PTT_RIGCTLD, PTT_SERIAL };
struct CliPtt {
    int kind = PTT_NONE;
    std::string host = "localhost", port = "4532"; /* rigctld */
    std::string device;                            /* serial: a tty or COM port */
    int rts = 1;                                   /* serial: RTS, else DTR */
    intptr_t fd = -1;                              /* socket, tty or HANDLE */
    int keyed = 0;
};
/* --ptt's text (rigctld[:HOST[:PORT]], serial:DEVICE:rts|dtr, none) into p;
 * -1 with the reason in why. */
int cli_ptt_parse(const char *text, CliPtt *p, std::string *why);
std::string cli_ptt_name(const CliPtt *p);
/* Reaches the PTT and releases it, which shows that it answers: 0, or -1
 * with the reason in why. Nothing to do for PTT_NONE. */
int cli_ptt_open(CliPtt *p, std::string *why);
/* Keys (on 1) or releases the transmitter, the rig's reply checked: 0 or -1. */
int cli_ptt_set(CliPtt *p, int on, std::string *why);
/* Releases the key if held, and closes. */
void cli_ptt_close(CliPtt *p);
/* For a signal handler about to end the process: releases a held key. */
void cli_ptt_abandon(void);

/* ---- Transmitting (cmd_sound.cpp) ---- */
struct CliTx {
    const char *device = nullptr; /* null: the default output */
    CliPtt ptt;
    double txdelay_s = 0, txtail_s = 0; /* keyed before the first sample, after the last */
    double limit_s = 0;                 /* the transmit time-out; 0: none */
};
/* Listens to device until the channel has been quiet (no tone, little
 * energy) for CLI_CLEAR_QUIET_S: 0, with how long it waited beyond that in
 * waited_s; 1 when still busy after limit_s; 2 after Ctrl-C; -1 when the
 * device failed (printed). */
extern const double CLI_CLEAR_QUIET_S;
int cli_wait_clear(const char *cmd, const char *device, const DecodeSettings *ds, double limit_s,
                   double *waited_s);
/* --ptt, --txdelay, --txtail and --tx-limit into tx, added to a table. */
void cli_radio_options(const char *cmd, std::vector<CliOption> *t, CliTx *tx);
/* Reaches the PTT tx asks for; prints the error itself. CLI_OK or CLI_BAD_INPUT. */
int cli_tx_open(const char *cmd, CliTx *tx);
/* Waits lead_in_s, keys the transmitter, waits txdelay, plays b to its
 * last sample, holds txtail and releases the key; without a PTT the lead-in
 * is played as silence. The key is released on every way out; a key that
 * cannot be had sends nothing. Prints a failure. CLI_OK or CLI_BAD_INPUT. */
int cli_transmit(const char *cmd, CliTx *tx, const SampleBuf *b, double lead_in_s);

/* ---- A station's command (cli_run.cpp) ---- */
enum { RUN_DONE, RUN_FAILED, RUN_TIMED_OUT, RUN_INTERRUPTED, RUN_CANNOT };
/* Runs command through the shell (/bin/sh -c; on Windows cmd /c) with input
 * on its standard input; keeps the first max_out bytes of its standard
 * output in out (its standard error is ours). Past timeout_s, or on Ctrl-C,
 * its process group (on Windows its job) is killed. RUN_DONE or RUN_FAILED
 * with exit_status set; RUN_CANNOT with the reason in why. */
int cli_run(const std::string &command, const std::string &input, double timeout_s, size_t max_out,
            std::string *out, int *exit_status, std::string *why);
/* Whether a command is running now (for the signal handler: it is ended
 * within a tenth of a second, and whatever it started with it). */
int cli_run_active(void);

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
std::string analyze_svg(const char *title, const FrameSketch &frames, uint32_t rate, double t0,
                        double t1, const DecodeSettings *ds);

#endif
