/*
 * Live sound for tessary-cli: the recording device as blocks of 44100 Hz
 * mono floats, and playback that returns once the sound has been played.
 * Linux: PulseAudio's simple API, where a device is a source or sink name.
 * Windows: the window program's own sound layer, default devices only.
 *
 * One recording at a time. Errors come back as one readable reason.
 */
#ifndef TESSARY_CLI_SOUND_H
#define TESSARY_CLI_SOUND_H

#include <stdint.h>
#include <string>
#include <vector>

/* Whether a device can be chosen by name on this platform. */
extern const int CLI_SOUND_NAMED_DEVICES;

struct CliRec;
/* device null: the default. Null with the reason in err. */
CliRec *cli_rec_open(const char *device, std::string *err);
/* Replaces block with the next samples heard: 0; 1 when Ctrl-C came
 * (block may be empty); -1 with the reason in err when the device failed. */
int cli_rec_read(CliRec *r, std::vector<float> *block, std::string *err);
void cli_rec_close(CliRec *r);

/* Plays the samples and waits until the last has left the sound card: 0;
 * 1 when Ctrl-C cut it short; CLI_PLAY_CUT when limit_s (0: none) ran out
 * first, the rest dropped; -1 with what went wrong in err ("cannot open
 * the playback device: REASON" or "playback failed: REASON"). */
enum { CLI_PLAY_CUT = 2 };
int cli_play(const char *device, const float *s, uint64_t n, double limit_s, std::string *err);

/* Ctrl-C (and on Linux SIGTERM) sets a flag the loops look at instead of
 * ending the process; a second one ends it as usual, once it has released
 * a held PTT key, unless a command is running (that ends within a tenth
 * of a second, and the process after it). */
void cli_catch_interrupt(void);
int cli_interrupted(void);

#endif
