#include "app/plugin_commands.h"

#include <cwchar>
#include <cwctype>
#include <string>

#include "audio/engine_state.h"
#include "audio/stream.h"
#include "app/balloon.h"
#include "app/chain_window.h"
#include "app/chained_effects.h"
#include "app/live_effect.h"
#include "app/stream_commands.h"
#include "app/texts.h"
#include "plugin/editor_window.h"
#include "plugin/plugin_call_watch.h"
#include "platform/platform.h"
#include "app/isolation_menu.h"
#include "res/resource.h"
#include "settings/settings_store.h"

namespace {

constexpr DWORD CALL_POLL_MS = 1;
constexpr UINT DEFERRED_POLL_MS = 10;
constexpr DWORD PROGRAM_PATH_UNITS = 1024;

// The path the loaded effect came from: the slot's path may change while it stays loaded.
wchar_t loadedPath[VST_PATH_UNITS];

// True while a load runs. An effect may show a box of its own while it opens, whose message
// loop lets other commands in: a close or another load then would pull the effect away from
// under its own opening, so they wait for the load (the close is posted again after it).
bool loading = false;
bool closeWaiting = false;
bool resumeWaiting = false;
bool unloadWaiting = false;
bool editorWaiting = false;
bool slotWaiting = false;

// A load, or any other call on the effect whose wait lets messages in: what would unload,
// restart or reload the effect under it waits until it has returned.
bool Busy() {
    return loading || LiveEffectCallUnderWay();
}

// What waited for a call (not a load, whose end runs it) runs from the timer once it is done.
void WaitForTheCall(HWND mainWindow) {
    if (!loading) {
        SetTimer(mainWindow, TIMER_PLUGIN_DEFERRED, DEFERRED_POLL_MS, nullptr);
    }
}

// A request asked while busy is marked to run once the load or the call has returned; true when
// it was kept so.
bool KeptForLater(HWND mainWindow, bool& waiting) {
    if (!Busy()) {
        return false;
    }
    waiting = true;
    WaitForTheCall(mainWindow);
    return true;
}

// Takes the effect away from the stream: once the lock has been held with pluginActive off, no
// block enters the effect, and once the call marked then is done none is inside it, so what
// follows needs no lock and the sound goes on through the stage meanwhile. That call is waited
// for no longer than a user may be kept waiting: then it is given up, the effect is cut loose
// as hung and the stream starts again without the stuck thread. False in that case.
bool DetachFromStream(HWND mainWindow) {
    LockEnter(&EngineLock);
    pluginActive.store(0);
    LockLeave(&EngineLock);
    const DWORD start = GetTickCount();
    while (PluginCallRunning()) {
        if (GetTickCount() - start >= pluginHangFloorMs && GiveUpPluginCallAfter(0)) {
            RestartStream(mainWindow);
            return false;
        }
        Sleep(CALL_POLL_MS);
    }
    return true;
}

// The message, then the DLL's file name and the exception code (none for a hang) on a line of
// their own. An effect that failed in this process runs in a process of its own from its next
// load on: the slot says so from now, and the message ends with a line telling the user.
void ShowPluginMessage(HWND mainWindow, const wchar_t* message, uint32_t faultCode,
                       bool isolateNextTime = false) {
    std::wstring text = message;
    if (faultCode != 0) {
        wchar_t code[16] = L"";
        if (faultCode != EFFECT_HUNG) {
            std::swprintf(code, sizeof code / sizeof *code, L" (0x%08X)",
                          static_cast<unsigned>(faultCode));
        }
        text = text + L"\n" + FileNameOf(loadedPath) + code;
    }
    if (isolateNextTime) {
        currentSlot->VstIsolated = true;
        ShowIsolationCheck(mainWindow);
        text = text + L"\n" + Text(TEXT_ISOLATE_NEXT_TIME);
    }
    MessageBoxW(mainWindow, text.c_str(), L"Kawauso04", MB_OK | MB_ICONERROR);
}

// Takes a faulted effect out and tells the user: what a fault found at once and one found by a
// timer both end in. A hang in this process is given up without costing the voice more than
// its limit, so only a fault moves the effect to a process of its own.
// The first effect alone, when a chain plays after it: the chained ones play on, and the slot
// keeps the first, to load it again with the chain.
void TakeOutFirstEffect(HWND mainWindow) {
    DetachFromStream(mainWindow);
    UnloadLiveEffect(); // calls nothing of it any more, and keeps its library
    PublishLiveChain();
    pluginActive.store(1);
    RefreshChainWindow();
}

void CutLoose(HWND mainWindow, const EffectFault& fault, bool inProcess) {
    if (ChainedEffectCount() == 0) {
        UnloadPluginCommand(mainWindow); // calls nothing of it any more, and keeps its library
    } else {
        TakeOutFirstEffect(mainWindow);
    }
    const bool hung = fault.kind == EffectFaultKind::Hung;
    ShowPluginMessage(mainWindow, Text(hung ? TEXT_CUT_LOOSE_HUNG : TEXT_CUT_LOOSE),
                      FaultCodeToName(fault), inProcess && !hung);
}

// Chained effects that failed are taken out alone, and the user told once, naming them all.
void TakeOutFaultedChained(HWND mainWindow) {
    std::wstring names;
    if (ChainedEffectCount() != 0 && TakeOutFaultedChainedEffects(*currentSlot, names)) {
        if (!LiveEffectLoaded() && ChainedEffectCount() == 0) {
            SetPluginUiState(mainWindow, false); // nothing of the chain is left on
        }
        RefreshChainWindow();
        ShowPluginMessage(mainWindow, (std::wstring(Text(TEXT_CUT_LOOSE)) + L"\n" + names).c_str(),
                          0);
    }
}

// The control's notification, as the user's own use of it sends it.
void PostControlCommand(HWND mainWindow, int id, WORD code) {
    PostMessageW(mainWindow, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(mainWindow, id)));
}

// A close, a resume, the editor or a slot asked for during a load or a call runs once it has
// returned (a close first: the rest then finds the window gone).
void RunWaitingRequests(HWND mainWindow) {
    if (closeWaiting) {
        closeWaiting = editorWaiting = slotWaiting = false;
        PostMessageW(mainWindow, WM_CLOSE, 0, 0);
    }
    if (slotWaiting) {
        slotWaiting = false;
        editorWaiting = false; // the slot's own effect is another
        PostControlCommand(mainWindow, IDC_SLOT, CBN_SELCHANGE);
    }
    if (editorWaiting) {
        editorWaiting = false;
        PostControlCommand(mainWindow, IDC_VST_EDIT, BN_CLICKED);
    }
    if (resumeWaiting) {
        resumeWaiting = false;
        OnPowerResume(mainWindow);
    }
}

void EndLoad(HWND mainWindow) {
    loading = false;
    RunWaitingRequests(mainWindow);
}

// An effect in its own process whose host is gone goes on in a new one, switched in when it is
// ready (the blocks cross from the stage's sound into its own); the user hears of each restart
// in a balloon.
// Past the restart limit it is cut loose as an in-process fault would be.
void RestartGoneEffect(HWND mainWindow) {
    const EffectFault fault = LiveEffectFault();
    const bool gone = fault.kind != EffectFaultKind::None;
    if (!gone || !LiveEffectIsolated() || pluginActive.load() == 0) {
        return;
    }
    loading = true;
    DetachFromStream(mainWindow);
    const bool editorWasOpen = EditorIsOpen();
    CloseEditor(); // its window went with its host
    EffectFault why;
    const bool restarted = RestartLiveEffect(GetTickCount(), why);
    EndLoad(mainWindow);
    if (!restarted) {
        CutLoose(mainWindow, why.kind != EffectFaultKind::None ? why : fault, false);
        return;
    }
    SetPluginUiState(mainWindow, true);
    if (editorWasOpen) {
        OpenLiveEditor(mainWindow);
    }
    static std::wstring text; // the balloon's tool keeps pointing at its text
    text = std::wstring(Text(TEXT_EFFECT_RESTARTED)) + L"\n" + FileNameOf(loadedPath);
    ShowBalloon(mainWindow, IDC_VST_LOAD, text.c_str()); // which one of a chain
}

} // namespace

// A relative plug-in path is the program's folder's, never the current directory's: a portable
// set-up keeps its plug-ins beside the program, and the current directory is whatever started
// it. A path from the root of no drive gets the program's drive.
std::wstring PluginPathFromProgramFolder(const wchar_t* path) {
    const bool drive = std::iswalpha(path[0]) && path[1] == L':';
    const bool separator = path[0] == L'\\' || path[0] == L'/';
    if (path[0] == L'\0' || (separator && (path[1] == L'\\' || path[1] == L'/'))) {
        return path; // nothing, or a network path
    }
    if (drive) {
        const bool rooted = path[2] == L'\\' || path[2] == L'/';
        return rooted ? std::wstring(path) : std::wstring(path, 2) + L"\\" + (path + 2);
    }
    wchar_t program[PROGRAM_PATH_UNITS];
    const DWORD length = GetModuleFileNameW(nullptr, program, PROGRAM_PATH_UNITS);
    if (length == 0 || length >= PROGRAM_PATH_UNITS) {
        return path;
    }
    std::wstring folder = program;
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return separator ? folder.substr(0, 2) + path : folder + path;
}

LoadOutcome LoadSlotPlugin(HWND mainWindow, const std::vector<uint8_t>* state, bool openEditor) {
    if (Busy()) {
        return LoadOutcome::Failed;
    }
    loading = true;
    const bool detached = DetachFromStream(mainWindow);
    UnloadLiveEffect();
    UnloadChainedEffects();
    if (!detached) {
        ShowPluginMessage(mainWindow, Text(TEXT_CUT_LOOSE_HUNG), EFFECT_HUNG); // names the old one
    }
    std::wcsncpy(loadedPath, currentSlot->VstPath, VST_PATH_UNITS - 1);
    const bool ok = LoadLiveEffect(PluginPathFromProgramFolder(currentSlot->VstPath).c_str(),
                                   currentSlot->VstIsolated, state);
    std::wstring dropped;
    if (ok && LiveEffectLoaded()) {
        LoadChainedEffects(*currentSlot, currentSlotIndex, dropped);
        PublishLiveChain();
    }
    EndLoad(mainWindow);
    if (!dropped.empty()) { // once for all of them
        ShowPluginMessage(mainWindow,
                          (std::wstring(Text(TEXT_CHAIN_DROPPED)) + L"\n" + dropped).c_str(), 0);
    }
    if (ok && openEditor) {
        OpenLiveEditor(mainWindow);
    }
    // A fault while its state went back, while it was sized or while its editor opened: it
    // stays off, and the user hears of it now rather than at the next tick of a timer.
    const EffectFault fault = LiveEffectFault();
    if (ok && !LiveEffectHeld()) {
        return LoadOutcome::CutLoose; // a timer found the fault first, and has told the user
    }
    if (ok && fault.kind != EffectFaultKind::None) {
        CutLoose(mainWindow, fault, !LiveEffectIsolated());
        return LoadOutcome::CutLoose;
    }
    SetPluginUiState(mainWindow, ok);
    RefreshChainWindow();
    return ok ? LoadOutcome::Loaded : LoadOutcome::Failed;
}

void OpenLiveEditor(HWND mainWindow) {
    if (!KeptForLater(mainWindow, editorWaiting)) { // refused under a call, it would not open
        OpenEditor(mainWindow, LiveEffectHandle());
    }
}

void LoadPluginCommand(HWND mainWindow) {
    if (!Busy() && LoadSlotPlugin(mainWindow, nullptr, true) == LoadOutcome::Failed) {
        ReportFailedLoad(mainWindow);
    }
}

const wchar_t* FileNameOf(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c != L'\0'; ++c) {
        name = (*c == L'\\' || *c == L'/') ? c + 1 : name;
    }
    return name;
}

void ReportFailedLoad(HWND mainWindow) {
    const EffectFault fault = LiveEffectFault();
    const bool faulted = fault.kind != EffectFaultKind::None;
    ModuleMachine machine;
    if (LiveEffectRefused(&machine)) { // its header said so: nothing of it was loaded
        const TextId why = machine == ModuleMachine::Other   ? TEXT_REFUSED_MACHINE
                           : machine == ModuleMachine::NotPe ? TEXT_REFUSED_NOT_PE
                                                             : TEXT_REFUSED_UNREADABLE;
        const std::wstring text = std::wstring(Text(TEXT_LOAD_FAILED)) + L"\n" + Text(why);
        ShowPluginMessage(mainWindow, text.c_str(), 0);
        return;
    }
    std::wstring text = Text(TEXT_LOAD_FAILED);
    if (LiveEffectInOtherHost() && *Text(TEXT_OTHER_BITNESS_HOST) != L'\0') {
        text = text + L"\n" + Text(TEXT_OTHER_BITNESS_HOST); // a missing host is one cause
    }
    ShowPluginMessage(mainWindow, text.c_str(), faulted ? FaultCodeToName(fault) : 0,
                      faulted && LiveEffectInProcess());
}

void ReportFailedChainedLoad(HWND mainWindow, const wchar_t* path) {
    const std::wstring text = std::wstring(Text(TEXT_LOAD_FAILED)) + L"\n" + FileNameOf(path);
    ShowPluginMessage(mainWindow, text.c_str(), 0);
}

// An effect in its own process whose host has ended and is not started again yet is still the
// slot's: a save in between keeps it, with its last known state.
const wchar_t* ActivePluginPath() {
    const bool held = LiveEffectLoaded() || LiveEffectIsolated() || ChainedEffectCount() != 0;
    return pluginActive.load() != 0 && held ? loadedPath : nullptr;
}

void FirstEffectMoved(HWND mainWindow) {
    std::wcsncpy(loadedPath, currentSlot->VstPath, VST_PATH_UNITS - 1);
    ShowIsolationCheck(mainWindow);
}

bool PluginLoadRunning() {
    return Busy();
}

bool ResumeWaitsForLoad(HWND mainWindow) {
    return KeptForLater(mainWindow, resumeWaiting);
}

void CheckPluginFault(HWND mainWindow) {
    if (Busy()) {
        // No block enters an effect while a load runs, and a load reports its own fault; a
        // fault found during another call's wait is acted on once that call has returned.
        WaitForTheCall(mainWindow);
        return;
    }
    // What the user asked during the wait comes before a restart the wait's fault would make.
    const bool closing = closeWaiting;
    if (unloadWaiting) {
        UnloadPluginCommand(mainWindow);
    }
    RunWaitingRequests(mainWindow);
    if (closing) {
        return;
    }
    if (LiveEffectIsolated()) {
        RestartGoneEffect(mainWindow);
        TakeOutFaultedChained(mainWindow);
        return;
    }
    const uint32_t periodMs = StreamPeriodMs();
    if (periodMs != 0 && GiveUpPluginCallAfter(PluginHangLimitMs(periodMs))) {
        RestartStream(mainWindow);
    }
    const EffectFault fault = LiveEffectFault();
    if (fault.kind == EffectFaultKind::None || !LiveEffectHeld()) {
        TakeOutFaultedChained(mainWindow); // the first plays on: any chained one that failed goes
        return;
    }
    CutLoose(mainWindow, fault, true);
}

void UnloadPluginCommand(HWND mainWindow) {
    if (loading) {
        return;
    }
    if (LiveEffectCallUnderWay()) {
        unloadWaiting = true;
        WaitForTheCall(mainWindow);
        return;
    }
    unloadWaiting = false;
    const bool detached = DetachFromStream(mainWindow);
    UnloadLiveEffect();
    UnloadChainedEffects();
    SetPluginUiState(mainWindow, false);
    RefreshChainWindow();
    if (!detached) {
        ShowPluginMessage(mainWindow, Text(TEXT_CUT_LOOSE_HUNG), EFFECT_HUNG);
    }
}

bool CloseWaitsForLoad(HWND mainWindow) {
    return KeptForLater(mainWindow, closeWaiting);
}

bool SlotChangeWaitsForLoad(HWND mainWindow) {
    return KeptForLater(mainWindow, slotWaiting);
}

void OnPluginDeferredTimer(HWND mainWindow) {
    if (!Busy()) {
        KillTimer(mainWindow, TIMER_PLUGIN_DEFERRED);
        CheckPluginFault(mainWindow);
    }
}

void SetPluginUiState(HWND mainWindow, bool active) {
    pluginActive.store(active ? 1 : 0);
    SetDlgItemTextW(mainWindow, IDC_VST_LOAD, Text(active ? TEXT_VST_RELEASE : TEXT_VST_LOAD));
    EnableWindow(GetDlgItem(mainWindow, IDC_VST_EDIT), active ? TRUE : FALSE);
    const BOOL stageEnabled = active ? FALSE : TRUE;
    EnableWindow(GetDlgItem(mainWindow, IDC_VOLUME), stageEnabled);
    EnableWindow(GetDlgItem(mainWindow, IDC_PITCH), stageEnabled);
    EnableWindow(GetDlgItem(mainWindow, IDC_HI), stageEnabled);
    EnableWindow(GetDlgItem(mainWindow, IDC_LO), stageEnabled);
}
