#include <stdio.h>
#include <string.h>
#include "tabs/tabs.h"
#include <commdlg.h>
#include "tabs/pagefile.h"

/* The fields both dialogs share: owned by the main window, path in and out. */
static OPENFILENAMEA dialog_of(char *path, uint32_t size, const char *filter) {
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = g_app.main_wnd;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = path;
    ofn.nMaxFile = size;
    return ofn;
}

int ask_open_path(char *path, uint32_t size, const char *filter) {
    OPENFILENAMEA ofn = dialog_of(path, size, filter);
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    return GetOpenFileNameA(&ofn) ? 1 : 0;
}

int ask_save_path(char *path, uint32_t size, const char *filter, const char *def_ext,
                  int overwrite_prompt) {
    OPENFILENAMEA ofn = dialog_of(path, size, filter);
    ofn.lpstrDefExt = def_ext;
    ofn.Flags = overwrite_prompt ? OFN_OVERWRITEPROMPT : 0;
    return GetSaveFileNameA(&ofn) ? 1 : 0;
}

int32_t save_wav_reporting(const char *path, const SampleBuf *buf) {
    char msg[400];
    if (save_wav(path, buf) != 0) {
        snprintf(msg, sizeof msg, "Could not write the WAV file:\n%s", path);
        app_box(BOX_ERROR, "Save failed", msg);
        return -1;
    }
    snprintf(msg, sizeof msg, "Saved to %s", path);
    app_box(BOX_SAVED, "Saved", msg);
    return 0;
}
