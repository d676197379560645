// Placeholder page: replaced when this page is built.
#include "shell/app.h"

HWND build_hex_tab(HWND page) { return page; }
void hex_open_file_to_encode(void) {}
void hex_play(void) {}
void hex_save_audio(void) {}
void hex_toggle_listen(void) {}
void hex_decode_file(void) {}
void hex_clear(void) {}
void hex_save_to_file(void) {}
void hex_on_digit(int32_t) {}
void hex_on_meters(int32_t, int32_t) {}
