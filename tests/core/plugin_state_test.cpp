// A kept state goes back to the effect it came from: a chunk through effSetChunk, parameters
// one by one; a damaged state, or one of another effect or version, is refused with nothing
// called.
#include "plugin/plugin_state.h"
#include "tests/core/fixtures.h"

namespace {

class PluginStateTest : public EngineTest {
  protected:
    std::vector<uint8_t> Captured(const char* variant) {
        std::vector<uint8_t> state;
        EXPECT_TRUE(Load(variant)) << variant;
        EXPECT_TRUE(CaptureEffectState(host, state)) << variant;
        UnloadPlugin(host);
        return state;
    }
};

TEST_F(PluginStateTest, AStateComesBackToItsOwnEffectOnly) {
    const std::vector<uint8_t> chunk = Captured("chunk_state");
    Listen("chunk_state");
    ASSERT_TRUE(Load("chunk_state"));
    EXPECT_EQ(RestoreEffectState(host, chunk), StateRestore::Restored);
    EXPECT_EQ(Log("chunk_state").back(), "chunk received chunk-state-as-left");

    ASSERT_TRUE(Load("param_state"));
    host.effect->setParameter(host.effect, 1, 0.125f); // the user turned a knob
    std::vector<uint8_t> parameters;
    ASSERT_TRUE(CaptureEffectState(host, parameters));
    UnloadPlugin(host);
    Listen("param_state");
    ASSERT_TRUE(Load("param_state"));
    EXPECT_EQ(RestoreEffectState(host, parameters), StateRestore::Restored);
    const Lines log = Log("param_state");
    EXPECT_EQ(Lines(log.end() - 3, log.end()),
              (Lines{"parameter 0=0.25", "parameter 1=0.125", "parameter 2=0.75"}));

    std::vector<uint8_t> otherVersion = parameters, cut = parameters, longer = parameters;
    otherVersion[12] ^= 1;
    cut.pop_back();
    longer.push_back(0);
    const std::pair<std::vector<uint8_t>, StateRestore> refused[] = {
        {chunk, StateRestore::NotThisEffect},
        {otherVersion, StateRestore::NotThisEffect},
        {cut, StateRestore::Damaged},
        {longer, StateRestore::Damaged},
        {std::vector<uint8_t>(parameters.begin(), parameters.begin() + 23), StateRestore::Damaged},
        {std::vector<uint8_t>(64, 'K'), StateRestore::Damaged}};
    for (const auto& r : refused) {
        EXPECT_EQ(RestoreEffectState(host, r.first), r.second) << r.first.size();
    }
    EXPECT_EQ(Log("param_state").size(), log.size()) << "a refused state reached the effect";
}

} // namespace
