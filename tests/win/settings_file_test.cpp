// The settings file read and written for real through the platform's profile functions.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings_file_fixture.h"

namespace {

TEST_F(SettingsFileTest, ThePathIsKaWUmiIniBesideTheRunningExecutable) {
    iniPath[0] = L'#';
    BuildIniPath();
    std::wstring built = iniPath;

    wchar_t module[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    std::wstring exe = module;
    std::wstring exeFolder = exe.substr(0, exe.find_last_of(L"\\/") + 1);
    std::wstring exeName = exe.substr(exeFolder.size());

    EXPECT_EQ(built, exeFolder + L"KaWUmi.ini");
    ASSERT_GT(built.size(), 10u);
    std::wstring builtFolder = built.substr(0, built.size() - 10);
    DWORD attributes = GetFileAttributesW(builtFolder.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(Exists(builtFolder + exeName)) << "the test program is in that folder";
}

TEST_F(SettingsFileTest, NoFileGivesTheEightDefaultSlotsAndCreatesNothing) {
    ScribbleOverSlots();
    LoadAllSlots();
    for (int i = 0; i < SLOT_COUNT; ++i) {
        ExpectDefaultSlot(slots[i], i);
    }
    EXPECT_FALSE(Exists(path));

    // An empty file and a file of other sections read the same.
    WriteBytes(path, "");
    ScribbleOverSlots();
    LoadAllSlots();
    for (int i = 0; i < SLOT_COUNT; ++i) {
        ExpectDefaultSlot(slots[i], i);
    }
    WriteBytes(path, "[Other]\r\nBufferSize=10\r\n");
    ScribbleOverSlots();
    LoadAllSlots();
    for (int i = 0; i < SLOT_COUNT; ++i) {
        ExpectDefaultSlot(slots[i], i);
    }
}

TEST_F(SettingsFileTest, SavingTheDefaultsCreatesOnlyTheCurrentSectionWithTheKeysInOrder) {
    LoadAllSlots();
    SelectSlot(0);
    SaveCurrentSlot();
    std::string bytes = ReadBytes(path);
    ASSERT_TRUE(HasUnicodeMark(bytes)) << "a new file is UTF-16 text";
    std::vector<std::wstring> expected = {
        L"[Settings00]", L"BufferSize=50", L"WaveInCapsName=", L"WaveOutCapsName=",
        L"VstPath=",     L"Volume=0",      L"FreqRatio=0",     L"AutoRestart=0",
        L"ShowDetail=1", L"DlgPosX=0",     L"DlgPosY=0"};
    EXPECT_EQ(Lines(UnicodeText(bytes)), expected);
}

TEST_F(SettingsFileTest, EveryFieldIsWrittenInItsOwnForm) {
    LoadAllSlots();
    SelectSlot(6);
    SettingsSlot& slot = slots[6];
    SetText(slot.BufferSize, BUFFER_SIZE_UNITS, L"120");
    SetText(slot.WaveInCapsName, CAPS_NAME_UNITS, L"Line In (Audio)");
    SetText(slot.WaveOutCapsName, CAPS_NAME_UNITS, L"Speakers");
    SetText(slot.VstPath, VST_PATH_UNITS, L"C:\\Effects\\Reverb.dll");
    slot.Volume = -100;
    slot.FreqRatio = 200;
    slot.AutoRestart = true;
    slot.ShowDetail = false;
    slot.DlgPosX = -32000;
    slot.DlgPosY = 1234567;
    SaveCurrentSlot();
    std::vector<std::wstring> expected = {
        L"[Settings06]",    L"BufferSize=120",     L"WaveInCapsName=Line In (Audio)",
        L"WaveOutCapsName=Speakers", L"VstPath=C:\\Effects\\Reverb.dll",
        L"Volume=-100",     L"FreqRatio=200",      L"AutoRestart=1",
        L"ShowDetail=0",    L"DlgPosX=-32000",     L"DlgPosY=1234567"};
    EXPECT_EQ(Lines(UnicodeText(ReadBytes(path))), expected);

    // Values no slider or window produces still go out whole, and read back cut to the
    // 7 characters the read text holds.
    slot.Volume = INT32_MIN;
    slot.FreqRatio = INT32_MAX;
    slot.DlgPosX = -1;
    slot.DlgPosY = 0;
    SaveCurrentSlot();
    EXPECT_EQ(Value(L"Settings06", L"Volume"), L"-2147483648");
    EXPECT_EQ(Value(L"Settings06", L"FreqRatio"), L"2147483647");
    EXPECT_EQ(Value(L"Settings06", L"DlgPosX"), L"-1");
    EXPECT_EQ(Value(L"Settings06", L"DlgPosY"), L"0");
    LoadAllSlots();
    EXPECT_EQ(slots[6].Volume, -214748);
    EXPECT_EQ(slots[6].FreqRatio, 2147483);
    EXPECT_EQ(slots[6].DlgPosX, -1);
}

TEST_F(SettingsFileTest, ValuesAreTakenAsNumbersSwitchesAndTexts) {
    WriteBytes(path,
               "[Settings00]\r\n"
               "ShowDetail=\r\n"
               "AutoRestart=2\r\n"
               "Volume=12abc\r\n"
               "FreqRatio=abc\r\n"
               "[Settings01]\r\n"
               "Volume=-7\r\n"
               "FreqRatio=+15\r\n"
               "DlgPosX=12345678\r\n"
               "DlgPosY=-99999999\r\n"
               "AutoRestart=-1\r\n"
               "ShowDetail=0\r\n"
               "[Settings3]\r\n"
               "BufferSize=999\r\n"
               "Volume=3\r\n"
               "[settings04]\r\n"
               "bufferSIZE=20\r\n"
               "VOLUME=500\r\n"
               "FreqRatio=-9999\r\n"
               "[Settings05]\r\n"
               "AutoRestart=x1\r\n"
               "ShowDetail=1x\r\n"
               "BufferSize=\r\n"
               "WaveInCapsName=In\r\n");
    ScribbleOverSlots();
    LoadAllSlots();

    // Present but empty is not absent: the switch reads as off.
    EXPECT_FALSE(slots[0].ShowDetail);
    EXPECT_TRUE(slots[0].AutoRestart);
    EXPECT_EQ(slots[0].Volume, 12);
    EXPECT_EQ(slots[0].FreqRatio, 0);
    EXPECT_EQ(std::wstring(slots[0].BufferSize), L"50");

    EXPECT_EQ(slots[1].Volume, -7);
    EXPECT_EQ(slots[1].FreqRatio, 15);
    EXPECT_EQ(slots[1].DlgPosX, 1234567);
    EXPECT_EQ(slots[1].DlgPosY, -999999);
    EXPECT_TRUE(slots[1].AutoRestart);
    EXPECT_FALSE(slots[1].ShowDetail);

    ExpectDefaultSlot(slots[2], 2);
    // "Settings3" is not "Settings03".
    ExpectDefaultSlot(slots[3], 3);

    // Section and key names match in any case; positions are kept as read.
    EXPECT_EQ(std::wstring(slots[4].BufferSize), L"20");
    EXPECT_EQ(slots[4].Volume, 500);
    EXPECT_EQ(slots[4].FreqRatio, -9999);

    EXPECT_FALSE(slots[5].AutoRestart);
    EXPECT_TRUE(slots[5].ShowDetail);
    EXPECT_EQ(std::wstring(slots[5].BufferSize), L"");
    EXPECT_EQ(std::wstring(slots[5].WaveInCapsName), L"In");

    // Saved back in the program's own form.
    SelectSlot(0);
    SaveCurrentSlot();
    EXPECT_EQ(Value(L"Settings00", L"AutoRestart"), L"1");
    EXPECT_EQ(Value(L"Settings00", L"ShowDetail"), L"0");
    EXPECT_EQ(Value(L"Settings00", L"Volume"), L"12");
    EXPECT_EQ(Value(L"Settings00", L"FreqRatio"), L"0");
    EXPECT_EQ(Value(L"Settings00", L"BufferSize"), L"50");
    EXPECT_EQ(Value(L"Settings3", L"BufferSize"), L"999");
}

TEST_F(SettingsFileTest, OverlongValuesAreCutToTheirFields) {
    std::wstring longName(40, L'n');
    std::wstring name31 = L"Microphone (USB Audio Device 1)";
    ASSERT_EQ(name31.size(), 31u);
    std::wstring longPath = L"C:\\" + std::wstring(300, L'p') + L".dll";
    WriteUnicodeFile(path, L"[Settings02]\r\n"
                           L"BufferSize=123456789\r\n"
                           L"WaveInCapsName=" + longName + L"\r\n"
                           L"WaveOutCapsName=" + name31 + L"\r\n"
                           L"VstPath=" + longPath + L"\r\n"
                           L"[Settings07]\r\n"
                           L"WaveInCapsName=マイク配列 (高品位オーディオ デバイス) 入力端子 その二 左右チャンネル\r\n");
    ASSERT_GT(std::wstring(L"マイク配列 (高品位オーディオ デバイス) 入力端子 その二 左右チャンネル").size(), 31u);
    ScribbleOverSlots();
    LoadAllSlots();
    EXPECT_EQ(std::wstring(slots[2].BufferSize), L"1234567");
    EXPECT_EQ(std::wstring(slots[2].WaveInCapsName), longName.substr(0, 31));
    EXPECT_EQ(std::wstring(slots[2].WaveOutCapsName), name31);
    EXPECT_EQ(std::wstring(slots[2].VstPath), longPath.substr(0, 259));
    EXPECT_EQ(slots[2].VstPath[VST_PATH_UNITS - 1], L'\0');
    EXPECT_EQ(std::wstring(slots[7].WaveInCapsName),
              std::wstring(L"マイク配列 (高品位オーディオ デバイス) 入力端子 その二 左右チャンネル").substr(0, 31));
}

TEST_F(SettingsFileTest, ASectionKeepsItsOtherKeysAndOtherSectionsStayAsTheyWere) {
    WriteUnicodeFile(path, L"; written by hand\r\n"
                           L"[Other]\r\n"
                           L"Colour=blue\r\n"
                           L"[Settings01]\r\n"
                           L"; my favourite set-up\r\n"
                           L"Custom=keep me\r\n"
                           L"BufferSize=30\r\n"
                           L"Volume=5\r\n"
                           L"Remark=after the known keys\r\n"
                           L"[Settings00]\r\n"
                           L"BufferSize=70\r\n");
    LoadAllSlots();
    SelectSlot(1);
    slots[1].Volume = -20;
    SetText(slots[1].WaveInCapsName, CAPS_NAME_UNITS, L"Mic");
    SaveCurrentSlot();

    EXPECT_EQ(Value(L"Settings01", L"Custom"), L"keep me");
    EXPECT_EQ(Value(L"Settings01", L"Remark"), L"after the known keys");
    EXPECT_EQ(Value(L"Settings01", L"Volume"), L"-20");
    EXPECT_EQ(Value(L"Settings01", L"BufferSize"), L"30");
    EXPECT_EQ(Value(L"Settings01", L"WaveInCapsName"), L"Mic");
    EXPECT_EQ(Value(L"Other", L"Colour"), L"blue");
    EXPECT_EQ(Value(L"Settings00", L"BufferSize"), L"70");
    EXPECT_EQ(Value(L"Settings00", L"Volume"), L"<absent>");

    std::vector<std::wstring> lines = Lines(UnicodeText(ReadBytes(path)));
    auto at = [&](const std::wstring& line) {
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i] == line) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    EXPECT_GE(at(L"; written by hand"), 0);
    EXPECT_GE(at(L"; my favourite set-up"), 0);
    // Known keys keep their place; missing ones are appended to the end of the section.
    EXPECT_LT(at(L"Custom=keep me"), at(L"BufferSize=30"));
    EXPECT_LT(at(L"BufferSize=30"), at(L"Volume=-20"));
    EXPECT_LT(at(L"Volume=-20"), at(L"Remark=after the known keys"));
    EXPECT_LT(at(L"Remark=after the known keys"), at(L"WaveInCapsName=Mic"));
    EXPECT_LT(at(L"WaveInCapsName=Mic"), at(L"[Settings00]"));
}

TEST_F(SettingsFileTest, OnlyTheCurrentSlotIsWritten) {
    WriteUnicodeFile(path, L"[Settings02]\r\nBufferSize=20\r\nVolume=2\r\n"
                           L"[Settings05]\r\nBufferSize=50\r\nVolume=5\r\n");
    LoadAllSlots();
    // Slot 2 is current and changed, then the user switches to slot 5: slot 2 keeps its
    // changes in memory only.
    SelectSlot(2);
    slots[2].Volume = 22;
    SetText(slots[2].BufferSize, BUFFER_SIZE_UNITS, L"222");
    SelectSlot(5);
    slots[5].Volume = 55;
    slots[5].AutoRestart = true;
    slots[0].Volume = 99;  // and a slot that was never current
    SaveCurrentSlot();

    EXPECT_EQ(Value(L"Settings05", L"Volume"), L"55");
    EXPECT_EQ(Value(L"Settings05", L"AutoRestart"), L"1");
    EXPECT_EQ(Value(L"Settings02", L"Volume"), L"2");
    EXPECT_EQ(Value(L"Settings02", L"BufferSize"), L"20");
    EXPECT_EQ(Value(L"Settings02", L"AutoRestart"), L"<absent>");
    std::vector<std::wstring> sections;
    for (const std::wstring& line : Lines(UnicodeText(ReadBytes(path)))) {
        if (line[0] == L'[') {
            sections.push_back(line);
        }
    }
    EXPECT_EQ(sections, (std::vector<std::wstring>{L"[Settings02]", L"[Settings05]"}));
}

TEST_F(SettingsFileTest, ASlotIndexOutsideTheEightWritesNothing) {
    LoadAllSlots();
    currentSlotIndex = 8;
    SaveCurrentSlot();
    currentSlotIndex = -1;
    SaveCurrentSlot();
    currentSlotIndex = 0;
    currentSlot = nullptr;
    SaveCurrentSlot();
    EXPECT_FALSE(Exists(path));
}

TEST_F(SettingsFileTest, AFieldWithoutItsTerminatorIsWrittenOnlyUpToItsSize) {
    LoadAllSlots();
    SelectSlot(3);
    for (wchar_t& c : slots[3].WaveInCapsName) {
        c = L'A';
    }
    for (wchar_t& c : slots[3].BufferSize) {
        c = L'9';
    }
    for (wchar_t& c : slots[3].VstPath) {
        c = L'v';
    }
    SaveCurrentSlot();
    EXPECT_EQ(Value(L"Settings03", L"WaveInCapsName"), std::wstring(31, L'A'));
    EXPECT_EQ(Value(L"Settings03", L"BufferSize"), L"9999999");
    EXPECT_EQ(Value(L"Settings03", L"VstPath"), std::wstring(259, L'v'));
    EXPECT_EQ(Value(L"Settings03", L"WaveOutCapsName"), L"");
}

TEST_F(SettingsFileTest, WithoutAPathEveryLoadGivesTheDefaultsAndNothingIsWritten) {
    iniPath[0] = L'\0';
    ScribbleOverSlots();
    LoadAllSlots();
    for (int i = 0; i < SLOT_COUNT; ++i) {
        ExpectDefaultSlot(slots[i], i);
    }
    SelectSlot(0);
    SaveCurrentSlot();
    EXPECT_FALSE(Exists(path));
}

}  // namespace
