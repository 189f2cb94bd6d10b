// The main dialog with the project's test effects: which effect the current slot names, its
// call log, the editor window, and a real stream on the test devices.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/app/dialog_harness.h"

// One dispatcher call as the test effect logged it.
struct DispatcherCall {
    int opcode;
    long long value;
    double opt;
    bool ptrSet;
};

// The dispatcher lines of a log, in order; every other line is left out.
std::vector<DispatcherCall> DispatcherCalls(const std::vector<std::string>& lines);
// The dispatcher calls with this opcode.
int CountCalls(const std::vector<DispatcherCall>& calls, int opcode);
// Lines that begin with this text.
int CountLines(const std::vector<std::string>& lines, const char* prefix);

// Top-level window of this thread with exactly this title, or null; and how many there are.
HWND FindThreadWindow(const wchar_t* title);
int CountThreadWindows(const wchar_t* title);

class PluginDialogTest : public MainDialogTest {
protected:
    void TearDown() override;

    // Makes the variant log its calls from its next load on (an empty log).
    void Listen(const char* variant);
    std::vector<std::string> Log(const char* variant) const;
    std::vector<DispatcherCall> Calls(const char* variant) const { return DispatcherCalls(Log(variant)); }

    // Names the variant's DLL in the current slot's VstPath, as the file dialog would.
    void ChooseVariant(const char* variant);

    // Capture "Monitor of TestMic", play "TestSpeaker", ID_START. True when it runs.
    bool StartTestStream();

    // The editor window found as a user would: by its title among this thread's windows.
    HWND Editor() const { return FindThreadWindow(L"Kawauso++"); }
    SIZE ClientSize(HWND window) const;

    void ExpectActiveControls() const;
    void ExpectInactiveControls() const;

private:
    std::vector<std::string> listened_;
};
