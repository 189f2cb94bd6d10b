#include "plugin/editor_window.h"

#include "plugin/effect_handle.h"
#include "plugin/plugin_host.h"
#include "plugin/vst2.h"
#include "res/resource.h"

namespace {

constexpr UINT_PTR TIMER_EDITOR_IDLE = 1;
constexpr UINT_PTR TIMER_EDITOR_CLOSE = 2; // a close asked while another call waited, again
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

// The effect whose editor the window holds. The effect's own window is a child of ours, made
// by this process or by the effect's host process, which then idles it itself.
EffectHandle* editorEffect = nullptr;
HWND editorDialog = nullptr; // ours, the effect's window inside it

HWND EditorHandle() {
    return editorDialog;
}

// The client area the effect asks for, at least 100 x 100 pixels; the top-left corner stays.
void SizeClient(HWND window, int width, int height) {
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

// What the effect asked meanwhile: a new size is the window's; a change of its parameters is
// the owner's, which takes the state a restarted host gets.
void TakeEditorEvents(HWND window) {
    EffectEvent event;
    bool edited = false;
    while (editorEffect->takeEvent(editorEffect, &event)) {
        if (event.kind == EffectEventKind::SizeWindow) {
            ResizeEditorWindow(window, event.width, event.height);
        } else {
            edited = true;
        }
    }
    if (edited) {
        PostMessageW(GetWindow(window, GW_OWNER), WM_EFFECT_EDITED, 0, 0);
    }
}

// The effect opens its window as a child of ours; without one, ours goes. An effect that named
// no size keeps the template's 100 x 100 dialog units.
void InitEditor(HWND window) {
    SetWindowTextW(window, L"Kawauso++");
    SetTimer(window, TIMER_EDITOR_IDLE, EDITOR_IDLE_MS, nullptr);
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAIN));
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ERect rect = {};
    if (!editorEffect->openEditor(editorEffect, window, &rect)) {
        DestroyWindow(window);
        return;
    }
    const int width = static_cast<int>(rect.right) - static_cast<int>(rect.left);
    const int height = static_cast<int>(rect.bottom) - static_cast<int>(rect.top);
    if (width != 0 || height != 0) {
        SizeClient(window, width, height);
    }
}

void OnEditorTimer(HWND window) {
    editorEffect->idleEditor(editorEffect);
    TakeEditorEvents(window);
    // The owner reports a fault as its own timer does; at 20 ms, the user hears of it sooner.
    SendMessageW(GetWindow(window, GW_OWNER), WM_PLUGIN_FAULT_CHECK, 0, 0);
}

void OnEditorClose(HWND window, bool byUnload) {
    if (EffectCallUnderWay(editorEffect) && !byUnload) {
        // Refused now, a host would keep its editor open and never open it again.
        SetTimer(window, TIMER_EDITOR_CLOSE, EDITOR_IDLE_MS, nullptr);
        return;
    }
    KillTimer(window, TIMER_EDITOR_IDLE);
    KillTimer(window, TIMER_EDITOR_CLOSE);
    editorEffect->closeEditor(editorEffect);
    // What the user set in it is what a restarted host is to be given.
    SendMessageW(GetWindow(window, GW_OWNER), WM_EDITOR_CLOSED, 0, 0);
    DestroyWindow(window);
}

} // namespace

void OpenEditor(HWND owner, EffectHandle* handle) {
    if (IsWindow(EditorHandle())) {
        SetForegroundWindow(EditorHandle());
        return;
    }
    if (handle == nullptr) {
        return;
    }
    editorEffect = handle;
    EditorTemplate editorTemplate = {};
    editorTemplate.header.style = EDITOR_STYLE;
    editorTemplate.header.cx = 100;
    editorTemplate.header.cy = 100;
    HWND window = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), &editorTemplate.header,
                                             owner, EditorDialogProc, 0);
    editorDialog = IsWindow(window) ? window : nullptr; // gone again when it had no editor
    ShowEditor(SW_SHOW);
}

void CloseEditor() {
    if (IsWindow(EditorHandle())) {
        SendMessageW(EditorHandle(), WM_CLOSE, 0, 0);
    }
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

INT_PTR CALLBACK EditorDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        editorDialog = window;
        InitEditor(window);
        break;
    case WM_TIMER:
        if (wParam == TIMER_EDITOR_CLOSE) {
            PostMessageW(window, WM_CLOSE, 0, 0);
        } else {
            OnEditorTimer(window);
        }
        break;
    case WM_CLOSE:
        OnEditorClose(window, lParam == EDITOR_CLOSED_BY_UNLOAD);
        break;
    case WM_DESTROY:
        editorDialog = nullptr;
        break;
    default:
        break;
    }
    return FALSE;
}
