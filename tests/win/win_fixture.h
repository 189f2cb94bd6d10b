// The Windows tier: the real main dialog procedure on the real template in this process, the
// real settings file beside the test program, the test effects' call logs, modal boxes
// answered from a thread timer, and what the process holds (threads, handles, memory).
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "res/resource.h"
#include "tests/support/test_plugins.h"

using Strings = std::vector<std::wstring>; // values compared whole, so a failure shows them all
using Flags = std::vector<bool>;

// The live effect's host when it runs in this process, else null; and what that host holds (its
// record, its fault, its editor's window), null or 0 with none.
struct PluginHost;
struct AEffect;
PluginHost* LiveInProcessHost();
AEffect* LiveInProcessEffect();
uint32_t LiveInProcessFault();
void* LiveEditorWindow();

// The visible balloon tip's text and its place on the screen, or nothing.
std::pair<std::wstring, RECT> VisibleBalloon();

// A file of the checkout, opened from the Windows side ("" when it cannot be read).
std::string SourceFile(const std::string& relativePath);
// The version as the program shows it (major.minor), read from project() in the build file
// itself: what the program shows must come from there, whatever the generated header made of it.
std::string ShownVersion();

// What a modal box showed, read on its first sight, before it was answered.
struct Box {
    int seen = 0; // how many boxes came up
    std::wstring title;
    std::vector<std::wstring> texts; // its static texts, icons left out
    HICON icon = nullptr;            // the icon it shows, if any
    HWND owner = nullptr;
    std::function<void(HWND)> inspect; // optional: more reading on first sight
};
using Answer = std::function<void(HWND box)>;
Answer Button(UINT id); // posts the button's command
// Runs open() while a thread timer answers every new visible dialog box of this thread owned
// by owner (after waitTicks ticks of 20 ms); a box still open after about 5 s is ended by
// force.
Box AnswerBoxes(HWND owner, Answer answer, const std::function<void()>& open, int waitTicks = 0,
                std::function<void(HWND)> inspect = nullptr);

size_t CommittedBytes();

// False where the test runner found that no 32-bit process can run here: a test that needs one
// is skipped, saying why.
bool ThirtyTwoBitProcessesRun();
#define SKIP_WITHOUT_32BIT()                                                                       \
    if (!ThirtyTwoBitProcessesRun())                                                               \
    GTEST_SKIP() << "needs a 32-bit process, which this machine cannot run"

// A playback write as a device gone from under the stream answers it.
MMRESULT WINAPI RefusedWrite(HWAVEOUT, LPWAVEHDR, UINT);

class WinTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Files as bytes; the settings file beside the program is settingsFile.
    static std::string Utf16(const std::wstring& text); // with its byte-order mark
    static void WriteBytes(const std::wstring& file, const std::string& bytes);
    static std::string ReadBytes(const std::wstring& file);
    void WriteSettings(const std::wstring& text) { WriteBytes(settingsFile, Utf16(text)); }
    std::wstring ReadSettings() const; // the text after a UTF-16 mark
    void OpenDialog(int slot = 0, bool inTray = false);
    void Pump(DWORD ms = 50);
    bool PumpUntil(const std::function<bool()>& done, DWORD ms); // done()'s last answer
    void CloseDialog();

    HWND Item(int id) const { return GetDlgItem(dialog, id); }
    std::wstring Text(int id) const;
    Strings Texts(std::initializer_list<int> ids) const;
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    bool Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    int Selected(int id) const { return int(SendMessageW(Item(id), CB_GETCURSEL, 0, 0)); }
    std::wstring SelectedText(int id) const;
    int FindItem(int id, const wchar_t* text) const {
        return int(SendMessageW(Item(id), CB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(text)));
    }
    INT_PTR Command(int id, WORD code = BN_CLICKED);
    void SelectSlot(int slot) {
        SendMessageW(Item(IDC_SLOT), CB_SETCURSEL, WPARAM(slot), 0);
        Command(IDC_SLOT, CBN_SELCHANGE);
    }
    void MoveTrackbar(int id, int position) {
        SendMessageW(Item(id), TBM_SETPOS, TRUE, position);
        SendMessageW(dialog, WM_VSCROLL, TB_THUMBPOSITION, LPARAM(Item(id)));
    }
    SIZE WindowSize() const;
    COLORREF ClipColour();

    // Capture "Monitor of TestMic", play "TestSpeaker", then ID_START: true when it runs.
    // On the test devices, named with prefix: "" for WinMM, "WASAPI: " for the endpoints.
    bool StartTestStream(const wchar_t* bufferMs = L"50", const std::wstring& prefix = L"");
    bool StopAndWait(); // Stop, then the timers until the teardown; false after 2 s

    // The test effects: a log from the variant's next load; that and the path in the slot.
    void Listen(const char* variant);
    std::vector<std::string> Log(const char* variant) const;
    std::vector<std::string> Calls(const char* variant) const; // its dispatcher lines
    void ChooseVariant(const char* variant);
    void ExpectPluginControls(bool active) const;

    HWND dialog = nullptr;
    std::wstring settingsFile;

  private:
    std::vector<std::string> listened_;
};
