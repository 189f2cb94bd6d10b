// An effect in a host process of its own, driven by the real main dialog: where it runs (after
// a fault too: the stream tests' cut-loose box), the menu's switch and its key, and a host that
// ends: restarted with its state, told and counted.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>
#include <tuple>

#include "app/about_box.h"
#include "app/live_effect.h"
#include "app/plugin_commands.h"
#include "app/slot_plugin.h"
#include "app/stream_commands.h"
#include "app/texts.h"
#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "audio/stream.h"
#include "audio/stream_meters.h"
#include "plugin/editor_window.h"
#include "plugin/plugin_state.h"
#include "plugin/vst2.h"
#include "settings/settings_store.h"
#include "settings/slot_plugin_files.h"
#include "tests/support/test_process.h"
#include "tests/win/win_fixture.h"

namespace {

const bool WIN64 = sizeof(void*) == 8;
// A host process starts in well under a second on an idle machine and in several with both
// cores busy; the waits end as soon as it is there.
constexpr DWORD HOST_START_MS = 10000;
const std::wstring OTHER_TREE = WIN64 ? L"..\\..\\win32\\" : L"..\\..\\win64\\";
const wchar_t* const OTHER_HOST = WIN64 ? L"kawauso-fxhost32.exe" : L"kawauso-fxhost64.exe";
// Copied: the other bitness's suite, running meanwhile, starts and removes the original's log.
const char* const OTHER_EFFECT = WIN64 ? "copy_through32.dll" : "copy_through64.dll";

// How many of our host processes run; ends them when asked (as a crash would).
int Hosts(bool end = false) {
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == GetCurrentProcessId() &&
            std::wstring(entry.szExeFile).find(L"kawauso-fxhost") != std::wstring::npos) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
            count += end ? TerminateProcess(process, 9) : 1;
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
    return count;
}

// Processes our hosts started: none, not even a console's (a process more at every start).
int HostsChildren() {
    std::vector<PROCESSENTRY32W> all;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        all.push_back(entry);
    }
    CloseHandle(snapshot);
    int count = 0;
    for (const PROCESSENTRY32W& ours : all) {
        if (ours.th32ParentProcessID == GetCurrentProcessId()) {
            count += static_cast<int>(std::count_if(all.begin(), all.end(), [&](const auto& p) {
                return p.th32ParentProcessID == ours.th32ProcessID;
            }));
        }
    }
    return count;
}

struct Row {
    std::string path;
    bool wish, isolated;
};

class IsolatedEffect : public WinTest {
  protected:
    void SetUp() override {
        WinTest::SetUp();
        const std::wstring here = WideFromUtf8(ProgramDirectory()) + L"\\";
        const std::wstring copies[][2] = {
            {L"..\\kawauso-fxhost.exe", L"kawauso-fxhost.exe"},
            {OTHER_TREE + L"kawauso-fxhost.exe", OTHER_HOST},
            {OTHER_TREE + L"tests\\plugins\\copy_through.dll", WideFromUtf8(OTHER_EFFECT)}};
        for (const auto& copy : copies) {
            CopyFileW((here + copy[0]).c_str(), (here + copy[1]).c_str(), FALSE);
        }
    }
    // Each row's effect loaded through the dialog into a running stream: where it runs, and that it
    // gets the stream's blocks there.
    void LoadsAndProcesses(std::initializer_list<Row> rows) {
        OpenDialog();
        ASSERT_TRUE(StartTestStream());
        // Wine's capture may take seconds to deliver under load: that is the stream's, not the
        // effect's, so the rows start once it delivers.
        ASSERT_TRUE(PumpUntil(StreamDelivering, HOST_START_MS));
        for (const Row& row : rows) {
            StartPluginLog(row.path);
            std::wcsncpy(currentSlot->VstPath, WideFromUtf8(row.path).c_str(), VST_PATH_MAX_UNITS);
            currentSlot->VstIsolated = row.wish;
            EXPECT_EQ(AnswerBoxes(dialog, Button(IDOK), [&] { LoadPluginCommand(dialog); }).seen,
                      0);
            EXPECT_EQ((Flags{LiveEffectIsolated(), Hosts() > 0, HostsChildren() == 0}),
                      (Flags{row.isolated, row.isolated, true}))
                << row.path << " asked " << row.wish;
            const uint64_t framesBefore = EffectFramesProcessed();
            EXPECT_TRUE(
                PumpUntil([&] { return CountPrefix(ReadPluginLog(row.path), "process") >= 3; },
                          HOST_START_MS))
                << row.path << " asked " << row.wish << ": "
                << EffectFramesProcessed() - framesBefore << " frames through an effect, log "
                << ReadPluginLog(row.path).size() << " lines";
            UnloadPluginCommand(dialog);
            EXPECT_EQ(Hosts(), 0) << "its host ends with it";
            RemovePluginLog(row.path);
        }
    }
};

TEST_F(IsolatedEffect, RunsInItsOwnProcessWhereTheSlotWishes) {
    LoadsAndProcesses({{TestPluginPathUtf8("copy_through"), false, false},
                       {TestPluginPathUtf8("copy_through"), true, true}});
}

TEST_F(IsolatedEffect, RunsInItsOwnProcessForTheOtherBitness) {
    SKIP_WITHOUT_32BIT();
    LoadsAndProcesses({{ProgramDirectory() + "\\" + OTHER_EFFECT, false, true}});
}

// A failed load's English box sends the user to the other bitness's host only for an effect of
// the other bitness (its host is missing here); the Japanese box keeps its one line for both.
TEST_F(IsolatedEffect, TheFailedLoadBoxNamesTheOtherHostOnlyForAnEffectOfTheOtherBitness) {
    struct JapaneseAfter {
        ~JapaneseAfter() { ShowLanguage(Language::Japanese); }
    } japaneseAfter;
    DeleteFileW((WideFromUtf8(ProgramDirectory()) + L"\\" + OTHER_HOST).c_str());
    OpenDialog();
    const std::pair<std::string, bool> effects[] = {
        {ProgramDirectory() + "\\" + OTHER_EFFECT, true}, {TestPluginPathUtf8("no_inputs"), false}};
    for (Language language : {Language::English, Language::Japanese}) {
        ShowLanguage(language);
        for (const auto& [path, otherBitness] : effects) {
            std::wcsncpy(currentSlot->VstPath, WideFromUtf8(path).c_str(), VST_PATH_MAX_UNITS);
            const Box box = AnswerBoxes(dialog, Button(IDOK), [&] { LoadPluginCommand(dialog); });
            ASSERT_EQ(box.texts.size(), 1u) << path;
            const std::wstring failed = TextIn(TEXT_LOAD_FAILED, language);
            const bool named = language == Language::English && otherBitness;
            EXPECT_EQ(box.texts[0].substr(0, failed.size() + named), failed + (named ? L"\n" : L""))
                << path;
            EXPECT_EQ(box.texts[0].find(OTHER_HOST) != std::wstring::npos, named) << path;
        }
    }
}

TEST_F(IsolatedEffect, TheSystemMenuItemKeepsTheKeyOnlyWhileItIsChecked) {
    WriteSettings(L"[Settings01]\r\nBufferSize=30\r\n");
    OpenDialog(1);
    wchar_t item[32] = L"";
    EXPECT_EQ(GetMenuStringW(GetSystemMenu(dialog, FALSE), ID_ISOLATE, item, 32, MF_BYCOMMAND), 12);
    SendMessageW(dialog, WM_SYSCOMMAND, ID_ISOLATE, 0);
    const std::wstring on = ReadSettings();
    EXPECT_EQ(GetMenuState(GetSystemMenu(dialog, FALSE), ID_ISOLATE, MF_BYCOMMAND) & MF_CHECKED,
              UINT(MF_CHECKED));
    const std::wstring key = L"VstIsolated=1\r\n";
    ASSERT_NE(on.find(key), std::wstring::npos) << on;
    SendMessageW(dialog, WM_SYSCOMMAND, ID_ISOLATE, 0);
    EXPECT_EQ(ReadSettings(), std::wstring(on).erase(on.find(key), key.size()));
    SendMessageW(dialog, WM_SYSCOMMAND, ID_ISOLATE, 0);
    SelectSlot(2);
    EXPECT_EQ(GetMenuState(GetSystemMenu(dialog, FALSE), ID_ISOLATE, MF_BYCOMMAND) & MF_CHECKED, 0u)
        << "each slot its own";
}

TEST_F(IsolatedEffect, AnEndedHostComesBackWithItsStateThreeTimesAMinuteThenIsCutLoose) {
    OpenDialog();
    ASSERT_TRUE(StartTestStream());
    ChooseVariant("chunk_state");
    LoadPluginCommand(dialog);
    std::vector<uint8_t> state;
    ASSERT_TRUE(CaptureLiveEffectState(state)); // in this process, as a slot keeps it
    UnloadPluginCommand(dialog);
    currentSlot->VstIsolated = true;
    ASSERT_EQ(LoadSlotPlugin(dialog, &state, false), LoadOutcome::Loaded);
    const uint32_t before = EffectRestarts();
    for (uint32_t restart = 1; restart <= 3; ++restart) {
        Listen("chunk_state"); // the next host's log
        Hosts(true);
        if (restart == 1) { // saved before the restart's timer comes: the slot keeps its effect
            for (DWORD start = GetTickCount(); LiveEffectFault().kind == EffectFaultKind::None &&
                                               GetTickCount() - start < HOST_START_MS;) {
                Sleep(1);
            }
            SaveSlotWithPlugin(dialog);
            std::vector<uint8_t> kept;
            ReadSlotPluginState(0, TestPluginPath("chunk_state").c_str(), kept);
            EXPECT_EQ((Flags{currentSlot->VstActive, kept == state}), (Flags{true, true}));
        }
        EXPECT_TRUE(PumpUntil([&] { return EffectRestarts() == before + restart; }, HOST_START_MS))
            << restart;
        EXPECT_TRUE(PumpUntil([&] { return CountPrefix(Log("chunk_state"), "process") > 0; },
                              HOST_START_MS));
        EXPECT_EQ(CountPrefix(Log("chunk_state"), "chunk received"), 1)
            << "its state, restart " << restart;
        EXPECT_EQ(VisibleBalloon().first, L"VSTプラグインを再起動しました。\nchunk_state.dll");
    }
    std::vector<uint8_t> kept;
    SaveSlotWithPlugin(dialog); // as the close keeps it: taken from the host
    ReadSlotPluginState(0, TestPluginPath("chunk_state").c_str(), kept);
    EXPECT_EQ(kept, state);
    const Box box = AnswerBoxes(dialog, Button(IDOK), [&] {
        Hosts(true);
        PumpUntil([] { return pluginActive.load() == 0; }, 3000);
    });
    ASSERT_EQ(box.texts.size(), 1u);
    EXPECT_EQ(box.texts[0].rfind(
                  L"VSTプラグインで異常が発生したため切り離しました。\nchunk_state.dll", 0),
              0u)
        << "the fourth within a minute";
    ExpectPluginControls(false);
    EXPECT_EQ(running, 1) << "the voice went on";
    const Box about = AnswerBoxes(dialog, Button(IDCANCEL), [&] { ShowAboutBox(dialog); });
    const std::wstring counted = L"VST再起動 " + std::to_wstring(before + 3) + L" 回";
    EXPECT_EQ(std::count(about.texts.begin(), about.texts.end(), counted), 1) << "in the About box";
}

// VST設定: our window, owned by the main window, holds the host's, sized as the effect asks;
// what the user turns in it is what a restarted host gets.
TEST_F(IsolatedEffect, TheEditorIsTheHostsWindowInsideOursAndComesBackAfterARestart) {
    OpenDialog();
    ASSERT_TRUE(StartTestStream());
    ChooseVariant("editor_child");
    currentSlot->VstIsolated = true;
    LoadPluginCommand(dialog);
    for (int round = 0; round < 2; ++round) {
        HWND editor = FindWindowW(nullptr, L"Kawauso++");
        DWORD process = GetCurrentProcessId();
        GetWindowThreadProcessId(GetWindow(editor, GW_CHILD), &process);
        EXPECT_EQ((Flags{GetWindow(editor, GW_OWNER) == dialog, process != GetCurrentProcessId()}),
                  (Flags{true, true}))
            << "round " << round;
        RECT client = {};
        EXPECT_TRUE(PumpUntil(
            [&] {
                return GetClientRect(editor, &client) && client.right == 320 &&
                       client.bottom == 200;
            },
            HOST_START_MS))
            << "as it asked: " << client.right << " x " << client.bottom;
        Pump(1500); // the knob the effect turned at its first idle has rested
        if (round == 0 && Hosts(true) == 1) {
            PumpUntil([&] { return !IsWindow(editor) && FindWindowW(nullptr, L"Kawauso++"); },
                      4000);
        }
    }
    SendMessageW(FindWindowW(nullptr, L"Kawauso++"), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(PumpUntil([] { return FindWindowW(nullptr, L"Kawauso++") == nullptr; }, 1000));
    EXPECT_EQ(CountPrefix(Calls("editor_child"), Call(effEditClose)), 1) << "the last host's";
    const std::vector<std::string> log = Log("editor_child");
    EXPECT_EQ(std::count(log.begin(), log.end(), "parameter 0=0.875"), 1)
        << "the restarted host has the knob as it was turned in the editor";
}

// A call whose wait keeps the window's messages flowing: what a message asks meanwhile (the
// fault check of a timer, VST開放, EXIT, a load) must not free or restart the effect under the
// call. stall_calls holds its blocks inside the call until its host is called hung, then answers.
enum class Nested { FaultCheck, Unload, Close, Load, EditorX, EditorButton, Slot };

struct WaitRow {
    const char* wait;
    int32_t opcode;                // the call stall_calls stalls in
    bool editorFirst;              // its editor open before the call
    void (*call)(HWND mainWindow); // the call that waits
    Nested nested;                 // asked from a message handled during the wait
};

constexpr UINT NESTED_AT_MS = 1250; // past the host's hang limit, short of the stall's end

struct DuringWait {
    HWND mainWindow;
    Nested nested;
    bool underWay, faulted;
    LoadOutcome load;
    bool editorOpen = false; // right after the nested request
    int slot = -1;
} duringWait;

void Click(HWND mainWindow, int id, WORD code) {
    SendMessageW(mainWindow, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(mainWindow, id)));
}

void CALLBACK AskDuringWait(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    DuringWait& d = duringWait;
    d.underWay = LiveEffectCallUnderWay();
    d.faulted = LiveEffectFault().kind != EffectFaultKind::None;
    CheckPluginFault(d.mainWindow); // as the level timer does
    if (d.nested == Nested::Unload) {
        UnloadPluginCommand(d.mainWindow);
    } else if (d.nested == Nested::Close) {
        SendMessageW(d.mainWindow, WM_CLOSE, 0, 0);
    } else if (d.nested == Nested::Load) {
        d.load = LoadSlotPlugin(d.mainWindow, nullptr, false);
    } else if (d.nested == Nested::EditorX) {
        SendMessageW(FindWindowW(nullptr, L"Kawauso++"), WM_CLOSE, 0, 0);
    } else if (d.nested == Nested::EditorButton) {
        Click(d.mainWindow, IDC_VST_EDIT, BN_CLICKED);
    } else if (d.nested == Nested::Slot) {
        SendDlgItemMessageW(d.mainWindow, IDC_SLOT, CB_SETCURSEL, 1, 0);
        Click(d.mainWindow, IDC_SLOT, CBN_SELCHANGE);
    }
    d.editorOpen = FindWindowW(nullptr, L"Kawauso++") != nullptr;
    d.slot = currentSlotIndex;
}

TEST_F(IsolatedEffect, WhatAMessageAsksDuringACallsWaitRunsOnceTheCallHasReturned) {
    const WaitRow rows[] = {
        {"editor open", effEditOpen, false, OpenLiveEditor, Nested::FaultCheck},
        {"state capture", effGetChunk, false, [](HWND) { TakeLiveEffectState(); },
         Nested::FaultCheck},
        {"sizing, a stream's restart", effSetBlockSize, false, OnPowerResume, Nested::FaultCheck},
        {"editor close", effEditClose, true, [](HWND) { CloseEditor(); }, Nested::FaultCheck},
        {"editor open, VST開放", effEditOpen, false, OpenLiveEditor, Nested::Unload},
        {"editor open, EXIT", effEditOpen, false, OpenLiveEditor, Nested::Close},
        {"Quit, a load", effClose, false, UnloadPluginCommand, Nested::Load},
        {"state capture, the editor's X", effGetChunk, true, [](HWND) { TakeLiveEffectState(); },
         Nested::EditorX}, // no stream: no hang, only the close or the click to wait
        {"state capture, VST設定", effGetChunk, false, [](HWND) { TakeLiveEffectState(); },
         Nested::EditorButton},
        {"state capture, a slot chosen", effGetChunk, false, [](HWND) { TakeLiveEffectState(); },
         Nested::Slot},
    };
    const std::wstring stallFile = TestPluginPath("stall_calls") + L".stall";
    for (const WaitRow& row : rows) {
        const bool blocks = row.nested != Nested::EditorX && row.nested != Nested::EditorButton &&
                            row.nested != Nested::Slot;
        if (dialog == nullptr) { // one dialog and stream for the rows, but after a close
            OpenDialog();
        }
        if (blocks && running == 0) {
            ASSERT_TRUE(StartTestStream());
            ASSERT_TRUE(PumpUntil(StreamDelivering, HOST_START_MS));
        } else if (!blocks && running != 0) {
            ASSERT_TRUE(StopAndWait());
        }
        DeleteFileW(stallFile.c_str());
        ChooseVariant("stall_calls");
        currentSlot->VstIsolated = true;
        ASSERT_EQ(LoadSlotPlugin(dialog, nullptr, row.editorFirst), LoadOutcome::Loaded);
        ASSERT_TRUE(
            PumpUntil([&] { return !blocks || CountPrefix(Log("stall_calls"), "process") > 0; },
                      HOST_START_MS));
        WriteBytes(stallFile, std::to_string(row.opcode));
        const uint32_t restarts = EffectRestarts();
        const int opened = CountPrefix(Calls("stall_calls"), Call(effEditOpen, 0, "0", 0, "set"));
        duringWait = DuringWait{dialog, row.nested, false, false, LoadOutcome::Loaded};
        SetTimer(nullptr, 0, NESTED_AT_MS, AskDuringWait);
        row.call(dialog);
        DeleteFileW(stallFile.c_str());
        // An effect is sized only while no block reaches it (here: its stream closed to be
        // opened again), so nothing finds it hung meanwhile; Quit ends the lane first.
        const bool hung = blocks && row.opcode != effClose && row.opcode != effSetBlockSize;
        EXPECT_EQ((Flags{duringWait.underWay, duringWait.faulted,
                         CountPrefix(Log("stall_calls"), "stall") == 1}),
                  (Flags{true, hung, true}))
            << row.wait << ": the message came during the wait, after the hang was found";
        if (row.nested == Nested::FaultCheck) {
            const int processed = CountPrefix(Log("stall_calls"), "process");
            EXPECT_TRUE(PumpUntil(
                [&] {
                    return LiveEffectLoaded() &&
                           CountPrefix(Log("stall_calls"), "process") > processed;
                },
                HOST_START_MS))
                << row.wait << ": its blocks again";
            Pump(300);
            EXPECT_EQ((Flags{EffectRestarts() == restarts + (hung ? 1 : 0), Hosts() == 1}),
                      (Flags{true, true}))
                << row.wait
                << ": restarted once if hung, after the wait: " << EffectRestarts() - restarts;
        } else if (row.nested == Nested::EditorButton) {
            EXPECT_TRUE(PumpUntil([] { return FindWindowW(nullptr, L"Kawauso++"); }, 2000));
            EXPECT_EQ((Flags{duringWait.editorOpen,
                             CountPrefix(Calls("stall_calls"),
                                         Call(effEditOpen, 0, "0", 0, "set")) == opened + 1}),
                      (Flags{false, true}))
                << row.wait << ": opened once the capture had returned, not refused";
            CloseEditor();
        } else if (row.nested == Nested::Slot) {
            EXPECT_EQ(duringWait.slot, 0) << row.wait;
            EXPECT_TRUE(PumpUntil([] { return currentSlotIndex == 1; }, 2000))
                << row.wait << ": chosen once the capture had returned, not dropped";
        } else if (row.nested == Nested::EditorX) {
            EXPECT_TRUE(PumpUntil([] { return !FindWindowW(nullptr, L"Kawauso++"); }, 1000));
            EXPECT_EQ(CountPrefix(Calls("stall_calls"), Call(effEditClose)), 1)
                << row.wait << ": the host's editor closed too, once the capture had returned";
        } else if (row.nested == Nested::Close) {
            EXPECT_TRUE(PumpUntil([] { return running == 0 && Hosts() == 0; }, HOST_START_MS))
                << row.wait << ": closed after the wait";
            DestroyWindow(dialog);
            dialog = nullptr;
            continue;
        } else {
            EXPECT_TRUE(PumpUntil([] { return Hosts() == 0 && !LiveEffectHeld(); }, HOST_START_MS))
                << row.wait;
            EXPECT_EQ((Flags{EffectRestarts() == restarts, duringWait.load == LoadOutcome::Failed}),
                      (Flags{true, row.nested == Nested::Load}))
                << row.wait << ": unloaded after the wait, nothing restarted or loaded under it";
        }
    }
}

// Each restart ends a host and starts one: the handles, threads and memory it took go with it.
TEST_F(IsolatedEffect, FiftyRestartsLeaveNothingBehind) {
    constexpr uint32_t MINUTE_MS = 60000; // each restart its own minute: the policy allows it
    constexpr size_t MEMORY_SLACK = 1u << 20;
    OpenDialog();
    ChooseVariant("copy_through");
    currentSlot->VstIsolated = true;
    ASSERT_EQ(LoadSlotPlugin(dialog, nullptr, false), LoadOutcome::Loaded);
    uint32_t now = GetTickCount();
    auto restart = [&] {
        Hosts(true); // ended as a crash would; no stream runs to find it, the restart does
        EffectFault why;
        return RestartLiveEffect(now += MINUTE_MS, why);
    };
    ASSERT_TRUE(restart()); // what the first restart makes lives as long as the process
    const auto count = [] {
        return std::make_tuple(CountHandles(), CountThreads(), CommittedBytes());
    };
    const auto before = count();
    const uint32_t restarts = EffectRestarts();
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(restart()) << i;
    }
    EXPECT_EQ(EffectRestarts(), restarts + 50);
    const auto after = count();
    EXPECT_EQ((std::make_pair(std::get<0>(after), std::get<1>(after))),
              (std::make_pair(std::get<0>(before), std::get<1>(before))))
        << "handles and threads";
    EXPECT_LE(std::get<2>(after), std::get<2>(before) + MEMORY_SLACK);
    EXPECT_EQ(Hosts(), 1);
}

// An effect that needs 70 % of each block in its own process: late at first, then one block
// ahead, and from then on every block its own sound; the About box says so.
TEST_F(IsolatedEffect, AnEffectThatCannotKeepUpRunsABlockAheadAndNoBlockPlaysTheStage) {
    OpenDialog();
    ASSERT_TRUE(StartTestStream(L"20"));
    ASSERT_TRUE(PumpUntil(StreamDelivering, HOST_START_MS));
    ChooseVariant("heavy_blocks");
    currentSlot->VstIsolated = true;
    ASSERT_EQ(LoadSlotPlugin(dialog, nullptr, false), LoadOutcome::Loaded);
    ASSERT_TRUE(PumpUntil([] { return LiveEffectBlockStats().ahead; }, HOST_START_MS))
        << LiveEffectBlockStats().late << " late";
    Pump(500);
    // The stream's own blocks are the yardstick, not the clock: on a starved machine the
    // capture itself delivers fewer, and none of that is the effect's doing.
    const uint64_t BLOCK_FRAMES = BufferBytesForMs(20) / BLOCK_ALIGN;
    TakeMeterReading();
    const EffectBlockStats before = LiveEffectBlockStats();
    const uint64_t framesBefore = EffectFramesProcessed();
    Pump(2000);
    const uint64_t streamed = TakeMeterReading().frames;
    const uint64_t through = EffectFramesProcessed() - framesBefore;
    const EffectBlockStats after = LiveEffectBlockStats();
    const uint64_t missed = after.late - before.late, blocks = streamed / BLOCK_FRAMES;
    // A late answer costs two blocks ahead (the one it was for, and the next, whose own answer
    // is then sent a block late); the window's two edges a block each. An ahead that did not
    // work would miss every other block or every one, late or not.
    EXPECT_EQ((Flags{after.ahead, missed * 5 <= blocks, LiveEffectLoaded()}),
              (Flags{true, true, true}))
        << missed << " late of " << blocks << " blocks";
    EXPECT_GE(through + (2 * missed + 2) * BLOCK_FRAMES, streamed)
        << "frames through the effect, " << missed << " late";
    EXPECT_GE(blocks, 20u) << "too few blocks in two seconds to tell";
    // Blocks may still come late while the box opens: it shows the count as it is then.
    const Box about = AnswerBoxes(dialog, Button(IDCANCEL), [&] { ShowAboutBox(dialog); });
    const uint32_t lateShown = LiveEffectBlockStats().late;
    int matching = 0;
    for (uint32_t late = after.late; late <= lateShown; ++late) {
        const std::wstring shown = L"VST遅れ " + std::to_wstring(late) + L" 回（1ブロック先行）";
        matching += static_cast<int>(std::count(about.texts.begin(), about.texts.end(), shown));
    }
    EXPECT_EQ(matching, 1) << after.late << " to " << lateShown << " late";
}

} // namespace
