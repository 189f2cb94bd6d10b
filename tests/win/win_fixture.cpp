#include "tests/win/win_fixture.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <regex>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "audio/engine_state.h"
#include "app/live_effect.h"
#include "plugin/effect_handle.h"
#include "plugin/plugin_host.h"
#include "settings/command_line.h"
#include "settings/settings_store.h"

std::pair<std::wstring, RECT> VisibleBalloon() {
    for (HWND tip = FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr); tip != nullptr;
         tip = FindWindowExW(nullptr, tip, TOOLTIPS_CLASSW, nullptr)) {
        if (IsWindowVisible(tip) && (GetWindowLongW(tip, GWL_STYLE) & TTS_BALLOON) != 0) {
            wchar_t text[256] = L"";
            TTTOOLINFOW info = {};
            info.cbSize = sizeof info;
            info.lpszText = text;
            SendMessageW(tip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&info));
            RECT r;
            GetWindowRect(tip, &r);
            return {text, r};
        }
    }
    return {};
}

std::string SourceFile(const std::string& relativePath) {
    const std::string source = KAWAUSO_SOURCE_DIR;
    std::ifstream file((source[0] == '/' ? "Z:" : "") + source + "/" + relativePath);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string ShownVersion() {
    std::smatch match;
    const std::string build = SourceFile("CMakeLists.txt");
    return std::regex_search(build, match,
                             std::regex(R"(project\(Kawauso04 VERSION ([0-9]+\.[0-9]+\.[0-9]+))"))
               ? match[1].str()
               : "";
}

namespace {

struct BoxWatch {
    HWND owner;
    Answer answer;
    int waitTicks;
    std::vector<HWND> existing; // boxes already open are never taken for the new one
    HWND box;
    int tick;
    Box* result;
} * watch; // thread timers carry no context

std::wstring TitleOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

// This thread's dialog boxes owned by owner, visible or not; the effect's editor is none.
std::vector<HWND> OwnedBoxes(HWND owner) {
    std::vector<HWND> boxes;
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"#32770", nullptr)) != nullptr;) {
        if (GetWindow(w, GW_OWNER) == owner && w != static_cast<HWND>(LiveEditorWindow()) &&
            GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId()) {
            boxes.push_back(w);
        }
    }
    return boxes;
}

void CALLBACK BoxTick(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = nullptr;
    for (HWND w : OwnedBoxes(watch->owner)) {
        const auto& old = watch->existing;
        box = IsWindowVisible(w) && std::find(old.begin(), old.end(), w) == old.end() ? w : box;
    }
    if (box == nullptr) {
        return;
    }
    Box& r = *watch->result;
    if (box != watch->box && r.seen++ == 0) {
        r.title = TitleOf(box);
        for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
            wchar_t cls[16] = {};
            GetClassNameW(c, cls, 16);
            const bool isStatic = _wcsicmp(cls, L"Static") == 0;
            if (isStatic && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                r.icon = reinterpret_cast<HICON>(SendMessageW(c, STM_GETICON, 0, 0));
            } else if (isStatic) {
                r.texts.push_back(TitleOf(c));
            }
        }
        r.owner = GetWindow(box, GW_OWNER);
        if (r.inspect) {
            r.inspect(box);
        }
    }
    watch->tick = box == watch->box ? watch->tick + 1 : 1;
    watch->box = box;
    if (watch->tick > 250) { // 5 s: a test fails instead of hanging
        EndDialog(box, 0);
    } else if (watch->tick == watch->waitTicks + 1) {
        watch->answer(box);
    }
}

} // namespace

Answer Button(UINT id) {
    return [id](HWND box) { PostMessageW(box, WM_COMMAND, id, LPARAM(GetDlgItem(box, int(id)))); };
}

Box AnswerBoxes(HWND owner, Answer answer, const std::function<void()>& open, int waitTicks,
                std::function<void(HWND)> inspect) {
    Box result;
    result.inspect = std::move(inspect);
    BoxWatch w{owner, std::move(answer), waitTicks, OwnedBoxes(owner), nullptr, 0, &result};
    BoxWatch* const outer = watch;
    watch = &w;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, BoxTick);
    open();
    KillTimer(nullptr, timer);
    watch = outer;
    return result;
}

namespace {

// A message box no test answers would hold the whole program for good (its modal loop runs
// on): after a while it is answered and the test fails, naming it.
constexpr DWORD UNANSWERED_BOX_MS = 15000;
HWND unansweredBox = nullptr;
DWORD unansweredSince = 0;

BOOL CALLBACK FindMessageBox(HWND window, LPARAM found) {
    wchar_t kind[16] = L"";
    GetClassNameW(window, kind, 16);
    if (std::wstring(kind) == L"#32770" && IsWindowVisible(window) &&
        GetDlgItem(window, 0xFFFF) != nullptr) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK AnswerForgottenBox(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindMessageBox, reinterpret_cast<LPARAM>(&box));
    if (box == nullptr || watch != nullptr || box != unansweredBox) {
        unansweredBox = watch == nullptr ? box : nullptr;
        unansweredSince = GetTickCount();
        return;
    }
    if (GetTickCount() - unansweredSince >= UNANSWERED_BOX_MS) {
        wchar_t text[512] = L"";
        GetDlgItemTextW(box, 0xFFFF, text, 512);
        ADD_FAILURE() << "a message box nobody answered: " << std::wstring(text);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        unansweredBox = nullptr;
    }
}

UINT_PTR boxGuard = 0;

} // namespace

size_t CommittedBytes() {
    PROCESS_MEMORY_COUNTERS memory = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    return memory.PagefileUsage;
}

PluginHost* LiveInProcessHost() {
    return InProcessHostOf(LiveEffectHandle());
}

AEffect* LiveInProcessEffect() {
    return LiveInProcessHost() != nullptr ? LiveInProcessHost()->effect : nullptr;
}

uint32_t LiveInProcessFault() {
    return LiveInProcessHost() != nullptr ? LiveInProcessHost()->fault.load() : 0;
}

void* LiveEditorWindow() {
    return LiveInProcessHost() != nullptr ? LiveInProcessHost()->editorWindow : nullptr;
}

bool ThirtyTwoBitProcessesRun() {
    wchar_t found[8] = L"";
    GetEnvironmentVariableW(L"KAWAUSO_RUNS_32BIT", found, 8);
    return std::wstring(found) != L"no";
}

namespace {

// The files a slot keeps beside the settings file (its effects' states, its load marker): none
// left over from another test.
void RemoveSlotFiles(const std::wstring& settingsFile) {
    const std::wstring folder = settingsFile.substr(0, settingsFile.find_last_of(L"\\/") + 1);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"KaWUmi.Settings*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        DeleteFileW((folder + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

} // namespace

void WinTest::SetUp() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    ResetEngineState();
    ResetSettingsStore();
    currentSlot = &slots[0];
    startInTray = false;
    appInstance = GetModuleHandleW(nullptr);
    wchar_t path[MAX_PATH];
    settingsFile.assign(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    settingsFile = settingsFile.substr(0, settingsFile.find_last_of(L"\\/") + 1) + L"KaWUmi.ini";
    DeleteFileW(settingsFile.c_str());
    RemoveSlotFiles(settingsFile);
    boxGuard = SetTimer(nullptr, 0, 500, AnswerForgottenBox);
}

void WinTest::TearDown() {
    KillTimer(nullptr, boxGuard);
    if (dialog != nullptr) {
        CloseDialog(); // stops a running stream and unloads the effect
    }
    SetFileAttributesW(settingsFile.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(settingsFile.c_str());
    RemoveDirectoryW(settingsFile.c_str());
    RemoveSlotFiles(settingsFile);
    for (const std::string& module : listened_) {
        RemovePluginLog(module);
    }
}

std::string WinTest::Utf16(const std::wstring& text) {
    return std::string("\xFF\xFE", 2) +
           std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

void WinTest::WriteBytes(const std::wstring& file, const std::string& bytes) {
    std::ofstream(file.c_str(), std::ios::binary) << bytes;
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str()); // no stale cached copy
}

std::string WinTest::ReadBytes(const std::wstring& file) {
    std::ifstream in(file.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring WinTest::ReadSettings() const {
    const std::string b = ReadBytes(settingsFile);
    EXPECT_EQ(b.compare(0, 2, "\xFF\xFE"), 0) << "not UTF-16 text";
    return b.size() < 2
               ? L""
               : std::wstring(reinterpret_cast<const wchar_t*>(b.data() + 2), (b.size() - 2) / 2);
}

void WinTest::OpenDialog(int slot, bool inTray) {
    currentSlotIndex = slot;
    currentSlot = &slots[slot];
    startInTray = inTray;
    dialog =
        CreateDialogParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    ShowWindow(dialog, inTray ? SW_HIDE : SW_SHOW);
    Pump();
}

void WinTest::Pump(DWORD ms) {
    for (const DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(1)) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (dialog == nullptr || !IsDialogMessageW(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }
}

bool WinTest::PumpUntil(const std::function<bool()>& done, DWORD ms) {
    for (const DWORD start = GetTickCount(); !done();) {
        if (GetTickCount() - start >= ms) {
            return false;
        }
        Pump(5);
    }
    return true;
}

void WinTest::CloseDialog() {
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    DestroyWindow(dialog);
    dialog = nullptr;
    Pump(10);
}

std::wstring WinTest::Text(int id) const {
    wchar_t text[512] = {};
    GetDlgItemTextW(dialog, id, text, 512);
    return text;
}

Strings WinTest::Texts(std::initializer_list<int> ids) const {
    Strings texts;
    for (int id : ids) {
        texts.push_back(Text(id));
    }
    return texts;
}

std::wstring WinTest::SelectedText(int id) const {
    wchar_t text[256] = {};
    SendMessageW(Item(id), CB_GETLBTEXT, WPARAM(Selected(id)), LPARAM(text));
    return text;
}

INT_PTR WinTest::Command(int id, WORD code) {
    return MainDialogProc(dialog, WM_COMMAND, MAKEWPARAM(id, code), LPARAM(Item(id)));
}

SIZE WinTest::WindowSize() const {
    RECT r;
    GetWindowRect(dialog, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

COLORREF WinTest::ClipColour() {
    HDC dc = GetDC(dialog);
    MainDialogProc(dialog, WM_CTLCOLORSTATIC, WPARAM(dc), LPARAM(Item(IDC_VOLUME_LABEL)));
    const COLORREF colour = GetTextColor(dc);
    ReleaseDC(dialog, dc);
    return colour;
}

bool WinTest::StartTestStream(const wchar_t* bufferMs, const std::wstring& prefix) {
    const std::wstring capture = prefix + L"Monitor of TestMic", playback = prefix + L"TestSpeaker";
    SendMessageW(Item(IDC_WAVEIN), CB_SETCURSEL, WPARAM(FindItem(IDC_WAVEIN, capture.c_str())), 0);
    SendMessageW(Item(IDC_WAVEOUT), CB_SETCURSEL, WPARAM(FindItem(IDC_WAVEOUT, playback.c_str())),
                 0);
    SetDlgItemTextW(dialog, IDC_BUFFER_MS, bufferMs);
    EXPECT_EQ(SelectedText(IDC_WAVEOUT), playback) << "the test devices are not there";
    return Command(ID_START) == 1 && running == 1;
}

bool WinTest::StopAndWait() {
    Command(ID_STOP);
    return PumpUntil([] { return running == 0; }, 2000);
}

void WinTest::Listen(const char* variant) {
    listened_.push_back(TestPluginPathUtf8(variant));
    ASSERT_TRUE(StartPluginLog(listened_.back())) << listened_.back();
}

std::vector<std::string> WinTest::Log(const char* variant) const {
    return ReadPluginLog(TestPluginPathUtf8(variant));
}

std::vector<std::string> WinTest::Calls(const char* variant) const {
    std::vector<std::string> calls = Log(variant);
    calls.erase(std::remove_if(calls.begin(), calls.end(),
                               [](const std::string& l) { return l.rfind("dispatcher ", 0) != 0; }),
                calls.end());
    return calls;
}

void WinTest::ChooseVariant(const char* variant) {
    Listen(variant);
    std::wcsncpy(currentSlot->VstPath, TestPluginPath(variant).c_str(), VST_PATH_MAX_UNITS);
}

void WinTest::ExpectPluginControls(bool active) const {
    EXPECT_EQ(pluginActive.load(), active ? 1 : 0);
    EXPECT_EQ(Text(IDC_VST_LOAD), active ? L"VST開放" : L"VST読込");
    for (int id : {IDC_VST_EDIT, IDC_VOLUME, IDC_PITCH, IDC_HI, IDC_LO}) {
        EXPECT_EQ(Enabled(id), active == (id == IDC_VST_EDIT)) << "control " << id;
    }
}

MMRESULT WINAPI RefusedWrite(HWAVEOUT, LPWAVEHDR, UINT) {
    return MMSYSERR_NODRIVER;
}
