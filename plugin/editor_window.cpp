#include "plugin/editor_window.h"

#include "plugin/effect_dispatch.h"
#include "plugin/plugin_host.h"
#include "plugin/vst2.h"
#include "res/resource.h"

namespace {

constexpr UINT_PTR TIMER_EDITOR_IDLE = 1;
constexpr UINT EDITOR_IDLE_MS = 20;
constexpr int MIN_EDITOR_PIXELS = 100;

// A dialog template with no items, menu, class or title; the title is set at
// initialisation.
struct alignas(4) EditorTemplate {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    WORD title;
};

constexpr DWORD EDITOR_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
static_assert(EDITOR_STYLE == 0x80C80880, "editor window style");

HWND EditorHandle() {
    return static_cast<HWND>(editorWindow);
}

void CallEditor(int32_t opcode, void* ptr) {
    CallDispatcher(effect, opcode, 0, ptr, 0.0f);
}

void SizeToEffect(HWND window) {
    ERect* rect = nullptr;
    CallEditor(effEditGetRect, &rect);
    if (rect == nullptr) {
        return; // no size given: the template's 100 x 100 dialog units stay
    }
    int width = static_cast<int>(rect->right) - static_cast<int>(rect->left);
    int height = static_cast<int>(rect->bottom) - static_cast<int>(rect->top);
    if (width < MIN_EDITOR_PIXELS) {
        width = MIN_EDITOR_PIXELS;
    }
    if (height < MIN_EDITOR_PIXELS) {
        height = MIN_EDITOR_PIXELS;
    }
    RECT client;
    SetRect(&client, 0, 0, width, height);
    AdjustWindowRectEx(&client, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)));
    SetWindowPos(window, HWND_TOP, 0, 0, client.right - client.left, client.bottom - client.top,
                 SWP_NOMOVE);
}

void InitEditor(HWND window) {
    SetWindowTextW(window, L"Kawauso++");
    SetTimer(window, TIMER_EDITOR_IDLE, EDITOR_IDLE_MS, nullptr);
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAIN));
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    if (effect == nullptr) {
        return;
    }
    CallEditor(effEditOpen, window);
    SizeToEffect(window);
}

} // namespace

void OpenEditor(HWND owner) {
    if (effect == nullptr || (effect->flags & effFlagsHasEditor) == 0) {
        return;
    }
    if (IsWindow(EditorHandle())) {
        SetForegroundWindow(EditorHandle());
        return;
    }
    EditorTemplate editorTemplate = {};
    editorTemplate.header.style = EDITOR_STYLE;
    editorTemplate.header.cx = 100;
    editorTemplate.header.cy = 100;
    HWND window = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), &editorTemplate.header,
                                             owner, EditorDialogProc, 0);
    editorWindow = window;
    ShowEditor(SW_SHOW);
}

bool EditorIsOpen() {
    return IsWindow(EditorHandle()) != FALSE;
}

void ShowEditor(int showCommand) {
    if (IsWindow(EditorHandle())) {
        ShowWindow(EditorHandle(), showCommand);
        UpdateWindow(EditorHandle());
    }
}

INT_PTR CALLBACK EditorDialogProc(HWND window, UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    switch (message) {
    case WM_INITDIALOG:
        InitEditor(window);
        break;
    case WM_TIMER:
        CallEditor(effEditIdle, nullptr);
        // The owner reports a fault as its own timer does; at 20 ms, the user hears of it sooner.
        SendMessageW(GetWindow(window, GW_OWNER), WM_PLUGIN_FAULT_CHECK, 0, 0);
        break;
    case WM_CLOSE:
        KillTimer(window, TIMER_EDITOR_IDLE);
        CallEditor(effEditClose, nullptr);
        DestroyWindow(window);
        break;
    case WM_DESTROY:
        editorWindow = nullptr;
        break;
    default:
        break;
    }
    return FALSE;
}
