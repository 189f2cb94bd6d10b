#include "platform/system_library.h"

#include <cwchar>

namespace {

constexpr UINT SYSTEM_PATH_UNITS = MAX_PATH;

} // namespace

HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t path[SYSTEM_PATH_UNITS];
    const UINT length = GetSystemDirectoryW(path, SYSTEM_PATH_UNITS);
    if (length == 0 || length + 1 + std::wcslen(name) >= SYSTEM_PATH_UNITS) {
        return nullptr;
    }
    std::wcscat(path, L"\\");
    std::wcscat(path, name);
    // A full path loads that file only; the altered search takes its own imports from its
    // folder, the system folder, before the program's.
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
