/* tessary-cli analyze: why a recording does (not) decode -- the row and
 * column levels of every frame against the threshold, as SVG. */
#include "cli/cli.h"

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <algorithm>

static const char *const CMD = "analyze";

void help_analyze(void) {
    fputs("Usage: tessary-cli analyze FILE|- [-o OUT.svg] [OPTIONS]\n"
          "\n"
          "Prints a summary (rate, length, frames, digits found) and, with -o, draws\n"
          "the strongest row and column tone level of every frame over time, the\n"
          "threshold line and each reported digit as an SVG picture.\n"
          "\n"
          "Options:\n"
          "  -o, --output FILE   the SVG (\"-\": standard output, summary to stderr)\n"
          "  --threshold T       0.10-0.70, default 0.30\n"
          "  --repeater          levels of tones disguised with the 1800 Hz carrier\n"
          "  --hop N             samples between frame starts, default 1024\n"
          "  --from S, --to S    draw only this stretch, in seconds (the summary\n"
          "                      still covers the whole file)\n"
          "  --raw RATE          the input is raw 16-bit little-endian mono PCM\n"
          "  --native-rate       analyze at the file's own rate instead of 44100 Hz\n"
          "  -h, --help          this text\n",
          stdout);
}

static std::string xml_escape(const char *s) {
    std::string r;
    for (; *s; s++) {
        switch (*s) {
        case '&': r += "&amp;"; break;
        case '<': r += "&lt;"; break;
        case '>': r += "&gt;"; break;
        case '"': r += "&quot;"; break;
        default:
            /* Control bytes are not allowed in XML at all. */
            r += ((unsigned char)*s < 0x20) ? '?' : *s;
        }
    }
    return r;
}

static void add(std::string *s, const char *fmt, ...) CLI_PRINTF(2, 3);
static void add(std::string *s, const char *fmt, ...) {
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    if (n > 0) {
        size_t at = s->size();
        s->resize(at + (size_t)n + 1);
        vsnprintf(&(*s)[at], (size_t)n + 1, fmt, again);
        s->resize(at + (size_t)n);
    }
    va_end(again);
}

/* A tick step giving roughly ten ticks over the span. */
static double nice_step(double span) {
    static const double steps[] = {0.05, 0.1, 0.2, 0.25, 0.5, 1,   2,   5,
                                   10,   15,  30,  60,   120, 300, 600, 1800};
    for (double st : steps)
        if (span / st <= 12) return st;
    return 3600;
}

/* Frames kept before neighbours are merged: 1 MiB, the whole of a
 * recording of 12 minutes at the default hop. Past that a merged pair may
 * straddle two pixel columns and move a peak by one pixel; the lowest and
 * highest levels themselves are all kept. */
static const size_t SKETCH_FRAMES = 32768;

static float level(float v) { return v >= 0 ? v : 0; }

/* b taken into a: the same stretch, widened. */
static void merge(FrameInfo *a, const FrameInfo &b) {
    a->detection = a->detection >= 0 ? a->detection : b.detection;
    a->row_level = std::max(a->row_level, b.row_level);
    a->col_level = std::max(a->col_level, b.col_level);
    a->row_lo = std::min(a->row_lo, b.row_lo);
    a->col_lo = std::min(a->col_lo, b.col_lo);
}

void sketch_add(FrameSketch *s, const FrameInfo &in) {
    s->total++;
    s->passing += in.row_level >= s->threshold && in.col_level >= s->threshold;
    s->detecting += in.detection >= 0;
    double c = ((double)in.start + DECODE_FRAME_LEN / 2.0) / s->rate;
    if (c < s->t0 || (s->t1 >= 0 && c > s->t1)) return;
    s->shown++;
    FrameInfo f = in;
    f.row_level = f.row_lo = level(in.row_level);
    f.col_level = f.col_lo = level(in.col_level);
    if (f.digit >= 0) s->digits.push_back(f);
    f.digit = -1;
    if (s->pending)
        merge(&s->frames.back(), f);
    else
        s->frames.push_back(f);
    if (++s->pending < s->span) return;
    s->pending = 0;
    if (s->frames.size() < SKETCH_FRAMES) return;
    for (size_t i = 0; i < s->frames.size() / 2; i++) {
        s->frames[i] = s->frames[2 * i];
        merge(&s->frames[i], s->frames[2 * i + 1]);
    }
    s->frames.resize(s->frames.size() / 2);
    s->span *= 2;
}

void sketch_finish(FrameSketch *s) { s->pending = 0; }

std::string analyze_svg(const char *title, const FrameSketch &sketch, uint32_t rate, double t0,
                        double t1, const DecodeSettings *ds) {
    const std::vector<FrameInfo> &frames = sketch.frames;
    const double seconds = t1 - t0;
    /* About 120 px per second keeps one digit at 100 % speed ~30 px wide. */
    double pw = seconds * 120;
    if (pw < 900) pw = 900;
    if (pw > 3600) pw = 3600;
    const double ml = 64, mr = 24, mt = 126, ph = 320, mb = 64;
    const double W = ml + pw + mr, H = mt + ph + mb;
    const double ymax = 1.5;
    const double span = seconds > 0 ? seconds : 1;
    auto X = [&](double t) { return ml + (t - t0) / span * pw; };
    auto Y = [&](double v) {
        if (!(v >= 0)) v = 0;
        if (v > ymax) v = ymax;
        return mt + ph - v / ymax * ph;
    };
    auto centre = [&](const FrameInfo &f) {
        return ((double)f.start + DECODE_FRAME_LEN / 2.0) / rate;
    };

    std::string s;
    add(&s, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    add(&s,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
        "viewBox=\"0 0 %.0f %.0f\" font-family=\"DejaVu Sans, Arial, sans-serif\">\n",
        W, H, W, H);
    add(&s, "<rect width=\"100%%\" height=\"100%%\" fill=\"#ffffff\"/>\n");
    const size_t n_digits = sketch.digits.size();
    add(&s, "<text x=\"%.0f\" y=\"24\" font-size=\"16\" font-weight=\"bold\">%s</text>\n", ml,
        xml_escape(title).c_str());
    add(&s,
        "<text x=\"%.0f\" y=\"44\" font-size=\"12\" fill=\"#444\">%u Hz, %.2f-%.2f s, %zu frames "
        "(2048 samples every %llu), threshold %.2f%s: %zu digit%s reported</text>\n",
        ml, (unsigned)rate, t0, t1, (size_t)sketch.shown, (unsigned long long)ds->hop,
        ds->threshold, ds->repeater ? ", repeater" : "", n_digits, n_digits == 1 ? "" : "s");

    /* Grid and axes. */
    for (double v = 0; v <= ymax + 1e-9; v += 0.25) {
        add(&s, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#e4e4e4\"/>\n", ml,
            Y(v), ml + pw, Y(v));
        add(&s,
            "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" text-anchor=\"end\" "
            "fill=\"#555\">%.2f</text>\n",
            ml - 6, Y(v) + 4, v);
    }
    double step = nice_step(span);
    for (double t = ceil(t0 / step - 1e-9) * step; t <= t1 + 1e-9; t += step) {
        add(&s, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#eeeeee\"/>\n",
            X(t), mt, X(t), mt + ph);
        add(&s,
            "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" text-anchor=\"middle\" fill=\"#555\">%g "
            "s</text>\n",
            X(t), mt + ph + 16, fabs(t) < 1e-9 ? 0.0 : t);
    }
    add(&s,
        "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" "
        "stroke=\"#888\"/>\n",
        ml, mt, pw, ph);
    add(&s,
        "<text transform=\"translate(16,%.1f) rotate(-90)\" font-size=\"12\" "
        "text-anchor=\"middle\" fill=\"#333\">tone level / frame level</text>\n",
        mt + ph / 2);

    /* Frames whose tones pass: a band under the plot, so gaps in a burst show. */
    double band_y = mt + ph + 24;
    add(&s,
        "<text x=\"%.1f\" y=\"%.1f\" font-size=\"10\" text-anchor=\"end\" "
        "fill=\"#555\">detected</text>\n",
        ml - 6, band_y + 8);
    double frame_w = (double)(ds->hop * sketch.span) / rate / span * pw;
    if (frame_w < 0.6) frame_w = 0.6;
    for (size_t i = 0; i < frames.size();) {
        if (frames[i].detection < 0) {
            i++;
            continue;
        }
        size_t j = i;
        while (j + 1 < frames.size() && frames[j + 1].detection >= 0) j++;
        double x0 = X(centre(frames[i])) - frame_w / 2, x1 = X(centre(frames[j])) + frame_w / 2;
        add(&s, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"10\" fill=\"#9bd39b\"/>\n", x0,
            band_y, x1 - x0);
        i = j + 1;
    }

    /* Level curves: one point per frame, or the lowest and highest level of
     * each pixel column when frames outnumber pixels, so that the dips
     * between tones stay visible. */
    for (int which = 0; which < 2; which++) {
        const char *colour = which == 0 ? "#1f6fd1" : "#f08a00";
        std::string pts;
        double col_px = -1e9, lo = 0, hi = 0, first_x = 0;
        int in_col = 0;
        auto flush = [&]() {
            if (in_col == 1 && lo == hi)
                add(&pts, "%.1f,%.1f ", first_x, Y(lo));
            else if (in_col >= 1)
                add(&pts, "%.1f,%.1f %.1f,%.1f ", col_px + 0.5, Y(lo), col_px + 0.5, Y(hi));
        };
        for (const FrameInfo &f : frames) {
            double v_lo = which == 0 ? f.row_lo : f.col_lo;
            double v_hi = which == 0 ? f.row_level : f.col_level;
            double x = X(centre(f));
            if (floor(x) != col_px) {
                flush();
                col_px = floor(x);
                lo = v_lo;
                hi = v_hi;
                first_x = x;
                in_col = 0;
            }
            lo = v_lo < lo ? v_lo : lo;
            hi = v_hi > hi ? v_hi : hi;
            in_col++;
        }
        flush();
        add(&s,
            "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"1.4\" "
            "stroke-linejoin=\"round\" points=\"%s\"/>\n",
            colour, pts.c_str());
    }

    /* Threshold. */
    add(&s,
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#d62728\" "
        "stroke-width=\"1.5\" stroke-dasharray=\"6,4\"/>\n",
        ml, Y(ds->threshold), ml + pw, Y(ds->threshold));

    /* Reported digits: a tick across the plot and the digit above it,
     * staggered over three rows when they crowd; a label that would still
     * collide is left out. Too dense to read, they shrink to short ticks. */
    int dense = n_digits > 0 && pw / (double)n_digits < 6;
    if (dense)
        add(&s,
            "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#1d7a2b\">%zu digits, too "
            "close to label: draw a shorter stretch with --from and --to</text>\n",
            ml, mt - 30, n_digits);
    double last_x[3] = {-1e9, -1e9, -1e9};
    for (const FrameInfo &f : sketch.digits) {
        double x = X(centre(f));
        add(&s,
            "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#2a9d3a\" "
            "stroke-opacity=\"0.55\"/>\n",
            x, mt - (dense ? 12 : 4), x, dense ? mt : mt + ph);
        for (int r = 0; r < 3 && !dense; r++) {
            if (x - last_x[r] >= 11) {
                add(&s,
                    "<text class=\"digit\" x=\"%.1f\" y=\"%.1f\" font-size=\"13\" "
                    "font-weight=\"bold\" text-anchor=\"middle\" fill=\"#1d7a2b\">%d</text>\n",
                    x, mt - 8 - 14.0 * r, f.digit);
                last_x[r] = x;
                break;
            }
        }
    }

    /* Legend, one row under the title. */
    double lx = ml, ly = 64;
    add(&s,
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#1f6fd1\" "
        "stroke-width=\"2\"/>"
        "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\">row 697/770/941 Hz</text>\n",
        lx, ly, lx + 18, ly, lx + 22, ly + 4);
    add(&s,
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#f08a00\" "
        "stroke-width=\"2\"/>"
        "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\">column 1209/1336/1477 Hz</text>\n",
        lx + 160, ly, lx + 178, ly, lx + 182, ly + 4);
    add(&s,
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#d62728\" "
        "stroke-width=\"1.5\" "
        "stroke-dasharray=\"6,4\"/><text x=\"%.1f\" y=\"%.1f\" font-size=\"12\">threshold</text>\n",
        lx + 360, ly, lx + 378, ly, lx + 382, ly + 4);
    add(&s,
        "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" font-weight=\"bold\" "
        "fill=\"#1d7a2b\">5</text>"
        "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\">digit reported</text>\n",
        lx + 460, ly + 4, lx + 474, ly + 4);
    add(&s,
        "<rect x=\"%.1f\" y=\"%.1f\" width=\"18\" height=\"8\" fill=\"#9bd39b\"/>"
        "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\">frames holding a digit</text>\n",
        lx + 580, ly - 4, lx + 602, ly + 4);
    add(&s, "</svg>\n");
    return s;
}

int cmd_analyze(int argc, char **argv) {
    DecodeSettings ds = {0.3f, 0, CLI_DEFAULT_HOP, 1};
    const char *out_path = nullptr, *in_path = nullptr;
    double from = 0, to = -1;
    long raw_rate = 0;
    int stretch = 0;
    int status =
        cli_decode_args(CMD, argc, argv, help_analyze, &ds, &in_path, &out_path,
                        {cli_number_opt("--from", OPT_REAL, 0, 1e7,
                                        "--from must be a number of seconds from 0 to 10000000",
                                        [&](double v) { from = v, stretch = 1; }),
                         cli_number_opt("--to", OPT_REAL, 0, 1e7,
                                        "--to must be a number of seconds from 0 to 10000000",
                                        [&](double v) { to = v, stretch = 1; }),
                         cli_raw_option(&raw_rate)});
    if (status >= 0) return status;
    if (to >= 0 && to <= from)
        return cli_usage_error(CMD, "--to must be a number of seconds after --from, not '%g'", to);
    if (!out_path && stretch)
        return cli_usage_error(CMD, "--from and --to choose what to draw: give -o FILE too");
    const char *shown = strcmp(in_path, "-") == 0 ? "<stdin>" : in_path;

    FrameSketch frames;
    frames.t0 = from;
    frames.t1 = to;
    frames.threshold = ds.threshold;
    RxDigits digits;
    rx_digits_init(&digits, 0);
    Recording rec;
    status = cli_read_recording(CMD, in_path, (uint32_t)raw_rate, &ds, &frames, &digits, &rec);
    if (status != CLI_OK) {
        rx_digits_free(&digits);
        return status;
    }
    const uint32_t rate = rec.rate, file_rate = rec.file_rate;
    const uint64_t n_samples = rec.n_samples;

    std::string sum;
    add(&sum, "file: %s\n", shown);
    add(&sum, "rate: %u Hz%s\n", (unsigned)file_rate,
        file_rate != rate ? " (analyzed at 44100 Hz)" : "");
    add(&sum, "length: %.3f s (%llu samples)\n", (double)n_samples / rate,
        (unsigned long long)n_samples);
    add(&sum, "frames: %llu (2048 samples every %llu)\n", (unsigned long long)frames.total,
        (unsigned long long)ds.hop);
    add(&sum, "frames above threshold %.2f: %llu (row and column), %llu holding a digit\n",
        ds.threshold, (unsigned long long)frames.passing, (unsigned long long)frames.detecting);
    add(&sum, "digits found: %llu\n", (unsigned long long)digits.count);
    if (digits.count) {
        std::vector<char> buf((size_t)digits.count + 1);
        rx_digits_chars(&digits, buf.data(), buf.size());
        sum += std::string("digits: ") + buf.data() + "\n";
        rx_digits_read(&digits, RX_READ_TEXT, buf.data(), buf.size());
        sum += std::string("as text: ") + buf.data() + "\n";
    }
    rx_digits_free(&digits);
    int svg_to_stdout = out_path && strcmp(out_path, "-") == 0;
    fputs(sum.c_str(), svg_to_stdout ? stderr : stdout);
    fflush(stdout);

    if (out_path) {
        double length = (double)n_samples / rate;
        double t1 = to >= 0 && to < length ? to : length;
        if (n_samples == 0) {
            cli_error(CMD, shown, "nothing to draw: the recording holds no sound");
            return CLI_BAD_INPUT;
        }
        if (from >= t1) {
            cli_error(CMD, shown, "--from %g is past the end (%.2f s)", from, length);
            return CLI_BAD_INPUT;
        }
        std::string svg = analyze_svg(shown, frames, rate, from, t1, &ds);
        std::string err;
        if (cli_write_all(out_path, svg.data(), svg.size(), &err) != 0) {
            cli_error(CMD, svg_to_stdout ? "<stdout>" : out_path, "cannot write: %s", err.c_str());
            return CLI_BAD_INPUT;
        }
    }
    return CLI_OK;
}
