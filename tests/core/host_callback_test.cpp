// The host's answers to an effect's questions: the two returned values, and the two answers
// given by calling the asking effect's own dispatcher, nested on the asking thread.
#include <climits>
#include <thread>
#include <vector>

#include "plugin/host_callback.h"
#include "plugin/plugin_bridge.h"
#include "tests/core/plugin_fixture.h"

namespace {

using HostCallbackTest = PluginTest;

// An asking record of the test's own, to see exactly which calls reach the asker.
struct ReceivedCall {
    AEffect* self;
    int32_t opcode;
    int32_t index;
    VstIntPtr value;
    void* ptr;
    float opt;
};
std::vector<ReceivedCall> received;

VstIntPtr VST_CALL RecordingDispatcher(AEffect* self, int32_t opcode, int32_t index,
                                       VstIntPtr value, void* ptr, float opt) {
    received.push_back({self, opcode, index, value, ptr, opt});
    return 77;  // never looked at
}

AEffect RecordingAsker() {
    AEffect asker{};
    asker.dispatcher = RecordingDispatcher;
    asker.numInputs = 2;
    asker.numOutputs = 2;
    return asker;
}

VstIntPtr Ask(AEffect* asker, int32_t opcode) {
    return HostCallback(asker, opcode, 0, 0, nullptr, 0.0f);
}

TEST_F(HostCallbackTest, ReturnedAnswers) {
    received.clear();
    AEffect asker = RecordingAsker();
    for (AEffect* who : {static_cast<AEffect*>(nullptr), &asker}) {
        EXPECT_EQ(Ask(who, audioMasterVersion), 2400);
        EXPECT_EQ(Ask(who, audioMasterGetCurrentProcessLevel), 2);
        for (int32_t other : {0, 2, 7, 15, 18, 22, 24, 100, -1, INT32_MIN, INT32_MAX}) {
            EXPECT_EQ(Ask(who, other), 0) << other;
        }
    }
    EXPECT_TRUE(received.empty());
}

TEST_F(HostCallbackTest, WithoutAnAskerTheRateAndSizeQuestionsCallNothing) {
    Listen("copy_through");
    ASSERT_TRUE(Load("copy_through"));
    SetPluginBlockSize(441);
    const Lines before = Log("copy_through");
    EXPECT_EQ(Ask(nullptr, audioMasterGetSampleRate), 0);
    EXPECT_EQ(Ask(nullptr, audioMasterGetBlockSize), 0);
    EXPECT_EQ(Log("copy_through"), before);  // not even the loaded effect is told
}

TEST_F(HostCallbackTest, TheSampleRateIsToldToTheAsker) {
    received.clear();
    AEffect asker = RecordingAsker();
    EXPECT_EQ(HostCallback(&asker, audioMasterGetSampleRate, 5, 99, &asker, 3.0f), 0);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].self, &asker);
    EXPECT_EQ(received[0].opcode, effSetSampleRate);
    EXPECT_EQ(received[0].index, 0);
    EXPECT_EQ(received[0].value, 0);
    EXPECT_EQ(received[0].ptr, nullptr);
    EXPECT_EQ(received[0].opt, 44100.0f);
}

TEST_F(HostCallbackTest, TheBlockSizeIsToldOnlyOnceOneWasSent) {
    received.clear();
    AEffect asker = RecordingAsker();
    for (int32_t notSent : {-1, 0, INT32_MIN}) {
        blockSizeSent = notSent;
        EXPECT_EQ(Ask(&asker, audioMasterGetBlockSize), 0);
    }
    EXPECT_TRUE(received.empty());

    blockSizeSent = 441;
    EXPECT_EQ(HostCallback(&asker, audioMasterGetBlockSize, 3, 1000, &asker, 1.0f), 0);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].opcode, effSetBlockSize);
    EXPECT_EQ(received[0].index, 0);
    EXPECT_EQ(received[0].value, 441);
    EXPECT_EQ(received[0].ptr, nullptr);
    EXPECT_EQ(received[0].opt, 0.0f);
}

TEST_F(HostCallbackTest, TheAskerIsAnsweredNotTheLoadedEffect) {
    Listen("copy_through");
    ASSERT_TRUE(Load("copy_through"));
    SetPluginBlockSize(441);
    const Lines before = Log("copy_through");
    received.clear();
    AEffect asker = RecordingAsker();
    Ask(&asker, audioMasterGetSampleRate);
    Ask(&asker, audioMasterGetBlockSize);
    EXPECT_EQ(received.size(), 2u);
    EXPECT_EQ(Log("copy_through"), before);

    Ask(effect, audioMasterGetBlockSize);  // the loaded effect asking for itself
    EXPECT_EQ(Log("copy_through").back(), DispatcherLine(effSetBlockSize, 441));
}

TEST_F(HostCallbackTest, AnAskerWithoutDispatcherIsNotCalled) {
    AEffect asker{};
    blockSizeSent = 441;
    EXPECT_EQ(Ask(&asker, audioMasterGetSampleRate), 0);
    EXPECT_EQ(Ask(&asker, audioMasterGetBlockSize), 0);
}

TEST_F(HostCallbackTest, TheProcessLevelIsRealTimeOnEveryThread) {
    VstIntPtr answer = -1;
    std::thread other([&answer] { answer = Ask(nullptr, audioMasterGetCurrentProcessLevel); });
    other.join();
    EXPECT_EQ(answer, 2);
}

// The questions an effect asks inside its entry point, effOpen and processReplacing, each
// answer nested inside the effect's own call on the thread that asked.
Lines AnswersInsideProcess(long long blockSizeTold) {
    Lines lines = {AskLine(audioMasterVersion, 2400),
                   DispatcherLine(effSetSampleRate, 0, "44100", true),
                   AskLine(audioMasterGetSampleRate, 0)};
    if (blockSizeTold > 0) {
        lines.push_back(DispatcherLine(effSetBlockSize, blockSizeTold, "0", true));
    }
    lines.push_back(AskLine(audioMasterGetBlockSize, 0));
    lines.push_back(AskLine(audioMasterGetCurrentProcessLevel, 2));
    lines.push_back(AskLine(7, 0));
    return lines;
}

TEST_F(HostCallbackTest, QuestionsFromInsideTheEffectAreAnsweredOnTheAskingThread) {
    Listen("asking");
    ASSERT_TRUE(Load("asking"));
    Lines expected = {"attach", "entry VSTPluginMain", AskLine(audioMasterVersion, 2400),
                      AskLine(audioMasterGetSampleRate, 0), DispatcherLine(effOpen)};
    for (const std::string& line : AnswersInsideProcess(0)) {  // nothing sent yet
        expected.push_back(line);
    }
    expected.push_back(DispatcherLine(effSetSampleRate, 0, "44100"));
    EXPECT_EQ(Log("asking"), expected);

    SetPluginBlockSize(441);
    expected.push_back(DispatcherLine(effMainsChanged, 0));
    expected.push_back(DispatcherLine(effSetBlockSize, 441));
    expected.push_back(DispatcherLine(effMainsChanged, 1));

    std::vector<int16_t> in(2 * 441, 1000), out(2 * 441, 0);
    ASSERT_TRUE(ProcessWithPlugin(in.data(), out.data(), 441));
    expected.push_back(ProcessLine(441));
    for (const std::string& line : AnswersInsideProcess(441)) {
        expected.push_back(line);
    }
    EXPECT_EQ(Log("asking"), expected);
    EXPECT_EQ(out[0], 1000);

    // The same from a thread of its own, as the audio thread runs it.
    bool processed = false;
    std::thread audio([&] {
        LockEnter(&EngineLock);
        processed = ProcessWithPlugin(in.data(), out.data(), 200);
        LockLeave(&EngineLock);
    });
    audio.join();
    EXPECT_TRUE(processed);
    expected.push_back(ProcessLine(200));
    for (const std::string& line : AnswersInsideProcess(441)) {
        expected.push_back(line);
    }
    EXPECT_EQ(Log("asking"), expected);
}

}  // namespace
