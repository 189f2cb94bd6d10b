#include "app/run_at_logon.h"

#include <cwchar>

#include "app/texts.h"
#include "res/resource.h"
#include "settings/settings_store.h"

const wchar_t RUN_ENTRY_NAME[] = L"Kawauso04";

namespace {

constexpr wchar_t RUN_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr DWORD PATH_UNITS = 32768; // the longest path Windows takes

std::wstring ThisExe() {
    std::wstring path(PATH_UNITS, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], PATH_UNITS);
    path.resize(length < PATH_UNITS ? length : 0);
    return path;
}

// The entry's command, empty when there is none (or it is no text).
std::wstring ReadEntry() {
    std::wstring command(PATH_UNITS + 64, L'\0');
    DWORD bytes = static_cast<DWORD>(command.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_ENTRY_NAME, RRF_RT_REG_SZ, nullptr,
                     &command[0], &bytes) != ERROR_SUCCESS) {
        return L"";
    }
    command.resize(wcsnlen(command.c_str(), command.size()));
    return command;
}

void ShowCheck(HWND window) {
    CheckMenuItem(GetSystemMenu(window, FALSE), ID_RUN_AT_LOGON,
                  MF_BYCOMMAND | (RunAtLogonPointsHere() ? MF_CHECKED : MF_UNCHECKED));
}

} // namespace

std::wstring RunAtLogonCommand(int slot) {
    return L"\"" + ThisExe() + L"\" -t -p" + std::to_wstring(slot);
}

bool RunAtLogonPointsHere() {
    const std::wstring command = ReadEntry();
    const std::wstring exe = ThisExe();
    // "<exe>" and the options: the quoted path alone says which program starts.
    return !exe.empty() && command.size() > exe.size() + 2 && command[0] == L'"' &&
           command[exe.size() + 1] == L'"' &&
           CompareStringOrdinal(command.c_str() + 1, static_cast<int>(exe.size()), exe.c_str(),
                                static_cast<int>(exe.size()), TRUE) == CSTR_EQUAL;
}

void AddRunAtLogonItem(HWND window) {
    AppendMenuW(GetSystemMenu(window, FALSE), MF_STRING, ID_RUN_AT_LOGON,
                Text(TEXT_RUN_AT_LOGON_ITEM));
    ShowCheck(window);
}

INT_PTR ToggleRunAtLogon(HWND window) {
    if (RunAtLogonPointsHere()) {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_ENTRY_NAME);
    } else {
        const std::wstring command = RunAtLogonCommand(currentSlotIndex);
        RegSetKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_ENTRY_NAME, REG_SZ, command.c_str(),
                        static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    }
    ShowCheck(window);
    return TRUE;
}
