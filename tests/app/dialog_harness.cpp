#include "tests/app/dialog_harness.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "audio/engine_state.h"
#include "plugin/plugin_host.h"
#include "res/resource.h"
#include "settings/command_line.h"
#include "settings/settings_store.h"

namespace {

std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L"\\/") + 1);
}

}  // namespace

void MainDialogTest::SetUp() {
    static bool controlsReady = false;
    if (!controlsReady) {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        controlsReady = true;
    }
    ResetEngineState();
    std::memset(slots, 0, sizeof slots);
    currentSlotIndex = 0;
    currentSlot = &slots[0];
    startInTray = false;
    appInstance = GetModuleHandleW(nullptr);
    iniPath = ExecutableFolder() + L"KaWUmi.ini";
    DeleteFileW(iniPath.c_str());
}

void MainDialogTest::TearDown() {
    if (dialog != nullptr) {
        CloseDialog();
    }
    DeleteFileW(iniPath.c_str());
}

void MainDialogTest::WriteSettings(const std::wstring& text) {
    HANDLE f = CreateFileW(iniPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    const wchar_t bom = 0xFEFF;
    DWORD written;
    WriteFile(f, &bom, 2, &written, nullptr);
    WriteFile(f, text.data(), static_cast<DWORD>(text.size() * 2), &written, nullptr);
    CloseHandle(f);
}

std::wstring MainDialogTest::ReadSettings() const {
    HANDLE f = CreateFileW(iniPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return L"";
    }
    std::string bytes(GetFileSize(f, nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty()) {
        ReadFile(f, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    }
    CloseHandle(f);
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    }
    return std::wstring(bytes.begin(), bytes.end());
}

void MainDialogTest::OpenDialog(int slot, bool inTray) {
    currentSlotIndex = slot;
    currentSlot = &slots[slot];
    startInTray = inTray;
    dialog = CreateDialogParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    if (!inTray) {
        ShowWindow(dialog, SW_SHOW);
    }
    Pump();
}

void MainDialogTest::Pump(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (dialog == nullptr || !IsDialogMessageW(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        Sleep(1);
    } while (GetTickCount() - start < ms);
}

void MainDialogTest::CloseDialog() {
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    DestroyWindow(dialog);
    dialog = nullptr;
    Pump(10);
}

std::wstring MainDialogTest::Text(int id) const {
    wchar_t text[512] = {};
    GetDlgItemTextW(dialog, id, text, 512);
    return text;
}

int MainDialogTest::SelectedIndex(int id) const {
    return static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0));
}

std::wstring MainDialogTest::SelectedText(int id) const {
    int index = SelectedIndex(id);
    if (index < 0) {
        return L"";
    }
    wchar_t text[256] = {};
    SendMessageW(Item(id), CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
}

void MainDialogTest::Command(int id, WORD code) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Item(id)));
}

void MainDialogTest::SelectSlot(int slot) {
    SendMessageW(Item(IDC_SLOT), CB_SETCURSEL, static_cast<WPARAM>(slot), 0);
    Command(IDC_SLOT, CBN_SELCHANGE);
}

SIZE MainDialogTest::WindowSize() const {
    RECT r;
    GetWindowRect(dialog, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

SIZE MainDialogTest::TemplateSize() const {
    RECT r = {0, 0, 229, 55};
    MapDialogRect(dialog, &r);
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)));
    return SIZE{r.right - r.left, r.bottom - r.top};
}
