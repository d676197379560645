// Reference page: a static crib sheet of the tone pairs and the letter code.
// The table texts are written out rather than computed so the sheet reads
// exactly as printed material would; they agree with the core's tone plan.
#include "tabs/tabs.h"

static const char *const TONE_TABLE[4][4] = {
    {"", "1209", "1336", "1477"},
    {"697", "1", "2", "3"},
    {"770", "4", "5", "6"},
    {"941", "-", "0", "-"},
};

static const char *const LETTER_SAMPLE[2][6] = {
    {"a", "b", "c", "e", "o", "z"},
    {"01", "02", "03", "05", "21", "35"},
};

static const char REF_NOTE[] =
    "Playback uses real DTMF frequencies limited to 0-6. Live decoding runs a Goertzel "
    "detector on the mic input -- hold the sending device's speaker close to the mic, away "
    "from other noise, and raise sensitivity if digits don't register. Each tone pair peaks "
    "at 0.88 of full scale.";

HWND mk_cell(HWND page, const char *text, int x, int y, int width) {
    HWND cell = CreateWindowExA(WS_EX_CLIENTEDGE, "STATIC", text, WS_CHILD | WS_VISIBLE | SS_CENTER,
                                x, y, width, 22, page, NULL, g_app.instance, NULL);
    SendMessageA(cell, WM_SETFONT, (WPARAM)g_app.font_small, TRUE);
    SetWindowLongPtrA(cell, GWLP_USERDATA, 4);
    return cell;
}

HWND build_ref_tab(HWND page) {
    RECT rc;
    GetClientRect(page, &rc);
    int w = rc.right - rc.left;

    mk_static(page, "TONE PAIRS", 14, 14, 200, 16, g_app.font_small, 1);
    // Cell pitch equals cell size so each table reads as one framed grid.
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) mk_cell(page, TONE_TABLE[r][c], 14 + 60 * c, 34 + 22 * r, 60);

    mk_static(page, "LETTER BASE-7 (sample)", 14, 138, 300, 16, g_app.font_small, 1);
    for (int r = 0; r < 2; r++)
        for (int c = 0; c < 6; c++)
            mk_cell(page, LETTER_SAMPLE[r][c], 14 + 48 * c, 158 + 22 * r, 48);

    mk_static(page, REF_NOTE, 14, 222, w - 28, 60, g_app.font_small, 1);
    return page;
}
