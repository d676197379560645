// Placeholder page: replaced when this page is built.
#include "shell/app.h"

HWND build_ref_tab(HWND page) { return page; }
