/* tessary-cli: messages, files, standard streams, and WAV files in and out
 * through the core. */
#include "cli/cli.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

/* ---- Messages ---- */

static void vmessage(const char *cmd, const char *file, const char *kind, const char *fmt,
                     va_list ap) {
    char text[1400];
    vsnprintf(text, sizeof text, fmt, ap);
    fprintf(stderr, "tessary-cli: %s: %s%s%s%s\n", cmd, file ? file : "", file ? ": " : "", kind,
            text);
}

void cli_error(const char *cmd, const char *file, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vmessage(cmd, file, "", fmt, ap);
    va_end(ap);
}

void cli_warn(const char *cmd, const char *file, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vmessage(cmd, file, "warning: ", fmt, ap);
    va_end(ap);
}

int cli_usage_error(const char *cmd, const char *fmt, ...) {
    char text[1200];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    fprintf(stderr, "tessary-cli: %s: %s (see tessary-cli %s --help)\n", cmd, text, cmd);
    return CLI_USAGE;
}

/* ---- Streams and files ---- */

void cli_binary_stdio(void) {
#ifdef _WIN32
    /* WAV bytes and hex output must not gain carriage returns. */
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

enum { PATH_FILE, PATH_DIR, PATH_OTHER };

/* Size and kind of a path; -1 when it does not exist. Devices and pipes
 * (-o /dev/stdout) are PATH_OTHER: never size-checked, never removed. */
static int64_t path_size(const char *path, int *kind) {
#ifdef _WIN32
    struct _stat64 st;
    if (_stat64(path, &st) != 0) return -1;
    *kind = (st.st_mode & _S_IFDIR) ? PATH_DIR : (st.st_mode & _S_IFREG) ? PATH_FILE : PATH_OTHER;
#else
    struct stat st;
    if (stat(path, &st) != 0) return -1;
    *kind = S_ISDIR(st.st_mode) ? PATH_DIR : S_ISREG(st.st_mode) ? PATH_FILE : PATH_OTHER;
#endif
    return (int64_t)st.st_size;
}

static void remove_if_file(const char *path) {
    int kind = PATH_OTHER;
    if (path_size(path, &kind) >= 0 && kind == PATH_FILE) remove(path);
}

static std::string errno_text(void) { return errno ? strerror(errno) : "input/output error"; }

int cli_read_all(const char *path, std::vector<uint8_t> *out, std::string *err, uint64_t limit) {
    out->clear();
    FILE *f = stdin;
    if (strcmp(path, "-") != 0) {
        int kind = PATH_FILE;
        errno = 0;
        if (path_size(path, &kind) >= 0 && kind == PATH_DIR) {
            *err = "is a directory";
            return -1;
        }
        f = fopen(path, "rb");
        if (!f) {
            *err = errno_text();
            return -1;
        }
    }
    uint8_t chunk[65536];
    for (;;) {
        size_t got = fread(chunk, 1, sizeof chunk, f);
        out->insert(out->end(), chunk, chunk + got);
        if (got < sizeof chunk || out->size() > limit) break;
    }
    int failed = ferror(f);
    if (f != stdin) fclose(f);
    if (failed) {
        *err = "read error";
        return -1;
    }
    return 0;
}

int cli_write_all(const char *path, const void *data, size_t n, std::string *err) {
    int to_stdout = strcmp(path, "-") == 0;
    errno = 0;
    FILE *f = to_stdout ? stdout : fopen(path, "wb");
    if (!f) {
        *err = errno_text();
        return -1;
    }
    size_t put = n ? fwrite(data, 1, n, f) : 0;
    int failed = put != n;
    if (to_stdout)
        failed |= fflush(f) != 0;
    else
        failed |= fclose(f) != 0;
    if (failed) {
        *err = errno_text();
        if (!to_stdout) remove_if_file(path);
        return -1;
    }
    return 0;
}

std::string cli_exe_dir(const char *argv0) {
    std::string p;
#ifdef _WIN32
    char buf[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (n > 0 && n < sizeof buf) p.assign(buf, n);
#else
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) p.assign(buf, (size_t)n);
#endif
    if (p.empty() && argv0) p = argv0;
    size_t cut = p.find_last_of("/\\");
    return cut == std::string::npos ? std::string(".") : p.substr(0, cut);
}

/* ---- WAV files ---- */

/* Larger files are refused outright, whatever their header says. */
static const int64_t WAV_FILE_LIMIT = 0x80000000LL;
static const char *const TOO_LARGE = "file too large (WAV files of 2 GiB or more are not read)";

int cli_load_audio(const char *cmd, const char *path, SampleBuf *out, uint32_t *rate) {
    char why[256] = "";
    WavInfo info;
    *rate = DTMF_SAMPLE_RATE;
    if (strcmp(path, "-") == 0) {
        const char *shown = "<stdin>";
        std::vector<uint8_t> bytes;
        std::string err;
        if (cli_read_all("-", &bytes, &err, (uint64_t)WAV_FILE_LIMIT - 1) != 0) {
            cli_error(cmd, shown, "%s", err.c_str());
            return CLI_BAD_INPUT;
        }
        if (bytes.empty() || bytes.size() >= (uint64_t)WAV_FILE_LIMIT) {
            cli_error(cmd, shown, "%s", bytes.empty() ? "empty file" : TOO_LARGE);
            return CLI_BAD_INPUT;
        }
        if (wav_read_info_mem(bytes.data(), bytes.size(), &info, why, sizeof why) != 0) {
            cli_error(cmd, shown, "%s", why);
            return CLI_BAD_INPUT;
        }
        if (load_wav_mono_float_mem(bytes.data(), bytes.size(), out, rate) != 0) {
            cli_error(cmd, shown, "could not read that WAV file");
            return CLI_BAD_INPUT;
        }
        return CLI_OK;
    }

    int kind = PATH_FILE;
    errno = 0;
    int64_t size = path_size(path, &kind);
    const char *fault = size < 0                 ? nullptr
                        : kind == PATH_DIR       ? "is a directory"
                        : size == 0              ? "empty file"
                        : size >= WAV_FILE_LIMIT ? TOO_LARGE
                                                 : nullptr;
    FILE *f = size >= 0 && !fault ? fopen(path, "rb") : nullptr;
    if (!f) { /* a file that cannot be opened says so in the system's words */
        cli_error(cmd, path, "%s", fault ? fault : errno_text().c_str());
        return CLI_BAD_INPUT;
    }
    fclose(f);
    if (wav_read_info(path, &info, why, sizeof why) != 0) {
        cli_error(cmd, path, "%s", why);
        return CLI_BAD_INPUT;
    }
    if (load_wav_mono_float(path, out, rate) != 0) {
        cli_error(cmd, path, "could not read that WAV file");
        return CLI_BAD_INPUT;
    }
    return CLI_OK;
}

static int32_t write_stream(void *ctx, const void *data, uint64_t n) {
    return fwrite(data, 1, (size_t)n, (FILE *)ctx) == n ? 0 : -1;
}

int cli_save_wav(const char *cmd, const char *path, const SampleBuf *b) {
    if (b->len > WAV_MAX_SAMPLES) {
        cli_error(cmd, path, "transmission too long for a WAV file (%llu samples, at most %llu)",
                  (unsigned long long)b->len, (unsigned long long)WAV_MAX_SAMPLES);
        return CLI_BAD_INPUT;
    }
    int to_stdout = strcmp(path, "-") == 0;
    const char *shown = to_stdout ? "<stdout>" : path;
    int kind = PATH_FILE;
    if (!to_stdout && path_size(path, &kind) >= 0 && kind == PATH_DIR) {
        cli_error(cmd, shown, "is a directory");
        return CLI_BAD_INPUT;
    }
    errno = 0;
    FILE *f = to_stdout ? stdout : fopen(path, "wb");
    if (!f) {
        cli_error(cmd, shown, "cannot write: %s", errno_text().c_str());
        return CLI_BAD_INPUT;
    }
    int failed = write_wav(write_stream, f, b) != 0;
    /* A full disk often shows only when the buffer is flushed or closed. */
    failed |= fflush(f) != 0;
    int saved_errno = errno;
    if (!to_stdout) failed |= fclose(f) != 0;
    if (!failed) return CLI_OK;
    if (!errno) errno = saved_errno;
    cli_error(cmd, shown, "cannot write: %s", errno_text().c_str());
    /* A cut file must not pass for a transmission. */
    if (!to_stdout) remove_if_file(path);
    return CLI_BAD_INPUT;
}
