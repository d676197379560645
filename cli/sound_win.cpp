/* Live sound on Windows through the window program's sound layer: capture
 * hands 2048-sample frames over on its own thread, so they wait in a queue
 * for the reading loop. */
#include "cli/cli_sound.h"
#include "cli/cli.h"
#include "audio/audio.h"

#include <signal.h>
#include <unistd.h>
#include <condition_variable>
#include <deque>
#include <mutex>

const int CLI_SOUND_NAMED_DEVICES = 0;

static volatile sig_atomic_t g_interrupted;

/* Runs on a thread of its own; the runtime restores the default before.
 * A command's processes end with ours (its job). */
static void on_signal(int sig) {
    if (g_interrupted) {
        cli_ptt_abandon();
        _exit(128 + sig);
    }
    g_interrupted = 1;
    signal(SIGINT, on_signal);
}

void cli_catch_interrupt(void) { signal(SIGINT, on_signal); }

int cli_interrupted(void) { return g_interrupted != 0; }

/* Frames the reader has not taken yet; ten seconds of them at most, beyond
 * which the oldest go (the reader is stuck, and fresh sound matters more). */
static const size_t QUEUE_MAX = 215;

struct CliRec {
    std::mutex lock;
    std::condition_variable ready;
    std::deque<std::vector<float>> frames;
};

static void on_frame(const float *frame, uint64_t count, void *user) {
    CliRec *r = (CliRec *)user;
    std::lock_guard<std::mutex> hold(r->lock);
    if (r->frames.size() >= QUEUE_MAX) r->frames.pop_front();
    r->frames.emplace_back(frame, frame + count);
    r->ready.notify_one();
}

CliRec *cli_rec_open(const char *device, std::string *err) {
    if (device) {
        *err = "choosing a device is not supported on Windows (the default one is used)";
        return nullptr;
    }
    CliRec *r = new CliRec;
    char why[256] = "";
    if (!audio_capture_start(on_frame, r, why, sizeof why)) {
        *err = why;
        delete r;
        return nullptr;
    }
    return r;
}

int cli_rec_read(CliRec *r, std::vector<float> *block, std::string *) {
    block->clear();
    std::unique_lock<std::mutex> hold(r->lock);
    while (r->frames.empty() && !g_interrupted)
        r->ready.wait_for(hold, std::chrono::milliseconds(100));
    if (!r->frames.empty()) {
        block->swap(r->frames.front());
        r->frames.pop_front();
    }
    return g_interrupted ? 1 : 0;
}

void cli_rec_close(CliRec *r) {
    if (!r) return;
    audio_capture_stop(); /* no frame arrives once it returns */
    delete r;
}

int cli_play(const char *device, const float *s, uint64_t n, double limit_s, std::string *err) {
    if (device) {
        *err = "cannot open the playback device: choosing a device is not supported on Windows";
        return -1;
    }
    if (waveOutGetNumDevs() == 0) {
        *err = "cannot open the playback device: there is no sound output";
        return -1;
    }
    ULONGLONG start = GetTickCount64();
    int cut = 0;
    audio_play(s, n);
    /* The play thread ends once the device has played the whole buffer. */
    while (audio_play_threads_alive() > 0) {
        cut |= limit_s > 0 && (GetTickCount64() - start) >= (ULONGLONG)(limit_s * 1000);
        if (g_interrupted || cut) audio_stop();
        Sleep(20);
    }
    if (g_interrupted) return 1;
    if (cut) return CLI_PLAY_CUT;
    /* The layer reports nothing; a playback that ended long before its
     * length did not sound. */
    if ((GetTickCount64() - start) * 2 < n * 1000 / 44100) {
        *err = "playback failed: the sound output did not take the samples";
        return -1;
    }
    return 0;
}
