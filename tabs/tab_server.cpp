// Placeholder page: replaced when this page is built.
#include "shell/app.h"

HWND build_server_tab(HWND page) { return page; }
void servertab_filter_dir_in(void) {}
void servertab_on_text_in_change(void) {}
void servertab_send_click(void) {}
void servertab_stop_click(void) {}
void servertab_clear_click(void) {}
void servertab_on_tx_complete(void) {}
void servertab_on_digit(int32_t) {}
void servertab_on_meters(int32_t, int32_t) {}
