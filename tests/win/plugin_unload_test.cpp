// The Win32 side of the plug-in host: the editor window closed by an unload, and DLLs that
// Windows itself refuses.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/engine_state.h"
#include "plugin/effect_dispatch.h"
#include "plugin/plugin_host.h"
#include "tests/support/test_plugins.h"

namespace {

int closeMessages = 0;

// Stands in for the editor window: its close handling is the editor's (effEditClose, then
// the window goes away).
LRESULT CALLBACK EditorStandInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        ++closeMessages;
        CallDispatcher(effect, effEditClose, 0, nullptr, 0.0f);
        DestroyWindow(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateEditorStandIn() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = EditorStandInProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KawausoEditorStandIn";
    RegisterClassW(&windowClass);  // a second registration fails harmlessly
    return CreateWindowExW(0, L"KawausoEditorStandIn", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
}

class PluginUnloadWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngineState();
        LockCreate(&EngineLock);
        UnloadPlugin();
        editorWindow = nullptr;
        closeMessages = 0;
    }
    void TearDown() override {
        UnloadPlugin();
        RemovePluginLog(TestPluginPathUtf8("editor"));
        LockDestroy(&EngineLock);
    }
};

std::string Dispatched(int opcode, int value = 0) {
    return "dispatcher opcode=" + std::to_string(opcode) + " index=0 value=" +
           std::to_string(value) + " opt=0 ptr=null nested=0";
}

TEST_F(PluginUnloadWinTest, UnloadClosesTheEditorWindowBetweenSuspendAndClose) {
    const std::string path = TestPluginPathUtf8("editor");
    ASSERT_TRUE(StartPluginLog(path));
    LockEnter(&EngineLock);  // as the unload command holds it
    ASSERT_TRUE(LoadPlugin(TestPluginPath("editor").c_str(), 44100));
    HWND window = CreateEditorStandIn();
    ASSERT_NE(window, nullptr);
    editorWindow = window;
    UnloadPlugin();
    LockLeave(&EngineLock);

    EXPECT_EQ(closeMessages, 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(editorWindow, nullptr);
    std::vector<std::string> log = ReadPluginLog(path);
    ASSERT_GE(log.size(), 4u);
    const std::vector<std::string> tail(log.end() - 4, log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{Dispatched(effMainsChanged), Dispatched(effEditClose),
                                              Dispatched(effClose), "detach"}));
}

TEST_F(PluginUnloadWinTest, ADllOfTheOtherArchitectureIsRefusedCleanly) {
    const char* other = sizeof(void*) == 8 ? "win32" : "win64";
    const std::string dir = TestPluginDirectory();
    // <build>\<arch>\tests\plugins -> <build>\<other>\tests\plugins
    const size_t tests = dir.rfind("\\tests\\plugins");
    ASSERT_NE(tests, std::string::npos);
    const size_t arch = dir.rfind('\\', tests - 1);
    ASSERT_NE(arch, std::string::npos);
    const std::string foreign =
        dir.substr(0, arch + 1) + other + "\\tests\\plugins\\copy_through.dll";
    if (GetFileAttributesW(WideFromUtf8(foreign).c_str()) == INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "the " << other << " build is not there: " << foreign;
    }
    EXPECT_FALSE(LoadPlugin(WideFromUtf8(foreign).c_str(), 44100));
    EXPECT_EQ(effect, nullptr);
    EXPECT_EQ(pluginModule, nullptr);
}

}  // namespace
