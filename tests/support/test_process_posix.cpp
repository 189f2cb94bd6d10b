#include "tests/support/test_process.h"

#include <dirent.h>
#include <unistd.h>

std::string ProgramDirectory() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string full(path, n > 0 ? static_cast<size_t>(n) : 0);
    return full.substr(0, full.rfind('/'));
}

static long Entries(const char* folder) {
    long n = 0;
    DIR* dir = opendir(folder);
    while (dir != nullptr && readdir(dir) != nullptr) {
        ++n;
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    return n;
}

int CountThreads() {
    return static_cast<int>(Entries("/proc/self/task"));
}

long CountHandles() {
    return Entries("/proc/self/fd");
}
