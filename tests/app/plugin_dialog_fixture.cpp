#include "tests/app/plugin_dialog_fixture.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "audio/engine_state.h"
#include "res/resource.h"
#include "settings/settings_store.h"
#include "tests/app/audio_probe.h"
#include "tests/support/test_plugins.h"

std::vector<DispatcherCall> DispatcherCalls(const std::vector<std::string>& lines) {
    std::vector<DispatcherCall> calls;
    for (const std::string& line : lines) {
        DispatcherCall call = {};
        int index = 0;
        char ptr[8] = {};
        if (std::sscanf(line.c_str(), "dispatcher opcode=%d index=%d value=%lld opt=%lg ptr=%7s",
                        &call.opcode, &index, &call.value, &call.opt, ptr) == 5) {
            call.ptrSet = std::strcmp(ptr, "set") == 0;
            calls.push_back(call);
        }
    }
    return calls;
}

int CountCalls(const std::vector<DispatcherCall>& calls, int opcode) {
    int n = 0;
    for (const DispatcherCall& call : calls) {
        n += call.opcode == opcode ? 1 : 0;
    }
    return n;
}

int CountLines(const std::vector<std::string>& lines, const char* prefix) {
    int n = 0;
    for (const std::string& line : lines) {
        n += line.compare(0, std::strlen(prefix), prefix) == 0 ? 1 : 0;
    }
    return n;
}

namespace {

struct TitleSearch {
    const wchar_t* title;
    HWND first;
    int count;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM param) {
    TitleSearch* search = reinterpret_cast<TitleSearch*>(param);
    wchar_t text[128] = {};
    GetWindowTextW(window, text, 128);
    if (std::wcscmp(text, search->title) == 0) {
        if (search->count++ == 0) {
            search->first = window;
        }
    }
    return TRUE;
}

TitleSearch SearchThreadWindows(const wchar_t* title) {
    TitleSearch search = {title, nullptr, 0};
    EnumThreadWindows(GetCurrentThreadId(), MatchTitle, reinterpret_cast<LPARAM>(&search));
    return search;
}

}  // namespace

HWND FindThreadWindow(const wchar_t* title) { return SearchThreadWindows(title).first; }

int CountThreadWindows(const wchar_t* title) { return SearchThreadWindows(title).count; }

void PluginDialogTest::TearDown() {
    MainDialogTest::TearDown();  // closes the dialog, which unloads the effect
    for (const std::string& module : listened_) {
        RemovePluginLog(module);
    }
}

void PluginDialogTest::Listen(const char* variant) {
    const std::string module = TestPluginPathUtf8(variant);
    ASSERT_TRUE(StartPluginLog(module)) << module;
    listened_.push_back(module);
}

std::vector<std::string> PluginDialogTest::Log(const char* variant) const {
    return ReadPluginLog(TestPluginPathUtf8(variant));
}

void PluginDialogTest::ChooseVariant(const char* variant) {
    const std::wstring path = TestPluginPath(variant);
    ASSERT_LT(path.size(), static_cast<size_t>(VST_PATH_MAX_UNITS));
    std::wcsncpy(currentSlot->VstPath, path.c_str(), VST_PATH_MAX_UNITS);
}

bool PluginDialogTest::StartTestStream() {
    const int in = FindComboItem(Item(IDC_WAVEIN), L"Monitor of TestMic");
    const int out = FindComboItem(Item(IDC_WAVEOUT), L"TestSpeaker");
    EXPECT_GE(in, 0) << "capture device listed";
    EXPECT_GE(out, 0) << "playback device listed";
    if (in < 0 || out < 0) {
        return false;
    }
    SendMessageW(Item(IDC_WAVEIN), CB_SETCURSEL, static_cast<WPARAM>(in), 0);
    SendMessageW(Item(IDC_WAVEOUT), CB_SETCURSEL, static_cast<WPARAM>(out), 0);
    Command(ID_START);
    return running != 0;
}

SIZE PluginDialogTest::ClientSize(HWND window) const {
    RECT r = {};
    GetClientRect(window, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

void PluginDialogTest::ExpectActiveControls() const {
    EXPECT_EQ(pluginActive.load(), 1);
    EXPECT_EQ(Text(IDC_VST_LOAD), L"VST開放");
    EXPECT_TRUE(Enabled(IDC_VST_EDIT));
    for (int id : {IDC_VOLUME, IDC_PITCH, IDC_HI, IDC_LO}) {
        EXPECT_FALSE(Enabled(id)) << "control " << id << " is the stage's";
    }
}

void PluginDialogTest::ExpectInactiveControls() const {
    EXPECT_EQ(pluginActive.load(), 0);
    EXPECT_EQ(Text(IDC_VST_LOAD), L"VST読込");
    EXPECT_FALSE(Enabled(IDC_VST_EDIT));
    for (int id : {IDC_VOLUME, IDC_PITCH, IDC_HI, IDC_LO}) {
        EXPECT_TRUE(Enabled(id)) << "control " << id << " is the stage's";
    }
}
