// tessary-cli used as a hostile or careless user would: nothing grows with
// the input, no wrong result passes with status 0, and every refusal says
// what is wrong in the user's terms.
#include "tests/cli/cli_fixture.h"
#include <sys/stat.h>
#include <algorithm>

namespace {

// Virtual memory allowed where an input could otherwise fill it.
const std::string CAP = "ulimit -v 600000; ";

// The program's own WAV with the sizes a recorder writing to a pipe leaves.
std::string untold(std::string wav) {
    return wav.replace(4, 4, le(~0u, 4)).replace(40, 4, le(~0u, 4));
}

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

TEST_F(Cli, MemoryStaysFlatWhateverComesIn) {
    for (const char *what : {"text -", "image -", "request --dir 1234 -"}) {
        SCOPED_TRACE(what);
        Outcome r = sh(CAP + "$T encode " + what + " -o z.wav < /dev/zero");
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("<stdin>: too large"), std::string::npos) << r.err;
    }
    Outcome r = sh(CAP + "yes hello | head -c 10000000 | $T encode text - -o z.wav");
    EXPECT_NE(r.err.find("at most 90176 letters"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(at("z.wav")));

    // 8-bit sound of untold length, far more than fits as floats: heard as it comes.
    write_file(at("h8"), "RIFF" + le(~0u, 4) + "WAVE" + chunk("fmt ", fmt_body(1, 44100, 8)) +
                             "data" + le(~0u, 4));
    r = sh(CAP + "{ cat h8; head -c 200000000 /dev/zero; } | $T serve --dir 1111=cat --in -");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("<stdin>: no request heard"), std::string::npos) << r.err;

    // Forty long answers, more than fit as floats, wait on disk for --out.
    Buf air, one;
    build_server_transmission("1111", "hi", "", "", 0, 0, 0.18, 0.09, &one, nullptr, 0);
    for (int i = 0; i < 40; i++) {
        sb_append_buf(&air, &one);
        sb_append_silence(&air, 3 * 44100);
    }
    ASSERT_EQ(save_wav(at("many.wav").c_str(), &air), 0);
    r = sh(CAP + "$T serve --dir '1111=yes abcdefghij | head -c 400' --in many.wav --out a.wav");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 41) << r.err;
}

TEST_F(Cli, ServeAnswersAtOnceAndNeverWithAnEmptyFile) {
    ASSERT_EQ(cli("encode request --dir 1111 hi -o r.wav").code, 0);
    // The shell has answered and gone; the child it left holds the output.
    Outcome r = cli("serve --dir '1111=echo quick answer; sleep 5 &' --in r.wav --out o.wav "
                    "--timeout 4");
    EXPECT_NE(r.err.find("answered; answer \"quick answer\""), std::string::npos) << r.err;

    // A live recorder's pipe that goes on: answered before it ends.
    write_file(at("live.wav"), untold(read_file(at("r.wav"))));
    ASSERT_EQ(mkfifo(at("in").c_str(), 0600), 0);
    r = sh("{ cat live.wav; sleep 6; touch late; } >in & $T serve --dir '1111=echo ok' --in in "
           "--out o.wav --exchanges 1");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(exists(at("late"))) << "serve waited for the end of the input";
    EXPECT_EQ(cli("decode o.wav").out, "ok\n");

    // Nothing heard: an answer file there stays, none is made.
    ASSERT_EQ(cli("encode text hello -o hello.wav").code, 0);
    write_file(at("o.wav"), "kept");
    EXPECT_EQ(cli("serve --dir 1111=cat --in hello.wav --out o.wav").code, 1);
    EXPECT_EQ(read_file(at("o.wav")), "kept");
    EXPECT_EQ(cli("serve --dir 1111=cat --in hello.wav --out new.wav").code, 1);
    EXPECT_FALSE(exists(at("new.wav")));
    // An answer that could not be kept is found before any command runs.
    r = cli("serve --dir '1111=touch ran' --in r.wav --out nodir/o.wav");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("nodir/o.wav: cannot write"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(at("ran")));
}

TEST_F(Cli, ResultsAreRightOrRefused) {
    ASSERT_EQ(cli("encode text 'hello world' -o hw.wav").code, 0);
    EXPECT_EQ(cli("decode hw.wav --hop 1").code, 2);
    ASSERT_EQ(cli("encode text 'hello world' --speed 500 -o fast.wav").code, 0);
    Outcome r = cli("decode fast.wav");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("too fast for --hop 1024"), std::string::npos) << r.err;

    r = cli("encode text hi --callsign 'ÄÖ!' --cw -o cs.wav");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("--callsign 'ÄÖ!' cannot be sent"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(at("cs.wav")));
    r = sh("printf 'abc\\0def ghi' | $T encode text - -o nul.wav");
    EXPECT_NE(r.err.find("1 character left out"), std::string::npos) << r.err;
    EXPECT_EQ(cli("decode nul.wav").out, "abcdef ghi\n");

    // One WAV, read from the file and through a pipe: the same sound, or a
    // refusal of what a pipe cannot do.
    const std::string hw = read_file(at("hw.wav")), fmt = hw.substr(12, 24), data = hw.substr(36);
    struct Shape {
        const char *name;
        std::string bytes;
        const char *piped; // what the pipe says instead of the sound
    } shapes[] = {
        {"fmt after data", riff(data + fmt), "a pipe cannot go back for it: give the file itself"},
        {"two data chunks", riff(fmt + data + chunk("data", std::string(64, 'x'))), nullptr},
        {"no pad byte", riff(fmt + "LIST" + le(3, 4) + "odd" + data), nullptr},
        {"short data", riff(fmt + "data" + le((uint32_t)data.size() + 992, 4) + data.substr(8)),
         nullptr},
    };
    for (const Shape &s : shapes) {
        SCOPED_TRACE(s.name);
        write_file(at("s.wav"), s.bytes);
        Outcome file = cli("decode s.wav"), pipe = cli("decode - < s.wav");
        EXPECT_EQ(file.out, "hello world\n");
        EXPECT_EQ(file.code, 0) << file.err;
        if (s.piped)
            EXPECT_NE(pipe.err.find(s.piped), std::string::npos) << pipe.err;
        else
            EXPECT_EQ(pipe.out, file.out);
        bool cut = s.name[0] == 's';
        EXPECT_EQ(file.err.find("cut short: its data chunk declares 1000 bytes more") !=
                      std::string::npos,
                  cut)
            << file.err;
    }
}

TEST_F(Cli, WriteErrorsEndWithStatusOne) {
    tone_file("odd.wav", {1, 2, 3}, 44100);
    for (const char *args : {"analyze odd.wav", "--help", "decode --help", "decode odd.wav"}) {
        SCOPED_TRACE(args);
        Outcome r = cli(args, "/dev/full");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err.find("tessary-cli: "), 0u);
        EXPECT_NE(r.err.find("<stdout>: cannot write: No space left on device\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("odd number"), std::string::npos) << "warned past the write error";
    }
}

TEST_F(Cli, OptionsAreStrictAndTheSameEverywhere) {
    tone_file("one.wav", {1}, 44100);
    tone_file("-x.wav", {1}, 44100);
    write_file(at("empty.wav"), riff(chunk("fmt ", fmt_body(1, 44100, 16)) + chunk("data", "")));
    const Refusal cases[] = {
        {"decode one.wav --threshold ' 0.3'", 2, "--threshold must be a number from 0.10 to 0.70"},
        {"decode one.wav --threshold 0x0.5p0", 2, "--threshold must be"},
        {"serve --dir 1111=cat --in one.wav --timeout inf", 2, "--timeout must be a number"},
        {"listen --for 1e8", 2, "--for must be a number of seconds from 0.001 to 10000000"},
        {"decode one.wav -o ''", 2, "-o needs a file name"},
        {"analyze one.wav --from 1e308 -o x.svg", 2, "--from must be a number of seconds from 0"},
        {"analyze one.wav --to 2", 2, "--from and --to choose what to draw: give -o FILE too"},
        {"analyze empty.wav -o x.svg", 1, "nothing to draw: the recording holds no sound"},
        {"decode one.wav --hop 8", 2, "--hop must be a whole number of samples from 64 to 1024"},
        {"decode -- -x.wav", 1, "-x.wav: only one digit found"},
        {"serve --repeater=1 --dir 1111=cat", 2, "--repeater takes no value"},
        {"encode text hi --speed 100% -o t.wav --callsign", 2, "--callsign needs a value"},
    };
    expect_refusals(cases);
    EXPECT_EQ(cli("encode text -- -o -o t.wav").code, 0); // the text "-o -o t.wav", to stdout
    EXPECT_FALSE(exists(at("t.wav")));
    EXPECT_EQ(cli("serve --dir 1111=cat --speed 100% --in one.wav").code, 1); // taken, as by encode
}

} // namespace
