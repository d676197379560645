// libFuzzer target for what comes in on standard input: the bytes are fed
// through `decode -` (as a WAV file, or as raw PCM when their count is odd)
// and `serve --in -`, exactly as the commands read a pipe. Run with a
// memory limit, so anything sized from the input shows.
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>
#include "cli/cli.h"
#include "fuzz/cli_stubs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static int fd = memfd_create("stdin", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != (ssize_t)size) abort();
    auto from_start = [] {
        if (lseek(fd, 0, SEEK_SET) != 0 || dup2(fd, 0) != 0) abort();
    };
    from_start();
    char as[] = "--as", digits[] = "digits", dash[] = "-", o[] = "-o", null[] = "/dev/null",
         raw[] = "--raw", rate[] = "8000";
    char *decode[] = {dash, as, digits, o, null, raw, rate};
    int status = cmd_decode(size % 2 ? 7 : 5, decode);
    if (status != CLI_OK && status != CLI_BAD_INPUT) abort();

    from_start();
    char dir[] = "--dir", entry[] = "1111=true", in[] = "--in", out[] = "--out", t[] = "--timeout",
         one[] = "1";
    char *serve[] = {dir, entry, in, dash, out, null, t, one};
    status = cmd_serve(8, serve, "fuzz");
    if (status != CLI_OK && status != CLI_BAD_INPUT) abort();
    return 0;
}
