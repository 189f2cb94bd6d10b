#include <string>

#include <gtest/gtest.h>

#include "settings/ini_path.h"
#include "settings/settings_store.h"

namespace {

std::wstring IniPathFor(const std::wstring& modulePath) {
    wchar_t out[INI_PATH_UNITS];
    out[0] = L'#';
    bool ok = IniPathFromModulePath(modulePath.c_str(), out, INI_PATH_UNITS);
    EXPECT_TRUE(ok) << "path of " << modulePath.size() << " units";
    return out;
}

TEST(IniPathTest, TheSettingsFileSitsBesideTheExecutable) {
    EXPECT_EQ(IniPathFor(L"C:\\Program Files\\Kawauso04\\Kawauso04.exe"),
              L"C:\\Program Files\\Kawauso04\\KaWUmi.ini");
    EXPECT_EQ(IniPathFor(L"C:\\k.exe"), L"C:\\KaWUmi.ini");
    EXPECT_EQ(IniPathFor(L"D:/tools/audio/k.exe"), L"D:/tools/audio/KaWUmi.ini");
    EXPECT_EQ(IniPathFor(L"C:\\a.b\\k"), L"C:\\a.b\\KaWUmi.ini");
    EXPECT_EQ(IniPathFor(L"C:\\音声\\ツール\\k.exe"), L"C:\\音声\\ツール\\KaWUmi.ini");
}

TEST(IniPathTest, NetworkAndDriveRelativePathsKeepWhatLeads) {
    EXPECT_EQ(IniPathFor(L"\\\\server\\share\\apps\\k.exe"), L"\\\\server\\share\\apps\\KaWUmi.ini");
    EXPECT_EQ(IniPathFor(L"C:k.exe"), L"C:KaWUmi.ini");
    EXPECT_EQ(IniPathFor(L"k.exe"), L"KaWUmi.ini");
    EXPECT_EQ(IniPathFor(L""), L"KaWUmi.ini");
}

TEST(IniPathTest, TheLongestExecutablePathFits) {
    std::wstring path = L"C:\\" + std::wstring(250, L'd') + L"\\k.exe";
    ASSERT_EQ(path.size(), 259u);
    EXPECT_EQ(IniPathFor(path), L"C:\\" + std::wstring(250, L'd') + L"\\KaWUmi.ini");
}

TEST(IniPathTest, AResultThatDoesNotFitLeavesTheOutputEmpty) {
    std::wstring directory = L"C:\\" + std::wstring(20, L'x') + L"\\";
    std::wstring path = directory + L"k.exe";
    // Exactly enough room for the directory, "KaWUmi.ini" and the terminator.
    size_t exact = directory.size() + 10 + 1;
    std::wstring out(exact, L'#');
    EXPECT_TRUE(IniPathFromModulePath(path.c_str(), &out[0], exact));
    EXPECT_EQ(std::wstring(out.c_str()), directory + L"KaWUmi.ini");

    std::wstring small(exact - 1, L'#');
    EXPECT_FALSE(IniPathFromModulePath(path.c_str(), &small[0], exact - 1));
    EXPECT_EQ(small[0], L'\0');
    EXPECT_FALSE(IniPathFromModulePath(nullptr, &small[0], exact - 1));
    EXPECT_EQ(small[0], L'\0');
}

}  // namespace
