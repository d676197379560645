/* tessary-cli listen and play: the recording device decoded as it arrives,
 * and encode's transmission sent to the speaker instead of a file. */
#include "cli/cli.h"
#include "cli/cli_sound.h"

#include <stdio.h>
#include <string.h>

static const char *const LISTEN = "listen";
static const char *const PLAY = "play";

/* A transmission ends a line of listen's output once nothing more has come
 * for this long: longer than a lost digit at 50 %, shorter than the pause
 * the window program leaves before it sends. */
static const double LINE_BREAK_S = 2.5;

void help_listen(void) {
    fputs("Usage: tessary-cli listen [OPTIONS]\n"
          "\n"
          "Hears the recording device and prints what it hears as it arrives, until\n"
          "Ctrl-C. A transmission that has ended (2.5 s without a tone) ends its line.\n"
          "\n"
          "Options:\n"
          "  --as digits|text|hex|image\n"
          "                      what to print (default text), as decode prints it;\n"
          "                      image ends after the picture's 64 digits\n"
          "  --for SECONDS       stop after this long (status 1 if nothing was heard)\n"
          "  --digits N          stop after N digits (a lost one counts)\n"
          "  --device NAME       the PulseAudio source to hear (default: the default\n"
          "                      source; `pactl list short sources` names them)\n"
          "  --threshold T       0.10-0.70, default 0.30, as for decode\n"
          "  --repeater          listen for tones disguised with the 1800 Hz carrier\n"
          "  --hop N             samples between frame starts, as for decode\n"
          "  --keys 0-6|all      the digits 0-6 (default) or all sixteen DTMF keys,\n"
          "                      printed as they are (--as digits), as for decode\n"
          "  -h, --help          this text\n",
          stdout);
}

void help_play(void) {
    fputs("Usage: tessary-cli play KIND CONTENT [OPTIONS]\n"
          "\n"
          "Sends what 'encode' would write to the output device, after a second of\n"
          "silence as the window program plays it, and returns once it has been\n"
          "played. KIND, CONTENT and the options are encode's (see tessary-cli\n"
          "encode --help): text, file, image or request --dir NNNN; --speed,\n"
          "--repeater, --callsign, --audio-dir, --cw.\n"
          "\n"
          "  --device NAME       the PulseAudio sink to play to (default: the default\n"
          "                      sink; `pactl list short sinks` names them)\n"
          "  -h, --help          this text\n",
          stdout);
}

int cli_build_transmission(const char *cmd, const EncodeJob *job, SampleBuf *out) {
    double tone_s = 0, gap_s = 0;
    speed_to_tone_gap((int32_t)job->speed, &tone_s, &gap_s);
    char why[1024] = "";
    const char *clips = job->clip_dir.c_str();
    int32_t rc =
        job->kind == "request"
            ? build_server_transmission(job->dir, job->content.c_str(), clips, job->callsign,
                                        job->cw, job->repeater, tone_s, gap_s, out, why, sizeof why)
            : build_station_transmission(job->digits.data(), job->count, clips, job->callsign,
                                         job->cw, job->repeater, tone_s, gap_s, out, why,
                                         sizeof why);
    if (rc == 0) return CLI_OK;
    cli_error(cmd, nullptr, "missing callsign clip: %s (give the clip folder with --audio-dir)",
              why);
    return CLI_BAD_INPUT;
}

int cli_play_samples(const char *cmd, const char *device, const SampleBuf *b, double lead_in_s) {
    /* Silence ahead, as the window program plays it (serve's pause is longer). */
    SampleBuf all;
    sb_init(&all);
    sb_append_silence(&all, (uint64_t)(lead_in_s * DTMF_SAMPLE_RATE));
    sb_append_buf(&all, b);
    std::string err;
    int rc = cli_play(device, all.data, all.len, &err);
    sb_free(&all);
    if (rc < 0) cli_error(cmd, nullptr, "%s", err.c_str());
    return rc < 0 ? CLI_BAD_INPUT : CLI_OK;
}

int cmd_play(int argc, char **argv, const char *argv0) {
    EncodeJob job;
    const char *device = nullptr;
    int status = cli_encode_args(PLAY, argc, argv, argv0, help_play, &job,
                                 {cli_text_opt("--device", nullptr, &device)});
    if (status >= 0) return status;
    if (device && !CLI_SOUND_NAMED_DEVICES)
        return cli_usage_error(PLAY, "--device is not supported on Windows; the default output "
                                     "device is used");
    status = cli_encode_digits(PLAY, &job);
    if (status != CLI_OK) return status;
    /* The Windows sound layer takes one buffer of at most 2^30 samples. */
    const uint64_t most = 0x3FFFFFFF;
    double tone_s = 0, gap_s = 0;
    speed_to_tone_gap((int32_t)job.speed, &tone_s, &gap_s);
    if (digit_block_samples(job.count, tone_s, gap_s) > most) {
        cli_error(PLAY, nullptr, "%llu digits take more than %.1f hours, too long to play at once",
                  (unsigned long long)job.count, most / 44100.0 / 3600.0);
        return CLI_BAD_INPUT;
    }
    SampleBuf out;
    sb_init(&out);
    cli_catch_interrupt();
    status = cli_build_transmission(PLAY, &job, &out);
    if (status == CLI_OK)
        status =
            cli_play_samples(PLAY, device, &out, (double)TX_LEAD_IN_SAMPLES / DTMF_SAMPLE_RATE);
    sb_free(&out);
    return status;
}

/* ---- listen ---- */

struct Listener {
    int as_digits, as_image, reading;
    int keys;          /* the plan read */
    int hi;            /* the first digit of a pair still open, or -1 */
    int line_open;     /* something printed since the last line break */
    uint64_t heard;    /* digits, lost ones included */
    uint64_t limit;    /* stop after this many; 0: no limit */
    uint64_t frame_at; /* the frame whose digit comes next */
    uint64_t last_at;  /* where the last digit began */
};

static int32_t listen_frame(void *ctx, uint64_t start, int32_t, int32_t, float, float) {
    ((Listener *)ctx)->frame_at = start;
    return 0;
}

static void listen_digit(void *ctx, int32_t digit) {
    Listener *l = (Listener *)ctx;
    if (l->limit && l->heard >= l->limit) return;
    char c = rx_value_char(digit, l->keys);
    l->heard++;
    l->last_at = l->frame_at;
    if (l->as_image) {
        printf("%c%c", c, l->heard % 8 == 0 ? '\n' : ' ');
        l->line_open = l->heard % 8 != 0;
    } else if (l->as_digits) {
        putchar(c);
        l->line_open = 1;
    } else if (l->hi < 0) {
        l->hi = digit;
    } else {
        putchar(rx_pair_char(l->hi, digit, l->reading));
        l->hi = -1;
        l->line_open = 1;
    }
    fflush(stdout);
}

int cmd_listen(int argc, char **argv) {
    DecodeSettings ds = {0.3f, 0, CLI_DEFAULT_HOP, 1, KEYS_0_6};
    const char *as = nullptr, *device = nullptr;
    double seconds = 0;
    long n = 0;
    std::vector<CliOption> table = {
        cli_text_opt("--as", nullptr, &as),
        cli_text_opt("--device", nullptr, &device),
        cli_number_opt("--for", OPT_REAL, 0.001, 1e7,
                       "--for must be a number of seconds from 0.001 to 10000000",
                       [&](double v) { seconds = v; }),
        cli_number_opt("--digits", OPT_WHOLE, 1, 2147483647,
                       "--digits must be a whole number from 1 to 2147483647",
                       [&](double v) { n = (long)v; }),
    };
    cli_decode_options(&table, &ds);
    table.push_back(cli_keys_option(LISTEN, &ds));
    std::vector<const char *> pos;
    int status = cli_parse(LISTEN, argc, argv, table, help_listen, &pos);
    if (status >= 0) return status;
    status = cli_keys_check(LISTEN, &ds, &as);
    if (status >= 0) return status;
    if (!pos.empty())
        return cli_usage_error(LISTEN, "takes no file ('%s'): it hears the recording device",
                               pos[0]);
    Listener l = {};
    l.hi = -1;
    l.keys = ds.keys;
    l.as_digits = strcmp(as, "digits") == 0;
    l.as_image = strcmp(as, "image") == 0;
    l.reading = strcmp(as, "hex") == 0 ? RX_READ_HEX : RX_READ_TEXT;
    if (!l.as_digits && !l.as_image && strcmp(as, "text") != 0 && strcmp(as, "hex") != 0)
        return cli_usage_error(LISTEN, "--as must be digits, text, hex or image, not '%s'", as);
    if (device && !CLI_SOUND_NAMED_DEVICES)
        return cli_usage_error(LISTEN, "--device is not supported on Windows; the default "
                                       "recording device is used");
    l.limit = l.as_image ? 64 : (uint64_t)n;
    if (n > 0 && (uint64_t)n < l.limit) l.limit = (uint64_t)n;
    const uint64_t stop_at = (uint64_t)(seconds * DTMF_SAMPLE_RATE);
    const uint64_t line_break = (uint64_t)(LINE_BREAK_S * DTMF_SAMPLE_RATE);

    cli_catch_interrupt();
    std::string err;
    CliRec *rec = cli_rec_open(device, &err);
    if (!rec) {
        cli_error(LISTEN, nullptr, "cannot open the recording device: %s", err.c_str());
        return CLI_BAD_INPUT;
    }
    fprintf(stderr, "tessary-cli: listen: listening to %s (Ctrl-C stops)\n",
            device ? device : "the default recording device");
    DecodeStream d;
    decode_stream_init(&d, &ds, DTMF_SAMPLE_RATE, listen_frame, listen_digit, &l);
    std::vector<float> block;
    status = CLI_OK;
    for (;;) {
        int r = cli_rec_read(rec, &block, &err);
        if (r < 0) {
            if (l.line_open) putchar('\n');
            l.line_open = 0;
            cli_error(LISTEN, nullptr, "the recording device failed: %s", err.c_str());
            status = CLI_BAD_INPUT;
            break;
        }
        decode_stream_feed(&d, block.data(), block.size());
        uint64_t now = decode_stream_samples(&d);
        if (r > 0 || (l.limit && l.heard >= l.limit) || (stop_at && now >= stop_at)) break;
        if (l.heard && !l.as_image && now - l.last_at > line_break && (l.line_open || l.hi >= 0)) {
            if (l.line_open) putchar('\n');
            fflush(stdout);
            l.line_open = 0;
            l.hi = -1; /* the next transmission pairs from its own first digit */
        }
    }
    cli_rec_close(rec);
    decode_stream_free(&d);
    if (l.line_open) putchar('\n');
    fflush(stdout);
    if (status == CLI_OK && stop_at && l.heard == 0 && !cli_interrupted()) {
        cli_error(LISTEN, nullptr, "no tones heard in %g s -- try a lower --threshold%s", seconds,
                  ds.repeater ? "" : ", or --repeater for disguised tones");
        status = CLI_BAD_INPUT;
    }
    return status;
}
