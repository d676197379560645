// libFuzzer target for the option parser: the input is an argument list
// (words split at NUL bytes) read through a table holding every kind of
// option the commands use. A number taken must be one a person typed,
// within its range; nothing but "-", the words after "--" and words not
// starting with '-' may be left over as arguments.
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>
#include "cli/cli.h"
#include "fuzz/cli_stubs.h"

static int helped;
static void help(void) { helped = 1; }

// Only what a person types as a number, whatever strtod would take.
static void check_number_text(const char *s, int whole) {
    for (const char *p = s; *p; p++)
        if (!strchr(whole ? "+-0123456789" : "+-.eE0123456789", *p)) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size && words.size() < 64; i++)
        if (data[i])
            words.back() += (char)data[i];
        else
            words.emplace_back();
    std::vector<char *> argv;
    for (std::string &w : words) argv.push_back(&w[0]);

    DecodeSettings ds = {0.3f, 0, CLI_DEFAULT_HOP, 1, KEYS_0_6};
    EncodeJob job;
    const char *out = nullptr, *text = nullptr;
    long raw = 0;
    double real = -1;
    std::vector<CliOption> table = {
        cli_text_opt("--output", "-o", &out, OPT_PATH),
        cli_text_opt("--as", nullptr, &text),
        cli_raw_option(&raw),
        cli_number_opt("--for", OPT_REAL, 0.001, 1e7, "--for must be", [&](double v) { real = v; }),
    };
    cli_decode_options(&table, &ds);
    cli_tx_options("fuzz", &table, &job, &ds.repeater);
    std::vector<const char *> pos;
    helped = 0;
    int status = cli_parse("fuzz", (int)argv.size(), argv.data(), table, help, &pos);
    if (status == CLI_OK && !helped) abort();
    if (status < 0) {
        if (!(ds.threshold >= 0.1f - 1e-6f && ds.threshold <= 0.7f + 1e-6f)) abort();
        if (ds.hop < 64 || ds.hop > 1024 || job.speed < 50 || job.speed > 500) abort();
        if (raw && (raw < 1000 || raw > 768000)) abort();
        if (real != -1 && !(real >= 0.001 && real <= 1e7)) abort();
        if (out && !*out) abort();
        int dashes = 0; /* an option-like argument only ever comes after "--" */
        for (const std::string &w : words) dashes |= w == "--";
        for (const char *w : pos)
            if (!dashes && w[0] == '-' && strcmp(w, "-") != 0) abort();
    }
    for (const std::string &w : words) {
        double d = 0;
        long l = 0;
        if (cli_parse_double(w.c_str(), &d) == 0) {
            check_number_text(w.c_str(), 0);
            if (!isfinite(d)) abort();
        }
        if (cli_parse_int(w.c_str(), &l) == 0) check_number_text(w.c_str(), 1);
    }
    return 0;
}
