// An effect's editor made by its host process as a child of a window of this thread: parent and
// child across the two processes, the effect's size, and this thread's messages handled while it
// waited (the child's creation sends its parent messages; a call made from one of them is
// refused at once). Its size request as an event is the core tests'.
#include "plugin/effect_handle.h"
#include "tests/win/win_fixture.h"

namespace {

EffectHandle* handle = nullptr;
int creations = 0; // children made, as their parent was told
bool nestedRefused = false;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PARENTNOTIFY && LOWORD(wParam) == WM_CREATE) {
        ++creations;
        std::vector<uint8_t> state;
        nestedRefused = !handle->captureState(handle, state);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

using FxEditorTest = WinTest;

TEST_F(FxEditorTest, TheHostMakesTheEditorAChildOfOurWindowWhileThisThreadKeepsPumping) {
    HWND parent = CreateWindowExW(0, L"STATIC", L"parent", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                                  nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrW(parent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ParentProc));
    ASSERT_NE(parent, nullptr);
    const std::string host = ProgramDirectory() + "\\..\\" FX_HOST_NAME;
    EffectHandle* h = handle = OpenHostProcessEffect(host.c_str(), FxLimits{});
    ASSERT_TRUE(h->load(h, TestPluginPath("editor_child").c_str(), 44100)) << host;
    ERect rect = {};
    ASSERT_TRUE(h->openEditor(h, parent, &rect));
    const HWND child = GetWindow(parent, GW_CHILD);
    DWORD childProcess = 0;
    GetWindowThreadProcessId(child, &childProcess);
    RECT area = {};
    GetClientRect(child, &area);
    EXPECT_EQ(GetParent(child), parent);
    EXPECT_NE(childProcess, GetCurrentProcessId());
    EXPECT_EQ(std::make_pair(area.right, area.bottom),
              std::make_pair(LONG{rect.right - rect.left}, LONG{rect.bottom - rect.top}));
    EXPECT_EQ(creations, 1) << "the parent's messages were handled during the wait";
    EXPECT_TRUE(nestedRefused);

    h->closeEditor(h);
    EXPECT_TRUE(PumpUntil([&] { return GetWindow(parent, GW_CHILD) == nullptr; }, 2000));
    CloseEffect(h);
    DestroyWindow(parent);
}

} // namespace
