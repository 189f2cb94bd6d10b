#include "app/window_position.h"

void MoveToSavedPosition(HWND window, int x, int y) {
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    RECT titleBar;
    titleBar.left = x;
    titleBar.top = y;
    titleBar.right = x + width;
    titleBar.bottom = y + GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYFIXEDFRAME);
    if (MonitorFromRect(&titleBar, MONITOR_DEFAULTTONULL) == nullptr) {
        return;
    }
    MoveWindow(window, x, y, width, height, TRUE);
}
