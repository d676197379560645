/* tessary-cli encode: the same transmission the window program saves for
 * the same content and header settings, built by the same core helpers. */
#include "cli/cli.h"

#include <ctype.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <algorithm>

#ifndef _WIN32
#include <unistd.h>
#else
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#endif

static const char *const CMD = "encode";

void help_encode(void) {
    fputs("Usage: tessary-cli encode KIND CONTENT [OPTIONS]\n"
          "\n"
          "Writes the WAV file the window program's Save writes for the same content.\n"
          "\n"
          "Kinds:\n"
          "  text \"TEXT\"              letters and spaces, two tones each (other\n"
          "                           characters are left out); \"-\" reads stdin\n"
          "  file PATH                any file, four tones per byte; \"-\" reads stdin\n"
          "  image DIGITS             64 colour digits 0-6, row by row from the\n"
          "                           top left (spaces and line breaks allowed)\n"
          "  request --dir NNNN \"MESSAGE\"\n"
          "                           a server request: four directory digits 0-6,\n"
          "                           the message, then the end marker 6543210\n"
          "\n"
          "Options:\n"
          "  -o, --output FILE        where to write the WAV (\"-\": standard output;\n"
          "                           the default when that is not a terminal)\n"
          "  --speed PERCENT          50-500, default 100 (180 ms tone, 90 ms gap)\n"
          "  --repeater               disguise the tones with the 1800 Hz carrier\n"
          "  --callsign CALL          identify the station at the start, the end and\n"
          "                           every ten minutes, from spoken clips ...\n"
          "  --audio-dir DIR          ... in DIR (a.wav ... z.wav, 0.wav ... 9.wav,\n"
          "                           website.wav); default: 'audio' beside tessary-cli\n"
          "  --cw                     send the callsign as fast Morse instead\n"
          "                           (the closing website.wav is still needed)\n"
          "  --dir NNNN               the request's directory number\n"
          "  -h, --help               this text\n",
          stdout);
}

/* Digits of an image: exactly 64 colours 0-6, blanks ignored. */
static int parse_image(const char *cmd, const std::string &s, std::vector<uint32_t> *out) {
    out->clear();
    for (size_t i = 0; i < s.size(); i++) {
        unsigned char c = (unsigned char)s[i];
        if (isspace(c)) continue;
        if (c < '0' || c > '6') {
            cli_error(cmd, nullptr, "image: '%c' at position %zu is not a colour digit 0-6",
                      isprint(c) ? c : '?', i + 1);
            return -1;
        }
        out->push_back((uint32_t)(c - '0'));
    }
    if (out->size() != 64) {
        cli_error(cmd, nullptr, "image: needs exactly 64 colour digits 0-6, got %zu", out->size());
        return -1;
    }
    return 0;
}

/* A digit array that could not be allocated must not pass for an empty one. */
static int out_of_memory(const char *cmd) {
    cli_error(cmd, nullptr, "out of memory");
    return CLI_BAD_INPUT;
}

enum { OUT_NEW_OR_FILE, OUT_DIR, OUT_OTHER };

/* What -o names: a directory, a device or pipe (never removed), or a
 * regular file, there or not yet. */
static int out_kind(const char *path) {
#ifdef _WIN32
    struct _stat64 st;
    if (_stat64(path, &st) != 0) return OUT_NEW_OR_FILE;
    return (st.st_mode & _S_IFDIR)   ? OUT_DIR
           : (st.st_mode & _S_IFREG) ? OUT_NEW_OR_FILE
                                     : OUT_OTHER;
#else
    struct stat st;
    if (stat(path, &st) != 0) return OUT_NEW_OR_FILE;
    return S_ISDIR(st.st_mode) ? OUT_DIR : S_ISREG(st.st_mode) ? OUT_NEW_OR_FILE : OUT_OTHER;
#endif
}

static int32_t write_stream(void *ctx, const void *data, uint64_t n) {
    return fwrite(data, 1, (size_t)n, (FILE *)ctx) == n ? 0 : -1;
}

/* The WAV goes out as it is rendered ("-": stdout), so an hour of tones
 * never sits in memory. */
static int save_transmission(const char *path, const StationTx *tx, uint64_t total) {
    int to_stdout = strcmp(path, "-") == 0;
    const char *shown = to_stdout ? "<stdout>" : path;
    int kind = to_stdout ? OUT_OTHER : out_kind(path);
    if (kind == OUT_DIR) {
        cli_error(CMD, shown, "is a directory");
        return CLI_BAD_INPUT;
    }
#ifdef SIGPIPE
    /* A reader that goes away is a failed write like a full disk, not a
     * silent death by signal. */
    signal(SIGPIPE, SIG_IGN);
#endif
    errno = 0;
    FILE *f = to_stdout ? stdout : fopen(path, "wb");
    if (!f) {
        cli_error(CMD, shown, "cannot write: %s", errno ? strerror(errno) : "input/output error");
        return CLI_BAD_INPUT;
    }
    WavWriter w;
    int failed = wav_writer_begin(&w, write_stream, f, total) != 0 ||
                 station_tx_stream(tx, wav_writer_put, &w) != 0 || wav_writer_end(&w) != 0;
    /* A full disk often shows only when the buffer is flushed or closed. */
    failed |= fflush(f) != 0;
    int saved_errno = errno;
    if (!to_stdout) failed |= fclose(f) != 0;
    if (!failed) return CLI_OK;
    if (!errno) errno = saved_errno;
    cli_error(CMD, shown, "cannot write: %s", errno ? strerror(errno) : "input/output error");
    /* A cut file must not pass for a transmission. */
    if (kind == OUT_NEW_OR_FILE) remove(path);
    return CLI_BAD_INPUT;
}

void cli_tx_options(const char *cmd, std::vector<CliOption> *t, EncodeJob *job, int *repeater) {
    t->push_back(cli_number_opt("--speed", OPT_PERCENT, SPEED_MIN_PERCENT, SPEED_MAX_PERCENT,
                                "--speed must be a whole percent from 50 to 500",
                                [job](double v) { job->speed = (long)v; }));
    t->push_back(cli_text_opt("--callsign", nullptr, &job->callsign));
    /* The ID is sent letter by letter (A-Z, 0-9); anything else was skipped,
     * and a callsign of nothing else vanished from the air unsaid. */
    t->back().take = [cmd, job](const char *v, double) {
        int sendable = 0, unsendable = 0;
        for (const char *c = v; *c; c++) {
            unsigned char u = (unsigned char)*c;
            if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9'))
                sendable++;
            else if (u != '/' && u != '-' && u != ' ')
                unsendable++;
        }
        if (unsendable || (*v && !sendable))
            return cli_usage_error(cmd,
                                   "--callsign '%s' cannot be sent: the station's ID takes "
                                   "letters A-Z and digits (/ and - are passed over)",
                                   v);
        job->callsign = v;
        return -1;
    };
    t->push_back(CliOption());
    t->back().name = "--audio-dir";
    t->back().kind = OPT_PATH;
    t->back().take = [job](const char *v, double) {
        job->clip_dir = v;
        return -1;
    };
    t->push_back(cli_flag_opt("--cw", &job->cw));
    t->push_back(cli_flag_opt("--repeater", repeater));
}

int cli_encode_args(const char *cmd, int argc, char **argv, const char *argv0, void (*help)(void),
                    EncodeJob *job, std::vector<CliOption> own) {
    own.push_back(cli_text_opt("--dir", nullptr, &job->dir));
    cli_tx_options(cmd, &own, job, &job->repeater);
    std::vector<const char *> posv;
    int status = cli_parse(cmd, argc, argv, own, help, &posv);
    if (status >= 0) return status;
    std::vector<std::string> pos(posv.begin(), posv.end());
    if (pos.empty())
        return cli_usage_error(cmd, "say what to %s: text, file, image or request", cmd);
    std::string kind = pos[0];
    pos.erase(pos.begin());
    if (kind != "text" && kind != "file" && kind != "image" && kind != "request")
        return cli_usage_error(cmd, "unknown kind '%s' (text, file, image or request)",
                               kind.c_str());
    if (kind != "request" && job->dir)
        return cli_usage_error(cmd, "--dir belongs to '%s request'", cmd);
    if (kind == "request" && !job->dir) return cli_usage_error(cmd, "a request needs --dir NNNN");
    if ((kind == "file" || kind == "image") && pos.size() != 1)
        return cli_usage_error(cmd, "%s takes exactly one argument", kind.c_str());
    if (kind == "text" && pos.empty()) return cli_usage_error(cmd, "text needs the text to send");
    if (kind == "request") {
        uint64_t n = 0;
        uint32_t *probe = server_request_digits(job->dir, "", &n); /* the core knows a good dir */
        free(probe);
        if (!probe)
            return cli_usage_error(cmd, "--dir must be exactly four digits 0-6, not '%s'",
                                   job->dir);
    }
    job->kind = kind;
    if (job->clip_dir.empty()) job->clip_dir = cli_exe_dir(argv0) + "/audio";
    for (size_t i = 0; i < pos.size(); i++) job->content += (i ? " " : "") + pos[i];
    return -1;
}

int cli_encode_digits(const char *cmd, EncodeJob *job) {
    const std::string &kind = job->kind;
    std::string &content = job->content;
    std::vector<uint32_t> &digits = job->digits;
    uint64_t &count = job->count;
    double tone_s = 0, gap_s = 0;
    speed_to_tone_gap((int32_t)job->speed, &tone_s, &gap_s);
    std::string err;
    /* Reading stops where a WAV file would be full, so a huge file or a
     * device (/dev/zero) cannot fill memory first: a byte of a file is four
     * digits, a letter two, and an image or request is far shorter. */
    uint64_t one = digit_block_samples(1, tone_s, gap_s);
    uint64_t per = digit_block_samples(2, tone_s, gap_s) - one;
    uint64_t max_bytes = (WAV_MAX_SAMPLES - (one - per)) / per / 4;
    if ((kind == "text" || kind == "request" || kind == "image") && content == "-") {
        std::vector<uint8_t> in;
        uint64_t most = kind == "text" ? 2 * max_bytes : kind == "request" ? 1 << 20 : 1 << 16;
        if (cli_read_all("-", &in, &err, most) != 0) {
            cli_error(cmd, "<stdin>", "%s", err.c_str());
            return CLI_BAD_INPUT;
        }
        if (in.size() > most) {
            if (kind == "text")
                cli_error(cmd, "<stdin>",
                          "too large: one WAV file holds at most %llu letters at this speed",
                          (unsigned long long)most);
            else
                cli_error(cmd, "<stdin>", "too large for %s (more than %llu bytes)",
                          kind == "image" ? "an image" : "a request", (unsigned long long)most);
            return CLI_BAD_INPUT;
        }
        content.assign(in.begin(), in.end());
    }
    /* A NUL does not end the text: it is one more character left out. */
    uint64_t nuls = 0;
    if (kind != "image") {
        nuls = (uint64_t)std::count(content.begin(), content.end(), '\0');
        content.erase(std::remove(content.begin(), content.end(), '\0'), content.end());
    }

    if (kind == "text" || kind == "request") {
        uint32_t *d = encode_text(content.c_str(), &count);
        if (!d) return out_of_memory(cmd);
        digits.assign(d, d + count);
        free(d);
        uint64_t dropped = nuls;
        for (size_t i = 0; i < content.size(); i++) {
            char c = content[i];
            if (letter_to_num(c) < 0 && c != '\n' && c != '\r') dropped++;
        }
        if (dropped && !(kind == "text" && count == 0))
            cli_warn(cmd, nullptr, "%llu character%s left out (only letters and spaces are sent)",
                     (unsigned long long)dropped, dropped == 1 ? "" : "s");
        if (kind == "text" && count == 0) {
            cli_error(cmd, nullptr, "nothing to %s (no letters or spaces in the text)", cmd);
            return CLI_BAD_INPUT;
        }
        if (kind == "request") {
            /* The core cuts a request at SERVER_MAX_DIGITS; a cut message is lost text. */
            if (count + 4 > SERVER_MAX_DIGITS) {
                cli_error(cmd, nullptr,
                          "message too long for one request (%llu letters and spaces, at most %d)",
                          (unsigned long long)(count / 2), (SERVER_MAX_DIGITS - 4) / 2);
                return CLI_BAD_INPUT;
            }
            count += 4;
        }
    } else if (kind == "file") {
        std::vector<uint8_t> bytes;
        const char *path = content.c_str();
        if (cli_read_all(path, &bytes, &err, max_bytes) != 0) {
            cli_error(cmd, strcmp(path, "-") == 0 ? "<stdin>" : path, "%s", err.c_str());
            return CLI_BAD_INPUT;
        }
        if (bytes.empty()) {
            cli_error(cmd, strcmp(path, "-") == 0 ? "<stdin>" : path, "empty file, nothing to %s",
                      cmd);
            return CLI_BAD_INPUT;
        }
        if (bytes.size() > max_bytes) {
            cli_error(cmd, strcmp(path, "-") == 0 ? "<stdin>" : path,
                      "too large: one WAV file holds at most %llu bytes at this speed",
                      (unsigned long long)max_bytes);
            return CLI_BAD_INPUT;
        }
        uint32_t *d = encode_bytes_hex(bytes.data(), bytes.size(), &count);
        if (!d) return out_of_memory(cmd);
        digits.assign(d, d + count);
        free(d);
    } else {
        if (parse_image(cmd, content, &digits) != 0) return CLI_BAD_INPUT;
        count = digits.size();
    }
    return CLI_OK;
}

int cmd_encode(int argc, char **argv, const char *argv0) {
    EncodeJob job;
    const char *out_path = nullptr;
    int status = cli_encode_args(CMD, argc, argv, argv0, help_encode, &job,
                                 {cli_text_opt("--output", "-o", &out_path, OPT_PATH)});
    if (status >= 0) return status;
    if (!out_path) {
        if (isatty(fileno(stdout)))
            return cli_usage_error(CMD, "give -o FILE (or -o - to write the WAV to a pipe)");
        out_path = "-";
    }
    status = cli_encode_digits(CMD, &job);
    if (status != CLI_OK) return status;
    const std::string &kind = job.kind, &content = job.content, &clip_dir = job.clip_dir;
    const std::vector<uint32_t> &digits = job.digits;
    const uint64_t count = job.count;
    const long speed = job.speed;
    const char *dir = job.dir, *callsign = job.callsign;
    const int repeater = job.repeater, cw = job.cw;
    double tone_s = 0, gap_s = 0;
    speed_to_tone_gap((int32_t)speed, &tone_s, &gap_s);

    uint64_t estimate = digit_block_samples(count, tone_s, gap_s);
    if (estimate > WAV_MAX_SAMPLES) {
        cli_error(
            CMD, nullptr,
            "%llu digits make %.1f hours of audio, more than a WAV file can hold (%.1f hours)",
            (unsigned long long)count, estimate / 44100.0 / 3600.0,
            WAV_MAX_SAMPLES / 44100.0 / 3600.0);
        return CLI_BAD_INPUT;
    }

    StationTx tx;
    char clip_err[1024] = "";
    int32_t rc = kind == "request"
                     ? server_tx_init(&tx, dir, content.c_str(), clip_dir.c_str(), callsign, cw,
                                      repeater, tone_s, gap_s, clip_err, sizeof clip_err)
                     : station_tx_init(&tx, digits.data(), count, clip_dir.c_str(), callsign, cw,
                                       repeater, tone_s, gap_s, clip_err, sizeof clip_err);
    status = CLI_BAD_INPUT;
    uint64_t total = station_tx_samples(&tx);
    if (rc == -2)
        status = cli_usage_error(CMD, "--dir must be exactly four digits 0-6");
    else if (rc != 0)
        cli_error(CMD, nullptr, "missing callsign clip: %s (give the clip folder with --audio-dir)",
                  clip_err);
    else if (total > WAV_MAX_SAMPLES)
        cli_error(CMD, out_path,
                  "transmission too long for a WAV file (%llu samples, at most %llu)",
                  (unsigned long long)total, (unsigned long long)WAV_MAX_SAMPLES);
    else
        status = save_transmission(out_path, &tx, total);
    station_tx_free(&tx);
    return status;
}
