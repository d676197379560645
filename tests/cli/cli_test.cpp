// tessary-cli driven as a user drives it: real processes, real files, real
// pipes. The core itself is tested under tests/core.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/dtmf_core.h"

namespace {

struct Outcome {
    int code;    // exit status, or 128 + signal when killed
    std::string out, err;
};

std::string slurp(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void spit(const std::string &path, const std::string &bytes)
{
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

class Cli : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tessary-cli-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { (void)!system(("rm -rf '" + dir + "'").c_str()); }

    std::string at(const std::string &name) const { return dir + "/" + name; }

    // Runs `tessary-cli ARGS` in the test's folder; ARGS is shell text.
    Outcome cli(const std::string &args)
    {
        std::string cmd = "cd '" + dir + "' && " + TESSARY_CLI + " " + args + " >.out 2>.err";
        int st = system(cmd.c_str());
        Outcome r;
        r.code = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        r.out = slurp(at(".out"));
        r.err = slurp(at(".err"));
        return r;
    }
};

// Two equal sines per digit, as any DTMF generator makes them.
void write_tones(const std::string &path, const std::string &digits, int rate, int bits,
                 int channels, double amp)
{
    static const int ROW[7] = {941, 697, 697, 697, 770, 770, 770};
    static const int COL[7] = {1336, 1209, 1336, 1477, 1209, 1336, 1477};
    std::vector<double> s((size_t)(rate * 0.1), 0.0);
    for (char c : digits) {
        int d = c - '0';
        for (int i = 0; i < rate * 0.2; i++)
            s.push_back(amp * (sin(2 * M_PI * ROW[d] * i / rate) + sin(2 * M_PI * COL[d] * i / rate)));
        s.insert(s.end(), (size_t)(rate * 0.1), 0.0);
    }
    std::string data;
    for (double v : s)
        for (int c = 0; c < channels; c++) {
            if (bits == 8) data += (char)(uint8_t)lround(128 + v * 127);
            else if (bits == 16) {
                int16_t x = (int16_t)lround(v * 32767);
                data.append((const char *)&x, 2);
            } else {
                int32_t x = (int32_t)llround(v * 2147483647.0);
                data.append((const char *)&x, 4);
            }
        }
    auto u32 = [](uint32_t v) { return std::string((const char *)&v, 4); };
    auto u16 = [](uint16_t v) { return std::string((const char *)&v, 2); };
    // An extra chunk before "data", as many recorders write.
    std::string list = "LIST" + u32(3) + "abc" + std::string(1, '\0');
    std::string fmt = "fmt " + u32(16) + u16(1) + u16((uint16_t)channels) + u32((uint32_t)rate) +
                      u32((uint32_t)(rate * channels * bits / 8)) +
                      u16((uint16_t)(channels * bits / 8)) + u16((uint16_t)bits);
    std::string body = "WAVE" + fmt + list + "data" + u32((uint32_t)data.size()) + data;
    spit(path, "RIFF" + u32((uint32_t)body.size()) + body);
}

std::string grid(const std::string &digits)
{
    std::string g;
    for (size_t i = 0; i < 64; i++) {
        g += digits[i];
        g += (i % 8 == 7) ? '\n' : ' ';
    }
    return g;
}

const char *const IMAGE =
    "0011223344556600112233445566001122334455660011223344556600112233";

TEST_F(Cli, RoundTripsEveryKindPlainAndRepeater)
{
    std::string bytes;
    for (int i = 0; i < 24; i++) bytes += (char)(i * 37 + (i == 5 ? 255 : 0));
    bytes += std::string("\0\xff\x0a\x0d", 4);
    spit(at("blob.bin"), bytes);

    struct Speed { const char *percent, *hop; };
    const Speed speeds[] = {{"50", "1024"}, {"100", "1024"}, {"150", "1024"}, {"200", "256"}};
    for (const Speed &sp : speeds)
        for (const char *rep : {"", " --repeater"}) {
            SCOPED_TRACE(std::string("speed ") + sp.percent + rep);
            std::string tx = std::string(" --speed ") + sp.percent + rep;
            std::string rx = std::string(" --hop ") + sp.hop + rep;

            ASSERT_EQ(cli("encode text 'Hello World' -o t.wav" + tx).code, 0);
            Outcome r = cli("decode t.wav" + rx);
            EXPECT_EQ(r.code, 0) << r.err;
            EXPECT_EQ(r.out, "hello world\n");

            ASSERT_EQ(cli("encode file blob.bin -o f.wav" + tx).code, 0);
            r = cli("decode f.wav --as hex -o back.bin" + rx);
            EXPECT_EQ(r.code, 0) << r.err;
            EXPECT_EQ(slurp(at("back.bin")), bytes);

            ASSERT_EQ(cli(std::string("encode image ") + IMAGE + " -o i.wav" + tx).code, 0);
            r = cli("decode i.wav --as image" + rx);
            EXPECT_EQ(r.code, 0) << r.err;
            EXPECT_EQ(r.out, grid(IMAGE));

            ASSERT_EQ(cli("encode request --dir 0123 'Hi!' -o q.wav" + tx).code, 0);
            r = cli("decode q.wav --as digits" + rx);
            EXPECT_EQ(r.out, "0123" "1112" "6543210\n");
        }

    // Pipes both ways, and an image read back from its own printed grid.
    Outcome r = cli("encode text 'over the pipe' | " TESSARY_CLI " decode -");
    EXPECT_EQ(r.out, "over the pipe\n");
    spit(at("grid.txt"), grid(IMAGE));
    r = cli("encode image - < grid.txt | " TESSARY_CLI " decode - --as image");
    EXPECT_EQ(r.out, grid(IMAGE));
}

TEST_F(Cli, WavIsTheCoresTransmissionByteForByte)
{
    // Clips for a spoken callsign, so the identification path is covered too.
    ASSERT_EQ(mkdir(at("clips").c_str(), 0755), 0);
    SampleBuf clip;
    sb_init(&clip);
    for (int i = 0; i < 3000; i++) {
        float v = (float)(0.3 * sin(i * 0.05));
        sb_append(&clip, &v, 1);
    }
    for (const char *n : {"k.wav", "1.wav", "website.wav"})
        ASSERT_EQ(save_wav(at(std::string("clips/") + n).c_str(), &clip), 0);
    sb_free(&clip);

    struct Case { int speed, repeater; const char *callsign; int cw; const char *args; };
    const Case cases[] = {
        {100, 0, "", 0, ""},
        {230, 1, "", 0, " --speed 230 --repeater"},
        {100, 0, "K1", 0, " --callsign K1 --audio-dir clips"},
        {80, 1, "k1", 1, " --callsign k1 --cw --audio-dir clips --speed 80 --repeater"},
    };
    const char *text = "Coffee at noon";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        uint64_t n = 0;
        uint32_t *digits = encode_text(text, &n);
        double tone, gap;
        speed_to_tone_gap(c.speed, &tone, &gap);
        SampleBuf b;
        sb_init(&b);
        ASSERT_EQ(build_station_transmission(digits, n, at("clips").c_str(), c.callsign, c.cw,
                                             c.repeater, tone, gap, &b, nullptr, 0), 0);
        ASSERT_EQ(save_wav(at("core.wav").c_str(), &b), 0);
        sb_free(&b);
        free(digits);

        ASSERT_EQ(cli(std::string("encode text '") + text + "' -o cli.wav" + c.args).code, 0);
        Outcome piped = cli(std::string("encode text '") + text + "' -o -" + c.args);
        EXPECT_EQ(piped.code, 0);
        std::string want = slurp(at("core.wav"));
        EXPECT_GT(want.size(), 44u);
        EXPECT_TRUE(slurp(at("cli.wav")) == want);
        EXPECT_TRUE(piped.out == want);
    }
}

// At 8000 Hz a 2048-sample frame lasts 256 ms, longer than a 200 ms tone or a
// 100 ms gap: files are decoded at the live rate unless told otherwise.

TEST_F(Cli, DecodesTonesMadeElsewhereAtCommonRates)
{
    const std::string digits = "01234565432106";
    struct Form { int rate, bits, channels; double amp; };
    const Form forms[] = {{8000, 8, 1, 0.4}, {22050, 16, 2, 0.005}, {48000, 32, 1, 0.3}};
    for (const Form &f : forms) {
        SCOPED_TRACE(f.rate);
        write_tones(at("hand.wav"), digits, f.rate, f.bits, f.channels, f.amp);
        Outcome r = cli("decode hand.wav --as digits");
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, digits + "\n");
    }
    write_tones(at("repeats.wav"), "116600", 8000, 16, 1, 0.4);
    EXPECT_EQ(cli("decode repeats.wav --as digits").out, "116600\n");
    EXPECT_NE(cli("decode repeats.wav --as digits --native-rate").out, "116600\n")
        << "256 ms frames swallow the gaps between repeated digits";

    if (system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox not installed";
    static const char *const PAIRS[7] = {"941 sine 1336", "697 sine 1209", "697 sine 1336",
                                         "697 sine 1477", "770 sine 1209", "770 sine 1336",
                                         "770 sine 1477"};
    for (int rate : {8000, 22050, 48000}) {
        SCOPED_TRACE(rate);
        std::string parts;
        for (size_t i = 0; i < digits.size(); i++) {
            std::string part = "d" + std::to_string(i) + ".wav";
            std::string cmd = "cd '" + dir + "' && sox -q -n -r " + std::to_string(rate) +
                              " -c 1 -b 16 " + part + " synth 0.2 sine " +
                              PAIRS[digits[i] - '0'] + " channels 1 gain -6 pad 0 0.1";
            ASSERT_EQ(system(cmd.c_str()), 0);
            parts += part + " ";
        }
        ASSERT_EQ(system(("cd '" + dir + "' && sox -q " + parts + "sox.wav").c_str()), 0);
        Outcome r = cli("decode sox.wav --as digits");
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, digits + "\n");
    }
}

TEST_F(Cli, BadInputGetsOneClearLineAndTheRightStatus)
{
    spit(at("song.mp3"), "ID3\x03 not really audio");
    spit(at("empty.wav"), "");
    spit(at("header-only.wav"), std::string("RIFF\x04\0\0\0WAVE", 12));
    write_tones(at("ok.wav"), "12", 44100, 16, 1, 0.3);
    std::string pcm = slurp(at("ok.wav"));
    std::string b24 = pcm, flt = pcm;
    b24[20 + 14] = 24;  // bits per sample of the "fmt " chunk
    flt[20] = 3;        // format tag: IEEE float
    spit(at("deep.wav"), b24);
    spit(at("float.wav"), flt);
    write_tones(at("quiet.wav"), "", 44100, 16, 1, 0);
    mkdir(at("adir").c_str(), 0755);

    struct Case { const char *args; int code; const char *says; };
    const Case cases[] = {
        {"decode nope.wav", 1, "decode: nope.wav: No such file"},
        {"decode song.mp3", 1, "decode: song.mp3: not a WAV file (no RIFF/WAVE header)"},
        {"decode empty.wav", 1, "empty.wav: empty file"},
        {"decode header-only.wav", 1, "no \"data\" chunk"},
        {"decode deep.wav", 1, "deep.wav: 24-bit samples are not supported"},
        {"analyze float.wav", 1, "float.wav: floating-point WAV"},
        {"decode adir", 1, "adir: is a directory"},
        {"decode quiet.wav", 1, "quiet.wav: no tones detected"},
        {"decode ok.wav --threshold 0.05", 2, "--threshold must be"},
        {"decode ok.wav --threshold 0.71", 2, "--threshold must be"},
        {"decode ok.wav --threshold x", 2, "--threshold must be"},
        {"decode ok.wav --hop 0", 2, "--hop must be"},
        {"decode ok.wav --as pdf", 2, "--as must be"},
        {"decode ok.wav extra.wav", 2, "one file at a time"},
        {"encode request --dir 0127 hi -o r.wav", 2, "--dir must be exactly four digits 0-6"},
        {"encode text hi --speed 501 -o t.wav", 2, "--speed must be"},
        {"encode text '2024!' -o t.wav", 1, "nothing to encode"},
        {"encode image 0123 -o i.wav", 1, "exactly 64"},
        {"encode file empty.wav -o f.wav", 1, "empty.wav: empty file"},
        {"encode text hi --callsign K1 --audio-dir adir -o t.wav", 1, "missing callsign clip"},
        {"encode text hi -o adir", 1, "adir: is a directory"},
        {"encode --bogus", 2, "unknown option '--bogus'"},
        {"transmit", 2, "unknown command"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r = cli(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.err.rfind("tessary-cli: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(access(at("t.wav").c_str(), F_OK), -1) << "a refused encode left a file";
}

TEST_F(Cli, HexSavesOnlyCleanBytesAndSaysWhyNot)
{
    // "a" is the digits 0 1: one hex character, an odd count.
    ASSERT_EQ(cli("encode text a -o odd.wav").code, 0);
    Outcome r = cli("decode odd.wav --as hex -o out.bin");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("odd number of characters"), std::string::npos) << r.err;
    // Pairs 3 3 are worth 21, not a nibble.
    ASSERT_EQ(cli("encode image " + std::string(64, '3') + " -o bad.wav").code, 0);
    r = cli("decode bad.wav --as hex -o out.bin");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("invalid characters (marked '?')"), std::string::npos) << r.err;
    EXPECT_EQ(access(at("out.bin").c_str(), F_OK), -1);
    // A lone digit is no hex character: nothing to save, not an empty file.
    write_tones(at("one.wav"), "1", 44100, 16, 1, 0.3);
    r = cli("decode one.wav --as hex -o out.bin");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("only one digit"), std::string::npos) << r.err;
    EXPECT_EQ(access(at("out.bin").c_str(), F_OK), -1);
    // Without -o the characters are shown as received.
    r = cli("decode bad.wav --as hex");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.substr(0, 4), "????");
}

TEST_F(Cli, SmallerHopKeepsFastRepeatsApart)
{
    std::string white(64, '1');
    ASSERT_EQ(cli("encode image " + white + " --speed 200 -o fast.wav").code, 0);
    Outcome merged = cli("decode fast.wav --as image");
    EXPECT_EQ(merged.code, 1);
    EXPECT_NE(merged.err.find("image incomplete"), std::string::npos);
    Outcome apart = cli("decode fast.wav --as image --hop 256");
    EXPECT_EQ(apart.code, 0) << apart.err;
    EXPECT_EQ(apart.out, grid(white));
}

TEST_F(Cli, AnalyzeDrawsEveryReportedDigit)
{
    ASSERT_EQ(cli("encode text 'hello world' -o 'a&b.wav'").code, 0);
    Outcome r = cli("analyze 'a&b.wav' -o plot.svg");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("rate: 44100 Hz"), std::string::npos);
    EXPECT_NE(r.out.find("digits found: 22"), std::string::npos);
    EXPECT_NE(r.out.find("as text: hello world"), std::string::npos);
    auto labels = [&](const std::string &file) {
        std::string svg = slurp(at(file));
        size_t n = 0;
        for (size_t p = 0; (p = svg.find("class=\"digit\"", p)) != std::string::npos; p++) n++;
        return n;
    };
    EXPECT_EQ(labels("plot.svg"), 22u);
    // A stretch of one second holds the three or four digits sent in it.
    ASSERT_EQ(cli("analyze 'a&b.wav' --from 1 --to 2 -o part.svg").code, 0);
    EXPECT_GE(labels("part.svg"), 3u);
    EXPECT_LE(labels("part.svg"), 4u);
    // The file name carries '&': the picture must still be well-formed XML.
    if (system("command -v python3 >/dev/null 2>&1") == 0) {
        EXPECT_EQ(system(("python3 -c 'import sys, xml.dom.minidom as m; m.parse(sys.argv[1])' '" +
                          at("plot.svg") + "'").c_str()), 0);
    }
}

TEST_F(Cli, HelpAndVersion)
{
    for (const char *cmd : {"encode", "decode", "analyze"}) {
        Outcome r = cli(std::string(cmd) + " --help");
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out.rfind(std::string("Usage: tessary-cli ") + cmd, 0), 0u) << r.out;
    }
    Outcome v = cli("--version");
    EXPECT_EQ(v.code, 0);
    EXPECT_EQ(v.out.rfind("tessary-cli ", 0), 0u);
    EXPECT_EQ(cli("").code, 2);
}

}  // namespace
