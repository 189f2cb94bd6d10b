// A fresh engine and an empty plug-in host for every test, the test effects' paths and
// logs, and the log lines a call is expected to produce.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "plugin/plugin_host.h"
#include "tests/core/engine_fixture.h"
#include "tests/support/test_plugins.h"

class PluginTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        UnloadPlugin();
        blockSize = 0;
        blockSizeSent = 0;
        editorWindow = nullptr;
    }
    void TearDown() override {
        UnloadPlugin();
        for (const std::string& path : listened) {
            RemovePluginLog(path);
        }
        EngineTest::TearDown();
    }

    // Switches the variant's log on (emptied) for its next load.
    void Listen(const char* variant) {
        const std::string path = TestPluginPathUtf8(variant);
        ASSERT_TRUE(StartPluginLog(path)) << path;
        listened.push_back(path);
    }
    std::vector<std::string> Log(const char* variant) {
        return ReadPluginLog(TestPluginPathUtf8(variant));
    }
    bool Load(const char* variant) { return LoadPlugin(TestPluginPath(variant).c_str(), 44100); }

private:
    std::vector<std::string> listened;
};

// "dispatcher ..." as the test effects log a call; opt as the effect prints it (%g).
inline std::string DispatcherLine(int opcode, long long value = 0, const char* opt = "0",
                                  bool nested = false, bool ptrSet = false) {
    char line[200];
    std::snprintf(line, sizeof line, "dispatcher opcode=%d index=0 value=%lld opt=%s ptr=%s nested=%d",
                  opcode, value, opt, ptrSet ? "set" : "null", nested ? 1 : 0);
    return line;
}

inline std::string ProcessLine(unsigned frames) {
    return "process frames=" + std::to_string(frames) + " ftz=1 daz=1";
}

inline std::string AskLine(int opcode, long long result) {
    return "ask opcode=" + std::to_string(opcode) + " result=" + std::to_string(result);
}

using Lines = std::vector<std::string>;
