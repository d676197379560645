/* tessary-cli listen and play: the recording device decoded as it arrives,
 * and encode's transmission sent to the speaker instead of a file. */
#include "cli/cli.h"
#include "cli/cli_sound.h"

#include <stdio.h>
#include <string.h>
#include <chrono>
#include <thread>

static const char *const LISTEN = "listen";
static const char *const PLAY = "play";
static const double PLAY_CLEAR_LIMIT_S = 60;

void help_listen(void) {
    fputs("Usage: tessary-cli listen [OPTIONS]\n"
          "\n"
          "Hears the recording device and prints what it hears as it arrives, until\n"
          "Ctrl-C. Each transmission is a line: it ends after 2.5 s without a tone,\n"
          "or after a request's end marker (a request shows as its directory and\n"
          "message). Letters show as they arrive on a terminal; to a pipe or file a\n"
          "line is written once its transmission has ended.\n"
          "\n"
          "Options:\n"
          "  --as digits|text|hex|image\n"
          "                      what to print (default text), as decode prints it;\n"
          "                      image ends after the picture's 64 digits\n"
          "  --json              one JSON object a transmission instead: start and end\n"
          "                      (seconds from the start), digits, text or hex, lost\n"
          "                      (tones lost), and dir for a request\n"
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
          "  --wait-clear        first wait up to a minute for the channel to be free:\n"
          "                      a second without tones or noise on the default source\n"
          "\n"
          "Keying a radio (default: none, the radio's VOX does it):\n"
          "  --ptt rigctld[:HOST[:PORT]]\n"
          "                      hamlib's rigctld, default localhost:4532\n"
          "  --ptt serial:DEVICE:rts|dtr\n"
          "                      a serial port's RTS or DTR line (/dev/ttyUSB0, COM3)\n"
          "  --txdelay MS        keyed this long before the first tone (default 0)\n"
          "  --txtail MS         held this long after the last has been played\n"
          "  --tx-limit SECONDS  cut the transmission and release the key after this\n"
          "                      long (status 1)\n"
          "The key is released at the end, on Ctrl-C or SIGTERM and on any error; a\n"
          "PTT that cannot be reached or keyed is an error before any sound.\n"
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

void cli_radio_options(const char *cmd, std::vector<CliOption> *t, CliTx *tx) {
    CliOption ptt = cli_text_opt("--ptt", nullptr, nullptr);
    ptt.take = [cmd, tx](const char *v, double) {
        std::string why;
        if (cli_ptt_parse(v, &tx->ptt, &why) == 0) return -1;
        return cli_usage_error(cmd, "--ptt '%s': %s", v, why.c_str());
    };
    t->push_back(ptt);
    t->push_back(cli_number_opt("--txdelay", OPT_WHOLE, 0, 10000,
                                "--txdelay must be a whole number of milliseconds from 0 to 10000",
                                [tx](double v) { tx->txdelay_s = v / 1000; }));
    t->push_back(cli_number_opt("--txtail", OPT_WHOLE, 0, 10000,
                                "--txtail must be a whole number of milliseconds from 0 to 10000",
                                [tx](double v) { tx->txtail_s = v / 1000; }));
    t->push_back(cli_number_opt("--tx-limit", OPT_REAL, 1, 86400,
                                "--tx-limit must be a number of seconds from 1 to 86400",
                                [tx](double v) { tx->limit_s = v; }));
}

int cli_tx_open(const char *cmd, CliTx *tx) {
    std::string why;
    if (cli_ptt_open(&tx->ptt, &why) == 0) return CLI_OK;
    cli_error(cmd, nullptr, "cannot use the PTT, %s: %s", cli_ptt_name(&tx->ptt).c_str(),
              why.c_str());
    return CLI_BAD_INPUT;
}

/* Sleeps up to s seconds, less after a Ctrl-C: 0, or 1 when cut short. */
static int pause_for(double s) {
    auto until = std::chrono::steady_clock::now() + std::chrono::microseconds((int64_t)(s * 1e6));
    while (!cli_interrupted() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return cli_interrupted();
}

int cli_transmit(const char *cmd, CliTx *tx, const SampleBuf *b, double lead_in_s) {
    const int keyed = tx->ptt.kind != PTT_NONE;
    /* Keyed, the lead-in is time off the air and txdelay the silence on it;
     * by VOX both are silence played, as the window program plays it. */
    if (keyed && pause_for(lead_in_s)) return CLI_OK;
    SampleBuf all;
    sb_init(&all);
    sb_append_silence(&all, (uint64_t)((keyed ? tx->txdelay_s : lead_in_s) * DTMF_SAMPLE_RATE));
    sb_append_buf(&all, b);
    std::string err;
    int rc = 0;
    if (keyed && cli_ptt_set(&tx->ptt, 1, &err) != 0) {
        cli_error(cmd, nullptr, "cannot key the transmitter, %s: %s; nothing sent",
                  cli_ptt_name(&tx->ptt).c_str(), err.c_str());
        rc = -1;
    }
    /* Keyed, the silence that closes the transmission (its last gap and the
     * block's 150 ms) is held with the key instead of played, so that txtail
     * counts from the last tone; the key stays down at least as long as that
     * silence lasts, which the receiving end relies on. */
    uint64_t n = all.len;
    while (keyed && n > 0 && all.data[n - 1] == 0.0f) n--;
    const double closing_s = (double)(all.len - n) / DTMF_SAMPLE_RATE;
    const double hold_s = tx->txtail_s > closing_s ? tx->txtail_s : closing_s;
    if (rc == 0) {
        rc = cli_play(tx->device, all.data, n, tx->limit_s, &err);
        if (rc < 0) cli_error(cmd, nullptr, "%s", err.c_str());
        if (rc == CLI_PLAY_CUT)
            cli_error(cmd, nullptr, "transmission cut at the %g s time-out (--tx-limit)",
                      tx->limit_s);
        if (rc == 0 && keyed) pause_for(hold_s);
    }
    sb_free(&all);
    err.clear();
    if (tx->ptt.keyed && cli_ptt_set(&tx->ptt, 0, &err) != 0) {
        cli_error(cmd, nullptr, "cannot release the transmitter, %s: %s",
                  cli_ptt_name(&tx->ptt).c_str(), err.c_str());
        rc = -1;
    }
    return rc < 0 || rc == CLI_PLAY_CUT ? CLI_BAD_INPUT : CLI_OK;
}

/* A free channel: no tone and little energy for this long ... */
const double CLI_CLEAR_QUIET_S = 1.0;
/* ... where little is below -40 dBFS, above a closed squelch's hiss. */
static const float CLEAR_RMS = 0.01f;

struct ChannelEar {
    int tone; /* a frame of the last block held a tone pair */
};

static int32_t ear_frame(void *ctx, uint64_t, int32_t detection, int32_t, float, float) {
    if (detection >= 0) ((ChannelEar *)ctx)->tone = 1;
    return 0;
}

static void ear_digit(void *, int32_t) {}

int cli_wait_clear(const char *cmd, const char *device, const DecodeSettings *ds, double limit_s,
                   double *waited_s) {
    std::string err;
    CliRec *rec = cli_rec_open(device, &err);
    if (!rec) {
        cli_error(cmd, nullptr, "cannot open the recording device: %s", err.c_str());
        return -1;
    }
    ChannelEar ear = {0};
    DecodeStream d;
    decode_stream_init(&d, ds, DTMF_SAMPLE_RATE, ear_frame, ear_digit, &ear);
    std::vector<float> block;
    uint64_t heard = 0, quiet = 0;
    const uint64_t need = (uint64_t)(CLI_CLEAR_QUIET_S * DTMF_SAMPLE_RATE);
    const uint64_t most = (uint64_t)((limit_s + CLI_CLEAR_QUIET_S) * DTMF_SAMPLE_RATE);
    int rc = 1;
    while (heard < most) {
        int r = cli_rec_read(rec, &block, &err);
        if (r != 0) {
            if (r < 0) cli_error(cmd, nullptr, "the recording device failed: %s", err.c_str());
            rc = r < 0 ? -1 : 2;
            break;
        }
        double sum = 0;
        for (float v : block) sum += (double)v * v;
        ear.tone = 0;
        decode_stream_feed(&d, block.data(), block.size());
        int loud = !block.empty() && sum / block.size() > (double)CLEAR_RMS * CLEAR_RMS;
        heard += block.size();
        quiet = loud || ear.tone ? 0 : quiet + block.size();
        if (quiet >= need) {
            rc = 0;
            break;
        }
    }
    decode_stream_free(&d);
    cli_rec_close(rec);
    *waited_s = (double)(heard > need ? heard - need : 0) / DTMF_SAMPLE_RATE;
    return rc;
}

int cmd_play(int argc, char **argv, const char *argv0) {
    EncodeJob job;
    CliTx tx;
    int wait_clear = 0;
    std::vector<CliOption> own = {cli_text_opt("--device", nullptr, &tx.device),
                                  cli_flag_opt("--wait-clear", &wait_clear)};
    cli_radio_options(PLAY, &own, &tx);
    int status = cli_encode_args(PLAY, argc, argv, argv0, help_play, &job, own);
    if (status >= 0) return status;
    if (tx.device && !CLI_SOUND_NAMED_DEVICES)
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
    if (status == CLI_OK) status = cli_tx_open(PLAY, &tx);
    if (status == CLI_OK && wait_clear) {
        DecodeSettings ds = {0.3f, job.repeater, CLI_DEFAULT_HOP, 1, KEYS_0_6};
        double waited = 0;
        int clear = cli_wait_clear(PLAY, nullptr, &ds, PLAY_CLEAR_LIMIT_S, &waited);
        if (clear == 1)
            cli_error(PLAY, nullptr, "the channel stayed busy for %g s; nothing sent",
                      PLAY_CLEAR_LIMIT_S);
        else if (clear == 0 && waited >= 0.1)
            fprintf(stderr, "tessary-cli: play: waited %.1f s for the channel to clear\n", waited);
        if (clear != 0) status = clear == 2 ? CLI_OK : CLI_BAD_INPUT;
    }
    if (status == CLI_OK)
        status = cli_transmit(PLAY, &tx, &out, (double)TX_LEAD_IN_SAMPLES / DTMF_SAMPLE_RATE);
    cli_ptt_close(&tx.ptt);
    sb_free(&out);
    return status;
}

/* ---- listen ---- */

struct Listener {
    TxLines lines;
    uint64_t heard;    /* digits, lost ones included */
    uint64_t limit;    /* stop after this many; 0: no limit */
    uint64_t frame_at; /* the frame whose digit comes next */
};

static int32_t listen_frame(void *ctx, uint64_t start, int32_t, int32_t, float, float) {
    ((Listener *)ctx)->frame_at = start;
    return 0;
}

static void listen_digit(void *ctx, int32_t digit) {
    Listener *l = (Listener *)ctx;
    if (l->limit && l->heard >= l->limit) return;
    l->heard++;
    lines_digit(&l->lines, digit, l->frame_at);
}

int cmd_listen(int argc, char **argv) {
    DecodeSettings ds = {0.3f, 0, CLI_DEFAULT_HOP, 1, KEYS_0_6};
    const char *as = nullptr, *device = nullptr;
    double seconds = 0;
    long n = 0;
    int json = 0;
    std::vector<CliOption> table = {
        cli_text_opt("--as", nullptr, &as),
        cli_flag_opt("--json", &json),
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
    if (strcmp(as, "digits") != 0 && strcmp(as, "image") != 0 && strcmp(as, "text") != 0 &&
        strcmp(as, "hex") != 0)
        return cli_usage_error(LISTEN, "--as must be digits, text, hex or image, not '%s'", as);
    lines_init(&l.lines, as[0], json, DTMF_SAMPLE_RATE, ds.keys);
    if (device && !CLI_SOUND_NAMED_DEVICES)
        return cli_usage_error(LISTEN, "--device is not supported on Windows; the default "
                                       "recording device is used");
    l.limit = as[0] == 'i' ? 64 : (uint64_t)n;
    if (n > 0 && (uint64_t)n < l.limit) l.limit = (uint64_t)n;
    const uint64_t stop_at = (uint64_t)(seconds * DTMF_SAMPLE_RATE);

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
            lines_end(&l.lines);
            cli_error(LISTEN, nullptr, "the recording device failed: %s", err.c_str());
            status = CLI_BAD_INPUT;
            break;
        }
        decode_stream_feed(&d, block.data(), block.size());
        uint64_t now = decode_stream_samples(&d);
        if (r > 0 || (l.limit && l.heard >= l.limit) || (stop_at && now >= stop_at)) break;
        lines_tick(&l.lines, now);
        if (l.lines.write_errno) break;
    }
    cli_rec_close(rec);
    decode_stream_free(&d);
    lines_end(&l.lines);
    if (l.lines.write_errno) {
        cli_error(LISTEN, "<stdout>", "cannot write: %s", strerror(l.lines.write_errno));
        status = CLI_BAD_INPUT;
    }
    if (status == CLI_OK && stop_at && l.heard == 0 && !cli_interrupted()) {
        cli_error(LISTEN, nullptr, "no tones heard in %g s -- try a lower --threshold%s", seconds,
                  ds.repeater ? "" : ", or --repeater for disguised tones");
        status = CLI_BAD_INPUT;
    }
    return status;
}
