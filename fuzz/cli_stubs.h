// The sound layer, absent in the fuzzers: no device opens, nothing plays,
// no Ctrl-C comes.
#include <string>
#include <vector>
#include "cli/cli_sound.h"

const int CLI_SOUND_NAMED_DEVICES = 1;
CliRec *cli_rec_open(const char *, std::string *err) {
    *err = "no sound here";
    return nullptr;
}
int cli_rec_read(CliRec *, std::vector<float> *, std::string *err) {
    *err = "no sound here";
    return -1;
}
void cli_rec_close(CliRec *) {}
int cli_play(const char *, const float *, uint64_t, double, std::string *) { return 0; }
void cli_catch_interrupt(void) {}
int cli_interrupted(void) { return 0; }
