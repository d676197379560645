// The fixture of the tessary-cli tests: a scratch folder, the program run
// as a shell runs it, and WAV files made by the core.
#ifndef TESSARY_CLI_FIXTURE_H
#define TESSARY_CLI_FIXTURE_H

#include "tests/core/core_test_util.h"
#include <algorithm>
#include <sys/wait.h>
#include <unistd.h>

struct Outcome {
    int code;
    std::string out, err;
}; // code: exit status, or 128 + signal

// A command the CLI must refuse: its status and what its one line says.
struct Refusal {
    const char *args;
    int code;
    const char *says;
};

struct Cli : testing::Test {
    std::string dir;

    void SetUp() override {
        char tmpl[] = "/tmp/tessary-cli-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { (void)!system(("rm -rf '" + dir + "'").c_str()); }
    std::string at(const std::string &name) const { return dir + "/" + name; }

    // Runs shell text in the test's folder, $T naming tessary-cli; standard
    // output goes to `to` (read back when it is .out).
    Outcome sh(const std::string &line, const std::string &to = ".out") const {
        write_file(at(".out"), "");
        int st =
            system(("cd '" + dir + "' && T=" TESSARY_CLI " && { " + line + "; } >" + to + " 2>.err")
                       .c_str());
        return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), read_file(at(".out")),
                read_file(at(".err"))};
    }
    // Runs `tessary-cli ARGS`; ARGS is shell text.
    Outcome cli(const std::string &args, const std::string &to = ".out") const {
        return sh("$T " + args, to);
    }

    // Each refused as it should be: the status, and one short line naming
    // the program and saying why.
    template <size_t N> void expect_refusals(const Refusal (&cases)[N]) const {
        for (const Refusal &c : cases) {
            SCOPED_TRACE(c.args);
            Outcome r = cli(c.args);
            EXPECT_EQ(r.code, c.code);
            EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
            EXPECT_EQ(r.err.rfind("tessary-cli: ", 0), 0u) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_LT(r.err.size(), 200u) << r.err;
        }
    }

    // Digits as the core sends them, written at another rate (16-bit mono).
    void tone_file(const std::string &name, const std::vector<uint32_t> &digits,
                   uint32_t rate) const {
        Buf b, r;
        gen_digits_samples(&b, digits.data(), digits.size(), 0, 0.2, 0.1);
        resample_linear(&b, 44100, (int32_t)rate, &r);
        write_file(at(name), wav_image(&r, rate, 1, 16));
    }
};

#endif
