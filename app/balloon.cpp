#include "app/balloon.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cwchar>

#include "app/app_state.h"
#include "res/resource.h"
#include "settings/command_line.h"

namespace {

constexpr UINT BALLOON_SHOWN_MS = 6000;
const wchar_t BALLOON_TITLE[] = L"Kawauso04";
// Without a width a tip is one line, however long, and ignores its line breaks.
constexpr LPARAM BALLOON_WIDTH_PIXELS = 360;

HWND balloonTip = nullptr; // one tooltip window per owner, made on first use, gone with it
TTTOOLINFOW balloonTool;

void ShowTrayBalloon(const wchar_t* text) {
    // The icon's own record is of the first layout, which has no balloon fields.
    NOTIFYICONDATAW info = {};
    info.cbSize = NOTIFYICONDATAW_V2_SIZE;
    info.hWnd = trayIconData.hWnd;
    info.uID = trayIconData.uID;
    info.uFlags = NIF_INFO;
    std::wcsncpy(info.szInfo, text, sizeof info.szInfo / sizeof info.szInfo[0] - 1);
    std::wcsncpy(info.szInfoTitle, BALLOON_TITLE,
                 sizeof info.szInfoTitle / sizeof info.szInfoTitle[0] - 1);
    info.dwInfoFlags = NIIF_WARNING;
    Shell_NotifyIconW(NIM_MODIFY, &info);
}

void ShowControlBalloon(HWND window, int controlId, const wchar_t* text) {
    if (!IsWindow(balloonTip) || balloonTool.hwnd != window) { // none yet, or gone with its owner
        balloonTip =
            CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                            WS_POPUP | TTS_BALLOON | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr, appInstance, nullptr);
        balloonTool = {};
        balloonTool.cbSize = sizeof balloonTool;
        balloonTool.uFlags = TTF_TRACK | TTF_ABSOLUTE | TTF_IDISHWND;
        balloonTool.hwnd = window;
        balloonTool.uId = reinterpret_cast<UINT_PTR>(window);
        SendMessageW(balloonTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&balloonTool));
        SendMessageW(balloonTip, TTM_SETTITLEW, TTI_WARNING,
                     reinterpret_cast<LPARAM>(BALLOON_TITLE));
        SendMessageW(balloonTip, TTM_SETMAXTIPWIDTH, 0, BALLOON_WIDTH_PIXELS);
    }
    balloonTool.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(balloonTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&balloonTool));
    RECT control;
    GetWindowRect(GetDlgItem(window, controlId), &control);
    SendMessageW(balloonTip, TTM_TRACKPOSITION, 0,
                 MAKELPARAM((control.left + control.right) / 2, control.bottom));
    SendMessageW(balloonTip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&balloonTool));
    SetTimer(window, TIMER_BALLOON, BALLOON_SHOWN_MS, nullptr);
}

} // namespace

void ShowBalloon(HWND window, int controlId, const wchar_t* text) {
    if (startInTray) {
        ShowTrayBalloon(text);
    } else {
        ShowControlBalloon(window, controlId, text);
    }
}

void HideBalloon() {
    if (balloonTip != nullptr) {
        SendMessageW(balloonTip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&balloonTool));
        KillTimer(balloonTool.hwnd, TIMER_BALLOON);
    }
}
