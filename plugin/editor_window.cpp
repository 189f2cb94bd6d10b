#include "plugin/editor_window.h"

#include "plugin/effect_dispatch.h"
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

// The effect in a host process of its own whose editor the window holds, or null for the
// in-process effect. Its window is the host process's, a child of ours; the host idles it.
EffectHandle* isolatedEffect = nullptr;

HWND EditorHandle() {
    return static_cast<HWND>(editorWindow);
}

void CallEditor(int32_t opcode, void* ptr) {
    CallDispatcher(effect, opcode, 0, ptr, 0.0f);
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

int RectWidth(const ERect& rect) {
    return static_cast<int>(rect.right) - static_cast<int>(rect.left);
}

int RectHeight(const ERect& rect) {
    return static_cast<int>(rect.bottom) - static_cast<int>(rect.top);
}

void SizeToEffect(HWND window) {
    ERect* rect = nullptr;
    CallEditor(effEditGetRect, &rect);
    if (rect == nullptr) {
        return; // no size given: the template's 100 x 100 dialog units stay
    }
    SizeClient(window, RectWidth(*rect), RectHeight(*rect));
}

// What the effect in its own process asked meanwhile: a new size is the window's; a change
// of its parameters is the owner's, which takes the state a restarted host gets.
void TakeIsolatedEvents(HWND window) {
    EffectEvent event;
    bool edited = false;
    while (isolatedEffect->takeEvent(isolatedEffect, &event)) {
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

// The host process creates the effect's window as a child of ours; without one, ours goes.
void OpenIsolatedEditor(HWND window) {
    ERect rect = {};
    if (!isolatedEffect->openEditor(isolatedEffect, window, &rect)) {
        DestroyWindow(window);
        return;
    }
    SizeClient(window, RectWidth(rect), RectHeight(rect));
}

void InitEditor(HWND window) {
    SetWindowTextW(window, L"Kawauso++");
    SetTimer(window, TIMER_EDITOR_IDLE, EDITOR_IDLE_MS, nullptr);
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAIN));
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    if (isolatedEffect != nullptr) {
        OpenIsolatedEditor(window);
        return;
    }
    if (effect == nullptr) {
        return;
    }
    CallEditor(effEditOpen, window);
    SizeToEffect(window);
}

void OnEditorTimer(HWND window) {
    if (isolatedEffect != nullptr) {
        TakeIsolatedEvents(window);
    } else {
        CallEditor(effEditIdle, nullptr);
    }
    // The owner reports a fault as its own timer does; at 20 ms, the user hears of it sooner.
    SendMessageW(GetWindow(window, GW_OWNER), WM_PLUGIN_FAULT_CHECK, 0, 0);
}

void OnEditorClose(HWND window) {
    if (isolatedEffect != nullptr && EffectCallUnderWay(isolatedEffect)) {
        // Refused now, the host would keep its editor open and never open it again.
        SetTimer(window, TIMER_EDITOR_CLOSE, EDITOR_IDLE_MS, nullptr);
        return;
    }
    KillTimer(window, TIMER_EDITOR_IDLE);
    KillTimer(window, TIMER_EDITOR_CLOSE);
    if (isolatedEffect != nullptr) {
        isolatedEffect->closeEditor(isolatedEffect);
        // What the user set in it is what a restarted host is to be given.
        SendMessageW(GetWindow(window, GW_OWNER), WM_EDITOR_CLOSED, 0, 0);
    } else {
        CallEditor(effEditClose, nullptr);
    }
    DestroyWindow(window);
}

} // namespace

void OpenEditor(HWND owner, EffectHandle* isolated) {
    if (IsWindow(EditorHandle())) {
        SetForegroundWindow(EditorHandle());
        return;
    }
    isolatedEffect = isolated;
    if (isolated == nullptr && (effect == nullptr || (effect->flags & effFlagsHasEditor) == 0)) {
        return;
    }
    EditorTemplate editorTemplate = {};
    editorTemplate.header.style = EDITOR_STYLE;
    editorTemplate.header.cx = 100;
    editorTemplate.header.cy = 100;
    HWND window = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), &editorTemplate.header,
                                             owner, EditorDialogProc, 0);
    editorWindow = IsWindow(window) ? window : nullptr; // gone again when it had no editor
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

INT_PTR CALLBACK EditorDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
    case WM_INITDIALOG:
        editorWindow = window; // before the effect's window is made: it may ask for a size
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
        OnEditorClose(window);
        break;
    case WM_DESTROY:
        editorWindow = nullptr;
        break;
    default:
        break;
    }
    return FALSE;
}
