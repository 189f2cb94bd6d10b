#include "platform/shared_memory.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t NAME_CHARS = 96;

bool PosixName(const char* name, char (&out)[NAME_CHARS]) {
    const int n = std::snprintf(out, NAME_CHARS, "/%s", name);
    return n > 1 && static_cast<size_t>(n) < NAME_CHARS;
}

bool Map(SharedMemory* memory, int fd, size_t bytes) {
    void* address = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (address == MAP_FAILED) {
        return false;
    }
    memory->address = address;
    memory->bytes = bytes;
    return true;
}

} // namespace

bool SharedMemoryCreate(SharedMemory* memory, const char* name, size_t bytes) {
    *memory = SharedMemory{};
    char path[NAME_CHARS];
    if (!PosixName(name, path)) {
        return false;
    }
    const int fd = shm_open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    // Map closes the descriptor either way: only a failed sizing leaves it open here.
    const bool sized = ftruncate(fd, static_cast<off_t>(bytes)) == 0;
    if (!sized) {
        close(fd);
    }
    if (!sized || !Map(memory, fd, bytes)) {
        shm_unlink(path);
        return false;
    }
    return true;
}

bool SharedMemoryOpen(SharedMemory* memory, const char* name, size_t bytes) {
    *memory = SharedMemory{};
    char path[NAME_CHARS];
    if (!PosixName(name, path)) {
        return false;
    }
    const int fd = shm_open(path, O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || static_cast<size_t>(info.st_size) < bytes) {
        close(fd);
        return false;
    }
    return Map(memory, fd, bytes);
}

void SharedMemoryRemoveName(const char* name) {
    char path[NAME_CHARS];
    if (PosixName(name, path)) {
        shm_unlink(path);
    }
}

void SharedMemoryClose(SharedMemory* memory) {
    if (memory->address != nullptr) {
        munmap(memory->address, memory->bytes);
    }
    *memory = SharedMemory{};
}
