#include "tests/support/program_directory.h"

#include <unistd.h>

std::string ProgramDirectory() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string full(path, n > 0 ? static_cast<size_t>(n) : 0);
    return full.substr(0, full.rfind('/'));
}
