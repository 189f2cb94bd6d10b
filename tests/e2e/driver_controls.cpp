// Subcommands on the main window's controls, each through the message a user's action
// produces, sent across the process boundary.
#include <windows.h>
#include <commctrl.h>

#include <cerrno>
#include <cwchar>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/driver_commands.h"
#include "tests/e2e/driver_output.h"
#include "tests/e2e/driver_windows.h"

namespace {

// Every control the program addresses, in template order, for the state dump.
constexpr int KNOWN_CONTROLS[] = {
    IDC_WAVEIN,      IDC_WAVEOUT,      ID_START,         ID_STOP,           IDC_SLOT,
    IDC_PITCH_LABEL, IDC_HI,           IDC_LO,           IDC_PITCH,         IDC_VOLUME,
    IDC_PITCH_VALUE, IDC_VOLUME_LABEL, IDC_VOLUME_VALUE, IDC_DETAIL_TOGGLE, IDC_BUFFER_LABEL,
    IDC_BUFFER_MS,   IDC_VST_LOAD,     IDC_VST_EDIT,     IDC_AUTO_CONNECT,  ID_ABOUT};

constexpr wchar_t COMBO_CLASS[] = L"ComboBox";
constexpr LONG COMBO_TYPE_BITS = 3; // CBS_SIMPLE, CBS_DROPDOWN or CBS_DROPDOWNLIST
constexpr wchar_t TRACKBAR_CLASS_NAME[] = L"msctls_trackbar32";

HWND MainOrFail() {
    HWND main = WaitMainWindow(DEFAULT_WAIT_MS);
    if (main == nullptr) {
        Fail(L"the main window did not appear");
    }
    return main;
}

// The main window and one of its controls, from the id in args[0].
bool Target(const Args& args, HWND& main, HWND& control) {
    long id = 0;
    if (args.empty() || !ParseNumber(args[0], id)) {
        Fail(L"a control id is needed");
        return false;
    }
    main = MainOrFail();
    if (main == nullptr) {
        return false;
    }
    control = ControlOf(main, static_cast<int>(id));
    return control != nullptr;
}

int ControlId(HWND control) {
    return GetDlgCtrlID(control);
}

bool HasStyle(HWND window, LONG style) {
    return (GetWindowLongW(window, GWL_STYLE) & style) != 0;
}

std::wstring ItemText(HWND combo, LRESULT index) {
    LRESULT length = 0;
    if (!SendWithin(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0, &length) || length < 0) {
        return L"";
    }
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    SendWithin(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text.data()), nullptr);
    text.back() = L'\0';
    return text.data();
}

LRESULT ItemCount(HWND combo) {
    LRESULT count = 0;
    SendWithin(combo, CB_GETCOUNT, 0, 0, &count);
    return count;
}

LRESULT Selection(HWND combo) {
    LRESULT index = CB_ERR;
    SendWithin(combo, CB_GETCURSEL, 0, 0, &index);
    return index;
}

// A drop-down list shows its selected item; an editable combo its edit field.
std::wstring ShownText(HWND control) {
    if (ClassOf(control) == COMBO_CLASS &&
        (GetWindowLongW(control, GWL_STYLE) & COMBO_TYPE_BITS) == CBS_DROPDOWNLIST) {
        const LRESULT index = Selection(control);
        return index == CB_ERR ? L"" : ItemText(control, index);
    }
    return WindowText(control);
}

LRESULT TrackbarPosition(HWND trackbar) {
    LRESULT position = 0;
    SendWithin(trackbar, TBM_GETPOS, 0, 0, &position);
    return position;
}

LRESULT CheckState(HWND button) {
    LRESULT state = 0;
    SendWithin(button, BM_GETCHECK, 0, 0, &state);
    return state;
}

// What a user can click: the control enabled and shown, the main window taking input.
bool Clickable(HWND main, HWND control) {
    if (!IsWindowEnabled(main)) {
        Fail(L"the main window takes no input (a modal window is open)");
        return false;
    }
    if (!IsWindowEnabled(control)) {
        Fail(L"control " + Decimal(ControlId(control)) + L" is disabled");
        return false;
    }
    if (!HasStyle(control, WS_VISIBLE)) {
        Fail(L"control " + Decimal(ControlId(control)) + L" is hidden");
        return false;
    }
    return true;
}

int PrintFlag(bool value) {
    PrintLine(value ? L"1" : L"0");
    return 0;
}

WPARAM CommandWord(long id, long code) {
    return MAKEWPARAM(static_cast<WORD>(id), static_cast<WORD>(code));
}

} // namespace

bool ParseNumber(const std::wstring& text, long& value) {
    if (text.empty()) {
        return false;
    }
    wchar_t* end = nullptr;
    errno = 0;
    value = std::wcstol(text.c_str(), &end, 0);
    return errno == 0 && end != nullptr && *end == L'\0';
}

int WaitMain(const Args& args) {
    long ms = DEFAULT_WAIT_MS;
    if (!args.empty() && !ParseNumber(args[0], ms)) {
        return Fail(L"wait-main takes milliseconds");
    }
    HWND main = WaitMainWindow(static_cast<DWORD>(ms));
    if (main == nullptr) {
        return Fail(L"the main window did not appear within " + Decimal(ms) + L" ms");
    }
    PrintLine(HandleText(main));
    return 0;
}

int WaitGone(const Args& args) {
    long ms = DEFAULT_WAIT_MS;
    if (!args.empty() && !ParseNumber(args[0], ms)) {
        return Fail(L"wait-gone takes milliseconds");
    }
    HWND main = FindMainWindow();
    if (main != nullptr && !WaitWindowGone(main, static_cast<DWORD>(ms))) {
        return Fail(L"the main window is still there after " + Decimal(ms) + L" ms");
    }
    PrintLine(L"gone");
    return 0;
}

int MainState(const Args&) {
    HWND main = MainOrFail();
    if (main == nullptr) {
        return 1;
    }
    RECT r;
    GetWindowRect(main, &r);
    RECT client;
    GetClientRect(main, &client);
    PrintLine(L"visible=" + Decimal(IsWindowVisible(main) ? 1 : 0) + L" enabled=" +
              Decimal(IsWindowEnabled(main) ? 1 : 0) + L" iconic=" +
              Decimal(IsIconic(main) ? 1 : 0) + L" rect=" + Decimal(r.left) + L"," +
              Decimal(r.top) + L"," + Decimal(r.right) + L"," + Decimal(r.bottom) + L" client=" +
              Decimal(client.right) + L"x" + Decimal(client.bottom));
    return 0;
}

int ControlRect(const Args& args) {
    HWND main = nullptr;
    HWND control = nullptr;
    if (!Target(args, main, control)) {
        return 1;
    }
    RECT r;
    GetWindowRect(control, &r);
    PrintLine(Decimal(r.left) + L" " + Decimal(r.top) + L" " + Decimal(r.right) + L" " +
              Decimal(r.bottom));
    return 0;
}

int Text(const Args& args) {
    HWND main = nullptr;
    HWND control = nullptr;
    if (!Target(args, main, control)) {
        return 1;
    }
    PrintLine(ShownText(control));
    return 0;
}

int SetText(const Args& args) {
    HWND main = nullptr;
    HWND control = nullptr;
    if (args.size() != 2 || !Target(args, main, control)) {
        return Fail(L"set-text takes an id and a text");
    }
    if (!SendWithin(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[1].c_str()), nullptr)) {
        return Fail(L"WM_SETTEXT was not answered");
    }
    PrintLine(WindowText(control));
    return 0;
}

int ComboSelection(const Args& args) {
    HWND main = nullptr;
    HWND control = nullptr;
    if (!Target(args, main, control)) {
        return 1;
    }
    const LRESULT index = Selection(control);
    PrintLine(Decimal(index) + L" " +
              (index == CB_ERR ? std::wstring() : ItemText(control, index)));
    return 0;
}

int ComboItems(const Args& args) {
    HWND main = nullptr;
    HWND control = nullptr;
    if (!Target(args, main, control)) {
        return 1;
    }
    const LRESULT count = ItemCount(control);
    for (LRESULT i = 0; i < count; ++i) {
        PrintLine(ItemText(control, i));
    }
    return 0;
}

// Picks the item whose text is exactly the name, as a user picking it from the list: the
// selection changes and the dialog hears CBN_SELCHANGE.
int Select(const Args& args) {
    HWND main = nullptr;
    HWND control = nullptr;
    if (args.size() != 2 || !Target(args, main, control)) {
        return Fail(L"select takes an id and an item text");
    }
    if (!Clickable(main, control)) {
        return 1;
    }
    const LRESULT count = ItemCount(control);
    LRESULT found = CB_ERR;
    for (LRESULT i = 0; i < count && found == CB_ERR; ++i) {
        if (ItemText(control, i) == args[1]) {
            found = i;
        }
    }
    if (found == CB_ERR) {
        return Fail(L"no item \"" + args[1] + L"\" in list " + args[0]);
    }
    SendWithin(control, CB_SETCURSEL, static_cast<WPARAM>(found), 0, nullptr);
    SendWithin(main, WM_COMMAND, CommandWord(ControlId(control), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(control), nullptr);
    PrintLine(Decimal(Selection(control)) + L" " + ShownText(control));
    return 0;
}

int Position(const Args& args) {
    HWND main = nullptr;
    HWND control = nullptr;
    if (!Target(args, main, control)) {
        return 1;
    }
    PrintLine(Decimal(TrackbarPosition(control)));
    return 0;
}

// Moves a trackbar as a drag ending at the position does: the thumb moves, and the dialog
// hears WM_VSCROLL from that trackbar.
int Scroll(const Args& args) {
    HWND main = nullptr;
    HWND control = nullptr;
    long position = 0;
    if (args.size() != 2 || !ParseNumber(args[1], position) || !Target(args, main, control)) {
        return Fail(L"scroll takes an id and a position");
    }
    if (ClassOf(control) != TRACKBAR_CLASS_NAME) {
        return Fail(L"control " + args[0] + L" is not a trackbar");
    }
    if (!Clickable(main, control)) {
        return 1;
    }
    SendWithin(control, TBM_SETPOS, TRUE, static_cast<LPARAM>(position), nullptr);
    SendWithin(main, WM_VSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(control),
               nullptr);
    PrintLine(Decimal(TrackbarPosition(control)));
    return 0;
}

int Checked(const Args& args) {
    HWND main = nullptr;
    HWND control = nullptr;
    if (!Target(args, main, control)) {
        return 1;
    }
    PrintLine(Decimal(CheckState(control)));
    return 0;
}

int Enabled(const Args& args) {
    HWND main = nullptr;
    HWND control = nullptr;
    if (!Target(args, main, control)) {
        return 1;
    }
    return PrintFlag(IsWindowEnabled(control) != FALSE);
}

int Visible(const Args& args) {
    HWND main = nullptr;
    HWND control = nullptr;
    if (!Target(args, main, control)) {
        return 1;
    }
    return PrintFlag(HasStyle(control, WS_VISIBLE));
}

// A click on a button, waiting until the program has handled it.
int Click(const Args& args) {
    HWND main = nullptr;
    HWND control = nullptr;
    if (!Target(args, main, control) || !Clickable(main, control)) {
        return 1;
    }
    if (!SendWithin(control, BM_CLICK, 0, 0, nullptr)) {
        return Fail(L"the click on " + args[0] + L" was not handled in time");
    }
    PrintLine(L"clicked " + args[0]);
    return 0;
}

// A click that opens a modal window (file dialog, About box): posted, not waited for.
int PostClick(const Args& args) {
    HWND main = nullptr;
    HWND control = nullptr;
    if (!Target(args, main, control) || !Clickable(main, control)) {
        return 1;
    }
    PostMessageW(control, BM_CLICK, 0, 0);
    PrintLine(L"posted click " + args[0]);
    return 0;
}

int Command(const Args& args) {
    long id = 0;
    long code = 0;
    if (args.empty() || args.size() > 2 || !ParseNumber(args[0], id) ||
        (args.size() == 2 && !ParseNumber(args[1], code))) {
        return Fail(L"command takes an id and an optional notification code");
    }
    HWND main = MainOrFail();
    if (main == nullptr) {
        return 1;
    }
    LRESULT result = 0;
    if (!SendWithin(main, WM_COMMAND, CommandWord(id, code),
                    reinterpret_cast<LPARAM>(GetDlgItem(main, static_cast<int>(id))), &result)) {
        return Fail(L"command " + args[0] + L" was not handled in time");
    }
    PrintLine(L"result " + Decimal(result));
    return 0;
}

// A command as the tray menu or the device watcher delivers it: posted, lParam 0.
int PostCommand(const Args& args) {
    long id = 0;
    long code = 0;
    if (args.empty() || args.size() > 2 || !ParseNumber(args[0], id) ||
        (args.size() == 2 && !ParseNumber(args[1], code))) {
        return Fail(L"post-command takes an id and an optional notification code");
    }
    HWND main = MainOrFail();
    if (main == nullptr) {
        return 1;
    }
    PostMessageW(main, WM_COMMAND, CommandWord(id, code), 0);
    PrintLine(L"posted command " + args[0]);
    return 0;
}

// One line per control: "id enabled visible checked-or-position text".
int State(const Args&) {
    HWND main = MainOrFail();
    if (main == nullptr) {
        return 1;
    }
    for (int id : KNOWN_CONTROLS) {
        HWND control = GetDlgItem(main, id);
        if (control == nullptr) {
            PrintLine(Decimal(id) + L" missing");
            continue;
        }
        std::wstring value = L"-";
        if (ClassOf(control) == TRACKBAR_CLASS_NAME) {
            value = L"pos=" + Decimal(TrackbarPosition(control));
        } else if (ClassOf(control) == L"Button") {
            value = L"check=" + Decimal(CheckState(control));
        }
        PrintLine(Decimal(id) + L" enabled=" + Decimal(IsWindowEnabled(control) ? 1 : 0) +
                  L" visible=" + Decimal(HasStyle(control, WS_VISIBLE) ? 1 : 0) + L" " + value +
                  L" text=" + ShownText(control));
    }
    return 0;
}

// Watches the main window from the moment it exists for the given time: fails the moment it
// is seen visible.
int NeverVisible(const Args& args) {
    long ms = 0;
    if (args.size() != 1 || !ParseNumber(args[0], ms)) {
        return Fail(L"never-visible takes milliseconds");
    }
    HWND main = nullptr;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < static_cast<DWORD>(ms)) {
        if (main == nullptr) {
            main = FindMainWindow();
        }
        if (main != nullptr && IsWindowVisible(main)) {
            return Fail(L"the main window became visible after " + Decimal(GetTickCount() - start) +
                        L" ms");
        }
        Sleep(1);
    }
    if (main == nullptr) {
        return Fail(L"the main window never existed");
    }
    PrintLine(L"hidden for " + Decimal(ms) + L" ms");
    return 0;
}
