// Minimising into the notification area and back, the hide filter, and the icon's menu
// states, driven in the running main dialog.
#include <windows.h>
#include <shellapi.h>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "audio/engine_state.h"
#include "plugin/plugin_commands.h"
#include "res/resource.h"
#include "settings/command_line.h"
#include "tests/app/plugin_dialog_fixture.h"

namespace {

using Tray = PluginDialogTest;

// The icon exists in the notification area exactly when it can be modified.
bool IconPresent() {
    NOTIFYICONDATAW probe = trayIconData;
    probe.uFlags = NIF_TIP;
    return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

bool Grayed(UINT command) {
    return (GetMenuState(trayPopup, command, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

TEST_F(Tray, MinimiseHidesBothWindowsAndALeftClickRestoresThem) {
    OpenDialog();
    ChooseVariant("editor");
    LoadPluginCommand(dialog);
    HWND editor = Editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_FALSE(IconPresent());

    SendMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);  // the title bar's minimise button
    Pump();
    EXPECT_TRUE(startInTray);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_FALSE(IsIconic(dialog)) << "never an ordinary minimised window";
    EXPECT_FALSE(IsWindowVisible(editor));
    EXPECT_TRUE(IsWindow(editor)) << "hidden, not closed";
    EXPECT_TRUE(IconPresent());

    // Only the release of the left button over our icon restores.
    for (LPARAM mouse : {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_MOUSEMOVE, WM_RBUTTONDOWN,
                         WM_MBUTTONUP}) {
        EXPECT_EQ(MainDialogProc(dialog, WM_TRAYNOTIFY, TRAY_ICON_ID, mouse), 0) << mouse;
    }
    EXPECT_EQ(MainDialogProc(dialog, WM_TRAYNOTIFY, TRAY_ICON_ID + 1, WM_LBUTTONUP), 0);
    Pump();
    EXPECT_TRUE(startInTray);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_FALSE(IsWindowVisible(editor));
    EXPECT_TRUE(IconPresent());

    EXPECT_EQ(MainDialogProc(dialog, WM_TRAYNOTIFY, TRAY_ICON_ID, WM_LBUTTONUP), 1);
    Pump();
    EXPECT_FALSE(startInTray);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_FALSE(IsIconic(dialog));
    EXPECT_TRUE(IsWindowVisible(editor));
    EXPECT_FALSE(IconPresent()) << "the icon is removed";

    // A second click finds everything as it is.
    RECT before, after;
    GetWindowRect(dialog, &before);
    MainDialogProc(dialog, WM_TRAYNOTIFY, TRAY_ICON_ID, WM_LBUTTONUP);
    Pump();
    GetWindowRect(dialog, &after);
    EXPECT_TRUE(EqualRect(&before, &after));
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_TRUE(IsWindowVisible(editor));
    EXPECT_FALSE(startInTray);
    EXPECT_FALSE(IconPresent());
    EXPECT_EQ(pluginActive.load(), 1) << "hiding and showing leave the plug-in alone";
}

TEST_F(Tray, OtherSystemCommandsAreLeftToTheSystem) {
    OpenDialog();
    EXPECT_EQ(MainDialogProc(dialog, WM_SYSCOMMAND, SC_RESTORE, 0), 0);
    EXPECT_EQ(MainDialogProc(dialog, WM_SYSCOMMAND, SC_KEYMENU, 0), 0);
    EXPECT_FALSE(startInTray);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_FALSE(IconPresent());
}

TEST_F(Tray, WhileInTheTrayNoPositionChangeMayShowTheWindow) {
    OpenDialog();
    const UINT flags = SWP_SHOWWINDOW | SWP_NOZORDER | SWP_NOSIZE;
    WINDOWPOS change = {dialog, nullptr, 12, 34, 0, 0, flags};
    EXPECT_EQ(MainDialogProc(dialog, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&change)), 0);
    EXPECT_EQ(change.flags, flags) << "outside the tray nothing is filtered";

    SendMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    Pump();
    ASSERT_TRUE(startInTray);
    change.flags = flags;
    EXPECT_EQ(MainDialogProc(dialog, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&change)), 0);
    EXPECT_EQ(change.flags, static_cast<UINT>(SWP_NOZORDER | SWP_NOSIZE));
    EXPECT_EQ(change.x, 12);
    EXPECT_EQ(change.y, 34);

    // Through the window manager: showing fails, moving works.
    ShowWindow(dialog, SW_SHOWNORMAL);
    SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
    Pump();
    EXPECT_FALSE(IsWindowVisible(dialog));
    SetWindowPos(dialog, nullptr, 50, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT r;
    GetWindowRect(dialog, &r);
    EXPECT_EQ(r.left, 50);
    EXPECT_EQ(r.top, 60);
}

TEST_F(Tray, ThePopupStartsWithStartEnabledAndFollowsTheStream) {
    OpenDialog();
    ASSERT_NE(trayPopup, nullptr);
    ASSERT_EQ(GetMenuItemCount(trayPopup), 4);
    EXPECT_EQ(GetMenuItemID(trayPopup, 0), static_cast<UINT>(ID_START));
    EXPECT_EQ(GetMenuItemID(trayPopup, 1), static_cast<UINT>(ID_STOP));
    EXPECT_NE(GetMenuState(trayPopup, 2, MF_BYPOSITION) & MF_SEPARATOR, 0u);
    EXPECT_EQ(GetMenuItemID(trayPopup, 3), static_cast<UINT>(ID_EXIT));
    EXPECT_FALSE(Grayed(ID_START));
    EXPECT_TRUE(Grayed(ID_STOP));
    EXPECT_FALSE(Grayed(ID_EXIT));

    // A refused start changes nothing.
    SetDlgItemTextW(dialog, IDC_BUFFER_MS, L"9");
    Command(ID_START);
    EXPECT_EQ(running, 0);
    EXPECT_FALSE(Grayed(ID_START));
    EXPECT_TRUE(Grayed(ID_STOP));

    SetDlgItemTextW(dialog, IDC_BUFFER_MS, L"20");
    ASSERT_TRUE(StartTestStream());
    EXPECT_TRUE(Grayed(ID_START));
    EXPECT_FALSE(Grayed(ID_STOP));

    Command(ID_STOP);  // the fade-out only: the items change with the teardown
    EXPECT_TRUE(Grayed(ID_START));
    EXPECT_FALSE(Grayed(ID_STOP));
    for (int i = 0; i < 40 && running != 0; ++i) {
        Pump(50);
    }
    ASSERT_EQ(running, 0);
    EXPECT_FALSE(Grayed(ID_START));
    EXPECT_TRUE(Grayed(ID_STOP));
}

TEST_F(Tray, ClosingFromTheTrayRemovesTheIcon) {
    OpenDialog();
    SendMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    Pump();
    ASSERT_TRUE(IconPresent());
    SendMessageW(dialog, WM_CLOSE, 0, 0);  // the menu's EXIT sends this
    EXPECT_FALSE(IconPresent()) << "no icon left behind";
    DestroyWindow(dialog);
    dialog = nullptr;
}

}  // namespace
