// kawauso-driver: drives a running Kawauso04 from another process through the window
// messages a user's actions produce, and prints what its windows show. One command a call,
// exit status 1 and the reason on stderr when it cannot be done:
//   wait MS [TITLE]   the main window, or the message box TITLE (printing its text)
//   dismiss TITLE     the box's OK button (Escape without one)   hidden MS   never shown
//   window [TITLE] (visible, iconic, position, size) | title | close | minimise
//   system-menu       the last item of the main window's system menu, opened as Alt+Space does
//   text ID [TITLE]   a control's text, in the main window or the box TITLE
//   enabled ID | click ID [TITLE] | set-text ID TEXT [TITLE] | scroll ID POS (a drag ending there)
//   select ID ROW TITLE  a list box's row chosen, as a user's click does, in the window TITLE
//   system-command N  the main window's system menu item N
//   press ID [TITLE]  a click posted, for a button that opens a modal dialog (click would wait)
//   tray (1: the icon is shown) | tray-click (left) | tray-exit (the menu's EXIT)
//   balloon (1: a balloon tip is shown)
//   end-session       the system's query (printing the answer, 1: it may end), then the end
//   answers S         the main window probed every 20 ms for S seconds: its slowest answer in ms
// KAWAUSO_DRIVER_DIR (a Windows path): only programs started from that folder count.
#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int CAPTURE_LIST_ID = 1001;   // only the main window holds the capture device list
constexpr int MESSAGE_TEXT_ID = 0xFFFF; // a message box's text
constexpr size_t ARGS_MAX = 4;
constexpr DWORD POLL_MS = 5;
constexpr DWORD WAIT_MS = 10000;
constexpr UINT SEND_TIMEOUT_MS = 10000; // a program slower than this counts as hung
constexpr int TRAY_ICON_HALF_WIDTH = 10;
constexpr int TEXT_CHARS = 1024;
constexpr DWORD PROBE_MS = 20;

bool Fail(const std::wstring& reason) {
    std::fwprintf(stderr, L"kawauso-driver: %ls\n", reason.c_str());
    return false;
}

bool Print(const std::wstring& text) {
    char utf8[TEXT_CHARS * 3] = "";
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
    return std::printf("%s\n", utf8) > 0;
}

// False when the program did not answer in time; its answer in *result, where asked.
bool Send(HWND window, UINT message, WPARAM w, LPARAM l, DWORD_PTR* result = nullptr) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(window, message, w, l, SMTO_NORMAL, SEND_TIMEOUT_MS,
                               result != nullptr ? result : &ignored) != 0;
}

// WM_GETTEXT crosses processes for every class; GetWindowText does not for edit boxes.
// Unanswered (a window whose process is ending) it reads empty, and answered says so.
std::wstring TextOf(HWND window, bool* answered = nullptr) {
    wchar_t text[TEXT_CHARS] = L"";
    const bool sent = Send(window, WM_GETTEXT, TEXT_CHARS, reinterpret_cast<LPARAM>(text));
    if (answered != nullptr) {
        *answered = sent;
    }
    text[TEXT_CHARS - 1] = L'\0';
    return text;
}

// A control's text as read, or a failure that says it went unanswered (not an empty text).
bool PrintTextOf(HWND window) {
    bool answered = false;
    const std::wstring text = TextOf(window, &answered);
    return answered ? Print(text) : Fail(L"the text was not answered");
}

// True as soon as done() is, false when it was not within ms.
template <typename Done> bool Poll(DWORD ms, Done done) {
    for (DWORD start = GetTickCount(); !done(); Sleep(POLL_MS)) {
        if (GetTickCount() - start >= ms) {
            return false;
        }
    }
    return true;
}

bool FromChosenFolder(HWND window) {
    const wchar_t* folder = _wgetenv(L"KAWAUSO_DRIVER_DIR");
    DWORD id = 0, chars = TEXT_CHARS;
    wchar_t image[TEXT_CHARS] = L"";
    GetWindowThreadProcessId(window, &id);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    const bool named = process != nullptr && QueryFullProcessImageNameW(process, 0, image, &chars);
    if (process != nullptr) {
        CloseHandle(process);
    }
    return folder == nullptr || (named && _wcsnicmp(image, folder, wcslen(folder)) == 0);
}

// A top-level dialog with this title: the main window (hidden counts) or any other.
HWND FindDialog(const std::wstring& title, bool main) {
    for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w != nullptr;
         w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
        // The main window's title may name its switches after the program's name.
        const std::wstring shown = TextOf(w);
        const bool named = main ? shown.compare(0, title.size(), title) == 0 : shown == title;
        if (FromChosenFolder(w) && named && (GetDlgItem(w, CAPTURE_LIST_ID) != nullptr) == main) {
            return w;
        }
    }
    return nullptr;
}

bool Gone(HWND window) {
    return Poll(WAIT_MS, [&] { return !IsWindow(window) || !IsWindowVisible(window); }) ||
           Fail(L"the window did not close");
}

// A press and release over the program's icon, the only one, at the notification area's
// right end; the shell passes it on. Wine shows the area only while it holds an icon.
bool ClickTray(bool left) {
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (tray == nullptr || !IsWindowVisible(tray)) {
        return Fail(L"no icon in the notification area");
    }
    RECT r;
    GetClientRect(tray, &r);
    const LPARAM at = MAKELPARAM(r.right - TRAY_ICON_HALF_WIDTH, r.bottom / 2);
    PostMessageW(tray, left ? WM_LBUTTONDOWN : WM_RBUTTONDOWN, left ? MK_LBUTTON : MK_RBUTTON, at);
    return PostMessageW(tray, left ? WM_LBUTTONUP : WM_RBUTTONUP, 0, at);
}

// The menu really opened (by a right click on the icon, or as Alt+Space opens the system
// menu): Up from no selection reaches the last item (the tray's EXIT).
bool ChooseLastItem(bool opened) {
    HWND menu = nullptr;
    const auto open = [&] {
        menu = FindWindowW(L"#32768", nullptr);
        return menu != nullptr && IsWindowVisible(menu);
    };
    if (!opened || !Poll(WAIT_MS, open)) {
        return Fail(L"the menu did not open");
    }
    PostMessageW(menu, WM_KEYDOWN, VK_UP, 1);
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 1);
    return Gone(menu);
}

// A window that stops answering shows as a slow answer (one that is gone, as a quick one).
bool Probe(HWND window, DWORD seconds) {
    DWORD slowest = 0;
    for (DWORD start = GetTickCount(); GetTickCount() - start < seconds * 1000; Sleep(PROBE_MS)) {
        const DWORD sent = GetTickCount();
        Send(window, WM_NULL, 0, 0);
        slowest = std::max(slowest, GetTickCount() - sent);
    }
    return Print(std::to_wstring(slowest));
}

// The window a command names, empty for the main window.
std::wstring TitleArgument(const std::vector<std::wstring>& a) {
    const std::wstring& c = a[0];
    if (c == L"dismiss" || c == L"window") {
        return a[1];
    }
    if (c == L"wait" || c == L"text" || c == L"click" || c == L"press") {
        return a[2];
    }
    return c == L"set-text" || c == L"select" ? a[3] : L"";
}

bool Run(std::vector<std::wstring> a) {
    a.resize(ARGS_MAX); // missing ones read as empty
    const std::wstring& c = a[0];
    if (c == L"tray") {
        HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
        return Print(tray != nullptr && IsWindowVisible(tray) ? L"1" : L"0");
    }
    if (c == L"balloon") { // a balloon tip is shown
        HWND w = nullptr;
        while ((w = FindWindowExW(nullptr, w, TOOLTIPS_CLASSW, nullptr)) != nullptr &&
               !(IsWindowVisible(w) && (GetWindowLongW(w, GWL_STYLE) & TTS_BALLOON) != 0)) {
        }
        return Print(w != nullptr ? L"1" : L"0");
    }
    if (c == L"tray-click") {
        return ClickTray(true);
    }
    if (c == L"tray-exit") {
        return ChooseLastItem(ClickTray(false));
    }
    const std::wstring named = TitleArgument(a);
    const bool dialog = !named.empty();
    const std::wstring title = dialog ? named : L"Kawauso04";
    HWND w = nullptr;
    if (!Poll(c == L"wait" ? _wtoi(a[1].c_str()) : WAIT_MS,
              [&] { return (w = FindDialog(title, !dialog)) != nullptr; })) {
        return Fail(L"no window " + title);
    }
    if (c == L"wait" || c == L"dismiss") {
        HWND ok = GetDlgItem(w, IDOK); // a box without buttons takes Escape's command
        return c == L"dismiss" ? (ok != nullptr ? PostMessageW(ok, BM_CLICK, 0, 0)
                                                : PostMessageW(w, WM_COMMAND, IDCANCEL, 0)) &&
                                     Gone(w)
                               : !dialog || Print(TextOf(GetDlgItem(w, MESSAGE_TEXT_ID)));
    }
    if (c == L"answers") {
        return Probe(w, _wtoi(a[1].c_str()));
    }
    RECT r;
    if (c == L"window" && GetWindowRect(w, &r)) {
        return Print(L"visible=" + std::to_wstring(IsWindowVisible(w) ? 1 : 0) + L" iconic=" +
                     std::to_wstring(IsIconic(w) ? 1 : 0) + L" x=" + std::to_wstring(r.left) +
                     L" y=" + std::to_wstring(r.top) + L" width=" +
                     std::to_wstring(r.right - r.left) + L" height=" +
                     std::to_wstring(r.bottom - r.top));
    }
    if (c == L"title") {
        return Print(TextOf(w));
    }
    if (c == L"system-command") {
        return PostMessageW(w, WM_SYSCOMMAND, _wtoi(a[1].c_str()), 0) != FALSE;
    }
    if (c == L"system-menu") {
        return ChooseLastItem(PostMessageW(w, WM_SYSCOMMAND, SC_KEYMENU, L' ') != FALSE);
    }
    if (c == L"close" || c == L"minimise") {
        return PostMessageW(w, WM_SYSCOMMAND, c == L"close" ? SC_CLOSE : SC_MINIMIZE, 0);
    }
    if (c == L"end-session") { // as the system does it: the end says whether it comes
        DWORD_PTR answer = 0;
        if (!Send(w, WM_QUERYENDSESSION, 0, 0, &answer)) {
            return Fail(L"the query was not answered in time");
        }
        return Print(std::to_wstring(answer)) &&
               (Send(w, WM_ENDSESSION, answer != 0, 0) || Fail(L"the end was not handled in time"));
    }
    if (c == L"hidden") {
        return !Poll(_wtoi(a[1].c_str()), [&] { return IsWindowVisible(w) != FALSE; }) ||
               Fail(L"the main window showed");
    }
    HWND control = GetDlgItem(w, _wtoi(a[1].c_str()));
    if (control == nullptr) {
        return Fail(L"no control " + a[1]);
    }
    if (c == L"text") {
        return PrintTextOf(control);
    }
    if (c == L"enabled") {
        return Print(IsWindowEnabled(control) ? L"1" : L"0");
    }
    if (c == L"set-text") {
        return Send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[2].c_str()));
    }
    if (c == L"select") {
        return (Send(control, LB_SETCURSEL, _wtoi(a[2].c_str()), 0) &&
                Send(w, WM_COMMAND, MAKEWPARAM(_wtoi(a[1].c_str()), LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(control))) ||
               Fail(L"the row was not chosen in time");
    }
    if (!IsWindowEnabled(control) || !IsWindowEnabled(w)) {
        return Fail(L"control " + a[1] + L" takes no input");
    }
    if (c == L"click") { // sent: returns once the program has handled it
        return Send(control, BM_CLICK, 0, 0) || Fail(L"the click was not handled in time");
    }
    if (c == L"press") {
        return PostMessageW(control, BM_CLICK, 0, 0) || Fail(L"the click was not posted");
    }
    if (c == L"scroll") {
        return Send(control, TBM_SETPOS, TRUE, _wtoi(a[2].c_str())) &&
               Send(w, WM_VSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(control));
    }
    return Fail(L"cannot " + c);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY); // LF line ends, as the scripts read them
    return Run(std::vector<std::wstring>(argv + 1, argv + argc)) ? 0 : 1;
}
