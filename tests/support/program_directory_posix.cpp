#include "tests/support/program_directory.h"

#include <unistd.h>

std::string ProgramDirectory() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return ".";
    }
    std::string full(path, static_cast<size_t>(n));
    const size_t slash = full.rfind('/');
    return slash == std::string::npos ? std::string(".") : full.substr(0, slash);
}
