// Reference page: its hand-written tables must agree with the tone plan and
// the letter code the program actually uses.
#include <gtest/gtest.h>
#include <map>
#include "tests/win/pages_kit.h"

struct Cell {
    RECT rc;
    std::string text;
};

static BOOL CALLBACK collect(HWND w, LPARAM lp)
{
    if (GetWindowLongPtrA(w, GWLP_USERDATA) != 4) return TRUE;
    Cell c;
    GetWindowRect(w, &c.rc);
    MapWindowPoints(NULL, GetParent(w), (POINT *)&c.rc, 2);
    c.text = kit_text(w);
    EXPECT_TRUE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    EXPECT_EQ(GetWindowLongA(w, GWL_STYLE) & SS_TYPEMASK, SS_CENTER);
    ((std::vector<Cell> *)lp)->push_back(c);
    return TRUE;
}

TEST(ReferencePage, TablesAgreeWithTheTonePlanAndLetterCode)
{
    shell_app();
    std::vector<Cell> cells;
    EnumChildWindows(g_app.pages[5], collect, (LPARAM)&cells);
    ASSERT_EQ(cells.size(), 28u);

    // Index the tone table by grid position; cells touch, 60 x 22 apart.
    std::map<std::pair<int, int>, std::string> tone;
    std::vector<Cell> letters;
    for (const Cell &c : cells) {
        if (c.rc.right - c.rc.left == 60) {
            EXPECT_EQ((c.rc.left - 14) % 60, 0);
            EXPECT_EQ((c.rc.top - 34) % 22, 0);
            tone[{(c.rc.top - 34) / 22, (c.rc.left - 14) / 60}] = c.text;
        } else {
            letters.push_back(c);
        }
    }
    ASSERT_EQ(tone.size(), 16u);
    for (int r = 1; r <= 3; r++)
        for (int col = 1; col <= 3; col++) {
            int row_hz = atoi(tone[{r, 0}].c_str());
            int col_hz = atoi(tone[{0, col}].c_str());
            int digit = dtmf_pair_to_digit(row_hz, col_hz);
            std::string want = digit < 0 ? "-" : std::string(1, (char)('0' + digit));
            EXPECT_EQ(tone[std::make_pair(r, col)], want) << row_hz << " + " << col_hz;
        }

    ASSERT_EQ(letters.size(), 12u);
    for (const Cell &top : letters) {
        if (top.rc.top != 158) continue;
        for (const Cell &code : letters)
            if (code.rc.top == 180 && code.rc.left == top.rc.left) {
                int32_t hi, lo;
                num_to_pair7(letter_to_num(top.text[0]), &hi, &lo);
                std::string want = {(char)('0' + hi), (char)('0' + lo)};
                EXPECT_EQ(code.text, want) << top.text;
            }
    }
}
