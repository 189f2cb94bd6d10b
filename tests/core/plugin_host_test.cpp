// Loading, acceptance, sizing and unloading against the real test effects, checked by the
// exact sequence of calls each effect logged.
#include <cstdio>
#include <string>

#include "audio/audio_format.h"
#include "plugin/effect_dispatch.h"
#include "plugin/plugin_bridge.h"
#include "plugin/plugin_host.h"
#include "tests/core/plugin_fixture.h"

namespace {

using PluginHostTest = PluginTest;

const Lines OPENED = {"attach", "entry VSTPluginMain", DispatcherLine(effOpen),
                      DispatcherLine(effSetSampleRate, 0, "44100")};

void ExpectEmptyHost() {
    EXPECT_EQ(effect, nullptr);
    EXPECT_EQ(pluginModule, nullptr);
    EXPECT_EQ(editorWindow, nullptr);
    for (float* buffer : pluginBuffers) {
        EXPECT_EQ(buffer, nullptr);
    }
}

TEST_F(PluginHostTest, LoadWhileStoppedOpensAndSetsTheRateOnly) {
    Listen("copy_through");
    ASSERT_TRUE(Load("copy_through"));
    EXPECT_EQ(Log("copy_through"), OPENED);
    ASSERT_NE(effect, nullptr);
    ASSERT_NE(pluginModule, nullptr);
    EXPECT_NE(pluginModule->moduleHandle, nullptr);
    EXPECT_EQ(blockSizeSent, -1);
    for (float* buffer : pluginBuffers) {
        EXPECT_EQ(buffer, nullptr);  // loaded, not sized
    }
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->flags & effFlagsHasEditor, 0);
}

TEST_F(PluginHostTest, TheSampleRateArgumentIsWhatTheEffectIsTold) {
    Listen("copy_through");
    ASSERT_TRUE(LoadPlugin(TestPluginPath("copy_through").c_str(), 48000));
    EXPECT_EQ(Log("copy_through").back(), DispatcherLine(effSetSampleRate, 0, "48000"));
}

TEST_F(PluginHostTest, LoadDuringARunSuspendsSizesAndResumes) {
    Listen("copy_through");
    ASSERT_TRUE(Load("copy_through"));
    const uint32_t frames = FramesForBufferBytes(BufferBytesForMs(50));
    ASSERT_EQ(frames, 2206u);
    SetPluginBlockSize(frames);

    Lines expected = OPENED;
    expected.push_back(DispatcherLine(effMainsChanged, 0));
    expected.push_back(DispatcherLine(effSetBlockSize, 2206));
    expected.push_back(DispatcherLine(effMainsChanged, 1));
    EXPECT_EQ(Log("copy_through"), expected);
    EXPECT_EQ(blockSize, 2206u);
    EXPECT_EQ(blockSizeSent, 2206);
    for (int i = 0; i < PLUGIN_BUFFER_COUNT; ++i) {
        ASSERT_NE(pluginBuffers[i], nullptr);
        for (int j = 0; j < i; ++j) {
            EXPECT_NE(pluginBuffers[i], pluginBuffers[j]);
        }
        pluginBuffers[i][2205] = 1.0f;  // each holds blockSize floats (ASan checks the end)
    }
}

TEST_F(PluginHostTest, UnloadSuspendsClosesAndFreesTheLibrary) {
    Listen("copy_through");
    ASSERT_TRUE(Load("copy_through"));
    SetPluginBlockSize(441);
    UnloadPlugin();

    Lines expected = OPENED;
    for (const std::string& line :
         {DispatcherLine(effMainsChanged, 0), DispatcherLine(effSetBlockSize, 441),
          DispatcherLine(effMainsChanged, 1), DispatcherLine(effMainsChanged, 0),
          DispatcherLine(effClose), std::string("detach")}) {
        expected.push_back(line);
    }
    EXPECT_EQ(Log("copy_through"), expected);
    ExpectEmptyHost();
    EXPECT_EQ(blockSize, 441u);  // both keep their values
    EXPECT_EQ(blockSizeSent, 441);
}

TEST_F(PluginHostTest, EffectsWithoutTwoInputsAndTwoOutputsAreClosedButNeverOpened) {
    for (const char* variant : {"mono", "no_inputs"}) {
        SCOPED_TRACE(variant);
        Listen(variant);
        blockSizeSent = 123;
        EXPECT_FALSE(Load(variant));
        const Lines expected = {"attach", "entry VSTPluginMain", DispatcherLine(effMainsChanged, 0),
                                DispatcherLine(effClose), "detach"};
        EXPECT_EQ(Log(variant), expected);
        ExpectEmptyHost();
        EXPECT_EQ(blockSizeSent, 123);  // only a successful load resets it
    }
}

TEST_F(PluginHostTest, NoEffectOrNoEntryPointIsRefusedAndUnloaded) {
    Listen("null_effect");
    EXPECT_FALSE(Load("null_effect"));
    EXPECT_EQ(Log("null_effect"), (Lines{"attach", "entry VSTPluginMain", "detach"}));
    ExpectEmptyHost();

    Listen("no_entry");
    EXPECT_FALSE(Load("no_entry"));
    EXPECT_EQ(Log("no_entry"), (Lines{"attach", "detach"}));
    ExpectEmptyHost();
}

TEST_F(PluginHostTest, WhatIsNotALibraryIsRefused) {
    EXPECT_FALSE(LoadPlugin(TestPluginPath("does_not_exist").c_str(), 44100));
    ExpectEmptyHost();
    EXPECT_EQ(ModuleLoad(L""), nullptr);  // natively dlopen("") would be the test program
    EXPECT_FALSE(LoadPlugin(L"", 44100));
    ExpectEmptyHost();
    EXPECT_FALSE(LoadPlugin(WideFromUtf8(TestPluginDirectory()).c_str(), 44100));
    ExpectEmptyHost();
    EXPECT_FALSE(LoadPlugin(nullptr, 44100));
    ExpectEmptyHost();

    const std::string text = TestPluginDirectory() + PATH_SEPARATOR + "not_a_plugin" + MODULE_SUFFIX;
    std::FILE* file = FileOpenUtf8(text.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("MZ but not really a library\n", file);
    std::fclose(file);
    EXPECT_FALSE(LoadPlugin(WideFromUtf8(text).c_str(), 44100));
    ExpectEmptyHost();
    FileRemoveUtf8(text.c_str());
}

TEST_F(PluginHostTest, TheEntryPointIsVSTPluginMainThenMain) {
    Listen("main_only");
    ASSERT_TRUE(Load("main_only"));
    EXPECT_EQ(Log("main_only"),
              (Lines{"attach", "entry main", DispatcherLine(effOpen),
                     DispatcherLine(effSetSampleRate, 0, "44100")}));

    Listen("both_entries");
    ASSERT_TRUE(Load("both_entries"));  // also unloads main_only
    EXPECT_EQ(Log("both_entries"), OPENED);
    EXPECT_EQ(Log("main_only").back(), "detach");
}

TEST_F(PluginHostTest, TheMagicIsNotTested) {
    Listen("bad_magic");
    ASSERT_TRUE(Load("bad_magic"));
    EXPECT_NE(effect->magic, 0x56737450);
    EXPECT_EQ(Log("bad_magic"), OPENED);
}

TEST_F(PluginHostTest, ASecondLoadReplacesTheFirst) {
    Listen("copy_through");
    Listen("bad_magic");
    ASSERT_TRUE(Load("copy_through"));
    SetPluginBlockSize(441);

    ASSERT_TRUE(Load("bad_magic"));
    EXPECT_EQ(effect->magic, 0x12345678);  // the second effect's record
    const Lines firstLog = Log("copy_through");
    const Lines firstTail(firstLog.end() - 3, firstLog.end());
    EXPECT_EQ(firstTail, (Lines{DispatcherLine(effMainsChanged, 0), DispatcherLine(effClose),
                                "detach"}));
    EXPECT_EQ(Log("bad_magic"), OPENED);
    EXPECT_EQ(blockSizeSent, -1);
    EXPECT_EQ(blockSize, 441u);
    for (float* buffer : pluginBuffers) {
        EXPECT_EQ(buffer, nullptr);  // the new effect is loaded, not sized
    }
}

TEST_F(PluginHostTest, AFailedLoadLeavesNothingOfTheEarlierEffect) {
    Listen("copy_through");
    ASSERT_TRUE(Load("copy_through"));
    SetPluginBlockSize(64);
    EXPECT_FALSE(Load("mono"));
    EXPECT_EQ(Log("copy_through").back(), "detach");
    ExpectEmptyHost();
}

TEST_F(PluginHostTest, UnloadWithNothingLoadedOnlyReleasesTheBuffers) {
    SetPluginBlockSize(300);  // stream start with no plug-in
    EXPECT_EQ(blockSizeSent, 0);  // no effect: left alone
    for (float* buffer : pluginBuffers) {
        ASSERT_NE(buffer, nullptr);
    }
    blockSizeSent = 17;
    UnloadPlugin();
    ExpectEmptyHost();
    EXPECT_EQ(blockSize, 300u);
    EXPECT_EQ(blockSizeSent, 17);
    UnloadPlugin();  // and again, with nothing at all
    ExpectEmptyHost();
}

TEST_F(PluginHostTest, BlockSizeSentFollowsLoadsAndSizings) {
    Listen("copy_through");
    SetPluginBlockSize(100);
    EXPECT_EQ(blockSizeSent, 0);
    ASSERT_TRUE(Load("copy_through"));
    EXPECT_EQ(blockSizeSent, -1);
    SetPluginBlockSize(882);
    EXPECT_EQ(blockSizeSent, 882);
    SetPluginBlockSize(441);  // a restart with a shorter buffer
    EXPECT_EQ(blockSizeSent, 441);
    UnloadPlugin();
    EXPECT_EQ(blockSizeSent, 441);
    ASSERT_TRUE(Load("copy_through"));
    EXPECT_EQ(blockSizeSent, -1);
}

TEST_F(PluginHostTest, UnloadClearsTheEditorWindowBetweenSuspendAndClose) {
    Listen("editor");
    ASSERT_TRUE(Load("editor"));
    EXPECT_EQ(effect->flags & effFlagsHasEditor, effFlagsHasEditor);
    ERect* rect = nullptr;
    CallDispatcher(effect, effEditGetRect, 0, &rect, 0.0f);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right - rect->left, 400);
    EXPECT_EQ(rect->bottom - rect->top, 50);

    static int windowStandIn;
    editorWindow = &windowStandIn;  // no windows here: closing it is the Win32 tests' part
    UnloadPlugin();
    EXPECT_EQ(editorWindow, nullptr);
    const Lines log = Log("editor");
    const Lines tail(log.end() - 3, log.end());
    EXPECT_EQ(tail, (Lines{DispatcherLine(effMainsChanged, 0), DispatcherLine(effClose), "detach"}));
}

TEST_F(PluginHostTest, ARecordWithoutFunctionsIsNeverCalledThroughNull) {
    Listen("hollow");
    ASSERT_TRUE(Load("hollow"));  // two inputs, two outputs: accepted as the rules say
    SetPluginBlockSize(64);
    int16_t in[128] = {}, out[128];
    for (int16_t& s : out) {
        s = 99;
    }
    EXPECT_FALSE(ProcessWithPlugin(in, out, 64));
    for (int16_t s : out) {
        ASSERT_EQ(s, 99);
    }
    UnloadPlugin();
    EXPECT_EQ(Log("hollow"), (Lines{"attach", "entry VSTPluginMain", "detach"}));
}

TEST_F(PluginHostTest, APathBeyondAsciiLoads) {
    const std::string source = TestPluginPathUtf8("copy_through");
    const std::string copy =
        TestPluginDirectory() + PATH_SEPARATOR + "\xE3\x83\x97\xE3\x83\xA9\xE3\x82\xB0" + MODULE_SUFFIX;
    std::FILE* in = FileOpenUtf8(source.c_str(), "rb");
    std::FILE* out = FileOpenUtf8(copy.c_str(), "wb");
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        ASSERT_EQ(std::fwrite(chunk, 1, n, out), n);
    }
    std::fclose(in);
    std::fclose(out);

    ASSERT_TRUE(StartPluginLog(copy));
    EXPECT_TRUE(LoadPlugin(WideFromUtf8(copy).c_str(), 44100));
    UnloadPlugin();
    const Lines log = ReadPluginLog(copy);
    EXPECT_EQ(log.front(), "attach");
    EXPECT_EQ(log.back(), "detach");
    RemovePluginLog(copy);
    FileRemoveUtf8(copy.c_str());
}

}  // namespace
