// Placeholder page: replaced when this page is built.
#include "shell/app.h"

HWND build_img_enc_tab(HWND page) { return page; }
void imgenc_encode(void) {}
void imgenc_play(void) {}
void imgenc_save(void) {}
void imgenc_set_active_color(int32_t) {}
