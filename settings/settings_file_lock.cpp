#include "settings/settings_file_lock.h"

#include <cstdint>
#include <cwchar>

#include "settings/settings_store.h"

namespace {

// Object names are limited to MAX_PATH units and may not contain "\" beyond the namespace, so
// the name carries a hash of the path instead of the path itself.
const wchar_t LOCK_NAME_PREFIX[] = L"Local\\Kawauso04-settings-";
constexpr int32_t HASH_DIGITS = 16;
constexpr int32_t LOCK_NAME_UNITS =
    static_cast<int32_t>(sizeof(LOCK_NAME_PREFIX) / sizeof(wchar_t)) + HASH_DIGITS;
const wchar_t HEX_DIGITS[] = L"0123456789ABCDEF";
constexpr uint64_t FNV_OFFSET = 14695981039346656037ull;
constexpr uint64_t FNV_PRIME = 1099511628211ull;
// A copy that stops while holding the lock (hung, or on a stalled network share) must not
// hang this one as well: after this long the file is used without the lock, as it was
// before there was one.
constexpr DWORD LOCK_WAIT_MS = 5000;

// FNV-1a over the path's units, upper-cased first because file names match in any case.
uint64_t HashPath(const wchar_t* path) {
    wchar_t upper[INI_PATH_UNITS];
    lstrcpynW(upper, path, INI_PATH_UNITS);
    const DWORD length = static_cast<DWORD>(std::wcslen(upper));
    CharUpperBuffW(upper, length);
    uint64_t hash = FNV_OFFSET;
    for (DWORD i = 0; i < length; ++i) {
        hash = (hash ^ static_cast<uint16_t>(upper[i])) * FNV_PRIME;
    }
    return hash;
}

void FormatLockName(const wchar_t* path, wchar_t (&name)[LOCK_NAME_UNITS]) {
    std::wcscpy(name, LOCK_NAME_PREFIX);
    wchar_t* digits = name + std::wcslen(LOCK_NAME_PREFIX);
    uint64_t hash = HashPath(path);
    for (int32_t i = HASH_DIGITS - 1; i >= 0; --i, hash >>= 4) {
        digits[i] = HEX_DIGITS[hash & 0xF];
    }
    digits[HASH_DIGITS] = L'\0';
}

} // namespace

HANDLE LockSettingsFile(const wchar_t* path) {
    if (path[0] == L'\0') {
        return nullptr;
    }
    wchar_t name[LOCK_NAME_UNITS];
    FormatLockName(path, name);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (mutex == nullptr) {
        return nullptr;
    }
    const DWORD waited = WaitForSingleObject(mutex, LOCK_WAIT_MS);
    // Abandoned: the holder ended inside its write. The mutex is ours now, and the file is
    // as it left it, which the profile functions read like any other.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return nullptr;
    }
    return mutex;
}

void UnlockSettingsFile(HANDLE lock) {
    if (lock != nullptr) {
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
}
