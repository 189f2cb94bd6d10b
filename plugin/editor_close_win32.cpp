#include <windows.h>

#include "plugin/plugin_host.h"

void CloseEditorWindow(void* window) {
    SendMessageW(static_cast<HWND>(window), WM_CLOSE, 0, 0);
}
