// Memory shared between two processes under a name: the caller makes it, its host process
// opens it by the name it is given.
#pragma once

#include <cstddef>
#include <cstdint>

struct SharedMemory {
    void* address = nullptr;
    size_t bytes = 0;
    intptr_t handle = 0; // Windows: the mapping
};

// name: letters, digits and '-' only. Create makes new zeroed memory (false if the name is
// taken); Open maps memory made under name, which must hold at least bytes.
bool SharedMemoryCreate(SharedMemory* memory, const char* name, size_t bytes);
bool SharedMemoryOpen(SharedMemory* memory, const char* name, size_t bytes);
// Takes the name away once both sides hold the memory, so nothing is left behind by a process
// that dies (POSIX; on Windows the name goes with the last handle).
void SharedMemoryRemoveName(const char* name);
void SharedMemoryClose(SharedMemory* memory);
