// The command-line message as the user sees it: a real message box, found and dismissed from
// a second thread while ParseCommandLine waits in it.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "settings/command_line.h"
#include "settings/settings_store.h"

namespace {

struct SeenBox {
    std::wstring caption;
    std::wstring text;
    bool hasOwner = false;
    bool okVisible = false;
    int otherVisibleButtons = 0;
    bool hasIcon = false;
};

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindDialogOfProcess(HWND window, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (process == search->process && std::wstring(className) == L"#32770" &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK InspectChild(HWND child, LPARAM param) {
    SeenBox* box = reinterpret_cast<SeenBox*>(param);
    if (!IsWindowVisible(child)) {
        return TRUE;
    }
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if (lstrcmpiW(className, L"Button") == 0) {
        if (GetDlgCtrlID(child) == IDOK) {
            box->okVisible = true;
        } else {
            ++box->otherVisibleButtons;
        }
    } else if (lstrcmpiW(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
               SendMessageW(child, STM_GETICON, 0, 0) != 0) {
        box->hasIcon = true;
    } else if (lstrcmpiW(className, L"Static") == 0) {
        wchar_t text[256] = {};
        GetWindowTextW(child, text, 256);
        if (text[0] != L'\0') {
            box->text = text;
        }
    }
    return TRUE;
}

// Waits for this process's dialog box, records what it shows and presses OK.
void WatchAndDismiss(SeenBox* box, std::atomic<int>* boxesSeen) {
    for (int tries = 0; tries < 1000; ++tries) {
        Search search{GetCurrentProcessId(), nullptr};
        EnumWindows(FindDialogOfProcess, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            Sleep(100);  // let it finish drawing its controls
            wchar_t caption[64] = {};
            GetWindowTextW(search.found, caption, 64);
            box->caption = caption;
            box->hasOwner = GetWindow(search.found, GW_OWNER) != nullptr;
            EnumChildWindows(search.found, InspectChild, reinterpret_cast<LPARAM>(box));
            ++*boxesSeen;
            PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return;
        }
        Sleep(20);
    }
}

TEST(CommandLineMessageTest, TheDefaultShowsTheMessageBoxAndParsingGoesOnAfterIt) {
    ResetSettingsStore();
    startInTray = false;
    SetCommandLineMessageHandler(nullptr);
    SeenBox box;
    std::atomic<int> boxesSeen{0};
    std::thread watcher(WatchAndDismiss, &box, &boxesSeen);
    wchar_t text[] = L"-p8 -t";
    ParseCommandLine(text);
    watcher.join();

    EXPECT_EQ(boxesSeen.load(), 1);
    EXPECT_EQ(box.caption, L"ERROR");
    EXPECT_EQ(box.text, L"引数を理解できませんでした。");
    EXPECT_FALSE(box.hasOwner);
    EXPECT_TRUE(box.okVisible);
    EXPECT_EQ(box.otherVisibleButtons, 0);
    EXPECT_FALSE(box.hasIcon);
    // The out-of-range slot went to 0, and the option after it was still read.
    EXPECT_EQ(currentSlotIndex, 0);
    EXPECT_TRUE(startInTray);
    startInTray = false;
}

}  // namespace
