// An effect's editor made by its host process as a child of a window of this thread: parent and
// child across the two processes, the effect's size, its size request as an event, and this
// thread's messages handled while it waited (the child's creation sends its parent messages; a
// call made from one of them is refused at once).
#include <windows.h>

#include <chrono>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/effect_handle.h"
#include "tests/support/test_plugins.h"

namespace {

struct Seen {
    EffectHandle* handle = nullptr;
    int creations = 0; // children made, as their parent was told
    bool nestedRefused = false;
};
Seen seen;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PARENTNOTIFY && LOWORD(wParam) == WM_CREATE) {
        ++seen.creations;
        std::vector<uint8_t> state;
        seen.nestedRefused = !seen.handle->captureState(seen.handle, state);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// done()'s last answer (it may take what it looks at).
bool PumpUntil(bool (*done)(), DWORD ms) {
    const DWORD start = GetTickCount();
    bool answer = false;
    while (!(answer = done()) && GetTickCount() - start < ms) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
    return answer;
}

EffectEvent event = {};
HWND parent = nullptr;

TEST(FxEditorTest, TheHostMakesTheEditorAChildOfOurWindowWhileThisThreadKeepsPumping) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ParentProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KawausoFxEditorParent";
    RegisterClassW(&windowClass);
    parent = CreateWindowExW(0, windowClass.lpszClassName, L"parent", WS_OVERLAPPEDWINDOW, 0, 0,
                             640, 480, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(parent, nullptr);
    const std::string host = ProgramDirectory() + "\\..\\" FX_HOST_NAME;
    seen.handle = OpenHostProcessEffect(host.c_str(), FxLimits{});
    EffectHandle* h = seen.handle;
    ASSERT_TRUE(h->load(h, TestPluginPath("editor_child").c_str(), 44100)) << host;
    ERect rect = {};
    ASSERT_TRUE(h->openEditor(h, parent, &rect));
    const HWND child = GetWindow(parent, GW_CHILD);
    DWORD childProcess = 0;
    GetWindowThreadProcessId(child, &childProcess);
    RECT area = {};
    GetClientRect(child, &area);
    EXPECT_EQ(GetParent(child), parent);
    EXPECT_TRUE(IsChild(parent, child));
    EXPECT_NE(childProcess, GetCurrentProcessId());
    EXPECT_EQ(std::make_pair(area.right, area.bottom),
              std::make_pair(LONG{rect.right - rect.left}, LONG{rect.bottom - rect.top}));
    EXPECT_EQ(seen.creations, 1) << "the parent's messages were handled during the wait";
    EXPECT_TRUE(seen.nestedRefused);

    EXPECT_TRUE(PumpUntil([] { return seen.handle->takeEvent(seen.handle, &event); }, 2000));
    EXPECT_EQ((std::vector<int>{static_cast<int>(event.kind), event.width, event.height}),
              (std::vector<int>{static_cast<int>(EffectEventKind::SizeWindow), 320, 200}));
    h->closeEditor(h);
    EXPECT_TRUE(PumpUntil([] { return GetWindow(parent, GW_CHILD) == nullptr; }, 2000));
    CloseEffect(h);
    DestroyWindow(parent);
}

} // namespace
