// Loading, acceptance, sizing and unloading against the real test effects, checked by the
// exact calls each effect logged: a refusal shows in the step at which the calls stop.
#include <algorithm>
#include <tuple>

#include "tests/support/sample_blocks.h"
#include "plugin/plugin_bridge.h"
#include "tests/core/fixtures.h"

namespace {

using PluginHostTest = EngineTest;

const Lines ATTACHED = {"attach", "entry VSTPluginMain"};
const Lines CLOSED = {Call(effMainsChanged, 0), Call(effClose), "detach"};
const int STEREO_BUFFERS[] = {0, 1, PLUGIN_OUTPUTS, PLUGIN_OUTPUTS + 1};

// What the host holds: an effect, its module, an editor, how many buffers.
std::tuple<bool, bool, bool, int> Held(const PluginHost& host) {
    const auto none = std::count(host.buffers, host.buffers + PLUGIN_BUFFER_COUNT, nullptr);
    return {host.effect != nullptr, host.module != nullptr, host.editorWindow != nullptr,
            PLUGIN_BUFFER_COUNT - static_cast<int>(none)};
}
const std::tuple<bool, bool, bool, int> NOTHING = {false, false, false, 0};

// Loaded while stopped: not sized. A start, and one with longer buffers, each suspends, tells
// and resumes; unloading keeps blockSize and blockSizeSent.
TEST_F(PluginHostTest, LoadOpensSizingSuspendsTellsAndResumesUnloadCloses) {
    Listen("copy_through");
    ASSERT_TRUE(LoadPlugin(host, TestPluginPath("copy_through").c_str(), 48000));
    Lines expected = ATTACHED + Lines{Call(effOpen), Call(effSetSampleRate, 0, "48000")};
    EXPECT_EQ(Log("copy_through"), expected);
    EXPECT_EQ(Held(host), std::make_tuple(true, true, false, 0));
    EXPECT_EQ(host.blockSizeSent, BLOCK_SIZE_NOT_SENT);
    for (int frames : {882, 2206}) {
        SetPluginBlockSize(host, frames);
        expected = expected + Lines{Call(effMainsChanged, 0), Call(effSetBlockSize, frames),
                                    Call(effMainsChanged, 1)};
    }
    EXPECT_EQ(Log("copy_through"), expected);
    for (int i : STEREO_BUFFERS) {
        ASSERT_NE(host.buffers[i], nullptr);
        EXPECT_EQ(std::count(host.buffers, host.buffers + i, host.buffers[i]), 0);
        host.buffers[i][2205] = 1.0f; // each holds blockSize floats (ASan checks the end)
    }
    EXPECT_EQ(Held(host), std::make_tuple(true, true, false, 4));
    UnloadPlugin(host);
    EXPECT_EQ(Log("copy_through"), expected + CLOSED);
    EXPECT_EQ(std::make_tuple(Held(host), host.blockSize, host.blockSizeSent),
              std::make_tuple(NOTHING, 2206u, 2206));
    SetPluginBlockSize(host, 300); // no effect: buffers only
    EXPECT_EQ(std::make_tuple(Held(host), host.blockSizeSent),
              std::make_tuple(std::make_tuple(false, false, false, 4), 2206));
}

// Each refused load also takes down the effect loaded before it, and leaves blockSizeSent.
TEST_F(PluginHostTest, RefusedEffectsStopAtTheStepThatRefusedThemOthersAreAccepted) {
    const std::pair<const char*, Lines> cases[] = {
        {"ch_65_2", ATTACHED + CLOSED}, // more inputs than any effect may have
        {"no_inputs", ATTACHED + CLOSED},
        {"no_outputs", ATTACHED + CLOSED},
        {"null_effect", ATTACHED + Lines{"detach"}},
        {"hollow", ATTACHED + Lines{"detach"}}, // no processReplacing (nor dispatcher)
        {"no_entry", {"attach", "detach"}},     // neither VSTPluginMain nor main exported
        {"missing", {}}};
    for (const auto& c : cases) {
        Listen("copy_through");
        ASSERT_TRUE(Load("copy_through"));
        SetPluginBlockSize(host, 64);
        Listen(c.first);
        EXPECT_FALSE(Load(c.first));
        EXPECT_EQ(Log(c.first), c.second) << c.first;
        const Lines before = Log("copy_through");
        EXPECT_EQ(Lines(before.end() - 3, before.end()), CLOSED) << c.first;
        EXPECT_EQ(std::make_tuple(Held(host), host.blockSizeSent), std::make_tuple(NOTHING, 64))
            << c.first;
    }
    EXPECT_EQ(ModuleLoad(L""), nullptr); // natively dlopen("") would be the test program
    EXPECT_EQ(
        std::make_tuple(LoadPlugin(host, L"", 44100), LoadPlugin(host, nullptr, 44100), Held(host)),
        std::make_tuple(false, false, NOTHING));
    Listen("main_only"); // "main" where there is no VSTPluginMain
    ASSERT_TRUE(Load("main_only"));
    EXPECT_EQ(Log("main_only")[1], "entry main");
    EXPECT_TRUE(Load("bad_magic")) << "whatever the magic number";
}

// A failed allocation of any of a stereo effect's four leaves none, and the bridge declines every
// block.
TEST_F(PluginHostTest, AFailedBufferAllocationKeepsNoBuffer) {
    static int allocations, failing;
    SetPluginBufferAllocator([](uint32_t count) -> float* {
        return ++allocations == failing ? nullptr : new float[count];
    });
    ASSERT_TRUE(Load("copy_through"));
    int16_t in[2 * 64] = {}, out[2 * 64] = {7};
    for (int n = 1; n <= 4; ++n) {
        allocations = 0, failing = n;
        SetPluginBlockSize(host, 64);
        EXPECT_EQ(Held(host), std::make_tuple(true, true, false, 0)) << "failed: " << n;
        EXPECT_FALSE(ProcessSamples(host, in, out, 64));
        EXPECT_EQ(out[0], 7);
    }
}

} // namespace
