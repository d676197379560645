/* tessary-cli serve: the other end of the window program's Server page. It
 * hears a request (four directory digits, the message, the end marker
 * 6543210 as a block of its own), runs the command the operator gave for
 * that directory with the message on its standard input, and sends what the
 * command printed back as text. Half duplex: it does not listen while it
 * answers. The message never becomes part of a command line. */
#include "cli/cli.h"
#include "cli/cli_sound.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

static const char *const CMD = "serve";

/* Tones further apart than this belong to separate blocks, a station ID
 * between them (a lost tone at 50 % leaves 1.1 s). */
static const double BLOCK_GAP_S = 1.5;
/* The marker's block starts BLOCK_PAUSE_SAMPLES later than the pace says;
 * half of that tells it from a tone that is merely late. */
static const uint64_t MARKER_PAUSE = BLOCK_PAUSE_SAMPLES / 2;
/* The marker counts with four of its seven tones heard ... */
static const int MARKER_MIN_DIGITS = 4;
/* ... and ends at its 0, or when this much silence says the 0 was lost. */
static const double END_GAP_S = 1.5;
/* Tones without a marker are forgotten after this long: longer than the
 * closing station ID between a request and its marker. */
static const double STALE_S = 20;

void help_serve(void) {
    fputs("Usage: tessary-cli serve --dir NNNN=COMMAND ... [OPTIONS]\n"
          "\n"
          "Answers the window program's Server page: hears a request, runs the\n"
          "command given for its directory with the message on standard input, and\n"
          "sends the command's standard output back as text (letters and spaces;\n"
          "digits and punctuation are left out as the Transmit page does). Runs until\n"
          "Ctrl-C; one line per exchange on standard error.\n"
          "\n"
          "Directories:\n"
          "  --dir NNNN=COMMAND  four digits 0-6 and the command, run by /bin/sh -c\n"
          "                      (Windows: cmd /c); may be given many times\n"
          "  --dirs FILE         more of them, one NNNN=COMMAND a line, # comments\n"
          "\n"
          "Answers:\n"
          "  --pause SECONDS     silence before an answer, default 1: the asking\n"
          "                      station turns from sending to listening\n"
          "  --timeout SECONDS   a command's time, default 10; then it and all it\n"
          "                      started are killed and \"no answer in time\" is sent\n"
          "  --max-answer N      letters and spaces at most, default 200; longer\n"
          "                      output is cut\n"
          "  --speed, --callsign, --audio-dir, --cw, --repeater\n"
          "                      as for encode (--repeater also listens for disguised\n"
          "                      tones)\n"
          "\n"
          "Sound:\n"
          "  --device NAME       the PulseAudio source to hear\n"
          "  --out-device NAME   the PulseAudio sink to answer on\n"
          "  --clear-wait SECONDS\n"
          "                      before answering, wait up to this long (default 30,\n"
          "                      0: not at all) for a second without tones or noise;\n"
          "                      a channel still busy then gets no answer\n"
          "\n"
          "Radio (see play --help):\n"
          "  --ptt rigctld[:HOST[:PORT]] | serial:DEVICE:rts|dtr | none\n"
          "  --txdelay MS, --txtail MS\n"
          "  --tx-limit SECONDS  default 120 for serve\n"
          "\n"
          "  --threshold T, --hop N\n"
          "                      as for decode\n"
          "  --in FILE           hear a WAV recording (\"-\": stdin) instead\n"
          "  --out FILE          write the answers to a WAV file instead of playing\n"
          "  --exchanges N       stop after N answers\n"
          "  -h, --help          this text\n"
          "\n"
          "Requests that cannot be served get a short answer: \"unknown directory ...\",\n"
          "\"command failed\", \"no answer in time\", \"directory not heard say again\",\n"
          "\"message garbled say again\" (a tone lost in the message).\n",
          stdout);
}

struct Heard {
    int32_t digit;
    uint64_t at; /* where its frame began, at 44100 Hz */
};

/* What was heard since the last request, in blocks of tones. */
struct Ears {
    std::vector<Heard> heard;
    long block = 0;              /* where the newest block begins */
    long req = -1, req_end = -1; /* the last block before it of four tones or more */
    uint64_t frame_at = 0;
};

struct Station {
    std::map<std::string, std::string> dirs;
    EncodeJob tx; /* how answers are sent */
    double pause_s = 1, timeout_s = 10;
    double clear_s = 30; /* the longest wait for a free channel; 0: none */
    long max_answer = 200;
    CliTx radio;
    const DecodeSettings *ds = nullptr;
    const char *device = nullptr, *out_path = nullptr;
    CliSpool answers; /* for --out */
    Ears ears;
};

/* ---- The directory table ---- */

static int add_dir(Station *st, const std::string &entry, const char *where) {
    size_t eq = entry.find('=');
    std::string dir = entry.substr(0, eq == std::string::npos ? entry.size() : eq);
    while (!dir.empty() && isspace((unsigned char)dir.back())) dir.pop_back();
    while (!dir.empty() && isspace((unsigned char)dir[0])) dir.erase(0, 1);
    std::string command = eq == std::string::npos ? "" : entry.substr(eq + 1);
    while (!command.empty() && isspace((unsigned char)command[0])) command.erase(0, 1);
    int ok = dir.size() == 4 && eq != std::string::npos && !command.empty();
    for (size_t i = 0; ok && i < 4; i++) ok = dir[i] >= '0' && dir[i] <= '6';
    if (!ok) {
        cli_error(CMD, where, "'%s' is not NNNN=COMMAND (four digits 0-6, then the command)",
                  entry.c_str());
        return -1;
    }
    if (st->dirs.count(dir)) {
        cli_error(CMD, where, "directory %s is given twice", dir.c_str());
        return -1;
    }
    st->dirs[dir] = command;
    return 0;
}

static int load_dirs(Station *st, const char *path) {
    std::vector<uint8_t> bytes;
    std::string err;
    if (cli_read_all(path, &bytes, &err, 1 << 20) != 0 || bytes.size() > (1 << 20)) {
        cli_error(CMD, path, "%s", err.empty() ? "larger than 1 MiB" : err.c_str());
        return -1;
    }
    std::string text(bytes.begin(), bytes.end());
    size_t at = 0;
    for (int line = 1; at < text.size(); line++) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string s = text.substr(at, end - at);
        at = end + 1;
        if (!s.empty() && s.back() == '\r') s.pop_back();
        size_t first = s.find_first_not_of(" \t");
        if (first == std::string::npos || s[first] == '#') continue;
        std::string where = std::string(path) + ": line " + std::to_string(line);
        if (add_dir(st, s.substr(first), where.c_str()) != 0) return -1;
    }
    return 0;
}

/* ---- Finding a request in what was heard ---- */

struct Request {
    long marker = -1;        /* where the end marker's first heard tone is */
    long start = 0, end = 0; /* the request's own tones */
    int marker_digits = 0;   /* tones of the marker heard */
};

/* Tones from i on (lost ones aside) falling one after another, as the
 * marker's do: how many, or 0 when they do not. */
static int falling_from(const std::vector<Heard> &h, long i) {
    int n = 0, last = 7;
    for (size_t k = (size_t)i; k < h.size(); k++) {
        if (h[k].digit == RX_DIGIT_LOST) continue;
        if (h[k].digit >= last) return 0;
        last = h[k].digit;
        n++;
    }
    return n;
}

/* The usual interval between the tones before i in the block from s: the
 * median of the last few (a lost tone shares its successor's frame). */
static uint64_t pace_before(const std::vector<Heard> &h, long s, long i) {
    uint64_t iv[5];
    int n = 0;
    for (long k = i - 1; k > s && n < 5; k--)
        if (h[k].at > h[k - 1].at) iv[n++] = h[k].at - h[k - 1].at;
    std::sort(iv, iv + n);
    return n ? iv[(n - 1) / 2] : 0;
}

/* The marker opens with 6 (5 or 4 when that was lost), comes after a pause
 * or as a block of its own, and falls to 0, so only the newest few tones
 * can begin it. A message cannot fake it: its pairs have a high digit of
 * 0-3 and come at an even pace. */
static Request find_request(const Ears &e) {
    const std::vector<Heard> &h = e.heard;
    const uint64_t pause = MARKER_PAUSE;
    const long s = e.block;
    Request r;
    for (long i = std::max(s, (long)h.size() - 14); i < (long)h.size(); i++) {
        if (h[i].digit < 4 || h[i].digit > 6) continue;
        if (i == s && e.req >= 0) {
            r.start = e.req;
            r.end = e.req_end;
        } else if (i - s >= 4 && h[i].at - h[i - 1].at >= pace_before(h, s, i) + pause) {
            r.start = s;
            r.end = i;
        } else {
            continue;
        }
        int n = falling_from(h, i);
        if (n == 0) continue;
        r.marker = i;
        r.marker_digits = n;
        return r;
    }
    return Request();
}

/* ---- Answering ---- */

static std::string spelled(const std::string &digits) {
    static const char *const NAMES[7] = {"zero", "one", "two", "three", "four", "five", "six"};
    std::string s;
    for (char c : digits) s += std::string(s.empty() ? "" : " ") + NAMES[c - '0'];
    return s;
}

/* What the Transmit page would send of text: letters and spaces, one space
 * for any run of blanks and line breaks, at most `most` characters. */
static std::string air_text(const std::string &text, size_t most, int *cut) {
    std::string t;
    *cut = 0;
    for (char c : text) {
        if (isspace((unsigned char)c)) c = ' ';
        if (letter_to_num(c) < 0 || (c == ' ' && (t.empty() || t.back() == ' '))) continue;
        if (t.size() >= most) {
            *cut = 1;
            break;
        }
        t += (char)tolower((unsigned char)c);
    }
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
}

/* One line on standard error, after the date and time. */
static void log_line(const char *fmt, ...) CLI_PRINTF(1, 2);
static void log_line(const char *fmt, ...) {
    char when[32];
    time_t now = time(nullptr);
    strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", localtime(&now));
    fprintf(stderr, "%s ", when);
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fputc('\n', stderr);
    fflush(stderr);
}

/* The answer to the request in h[start, end); logs the exchange. */
static std::string answer_for(Station *st, const std::vector<Heard> &h, long start, long end) {
    std::string dir, message, outcome, answer;
    int garbled = (end - start - 4) % 2 != 0;
    for (long i = start; i < end && i < start + 4; i++)
        dir += h[i].digit == RX_DIGIT_LOST ? '?' : (char)('0' + h[i].digit);
    for (long i = start + 4; i + 1 < end; i += 2) {
        char c = rx_pair_char(h[i].digit, h[i + 1].digit, RX_READ_TEXT);
        garbled |= c == '?';
        message += c;
    }
    const auto known = st->dirs.find(dir);
    if (dir.size() < 4 || dir.find('?') != std::string::npos) {
        outcome = "directory not heard";
        answer = "directory not heard say again";
    } else if (garbled) {
        outcome = "message garbled";
        answer = "message garbled say again";
    } else if (known == st->dirs.end()) {
        outcome = "unknown directory";
        answer = "unknown directory " + spelled(dir);
    } else {
        std::string out, why;
        int status = 0;
        int rc =
            cli_run(known->second, message + "\n", st->timeout_s, 1 << 16, &out, &status, &why);
        int cut = 0;
        if (rc == RUN_DONE) {
            answer = air_text(out, (size_t)st->max_answer, &cut);
            outcome = answer.empty() ? "no text in the output" : cut ? "answered, cut" : "answered";
            if (answer.empty()) answer = "empty answer";
        } else if (rc == RUN_TIMED_OUT) {
            outcome = "no answer in " + std::to_string((long)st->timeout_s) + " s, stopped";
            answer = "no answer in time";
        } else if (rc == RUN_INTERRUPTED) {
            outcome = "interrupted";
        } else {
            outcome = rc == RUN_FAILED ? "command failed with status " + std::to_string(status)
                                       : "command did not start: " + why;
            answer = "command failed";
        }
    }
    log_line("dir %s \"%s\": %s; answer \"%s\"", dir.empty() ? "-" : dir.c_str(), message.c_str(),
             outcome.c_str(), answer.c_str());
    return answer;
}

/* Waits out the time until `until`, or a Ctrl-C. */
static void wait_until(std::chrono::steady_clock::time_point until) {
    while (!cli_interrupted() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

/* Sends the answer after the pause; live, once the asking station's last
 * block has ended (`tail_s` after heard_end) and the channel is free, a
 * quiet second of it counted into the pause. Logs what became of it. */
static int send_answer(Station *st, const std::string &text, double tail_s,
                       std::chrono::steady_clock::time_point heard_end) {
    uint64_t count = 0;
    uint32_t *digits = encode_text(text.c_str(), &count);
    EncodeJob job = st->tx;
    job.kind = "text";
    job.digits.assign(digits, digits + count);
    job.count = count;
    free(digits);
    SampleBuf b;
    sb_init(&b);
    int status = cli_build_transmission(CMD, &job, &b);
    if (status == CLI_OK && st->out_path) {
        cli_spool_add(&st->answers, nullptr, (uint64_t)(st->pause_s * DTMF_SAMPLE_RATE));
        cli_spool_add(&st->answers, b.data, b.len);
    } else if (status == CLI_OK) {
        wait_until(heard_end + std::chrono::milliseconds((long)(tail_s * 1000)));
        double pause = st->pause_s, waited = 0;
        int clear = st->clear_s > 0 && !cli_interrupted()
                        ? cli_wait_clear(CMD, st->device, st->ds, st->clear_s, &waited)
                        : 0;
        if (st->clear_s > 0 && clear == 0)
            pause = pause > CLI_CLEAR_QUIET_S ? pause - CLI_CLEAR_QUIET_S : 0;
        if (clear == 0 && waited >= 0.1)
            log_line("channel busy: waited %.1f s for it to clear", waited);
        if (clear == 1) {
            log_line("channel busy for %g s: answer not sent", st->clear_s);
        } else if (clear == 0 && !cli_interrupted()) {
            status = cli_transmit(CMD, &st->radio, &b, pause);
            double took = std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                        heard_end)
                              .count();
            log_line("answer %s; %.1f s after the request", status == CLI_OK ? "sent" : "not sent",
                     took);
        }
        if (clear < 0) status = CLI_BAD_INPUT;
    }
    sb_free(&b);
    return status;
}

/* ---- Hearing ---- */

static int32_t on_frame(void *ctx, uint64_t start, int32_t, int32_t, float, float) {
    ((Ears *)ctx)->frame_at = start;
    return 0;
}

static void on_digit(void *ctx, int32_t digit) {
    Ears *e = (Ears *)ctx;
    std::vector<Heard> &h = e->heard;
    /* Nothing on the air runs that long without a marker. */
    if (h.size() >= 4 * SERVER_MAX_DIGITS) *e = Ears{{}, 0, -1, -1, e->frame_at};
    const long n = (long)h.size();
    if (n > 0 && e->frame_at - h.back().at > (uint64_t)(BLOCK_GAP_S * DTMF_SAMPLE_RATE)) {
        if (n - e->block >= 4) {
            e->req = e->block;
            e->req_end = n;
        }
        e->block = n;
    }
    h.push_back(Heard{digit, e->frame_at});
}

/* A request complete at `now` (UINT64_MAX: the recording has ended)? Forgets
 * tones that have gone stale. */
static int request_ready(Ears *e, uint64_t now, Request *r) {
    std::vector<Heard> &h = e->heard;
    if (h.empty()) return 0;
    *r = find_request(*e);
    uint64_t quiet = now - h.back().at;
    if (r->marker >= 0 && r->marker_digits >= MARKER_MIN_DIGITS &&
        (h.back().digit == 0 || quiet > (uint64_t)(END_GAP_S * DTMF_SAMPLE_RATE)))
        return 1;
    if (quiet > (uint64_t)(STALE_S * DTMF_SAMPLE_RATE)) {
        if (h.size() >= 4) log_line("%zu tones heard without an end marker: no request", h.size());
        *e = Ears{{}, 0, -1, -1, e->frame_at};
    }
    return 0;
}

int cmd_serve(int argc, char **argv, const char *argv0) {
    Station st;
    cli_spool_init(&st.answers);
    DecodeSettings ds = {0.3f, 0, CLI_DEFAULT_HOP, 1, KEYS_0_6};
    const char *in_path = nullptr;
    long exchanges = 0;
    st.radio.limit_s = 120; /* answers are short: a longer one is a fault */
    st.ds = &ds;
    std::vector<CliOption> table = {
        cli_text_opt("--dir", nullptr, nullptr),
        cli_text_opt("--dirs", nullptr, nullptr, OPT_PATH),
        cli_number_opt("--pause", OPT_REAL, 0, 60,
                       "--pause must be a number of seconds from 0 to 60",
                       [&](double v) { st.pause_s = v; }),
        cli_number_opt("--timeout", OPT_REAL, 0.1, 3600,
                       "--timeout must be a number of seconds from 0.1 to 3600",
                       [&](double v) { st.timeout_s = v; }),
        cli_number_opt("--max-answer", OPT_WHOLE, 1, RX_MAX_DIGITS / 2,
                       "--max-answer must be a whole number from 1 to " +
                           std::to_string(RX_MAX_DIGITS / 2),
                       [&](double v) { st.max_answer = (long)v; }),
        cli_number_opt("--exchanges", OPT_WHOLE, 1, 2147483647,
                       "--exchanges must be a whole number from 1 to 2147483647",
                       [&](double v) { exchanges = (long)v; }),
        cli_number_opt("--clear-wait", OPT_REAL, 0, 3600,
                       "--clear-wait must be a number of seconds from 0 to 3600",
                       [&](double v) { st.clear_s = v; }),
        cli_text_opt("--device", nullptr, &st.device),
        cli_text_opt("--out-device", nullptr, &st.radio.device),
        cli_text_opt("--in", nullptr, &in_path, OPT_PATH),
        cli_text_opt("--out", nullptr, &st.out_path, OPT_PATH),
    };
    table[0].take = [&](const char *v, double) {
        return add_dir(&st, v, "--dir") ? CLI_USAGE : -1;
    };
    table[1].take = [&](const char *v, double) { return load_dirs(&st, v) ? CLI_BAD_INPUT : -1; };
    cli_decode_options(&table, &ds);
    cli_radio_options(CMD, &table, &st.radio);
    /* --repeater also listens for disguised tones */
    cli_tx_options(CMD, &table, &st.tx, &ds.repeater);
    std::vector<const char *> pos;
    int status = cli_parse(CMD, argc, argv, table, help_serve, &pos);
    if (status >= 0) return status;
    if (!pos.empty())
        return cli_usage_error(CMD, "takes no file ('%s'): give a recording with --in", pos[0]);
    if (st.dirs.empty())
        return cli_usage_error(CMD, "give the directories it serves: --dir NNNN=COMMAND or "
                                    "--dirs FILE");
    if ((st.device || st.radio.device) && !CLI_SOUND_NAMED_DEVICES)
        return cli_usage_error(CMD, "--device and --out-device are not supported on Windows; the "
                                    "default devices are used");
    st.tx.repeater = ds.repeater;
    ds.resample = 1; /* the gaps above are measured at 44100 Hz */
    if (st.tx.clip_dir.empty()) st.tx.clip_dir = cli_exe_dir(argv0) + "/audio";
    /* A missing clip is found now, not at the first answer. */
    SampleBuf probe;
    sb_init(&probe);
    st.tx.kind = "text";
    status = cli_build_transmission(CMD, &st.tx, &probe);
    sb_free(&probe);
    if (status != CLI_OK) return status;

    /* The answers' file is found writable before any command runs. */
    int out_made = 0;
    if (st.out_path && cli_check_output(CMD, st.out_path, &out_made) != CLI_OK)
        return CLI_BAD_INPUT;
    /* A recording to hear instead of the device, read as it comes: a pipe
     * from a live receiver is answered while it goes on. */
    CliAudio file;
    if (in_path && cli_open_audio(CMD, in_path, 0, &file) != CLI_OK) {
        if (out_made) remove(st.out_path);
        return CLI_BAD_INPUT;
    }

    /* A PTT that cannot be had is found before anything is heard. */
    if (!st.out_path && cli_tx_open(CMD, &st.radio) != CLI_OK) {
        if (in_path) cli_close_audio(CMD, &file);
        return CLI_BAD_INPUT;
    }
    cli_catch_interrupt();
    std::string list;
    for (const auto &d : st.dirs) list += (list.empty() ? "" : ", ") + d.first;
    fprintf(stderr, "tessary-cli: serve: listening for requests to %s (Ctrl-C stops)\n",
            list.c_str());
    CliRec *rec = nullptr;
    DecodeStream d;
    decode_stream_init(&d, &ds, in_path ? (int32_t)file.wav.info.rate : DTMF_SAMPLE_RATE, on_frame,
                       on_digit, &st.ears);
    std::vector<float> block(in_path ? 1024 : 0);
    std::string err;
    long answered = 0;
    status = CLI_OK;
    while (status == CLI_OK && !cli_interrupted() && !(exchanges && answered >= exchanges)) {
        uint64_t now;
        if (in_path) {
            uint64_t n = cli_read_audio(&file, block.data(), block.size());
            decode_stream_feed(&d, block.data(), n);
            if (n == 0) decode_stream_finish(&d);
            now = n == 0 ? UINT64_MAX : decode_stream_samples(&d);
        } else {
            if (!rec && !(rec = cli_rec_open(st.device, &err))) {
                cli_error(CMD, nullptr, "cannot open the recording device: %s", err.c_str());
                status = CLI_BAD_INPUT;
                break;
            }
            if (cli_rec_read(rec, &block, &err) < 0) {
                cli_error(CMD, nullptr, "the recording device failed: %s", err.c_str());
                status = CLI_BAD_INPUT;
                break;
            }
            decode_stream_feed(&d, block.data(), block.size());
            now = decode_stream_samples(&d);
        }
        Request r;
        if (request_ready(&st.ears, now, &r)) {
            auto heard_end = std::chrono::steady_clock::now();
            const std::vector<Heard> &h = st.ears.heard;
            /* The asking station's block goes on for a tone, a gap and its
             * closing silence after the last tone began (at 100 % when the
             * pace is not known). */
            uint64_t pace = pace_before(h, r.start, r.end);
            uint64_t tail_end =
                h.back().at +
                (pace ? pace : (uint64_t)((TONE_S_AT_100 + GAP_S_AT_100) * DTMF_SAMPLE_RATE)) +
                BLOCK_TAIL_SAMPLES;
            double tail_s =
                !in_path && tail_end > now ? (double)(tail_end - now) / DTMF_SAMPLE_RATE : 0;
            if (rec) { /* half duplex: deaf while it answers */
                cli_rec_close(rec);
                rec = nullptr;
            }
            std::string text = answer_for(&st, h, r.start, r.end);
            if (!text.empty() && !cli_interrupted())
                status = send_answer(&st, text, tail_s, heard_end);
            if (status == CLI_BAD_INPUT && !st.out_path) status = CLI_OK; /* heard, keep serving */
            answered++;
            st.ears = Ears{{}, 0, -1, -1, 0};
            if (!in_path) { /* the sound heard next does not follow on */
                decode_stream_free(&d);
                decode_stream_init(&d, &ds, DTMF_SAMPLE_RATE, on_frame, on_digit, &st.ears);
            }
        }
        if (in_path && now == UINT64_MAX) break;
    }
    cli_rec_close(rec);
    cli_ptt_close(&st.radio.ptt);
    decode_stream_free(&d);
    if (in_path && cli_close_audio(CMD, &file) != CLI_OK) status = CLI_BAD_INPUT;
    /* No answer, no file: an empty WAV would pass for a silent answer. */
    if (status == CLI_OK && st.out_path && st.answers.n)
        status = cli_spool_save(CMD, st.out_path, &st.answers);
    else if (out_made)
        remove(st.out_path);
    cli_spool_free(&st.answers);
    if (status == CLI_OK && in_path && answered == 0) {
        cli_error(CMD, file.shown, "no request heard");
        status = CLI_BAD_INPUT;
    }
    return status;
}
