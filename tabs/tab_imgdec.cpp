// Placeholder page: replaced when this page is built.
#include "shell/app.h"

HWND build_img_dec_tab(HWND page) { return page; }
void imgdec_toggle_listen(void) {}
void imgdec_decode_file(void) {}
void imgdec_clear(void) {}
void imgdec_on_digit(int32_t) {}
void imgdec_on_meters(int32_t, int32_t) {}
