#include <windows.h>

#include "plugin/plugin_host.h"

void CloseEditorWindow(void* window) {
    SendMessageW(static_cast<HWND>(window), WM_CLOSE, 0, EDITOR_CLOSED_BY_UNLOAD);
}

bool ResizeEditorWindow(void* window, int32_t width, int32_t height) {
    HWND editor = static_cast<HWND>(window);
    if (editor == nullptr || !IsWindow(editor) || width <= 0 || height <= 0) {
        return false;
    }
    RECT client;
    SetRect(&client, 0, 0, width, height);
    AdjustWindowRectEx(&client, static_cast<DWORD>(GetWindowLongW(editor, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(editor, GWL_EXSTYLE)));
    return SetWindowPos(editor, nullptr, 0, 0, client.right - client.left,
                        client.bottom - client.top, SWP_NOMOVE | SWP_NOZORDER) != FALSE;
}
