/* Live sound on Linux through PulseAudio's simple API (PipeWire's PulseAudio
 * service does as well). */
#include "cli/cli_sound.h"
#include "cli/cli.h"

#include <dlfcn.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <string.h>
#include <chrono>
#include <thread>

const int CLI_SOUND_NAMED_DEVICES = 1;

static volatile sig_atomic_t g_interrupted;

static void on_signal(int sig) {
    if (g_interrupted && !cli_run_active()) {
        cli_ptt_abandon();
        signal(sig, SIG_DFL);
        raise(sig);
    }
    g_interrupted = 1;
}

void cli_catch_interrupt(void) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int cli_interrupted(void) { return g_interrupted != 0; }

/* PulseAudio is loaded when sound is first wanted: decoding or writing a
 * file starts without it and the two dozen libraries it brings along. */
struct Pulse {
    decltype(&pa_simple_new) simple_new;
    decltype(&pa_simple_read) simple_read;
    decltype(&pa_simple_write) simple_write;
    decltype(&pa_simple_get_latency) simple_get_latency;
    decltype(&pa_simple_drain) simple_drain;
    decltype(&pa_simple_flush) simple_flush;
    decltype(&pa_simple_free) simple_free;
    decltype(&pa_strerror) strerror;
};

template <typename F> static int find(void *lib, const char *name, F *f) {
    *f = reinterpret_cast<F>(dlsym(lib, name));
    return *f != nullptr;
}

static const Pulse *pulse(std::string *err) {
    static Pulse p;
    static std::string why;
    static const int ready = [] {
        void *lib = dlopen("libpulse-simple.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            const char *e = dlerror();
            why = std::string("PulseAudio cannot be loaded: ") + (e ? e : "libpulse-simple.so.0");
            return 0;
        }
        if (find(lib, "pa_simple_new", &p.simple_new) && find(lib, "pa_simple_read", &p.simple_read) &&
            find(lib, "pa_simple_write", &p.simple_write) &&
            find(lib, "pa_simple_get_latency", &p.simple_get_latency) &&
            find(lib, "pa_simple_drain", &p.simple_drain) &&
            find(lib, "pa_simple_flush", &p.simple_flush) &&
            find(lib, "pa_simple_free", &p.simple_free) && find(lib, "pa_strerror", &p.strerror))
            return 1;
        why = "PulseAudio cannot be loaded: libpulse-simple.so.0 lacks a function it should have";
        return 0;
    }();
    if (!ready) *err = why;
    return ready ? &p : nullptr;
}

static const pa_sample_spec FORMAT = {PA_SAMPLE_FLOAT32NE, 44100, 1};
/* 1024 samples a read: the decoder's hop, 23 ms behind the air. */
static const uint32_t REC_BLOCK = 1024;

struct CliRec {
    const Pulse *lib;
    pa_simple *pa;
};

static std::string reason(const Pulse *lib, int code, const char *device) {
    std::string r = lib->strerror(code);
    if (device) r += std::string(" (device '") + device + "')";
    return r;
}

CliRec *cli_rec_open(const char *device, std::string *err) {
    pa_buffer_attr attr;
    memset(&attr, 0xff, sizeof attr);          /* every field: the server's choice ... */
    attr.fragsize = REC_BLOCK * sizeof(float); /* ... but small blocks, for little delay */
    const Pulse *lib = pulse(err);
    if (!lib) return nullptr;
    int code = 0;
    pa_simple *pa = lib->simple_new(nullptr, "tessary-cli", PA_STREAM_RECORD, device, "listening",
                                    &FORMAT, nullptr, &attr, &code);
    if (!pa) {
        *err = reason(lib, code, device);
        return nullptr;
    }
    return new CliRec{lib, pa};
}

int cli_rec_read(CliRec *r, std::vector<float> *block, std::string *err) {
    block->resize(REC_BLOCK);
    int code = 0;
    if (r->lib->simple_read(r->pa, block->data(), REC_BLOCK * sizeof(float), &code) < 0) {
        block->clear();
        *err = reason(r->lib, code, nullptr);
        return -1;
    }
    return g_interrupted ? 1 : 0;
}

void cli_rec_close(CliRec *r) {
    if (!r) return;
    r->lib->simple_free(r->pa);
    delete r;
}

int cli_play(const char *device, const float *s, uint64_t n, double limit_s, std::string *err) {
    const Pulse *lib = pulse(err);
    if (!lib) return -1;
    int code = 0;
    pa_simple *pa = lib->simple_new(nullptr, "tessary-cli", PA_STREAM_PLAYBACK, device,
                                    "transmission", &FORMAT, nullptr, nullptr, &code);
    if (!pa) {
        *err = "cannot open the playback device: " + reason(lib, code, device);
        return -1;
    }
    const auto t0 = std::chrono::steady_clock::now();
    auto over = [&] {
        return limit_s > 0 &&
               std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() >=
                   limit_s;
    };
    /* A tenth of a second at a time, so that Ctrl-C and the limit are heard. */
    const uint64_t step = 4410;
    int rc = 0;
    for (uint64_t at = 0; at < n && rc == 0; at += step) {
        if (g_interrupted) {
            rc = 1;
        } else if (over()) {
            rc = CLI_PLAY_CUT;
        } else if (lib->simple_write(pa, s + at,
                                     (size_t)((n - at < step ? n - at : step) * sizeof(float)),
                                     &code) < 0) {
            *err = "playback failed: " + reason(lib, code, nullptr);
            rc = -1;
        }
    }
    /* The server holds a second or two: wait it out here, where Ctrl-C and
     * the limit still count, and drain the last few milliseconds. */
    while (rc == 0) {
        pa_usec_t left = lib->simple_get_latency(pa, &code);
        if (left == (pa_usec_t)-1) {
            *err = "playback failed: " + reason(lib, code, nullptr);
            rc = -1;
        } else if (left < 30000) {
            break;
        } else if (g_interrupted) {
            rc = 1;
        } else if (over()) {
            rc = CLI_PLAY_CUT;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (rc == 0 && lib->simple_drain(pa, &code) < 0) {
        *err = "playback failed: " + reason(lib, code, nullptr);
        rc = -1;
    }
    if (rc == 0 && g_interrupted) rc = 1;
    if (rc != 0) lib->simple_flush(pa, nullptr);
    lib->simple_free(pa);
    return rc;
}
