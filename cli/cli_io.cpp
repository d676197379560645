/* tessary-cli: messages, files, standard streams and the WAV checks made
 * before the core reads a file. */
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
                     va_list ap)
{
    char text[1400];
    vsnprintf(text, sizeof text, fmt, ap);
    fprintf(stderr, "tessary-cli: %s: %s%s%s%s\n", cmd, file ? file : "", file ? ": " : "",
            kind, text);
}

void cli_error(const char *cmd, const char *file, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vmessage(cmd, file, "", fmt, ap);
    va_end(ap);
}

void cli_warn(const char *cmd, const char *file, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vmessage(cmd, file, "warning: ", fmt, ap);
    va_end(ap);
}

int cli_usage_error(const char *cmd, const char *fmt, ...)
{
    char text[1200];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    fprintf(stderr, "tessary-cli: %s: %s (see tessary-cli %s --help)\n", cmd, text, cmd);
    return CLI_USAGE;
}

/* ---- Streams and files ---- */

void cli_binary_stdio(void)
{
#ifdef _WIN32
    /* WAV bytes and hex output must not gain carriage returns. */
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

enum { PATH_FILE, PATH_DIR, PATH_OTHER };

/* Size and kind of a path; -1 when it does not exist. Devices and pipes
 * (-o /dev/stdout) are PATH_OTHER: never size-checked, never removed. */
static int64_t path_size(const char *path, int *kind)
{
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

static void remove_if_file(const char *path)
{
    int kind = PATH_OTHER;
    if (path_size(path, &kind) >= 0 && kind == PATH_FILE) remove(path);
}

static std::string errno_text(void)
{
    return errno ? strerror(errno) : "input/output error";
}

int cli_read_all(const char *path, std::vector<uint8_t> *out, std::string *err)
{
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
        if (got < sizeof chunk) break;
    }
    int failed = ferror(f);
    if (f != stdin) fclose(f);
    if (failed) {
        *err = "read error";
        return -1;
    }
    return 0;
}

int cli_write_all(const char *path, const void *data, size_t n, std::string *err)
{
    int to_stdout = strcmp(path, "-") == 0;
    errno = 0;
    FILE *f = to_stdout ? stdout : fopen(path, "wb");
    if (!f) {
        *err = errno_text();
        return -1;
    }
    size_t put = n ? fwrite(data, 1, n, f) : 0;
    int failed = put != n;
    if (to_stdout) failed |= fflush(f) != 0;
    else failed |= fclose(f) != 0;
    if (failed) {
        *err = errno_text();
        if (!to_stdout) remove_if_file(path);
        return -1;
    }
    return 0;
}

std::string cli_temp_path(void)
{
#ifdef _WIN32
    char dir[MAX_PATH + 1], name[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n > sizeof dir) return "";
    if (GetTempFileNameA(dir, "tsy", 0, name) == 0) return "";
    return name;
#else
    const char *dir = getenv("TMPDIR");
    std::string tmpl = std::string(dir && *dir ? dir : "/tmp") + "/tessary-cli-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (fd < 0) return "";
    close(fd);
    return buf.data();
#endif
}

std::string cli_exe_dir(const char *argv0)
{
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

/* ---- WAV checks ---- */

static uint32_t le16(const uint8_t *p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }
static uint32_t le32(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

/* Walks the chunks the way the core's reader does (a later "fmt " or
 * "data" wins, sizes past the end are cut, odd sizes are padded), so the
 * verdict here is about the same header the core will use. */
int wav_probe(const char *path, WavInfo *info, std::string *err)
{
    memset(info, 0, sizeof *info);
    info->rate = 44100;
    info->channels = 1;
    info->bits = 16;
    info->format_tag = 1;

    int kind = PATH_FILE;
    errno = 0;
    int64_t size = path_size(path, &kind);
    if (size < 0) {
        *err = errno_text();
        return -1;
    }
    if (kind == PATH_DIR) {
        *err = "is a directory";
        return -1;
    }
    if (size == 0) {
        *err = "empty file";
        return -1;
    }
    if (size >= 0x80000000LL) {
        *err = "file too large (WAV files of 2 GiB or more are not read)";
        return -1;
    }
    FILE *f = fopen(path, "rb");
    if (!f) {
        *err = errno_text();
        return -1;
    }
    uint8_t head[12];
    if (fread(head, 1, 12, f) != 12 || memcmp(head, "RIFF", 4) != 0 ||
        memcmp(head + 8, "WAVE", 4) != 0) {
        fclose(f);
        *err = "not a WAV file (no RIFF/WAVE header)";
        return -1;
    }
    int64_t pos = 12;
    while (pos + 8 <= size) {
        uint8_t ch[8];
        if (fseek(f, (long)pos, SEEK_SET) != 0 || fread(ch, 1, 8, f) != 8) break;
        pos += 8;
        int64_t sz = le32(ch + 4);
        if (sz > size - pos) sz = size - pos;
        if (memcmp(ch, "fmt ", 4) == 0) {
            uint8_t fmt[26] = {0};
            size_t got = fread(fmt, 1, sizeof fmt, f);
            if (got >= 16) {
                info->has_fmt = 1;
                info->format_tag = le16(fmt);
                info->channels = le16(fmt + 2);
                info->rate = le32(fmt + 4);
                info->bits = le16(fmt + 14);
                info->sub_format = (sz >= 26 && got >= 26) ? le16(fmt + 24) : 0;
            }
        } else if (memcmp(ch, "data", 4) == 0) {
            info->has_data = 1;
            info->data_bytes = (uint64_t)sz;
        }
        pos += sz + (sz & 1);
    }
    fclose(f);

    char text[200];
    uint32_t fmt_code = info->format_tag == 0xFFFE ? info->sub_format : info->format_tag;
    if (!info->has_data) {
        *err = "no audio in the WAV file (no \"data\" chunk)";
        return -1;
    }
    if (fmt_code == 3) {
        *err = "floating-point WAV is not supported (8, 16 or 32-bit integer PCM only)";
        return -1;
    }
    if (fmt_code != 1) {
        snprintf(text, sizeof text,
                 "compressed WAV (format %u) is not supported (8, 16 or 32-bit integer PCM only)",
                 (unsigned)fmt_code);
        *err = text;
        return -1;
    }
    if (info->bits != 8 && info->bits != 16 && info->bits != 32) {
        snprintf(text, sizeof text, "%u-bit samples are not supported (8, 16 or 32-bit PCM only)",
                 (unsigned)info->bits);
        *err = text;
        return -1;
    }
    if (info->channels == 0) {
        *err = "the WAV header declares no channels";
        return -1;
    }
    if (info->rate < 1000 || info->rate > 768000) {
        snprintf(text, sizeof text, "sample rate %u Hz is out of range (1000-768000)",
                 (unsigned)info->rate);
        *err = text;
        return -1;
    }
    return 0;
}

int cli_load_audio(const char *cmd, const char *path, SampleBuf *out, uint32_t *rate)
{
    std::string err;
    std::string file = path;
    const char *shown = path;
    int from_stdin = strcmp(path, "-") == 0;
    if (from_stdin) {
        shown = "<stdin>";
        std::vector<uint8_t> bytes;
        if (cli_read_all("-", &bytes, &err) != 0) {
            cli_error(cmd, shown, "%s", err.c_str());
            return CLI_BAD_INPUT;
        }
        file = cli_temp_path();
        if (file.empty() || cli_write_all(file.c_str(), bytes.data(), bytes.size(), &err) != 0) {
            cli_error(cmd, shown, "cannot keep standard input in a temporary file");
            if (!file.empty()) remove(file.c_str());
            return CLI_BAD_INPUT;
        }
    }
    WavInfo info;
    int status = CLI_OK;
    if (wav_probe(file.c_str(), &info, &err) != 0) {
        cli_error(cmd, shown, "%s", err.c_str());
        status = CLI_BAD_INPUT;
    } else {
        *rate = 44100;
        if (load_wav_mono_float(file.c_str(), out, rate) != 0) {
            cli_error(cmd, shown, "could not read that WAV file");
            status = CLI_BAD_INPUT;
        }
    }
    if (from_stdin) remove(file.c_str());
    return status;
}

int cli_save_wav(const char *cmd, const char *path, const SampleBuf *b)
{
    if (b->len > CLI_WAV_MAX_SAMPLES) {
        cli_error(cmd, path, "transmission too long for a WAV file (%llu samples, at most %llu)",
                  (unsigned long long)b->len, (unsigned long long)CLI_WAV_MAX_SAMPLES);
        return CLI_BAD_INPUT;
    }
    int to_stdout = strcmp(path, "-") == 0;
    std::string file = to_stdout ? cli_temp_path() : std::string(path);
    const char *shown = to_stdout ? "<stdout>" : path;
    if (file.empty()) {
        cli_error(cmd, shown, "cannot create a temporary file");
        return CLI_BAD_INPUT;
    }
    int kind = PATH_FILE;
    if (!to_stdout && path_size(path, &kind) >= 0 && kind == PATH_DIR) {
        cli_error(cmd, shown, "is a directory");
        return CLI_BAD_INPUT;
    }
    errno = 0;
    if (save_wav(file.c_str(), b) != 0) {
        cli_error(cmd, shown, "cannot write: %s", errno_text().c_str());
        return CLI_BAD_INPUT;
    }
    /* save_wav does not see write errors; a short file means the disk
     * filled up, and must not pass for a transmission. */
    int64_t want = 44 + 2 * (int64_t)b->len;
    int64_t got = path_size(file.c_str(), &kind);
    if (kind == PATH_FILE && got != want) {
        cli_error(cmd, shown, "could not write the whole file (%lld of %lld bytes; disk full?)",
                  (long long)got, (long long)want);
        remove_if_file(file.c_str());
        return CLI_BAD_INPUT;
    }
    if (!to_stdout) return CLI_OK;

    std::vector<uint8_t> bytes;
    std::string err;
    int status = CLI_OK;
    if (cli_read_all(file.c_str(), &bytes, &err) != 0 ||
        cli_write_all("-", bytes.data(), bytes.size(), &err) != 0) {
        cli_error(cmd, shown, "cannot write: %s", err.c_str());
        status = CLI_BAD_INPUT;
    }
    remove(file.c_str());
    return status;
}
