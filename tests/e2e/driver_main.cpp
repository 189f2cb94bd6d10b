// kawauso-driver: drives a running Kawauso04 from outside, through the window messages a
// user's actions produce, and reports what the windows show. One subcommand per action;
// several may be chained with "+" in one call. Results go to stdout, one or more lines per
// action; the first failing action ends the run with exit status 1.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "tests/e2e/driver_commands.h"
#include "tests/e2e/driver_output.h"

namespace {

constexpr int EXIT_USAGE = 2;

struct Subcommand {
    const wchar_t* name;
    int (*run)(const Args&);
    const wchar_t* usage;
};

const Subcommand SUBCOMMANDS[] = {
    {L"wait-main", WaitMain, L"[MS]             wait for the main window"},
    {L"wait-gone", WaitGone, L"[MS]             wait until the main window has closed"},
    {L"main-state", MainState, L"               visible, enabled, iconic, rectangle"},
    {L"rect", ControlRect, L"ID                  a control's screen rectangle"},
    {L"text", Text, L"ID                  a control's text (a list: its selected item)"},
    {L"set-text", SetText, L"ID TEXT         set an edit box's text"},
    {L"combo", ComboSelection, L"ID                 selected index and text of a list"},
    {L"items", ComboItems, L"ID                 every item of a list"},
    {L"select", Select, L"ID NAME           pick the item NAME exactly"},
    {L"pos", Position, L"ID                   a trackbar's position"},
    {L"scroll", Scroll, L"ID POS            move a trackbar"},
    {L"checked", Checked, L"ID               a button's check state"},
    {L"enabled", Enabled, L"ID               1 when the control is enabled"},
    {L"visible", Visible, L"ID               1 when the control is shown"},
    {L"click", Click, L"ID                 click a button and wait for its handling"},
    {L"post-click", PostClick, L"ID            click a button that opens a modal window"},
    {L"command", Command, L"ID [CODE]        send WM_COMMAND to the main window"},
    {L"post-command", PostCommand, L"ID [CODE]   post WM_COMMAND (lParam 0)"},
    {L"state", State, L"                   every control: enabled, shown, check, text"},
    {L"never-visible", NeverVisible, L"MS       fail if the main window shows within MS"},
    {L"minimise", Minimise, L"                the title bar's minimise button"},
    {L"move", Move, L"X Y                    move the main window"},
    {L"close", Close, L"                   the title bar's close button"},
    {L"tray-notify", TrayNotify, L"left|right  the shell's notification, posted directly"},
    {L"tray-menu", TrayMenu, L"start|stop|exit|none  choose from the tray icon's menu"},
    {L"tray-icon", TrayIcon, L"               1 while the notification area shows an icon"},
    {L"tray-click", TrayClick, L"left|right   click the tray icon (through the shell)"},
    {L"wait-window", WaitWindow, L"TITLE [MS]  wait for a dialog window TITLE"},
    {L"window-gone", WindowGone, L"TITLE [MS]  wait until the window TITLE has closed"},
    {L"message-box", MessageBoxText, L"CAPTION [MS]  wait for a message box, print its text"},
    {L"dismiss", Dismiss, L"CAPTION [ok|escape|enter|close]  close the window CAPTION"},
    {L"file-dialog", FileDialog, L"open [PATH]|cancel  answer the plug-in file dialog"},
    {L"red", RedPixels, L"ID                   red and dark pixels of a control on screen"},
    {L"capture", CaptureWindow, L"FILE.bmp [TITLE]  picture of the main (or TITLE) window"},
    {L"windows", ListWindows, L"                 list every top-level window"},
    {L"sleep", SleepFor, L"MS                  wait"},
    {L"now", Now, L"                       the monotonic clock in seconds"},
};

int Usage() {
    PrintLine(L"usage: kawauso-driver SUBCOMMAND [ARGS] [+ SUBCOMMAND [ARGS]]...");
    for (const Subcommand& s : SUBCOMMANDS) {
        PrintLine(std::wstring(L"  ") + s.name + L" " + s.usage);
    }
    return EXIT_USAGE;
}

int RunOne(const Args& words) {
    for (const Subcommand& s : SUBCOMMANDS) {
        if (words[0] == s.name) {
            return s.run(Args(words.begin() + 1, words.end()));
        }
    }
    Fail(L"unknown subcommand " + words[0]);
    return Usage();
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // Lines end in LF only, as the shell scripts reading them expect.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc < 2) {
        return Usage();
    }
    Args words;
    for (int i = 1; i <= argc; ++i) {
        if (i == argc || std::wcscmp(argv[i], L"+") == 0) {
            if (words.empty()) {
                return Usage();
            }
            const int status = RunOne(words);
            if (status != 0) {
                return status;
            }
            words.clear();
        } else {
            words.emplace_back(argv[i]);
        }
    }
    return 0;
}
