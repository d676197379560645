/* tessary-cli: messages, files, standard streams, and WAV files in and out
 * through the core. */
#include "cli/cli.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <algorithm>

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

/* One read of the input: a regular file through its FILE, anything else
 * straight from its descriptor, so a pipe's bytes come as they arrive. */
static uint64_t read_input(void *ctx, void *buf, uint64_t n) {
    CliAudio *a = (CliAudio *)ctx;
    if (a->read_errno) return 0;
    uint64_t got = 0;
    if (a->regular) {
        got = fread(buf, 1, (size_t)n, a->f);
        if (got < n && ferror(a->f)) a->read_errno = errno ? errno : EIO;
    } else {
        for (;;) {
#ifdef _WIN32
            int k = _read(a->fd, buf, n > 0x40000000 ? 0x40000000u : (unsigned)n);
#else
            ssize_t k = read(a->fd, buf, (size_t)n);
#endif
            if (k >= 0) {
                got = (uint64_t)k;
                break;
            }
            if (errno != EINTR) {
                a->read_errno = errno;
                break;
            }
        }
    }
    a->bytes += got;
    return got;
}

int cli_open_audio(const char *cmd, const char *path, uint32_t raw_rate, CliAudio *a) {
    memset(a, 0, sizeof *a);
    a->fd = -1;
    int from_stdin = strcmp(path, "-") == 0;
    a->shown = from_stdin ? "<stdin>" : path;
    if (from_stdin) {
        a->fd = 0;
    } else {
        int kind = PATH_FILE;
        errno = 0;
        int64_t size = path_size(path, &kind);
        /* A pipe or device has no size to check: it is read as it comes. */
        const char *fault = size < 0             ? nullptr
                            : kind == PATH_DIR   ? "is a directory"
                            : kind == PATH_OTHER ? nullptr
                            : size == 0          ? "empty file"
                                                 : nullptr;
        a->f = size >= 0 && !fault ? fopen(path, "rb") : nullptr;
        if (!a->f) { /* a file that cannot be opened says so in the system's words */
            cli_error(cmd, path, "%s", fault ? fault : errno_text().c_str());
            return CLI_BAD_INPUT;
        }
        a->regular = kind == PATH_FILE;
        if (!a->regular) a->fd = fileno(a->f);
    }
    char why[256] = "";
    int rc;
    if (raw_rate)
        rc = wav_reader_open_raw(&a->wav, read_input, a, raw_rate, why, sizeof why);
    else if (a->regular) /* walked to its end, as a whole file always was */
        rc = wav_reader_open_file(&a->wav, a->f, why, sizeof why);
    else
        rc = wav_reader_open(&a->wav, read_input, a, why, sizeof why);
    if (a->regular && ferror(a->f)) a->read_errno = errno ? errno : EIO;
    if (rc == 0 && !a->read_errno) return CLI_OK;
    if (a->read_errno)
        cli_error(cmd, a->shown, "read error: %s", strerror(a->read_errno));
    else
        cli_error(cmd, a->shown, "%s",
                  !a->regular && !raw_rate && a->bytes == 0 ? "empty file" : why);
    wav_reader_close(&a->wav);
    if (a->f) fclose(a->f);
    a->f = nullptr;
    return CLI_BAD_INPUT;
}

uint64_t cli_read_audio(CliAudio *a, float *out, uint64_t max) {
    uint64_t n = wav_reader_read(&a->wav, out, max);
    /* A file never makes anyone wait: fill the block. */
    if (a->regular)
        for (uint64_t k = n; k && n < max; n += k) k = wav_reader_read(&a->wav, out + n, max - n);
    return n;
}

int cli_close_audio(const char *cmd, CliAudio *a) {
    if (a->regular && ferror(a->f) && !a->read_errno) a->read_errno = errno ? errno : EIO;
    if (a->wav.missing && !a->read_errno)
        cli_warn(cmd, a->shown,
                 "the recording is cut short: its data chunk declares %llu bytes more than there "
                 "are",
                 (unsigned long long)a->wav.missing);
    wav_reader_close(&a->wav);
    if (a->f) fclose(a->f);
    a->f = nullptr;
    if (!a->read_errno) return CLI_OK;
    cli_error(cmd, a->shown, "read error: %s", strerror(a->read_errno));
    return CLI_BAD_INPUT;
}

int cli_check_output(const char *cmd, const char *path, int *made) {
    *made = 0;
    if (strcmp(path, "-") == 0) return CLI_OK;
    int kind = PATH_FILE;
    int existed = path_size(path, &kind) >= 0;
    if (existed && kind == PATH_DIR) {
        cli_error(cmd, path, "is a directory");
        return CLI_BAD_INPUT;
    }
    errno = 0;
    FILE *f = fopen(path, "ab"); /* appending changes nothing that is there */
    if (!f) {
        cli_error(cmd, path, "cannot write: %s", errno_text().c_str());
        return CLI_BAD_INPUT;
    }
    fclose(f);
    *made = !existed;
    return CLI_OK;
}

static int32_t write_stream(void *ctx, const void *data, uint64_t n) {
    return fwrite(data, 1, (size_t)n, (FILE *)ctx) == n ? 0 : -1;
}

/* Writes a WAV of n samples to path ("-": stdout); body writes it to the
 * open stream. Reports the failure itself, and a cut file is removed. */
static int save_with(const char *cmd, const char *path, uint64_t n,
                     const std::function<int(FILE *)> &body) {
    if (n > WAV_MAX_SAMPLES) {
        cli_error(cmd, path, "transmission too long for a WAV file (%llu samples, at most %llu)",
                  (unsigned long long)n, (unsigned long long)WAV_MAX_SAMPLES);
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
    int failed = body(f) != 0;
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

int cli_save_wav(const char *cmd, const char *path, const SampleBuf *b) {
    return save_with(cmd, path, b->len, [b](FILE *f) { return write_wav(write_stream, f, b); });
}

void cli_spool_init(CliSpool *s) {
    memset(s, 0, sizeof *s);
    sb_init(&s->mem);
}

void cli_spool_add(CliSpool *s, const float *x, uint64_t n) {
    /* None to be had (a Windows without a writable root): memory it is. */
    if (!s->f && s->n == 0) s->f = tmpfile();
    if (!s->f) {
        if (x)
            sb_append(&s->mem, x, n);
        else
            sb_append_silence(&s->mem, n);
        s->n += n;
        return;
    }
    uint8_t chunk[8192];
    for (uint64_t i = 0; i < n;) {
        uint64_t m = std::min<uint64_t>(n - i, sizeof chunk / 2);
        for (uint64_t j = 0; j < m; j++) {
            uint16_t v = (uint16_t)sample_to_pcm16(x ? x[i + j] : 0.0f);
            chunk[2 * j] = (uint8_t)v;
            chunk[2 * j + 1] = (uint8_t)(v >> 8);
        }
        s->failed |= fwrite(chunk, 1, (size_t)(2 * m), s->f) != 2 * m;
        i += m;
    }
    s->n += n;
}

int cli_spool_save(const char *cmd, const char *path, CliSpool *s) {
    if (!s->f) return cli_save_wav(cmd, path, &s->mem);
    return save_with(cmd, path, s->n, [s](FILE *f) {
        WavWriter w;
        if (s->failed || fflush(s->f) != 0 || wav_writer_begin(&w, write_stream, f, s->n) != 0)
            return -1;
        rewind(s->f);
        uint8_t chunk[65536];
        uint64_t left = 2 * s->n;
        while (left) {
            size_t k = fread(chunk, 1, (size_t)std::min<uint64_t>(left, sizeof chunk), s->f);
            if (k == 0 || fwrite(chunk, 1, k, f) != k) return -1;
            left -= k;
        }
        return 0;
    });
}

void cli_spool_free(CliSpool *s) {
    if (s->f) fclose(s->f);
    sb_free(&s->mem);
    s->f = nullptr;
}
