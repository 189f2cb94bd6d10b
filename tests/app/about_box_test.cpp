// The About box: opened modally from the main window, and closed by Enter, Escape and its
// close box, driven from inside its own modal loop.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/about_box.h"
#include "app/app_state.h"
#include "app/main_dialog.h"
#include "res/resource.h"
#include "tests/app/dialog_harness.h"
#include "tests/app/modal_driver.h"

namespace {

using AboutBox = MainDialogTest;

bool Contains(const std::vector<std::wstring>& texts, const wchar_t* text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST_F(AboutBox, TheButtonOpensItModallyOverTheMainWindow) {
    OpenDialog();
    std::wstring title;
    std::vector<std::wstring> texts;
    HWND owner = nullptr;
    bool mainEnabledMeanwhile = true;
    bool hasButtons = true;
    SIZE client = {};
    RECT units = {0, 0, 157, 137};
    ModalDriver driver(dialog, [&](HWND box, int tick) {
        if (tick == 0) {
            title = WindowTitle(box);
            texts = StaticTexts(box);
            owner = GetWindow(box, GW_OWNER);
            mainEnabledMeanwhile = IsWindowEnabled(dialog) != FALSE;
            hasButtons = GetDlgItem(box, IDOK) != nullptr || GetDlgItem(box, IDCANCEL) != nullptr;
            RECT r;
            GetClientRect(box, &r);
            client = SIZE{r.right, r.bottom};
            MapDialogRect(box, &units);
            PostMessageW(box, WM_KEYDOWN, VK_RETURN, 0);
        }
    });
    EXPECT_EQ(MainDialogProc(dialog, WM_COMMAND, MAKEWPARAM(ID_ABOUT, BN_CLICKED),
                             reinterpret_cast<LPARAM>(Item(ID_ABOUT))),
              TRUE);
    EXPECT_EQ(driver.boxesSeen(), 1);
    EXPECT_FALSE(driver.stuck()) << "Enter closes it";
    EXPECT_EQ(title, L"About");
    EXPECT_EQ(owner, dialog);
    EXPECT_FALSE(mainEnabledMeanwhile) << "the main window takes no input meanwhile";
    EXPECT_TRUE(IsWindowEnabled(dialog)) << "and gets it back afterwards";
    EXPECT_FALSE(hasButtons);
    EXPECT_TRUE(Contains(texts, L"Kawauso04"));
    EXPECT_TRUE(Contains(texts, L"1.0"));
    EXPECT_TRUE(Contains(texts, L"VST PlugIn Technology by Steinberg"));
    EXPECT_EQ(client.cx, units.right);
    EXPECT_EQ(client.cy, units.bottom);
    EXPECT_EQ(FindOwnedDialog(dialog), nullptr);
}

TEST_F(AboutBox, EnterEndsItWithOkEscapeAndTheCloseBoxWithCancel) {
    OpenDialog();
    struct Way {
        const char* name;
        UINT message;
        WPARAM wParam;
        INT_PTR result;
    } ways[] = {
        {"Enter", WM_KEYDOWN, VK_RETURN, IDOK},
        {"Escape", WM_KEYDOWN, VK_ESCAPE, IDCANCEL},
        {"close box", WM_SYSCOMMAND, SC_CLOSE, IDCANCEL},
    };
    for (const Way& way : ways) {
        bool openAfterClicks = false;
        ModalDriver driver(dialog, [&](HWND box, int tick) {
            if (tick == 0) {
                // Clicks on the texts (they let the mouse through to the box) do nothing.
                const LPARAM onText = MAKELPARAM(40, 30);
                PostMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, onText);
                PostMessageW(box, WM_LBUTTONUP, 0, onText);
                PostMessageW(box, WM_LBUTTONDBLCLK, MK_LBUTTON, onText);
            } else if (tick == 5) {
                openAfterClicks = true;
                PostMessageW(box, way.message, way.wParam, 0);
            }
        });
        const INT_PTR result =
            DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_ABOUT), dialog, AboutDialogProc, 0);
        EXPECT_EQ(driver.boxesSeen(), 1) << way.name;
        EXPECT_FALSE(driver.stuck()) << way.name;
        EXPECT_TRUE(openAfterClicks) << way.name;
        EXPECT_EQ(result, way.result) << way.name;
        EXPECT_TRUE(IsWindowEnabled(dialog)) << way.name;
    }
}

}  // namespace
