// A fresh engine and an empty plug-in host for every test, and the test effects' logs.
#pragma once

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "plugin/effect_handle.h"
#include "plugin/plugin_host.h"
#include "tests/support/test_plugins.h"

using Lines = std::vector<std::string>;
using Samples = std::vector<int16_t>;

#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_SANITIZERS() GTEST_SKIP() << "the sanitizers own the fault signals"
#else
#define SKIP_UNDER_SANITIZERS() (void)0
#endif

// As at program start after the dialog's initialisation: unity gain and ratio, the blocks
// through an in-process host of the test's own while pluginActive is on.
class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetEngineState();
        LockCreate(&EngineLock);
        gain = pitchRatio = 1.0;
        SetBlockEffect(blockHandle);
    }
    void TearDown() override {
        SetBlockEffect(nullptr);
        CloseEffect(blockHandle);
        SetPluginBufferAllocator(nullptr);
        for (const std::string& path : listened) {
            RemovePluginLog(path);
        }
        LockDestroy(&EngineLock);
    }
    // The variant's log, emptied, for its next load.
    void Listen(const char* variant) {
        listened.push_back(TestPluginPathUtf8(variant));
        ASSERT_TRUE(StartPluginLog(listened.back())) << listened.back();
    }
    static Lines Log(const char* variant) { return ReadPluginLog(TestPluginPathUtf8(variant)); }
    bool Load(const char* name) { return LoadPlugin(host, TestPluginPath(name).c_str(), 44100); }
    // Starts run (a block) on a thread of its own and returns once the block is inside the
    // effect variant (a slow one), with the float buffers it holds: a give-up hands those over
    // to it for good, so the test frees them.
    template <class Run>
    std::thread InsideTheEffect(const char* variant, Run run, std::vector<float*>& held) {
        held = {host.buffers[0], host.buffers[1], host.buffers[PLUGIN_OUTPUTS],
                host.buffers[PLUGIN_OUTPUTS + 1]};
        std::thread block(run);
        while (Log(variant).back().rfind("process", 0) != 0) {
            std::this_thread::yield();
        }
        return block;
    }
    std::vector<std::string> listened;
    EffectHandle* blockHandle = OpenInProcessEffect();
    PluginHost& host = *InProcessHostOf(blockHandle);
};

inline Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
