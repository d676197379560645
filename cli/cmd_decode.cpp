/* tessary-cli decode: the digits the window program's file decoding finds,
 * read as digits, text, hex bytes or an image. */
#include "cli/cli.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

static const char *const CMD = "decode";

void help_decode(void) {
    fputs("Usage: tessary-cli decode FILE|- [OPTIONS]\n"
          "\n"
          "Finds the digits in a WAV recording the way the window program decodes a\n"
          "file: brought to 44100 Hz, frames of 2048 samples, two frames in a row\n"
          "per digit. The recording is read as it comes, so it may be a pipe from a\n"
          "receiver (\"-\"): what is found is printed at once.\n"
          "\n"
          "Options:\n"
          "  --as digits|text|hex|image\n"
          "                      what to print (default text): the digits 0-6;\n"
          "                      letters, two digits each; hex characters, two\n"
          "                      digits each; or the 8x8 grid of the first 64\n"
          "  --keys 0-6|all      the digits 0-6 this program sends (default), or all\n"
          "                      sixteen DTMF keys 0-9 * # A-D of any sender (dialers,\n"
          "                      control codes), printed as they are (--as digits)\n"
          "  --json              one JSON object a line per transmission (told apart\n"
          "                      by a request's end marker or 2.5 s without a tone):\n"
          "                      start and end in seconds, digits, text or hex as\n"
          "                      --as says, lost (tones lost), dir for a request\n"
          "  -o, --output FILE   write there instead of standard output, at the end;\n"
          "                      with --as hex, the decoded bytes themselves\n"
          "  --raw RATE          the input is raw 16-bit little-endian mono PCM at\n"
          "                      RATE Hz (as arecord -t raw, rtl_fm and sox write it)\n"
          "  --threshold T       0.10-0.70, default 0.30: how strong each tone of a\n"
          "                      pair must be against the whole frame\n"
          "  --repeater          listen for tones disguised with the 1800 Hz carrier\n"
          "  --hop N             samples between frame starts, 64-1024, default 1024;\n"
          "                      fast transmissions (over 150 %) need 256\n"
          "  --native-rate       decode at the file's own rate instead of 44100 Hz\n"
          "                      (frames of 2048 samples then last 256 ms at 8000 Hz,\n"
          "                      too long for the gaps between tones)\n"
          "  -h, --help          this text\n"
          "\n"
          "Exit status 1 when no digit is found, the image is incomplete, or the hex\n"
          "cannot be saved as bytes.\n",
          stdout);
}

void cli_decode_options(std::vector<CliOption> *t, DecodeSettings *ds) {
    t->push_back(cli_number_opt("--threshold", OPT_REAL, 0.1, 0.7,
                                "--threshold must be a number from 0.10 to 0.70",
                                [ds](double v) { ds->threshold = (float)v; }));
    /* Hops under 64 lose and invent digits at any speed (and take minutes);
     * over 1024 they miss the gaps of anything faster than 100 %. */
    t->push_back(cli_number_opt("--hop", OPT_WHOLE, 64, 1024,
                                "--hop must be a whole number of samples from 64 to 1024",
                                [ds](double v) { ds->hop = (uint64_t)v; }));
    t->push_back(cli_flag_opt("--repeater", &ds->repeater));
    t->push_back(cli_flag_opt("--resample", &ds->resample)); /* the default; kept for old scripts */
    t->push_back(cli_flag_opt("--native-rate", &ds->resample, 0));
}

CliOption cli_keys_option(const char *cmd, DecodeSettings *ds) {
    CliOption o;
    o.name = "--keys";
    o.take = [cmd, ds](const char *v, double) {
        if (strcmp(v, "0-6") != 0 && strcmp(v, "all") != 0)
            return cli_usage_error(cmd, "--keys must be 0-6 or all, not '%s'", v);
        ds->keys = strcmp(v, "all") == 0 ? KEYS_ALL : KEYS_0_6;
        return -1;
    };
    return o;
}

int cli_keys_check(const char *cmd, const DecodeSettings *ds, const char **as) {
    if (ds->keys != KEYS_ALL) {
        if (as && !*as) *as = "text";
        return -1;
    }
    if (ds->repeater)
        return cli_usage_error(cmd, "--repeater hears this program's own disguised digits 0-6, "
                                    "not --keys all");
    if (!as) return -1;
    if (!*as) *as = "digits";
    if (strcmp(*as, "text") == 0 || strcmp(*as, "hex") == 0 || strcmp(*as, "image") == 0)
        return cli_usage_error(cmd,
                               "--as %s reads the digits 0-6: with --keys all the keys are "
                               "printed as they are (--as digits)",
                               *as);
    return -1;
}

struct WalkCtx {
    FrameSketch *frames;
    RxDigits *digits;
    uint64_t rate, frame_at, last_at;
    std::vector<uint32_t> intervals; /* between digits of one transmission */
    TxLines *lines;
};

static int32_t walk_frame(void *ctx, uint64_t start, int32_t detection, int32_t digit,
                          float row_level, float col_level) {
    WalkCtx *w = (WalkCtx *)ctx;
    w->frame_at = start;
    if (w->frames)
        sketch_add(w->frames,
                   FrameInfo{start, detection, digit, row_level, col_level, row_level, col_level});
    return 0;
}

static void walk_digit(void *ctx, int32_t digit) {
    WalkCtx *w = (WalkCtx *)ctx;
    rx_digits_add(w->digits, digit);
    if (w->lines) lines_digit(w->lines, digit, w->frame_at);
    if (digit == rx_lost_marker(w->digits->keys)) return;
    uint64_t gap = w->frame_at - w->last_at;
    if (w->last_at && gap > 0 && gap < w->rate) w->intervals.push_back((uint32_t)gap);
    w->last_at = w->frame_at;
}

/* The usual interval between digits: the median. */
static uint64_t median_pace(std::vector<uint32_t> *iv) {
    if (iv->empty()) return 0;
    std::nth_element(iv->begin(), iv->begin() + iv->size() / 2, iv->end());
    return (*iv)[iv->size() / 2];
}

int cli_decode_args(const char *cmd, int argc, char **argv, void (*help)(void), DecodeSettings *ds,
                    const char **in_path, const char **out_path, std::vector<CliOption> own) {
    own.push_back(cli_text_opt("--output", "-o", out_path, OPT_PATH));
    cli_decode_options(&own, ds);
    std::vector<const char *> pos;
    int status = cli_parse(cmd, argc, argv, own, help, &pos);
    if (status >= 0) return status;
    if (pos.size() > 1) return cli_usage_error(cmd, "one file at a time ('%s' is extra)", pos[1]);
    if (pos.empty()) return cli_usage_error(cmd, "give the WAV file to %s (or - for stdin)", cmd);
    *in_path = pos[0];
    return -1;
}

CliOption cli_raw_option(long *rate) {
    return cli_number_opt("--raw", OPT_WHOLE, 1000, 768000,
                          "--raw must be a sample rate from 1000 to 768000 Hz",
                          [rate](double v) { *rate = (long)v; });
}

/* Blocks read ahead of the decoder, handed over in order: reading and
 * converting one while the detector works on another keeps both cores
 * busy. */
static const int READ_AHEAD = 4;
static const uint64_t BLOCK = 131072;
/* Shared with the reading thread, which may outlive the walk: see below. */
struct ReadAhead {
    CliAudio audio;
    std::vector<float> store;
    float *blocks[READ_AHEAD];
    uint64_t lens[READ_AHEAD];
    int head = 0, count = 0, ended = 0, stop = 0;
    std::mutex m;
    std::condition_variable changed;
};

static void read_ahead(std::shared_ptr<ReadAhead> ra) {
    for (int tail = 0;; tail = (tail + 1) % READ_AHEAD) {
        {
            std::unique_lock<std::mutex> lock(ra->m);
            ra->changed.wait(lock, [ra] { return ra->count < READ_AHEAD || ra->stop; });
            if (ra->stop) return;
        }
        uint64_t n = cli_read_audio(&ra->audio, ra->blocks[tail], BLOCK);
        std::lock_guard<std::mutex> lock(ra->m);
        ra->lens[tail] = n;
        if (n == 0)
            ra->ended = 1;
        else
            ra->count++;
        ra->changed.notify_all();
        if (n == 0) return;
    }
}

int cli_read_recording(const char *cmd, const char *path, uint32_t raw_rate,
                       const DecodeSettings *ds, FrameSketch *frames, RxDigits *digits,
                       Recording *rec, int (*on_block)(void *ctx), void *ctx, TxLines *lines) {
    auto shared = std::make_shared<ReadAhead>();
    ReadAhead &ra = *shared;
    CliAudio &audio = ra.audio;
    int status = cli_open_audio(cmd, path, raw_rate, &audio);
    if (status != CLI_OK) return status;
    rec->file_rate = audio.wav.info.rate;
    WalkCtx w = {frames, digits, 0, 0, 0, {}, lines};
    DecodeStream d;
    decode_stream_init(&d, ds, (int32_t)rec->file_rate, walk_frame, walk_digit, &w);
    w.rate = (uint64_t)d.rate;
    if (lines) lines->rate = w.rate;
    if (frames) frames->rate = (uint32_t)d.rate;

    ra.store.resize((size_t)(READ_AHEAD * BLOCK));
    for (int i = 0; i < READ_AHEAD; i++) ra.blocks[i] = ra.store.data() + i * BLOCK;
    std::thread reader;
    try {
        reader = std::thread(read_ahead, shared);
    } catch (const std::system_error &) { /* no thread to spare: read in turn */
        for (uint64_t n; (n = cli_read_audio(&audio, ra.blocks[0], BLOCK)) > 0;) {
            decode_stream_feed(&d, ra.blocks[0], n);
            if (on_block && on_block(ctx)) break;
        }
    }
    while (reader.joinable()) {
        std::unique_lock<std::mutex> lock(ra.m);
        ra.changed.wait(lock, [&ra] { return ra.count > 0 || ra.ended; });
        if (ra.count == 0) break;
        lock.unlock();
        decode_stream_feed(&d, ra.blocks[ra.head], ra.lens[ra.head]);
        int stop = on_block && on_block(ctx);
        lock.lock();
        ra.head = (ra.head + 1) % READ_AHEAD;
        ra.count--;
        ra.stop = stop;
        ra.changed.notify_all();
        if (stop) break;
    }
    /* Stopped early (a write error), the reader may wait on a pipe that
     * never brings more: it is left to it, with its own share of the
     * input, which stays open until the process ends. */
    int abandoned = 0;
    if (reader.joinable()) {
        std::unique_lock<std::mutex> lock(ra.m);
        abandoned = ra.stop && !ra.ended;
        lock.unlock();
        if (abandoned)
            reader.detach();
        else
            reader.join();
    }
    decode_stream_finish(&d);
    if (frames) sketch_finish(frames);
    if (on_block) on_block(ctx);
    rec->rate = (uint32_t)d.rate;
    rec->n_samples = decode_stream_samples(&d);
    rec->pace = median_pace(&w.intervals);
    decode_stream_free(&d);
    if (abandoned) return CLI_OK;
    uint64_t bytes = audio.bytes;
    status = cli_close_audio(cmd, &audio);
    if (status == CLI_OK && bytes == 0 && raw_rate) {
        cli_error(cmd, audio.shown, "empty file");
        status = CLI_BAD_INPUT;
    }
    return status;
}

static int write_text(const char *out_path, const std::string &text) {
    std::string err;
    if (cli_write_all(out_path ? out_path : "-", text.data(), text.size(), &err) != 0) {
        cli_error(CMD, out_path ? out_path : "<stdout>", "cannot write: %s", err.c_str());
        return CLI_BAD_INPUT;
    }
    return CLI_OK;
}

/* Output to standard output goes out as the digits arrive, so a pipe from
 * a receiver shows each letter, digit or image row once it is complete. */
struct LiveOut {
    const char *as;
    const RxDigits *digits;
    uint64_t taken; /* digits turned into output so far */
    std::string text;
    int write_errno;
};

static int live_flush(void *ctx) {
    LiveOut *l = (LiveOut *)ctx;
    cli_digit_text(l->digits->digits, l->taken, l->digits->count, l->as[0], &l->text,
                   l->digits->keys);
    l->taken = l->digits->count;
    if (l->text.empty() || l->write_errno) return l->write_errno;
    errno = 0;
    if (fwrite(l->text.data(), 1, l->text.size(), stdout) != l->text.size() || fflush(stdout) != 0)
        l->write_errno = errno ? errno : EIO;
    l->text.clear();
    return l->write_errno;
}

/* Writes what was found: all of it, or the rest after what went out live. */
static int emit(const char *out_path, LiveOut *live, const std::string &all, size_t shown) {
    if (!live) return write_text(out_path, all);
    live->text += all.substr(shown);
    if (live_flush(live) == 0) return CLI_OK;
    cli_error(CMD, out_path ? out_path : "<stdout>", "cannot write: %s",
              strerror(live->write_errno));
    return CLI_BAD_INPUT;
}

/* Tones come at two parts tone to one part gap. A gap shorter than a
 * frame plus a hop leaves no frame clear of the tones on either side, and
 * digits run together, go missing or appear from nowhere (seen at 200-500 %
 * speed, and above 150 % at hops of 512 and more). Lost digits or pairs
 * that read as nothing at such a pace are taken as the sign that it
 * happened: the result is refused. reading: RX_READ_TEXT or RX_READ_HEX,
 * or -1 for digits read alone. */
static int too_fast(const char *shown, const Recording *rec, const RxDigits *digits,
                    const DecodeSettings *ds, int reading) {
    const uint64_t gap = rec->pace / 3;
    if (!rec->pace || gap >= DECODE_FRAME_LEN + ds->hop) return 0;
    uint64_t bad = (uint64_t)std::count(digits->digits, digits->digits + digits->count,
                                        rx_lost_marker(digits->keys));
    if (reading >= 0) {
        std::vector<char> t((size_t)digits->count + 1);
        uint64_t n = rx_digits_read(digits, reading, t.data(), t.size());
        bad = (uint64_t)std::count(t.data(), t.data() + n, '?') + digits->count % 2;
    }
    if (!bad) return 0;
    double speed = 100.0 * (TONE_S_AT_100 + GAP_S_AT_100) * rec->rate / (double)rec->pace;
    const uint64_t clear = DECODE_FRAME_LEN * 3 / 4; /* what a small hop gets by with */
    uint64_t hop = 64;
    while (hop * 2 + clear <= gap && hop < 256) hop *= 2; /* the pace is measured a hop coarse */
    char tail[96];
    if (hop + clear <= gap && hop < ds->hop && ds->resample)
        snprintf(tail, sizeof tail, "try --hop %llu", (unsigned long long)hop);
    else
        snprintf(tail, sizeof tail, "faster than this receiver reads");
    cli_error(CMD, shown,
              "the tones come at about %.0f %% speed, too fast for --hop %llu: %llu %s, so what "
              "is shown may be wrong -- %s",
              speed, (unsigned long long)ds->hop, (unsigned long long)bad,
              reading >= 0 ? "characters unreadable" : "digits lost", tail);
    return 1;
}

/* What was found, as asked; the status says whether it was enough. With
 * live, what it has printed is not printed again. */
static int report(const char *shown, const char *as, const char *out_path, const RxDigits *digits,
                  uint64_t n_samples, const DecodeSettings *ds, LiveOut *live) {
    int status = CLI_OK;
    if (live && live->write_errno) { /* nothing more can be said where it would go */
        cli_error(CMD, out_path ? out_path : "<stdout>", "cannot write: %s",
                  strerror(live->write_errno));
        return CLI_BAD_INPUT;
    }
    if (n_samples < DECODE_FRAME_LEN) {
        cli_error(CMD, shown, "too short to decode (%llu samples; one frame is %d)",
                  (unsigned long long)n_samples, DECODE_FRAME_LEN);
        return CLI_BAD_INPUT;
    }
    if (digits->count == 0) {
        cli_error(CMD, shown, "no tones detected -- try a lower --threshold%s",
                  ds->repeater || ds->keys ? "" : ", or --repeater for disguised tones");
        return CLI_BAD_INPUT;
    }

    uint64_t n = digits->count;
    std::vector<char> buf((size_t)n + 1);
    if (strcmp(as, "digits") == 0) {
        rx_digits_chars(digits, buf.data(), buf.size());
        return emit(out_path, live, std::string(buf.data()) + "\n", (size_t)n);
    }
    if (strcmp(as, "image") == 0) {
        std::string t;
        for (int i = 0; i < 64; i++) {
            t += i < (int)n ? rx_value_char(digits->digits[i], KEYS_0_6) : '.';
            t += (i % 8 == 7) ? '\n' : ' ';
        }
        status = emit(out_path, live, t, (size_t)(n < 64 ? n / 8 : 8) * 16);
        if (status != CLI_OK) return status;
        if (n < 64) {
            cli_error(CMD, shown,
                      "image incomplete: %llu of 64 pixels -- try a lower --threshold, or --hop "
                      "256 above 150 %% speed",
                      (unsigned long long)n);
            return CLI_BAD_INPUT;
        }
        if (n > 64)
            cli_warn(CMD, shown, "%llu more digits after the 64 pixels were ignored",
                     (unsigned long long)(n - 64));
        return CLI_OK;
    }

    if (n < 2) {
        cli_error(CMD, shown,
                  "only one digit found, no pair to read as %s -- try a lower --threshold", as);
        return CLI_BAD_INPUT;
    }
    if (n % 2)
        cli_warn(CMD, shown, "odd number of digits (%llu): the last one has no partner",
                 (unsigned long long)n);
    uint64_t len = rx_digits_read(digits, strcmp(as, "text") == 0 ? RX_READ_TEXT : RX_READ_HEX,
                                  buf.data(), buf.size());
    std::string t(buf.data(), (size_t)len);
    if (strcmp(as, "text") == 0 || !out_path) return emit(out_path, live, t + "\n", t.size());

    /* Bytes only from a clean hex string; the core's refusal says why not. */
    uint64_t nbytes = 0;
    const char *why = nullptr;
    uint8_t *bytes = hex_string_to_bytes(t.data(), t.size(), &nbytes, &why);
    if (!bytes) {
        cli_error(CMD, shown, "cannot save the bytes: %s", why ? why : "invalid hex");
        return CLI_BAD_INPUT;
    }
    std::string err;
    if (cli_write_all(out_path, bytes, (size_t)nbytes, &err) != 0) {
        cli_error(CMD, strcmp(out_path, "-") == 0 ? "<stdout>" : out_path, "cannot write: %s",
                  err.c_str());
        status = CLI_BAD_INPUT;
    }
    free(bytes);
    return status;
}

int cmd_decode(int argc, char **argv) {
    DecodeSettings ds = {0.3f, 0, CLI_DEFAULT_HOP, 1, KEYS_0_6};
    const char *as = nullptr, *out_path = nullptr, *in_path = nullptr;
    long raw_rate = 0;
    int json = 0;
    int status = cli_decode_args(CMD, argc, argv, help_decode, &ds, &in_path, &out_path,
                                 {cli_text_opt("--as", nullptr, &as), cli_raw_option(&raw_rate),
                                  cli_flag_opt("--json", &json), cli_keys_option(CMD, &ds)});
    if (status >= 0) return status;
    status = cli_keys_check(CMD, &ds, &as);
    if (status >= 0) return status;
    if (json && out_path)
        return cli_usage_error(CMD, "--json writes to standard output; -o does not go with it");
    if (strcmp(as, "digits") != 0 && strcmp(as, "text") != 0 && strcmp(as, "hex") != 0 &&
        strcmp(as, "image") != 0)
        return cli_usage_error(CMD, "--as must be digits, text, hex or image, not '%s'", as);

    RxDigits digits;
    rx_digits_init(&digits, 0);
    digits.keys = ds.keys;
    if (json) {
        TxLines lines;
        lines_init(&lines, as[0], 1, DTMF_SAMPLE_RATE, ds.keys);
        Recording rec;
        status = cli_read_recording(CMD, in_path, (uint32_t)raw_rate, &ds, nullptr, &digits, &rec,
                                    nullptr, nullptr, &lines);
        lines_end(&lines);
        const char *shown = strcmp(in_path, "-") == 0 ? "<stdin>" : in_path;
        if (status == CLI_OK && lines.write_errno) {
            cli_error(CMD, "<stdout>", "cannot write: %s", strerror(lines.write_errno));
            status = CLI_BAD_INPUT;
        } else if (status == CLI_OK && digits.count == 0) {
            cli_error(CMD, shown, "no tones detected -- try a lower --threshold%s",
                      ds.repeater || ds.keys ? "" : ", or --repeater for disguised tones");
            status = CLI_BAD_INPUT;
        }
        rx_digits_free(&digits);
        return status;
    }
    /* Hex bytes are written whole at the end, and so is a file. */
    int to_stdout = !out_path || (strcmp(out_path, "-") == 0 && strcmp(as, "hex") != 0);
    LiveOut live = {as, &digits, 0, std::string(), 0};
    Recording rec;
    status = cli_read_recording(CMD, in_path, (uint32_t)raw_rate, &ds, nullptr, &digits, &rec,
                                to_stdout ? live_flush : nullptr, &live);
    const char *shown = strcmp(in_path, "-") == 0 ? "<stdin>" : in_path;
    if (status == CLI_OK)
        status =
            report(shown, as, out_path, &digits, rec.n_samples, &ds, to_stdout ? &live : nullptr);
    int reading = strcmp(as, "text") == 0  ? RX_READ_TEXT
                  : strcmp(as, "hex") == 0 ? RX_READ_HEX
                                           : -1;
    if (status == CLI_OK && too_fast(shown, &rec, &digits, &ds, reading)) status = CLI_BAD_INPUT;
    rx_digits_free(&digits);
    return status;
}
