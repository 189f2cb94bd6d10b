#include "settings/ini_path.h"

namespace {

const wchar_t INI_FILE_NAME[] = L"KaWUmi.ini";
constexpr size_t INI_FILE_NAME_LENGTH = sizeof(INI_FILE_NAME) / sizeof(INI_FILE_NAME[0]) - 1;

} // namespace

bool IniPathFromModulePath(const wchar_t* modulePath, wchar_t* out, size_t outUnits) {
    if (out == nullptr || outUnits == 0) {
        return false;
    }
    out[0] = L'\0';
    if (modulePath == nullptr) {
        return false;
    }
    // Keep the drive and the directory with its trailing separator.
    size_t keep = 0;
    if (modulePath[0] != L'\0' && modulePath[1] == L':') {
        keep = 2;
    }
    for (size_t i = 0; modulePath[i] != L'\0'; ++i) {
        if (modulePath[i] == L'\\' || modulePath[i] == L'/') {
            keep = i + 1;
        }
    }
    if (keep + INI_FILE_NAME_LENGTH + 1 > outUnits) {
        return false;
    }
    for (size_t i = 0; i < keep; ++i) {
        out[i] = modulePath[i];
    }
    for (size_t i = 0; i <= INI_FILE_NAME_LENGTH; ++i) {
        out[keep + i] = INI_FILE_NAME[i];
    }
    return true;
}
