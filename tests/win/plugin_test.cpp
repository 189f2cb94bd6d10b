// The plug-in commands and the editor window in the running main dialog: what the window
// shows, the file dialog, the failure box, the sizing for a running stream and the editor's
// life. The host's own call sequences and refusals are the core tests': here only what the
// commands and the editor add to them.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "plugin/editor_window.h"
#include "plugin/host_callback.h"
#include "plugin/plugin_call_watch.h"
#include "app/about_box.h"
#include "app/chain_window.h"
#include "app/chained_effects.h"
#include "app/live_effect.h"
#include "app/plugin_commands.h"
#include "app/slot_plugin.h"
#include "plugin/plugin_host.h"
#include "plugin/vst2.h"
#include "res/resource.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"
#include "settings/slot_plugin_files.h"
#include "tests/win/win_fixture.h"

namespace {

// The test effect variant as the slot's chained effect at index (counted from 0).
void NameChained(int index, const char* variant) {
    const std::wstring path = TestPluginPath(variant);
    std::wcsncpy(currentSlot->Chained[index].VstPath, path.c_str(), VST_PATH_MAX_UNITS);
}

using Plugin = WinTest;
using CallList = std::vector<std::string>;
const std::string CLOSE = Call(effClose);

DWORD WINAPI TakeEngineLock(LPVOID) {
    LockEnter(&EngineLock);
    LockLeave(&EngineLock);
    return 0;
}

bool EngineLockFree() { // another thread takes it within a second
    HANDLE taker = CreateThread(nullptr, 0, TakeEngineLock, nullptr, 0, nullptr);
    const bool free = WaitForSingleObject(taker, 1000) == WAIT_OBJECT_0;
    return CloseHandle(taker) && free;
}

int Count(const CallList& calls, int opcode) {
    return CountPrefix(calls, "dispatcher opcode=" + std::to_string(opcode) + " ");
}

TEST_F(Plugin, TheButtonLoadsWhatTheFileDialogConfirmsAndUnloadsWithoutIt) {
    OpenDialog();
    ChooseVariant("copy_through");
    const std::wstring chosen = currentSlot->VstPath;
    const auto press = [&] { Command(IDC_VST_LOAD); };
    const Box cancelled = AnswerBoxes(dialog, Button(IDCANCEL), press, 5);
    EXPECT_EQ(std::make_tuple(cancelled.seen, cancelled.title),
              std::make_tuple(1, L"VST プラグインを開く"));
    EXPECT_EQ(Text(IDC_VST_LOAD), L"VST読込(&R)") << "untouched by a cancel";
    EXPECT_TRUE(Log("copy_through").empty());

    EXPECT_EQ(AnswerBoxes(dialog, Button(IDOK), press, 5).seen, 1);
    ExpectPluginControls(true);
    EXPECT_EQ(_wcsicmp(currentSlot->VstPath, chosen.c_str()), 0);
    EXPECT_EQ(Count(Calls("copy_through"), effSetBlockSize), 0) << "not sized while stopped";
    EXPECT_EQ(Command(IDC_VST_EDIT), TRUE); // no editor: nothing opens, nothing is asked
    EXPECT_EQ(FindWindowW(nullptr, L"Kawauso++"), nullptr);
    SelectSlot(1); // another slot neither loads nor unloads
    ExpectPluginControls(true);

    EXPECT_EQ(AnswerBoxes(dialog, Button(IDCANCEL), press).seen, 0)
        << "no file dialog for an unload";
    EXPECT_EQ(Calls("copy_through").back(), CLOSE) << "the button unloaded it";
    ExpectPluginControls(false);
}

// An effect finds the helper DLL it ships beside itself, wherever the program was started
// from; a relative path is the program's folder's and never the current directory's.
TEST_F(Plugin, AnEffectFindsItsOwnHelperAndARelativePathIsTheProgramsFolders) {
    OpenDialog();
    wchar_t before[MAX_PATH], temp[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    GetTempPathW(MAX_PATH, temp);
    SetCurrentDirectoryW(temp);
    const std::wstring plugins = WideFromUtf8(TEST_PLUGIN_DIR_FROM_PROGRAM);
    const std::tuple<std::wstring, bool, int16_t> paths[] = {
        {TestPluginPath("with_helper/with_helper"), true, 3500},
        {plugins + L"\\copy_through.dll", true, 7000}, // beside the program
        {L"copy_through.dll", false, 0}};              // only in the current directory, below
    for (const auto& [path, loads, sixth] : paths) {
        if (!loads) {
            SetCurrentDirectoryW((WideFromUtf8(ProgramDirectory()) + L"\\" + plugins).c_str());
        }
        std::wcsncpy(currentSlot->VstPath, path.c_str(), VST_PATH_MAX_UNITS);
        const Box box = AnswerBoxes(dialog, Button(IDOK), [&] { LoadPluginCommand(dialog); });
        EXPECT_EQ(box.seen, loads ? 0 : 1) << path;
        ExpectPluginControls(loads);
        if (loads) {
            LiveEffectHandle()->setBlockSize(LiveEffectHandle(), 4);
            const int16_t in[8] = {1000, -2000, 3000, -4000, 5000, -6000, 7000, -8000};
            int16_t out[8] = {};
            ASSERT_TRUE(ProcessBlock(in, sizeof in, out)); // crosses over from the stage's sound
            ASSERT_TRUE(ProcessBlock(in, sizeof in, out));
            EXPECT_EQ(out[6], sixth) << "the sixth sample: the helper's gain, or none";
        }
        UnloadPluginCommand(dialog);
    }
    SetCurrentDirectoryW(before);
}

TEST_F(Plugin, WhileRunningALoadSizesTheEffectForTheStreamAndAnUnloadLeavesTheStageRunning) {
    OpenDialog();
    ASSERT_TRUE(StartTestStream());
    const long long frames = bufferBytes / 4;
    ChooseVariant("copy_through");
    LoadPluginCommand(dialog);
    PumpUntil([&] { return CountPrefix(Log("copy_through"), "process") >= 3; }, 5000);
    const std::vector<std::string> lines = Log("copy_through");
    const CallList calls = Calls("copy_through");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), Call(effSetBlockSize, frames)), 1)
        << "sized once, for the running stream's blocks";
    const std::string full = "process frames=" + std::to_string(frames) + " ";
    EXPECT_GT(CountPrefix(lines, full.c_str()), 0) << "the stream's blocks reach the effect";
    EXPECT_EQ(CountPrefix(lines, full.c_str()), CountPrefix(lines, "process"));

    UnloadPluginCommand(dialog); // what it frees is the core tests'
    ExpectPluginControls(false);
    EXPECT_EQ(running, 1);
}

// A chain of the slot's: a chained DLL that is not there is left out at the load (one box,
// naming it), the rest load; the chained effect that crashes, hangs (both in this process) or
// ends its host two seconds in is taken out alone (one box, naming it) while the first and the
// last play on, and the slot keeps it, to load it again with the slot (in a process of its
// own after a fault here).
TEST_F(Plugin, AChainedEffectThatFailsIsTakenOutAloneAndTheOthersPlayOn) {
    struct Failing {
        const char* variant;
        bool isolated;
        bool isolatedAfter;
    };
    const Failing rows[] = {
        {"crash_later", false, true}, {"hang_later", false, false}, {"exit_later", true, true}};
    const uint32_t floorBefore = pluginHangFloorMs;
    pluginHangFloorMs = 300;
    OpenDialog();
    ASSERT_TRUE(StartTestStream(L"20"));
    const auto named = [](const Box& box, const wchar_t* name) {
        return box.seen == 1 && !box.texts.empty() && box.texts[0].find(name) != std::wstring::npos;
    };
    for (const Failing& row : rows) {
        Listen("copy_through");
        Listen("chunk_state");
        ChooseVariant("copy_through");
        const char* const chained[] = {row.variant, "no_such_effect", "chunk_state"};
        for (int i = 0; i < 3; ++i) {
            NameChained(i, chained[i]);
            currentSlot->Chained[i].VstIsolated = i == 0 && row.isolated;
        }
        const Box atLoad = AnswerBoxes(dialog, Button(IDOK), [&] { LoadPluginCommand(dialog); });
        ASSERT_TRUE(
            PumpUntil([&] { return CountPrefix(Log("chunk_state"), "process") > 0; }, 5000));
        const Box atFault = AnswerBoxes(dialog, Button(IDOK), [&] {
            PumpUntil(
                [&] {
                    CheckPluginFault(dialog); // what the level timer does
                    return ChainedEffectCount() == 1;
                },
                8000);
        });
        const int before = CountPrefix(Log("chunk_state"), "process");
        PumpUntil([&] { return CountPrefix(Log("chunk_state"), "process") >= before + 5; }, 3000);
        const std::wstring variant(row.variant, row.variant + std::strlen(row.variant));
        EXPECT_EQ((Flags{named(atLoad, L"no_such_effect"), named(atFault, variant.c_str()),
                         CountPrefix(Log("chunk_state"), "process") >= before + 5}),
                  (Flags{true, true, true}))
            << row.variant;
        EXPECT_EQ((Flags{LiveEffectLoaded(), pluginActive.load() == 1, ChainedEffectCount() == 1,
                         CountPrefix(Log("copy_through"), "process") > 0}),
                  (Flags{true, true, true, true}))
            << row.variant << ": the first and the last play on";
        EXPECT_EQ(
            (Strings{FileNameOf(currentSlot->Chained[0].VstPath),
                     FileNameOf(currentSlot->Chained[1].VstPath), currentSlot->Chained[2].VstPath}),
            (Strings{variant + L".dll", L"chunk_state.dll", L""}))
            << "the slot keeps the one taken out, not the one that is not there";
        EXPECT_EQ(currentSlot->Chained[0].VstIsolated, row.isolatedAfter) << row.variant;
        const Box about = AnswerBoxes(dialog, Button(IDCANCEL), [&] { ShowAboutBox(dialog); });
        const std::wstring counted = L"2. " + variant + L".dll: 異常 1 回 / 遅れ 0 回\n" +
                                     L"3. chunk_state.dll: 異常 0 回 / 遅れ 0 回";
        EXPECT_EQ(std::count(about.texts.begin(), about.texts.end(), counted), 1)
            << "the About box counts each chained effect's faults";
        UnloadPluginCommand(dialog);
        EXPECT_EQ(ChainedEffectCount(), 0u);
    }
    pluginHangFloorMs = floorBefore;
}

// The first effect of a chain failing in this process: it alone is taken out (one box naming
// it), the chained one plays on, and the slot keeps both, the first in a process of its own
// from its next load.
TEST_F(Plugin, AFirstEffectThatFailsLeavesTheChainPlaying) {
    OpenDialog();
    ASSERT_TRUE(StartTestStream(L"20"));
    Listen("chunk_state");
    ChooseVariant("crash_later");
    NameChained(0, "chunk_state");
    LoadPluginCommand(dialog);
    ASSERT_EQ(ChainedEffectCount(), 1u);
    const Box box = AnswerBoxes(dialog, Button(IDOK), [&] {
        PumpUntil(
            [&] {
                CheckPluginFault(dialog); // what the level timer does
                return !LiveEffectLoaded();
            },
            8000);
    });
    const int before = CountPrefix(Log("chunk_state"), "process");
    PumpUntil([&] { return CountPrefix(Log("chunk_state"), "process") >= before + 5; }, 3000);
    EXPECT_EQ(
        (Flags{box.seen == 1 && !box.texts.empty() &&
                   box.texts[0].find(L"crash_later") != std::wstring::npos,
               CountPrefix(Log("chunk_state"), "process") >= before + 5, pluginActive.load() == 1,
               ChainedEffectCount() == 1, currentSlot->VstIsolated, ActivePluginPath() != nullptr}),
        (Flags{true, true, true, true, true, true}));
    UnloadPluginCommand(dialog);
    EXPECT_EQ((Flags{ChainedEffectCount() == 0, pluginActive.load() == 0, BlockEffectCount() == 0}),
              (Flags{true, true, true}))
        << "nothing released is left to the blocks";
}

// A slot's chain comes back with the slot, each chained effect with the state its position's
// file kept (here the block count the effect keeps in its chunk).
TEST_F(Plugin, AChainComesBackWithItsSlotEachEffectWithItsState) {
    OpenDialog();
    ASSERT_TRUE(StartTestStream(L"20"));
    Listen("chunk_counter");
    ChooseVariant("copy_through");
    NameChained(0, "chunk_counter");
    LoadPluginCommand(dialog);
    ASSERT_TRUE(
        PumpUntil([&] { return CountPrefix(Log("chunk_counter"), "process") >= 10; }, 5000));
    SaveSlotWithPlugin(dialog);
    ResetLiveEffect(); // as at the next start
    Listen("chunk_counter");
    BringBackSlotPlugin(dialog);
    const std::vector<std::string> log = Log("chunk_counter");
    const auto received = std::find_if(log.begin(), log.end(), [](const std::string& line) {
        return line.rfind("chunk received blocks=", 0) == 0;
    });
    ASSERT_NE(received, log.end());
    EXPECT_GE(std::stoi(received->substr(std::strlen("chunk received blocks="))), 10);
    EXPECT_EQ(ChainedEffectCount(), 1u);
    UnloadPluginCommand(dialog);
}

// The chain window, while the stream runs: effects added after the first, moved, bypassed and
// removed, the blocks going through what the rows say, each change kept in the settings file at
// once; its texts follow the language.
TEST_F(Plugin, TheChainWindowAddsMovesBypassesAndRemovesWhileTheStreamRuns) {
    OpenDialog();
    ASSERT_TRUE(StartTestStream(L"20"));
    Listen("chunk_state");
    Listen("param_state");
    ChooseVariant("copy_through");
    LoadPluginCommand(dialog);
    SendMessageW(dialog, WM_SYSCOMMAND, ID_CHAIN, 0);
    HWND chain = ChainWindow();
    ASSERT_NE(chain, nullptr);
    const auto rows = [&] {
        Strings shown;
        const int count = int(SendDlgItemMessageW(chain, IDC_CHAIN_LIST, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            wchar_t row[512] = L"";
            SendDlgItemMessageW(chain, IDC_CHAIN_LIST, LB_GETTEXT, i,
                                reinterpret_cast<LPARAM>(row));
            shown.push_back(row);
        }
        return shown;
    };
    const auto click = [&](int id, int row) {
        SendDlgItemMessageW(chain, IDC_CHAIN_LIST, LB_SETCURSEL, row, 0);
        SendMessageW(chain, WM_COMMAND, MAKEWPARAM(IDC_CHAIN_LIST, LBN_SELCHANGE), 0);
        SendDlgItemMessageW(chain, id, BM_CLICK, 0, 0);
    };
    const auto flowing = [&](const char* variant) {
        const int before = CountPrefix(Log(variant), "process");
        return PumpUntil([&] { return CountPrefix(Log(variant), "process") >= before + 3; }, 3000);
    };
    const std::wstring bits = sizeof(void*) == 8 ? L"  64-bit" : L"  32-bit";
    EXPECT_EQ(rows(), (Strings{L"1. copy_through.dll" + bits}));
    // Tab moves on from the list, though the main window's loop is the one that takes the key.
    SetFocus(GetDlgItem(chain, IDC_CHAIN_LIST));
    PostMessageW(GetDlgItem(chain, IDC_CHAIN_LIST), WM_KEYDOWN, VK_TAB, 0);
    Pump(100);
    EXPECT_EQ(GetFocus(), GetDlgItem(chain, IDC_CHAIN_ADD));

    ASSERT_TRUE(AddToChain(dialog, TestPluginPath("chunk_state").c_str()));
    ASSERT_TRUE(AddToChain(dialog, TestPluginPath("param_state").c_str()));
    EXPECT_EQ(rows(), (Strings{L"1. copy_through.dll" + bits, L"2. chunk_state.dll" + bits,
                               L"3. param_state.dll" + bits}));
    EXPECT_TRUE(flowing("chunk_state") && flowing("param_state"));
    // One that does not open is told, as the main window's load tells it, and adds no row.
    bool refused = true;
    const Box box = AnswerBoxes(dialog, Button(IDOK), [&] {
        refused = !AddToChain(dialog, TestPluginPath("no_inputs").c_str());
    });
    EXPECT_EQ(std::make_tuple(refused, box.seen, box.texts),
              std::make_tuple(true, 1,
                              Strings{L"VSTプラグインのオープンに失敗しました。\nno_inputs.dll"}));
    EXPECT_EQ(rows().size(), 3u);

    click(IDC_CHAIN_DOWN, 1);
    click(IDC_CHAIN_BYPASS, 2);
    EXPECT_EQ(rows(), (Strings{L"1. copy_through.dll" + bits, L"2. param_state.dll" + bits,
                               L"3. chunk_state.dll" + bits + L"  バイパス中"}));
    EXPECT_TRUE(flowing("param_state"));
    const int bypassedBefore = CountPrefix(Log("chunk_state"), "process");
    Pump(300);
    EXPECT_EQ(CountPrefix(Log("chunk_state"), "process"), bypassedBefore) << "passed by";
    wchar_t kept[300] = L"";
    GetPrivateProfileStringW(L"Settings00", L"VstPath2", L"", kept, 300, settingsFile.c_str());
    EXPECT_EQ(std::wstring(FileNameOf(kept)), L"param_state.dll") << "kept at once";

    click(IDC_CHAIN_REMOVE, 1);
    EXPECT_EQ(rows(), (Strings{L"1. copy_through.dll" + bits,
                               L"2. chunk_state.dll" + bits + L"  バイパス中"}));
    EXPECT_EQ(ChainedEffectCount(), 1u);
    GetPrivateProfileStringW(L"Settings00", L"VstPath3", L"gone", kept, 300, settingsFile.c_str());
    EXPECT_EQ(std::wstring(kept), L"gone");

    // The first moves too, both loaded: the two change places, each with its own switches,
    // kept at once, and the sound goes on through them.
    click(IDC_CHAIN_UP, 1);
    EXPECT_EQ(rows(), (Strings{L"1. chunk_state.dll" + bits + L"  バイパス中",
                               L"2. copy_through.dll" + bits}));
    wchar_t first[300] = L"";
    GetPrivateProfileStringW(L"Settings00", L"VstPath", L"", first, 300, settingsFile.c_str());
    GetPrivateProfileStringW(L"Settings00", L"VstPath2", L"", kept, 300, settingsFile.c_str());
    EXPECT_EQ((Strings{FileNameOf(first), FileNameOf(kept)}),
              (Strings{L"chunk_state.dll", L"copy_through.dll"}));
    const uint64_t frames = EffectFramesProcessed();
    EXPECT_TRUE(PumpUntil([&] { return EffectFramesProcessed() > frames + 4410; }, 3000));
    click(IDC_CHAIN_DOWN, 0);
    EXPECT_EQ(rows(), (Strings{L"1. copy_through.dll" + bits,
                               L"2. chunk_state.dll" + bits + L"  バイパス中"}));

    SendMessageW(dialog, WM_SYSCOMMAND, ID_ENGLISH, 0);
    wchar_t title[64] = L"", add[64] = L"";
    GetWindowTextW(chain, title, 64);
    GetDlgItemTextW(chain, IDC_CHAIN_ADD, add, 64);
    EXPECT_EQ((Strings{title, add, rows().back()}),
              (Strings{L"Effect chain", L"Add...", L"2. chunk_state.dll" + bits + L"  bypassed"}));
    SendMessageW(dialog, WM_SYSCOMMAND, ID_ENGLISH, 0);
    UnloadPluginCommand(dialog);
    EXPECT_EQ(rows(), (Strings{L"1. copy_through.dll" + bits + L"  (停止中)",
                               L"2. chunk_state.dll" + bits + L"  バイパス中  (停止中)"}));
    SendMessageW(chain, WM_CLOSE, 0, 0);
    EXPECT_EQ(ChainWindow(), nullptr);
}

TEST_F(Plugin, TheEditorIsSizedOwnedIdledAndClosedBeforeTheEffect) {
    OpenDialog();
    ChooseVariant("editor");
    LoadPluginCommand(dialog);
    HWND editor = FindWindowW(nullptr, L"Kawauso++");
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor, static_cast<HWND>(LiveEditorWindow()));
    EXPECT_EQ(GetWindow(editor, GW_OWNER), dialog);
    RECT client;
    GetClientRect(editor, &client); // the effect's rectangle 20,10-420,60, raised to the least
    EXPECT_EQ(std::make_pair(client.right, client.bottom), std::make_pair(400L, 100L));
    EXPECT_EQ(GetWindowLongW(editor, GWL_STYLE) & (WS_POPUP | WS_CAPTION | WS_SYSMENU |
                                                   WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
              WS_POPUP | WS_CAPTION | WS_SYSMENU);
    EXPECT_NE(SendMessageW(editor, WM_GETICON, ICON_BIG, 0), 0) << "the program's icon";
    EXPECT_EQ(HostCallback(LiveInProcessEffect(), audioMasterSizeWindow, 320, 200, nullptr, 0.0f),
              1);
    GetClientRect(editor, &client);
    EXPECT_EQ(std::make_pair(client.right, client.bottom), std::make_pair(320L, 200L)) << "asked";
    EXPECT_EQ(Calls("editor"), (CallList{Call(effOpen), Call(effSetSampleRate, 0, "44100"),
                                         Call(effEditOpen, 0, "0", 0, "set"),
                                         Call(effEditGetRect, 0, "0", 0, "set")}));

    ShowEditor(SW_HIDE);
    Pump(150);
    EXPECT_GT(Count(Calls("editor"), effEditIdle), 0) << "idled, hidden too";
    ShowEditor(SW_SHOWNORMAL);
    SendMessageW(editor, WM_SYSCOMMAND, SC_CLOSE, 0); // the close box
    Pump();
    EXPECT_EQ((Flags{IsWindow(editor) != FALSE, LiveEditorWindow() != nullptr}),
              (Flags{false, false}));
    const int idles = Count(Calls("editor"), effEditIdle);
    Pump(100);
    EXPECT_EQ(Count(Calls("editor"), effEditIdle), idles) << "no idling without a window";
    EXPECT_EQ(Count(Calls("editor"), effEditClose), 1);
    ExpectPluginControls(true);

    Command(IDC_VST_EDIT); // a new window; pressed again it is raised, not duplicated
    SetForegroundWindow(dialog);
    Command(IDC_VST_EDIT);
    Pump();
    editor = FindWindowW(nullptr, L"Kawauso++");
    EXPECT_EQ(GetForegroundWindow(), editor);
    EXPECT_EQ(Count(Calls("editor"), effEditOpen), 2);

    const size_t before = Calls("editor").size();
    Command(IDC_VST_LOAD);
    const CallList calls = Calls("editor");
    EXPECT_EQ(CallList(calls.begin() + static_cast<long>(before), calls.end()),
              (CallList{Call(effMainsChanged), Call(effEditClose), CLOSE}));
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_EQ(Command(IDC_VST_EDIT), FALSE) << "no plug-in active";
}

// A file refused by its header (no PE image, another processor's): the box says which, on a
// line of its own, and nothing was loaded.
TEST_F(Plugin, AFileRefusedByItsHeaderIsNamedInTheBox) {
    const std::wstring here = WideFromUtf8(ProgramDirectory()) + L"\\";
    WriteBytes(here + L"not_pe.dll", "this is no DLL");
    std::string arm = ReadBytes(TestPluginPath("copy_through"));
    uint32_t header = 0;
    std::memcpy(&header, &arm[60], 4);
    arm[header + 4] = '\x64', arm[header + 5] = '\xAA'; // IMAGE_FILE_MACHINE_ARM64
    WriteBytes(here + L"arm64.dll", arm);
    OpenDialog();
    const std::pair<const wchar_t*, std::wstring> rows[] = {
        {L"not_pe.dll", L"Windows の DLL ではありません（PE ヘッダーがありません）。"},
        {L"arm64.dll", L"x86 / x64 以外のプロセッサ用の DLL です。"}};
    for (const auto& [file, why] : rows) {
        std::wcsncpy(currentSlot->VstPath, (here + file).c_str(), VST_PATH_MAX_UNITS);
        const Box box = AnswerBoxes(dialog, Button(IDOK), [&] { LoadPluginCommand(dialog); });
        ASSERT_EQ(box.texts.size(), 1u) << file;
        EXPECT_EQ(box.texts[0], L"VSTプラグインのオープンに失敗しました。\n" + why) << file;
        ExpectPluginControls(false);
        DeleteFileW((here + file).c_str());
    }
}

// A refused effect, a fault while it opens, in its editor's opening or in its idle call (found
// by the editor's timer): the effect is called no more, and the user is told once, in an error
// box with OK only, shown outside EngineLock after the controls switched.
TEST_F(Plugin, ARefusedOrFaultingEffectIsCutLooseAndTheUserToldOutsideTheLock) {
    OpenDialog();
    ChooseVariant("copy_through");
    LoadPluginCommand(dialog);
    const std::wstring ISOLATED_NEXT = L"次回からは別プロセスで実行します。";
    const std::tuple<const char*, int, std::wstring> cases[] = {
        {"no_inputs", effClose, L"VSTプラグインのオープンに失敗しました。"},
        {"crash_open", effOpen, L"crash_open.dll (0xC0000005)\n" + ISOLATED_NEXT},
        {"crash_edit_open", effEditOpen, L"crash_edit_open.dll (0xC0000005)\n" + ISOLATED_NEXT},
        {"crash_edit_idle", effEditIdle, L"crash_edit_idle.dll (0xC0000005)\n" + ISOLATED_NEXT}};
    for (const auto& [variant, lastCall, detail] : cases) {
        ChooseVariant(variant);
        currentSlot->VstIsolated = false; // as the fault before left it, for this one in-process
        std::wstring captionMeanwhile;
        bool lockFree = false, hasCancel = true;
        const Box box = AnswerBoxes(
            dialog, Button(IDOK),
            [&] {
                LoadPluginCommand(dialog);
                PumpUntil([] { return LiveInProcessEffect() == nullptr; }, 1000);
            },
            0,
            [&](HWND b) {
                captionMeanwhile = Text(IDC_VST_LOAD);
                hasCancel = GetDlgItem(b, IDCANCEL) != nullptr;
                lockFree = EngineLockFree();
            });
        EXPECT_EQ(std::make_tuple(box.seen, box.title, box.owner, hasCancel, box.icon,
                                  captionMeanwhile, lockFree, box.texts.size()),
                  std::make_tuple(1, L"Kawauso04", dialog, false, LoadIconW(nullptr, IDI_ERROR),
                                  L"VST読込", true, size_t(1)))
            << variant;
        const std::wstring text = box.texts.empty() ? L"" : box.texts[0];
        EXPECT_EQ(text.substr(text.find(L'\n') + 1), detail) << "after the message's own line";
        EXPECT_EQ(currentSlot->VstIsolated, detail.find(ISOLATED_NEXT) != std::wstring::npos);
        EXPECT_EQ(FindWindowW(nullptr, L"Kawauso++"), nullptr) << variant;
        ExpectPluginControls(false);
        EXPECT_EQ(Calls(variant).back().rfind(
                      Call(lastCall, 0, "0", 0, lastCall == effEditOpen ? "set" : "null"), 0),
                  0u)
            << variant << ": called after its fault";
    }
}

// An effect that shows a box of its own while it opens: meanwhile the sound goes on (the lock
// is free) and a close waits until the load ends, then unloads the effect and saves the slot.
TEST_F(Plugin, WhileAnEffectOpensTheStageGoesOnAndACloseWaitsForIt) {
    OpenDialog();
    ASSERT_TRUE(StartTestStream());
    ChooseVariant("modal_open");
    bool lockFree = false, stillOpen = false;
    const Box box = AnswerBoxes(
        nullptr, Button(IDOK), [&] { LoadPluginCommand(dialog); }, 0,
        [&](HWND) {
            lockFree = EngineLockFree();
            SendMessageW(dialog, WM_CLOSE, 0, 0);
            stillOpen = running == 1 && pluginActive.load() == 0;
        });
    EXPECT_EQ(box.title, L"Kawauso04 test effect");
    EXPECT_TRUE(lockFree) << "no lock held while the effect opens";
    EXPECT_TRUE(stillOpen) << "the close waited, the stream ran on through the stage";
    Pump(200); // the close, posted again
    EXPECT_EQ(running, 0);
    EXPECT_EQ(Calls("modal_open").back(), CLOSE);
    EXPECT_NE(ReadSettings().find(L"[Settings00]"), std::wstring::npos) << "the slot was saved";
    DestroyWindow(dialog);
    dialog = nullptr;
}

// A load and an unload are saved with the slot a few seconds later, as the close would save
// them: an effect the user took out does not come back after a crash.
TEST_F(Plugin, ALoadAndAnUnloadAreSavedWithinSecondsNotOnlyAtTheClose) {
    WriteSettings(L"[Settings00]\r\nBufferSize=50\r\n");
    OpenDialog();
    const auto savedWithin4s = [&](bool active) {
        return PumpUntil(
            [&] { return (ReadSettings().find(L"VstActive=1") != std::wstring::npos) == active; },
            4000);
    };
    ChooseVariant("copy_through");
    LoadPluginCommand(dialog);
    ASSERT_EQ(pluginActive.load(), 1);
    EXPECT_TRUE(savedWithin4s(true)) << "after the load";
    UnloadPluginCommand(dialog);
    EXPECT_TRUE(savedWithin4s(false)) << "after the unload";
}

// A slot's effect given back its state at start counts as loading until it has processed a
// second. Meanwhile an effect still opening is never sized (Start is refused), and the
// session's end keeps the slot's keys and the effect's state.
TEST_F(Plugin, ARestoredEffectIsMarkedForItsFirstSecondAndAnOpeningOneIsNeverSized) {
    const std::vector<uint8_t> state(4, 'K');
    for (const char* variant : {"modal_open", "copy_through"}) {
        CloseDialog(); // the last round's, if any
        WriteSettings(L"[Settings00]\r\nVstPath=" + TestPluginPath(variant) +
                      L"\r\nVstActive=1\r\n");
        BuildIniPath();
        ASSERT_TRUE(WriteSlotPluginState(0, TestPluginPath(variant).c_str(), state));
        const bool opening = std::strcmp(variant, "modal_open") == 0;
        AnswerBoxes(
            nullptr, Button(IDOK), [&] { OpenDialog(); }, 0,
            [&](HWND box) {
                HWND main = FindWindowW(nullptr, L"Kawauso04");
                if (box != main) { // the effect's own box, as it opens
                    EXPECT_EQ(SendMessageW(main, WM_COMMAND, ID_START, 0), 0)
                        << "refused meanwhile";
                    SendMessageW(main, WM_ENDSESSION, TRUE, 0);
                }
            });
        std::vector<uint8_t> kept;
        EXPECT_EQ((Flags{ReadSettings().find(L"VstActive=1") != std::wstring::npos,
                         ReadSlotPluginState(0, TestPluginPath(variant).c_str(), kept),
                         SlotPluginLoadMarked(0)}),
                  (Flags{true, true, !opening}))
            << variant << ": the session's end took nothing; a finished load stays marked";
    }
    const uint64_t before = EffectFramesProcessed();
    ASSERT_TRUE(StartTestStream());
    EXPECT_TRUE(PumpUntil([] { return !SlotPluginLoadMarked(0); }, 3000));
    EXPECT_GE(EffectFramesProcessed() - before, 44100u) << "not before its first second";
}

} // namespace
