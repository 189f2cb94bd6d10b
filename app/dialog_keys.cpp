#include "app/dialog_keys.h"

namespace {

constexpr int MAX_ROUTED = 4;
HWND routed[MAX_ROUTED] = {};
HHOOK keysHook = nullptr; // while any window is routed

LRESULT CALLBACK DialogKeysHook(int code, WPARAM removal, LPARAM message) {
    MSG* msg = reinterpret_cast<MSG*>(message);
    if (code == HC_ACTION && removal == PM_REMOVE && msg->message >= WM_KEYFIRST &&
        msg->message <= WM_KEYLAST) {
        for (HWND window : routed) {
            if (window != nullptr && (msg->hwnd == window || IsChild(window, msg->hwnd)) &&
                IsDialogMessageW(window, msg)) {
                msg->message = WM_NULL; // handled: the loop that removed it dispatches nothing
                break;
            }
        }
    }
    return CallNextHookEx(keysHook, code, removal, message);
}

} // namespace

void RouteDialogKeys(HWND window) {
    for (HWND& slot : routed) {
        if (slot == nullptr) {
            slot = window;
            break;
        }
    }
    if (keysHook == nullptr) {
        keysHook = SetWindowsHookExW(WH_GETMESSAGE, DialogKeysHook, nullptr, GetCurrentThreadId());
    }
}

void StopRoutingDialogKeys(HWND window) {
    bool any = false;
    for (HWND& slot : routed) {
        slot = slot == window ? nullptr : slot;
        any = any || slot != nullptr;
    }
    if (!any && keysHook != nullptr) {
        UnhookWindowsHookEx(keysHook);
        keysHook = nullptr;
    }
}
