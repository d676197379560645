/* tessary-cli: entry point, command dispatch and option parsing. */
#include "cli/cli.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifndef TESSARY_VERSION
#define TESSARY_VERSION "unknown"
#endif

static void help_main(void) {
    fputs("Usage: tessary-cli COMMAND [OPTIONS] ...\n"
          "\n"
          "Sends and reads Tessary's DTMF tones (digits 0-6) as WAV files, or live.\n"
          "\n"
          "Commands:\n"
          "  encode   text, a file, an 8x8 image or a server request -> WAV\n"
          "  decode   WAV -> digits, text, hex bytes or an image grid\n"
          "  analyze  WAV -> tone levels over time as SVG, and a summary\n"
          "  listen   the recording device -> digits, text, hex or an image, as heard\n"
          "  play     what encode would write, played to the output device\n"
          "  serve    answers the Server page: runs a command per directory\n"
          "\n"
          "  tessary-cli COMMAND --help   options of one command\n"
          "  tessary-cli --version        program version\n"
          "\n"
          "Exit status: 0 ok, 1 bad input or nothing decoded, 2 usage error.\n",
          stdout);
}

static int run(int argc, char **argv) {
    if (argc < 2) {
        help_main();
        return CLI_USAGE;
    }
    const char *cmd = argv[1];
    if (strcmp(cmd, "--help") == 0 || strcmp(cmd, "-h") == 0) {
        help_main();
        return CLI_OK;
    }
    if (strcmp(cmd, "--version") == 0 || strcmp(cmd, "-V") == 0) {
        printf("tessary-cli %s\n", TESSARY_VERSION);
        return CLI_OK;
    }
    if (strcmp(cmd, "help") == 0) {
        const char *what = argc > 2 ? argv[2] : "";
        if (strcmp(what, "encode") == 0)
            help_encode();
        else if (strcmp(what, "decode") == 0)
            help_decode();
        else if (strcmp(what, "analyze") == 0)
            help_analyze();
        else if (strcmp(what, "listen") == 0)
            help_listen();
        else if (strcmp(what, "play") == 0)
            help_play();
        else if (strcmp(what, "serve") == 0)
            help_serve();
        else
            help_main();
        return CLI_OK;
    }
    if (strcmp(cmd, "encode") == 0) return cmd_encode(argc - 2, argv + 2, argv[0]);
    if (strcmp(cmd, "decode") == 0) return cmd_decode(argc - 2, argv + 2);
    if (strcmp(cmd, "analyze") == 0) return cmd_analyze(argc - 2, argv + 2);
    if (strcmp(cmd, "listen") == 0) return cmd_listen(argc - 2, argv + 2);
    if (strcmp(cmd, "play") == 0) return cmd_play(argc - 2, argv + 2, argv[0]);
    if (strcmp(cmd, "serve") == 0) return cmd_serve(argc - 2, argv + 2, argv[0]);
    fprintf(stderr, "tessary-cli: unknown command '%s' (see tessary-cli --help)\n", cmd);
    return CLI_USAGE;
}

int main(int argc, char **argv) {
    cli_binary_stdio();
    errno = 0;
    int status = run(argc, argv);
    /* A summary or help that never arrived is a failure, whatever was done
     * before it (a full disk shows only here). A command that failed has
     * said why already. */
    if (fflush(stdout) != 0 || ferror(stdout)) {
        if (status == CLI_OK || status == CLI_USAGE)
            fprintf(stderr, "tessary-cli: %s: <stdout>: cannot write: %s\n",
                    argc > 1 ? argv[1] : "help", errno ? strerror(errno) : "input/output error");
        if (status == CLI_OK) status = CLI_BAD_INPUT;
    }
    return status;
}
