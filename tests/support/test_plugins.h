// The test effects built in tests/plugins/ and their call logs. The folder of the effects,
// relative to the program, comes from the program's build (TEST_PLUGIN_DIR_FROM_PROGRAM).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/program_directory.h"
#include "tools/kawauso-render/utf8_text.h"

#ifndef TEST_PLUGIN_DIR_FROM_PROGRAM
#error "the program's build must say where the test effects are"
#endif

#ifdef _WIN32
constexpr char PATH_SEPARATOR = '\\';
constexpr const char* MODULE_SUFFIX = ".dll";
#else
constexpr char PATH_SEPARATOR = '/';
constexpr const char* MODULE_SUFFIX = ".so";
#endif

inline std::string TestPluginDirectory() {
    std::string dir = ProgramDirectory() + PATH_SEPARATOR + TEST_PLUGIN_DIR_FROM_PROGRAM;
    for (char& c : dir) {
        if (c == '/' || c == '\\') {
            c = PATH_SEPARATOR;
        }
    }
    return dir;
}

// UTF-8 path of a variant's module, e.g. ".../tests/plugins/copy_through.so".
inline std::string TestPluginPathUtf8(const char* variant) {
    return TestPluginDirectory() + PATH_SEPARATOR + variant + MODULE_SUFFIX;
}

// The same path as LoadPlugin takes it.
inline std::wstring TestPluginPath(const char* variant) {
    return WideFromUtf8(TestPluginPathUtf8(variant));
}

// An effect logs to "<module path>.log", and only when that file exists as it is loaded.
inline std::string PluginLogPath(const std::string& modulePath) { return modulePath + ".log"; }

// Creates or empties the log, so that the module's next load writes to it. False on failure.
inline bool StartPluginLog(const std::string& modulePath) {
    std::FILE* file = FileOpenUtf8(PluginLogPath(modulePath).c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

inline void RemovePluginLog(const std::string& modulePath) {
    FileRemoveUtf8(PluginLogPath(modulePath).c_str());
}

// The lines written so far, without their line ends.
inline std::vector<std::string> ReadPluginLog(const std::string& modulePath) {
    std::vector<std::string> lines;
    std::FILE* file = FileOpenUtf8(PluginLogPath(modulePath).c_str(), "rb");
    if (file == nullptr) {
        return lines;
    }
    std::string line;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += static_cast<char>(c);
        }
    }
    std::fclose(file);
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}
