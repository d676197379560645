/* driver -- drives a running Tessary.exe from another Windows process the way
 * a user would: start it, find its window, reach controls by id, type, click,
 * pick tabs, move sliders, wait for texts, answer message boxes and file
 * dialogs, and close it. Used by the end-to-end tests under Wine.
 *
 * Usage
 *   DrvApp app;
 *   if (!drv_start(&app, exe_path, 20000)) fail;      // exe_path Unix or Windows
 *   drv_select_tab(&app, DRV_TAB_TX);
 *   drv_set_text(drv_item(&app, DRV_TAB_TX, IDC_TX_TEXT_EDIT), "hello");
 *   drv_click(drv_item(&app, DRV_TAB_TX, IDC_TX_ENCODE));     // returns when done
 *   drv_click_async(button)      // for buttons that open a modal dialog or box
 *   drv_file_dialog(&app, "Z:\\tmp\\a.wav", 10000)             // fill it, press OK
 *   HWND box = drv_find_box(&app, "Decode error", 10000);
 *   drv_window_text(box) / drv_box_message(box); drv_close_box(box);
 *   drv_wait_text(label, "Listening...", 5000)                // polls
 *   drv_close(&app, 10000)       // WM_CLOSE, waits; kills it if it hangs
 *
 * Every wait is bounded by the caller's time-out and returns 0/null when it
 * runs out. Texts are read with WM_GETTEXT, which Windows (and Wine) copies
 * across processes; WM_NOTIFY is not copied, so tabs are switched with the
 * tab strip's own keyboard handling, which notifies its parent itself.
 */
#ifndef TESSARY_E2E_DRIVER_H
#define TESSARY_E2E_DRIVER_H

#include <windows.h>
#include <stdint.h>
#include <string>

enum {
    DRV_TAB_TX = 0,
    DRV_TAB_IMGENC = 1,
    DRV_TAB_RX = 2,
    DRV_TAB_IMGDEC = 3,
    DRV_TAB_HEX = 4,
    DRV_TAB_REF = 5,
    DRV_TAB_SERVER = 6,
    DRV_HEADER = -1 /* drv_item: a control of the main window's header */
};

struct DrvApp {
    PROCESS_INFORMATION pi;
    HWND main;
};

/* ---- the program ---- */
int drv_start(DrvApp *app, const char *exe_path, DWORD timeout_ms);
/* The same with variables added to its environment: "NAME=value" lines
 * separated by '\n' (e.g. to take its sound server away). */
int drv_start_env(DrvApp *app, const char *exe_path, const char *extra_env, DWORD timeout_ms);
/* Closes the window and waits for the process; kills it after the time-out.
 * Returns the exit code, or -1 when it had to be killed. */
int drv_close(DrvApp *app, DWORD timeout_ms);
int drv_running(const DrvApp *app);

/* ---- windows and controls ---- */
HWND drv_page(const DrvApp *app, int tab);
HWND drv_item(const DrvApp *app, int tab, int id);
/* Controls without an id: the child of `parent` at a point of its client
 * area, and the value box of a readout by its caption ("DECODED TEXT"). */
HWND drv_child_at(HWND parent, int x, int y);
HWND drv_readout(const DrvApp *app, int tab, const char *caption);
int drv_select_tab(const DrvApp *app, int tab);
int drv_selected_tab(const DrvApp *app);
std::string drv_window_text(HWND w);
int drv_set_text(HWND w, const char *text);
void drv_click(HWND button);
void drv_click_async(HWND button);
int drv_checked(HWND checkbox);
/* Moves a trackbar and tells its parent as a drag of the thumb would. */
void drv_set_trackbar(HWND bar, int pos);
int drv_trackbar_pos(HWND bar);
int drv_progress_pos(HWND bar);
int drv_enabled(HWND w);
LONG_PTR drv_window_data(HWND w); /* the user-data slot: an LED's colour */

/* ---- waiting ---- */
int drv_wait_text(HWND w, const char *expected, DWORD timeout_ms);
/* Waits until the text starts with `prefix`. */
int drv_wait_text_prefix(HWND w, const char *prefix, DWORD timeout_ms);
/* Waits until the text stops changing for `quiet_ms`; returns it. */
std::string drv_wait_text_settled(HWND w, DWORD quiet_ms, DWORD timeout_ms);
void drv_pump(DWORD ms); /* sleeps while keeping this thread's queue alive */

/* ---- message boxes and dialogs ---- */
/* A dialog window (#32770) of the program with this title, or null. */
HWND drv_find_box(const DrvApp *app, const char *title, DWORD timeout_ms);
/* Any dialog window of the program, or null. */
HWND drv_find_any_box(const DrvApp *app, DWORD timeout_ms);
std::string drv_box_message(HWND box);
/* 1 when the box shows an icon (which icon cannot be told across processes). */
int drv_box_has_icon(HWND box);
void drv_close_box(HWND box);
/* Fills the open or save dialog that the program shows with `win_path` and
 * confirms it; waits until the dialog has gone. */
int drv_file_dialog(const DrvApp *app, const char *win_path, DWORD timeout_ms);

/* ---- paths ---- */
/* "/tmp/x.wav" -> "Z:\tmp\x.wav"; Windows paths are returned unchanged. */
std::string drv_win_path(const char *path);

#endif
