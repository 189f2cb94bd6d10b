// The plug-in commands driven in the running main dialog with the project's test effects:
// what each effect is told and in which order, the controls, the failure report, and the
// audio that passes through an effect.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "audio/engine_state.h"
#include "audio/slider_tables.h"
#include "plugin/plugin_commands.h"
#include "plugin/plugin_host.h"
#include "plugin/vst2.h"
#include "res/resource.h"
#include "settings/settings_store.h"
#include "tests/app/audio_probe.h"
#include "tests/app/modal_driver.h"
#include "tests/app/plugin_dialog_fixture.h"
#include "tests/support/test_plugins.h"

namespace {

using PluginLoad = PluginDialogTest;
using PluginUnload = PluginDialogTest;
using PluginRejection = PluginDialogTest;
using PluginAudio = PluginDialogTest;

const wchar_t LOAD_FAILED_TEXT[] = L"VSTプラグインのオープンに失敗しました。";

void ExpectCall(const DispatcherCall& call, int opcode, long long value, double opt,
                const char* what) {
    EXPECT_EQ(call.opcode, opcode) << what;
    EXPECT_EQ(call.value, value) << what;
    EXPECT_EQ(call.opt, opt) << what;
    EXPECT_FALSE(call.ptrSet) << what;
}

bool BuffersReleased() {
    for (float* buffer : pluginBuffers) {
        if (buffer != nullptr) {
            return false;
        }
    }
    return true;
}

DWORD WINAPI TakeEngineLock(LPVOID) {
    LockEnter(&EngineLock);
    LockLeave(&EngineLock);
    return 0;
}

// Whether another thread can take EngineLock within a second (the box is shown on the
// user-interface thread, which could take the recursive lock again itself).
bool LockIsFree() {
    HANDLE taker = CreateThread(nullptr, 0, TakeEngineLock, nullptr, 0, nullptr);
    const bool free = WaitForSingleObject(taker, 1000) == WAIT_OBJECT_0;
    CloseHandle(taker);
    return free;
}

// What the failure box showed, read while it was open, before it is confirmed with OK.
struct FailureBox {
    std::wstring title;
    std::vector<std::wstring> texts;
    HICON icon = nullptr;
    HWND owner = nullptr;
    bool hasOk = false;
    bool hasCancel = false;
    std::wstring loadCaptionMeanwhile;
    int32_t activeMeanwhile = -1;
    bool lockFreeMeanwhile = false;
};

TEST_F(PluginLoad, WhileStoppedTheEffectIsOpenedAndToldTheRateOnly) {
    OpenDialog();
    Listen("copy_through");
    ChooseVariant("copy_through");
    LoadPluginCommand(dialog);
    Pump(100);

    const std::vector<std::string> lines = Log("copy_through");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "attach");
    EXPECT_EQ(lines[1], "entry VSTPluginMain");
    const std::vector<DispatcherCall> calls = DispatcherCalls(lines);
    ASSERT_EQ(calls.size(), 2u) << "nothing but effOpen and effSetSampleRate";
    ExpectCall(calls[0], effOpen, 0, 0.0, "effOpen");
    ExpectCall(calls[1], effSetSampleRate, 0, 44100.0, "effSetSampleRate");
    EXPECT_EQ(CountLines(lines, "process"), 0);
    EXPECT_EQ(blockSizeSent, BLOCK_SIZE_NOT_SENT);
    EXPECT_TRUE(BuffersReleased()) << "no buffers before a stream sizes them";

    ExpectActiveControls();
    EXPECT_EQ(Editor(), nullptr) << "this effect has no editor";
    EXPECT_TRUE(Enabled(IDC_VST_EDIT)) << "enabled all the same";
    EXPECT_EQ(MainDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_VST_EDIT, BN_CLICKED),
                             reinterpret_cast<LPARAM>(Item(IDC_VST_EDIT))),
              TRUE);
    EXPECT_EQ(Editor(), nullptr);

    // Another slot neither loads nor unloads.
    SelectSlot(1);
    Pump();
    EXPECT_NE(effect, nullptr);
    ExpectActiveControls();
    EXPECT_EQ(Calls("copy_through").size(), 2u);
}

TEST_F(PluginLoad, WhileRunningTheEffectIsSizedForTheStreamAndCarriesIt) {
    OpenDialog();
    ASSERT_TRUE(StartTestStream());
    const uint32_t frames = bufferBytes / 4;
    ASSERT_GT(frames, 0u);
    Listen("copy_through");
    ChooseVariant("copy_through");
    LoadPluginCommand(dialog);
    // The devices' first blocks may take a while to come.
    for (int i = 0; i < 100 && CountLines(Log("copy_through"), "process") < 3; ++i) {
        Pump(50);
    }

    const std::vector<std::string> lines = Log("copy_through");
    const std::vector<DispatcherCall> calls = DispatcherCalls(lines);
    ASSERT_EQ(calls.size(), 5u) << "no block-size catch-up later";
    ExpectCall(calls[0], effOpen, 0, 0.0, "effOpen");
    ExpectCall(calls[1], effSetSampleRate, 0, 44100.0, "effSetSampleRate");
    ExpectCall(calls[2], effMainsChanged, 0, 0.0, "suspend");
    ExpectCall(calls[3], effSetBlockSize, frames, 0.0, "effSetBlockSize");
    ExpectCall(calls[4], effMainsChanged, 1, 0.0, "resume");
    EXPECT_EQ(blockSizeSent, static_cast<int32_t>(frames));
    EXPECT_EQ(blockSize, frames);

    const std::string fullBlock = "process frames=" + std::to_string(frames) + " ";
    EXPECT_GT(CountLines(lines, fullBlock.c_str()), 0) << "the stream's blocks reach the effect";
    EXPECT_EQ(CountLines(lines, fullBlock.c_str()), CountLines(lines, "process"));
    ExpectActiveControls();
    EXPECT_EQ(running, 1);
}

TEST_F(PluginLoad, TheButtonLoadsTheFileChosenInTheFileDialog) {
    OpenDialog();
    Listen("copy_through");
    ChooseVariant("copy_through");
    const std::wstring chosen = currentSlot->VstPath;

    // Cancelled: nothing is loaded and the path stays.
    std::wstring title;
    {
        ModalDriver driver(dialog, [&](HWND box, int tick) {
            if (tick == 5) {
                title = WindowTitle(box);
                PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
            }
        });
        Command(IDC_VST_LOAD);
        EXPECT_EQ(driver.boxesSeen(), 1) << "the file dialog opened";
        EXPECT_FALSE(driver.stuck());
    }
    EXPECT_EQ(title, L"VST プラグインを開く");
    EXPECT_EQ(effect, nullptr);
    EXPECT_EQ(pluginActive.load(), 0);
    EXPECT_EQ(Text(IDC_VST_LOAD), L"VST読込(&R)") << "untouched by a cancel";
    EXPECT_EQ(std::wstring(currentSlot->VstPath), chosen);
    EXPECT_TRUE(Log("copy_through").empty());

    // Confirmed with the slot's path as the initial file name: loaded, as the command does.
    {
        ModalDriver driver(dialog, [&](HWND box, int tick) {
            if (tick == 5) {
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
        });
        Command(IDC_VST_LOAD);
        EXPECT_EQ(driver.boxesSeen(), 1);
        EXPECT_FALSE(driver.stuck());
    }
    EXPECT_NE(effect, nullptr);
    ExpectActiveControls();
    EXPECT_EQ(_wcsicmp(currentSlot->VstPath, chosen.c_str()), 0);
    EXPECT_EQ(CountCalls(Calls("copy_through"), effOpen), 1);
}

TEST_F(PluginUnload, TheButtonUnloadsAnActiveEffectWithoutAFileDialog) {
    OpenDialog();
    Listen("copy_through");
    ChooseVariant("copy_through");
    LoadPluginCommand(dialog);
    const size_t before = Calls("copy_through").size();

    ModalDriver driver(dialog, [](HWND box, int) { PostMessageW(box, WM_COMMAND, IDCANCEL, 0); });
    Command(IDC_VST_LOAD);
    EXPECT_EQ(driver.boxesSeen(), 0) << "no file dialog for an unload";

    const std::vector<std::string> lines = Log("copy_through");
    const std::vector<DispatcherCall> calls = DispatcherCalls(lines);
    ASSERT_EQ(calls.size(), before + 2);
    ExpectCall(calls[before], effMainsChanged, 0, 0.0, "suspend");
    ExpectCall(calls[before + 1], effClose, 0, 0.0, "effClose");
    EXPECT_EQ(lines.back(), "detach") << "the library is freed";
    EXPECT_EQ(effect, nullptr);
    EXPECT_EQ(pluginModule, nullptr);
    ExpectInactiveControls();
}

TEST_F(PluginUnload, WithNothingLoadedReleasesTheBuffersAndShowsTheInactiveState) {
    OpenDialog();
    ASSERT_TRUE(StartTestStream());
    EXPECT_FALSE(BuffersReleased()) << "the start sizes the buffers even without an effect";
    UnloadPluginCommand(dialog);
    EXPECT_TRUE(BuffersReleased());
    EXPECT_EQ(effect, nullptr);
    ExpectInactiveControls();
    EXPECT_EQ(running, 1) << "the stream goes on through the stage";
}

TEST_F(PluginRejection, AMonoEffectIsReportedAndTheEffectBeforeItIsGone) {
    OpenDialog();
    Listen("copy_through");
    ChooseVariant("copy_through");
    LoadPluginCommand(dialog);
    ASSERT_NE(effect, nullptr);
    const size_t before = Calls("copy_through").size();

    Listen("mono");
    ChooseVariant("mono");
    FailureBox seen;
    {
        ModalDriver driver(dialog, [&](HWND box, int tick) {
            if (tick != 0) {
                return;
            }
            seen.title = WindowTitle(box);
            seen.texts = StaticTexts(box);
            seen.icon = BoxIcon(box);
            seen.owner = GetWindow(box, GW_OWNER);
            seen.hasOk = GetDlgItem(box, IDOK) != nullptr;
            seen.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
            seen.loadCaptionMeanwhile = Text(IDC_VST_LOAD);
            seen.activeMeanwhile = pluginActive.load();
            seen.lockFreeMeanwhile = LockIsFree();
            PostMessageW(box, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        });
        LoadPluginCommand(dialog);
        EXPECT_EQ(driver.boxesSeen(), 1);
        EXPECT_FALSE(driver.stuck());
    }
    EXPECT_EQ(seen.title, L"Kawauso04");
    ASSERT_EQ(seen.texts.size(), 1u);
    EXPECT_EQ(seen.texts[0], LOAD_FAILED_TEXT);
    EXPECT_EQ(seen.icon, LoadIconW(nullptr, IDI_ERROR)) << "the error icon";
    EXPECT_EQ(seen.owner, dialog);
    EXPECT_TRUE(seen.hasOk);
    EXPECT_FALSE(seen.hasCancel) << "an OK button only";
    EXPECT_EQ(seen.loadCaptionMeanwhile, L"VST読込") << "controls switched before the box";
    EXPECT_EQ(seen.activeMeanwhile, 0);
    EXPECT_TRUE(seen.lockFreeMeanwhile) << "the box is shown outside EngineLock";

    ExpectInactiveControls();
    EXPECT_EQ(effect, nullptr);
    EXPECT_EQ(pluginModule, nullptr);

    const std::vector<std::string> previous = Log("copy_through");
    const std::vector<DispatcherCall> previousCalls = DispatcherCalls(previous);
    ASSERT_EQ(previousCalls.size(), before + 2) << "the effect loaded before is unloaded";
    ExpectCall(previousCalls[before], effMainsChanged, 0, 0.0, "suspend");
    ExpectCall(previousCalls[before + 1], effClose, 0, 0.0, "effClose");
    EXPECT_EQ(previous.back(), "detach");

    const std::vector<std::string> mono = Log("mono");
    const std::vector<DispatcherCall> monoCalls = DispatcherCalls(mono);
    ASSERT_EQ(monoCalls.size(), 2u) << "a rejected record is suspended and closed, never opened";
    ExpectCall(monoCalls[0], effMainsChanged, 0, 0.0, "suspend");
    ExpectCall(monoCalls[1], effClose, 0, 0.0, "effClose");
    EXPECT_EQ(mono.back(), "detach");
}

TEST_F(PluginRejection, EveryCauseGivesTheSameReport) {
    OpenDialog();
    const std::wstring missing = TestPluginPath("copy_through") + L".missing.dll";
    struct Cause {
        const char* what;
        std::wstring path;
    } causes[] = {
        {"no inputs", TestPluginPath("no_inputs")},
        {"no entry point", TestPluginPath("no_entry")},
        {"entry point returns none", TestPluginPath("null_effect")},
        {"no such file", missing},
    };
    for (const Cause& cause : causes) {
        wcsncpy(currentSlot->VstPath, cause.path.c_str(), VST_PATH_MAX_UNITS);
        std::vector<std::wstring> texts;
        std::wstring title;
        ModalDriver driver(dialog, [&](HWND box, int tick) {
            if (tick == 0) {
                title = WindowTitle(box);
                texts = StaticTexts(box);
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
        });
        LoadPluginCommand(dialog);
        EXPECT_EQ(driver.boxesSeen(), 1) << cause.what;
        EXPECT_EQ(title, L"Kawauso04") << cause.what;
        ASSERT_EQ(texts.size(), 1u) << cause.what;
        EXPECT_EQ(texts[0], LOAD_FAILED_TEXT) << cause.what;
        EXPECT_EQ(effect, nullptr) << cause.what;
        EXPECT_EQ(pluginModule, nullptr) << cause.what;
        ExpectInactiveControls();
    }
}

TEST_F(PluginRejection, AWrongMagicNumberIsAccepted) {
    OpenDialog();
    ChooseVariant("bad_magic");
    ModalDriver driver(dialog, [](HWND box, int) { PostMessageW(box, WM_COMMAND, IDOK, 0); });
    LoadPluginCommand(dialog);
    EXPECT_EQ(driver.boxesSeen(), 0) << "no failure report";
    EXPECT_NE(effect, nullptr);
    ExpectActiveControls();
}

// The tone the player loops, as the bridge gives it back: s / 32768 as a float, then
// x * 32768 + 0.5 truncated, so negative samples come back one step nearer zero.
std::vector<int16_t> ToneThroughBridge(double frequency, double amplitude) {
    std::vector<int16_t> tone(44100);
    for (size_t k = 0; k < tone.size(); ++k) {
        const int16_t s = static_cast<int16_t>(
            amplitude * std::sin(2.0 * 3.14159265358979323846 * frequency *
                                 static_cast<double>(k) / 44100.0));
        tone[k] = static_cast<int16_t>(s < 0 ? s + 1 : s);
    }
    return tone;
}

constexpr size_t PIECE_FRAMES = 2205;  // 50 ms

// Whether a piece of a recording equals the expected loop frame for frame, left and right, at
// some alignment. The devices drop a few milliseconds now and then (more on a busy machine),
// so a recording is judged piece by piece: a dropout spoils only its own piece.
bool PieceIsExact(const int16_t* piece, const std::vector<int16_t>& loop) {
    const size_t n = loop.size();
    for (size_t offset = 0; offset < n; ++offset) {
        size_t k = 0;
        while (k < PIECE_FRAMES && piece[2 * k] == loop[(offset + k) % n] &&
               piece[2 * k + 1] == loop[(offset + k) % n]) {
            ++k;
        }
        if (k == PIECE_FRAMES) {
            return true;
        }
    }
    return false;
}

TEST_F(PluginAudio, TheCopyThroughEffectPassesTheToneUnchanged) {
    OpenDialog();
    // The stage would raise the level tenfold and the pitch an octave; neither may apply.
    SendMessageW(Item(IDC_VOLUME), TBM_SETPOS, TRUE, -100);
    SendMessageW(dialog, WM_VSCROLL, TB_ENDTRACK, reinterpret_cast<LPARAM>(Item(IDC_VOLUME)));
    Command(IDC_HI);
    Pump();
    ASSERT_EQ(gain, GainForVolumePosition(-100));
    ASSERT_EQ(pitchRatio, PitchRatioForPosition(-200));

    const double frequency = 450.0, amplitude = 6000.0;
    TonePlayer tone;
    ASSERT_TRUE(tone.Start(L"TestMic", frequency, amplitude));
    ASSERT_TRUE(StartTestStream());
    Listen("copy_through");
    ChooseVariant("copy_through");
    LoadPluginCommand(dialog);
    ASSERT_EQ(pluginActive.load(), 1);

    // The one-second fade-in counts processed frames, and the first block may come late.
    for (int i = 0; i < 100 && fadePair.load().fadeCounter < fadePair.load().fadeTarget; ++i) {
        Pump(50);
    }
    ASSERT_GE(fadePair.load().fadeCounter, fadePair.load().fadeTarget) << "fade-in complete";
    Recorder recorder;
    ASSERT_TRUE(recorder.Start(L"Monitor of TestSpeaker"));
    recorder.Take(700);  // what is still on its way through the devices
    const std::vector<int16_t> recorded = recorder.Take(2000);
    const size_t pieces = recorded.size() / 2 / PIECE_FRAMES;
    ASSERT_GE(pieces, 30u);

    const std::vector<int16_t> loop = ToneThroughBridge(frequency, amplitude);
    size_t exactPieces = 0;
    std::vector<double> levels;
    for (size_t p = 0; p < pieces; ++p) {
        exactPieces += PieceIsExact(&recorded[2 * p * PIECE_FRAMES], loop) ? 1 : 0;
        levels.push_back(Rms(recorded, p * PIECE_FRAMES, PIECE_FRAMES));
    }
    RecordProperty("exactPieces", std::to_string(exactPieces) + " of " + std::to_string(pieces));
    EXPECT_GE(exactPieces * 2, pieces)
        << exactPieces << " of " << pieces << " pieces of 50 ms exactly as the bridge rounds them";

    std::sort(levels.begin(), levels.end());
    const double inputRms = amplitude / std::sqrt(2.0);
    EXPECT_NEAR(levels[pieces / 2], inputRms, inputRms * 0.02) << "level unchanged";
    EXPECT_LT(PeakAbs(recorded, 0, pieces * PIECE_FRAMES), static_cast<int>(amplitude) + 2)
        << "no gain";
    EXPECT_NEAR(DominantFrequency(recorded, 200.0, 1000.0), frequency, 2.0) << "pitch unchanged";
    EXPECT_GT(CountLines(Log("copy_through"), "process"), 0);
}

}  // namespace
