/* driver -- drives a running Tessary.exe from another Windows process the way
 * a user would: start it, reach controls, type, click (drv_click returns when
 * the click is handled; drv_click_async is for buttons that open a dialog or
 * a box), pick tabs, move sliders, wait for texts, answer message boxes and
 * file dialogs, close it (WM_CLOSE; killed if it hangs).
 *
 * Every wait is bounded by the caller's time-out and returns 0/null when it
 * runs out. Texts are read with WM_GETTEXT, which Windows (and Wine) copies
 * across processes; WM_NOTIFY is not copied, so tabs are switched with the
 * tab strip's own keyboard handling, which notifies its parent itself.
 */
#ifndef TESSARY_E2E_DRIVER_H
#define TESSARY_E2E_DRIVER_H

#include <windows.h>
#include <string>
#include <vector>

enum {
    DRV_TAB_TX,
    DRV_TAB_IMGENC,
    DRV_TAB_RX,
    DRV_TAB_IMGDEC,
    DRV_TAB_HEX,
    DRV_TAB_REF,
    DRV_TAB_SERVER,
    DRV_HEADER = -1 /* drv_item: a control of the main window's header */
};

struct DrvApp {
    PROCESS_INFORMATION pi;
    HWND main;
};

/* 1 once the main window shows. The program dies with the test process. */
int drv_start(DrvApp *app, const char *exe_path, DWORD timeout_ms);
/* Returns the exit code, or -1 when it had to be killed. */
int drv_close(DrvApp *app, DWORD timeout_ms);

HWND drv_page(const DrvApp *app, int tab);
HWND drv_item(const DrvApp *app, int tab, int id);
/* All children of a class (null: any) in creation order: for the grids
 * and swatches, which have no id. */
std::vector<HWND> drv_children(HWND parent, const char *cls);
int drv_select_tab(const DrvApp *app, int tab);

std::string drv_window_text(HWND w);
void drv_set_text(HWND w, const char *text);
void drv_click(HWND button);
void drv_click_async(HWND button);
/* Moves a trackbar and tells its parent as a drag of the thumb would. */
void drv_set_trackbar(HWND bar, int pos);

/* Waits until the text equals `expected`, or only starts with it. */
int drv_wait_text(HWND w, const char *expected, DWORD timeout_ms, bool prefix = false);
void drv_pump(DWORD ms); /* sleeps while keeping this thread's queue alive */

/* A dialog window (#32770) of the program with this title (null: any). */
HWND drv_find_box(const DrvApp *app, const char *title, DWORD timeout_ms);
std::string drv_box_message(HWND box);
void drv_close_box(HWND box);
/* Fills the open or save dialog the program shows and confirms it. */
int drv_file_dialog(const DrvApp *app, const char *path, DWORD timeout_ms);

/* "/tmp/x.wav" -> "Z:\tmp\x.wav"; Windows paths are returned unchanged. */
std::string drv_win_path(const char *path);

#endif
