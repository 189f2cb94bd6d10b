#include "platform/platform.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <dlfcn.h>
#include <pthread.h>
#include <string>
#include <climits>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static_assert(sizeof(pthread_mutex_t) <= sizeof(PlatformLock::storage), "lock storage");

static pthread_mutex_t* AsMutex(PlatformLock* lock) {
    return reinterpret_cast<pthread_mutex_t*>(lock->storage);
}

void LockCreate(PlatformLock* lock) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(AsMutex(lock), &attr);
    pthread_mutexattr_destroy(&attr);
}

void LockDestroy(PlatformLock* lock) { pthread_mutex_destroy(AsMutex(lock)); }
void LockEnter(PlatformLock* lock) { pthread_mutex_lock(AsMutex(lock)); }
void LockLeave(PlatformLock* lock) { pthread_mutex_unlock(AsMutex(lock)); }

uint32_t TickCount() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

uint32_t PreciseTickCount() {
    return TickCount(); // the monotonic clock counts every millisecond
}

static std::atomic<DebugOutputListener> debugListener{nullptr};

void DebugOutput(const wchar_t* text) {
    std::fprintf(stderr, "%ls", text);
    DebugOutputListener listener = debugListener.load();
    if (listener != nullptr) {
        listener(text);
    }
}

void SetDebugOutputListener(DebugOutputListener listener) { debugListener.store(listener); }

// wchar_t is UTF-32 here; the file system takes UTF-8.
static std::string ToUtf8(const wchar_t* text) {
    std::string out;
    for (; *text != L'\0'; ++text) {
        uint32_t c = static_cast<uint32_t>(*text);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void* ModuleLoad(const wchar_t* path) {
    // dlopen("") hands back the running program itself; LoadLibraryW(L"") loads nothing.
    if (path == nullptr || *path == L'\0') {
        return nullptr;
    }
    return dlopen(ToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* ModuleSymbol(void* module, const char* name) {
    return module != nullptr ? dlsym(module, name) : nullptr;
}

void ModuleFree(void* module) {
    if (module != nullptr) {
        dlclose(module);
    }
}

std::FILE* FileOpenUtf8(const char* path, const char* mode) { return std::fopen(path, mode); }
bool FileReplaceUtf8(const char* from, const char* to) { return std::rename(from, to) == 0; }
bool FileRemoveUtf8(const char* path) { return std::remove(path) == 0; }

void HardenLibrarySearch() {}

void RunAtAudioPriority() {}

OutputKind ClassifyOutputUtf8(const char* path, std::string& finalPath) {
    finalPath = path;
    struct stat info;
    if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* real = realpath(path, nullptr)) {
            finalPath = real;
            std::free(real);
        } else { // a link to a file not made yet: where it points, from the link's folder
            char target[PATH_MAX];
            const ssize_t n = readlink(path, target, sizeof target - 1);
            if (n > 0) {
                target[n] = '\0';
                const std::string link = path;
                const size_t slash = link.rfind('/');
                finalPath = target[0] == '/' || slash == std::string::npos
                                ? std::string(target)
                                : link.substr(0, slash + 1) + target;
            }
        }
    }
    if (stat(finalPath.c_str(), &info) != 0) {
        return OutputKind::File;
    }
    if (S_ISDIR(info.st_mode)) {
        return OutputKind::Directory;
    }
    return S_ISREG(info.st_mode) ? OutputKind::File : OutputKind::Stream;
}

