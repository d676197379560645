// Placeholder page: replaced when this page is built.
#include "shell/app.h"

HWND build_tx_tab(HWND page) { return page; }
void tx_encode_text(void) {}
void tx_play(void) {}
void tx_save(void) {}
