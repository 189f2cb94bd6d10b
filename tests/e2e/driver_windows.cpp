#include "tests/e2e/driver_windows.h"

#include <vector>

#include "tests/e2e/driver_output.h"

namespace {

constexpr int CAPTURE_LIST_ID = 1001; // IDC_WAVEIN: present only in the main window
constexpr size_t CLASS_CHARS = 256;
constexpr wchar_t DIALOG_CLASS[] = L"#32770";
constexpr wchar_t MENU_CLASS[] = L"#32768";
constexpr wchar_t MAIN_TITLE[] = L"Kawauso04";

struct TitleSearch {
    const std::wstring* title;
    bool wantMain;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM context) {
    TitleSearch* search = reinterpret_cast<TitleSearch*>(context);
    if (ClassOf(window) != DIALOG_CLASS || WindowText(window) != *search->title) {
        return TRUE;
    }
    const bool isMain = GetDlgItem(window, CAPTURE_LIST_ID) != nullptr;
    if (isMain != search->wantMain) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

struct MenuSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchMenu(HWND window, LPARAM context) {
    MenuSearch* search = reinterpret_cast<MenuSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && ClassOf(window) == MENU_CLASS) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindByTitle(const std::wstring& title, bool wantMain) {
    TitleSearch search{&title, wantMain, nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace

HWND FindMainWindow() {
    return FindByTitle(MAIN_TITLE, true);
}

HWND WaitMainWindow(DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        HWND main = FindMainWindow();
        if (main != nullptr || GetTickCount() - start >= timeoutMs) {
            return main;
        }
        Sleep(POLL_MS);
    }
}

bool WaitWindowGone(HWND window, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        Sleep(POLL_MS);
    }
    return true;
}

HWND FindDialogByTitle(const std::wstring& title) {
    return FindByTitle(title, false);
}

HWND WaitDialogByTitle(const std::wstring& title, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        HWND found = FindDialogByTitle(title);
        if (found != nullptr || GetTickCount() - start >= timeoutMs) {
            return found;
        }
        Sleep(POLL_MS);
    }
}

HWND FindPopupMenu(DWORD processId) {
    MenuSearch search{processId, nullptr};
    EnumWindows(MatchMenu, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ControlOf(HWND main, int id) {
    HWND control = GetDlgItem(main, id);
    if (control == nullptr) {
        Fail(L"no control with id " + Decimal(id));
    }
    return control;
}

std::wstring WindowText(HWND window) {
    LRESULT length = 0;
    if (!SendWithin(window, WM_GETTEXTLENGTH, 0, 0, &length) || length <= 0) {
        return L"";
    }
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT copied = 0;
    SendWithin(window, WM_GETTEXT, static_cast<WPARAM>(text.size()),
               reinterpret_cast<LPARAM>(text.data()), &copied);
    text.back() = L'\0';
    return text.data();
}

std::wstring ClassOf(HWND window) {
    wchar_t name[CLASS_CHARS] = L"";
    GetClassNameW(window, name, static_cast<int>(CLASS_CHARS));
    return name;
}

bool SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    DWORD_PTR value = 0;
    const LRESULT ok =
        SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, SEND_TIMEOUT_MS, &value);
    if (result != nullptr) {
        *result = static_cast<LRESULT>(value);
    }
    return ok != 0;
}
