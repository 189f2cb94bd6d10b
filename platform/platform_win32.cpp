#include "platform/platform.h"

#include <windows.h>

#include <atomic>
#include <string>

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(PlatformLock::storage), "lock storage");

static CRITICAL_SECTION* AsSection(PlatformLock* lock) {
    return reinterpret_cast<CRITICAL_SECTION*>(lock->storage);
}

void LockCreate(PlatformLock* lock) { InitializeCriticalSection(AsSection(lock)); }
void LockDestroy(PlatformLock* lock) { DeleteCriticalSection(AsSection(lock)); }
void LockEnter(PlatformLock* lock) { EnterCriticalSection(AsSection(lock)); }
void LockLeave(PlatformLock* lock) { LeaveCriticalSection(AsSection(lock)); }

uint32_t TickCount() { return GetTickCount(); }

static std::atomic<DebugOutputListener> debugListener{nullptr};

void DebugOutput(const wchar_t* text) {
    OutputDebugStringW(text);
    DebugOutputListener listener = debugListener.load();
    if (listener != nullptr) {
        listener(text);
    }
}

void SetDebugOutputListener(DebugOutputListener listener) { debugListener.store(listener); }

void* ModuleLoad(const wchar_t* path) {
    if (path == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(LoadLibraryW(path));
}

void* ModuleSymbol(void* module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void ModuleFree(void* module) {
    if (module != nullptr) {
        FreeLibrary(static_cast<HMODULE>(module));
    }
}

static std::wstring FromUtf8(const char* text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 0) {
        return std::wstring();
    }
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::FILE* FileOpenUtf8(const char* path, const char* mode) {
    return _wfopen(FromUtf8(path).c_str(), FromUtf8(mode).c_str());
}

bool FileReplaceUtf8(const char* from, const char* to) {
    return MoveFileExW(FromUtf8(from).c_str(), FromUtf8(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING) != 0;
}

bool FileRemoveUtf8(const char* path) { return DeleteFileW(FromUtf8(path).c_str()) != 0; }
