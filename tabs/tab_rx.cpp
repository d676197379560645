// Placeholder page: replaced when this page is built.
#include "shell/app.h"

HWND build_rx_tab(HWND page) { return page; }
void rx_toggle_listen(void) {}
void rx_decode_file(void) {}
void rx_clear(void) {}
void rx_on_digit(int32_t) {}
void rx_on_meters(int32_t, int32_t) {}
