// The test effects built in tests/plugins/ and their call logs. Where the effects are,
// relative to the program, comes from the program's build (TEST_PLUGIN_DIR_FROM_PROGRAM).
#pragma once

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/test_process.h"
#include "tools/kawauso-render/utf8_text.h"

#ifdef _WIN32
constexpr char PATH_SEPARATOR = '\\';
constexpr const char* MODULE_SUFFIX = ".dll";
#else
constexpr char PATH_SEPARATOR = '/';
constexpr const char* MODULE_SUFFIX = ".so";
#endif

// A variant's module, ".../plugins/copy_through.so", in UTF-8 and as LoadPlugin takes it.
inline std::string TestPluginPathUtf8(const char* variant) {
    return ProgramDirectory() + PATH_SEPARATOR + TEST_PLUGIN_DIR_FROM_PROGRAM + PATH_SEPARATOR +
           variant + MODULE_SUFFIX;
}
inline std::wstring TestPluginPath(const char* variant) {
    return WideFromUtf8(TestPluginPathUtf8(variant));
}

// A dispatcher call as the test effects log it; opt as they print it (%g).
inline std::string Call(int opcode, long long value = 0, const char* opt = "0", int nested = 0,
                        const char* ptr = "null") {
    return "dispatcher opcode=" + std::to_string(opcode) +
           " index=0 value=" + std::to_string(value) + " opt=" + opt + " ptr=" + ptr +
           " nested=" + std::to_string(nested);
}

// An effect under an ASCII path logs to "<module path>.log" if that file exists as it is
// loaded: starting a log creates or empties it.
inline bool StartPluginLog(const std::string& modulePath) {
    return static_cast<bool>(std::ofstream(modulePath + ".log", std::ios::binary));
}
inline void RemovePluginLog(const std::string& modulePath) {
    std::remove((modulePath + ".log").c_str());
}
inline std::vector<std::string> ReadPluginLog(const std::string& modulePath) {
    std::ifstream file(modulePath + ".log", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Lines that begin with prefix.
inline int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    return int(std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}
