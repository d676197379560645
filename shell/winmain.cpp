// Entry point: everything but the message loop lives in the app library.
#include "shell/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    // Without a window no WM_QUIT would ever come: end instead of idling unseen.
    if (!app_create_main_window(instance, show)) return 1;
    MSG msg = {};
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
