// Subcommands on the program's windows as a whole: minimise and close, the tray icon and
// its menu, message boxes, the plug-in file dialog, other dialogs, and a window listing.
#include <windows.h>

#include <cwchar>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/driver_commands.h"
#include "tests/e2e/driver_output.h"
#include "tests/e2e/driver_windows.h"

namespace {

constexpr wchar_t FILE_DIALOG_TITLE[] = L"VST プラグインを開く";
constexpr int FILE_NAME_EDIT_ID = 0x480;  // edt1
constexpr int FILE_NAME_COMBO_ID = 0x47c; // cmb13, the explorer-style file name box
constexpr DWORD MENU_KEY_GAP_MS = 50;
constexpr int TRAY_ICON_HALF_WIDTH = 10;

bool OptionalMs(const Args& args, size_t index, long& ms) {
    ms = DEFAULT_WAIT_MS;
    return args.size() <= index || ParseNumber(args[index], ms);
}

struct ChildSearch {
    int id;
    HWND found;
};

BOOL CALLBACK MatchChildId(HWND window, LPARAM context) {
    ChildSearch* search = reinterpret_cast<ChildSearch*>(context);
    if (GetDlgCtrlID(window) == search->id) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A direct child first (a dialog's own buttons), then anywhere below.
HWND FindChild(HWND parent, int id) {
    HWND direct = GetDlgItem(parent, id);
    if (direct != nullptr) {
        return direct;
    }
    ChildSearch search{id, nullptr};
    EnumChildWindows(parent, MatchChildId, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK CollectStatic(HWND window, LPARAM context) {
    std::vector<std::wstring>* texts = reinterpret_cast<std::vector<std::wstring>*>(context);
    if (ClassOf(window) == L"Static") {
        std::wstring text = WindowText(window);
        if (!text.empty()) {
            texts->push_back(text);
        }
    }
    return TRUE;
}

// Presses a dialog's button the way a click does, without waiting for the dialog to end.
bool PressButton(HWND dialog, int id) {
    HWND button = FindChild(dialog, id);
    if (button == nullptr || !IsWindowEnabled(button)) {
        return false;
    }
    PostMessageW(button, BM_CLICK, 0, 0);
    return true;
}

void PostKey(HWND window, WPARAM key) {
    PostMessageW(window, WM_KEYDOWN, key, 1);
    PostMessageW(window, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
    Sleep(MENU_KEY_GAP_MS);
}

BOOL CALLBACK ListOne(HWND window, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT r;
    GetWindowRect(window, &r);
    PrintLine(HandleText(window) + L" pid=" + Decimal(pid) + L" class=" + ClassOf(window) +
              L" visible=" + Decimal(IsWindowVisible(window) ? 1 : 0) + L" rect=" +
              Decimal(r.left) + L"," + Decimal(r.top) + L"," + Decimal(r.right) + L"," +
              Decimal(r.bottom) + L" title=" + WindowText(window));
    return TRUE;
}

BOOL CALLBACK ListChild(HWND window, LPARAM) {
    PrintLine(L"  child " + Decimal(GetDlgCtrlID(window)) + L" class=" + ClassOf(window) +
              L" visible=" + Decimal(IsWindowVisible(window) ? 1 : 0) + L" text=" +
              WindowText(window));
    return TRUE;
}

// Wine's shell shows its notification area only while it holds at least one icon.
HWND ShellTray() {
    return FindWindowW(L"Shell_TrayWnd", nullptr);
}

bool TrayIconShown() {
    HWND tray = ShellTray();
    return tray != nullptr && IsWindowVisible(tray);
}

// A button pressed and released over the icon, through the shell, which tells the program.
// The program's icon is the only one, at the right end of the notification area.
bool ClickTrayIcon(bool left) {
    HWND tray = ShellTray();
    if (tray == nullptr || !IsWindowVisible(tray)) {
        return false;
    }
    RECT client;
    GetClientRect(tray, &client);
    const LPARAM point = MAKELPARAM(client.right - TRAY_ICON_HALF_WIDTH, client.bottom / 2);
    PostMessageW(tray, left ? WM_LBUTTONDOWN : WM_RBUTTONDOWN, left ? MK_LBUTTON : MK_RBUTTON,
                 point);
    PostMessageW(tray, left ? WM_LBUTTONUP : WM_RBUTTONUP, 0, point);
    return true;
}

} // namespace

int Minimise(const Args&) {
    HWND main = WaitMainWindow(DEFAULT_WAIT_MS);
    if (main == nullptr) {
        return Fail(L"the main window did not appear");
    }
    PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    PrintLine(L"posted minimise");
    return 0;
}

// Moves the main window's top-left corner, as dragging its title bar does.
int Move(const Args& args) {
    long x = 0;
    long y = 0;
    if (args.size() != 2 || !ParseNumber(args[0], x) || !ParseNumber(args[1], y)) {
        return Fail(L"move takes x and y");
    }
    HWND main = WaitMainWindow(DEFAULT_WAIT_MS);
    if (main == nullptr) {
        return Fail(L"the main window did not appear");
    }
    SetWindowPos(main, nullptr, static_cast<int>(x), static_cast<int>(y), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT r;
    GetWindowRect(main, &r);
    PrintLine(Decimal(r.left) + L" " + Decimal(r.top));
    return 0;
}

int Close(const Args&) {
    HWND main = WaitMainWindow(DEFAULT_WAIT_MS);
    if (main == nullptr) {
        return Fail(L"the main window did not appear");
    }
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    PrintLine(L"posted close");
    return 0;
}

// The shell's notification for a button released over the tray icon.
int TrayNotify(const Args& args) {
    if (args.size() != 1 || (args[0] != L"left" && args[0] != L"right")) {
        return Fail(L"tray-notify takes left or right");
    }
    HWND main = WaitMainWindow(DEFAULT_WAIT_MS);
    if (main == nullptr) {
        return Fail(L"the main window did not appear");
    }
    const LPARAM button = args[0] == L"left" ? WM_LBUTTONUP : WM_RBUTTONUP;
    PostMessageW(main, WM_TRAYNOTIFY, TRAY_ICON_ID, button);
    PrintLine(L"posted tray " + args[0]);
    return 0;
}

// Right click on the tray icon through the shell, then the item picked from the popup with the
// keyboard: the popup must really open, and the choice goes through the menu's own handling.
int TrayMenu(const Args& args) {
    if (args.size() != 1 ||
        (args[0] != L"start" && args[0] != L"stop" && args[0] != L"exit" && args[0] != L"none")) {
        return Fail(L"tray-menu takes start, stop, exit or none");
    }
    HWND main = WaitMainWindow(DEFAULT_WAIT_MS);
    if (main == nullptr) {
        return Fail(L"the main window did not appear");
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    if (!ClickTrayIcon(false)) {
        return Fail(L"no icon in the notification area");
    }
    HWND menu = nullptr;
    const DWORD start = GetTickCount();
    while ((menu = FindPopupMenu(pid)) == nullptr && GetTickCount() - start < DEFAULT_WAIT_MS) {
        Sleep(POLL_MS);
    }
    if (menu == nullptr) {
        return Fail(L"the tray menu did not open");
    }
    // Down from no selection reaches Start first; Up reaches EXIT, the last item.
    if (args[0] == L"start") {
        PostKey(menu, VK_DOWN);
    } else if (args[0] == L"stop") {
        PostKey(menu, VK_DOWN);
        PostKey(menu, VK_DOWN);
    } else if (args[0] == L"exit") {
        PostKey(menu, VK_UP);
    }
    PostKey(menu, args[0] == L"none" ? VK_ESCAPE : VK_RETURN);
    if (!WaitWindowGone(menu, DEFAULT_WAIT_MS) && IsWindowVisible(menu)) {
        return Fail(L"the tray menu did not close");
    }
    PrintLine(L"tray menu: " + args[0]);
    return 0;
}

int TrayIcon(const Args&) {
    PrintLine(TrayIconShown() ? L"1" : L"0");
    return 0;
}

int TrayClick(const Args& args) {
    if (args.size() != 1 || (args[0] != L"left" && args[0] != L"right")) {
        return Fail(L"tray-click takes left or right");
    }
    if (!ClickTrayIcon(args[0] == L"left")) {
        return Fail(L"no icon in the notification area");
    }
    PrintLine(L"clicked tray icon " + args[0]);
    return 0;
}

int WaitWindow(const Args& args) {
    long ms = 0;
    if (args.empty() || !OptionalMs(args, 1, ms)) {
        return Fail(L"wait-window takes a title and optional milliseconds");
    }
    HWND window = WaitDialogByTitle(args[0], static_cast<DWORD>(ms));
    if (window == nullptr) {
        return Fail(L"no window \"" + args[0] + L"\" within " + Decimal(ms) + L" ms");
    }
    RECT client;
    GetClientRect(window, &client);
    PrintLine(L"visible=" + Decimal(IsWindowVisible(window) ? 1 : 0) + L" client=" +
              Decimal(client.right) + L"x" + Decimal(client.bottom) + L" owner=" +
              Decimal(GetWindow(window, GW_OWNER) == FindMainWindow() ? 1 : 0));
    return 0;
}

int WindowGone(const Args& args) {
    long ms = 0;
    if (args.empty() || !OptionalMs(args, 1, ms)) {
        return Fail(L"window-gone takes a title and optional milliseconds");
    }
    HWND window = FindDialogByTitle(args[0]);
    if (window != nullptr && !WaitWindowGone(window, static_cast<DWORD>(ms))) {
        return Fail(L"window \"" + args[0] + L"\" still there");
    }
    PrintLine(L"gone");
    return 0;
}

// Waits for a message box with the caption and prints each of its texts on a line.
int MessageBoxText(const Args& args) {
    long ms = 0;
    if (args.empty() || !OptionalMs(args, 1, ms)) {
        return Fail(L"message-box takes a caption and optional milliseconds");
    }
    HWND box = WaitDialogByTitle(args[0], static_cast<DWORD>(ms));
    if (box == nullptr) {
        return Fail(L"no message box \"" + args[0] + L"\" within " + Decimal(ms) + L" ms");
    }
    std::vector<std::wstring> texts;
    EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&texts));
    for (const std::wstring& text : texts) {
        PrintLine(text);
    }
    return 0;
}

// Closes the window with the caption as a user would: its OK button (ok), the Escape or
// Enter key (escape, enter) or its close box (close); then waits until it has closed.
int Dismiss(const Args& args) {
    const std::wstring how = args.size() == 2 ? args[1] : L"ok";
    if (args.empty() || args.size() > 2 ||
        (how != L"ok" && how != L"escape" && how != L"enter" && how != L"close")) {
        return Fail(L"dismiss takes a caption and ok, escape, enter or close");
    }
    HWND box = WaitDialogByTitle(args[0], DEFAULT_WAIT_MS);
    if (box == nullptr) {
        return Fail(L"no window \"" + args[0] + L"\"");
    }
    if (how == L"ok") {
        if (!PressButton(box, IDOK)) {
            return Fail(L"window \"" + args[0] + L"\" has no OK button to press");
        }
    } else if (how == L"close") {
        PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        PostKey(box, how == L"escape" ? VK_ESCAPE : VK_RETURN);
    }
    if (!WaitWindowGone(box, DEFAULT_WAIT_MS)) {
        return Fail(L"window \"" + args[0] + L"\" did not close");
    }
    PrintLine(L"dismissed");
    return 0;
}

// Waits for the plug-in file dialog and prints the file name it offers; then "open"
// confirms it (after typing PATH into the name box, when given) and "cancel" cancels.
int FileDialog(const Args& args) {
    const bool cancel = !args.empty() && args[0] == L"cancel";
    if (args.empty() || args.size() > 2 || (args[0] != L"open" && !cancel) ||
        (cancel && args.size() == 2)) {
        return Fail(L"file-dialog takes open [PATH] or cancel");
    }
    HWND dialog = WaitDialogByTitle(FILE_DIALOG_TITLE, DEFAULT_WAIT_MS);
    if (dialog == nullptr) {
        return Fail(L"the file dialog did not open");
    }
    HWND name = FindChild(dialog, FILE_NAME_COMBO_ID);
    if (name == nullptr) {
        name = FindChild(dialog, FILE_NAME_EDIT_ID);
    }
    if (name == nullptr) {
        return Fail(L"the file dialog has no file name box");
    }
    PrintLine(L"file name: " + WindowText(name));
    if (args.size() == 2) {
        SendWithin(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[1].c_str()), nullptr);
    }
    if (!PressButton(dialog, cancel ? IDCANCEL : IDOK)) {
        return Fail(L"the file dialog has no button to press");
    }
    if (!WaitWindowGone(dialog, DEFAULT_WAIT_MS)) {
        return Fail(L"the file dialog did not close (file refused?)");
    }
    PrintLine(cancel ? L"cancelled" : L"opened");
    return 0;
}

int ListWindows(const Args&) {
    EnumWindows(ListOne, 0);
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (tray != nullptr) {
        PrintLine(L"tray " + HandleText(tray));
        EnumChildWindows(tray, ListChild, 0);
    }
    HWND main = FindMainWindow();
    if (main != nullptr) {
        PrintLine(L"main " + HandleText(main));
    }
    return 0;
}

// The system's monotonic clock in seconds (the performance counter), to line up the
// driver's actions with recordings made on the host.
int Now(const Args&) {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    wchar_t text[32];
    std::swprintf(text, 32, L"%.4f",
                  static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart));
    PrintLine(text);
    return 0;
}

int SleepFor(const Args& args) {
    long ms = 0;
    if (args.size() != 1 || !ParseNumber(args[0], ms) || ms < 0) {
        return Fail(L"sleep takes milliseconds");
    }
    Sleep(static_cast<DWORD>(ms));
    return 0;
}
