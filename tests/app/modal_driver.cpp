#include "tests/app/modal_driver.h"

#include <algorithm>
#include <cwchar>

namespace {

constexpr UINT TICK_MS = 20;
constexpr int FORCED_END_TICKS = 250;  // about 5 s

ModalDriver* activeDriver = nullptr;  // thread timers carry no context of their own

struct OwnedSearch {
    HWND owner;
    const std::vector<HWND>* skip;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK MatchOwnedDialog(HWND window, LPARAM param) {
    OwnedSearch* search = reinterpret_cast<OwnedSearch*>(param);
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (GetWindow(window, GW_OWNER) == search->owner &&
        (!search->visibleOnly || IsWindowVisible(window)) &&
        std::wcscmp(className, L"#32770") == 0 &&
        std::find(search->skip->begin(), search->skip->end(), window) == search->skip->end()) {
        search->found.push_back(window);
    }
    return TRUE;
}

std::vector<HWND> OwnedDialogs(HWND owner, const std::vector<HWND>& skip, bool visibleOnly) {
    OwnedSearch search = {owner, &skip, visibleOnly, {}};
    EnumThreadWindows(GetCurrentThreadId(), MatchOwnedDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool IsIconStatic(HWND child) {
    return (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

bool IsStatic(HWND child) {
    wchar_t className[32] = {};
    GetClassNameW(child, className, 32);
    return _wcsicmp(className, L"Static") == 0;
}

BOOL CALLBACK CollectText(HWND child, LPARAM param) {
    if (IsStatic(child) && !IsIconStatic(child)) {
        reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(WindowTitle(child));
    }
    return TRUE;
}

BOOL CALLBACK FindIcon(HWND child, LPARAM param) {
    if (IsStatic(child) && IsIconStatic(child)) {
        *reinterpret_cast<HICON*>(param) =
            reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindOwnedDialog(HWND owner, const std::vector<HWND>& skip) {
    const std::vector<HWND> found = OwnedDialogs(owner, skip, true);
    return found.empty() ? nullptr : found.front();
}

std::vector<std::wstring> StaticTexts(HWND box) {
    std::vector<std::wstring> texts;
    EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

HICON BoxIcon(HWND box) {
    HICON icon = nullptr;
    EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&icon));
    return icon;
}

std::wstring WindowTitle(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

ModalDriver::ModalDriver(HWND owner, std::function<void(HWND, int)> action)
    : owner_(owner), existing_(OwnedDialogs(owner, {}, false)), action_(std::move(action)) {
    activeDriver = this;
    timer_ = SetTimer(nullptr, 0, TICK_MS, Tick);
}

ModalDriver::~ModalDriver() {
    KillTimer(nullptr, timer_);
    activeDriver = nullptr;
}

void CALLBACK ModalDriver::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (activeDriver != nullptr) {
        activeDriver->OnTick();
    }
}

void ModalDriver::OnTick() {
    HWND box = FindOwnedDialog(owner_, existing_);
    if (box == nullptr) {
        box_ = nullptr;
        return;
    }
    if (box != box_) {
        box_ = box;
        tick_ = 0;
        ++boxesSeen_;
    }
    if (tick_ >= FORCED_END_TICKS) {
        stuck_ = true;
        EndDialog(box, 0);
        return;
    }
    action_(box, tick_++);
}
