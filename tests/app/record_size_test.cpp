// Record sizes handed to the system come from the platform's own size macros, so each build
// passes the size its system expects; the 32-bit figures are the fixed ones.
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstddef>

#include "app/app_state.h"
#include "tests/app/dialog_harness.h"

namespace {

using RecordSizes = MainDialogTest;

TEST(RecordSizeMacros, MatchTheOlderLayouts) {
    // Each older layout ends where the fields added after it begin.
    EXPECT_EQ(OPENFILENAME_SIZE_VERSION_400W, offsetof(OPENFILENAMEW, pvReserved));
    EXPECT_EQ(NOTIFYICONDATAW_V1_SIZE, offsetof(NOTIFYICONDATAW, szTip) + 64 * sizeof(WCHAR));
#ifndef _WIN64
    EXPECT_EQ(OPENFILENAME_SIZE_VERSION_400W, 76u);
    EXPECT_EQ(NOTIFYICONDATAW_V1_SIZE, 152u);
#endif
}

TEST_F(RecordSizes, TheTrayIconRecordHasTheVersionOneSize) {
    OpenDialog();
    EXPECT_EQ(trayIconData.cbSize, static_cast<DWORD>(NOTIFYICONDATAW_V1_SIZE));
    EXPECT_LT(trayIconData.cbSize, static_cast<DWORD>(sizeof(NOTIFYICONDATAW)));
    EXPECT_EQ(trayIconData.hWnd, dialog);
    EXPECT_EQ(trayIconData.uID, 101u);
    EXPECT_EQ(trayIconData.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(trayIconData.uCallbackMessage, 0x8001u);
    EXPECT_EQ(trayIconData.hIcon, reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0)))
        << "the window's own big icon";
    EXPECT_STREQ(trayIconData.szTip, L"Kawauso04");
}

}  // namespace
