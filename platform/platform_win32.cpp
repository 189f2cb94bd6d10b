#include "platform/platform.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
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

// No lock and, on current Windows, no call into the kernel: the block lane reads it on the
// audio thread.
uint32_t PreciseTickCount() {
    LARGE_INTEGER now, perSecond;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&perSecond);
    const int64_t frequency = perSecond.QuadPart;
    const int64_t ms =
        now.QuadPart / frequency * 1000 + now.QuadPart % frequency * 1000 / frequency;
    return static_cast<uint32_t>(ms);
}

static std::atomic<DebugOutputListener> debugListener{nullptr};

void DebugOutput(const wchar_t* text) {
    OutputDebugStringW(text);
    DebugOutputListener listener = debugListener.load();
    if (listener != nullptr) {
        listener(text);
    }
}

void SetDebugOutputListener(DebugOutputListener listener) { debugListener.store(listener); }

void HardenLibrarySearch() {
    SetDllDirectoryW(L"");
}

void RunAtAudioPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

void* ModuleLoad(const wchar_t* path) {
    if (path == nullptr || path[0] == L'\0') {
        return nullptr;
    }
    // The altered search needs a full path: its folder is where the module's helpers are.
    const DWORD units = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (units == 0) {
        return nullptr;
    }
    std::wstring full(units, L'\0');
    if (GetFullPathNameW(path, units, &full[0], nullptr) == 0) {
        return nullptr;
    }
    return reinterpret_cast<void*>(
        LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
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

namespace {

const wchar_t PIPE_PREFIX[] = L"\\\\.\\pipe\\";
const wchar_t LONG_PATH_PREFIX[] = L"\\\\?\\";

std::string ToUtf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        return std::string();
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

// Where a link leads; the path itself when that cannot be told.
std::wstring FinalPath(const std::wstring& path) {
    HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return path;
    }
    wchar_t final[MAX_PATH * 4];
    const DWORD units = GetFinalPathNameByHandleW(file, final, MAX_PATH * 4, FILE_NAME_NORMALIZED);
    CloseHandle(file);
    if (units == 0 || units >= MAX_PATH * 4) {
        return path;
    }
    std::wstring result = final;
    const size_t prefix = std::wcslen(LONG_PATH_PREFIX);
    return result.compare(0, prefix, LONG_PATH_PREFIX) == 0 ? result.substr(prefix) : result;
}

} // namespace

OutputKind ClassifyOutputUtf8(const char* path, std::string& finalPath) {
    std::wstring wide = FromUtf8(path);
    finalPath = path;
    if (_wcsnicmp(wide.c_str(), PIPE_PREFIX, std::wcslen(PIPE_PREFIX)) == 0) {
        return OutputKind::Stream; // opened only to write: a look would take a pipe's client slot
    }
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        wide = FinalPath(wide);
        finalPath = ToUtf8(wide);
        attributes = GetFileAttributesW(wide.c_str());
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return OutputKind::Directory;
    }
    HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return OutputKind::File; // a new file
    }
    const DWORD type = GetFileType(file);
    CloseHandle(file);
    return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE ? OutputKind::Stream : OutputKind::File;
}
