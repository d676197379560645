/* tessary-cli decode: the digits the window program's file decoding finds,
 * read as digits, text, hex bytes or an image. */
#include "cli/cli.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *const CMD = "decode";

void help_decode(void) {
    fputs("Usage: tessary-cli decode FILE|- [OPTIONS]\n"
          "\n"
          "Finds the digits in a WAV recording the way the window program decodes a\n"
          "file: brought to 44100 Hz, frames of 2048 samples, two frames in a row\n"
          "per digit.\n"
          "\n"
          "Options:\n"
          "  --as digits|text|hex|image\n"
          "                      what to print (default text): the digits 0-6;\n"
          "                      letters, two digits each; hex characters, two\n"
          "                      digits each; or the 8x8 grid of the first 64\n"
          "  -o, --output FILE   write there instead of standard output; with\n"
          "                      --as hex, the decoded bytes themselves\n"
          "  --threshold T       0.10-0.70, default 0.30: how strong each tone of a\n"
          "                      pair must be against the whole frame\n"
          "  --repeater          listen for tones disguised with the 1800 Hz carrier\n"
          "  --hop N             samples between frame starts, 1-2048, default 1024;\n"
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

/* 1 when argv[a->i] was a decode option, 0 when not, -1 on a bad value (reported). */
static int decode_option(const char *cmd, CliArgs *a, DecodeSettings *ds) {
    const char *val = nullptr;
    int bad = 0;
    if (cli_flag(a, "--repeater", nullptr)) {
        ds->repeater = 1;
        return 1;
    }
    if (cli_flag(a, "--resample", nullptr)) { /* the default; kept for old scripts */
        ds->resample = 1;
        return 1;
    }
    if (cli_flag(a, "--native-rate", nullptr)) {
        ds->resample = 0;
        return 1;
    }
    if (cli_opt(a, "--threshold", nullptr, &val, &bad)) {
        double t = 0;
        if (bad || cli_parse_double(val, &t) != 0 || t < 0.1 - 1e-9 || t > 0.7 + 1e-9) {
            cli_usage_error(cmd, "--threshold must be a number from 0.10 to 0.70, not '%s'",
                            val ? val : "");
            return -1;
        }
        ds->threshold = (float)t;
        return 1;
    }
    if (cli_opt(a, "--hop", nullptr, &val, &bad)) {
        long h = 0;
        if (bad || cli_parse_int(val, &h) != 0 || h < 1 || h > CLI_FRAME_LEN) {
            cli_usage_error(cmd, "--hop must be a whole number of samples from 1 to 2048, not '%s'",
                            val ? val : "");
            return -1;
        }
        ds->hop = (uint64_t)h;
        return 1;
    }
    return 0;
}

static void apply_resample(const DecodeSettings *ds, SampleBuf *s, uint32_t *rate) {
    if (!ds->resample || *rate == DTMF_SAMPLE_RATE) return;
    SampleBuf r;
    sb_init(&r);
    resample_linear(s, (int32_t)*rate, DTMF_SAMPLE_RATE, &r);
    sb_free(s);
    *s = r;
    *rate = DTMF_SAMPLE_RATE;
}

struct WalkCtx {
    std::vector<FrameInfo> *frames;
    RxDigits *digits;
    DigitPacer pacer;
};

static int32_t walk_visit(void *ctx, uint64_t start, int32_t detection, int32_t digit,
                          float row_level, float col_level) {
    WalkCtx *w = (WalkCtx *)ctx;
    if (w->frames) w->frames->push_back(FrameInfo{start, detection, digit, row_level, col_level});
    int32_t out[DIGIT_PACER_OUT];
    int32_t n = digit >= 0 ? digit_pacer_feed(&w->pacer, digit, start, out) : 0;
    for (int32_t i = 0; i < n; i++) rx_digits_add(w->digits, out[i]);
    return 0;
}

static void walk_frames(const SampleBuf *s, uint32_t rate, const DecodeSettings *ds,
                        std::vector<FrameInfo> *frames, RxDigits *digits) {
    WalkCtx w = {frames, digits, {}};
    digit_pacer_reset(&w.pacer, (int32_t)rate);
    DigitStream stream;
    digit_stream_reset(&stream);
    if (s->len < CLI_FRAME_LEN) return;
    if (frames) frames->reserve((size_t)((s->len - CLI_FRAME_LEN) / ds->hop + 1));
    detect_frames(s->data, s->len, (int32_t)rate, CLI_FRAME_LEN, ds->hop, ds->threshold,
                  ds->repeater, &stream, walk_visit, &w);
    int32_t out[DIGIT_PACER_OUT];
    int32_t n = digit_pacer_flush(&w.pacer, out);
    for (int32_t i = 0; i < n; i++) rx_digits_add(digits, out[i]);
}

int cli_decode_args(const char *cmd, int argc, char **argv, void (*help)(void), DecodeSettings *ds,
                    const char **in_path, const char **out_path, std::vector<CliValueOpt> own) {
    CliArgs a = {argc, argv, 0};
    own.push_back(CliValueOpt{"--output", "-o", out_path});
    while (a.i < a.argc) {
        const char *arg = a.argv[a.i];
        if (arg[0] != '-' || strcmp(arg, "-") == 0) {
            if (*in_path) return cli_usage_error(cmd, "one file at a time ('%s' is extra)", arg);
            *in_path = arg;
            a.i++;
            continue;
        }
        if (cli_flag(&a, "--help", "-h")) {
            help();
            return CLI_OK;
        }
        int r = decode_option(cmd, &a, ds);
        if (r < 0) return CLI_USAGE;
        if (r > 0) continue;
        int bad = 0, known = 0;
        for (const CliValueOpt &o : own)
            if (!known) known = cli_opt(&a, o.name, o.alias, o.val, &bad);
        if (bad) return cli_usage_error(cmd, "%s needs a value", arg);
        if (!known) return cli_usage_error(cmd, "unknown option '%s'", arg);
    }
    if (!*in_path) return cli_usage_error(cmd, "give the WAV file to %s (or - for stdin)", cmd);
    return -1;
}

int cli_read_recording(const char *cmd, const char *path, const DecodeSettings *ds,
                       std::vector<FrameInfo> *frames, RxDigits *digits, Recording *rec) {
    SampleBuf s;
    sb_init(&s);
    int status = cli_load_audio(cmd, path, &s, &rec->file_rate);
    rec->rate = rec->file_rate;
    if (status == CLI_OK) {
        apply_resample(ds, &s, &rec->rate);
        rec->n_samples = s.len;
        walk_frames(&s, rec->rate, ds, frames, digits);
    }
    sb_free(&s);
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

/* What was found, as asked; the status says whether it was enough. */
static int report(const char *shown, const char *as, const char *out_path, const RxDigits *digits,
                  uint64_t n_samples, const DecodeSettings *ds) {
    int status = CLI_OK;
    if (n_samples < CLI_FRAME_LEN) {
        cli_error(CMD, shown, "too short to decode (%llu samples; one frame is %d)",
                  (unsigned long long)n_samples, CLI_FRAME_LEN);
        return CLI_BAD_INPUT;
    }
    if (digits->count == 0) {
        cli_error(CMD, shown, "no tones detected -- try a lower --threshold%s",
                  ds->repeater ? "" : ", or --repeater for disguised tones");
        return CLI_BAD_INPUT;
    }

    uint64_t n = digits->count;
    std::vector<char> buf((size_t)n + 1);
    if (strcmp(as, "digits") == 0) {
        rx_digits_chars(digits, buf.data(), buf.size());
        return write_text(out_path, std::string(buf.data()) + "\n");
    }
    if (strcmp(as, "image") == 0) {
        std::string t;
        for (int i = 0; i < 64; i++) {
            int32_t d = i < (int)n ? digits->digits[i] : -1;
            t += d < 0 ? '.' : d == RX_DIGIT_LOST ? '?' : (char)('0' + d);
            t += (i % 8 == 7) ? '\n' : ' ';
        }
        status = write_text(out_path, t);
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
    if (strcmp(as, "text") == 0 || !out_path) return write_text(out_path, t + "\n");

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
    DecodeSettings ds = {0.3f, 0, CLI_DEFAULT_HOP, 1};
    const char *as = "text", *out_path = nullptr, *in_path = nullptr;
    int status = cli_decode_args(CMD, argc, argv, help_decode, &ds, &in_path, &out_path,
                                 {{"--as", nullptr, &as}});
    if (status >= 0) return status;
    if (strcmp(as, "digits") != 0 && strcmp(as, "text") != 0 && strcmp(as, "hex") != 0 &&
        strcmp(as, "image") != 0)
        return cli_usage_error(CMD, "--as must be digits, text, hex or image, not '%s'", as);

    RxDigits digits;
    rx_digits_init(&digits, 0);
    Recording rec;
    status = cli_read_recording(CMD, in_path, &ds, nullptr, &digits, &rec);
    if (status == CLI_OK)
        status = report(strcmp(in_path, "-") == 0 ? "<stdin>" : in_path, as, out_path, &digits,
                        rec.n_samples, &ds);
    rx_digits_free(&digits);
    return status;
}
