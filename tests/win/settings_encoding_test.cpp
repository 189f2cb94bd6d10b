// Any UTF-16 device name or path must come back from the settings file unchanged, whatever
// the system code page, while older ANSI files whose values survive it stay as they are.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "settings_file_fixture.h"

namespace {

const wchar_t JAPANESE_NAME[] = L"マイク (USB オーディオ)";
const wchar_t EMOJI_NAME[] = L"🎧 ヘッドホン 🎵";

// A plug-in path of exactly 259 units (the longest a slot stores) with Japanese text and a
// character outside the basic plane.
std::wstring LongUnicodePath() {
    std::wstring head = L"C:\\プラグイン\\エフェクト🎛\\";
    std::wstring tail = L"\\リバーブ.dll";
    return head + std::wstring(259 - head.size() - tail.size(), L'音') + tail;
}

class SettingsEncodingTest : public SettingsFileTest {
protected:
    void FillUnicodeSlot(int32_t index) {
        SettingsSlot& slot = slots[index];
        SetText(slot.WaveInCapsName, CAPS_NAME_UNITS, JAPANESE_NAME);
        SetText(slot.WaveOutCapsName, CAPS_NAME_UNITS, EMOJI_NAME);
        SetText(slot.VstPath, VST_PATH_UNITS, LongUnicodePath());
        SetText(slot.BufferSize, BUFFER_SIZE_UNITS, L"40");
        slot.Volume = -35;
        slot.FreqRatio = 120;
        slot.AutoRestart = true;
        slot.ShowDetail = false;
        slot.DlgPosX = 300;
        slot.DlgPosY = -20;
    }

    // Saves slot index, clears every slot, loads again and checks the slot came back whole.
    void ExpectRoundTrip(int32_t index) {
        SelectSlot(index);
        SettingsSlot saved = slots[index];
        SaveCurrentSlot();
        ScribbleOverSlots();
        LoadAllSlots();
        const SettingsSlot& back = slots[index];
        EXPECT_EQ(std::wstring(back.WaveInCapsName), saved.WaveInCapsName);
        EXPECT_EQ(std::wstring(back.WaveOutCapsName), saved.WaveOutCapsName);
        EXPECT_EQ(std::wstring(back.VstPath), saved.VstPath);
        EXPECT_EQ(std::wstring(back.VstPath).size(), 259u);
        EXPECT_EQ(std::wstring(back.BufferSize), saved.BufferSize);
        EXPECT_EQ(back.Volume, saved.Volume);
        EXPECT_EQ(back.FreqRatio, saved.FreqRatio);
        EXPECT_EQ(back.AutoRestart, saved.AutoRestart);
        EXPECT_EQ(back.ShowDetail, saved.ShowDetail);
        EXPECT_EQ(back.DlgPosX, saved.DlgPosX);
        EXPECT_EQ(back.DlgPosY, saved.DlgPosY);
    }

    std::wstring SideFile() const { return path + L".new"; }
};

TEST_F(SettingsEncodingTest, JapaneseEmojiAndALongPathRoundTripThroughANewFile) {
    LoadAllSlots();
    FillUnicodeSlot(4);
    ExpectRoundTrip(4);
    EXPECT_TRUE(HasUnicodeMark(ReadBytes(path)));
    EXPECT_FALSE(Exists(SideFile()));
}

TEST_F(SettingsEncodingTest, AnAnsiFileBecomesUnicodeKeepingEveryLineWhenAValueNeedsIt) {
    // An older file: ANSI, a byte that only the code page gives meaning to, a comment, other
    // sections and a key the program does not know.
    WriteBytes(path,
               "; kept\r\n"
               "[Other]\r\n"
               "Name=Caf\xE9 au lait\r\n"
               "[Settings00]\r\n"
               "BufferSize=30\r\n"
               "WaveInCapsName=Old microphone\r\n"
               "Custom=yes\r\n"
               "[Settings01]\r\n"
               "Volume=11\r\n");
    std::wstring otherBefore = Value(L"Other", L"Name");
    ASSERT_NE(otherBefore, L"<absent>");
    LoadAllSlots();
    FillUnicodeSlot(0);
    ExpectRoundTrip(0);

    std::string bytes = ReadBytes(path);
    ASSERT_TRUE(HasUnicodeMark(bytes));
    EXPECT_FALSE(Exists(SideFile()));
    EXPECT_EQ(Value(L"Other", L"Name"), otherBefore);
    EXPECT_EQ(Value(L"Settings00", L"Custom"), L"yes");
    EXPECT_EQ(Value(L"Settings01", L"Volume"), L"11");
    std::wstring text = UnicodeText(bytes);
    EXPECT_NE(text.find(L"; kept"), std::wstring::npos);
    EXPECT_NE(text.find(L"[Other]"), std::wstring::npos);
    EXPECT_NE(text.find(L"Name=" + otherBefore), std::wstring::npos);
    EXPECT_LT(text.find(L"[Other]"), text.find(L"[Settings00]"));
    EXPECT_LT(text.find(L"[Settings00]"), text.find(L"[Settings01]"));
    EXPECT_NE(text.find(std::wstring(L"WaveInCapsName=") + JAPANESE_NAME), std::wstring::npos);

    // Later saves keep it Unicode.
    SelectSlot(1);
    slots[1].Volume = 12;
    SaveCurrentSlot();
    EXPECT_TRUE(HasUnicodeMark(ReadBytes(path)));
    ExpectRoundTrip(0);
}

TEST_F(SettingsEncodingTest, AFileMarkedAsUtf8IsTurnedIntoUnicodeWithItsText) {
    WriteBytes(path,
               "\xEF\xBB\xBF[Other]\r\n"
               "Name=Caf\xC3\xA9\r\n"
               "[Settings02]\r\n"
               "BufferSize=60\r\n");
    std::wstring before = Value(L"Other", L"Name");
    LoadAllSlots();
    EXPECT_EQ(std::wstring(slots[2].BufferSize), L"60");
    FillUnicodeSlot(2);
    ExpectRoundTrip(2);
    std::string bytes = ReadBytes(path);
    ASSERT_TRUE(HasUnicodeMark(bytes));
    EXPECT_EQ(Value(L"Other", L"Name"), before);
    EXPECT_NE(UnicodeText(bytes).find(L"Name=Café"), std::wstring::npos);
}

TEST_F(SettingsEncodingTest, AUnicodeFileStaysUnicode) {
    WriteUnicodeFile(path, L"[Settings00]\r\nWaveInCapsName=古いマイク\r\n[X]\r\nY=Ω\r\n");
    LoadAllSlots();
    EXPECT_EQ(std::wstring(slots[0].WaveInCapsName), L"古いマイク");
    FillUnicodeSlot(0);
    ExpectRoundTrip(0);
    EXPECT_TRUE(HasUnicodeMark(ReadBytes(path)));
    EXPECT_EQ(Value(L"X", L"Y"), L"Ω");
    EXPECT_FALSE(Exists(SideFile()));
}

TEST_F(SettingsEncodingTest, AnAnsiFileWithPlainValuesStaysByteForByteTheSame) {
    // The platform creates this one itself: ANSI, in its own layout.
    const wchar_t* keys[][2] = {
        {L"BufferSize", L"50"}, {L"WaveInCapsName", L"Mic"},  {L"WaveOutCapsName", L"Speakers"},
        {L"VstPath", L"C:\\fx\\a.dll"}, {L"Volume", L"0"},    {L"FreqRatio", L"10"},
        {L"AutoRestart", L"0"}, {L"ShowDetail", L"1"},        {L"DlgPosX", L"0"},
        {L"DlgPosY", L"0"},     {L"Extra", L"kept"}};
    ASSERT_TRUE(WritePrivateProfileStringW(L"Other", L"Colour", L"blue", path.c_str()));
    for (const auto& key : keys) {
        ASSERT_TRUE(WritePrivateProfileStringW(L"Settings00", key[0], key[1], path.c_str()));
    }
    ASSERT_TRUE(WritePrivateProfileStringW(L"Settings01", L"Volume", L"3", path.c_str()));
    std::string before = ReadBytes(path);
    ASSERT_FALSE(HasUnicodeMark(before)) << "the platform itself writes new files in ANSI";

    LoadAllSlots();
    SelectSlot(0);
    slots[0].Volume = 42;
    slots[0].DlgPosX = -5;
    SetText(slots[0].WaveInCapsName, CAPS_NAME_UNITS, L"Line In");
    SaveCurrentSlot();

    std::string expected = before;
    auto swap = [&](const std::string& from, const std::string& to) {
        size_t at = expected.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        ASSERT_EQ(expected.find(from, at + 1), std::string::npos) << from;
        expected.replace(at, from.size(), to);
    };
    swap("Volume=0\r\n", "Volume=42\r\n");
    swap("DlgPosX=0\r\n", "DlgPosX=-5\r\n");
    swap("WaveInCapsName=Mic\r\n", "WaveInCapsName=Line In\r\n");
    std::string after = ReadBytes(path);
    EXPECT_EQ(after, expected);
    EXPECT_EQ(after.find('\0'), std::string::npos);
    EXPECT_FALSE(Exists(SideFile()));
}

TEST_F(SettingsEncodingTest, AnAnsiFileStaysAnsiWhileItsCodePageCarriesTheValues) {
    if (GetACP() != 1252) {
        GTEST_SKIP() << "needs the Western European code page";
    }
    WriteBytes(path, "[Settings00]\r\nWaveInCapsName=Old\r\n");
    LoadAllSlots();
    SelectSlot(0);
    SetText(slots[0].WaveInCapsName, CAPS_NAME_UNITS, L"Micrófono Ünïcode");
    SaveCurrentSlot();
    std::string bytes = ReadBytes(path);
    EXPECT_FALSE(HasUnicodeMark(bytes));
    EXPECT_NE(bytes.find("WaveInCapsName=Micr\xF3" "fono \xDCn\xEF" "code\r\n"), std::string::npos);
    ScribbleOverSlots();
    LoadAllSlots();
    EXPECT_EQ(std::wstring(slots[0].WaveInCapsName), L"Micrófono Ünïcode");
}

TEST_F(SettingsEncodingTest, AReadOnlyFileIsLeftAloneAndTheSaveFailsSilently) {
    WriteBytes(path, "[Settings00]\r\nBufferSize=30\r\nVolume=4\r\n");
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    std::string before = ReadBytes(path);
    LoadAllSlots();
    SelectSlot(0);
    FillUnicodeSlot(0);  // would need the file rewritten as Unicode
    SettingsSlot inMemory = slots[0];
    SaveCurrentSlot();
    SaveCurrentSlot();
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_FALSE(Exists(SideFile()));
    EXPECT_EQ(std::wstring(slots[0].WaveInCapsName), inMemory.WaveInCapsName);

    slots[0].Volume = 8;  // plain values: no rewrite, the platform's write fails
    SetText(slots[0].WaveInCapsName, CAPS_NAME_UNITS, L"Mic");
    SaveCurrentSlot();
    EXPECT_EQ(ReadBytes(path), before);

    LoadAllSlots();
    EXPECT_EQ(std::wstring(slots[0].BufferSize), L"30");
    EXPECT_EQ(slots[0].Volume, 4);
    EXPECT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
}

TEST_F(SettingsEncodingTest, AFileHeldOpenAgainstWritingIsLeftAloneUntilItIsFree) {
    WriteBytes(path, "[Settings00]\r\nBufferSize=30\r\nVolume=4\r\n");
    std::string before = ReadBytes(path);
    // Another program holds the file and lets others only read it.
    HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    LoadAllSlots();
    EXPECT_EQ(std::wstring(slots[0].BufferSize), L"30");
    SelectSlot(0);
    FillUnicodeSlot(0);  // would need the file rewritten as Unicode
    SaveCurrentSlot();
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_FALSE(Exists(SideFile()));
    slots[0].Volume = 8;
    SetText(slots[0].WaveInCapsName, CAPS_NAME_UNITS, L"Mic");
    SaveCurrentSlot();
    EXPECT_EQ(ReadBytes(path), before);
    CloseHandle(holder);

    // Once free, the same slot saves as usual.
    FillUnicodeSlot(0);
    ExpectRoundTrip(0);
    EXPECT_TRUE(HasUnicodeMark(ReadBytes(path)));
}

TEST_F(SettingsEncodingTest, AFolderThatCannotTakeTheFileMakesTheSaveFailSilently) {
    // The settings path lies under a plain file, so its folder can never be created.
    std::wstring blocker = folder + L"\\blocker";
    WriteBytes(blocker, "not a folder");
    UseIniPath(blocker + L"\\KaWUmi.ini");
    LoadAllSlots();
    ExpectDefaultSlot(slots[0], 0);
    FillUnicodeSlot(0);
    SelectSlot(0);
    SaveCurrentSlot();
    EXPECT_EQ(ReadBytes(blocker), "not a folder");

    // The settings path names a folder.
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    UseIniPath(path);
    ScribbleOverSlots();
    LoadAllSlots();
    ExpectDefaultSlot(slots[0], 0);
    FillUnicodeSlot(0);
    SaveCurrentSlot();
    DWORD attributes = GetFileAttributesW(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(Exists(SideFile()));
    EXPECT_FALSE(Exists(path + L"\\Settings00"));
}

}  // namespace

namespace {

// The profile functions trim blanks around a value and take matching quotes off it; a name
// cut to 31 characters often ends in a blank, and auto-connect compares names exactly.
TEST_F(SettingsEncodingTest, BlanksAndQuotesAtTheEndsOfATextSurviveTheFile) {
    const std::wstring names[] = {
        L"Microphone (2- USB Audio CODEC ",  // 31 units, the last a blank
        L" Leading blank",
        L"\tTabbed\t",
        L"\"Quoted\"",
        L"'single'",
        L"\"",
        L"Plain name",
    };
    for (const std::wstring& name : names) {
        ResetSettingsStore();
        UseIniPath(path);
        LoadAllSlots();
        SettingsSlot& slot = slots[2];
        SetText(slot.WaveInCapsName, CAPS_NAME_UNITS, name);
        SetText(slot.WaveOutCapsName, CAPS_NAME_UNITS, name);
        SetText(slot.VstPath, VST_PATH_UNITS, L"C:\\plug-ins\\" + name);
        SelectSlot(2);
        SaveCurrentSlot();
        ScribbleOverSlots();
        LoadAllSlots();
        EXPECT_EQ(std::wstring(slots[2].WaveInCapsName), name);
        EXPECT_EQ(std::wstring(slots[2].WaveOutCapsName), name);
        EXPECT_EQ(std::wstring(slots[2].VstPath), L"C:\\plug-ins\\" + name);
    }
    // A plain value is written as it stands, so files stay readable by hand.
    EXPECT_EQ(Value(L"Settings02", L"WaveInCapsName"), L"Plain name");
    EXPECT_NE(UnicodeText(ReadBytes(path)).find(L"WaveInCapsName=Plain name\r\n"), std::wstring::npos);
}

TEST_F(SettingsEncodingTest, OverlongQuotedValuesAreStillCutToTheirFields) {
    WriteUnicodeFile(path, L"[Settings00]\r\nWaveInCapsName=\"" + std::wstring(40, L'x') +
                               L" \"\r\nBufferSize=\" 123456789\"\r\n");
    LoadAllSlots();
    EXPECT_EQ(std::wstring(slots[0].WaveInCapsName), std::wstring(31, L'x'));
    EXPECT_EQ(std::wstring(slots[0].BufferSize), L" 123456");
}

}  // namespace
