// tessary-cli driven as a user drives it: real processes, real files, real
// pipes. The core itself is tested under tests/core.
#include "tests/cli/cli_fixture.h"
#include <sys/stat.h>
#include <algorithm>
#include <sstream>

namespace {

std::string grid(const std::string &digits) {
    std::string g;
    for (size_t i = 0; i < 64; i++) g += digits[i] + std::string(i % 8 == 7 ? "\n" : " ");
    return g;
}

const std::string IMAGE = "0011223344556600112233445566001122334455660011223344556600112233";

TEST_F(Cli, RoundTripsEveryKind) {
    write_file(at("blob.bin"), std::string("\0\xff\n\r\x1a\x80 tab\t", 11));
    struct Trip {
        std::string encode, decode, out;
    };
    for (const Trip &t : {Trip{"text 'Hello World'", "", "hello world\n"},
                          Trip{"file blob.bin --speed 200 --repeater",
                               " --as hex -o back.bin --hop 256 --repeater", ""},
                          Trip{"image " + IMAGE + " --speed 50", " --as image", grid(IMAGE)},
                          Trip{"request --dir 0123 'Hi!' --repeater", " --as digits --repeater",
                               "0123"
                               "1112"
                               "6543210\n"}}) {
        SCOPED_TRACE(t.encode);
        ASSERT_EQ(cli("encode " + t.encode + " -o x.wav").code, 0);
        Outcome r = cli("decode x.wav" + t.decode);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, t.out);
    }
    EXPECT_EQ(read_file(at("back.bin")), read_file(at("blob.bin")));
    // An image read back from its own printed grid, through pipes both ways.
    write_file(at("grid.txt"), grid(IMAGE));
    EXPECT_EQ(cli("encode image - < grid.txt | " TESSARY_CLI " decode - --as image").out,
              grid(IMAGE));
}

TEST_F(Cli, WavIsTheCoresTransmissionByteForByte) {
    ASSERT_EQ(mkdir(at("clips").c_str(), 0755), 0);
    tone_file("clips/website.wav", {5}, 44100);
    std::vector<int32_t> text = text_digits("Coffee at noon");
    std::vector<uint32_t> digits(text.begin(), text.end());
    double tone, gap;
    speed_to_tone_gap(80, &tone, &gap);
    Buf b;
    ASSERT_EQ(build_station_transmission(digits.data(), digits.size(), at("clips").c_str(), "k1", 1,
                                         1, tone, gap, &b, nullptr, 0),
              0);
    ASSERT_EQ(save_wav(at("core.wav").c_str(), &b), 0);
    const std::string args = " --callsign k1 --cw --audio-dir clips --speed 80 --repeater";
    ASSERT_EQ(cli("encode text 'Coffee at noon' -o cli.wav" + args).code, 0);
    Outcome piped = cli("encode text 'Coffee at noon' -o -" + args);
    EXPECT_TRUE(read_file(at("cli.wav")) == read_file(at("core.wav")) &&
                piped.out == read_file(at("core.wav")));
}

TEST_F(Cli, DecodesAt44100HzUnlessToldOtherwise) {
    // At 8000 Hz a 2048-sample frame lasts 256 ms, longer than a tone or a gap.
    tone_file("repeats.wav", {1, 1, 6, 6, 0, 0}, 8000);
    EXPECT_EQ(cli("decode repeats.wav --as digits").out, "116600\n");
    EXPECT_EQ(cli("decode - --as digits < repeats.wav").out, "116600\n");
    EXPECT_NE(cli("decode repeats.wav --as digits --native-rate").out, "116600\n");
}

TEST_F(Cli, BadInputGetsOneClearLineAndTheRightStatus) {
    write_file(at("empty.wav"), ""); // (why a WAV file is refused: the core's Wav tests)
    mkdir(at("adir").c_str(), 0755);
    tone_file("one.wav", {1}, 44100);
    ASSERT_EQ(cli("encode image " + std::string(64, '3') + " -o bad.wav").code,
              0); // 3 3 is no nibble

    const Refusal cases[] = {
        {"analyze nope.wav", 1, "analyze: nope.wav: No such file"},
        {"decode - < empty.wav", 1, "<stdin>: empty file"},
        {"decode adir", 1, "adir: is a directory"},
        {"decode one.wav --repeater", 1, "one.wav: no tones detected"},
        {"decode bad.wav --as hex -o out.bin", 1, "invalid characters (marked '?')"},
        {"decode one.wav --as hex -o out.bin", 1, "only one digit"},
        {"decode one.wav --as image", 1, "image incomplete"},
        {"decode one.wav --threshold 0.05", 2, "--threshold must be"},
        {"decode one.wav --as pdf", 2, "--as must be"},
        {"decode one.wav --raw 44", 2, "--raw must be a sample rate"},
        {"encode request --dir 0127 hi -o t.wav", 2, "--dir must be exactly four digits 0-6"},
        {"encode text hi --speed 501 -o t.wav", 2, "--speed must be"},
        {"encode text '2024!' -o t.wav", 1, "nothing to encode"},
        {"encode image 0123 -o t.wav", 1, "exactly 64"},
        {"encode file empty.wav -o t.wav", 1, "empty.wav: empty file"},
        {"encode text hi --callsign K1 --audio-dir adir -o t.wav", 1, "missing callsign clip"},
        {"encode text hi -o adir", 1, "adir: is a directory"},
        {"encode text hi -o /dev/full", 1, "/dev/full: cannot write: No space left on device"},
        {"transmit", 2, "unknown command"},
        {"serve --dir 0789=date", 2, "'0789=date' is not NNNN=COMMAND"},
        {"listen now", 2, "takes no file"},
        // A serial PTT is found to be one before any sound (no port to key here).
        {"play text hi --ptt serial:/dev/null:rts", 1, "/dev/null (RTS): not a serial port"},
        {"serve --dir 0123=cat --ptt serial:adir:dtr", 1, "adir (DTR): cannot open it"},
        {"play text hi --ptt serial:/dev/ttyS0", 2, "--ptt 'serial:/dev/ttyS0': it is"},
        {"decode one.wav --json -o x.txt", 2, "-o does not go with it"},
    };
    expect_refusals(cases);
    EXPECT_FALSE(access(at("t.wav").c_str(), F_OK) == 0 || access(at("out.bin").c_str(), F_OK) == 0)
        << "a refused command left a file";
    // Without -o the characters are shown as received.
    Outcome r = cli("decode bad.wav --as hex");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.substr(0, 4), "????");
}

TEST_F(Cli, ReadsRawPcmAndShowsLettersAsTheyArrive) {
    // Raw 16-bit mono, as arecord -t raw and rtl_fm write it: a WAV's data alone.
    tone_file("t.wav", {1, 6, 0, 3}, 22050);
    const std::string t = read_file(at("t.wav"));
    write_file(at("t.raw"), t.substr(t.find("data") + 8));
    EXPECT_EQ(cli("decode t.raw --raw 22050 --as digits").out, "1603\n");
    EXPECT_EQ(cli("decode - --raw 22050 --as digits < t.raw").out, "1603\n");

    // A recorder's pipe, sizes untold: the writer holds it open, half sent,
    // until the first letters show (or 20 s pass).
    ASSERT_EQ(cli("encode text 'hello world' -o hw.wav").code, 0);
    std::string hw = read_file(at("hw.wav"));
    write_file(at("live.wav"), hw.replace(4, 4, le(~0u, 4)).replace(40, 4, le(~0u, 4)));
    std::string feed = "{ head -c " + std::to_string(hw.size() / 2) +
                       " live.wav; timeout 20 sh -c 'until grep -qs hel live.txt; do sleep 0.1; "
                       "done' || echo late >late.txt; }";
    ASSERT_EQ(
        system(("cd '" + dir + "' && " + feed + " | " TESSARY_CLI " decode - >live.txt").c_str()),
        0);
    EXPECT_NE(access(at("late.txt").c_str(), F_OK), 0) << "nothing shown before the input ended";
    EXPECT_EQ(read_file(at("live.txt")).rfind("hello", 0), 0u);
}

TEST_F(Cli, AnalyzeDrawsEveryReportedDigit) {
    ASSERT_EQ(cli("encode text 'hello world' -o 'a&b.wav'").code, 0);
    Outcome r = cli("analyze 'a&b.wav' -o plot.svg");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("rate: 44100 Hz\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("digits found: 22\n"), std::string::npos) << r.out; // which: RoundTrips
    auto labels = [&](const std::string &file) {
        std::string svg = read_file(at(file));
        size_t n = 0;
        for (size_t p = 0; (p = svg.find("class=\"digit\"", p)) != std::string::npos; p++) n++;
        return n;
    };
    EXPECT_EQ(labels("plot.svg"), 22u);
    // A stretch of one second holds the three or four digits sent in it.
    ASSERT_EQ(cli("analyze 'a&b.wav' --from 1 --to 2 -o part.svg").code, 0);
    EXPECT_TRUE(labels("part.svg") >= 3 && labels("part.svg") <= 4);
    // The file name carries '&': the picture must still be well-formed XML.
    EXPECT_EQ(system(("python3 -c 'import sys, xml.dom.minidom as m; m.parse(sys.argv[1])' " +
                      at("plot.svg"))
                         .c_str()),
              0);
}

// Any sender's keys, made with sox as someone outside Tessary makes them:
// the keypad at 8000 Hz, and an auto-dialer's 30 keys (52 ms tones, 8 ms
// gaps, 3 ms fades). Only --keys all reads beyond 0-6, and only as keys.
TEST_F(Cli, ReadsTheWholeKeypadOfAnySender) {
    if (sh("command -v sox").code != 0) GTEST_SKIP() << "sox is not installed";
    auto sox_keys = [&](const std::string &keys, const char *len, const char *gap, const char *fade,
                        const std::string &out) {
        std::string line, list;
        for (size_t i = 0; i < keys.size(); i++) {
            const char *pad = "123A456B789C*0#D";
            int at = (int)(strchr(pad, keys[i]) - pad);
            const int rows[] = {697, 770, 852, 941}, cols[] = {1209, 1336, 1477, 1633};
            std::string k = "k" + std::to_string(i) + ".wav";
            line += "sox -q -n -r 44100 -b 16 -c 1 " + k + " synth " + len + " sine " +
                    std::to_string(rows[at / 4]) + " sine " + std::to_string(cols[at % 4]) +
                    " channels 1 vol 0.45 fade " + fade + " " + len + " " + fade + " pad 0 " + gap +
                    " && ";
            list += k + " ";
        }
        return sh(line + "sox -q " + list + out).code;
    };
    ASSERT_EQ(sox_keys("0123456789*#ABCD", "0.1", "0.1", "0.005", "pad.wav"), 0);
    ASSERT_EQ(sh("sox -q pad.wav -r 8000 pad8k.wav").code, 0);
    const std::string dial = "0123456789*#ABCD0123456789*#AB";
    ASSERT_EQ(sox_keys(dial, "0.052", "0.008", "0.003", "dial.wav"), 0);
    EXPECT_EQ(cli("decode pad8k.wav --keys all").out, "0123456789*#ABCD\n");
    EXPECT_EQ(cli("decode dial.wav --keys all --as digits").out, dial + "\n");
    EXPECT_EQ(cli("decode dial.wav --keys 0-6 --as digits").out, "01234560123456\n");
    EXPECT_NE(cli("decode dial.wav --keys all --json").out.find("\"digits\": \"" + dial + "\""),
              std::string::npos);
    Outcome r = cli("analyze dial.wav --keys all -o k.svg");
    EXPECT_NE(r.out.find("keys: " + dial + "\n"), std::string::npos) << r.out;
    EXPECT_NE(read_file(at("k.svg")).find(">#</text>"), std::string::npos);
    for (const char *refused :
         {"decode dial.wav --keys all --as text", "decode dial.wav --keys all --as image",
          "decode dial.wav --keys all --repeater", "decode dial.wav --keys 9",
          "listen --keys all --as hex", "analyze dial.wav --keys all --repeater"}) {
        r = cli(refused);
        EXPECT_EQ(r.code, 2) << refused;
        EXPECT_NE(r.err.find("--keys"), std::string::npos) << r.err;
    }
}

TEST_F(Cli, ServeAnswersEachRequestOrSaysWhyNot) {
    // Requests as the Server page sends them, one after another; `lost`
    // silences one tone, counted over the request and then its marker.
    Buf air;
    auto ask = [&](const char *dir, const char *msg, uint64_t lost) {
        Buf r;
        build_server_transmission(dir, msg, "", "", 0, 0, 0.18, 0.09, &r, nullptr, 0);
        uint64_t n = 4 + 2 * strlen(msg), block = lost < n ? 0 : digit_block_samples(n, .18, .09);
        uint64_t at = block + (uint64_t)((0.05 + 0.27 * (lost < n ? lost : lost - n)) * 44100);
        if (at < r.len) std::fill(r.data + at, r.data + at + 7938, 0.0f);
        sb_append_buf(&air, &r);
        sb_append_silence(&air, 3 * 44100);
    };
    ask("0123", "hello", 99);
    ask("0456", "hi", 99);
    ask("0001", "hi", 99);
    ask("0002", "hi", 99);
    ask("0003", "hi", 99);
    ask("0123", "hello", 14); // the marker's first tone
    ask("0123", "hello", 7);  // the message's second letter
    ASSERT_EQ(save_wav(at("air.wav").c_str(), &air), 0);
    write_file(at("dirs"),
               "# a station\n0123=sed 's/^/you said /'\n0001 = exit 3\n\n"
               "0002=sleep 30 & echo $! >bg; sleep 30\n0003=yes Hello, world! | head -n 99\n");
    time_t t0 = time(nullptr);
    Outcome r = cli("serve --dirs dirs --timeout 1 --max-answer 20 --in air.wav --out ans.wav");
    EXPECT_LT(time(nullptr) - t0, 10) << "serve waited for a command past its time";
    std::string bg =
        read_file("/proc/" + std::to_string(atoi(read_file(at("bg")).c_str())) + "/stat");
    EXPECT_TRUE(bg.empty() || bg.find(") Z ") != std::string::npos) << "left running: " << bg;
    EXPECT_EQ(r.code, 0);
    std::string log = r.err;
    for (const char *line : {"dir 0123 \"hello\": answered; answer \"you said hello\"\n",
                             "dir 0456 \"hi\": unknown directory; answer \"unknown directory zero "
                             "four five six\"\n",
                             "dir 0001 \"hi\": command failed with status 3; answer \"command "
                             "failed\"\n",
                             "dir 0002 \"hi\": no answer in 1 s, stopped; answer \"no answer in "
                             "time\"\n",
                             "dir 0003 \"hi\": answered, cut; answer \"hello world hello wo\"\n",
                             "dir 0123 \"hello\": answered; answer \"you said hello\"\n",
                             "dir 0123 \"h?llo\": message garbled; answer \"message garbled say "
                             "again\"\n"}) {
        size_t found = log.find(line);
        EXPECT_NE(found, std::string::npos) << line << "\nin:\n" << r.err;
        if (found != std::string::npos) log.erase(0, found + strlen(line));
    }
    // What was sent is what the log says, each answer after its pause.
    EXPECT_EQ(cli("decode ans.wav").out.rfind("you said hellounknown directory zero", 0), 0u);
}

TEST_F(Cli, DecodeJsonTellsARequestFromItsAnswer) {
    // A request and its answer 2 s later: the marker, not the pause, parts them.
    Buf air, answer;
    build_server_transmission("0123", "radio", "", "", 0, 0, 0.18, 0.09, &air, nullptr, 0);
    sb_append_silence(&air, 2 * 44100);
    std::vector<int32_t> t = text_digits("oidar");
    std::vector<uint32_t> digits(t.begin(), t.end());
    build_station_transmission(digits.data(), digits.size(), "", "", 0, 0, 0.18, 0.09, &answer,
                               nullptr, 0);
    sb_append_buf(&air, &answer);
    ASSERT_EQ(save_wav(at("air.wav").c_str(), &air), 0);
    Outcome r = cli("decode air.wav --json");
    EXPECT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    std::string req, ans, more;
    std::getline(lines, req);
    std::getline(lines, ans);
    EXPECT_NE(req.find("\"digits\": \"012324010412216543210\", \"dir\": \"0123\", "
                       "\"text\": \"radio\", \"lost\": 0}"),
              std::string::npos)
        << r.out;
    EXPECT_NE(ans.find("\"text\": \"oidar\""), std::string::npos) << r.out;
    EXPECT_FALSE(std::getline(lines, more));
}

// Whether any process whose pid is listed in the file still runs.
bool any_alive(const std::string &pid_file) {
    std::istringstream pids(read_file(pid_file));
    for (long pid; pids >> pid;) {
        std::string st = read_file("/proc/" + std::to_string(pid) + "/stat");
        if (!st.empty() && st.find(") Z ") == std::string::npos) return true;
    }
    return false;
}

TEST_F(Cli, ServeLeavesNoProcessOfACommandBehind) {
    Buf air;
    build_server_transmission("0123", "hi", "", "", 0, 0, 0.18, 0.09, &air, nullptr, 0);
    sb_append_silence(&air, 44100);
    ASSERT_EQ(save_wav(at("air.wav").c_str(), &air), 0);
    // Started in the background, in its own session too, then done or stuck.
    const std::string spawn = "sh -c \"sleep 301\" </dev/null >/dev/null 2>&1 & echo $! >>pids; "
                              "setsid sleep 302 </dev/null >/dev/null 2>&1 & echo $! >>pids; ";
    struct Case {
        const char *command, *signals, *says;
    };
    for (const Case &c :
         {Case{"echo done", "", "answered; answer \"done\""},
          Case{"sleep 30", "", "no answer in 1 s, stopped"},
          Case{"sleep 30", "-INT", "interrupted"}, Case{"sleep 30", "-INT; kill -INT", ""},
          Case{"sleep 30", "-TERM", "interrupted"}}) {
        SCOPED_TRACE(std::string(c.command) + " " + c.signals);
        unlink(at("pids").c_str());
        std::string serve = TESSARY_CLI " serve --dir '0123=" + spawn + c.command +
                            "' --timeout 1 --in air.wav --out ans.wav 2>.err";
        if (*c.signals)
            serve += " & s=$!; until [ $(wc -l <pids) -ge 2 ] 2>/dev/null; do sleep 0.05; done; "
                     "kill " +
                     std::string(c.signals) + " $s; wait $s";
        time_t t0 = time(nullptr);
        (void)!system(("cd '" + dir + "' || exit; " + serve).c_str());
        EXPECT_LT(time(nullptr) - t0, 10);
        EXPECT_NE(read_file(at(".err")).find(c.says), std::string::npos) << read_file(at(".err"));
        EXPECT_FALSE(any_alive(at("pids"))) << "left running: " << read_file(at("pids"));
    }
}

TEST_F(Cli, DecodeEndsAtAWriteErrorThoughItsInputStaysOpen) {
    ASSERT_EQ(cli("encode text 'hello world' -o hw.wav").code, 0);
    // The writer sends half and then holds the pipe open until decode is over
    // (whether or not decode read all of that half before it ended).
    std::string pipeline =
        "{ sleep 60 & echo $! >w; head -c $(($(wc -c <hw.wav) / 2)) hw.wav; wait; } | { timeout "
        "20 " TESSARY_CLI " decode - >/dev/full; echo $? >st; until [ -s w ]; do sleep 0.05; "
        "done; kill $(cat w); }";
    ASSERT_EQ(system(("cd '" + dir + "' && " + pipeline).c_str()), 0);
    EXPECT_EQ(read_file(at("st")), "1\n");
}

} // namespace
