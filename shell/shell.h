/* The shell: the main window, start-up and message routing. Sits on top of
 * everything else; nothing below includes it. GUI thread only. */
#ifndef TESSARY_SHELL_H
#define TESSARY_SHELL_H

#include <windows.h>
#include <stdint.h>

/* WinMain's steps up to showing the window, without the message loop, so
 * that tests can build the real window and pump messages themselves.
 * Zero-fills g_app first. Returns the main window. */
HWND app_create_main_window(HINSTANCE instance, int show);
/* "<folder of path>\audio" into out (at most size bytes with the NUL). */
void audio_dir_from_module_path(const char *path, char *out, uint64_t size);
/* Keeps the callsign box to what goes on the air (the core's callsign_clean). */
void callsign_sanitise(HWND edit);
LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
void route_command(WPARAM wp, LPARAM lp);
void handle_command(int id, LPARAM lp);
void handle_hscroll(HWND control, WPARAM code);
void handle_app_digit(int32_t panel_id, int32_t digit);
void handle_app_meters(int32_t panel_id, int32_t row, int32_t col);

#endif
