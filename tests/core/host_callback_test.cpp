// The host's answers to an effect's questions: two returned values, and two answers given by
// calling the asking effect's own dispatcher, nested on the asking thread.
#include <climits>
#include <memory>
#include <thread>

#include "tests/support/sample_blocks.h"
#include "plugin/host_callback.h"
#include "plugin/plugin_bridge.h"
#include "tests/core/fixtures.h"

namespace {

// Opcodes are written as the numbers the interface carries on the wire, never through the host's
// own declarations, so that a wrong number there shows here. Questions: 0 automate, 1 version,
// 13 IO changed, 15 size window, 16 sample rate, 17 block size, 23 process level, 34 vendor
// version, 38 language, 42 update display, 43/44 begin/end edit. Calls: 0 open, 10 sample rate,
// 11 block size, 12 suspend (0) or resume (1).
using HostCallbackTest = EngineTest;

std::vector<std::vector<double>> received; // opcode, index, value, ptr set, opt

VstIntPtr VST_CALL Record(AEffect*, int32_t op, int32_t at, VstIntPtr value, void* ptr, float opt) {
    received.push_back({1.0 * op, 1.0 * at, static_cast<double>(value), ptr ? 1.0 : 0.0, opt});
    return 77; // never looked at
}

std::string AskLine(int opcode, int result) {
    return "ask opcode=" + std::to_string(opcode) + " result=" + std::to_string(result);
}

// The effect asks in its entry point (no asker yet), in 0 and in every processReplacing,
// here on a thread of its own as the audio thread runs it. Another record asking gets the
// answers, and the loaded effect hears nothing.
TEST_F(HostCallbackTest, AnswersGoToTheAskerNestedOnTheAskingThread) {
    const auto answers = [](Lines blockSizeTold) {
        return Lines{AskLine(1, 2400), Call(10, 0, "44100", 1), AskLine(16, 0)} + blockSizeTold +
               Lines{AskLine(17, 0), AskLine(23, 2), AskLine(13, 0)};
    };
    Listen("asking");
    ASSERT_TRUE(Load("asking"));
    SetPluginBlockSize(host, 441);
    int16_t in[2 * 200] = {1000}, out[2 * 200] = {};
    std::thread([&] {
        LockEnter(&EngineLock);
        EXPECT_TRUE(ProcessSamples(host, in, out, 200));
        LockLeave(&EngineLock);
    }).join();
    EXPECT_EQ(out[0], 1000);
    const Lines expected =
        Lines{"attach", "entry VSTPluginMain", AskLine(1, 2400), AskLine(16, 0), Call(0)} +
        answers({}) + // no block size sent yet
        Lines{Call(10, 0, "44100"), Call(12, 0), Call(11, 441), Call(12, 1),
              "process frames=200 ftz=1 daz=1"} +
        answers({Call(11, 441, "0", 1)});
    EXPECT_EQ(Log("asking"), expected);
    // A record no host knows: outside any call the stream's rate only (no host told it a block
    // size); while a host calls into its effect on this thread, that host's block size too.
    AEffect asker{};
    asker.dispatcher = Record;
    for (bool inCall : {false, true}) {
        received.clear();
        std::unique_ptr<HostCallScope> calling(inCall ? new HostCallScope(host) : nullptr);
        for (int32_t opcode : {16, 17, -1, INT32_MIN}) {
            EXPECT_EQ(HostCallback(&asker, opcode, 5, 99, &received, 3.0f), 0) << opcode;
        }
        std::vector<std::vector<double>> told = {{10, 0, 0, 0, 44100}};
        if (inCall) {
            told.push_back({11, 0, 441, 0, 0});
        }
        EXPECT_EQ(received, told) << inCall;
    }
    EXPECT_EQ(Log("asking"), expected);
}

// An effect that asks for the rate (the block size) whenever it is told it: the answer is
// given once, and the question asked again from inside it gets 0 and nothing more.
TEST_F(HostCallbackTest, AQuestionAskedInsideItsOwnAnswerIsNotAnsweredAgain) {
    Listen("recursive");
    ASSERT_TRUE(Load("recursive"));
    SetPluginBlockSize(host, 64);
    const Lines once = {
        Call(10, 0, "44100"), Call(10, 0, "44100", 1), AskLine(16, 0), AskLine(16, 0), Call(12),
        Call(11, 64),         Call(11, 64, "0", 1),    AskLine(17, 0), AskLine(17, 0), Call(12, 1)};
    const Lines log = Log("recursive");
    EXPECT_EQ(Lines(log.begin() + 3, log.end()), once);
}

// The questions real effects ask in their blocks, as two blocks of 22050 frames see them: the
// time at each block's start (a playing transport, 120 beats per minute in 4/4), the names,
// what the host can do, and the accepted notices.
TEST_F(HostCallbackTest, TheQuestionsRealEffectsAskAreAnsweredAsHostsDo) {
    Listen("host_questions");
    ASSERT_TRUE(Load("host_questions"));
    SetPluginBlockSize(host, 22050);
    std::vector<int16_t> in(2 * 22050), out(2 * 22050);
    ASSERT_TRUE(ProcessSamples(host, in.data(), out.data(), 22050));
    ASSERT_TRUE(ProcessSamples(host, in.data(), out.data(), 22050));
    // clang-format off
    const Lines questions = {"vendor=Kawauso04 (1) product=Kawauso04 (1)", "canDo sendVstTimeInfo=1",
                             "canDo sizeWindow=1", "canDo sendVstEvents=-1", "canDo anythingElse=0",
                             AskLine(34, 1200), AskLine(38, 6), AskLine(42, 1), AskLine(43, 1),
                             AskLine(0, 1), AskLine(44, 1), AskLine(15, 0)};
    // clang-format on
    const Lines log = Log("host_questions");
    const std::string flags =
        " sig=4/4 flags=" + std::to_string(2 | 256 | 512 | 1024 | 2048 | 8192);
    const auto block = [&](const char* time) {
        return Lines{"process frames=22050 ftz=1 daz=1", time + flags} + questions;
    };
    EXPECT_EQ(Lines(log.end() - 2 * 14, log.end()),
              block("time pos=0 rate=44100 tempo=120 ppq=0 bar=0") +
                  block("time pos=22050 rate=44100 tempo=120 ppq=1 bar=0"));
}

} // namespace
