/* File steps shared by the image and hex pages. Each page action that needs
 * a file is a dialog step (ask_*_path) followed by a step that takes the
 * path, so the second can be driven without a dialog. GUI thread only. */
#ifndef TESSARY_PAGEFILE_H
#define TESSARY_PAGEFILE_H

#include <windows.h>
#include <stdint.h>
#include "core/dtmf_core.h"

/* Common open dialog owned by the main window; filter is a double-NUL list.
 * path (size >= 260) is the initial name and receives the choice. Returns 1
 * when a file was chosen, 0 on cancel. The file must exist. */
int ask_open_path(char *path, uint32_t size, const char *filter);

/* Common save dialog; def_ext may be null; overwrite_prompt asks before an
 * existing file is replaced. Returns 1 when a name was chosen. */
int ask_save_path(char *path, uint32_t size, const char *filter, const char *def_ext,
                  int overwrite_prompt);

/* save_wav, then tell the user either way: "Saved to %s" on success, an
 * error box naming the path when the file could not be written. 0 or -1. */
int32_t save_wav_reporting(const char *path, const SampleBuf *buf);

#endif
