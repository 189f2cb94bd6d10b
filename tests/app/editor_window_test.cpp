// The plug-in's editor window in the running main dialog, with the test effect that has an
// editor (its rectangle: top 10, left 20, bottom 60, right 420, so 400 x 100 pixels).
#include <windows.h>

#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "audio/engine_state.h"
#include "plugin/editor_window.h"
#include "plugin/plugin_commands.h"
#include "plugin/plugin_host.h"
#include "plugin/vst2.h"
#include "res/resource.h"
#include "tests/app/plugin_dialog_fixture.h"

namespace {

using EditorWindow = PluginDialogTest;

constexpr LONG EDITOR_WIDTH = 400;   // right 420 - left 20
constexpr LONG EDITOR_HEIGHT = 100;  // bottom 60 - top 10

class EditorWindowOpen : public PluginDialogTest {
protected:
    void SetUp() override {
        PluginDialogTest::SetUp();
        OpenDialog();
        Listen("editor");
        ChooseVariant("editor");
        LoadPluginCommand(dialog);
        editor = Editor();
        ASSERT_NE(editor, nullptr) << "a window titled Kawauso++";
    }

    int Idles() const { return CountCalls(Calls("editor"), effEditIdle); }

    HWND editor = nullptr;
};

TEST_F(EditorWindowOpen, IsSizedFromTheEffectsRectangleOwnedAndShown) {
    EXPECT_EQ(editor, static_cast<HWND>(editorWindow));
    EXPECT_EQ(CountThreadWindows(L"Kawauso++"), 1);
    EXPECT_TRUE(IsWindowVisible(editor));
    EXPECT_EQ(GetWindow(editor, GW_OWNER), dialog);
    const SIZE client = ClientSize(editor);
    EXPECT_EQ(client.cx, EDITOR_WIDTH);
    EXPECT_EQ(client.cy, EDITOR_HEIGHT);
    const LONG style = GetWindowLongW(editor, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU), WS_POPUP | WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_EQ(GetWindow(editor, GW_CHILD), nullptr) << "no controls of our own";
    EXPECT_NE(SendMessageW(editor, WM_GETICON, ICON_BIG, 0), 0) << "the program's icon";

    const std::vector<DispatcherCall> calls = Calls("editor");
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0].opcode, effOpen);
    EXPECT_EQ(calls[1].opcode, effSetSampleRate);
    EXPECT_EQ(calls[2].opcode, effEditOpen);
    EXPECT_TRUE(calls[2].ptrSet) << "the window handle";
    EXPECT_EQ(calls[3].opcode, effEditGetRect);
    EXPECT_TRUE(calls[3].ptrSet) << "where the effect puts its rectangle";
    ExpectActiveControls();
}

TEST_F(EditorWindowOpen, IsIdledWhileItExistsShownOrHidden) {
    Pump(150);
    const int shown = Idles();
    EXPECT_GT(shown, 0) << "effEditIdle from the window's timer";

    ShowEditor(SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(editor));
    EXPECT_TRUE(IsWindow(editor));
    Pump(150);
    EXPECT_GT(Idles(), shown) << "the timer runs on while hidden";

    ShowEditor(SW_SHOWNORMAL);
    EXPECT_TRUE(IsWindowVisible(editor));
    EXPECT_EQ(Editor(), editor);
    EXPECT_EQ(CountCalls(Calls("editor"), effEditOpen), 1) << "hiding and showing is no reopening";
}

TEST_F(EditorWindowOpen, TheCloseBoxClosesItOnceAndTheButtonOpensANewOne) {
    SendMessageW(editor, WM_SYSCOMMAND, SC_CLOSE, 0);  // what the close box sends
    Pump();
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(editorWindow, nullptr);
    std::vector<DispatcherCall> calls = Calls("editor");
    EXPECT_EQ(CountCalls(calls, effEditClose), 1);
    EXPECT_EQ(CountCalls(calls, effClose), 0) << "the effect stays loaded";
    const int idlesAfterClose = Idles();
    Pump(100);
    EXPECT_EQ(Idles(), idlesAfterClose) << "no idling without a window";
    ExpectActiveControls();

    EXPECT_EQ(MainDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_VST_EDIT, BN_CLICKED),
                             reinterpret_cast<LPARAM>(Item(IDC_VST_EDIT))),
              TRUE);
    HWND second = Editor();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(IsWindowVisible(second));
    calls = Calls("editor");
    EXPECT_EQ(CountCalls(calls, effEditOpen), 2) << "a new window, a new effEditOpen";
    EXPECT_EQ(CountCalls(calls, effEditGetRect), 2);
    EXPECT_EQ(ClientSize(second).cx, EDITOR_WIDTH);
    EXPECT_EQ(ClientSize(second).cy, EDITOR_HEIGHT);

    // Pressed again while it is open: raised, not duplicated, not reopened.
    SetForegroundWindow(dialog);
    Pump();
    ASSERT_EQ(GetForegroundWindow(), dialog);
    Command(IDC_VST_EDIT);
    Pump();
    EXPECT_EQ(GetForegroundWindow(), second);
    EXPECT_EQ(CountThreadWindows(L"Kawauso++"), 1);
    EXPECT_EQ(CountCalls(Calls("editor"), effEditOpen), 2);
}

TEST_F(EditorWindowOpen, UnloadingWithItOpenSuspendsClosesTheEditorThenTheEffect) {
    Pump(60);
    const size_t before = Calls("editor").size();
    Command(IDC_VST_LOAD);  // active: the button unloads

    const std::vector<std::string> lines = Log("editor");
    const std::vector<DispatcherCall> calls = DispatcherCalls(lines);
    ASSERT_EQ(calls.size(), before + 3);
    EXPECT_EQ(calls[before].opcode, effMainsChanged);
    EXPECT_EQ(calls[before].value, 0);
    EXPECT_EQ(calls[before + 1].opcode, effEditClose);
    EXPECT_EQ(calls[before + 2].opcode, effClose);
    EXPECT_EQ(lines.back(), "detach");
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(editorWindow, nullptr);
    ExpectInactiveControls();
    EXPECT_EQ(MainDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_VST_EDIT, BN_CLICKED),
                             reinterpret_cast<LPARAM>(Item(IDC_VST_EDIT))),
              FALSE)
        << "no plug-in active";
    EXPECT_EQ(Editor(), nullptr);
}

TEST_F(EditorWindow, AnEffectWithoutEditorGetsNoWindowAndNoEditorCalls) {
    OpenDialog();
    Listen("copy_through");
    ChooseVariant("copy_through");
    LoadPluginCommand(dialog);
    Command(IDC_VST_EDIT);
    Pump(100);
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(editorWindow, nullptr);
    const std::vector<DispatcherCall> calls = Calls("copy_through");
    for (int opcode : {effEditOpen, effEditGetRect, effEditIdle, effEditClose}) {
        EXPECT_EQ(CountCalls(calls, opcode), 0) << opcode;
    }
}

}  // namespace
