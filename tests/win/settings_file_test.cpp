// The settings file beside the test program, read and written for real through the platform's
// profile functions. Which sections and keys a save touches is checked on the real program's
// file at exit; how numbers read, in the core tests.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/texts.h"
#include "settings/command_line.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"
#include "settings/slot_plugin_files.h"
#include "tests/win/win_fixture.h"

namespace {

void SetText(wchar_t* field, size_t units, const std::wstring& text) {
    std::fill(field, field + units, L'\0');
    text.copy(field, units - 1);
}

std::wstring Describe(const SettingsSlot& s) { // every field, so slots compare and print whole
    return std::wstring(s.BufferSize) + L"|" + s.WaveInCapsName + L"|" + s.WaveOutCapsName + L"|" +
           s.VstPath + L"|" + std::to_wstring(s.Volume) + L"|" + std::to_wstring(s.FreqRatio) +
           L"|" + std::to_wstring(s.AutoRestart) + std::to_wstring(s.ShowDetail) + L"|" +
           std::to_wstring(s.DlgPosX) + L"|" + std::to_wstring(s.DlgPosY) + L"|" +
           std::to_wstring(s.VstActive) + std::to_wstring(s.VstEditorOpen);
}

const std::wstring DEFAULTS = L"50||||0|0|01|0|0|00"; // as Describe shows a slot's defaults
constexpr int ROUNDS = 100;
const wchar_t WRITER_SLOT[] = L"KAWAUSO_TEST_WRITER_SLOT";
void FillRound(SettingsSlot& s, int slot, int round) { // every key changes from round to round
    const std::wstring text = L"音" + std::to_wstring(slot * 1000 + round); // needs UTF-16
    for (wchar_t* field : {s.BufferSize, s.WaveInCapsName, s.WaveOutCapsName, s.VstPath}) {
        std::wcscpy(field, text.c_str());
    }
    s.Volume = s.FreqRatio = s.DlgPosX = s.DlgPosY = slot * 1000 + round;
    s.AutoRestart = !(s.ShowDetail = round % 2 != 0);
    s.VstEditorOpen = (s.VstActive = round % 3 != 0) && round % 2 == 0;
}

class SettingsFile : public WinTest {
  protected:
    void SetUp() override {
        WinTest::SetUp();
        Use(settingsFile);
    }
    void Use(const std::wstring& file) {
        ResetSettingsStore();
        std::wcscpy(iniPath, file.c_str());
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str()); // drop any cache
        currentSlot = &slots[currentSlotIndex = 0];
    }
    bool Exists(const std::wstring& f) const {
        return GetFileAttributesW(f.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    // Every slot filled with a pattern first, so a load that skips a field shows.
    void Reload() {
        std::memset(slots, 0x5A, sizeof slots);
        LoadAllSlots();
    }
    // Japanese, outside the basic plane, and a path of the 259 units a slot stores.
    void FillUnicode() {
        const std::wstring head = L"C:\\プラグイン\\エフェクト🎛\\",
                           tail = L"\\リバーブ.dll";
        SetText(slots[0].WaveInCapsName, DEVICE_NAME_UNITS, L"マイク (USB オーディオ)");
        SetText(slots[0].WaveOutCapsName, DEVICE_NAME_UNITS, L"🎧 ヘッドホン 🎵");
        SetText(slots[0].VstPath, VST_PATH_UNITS,
                head + std::wstring(259 - head.size() - tail.size(), L'音') + tail);
        SetText(slots[0].BufferSize, BUFFER_SIZE_UNITS, L"40");
        slots[0].Volume = -35;
        slots[0].AutoRestart = true;
        slots[0].ShowDetail = false;
        slots[0].DlgPosY = -20;
    }
    // Wine 8 only pretends to make a symbolic link, and deletes a link's target instead of the
    // link; there the Unix ln and rm, which Wine runs (without a handle), make and remove it.
    void Link(const std::wstring& folder, bool make) { // settingsFile to linked\KaWUmi.ini
        std::wstring command = make ? L"ln -s linked/KaWUmi.ini KaWUmi.ini" : L"rm KaWUmi.ini";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION unix = {};
        if (!CreateProcessW(make ? L"Z:\\bin\\ln" : L"Z:\\bin\\rm", &command[0], nullptr, nullptr,
                            FALSE, 0, nullptr, folder.c_str(), &startup, &unix)) {
            make ? CreateSymbolicLinkW(settingsFile.c_str(), L"linked\\KaWUmi.ini",
                                       SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)
                 : DeleteFileW(settingsFile.c_str());
        }
        PumpUntil([&] { return Exists(settingsFile) == make; }, 5000);
    }
    void ExpectRoundTrip() {
        const std::wstring saved = Describe(slots[0]);
        SaveCurrentSlot();
        Reload();
        EXPECT_EQ(Describe(slots[0]), saved);
    }
};

TEST_F(SettingsFile, WithoutAFileOrAPathEverySlotHasItsDefaultsAndNothingIsWritten) {
    for (const char* content :
         {"<none>", "", "[Other]\r\nBufferSize=10\r\n[Settings3]\r\nVolume=3\r\n"}) {
        if (std::strcmp(content, "<none>") != 0) {
            WriteBytes(settingsFile, content);
        }
        Reload();
        for (const SettingsSlot& slot : slots) {
            EXPECT_EQ(Describe(slot), DEFAULTS) << content;
        }
    }
    DeleteFileW(settingsFile.c_str());
    for (int index : {8, -1}) { // no slot outside the eight is ever written
        currentSlotIndex = index;
        SaveCurrentSlot();
    }
    iniPath[0] = L'\0'; // nor anything without a path
    Reload();
    EXPECT_EQ(Describe(slots[0]), DEFAULTS);
    currentSlotIndex = 0;
    SaveCurrentSlot();
    EXPECT_FALSE(Exists(settingsFile));
}

TEST_F(SettingsFile, ValuesAreReadAsSwitchesAndTextsCutToTheirFieldsAndWrittenWhole) {
    const std::wstring name(40, L'n'), path = L"C:\\" + std::wstring(300, L'p') + L".dll";
    const std::wstring japanese =
        L"マイク配列 (高品位オーディオ デバイス) 入力端子 その二 左右チャンネル";
    WriteSettings(
        L"[Settings00]\r\nShowDetail=\r\nAutoRestart=2\r\nBufferSize=123456789\r\nWaveInCapsName=" +
        name + L"\r\nVstPath=" + path + L"\r\nWaveOutCapsName=" + japanese +
        L"\r\n[settings04]\r\nbufferSIZE=20\r\n[Settings05]\r\nAutoRestart=x1\r\nShowDetail=1x\r\n"
        L"[Settings03]\r\nWaveInCapsName=\"" +
        name + L" \"\r\nBufferSize=\" 123456789\"\r\nWaveOutCapsName=WASAPI: " + japanese + name +
        L"\r\n[Settings06]\r\nWaveInCapsName=WASAPI: " + std::wstring(300, L'e') + L"\r\n");
    Reload();
    EXPECT_EQ((Flags{slots[0].AutoRestart, slots[0].ShowDetail, slots[5].AutoRestart,
                     slots[5].ShowDetail}),
              (Flags{true, false, false, true}))
        << "present but empty is off";
    // Names match in any case; texts are cut to their fields, quoted or not, but an endpoint's
    // name is kept whole.
    EXPECT_EQ((Strings{slots[4].BufferSize, slots[0].BufferSize, slots[3].BufferSize,
                       slots[0].WaveInCapsName, slots[3].WaveInCapsName, slots[0].WaveOutCapsName,
                       slots[0].VstPath, slots[3].WaveOutCapsName, slots[6].WaveInCapsName}),
              (Strings{L"20", L"1234567", L" 123456", name.substr(0, 31), name.substr(0, 31),
                       japanese.substr(0, 31), path.substr(0, 259), L"WASAPI: " + japanese + name,
                       (L"WASAPI: " + std::wstring(300, L'e')).substr(0, 255)}));

    std::fill(std::begin(slots[0].VstPath), std::end(slots[0].VstPath), L'v'); // no terminator
    SaveCurrentSlot();
    wchar_t kept[300] = L"";
    GetPrivateProfileStringW(L"Settings00", L"VstPath", L"", kept, 300, settingsFile.c_str());
    EXPECT_EQ(std::wstring(kept), std::wstring(259, L'v'));
}

TEST_F(SettingsFile, AnyTextComesBackWhateverTheFileWasAndPlainAnsiFilesStayAsTheyWere) {
    const std::string ansi = "; kept\r\n[Other]\r\nName=Caf\xE9\r\n[Settings01]\r\nVolume=11\r\n";
    const std::string utf8 =
        "\xEF\xBB\xBF[Other]\r\nName=Caf\xC3\xA9\r\n[Settings01]\r\nVolume=11\r\n";
    const std::string starts[] = {
        "",   ansi, utf8, Utf16(L"[Other]\r\nName=Café\r\n[Settings01]\r\nVolume=11\r\n"),
        ansi, ansi};
    const std::wstring folder = settingsFile.substr(0, settingsFile.rfind(L'\\') + 1);
    const std::wstring linked = folder + L"linked\\KaWUmi.ini";
    CreateDirectoryW((folder + L"linked").c_str(), nullptr);
    // None, ANSI, UTF-8 and UTF-16 with their marks; then ANSI hidden, and behind a link.
    for (size_t i = 0; i < std::size(starts); ++i) {
        const std::string& start = starts[i];
        const std::wstring& file = i == 5 ? linked : settingsFile;
        DeleteFileW(settingsFile.c_str());
        Use(settingsFile);
        if (!start.empty()) {
            WriteBytes(file, start);
        }
        SetFileAttributesW(file.c_str(), i == 4 ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL);
        if (i == 5) {
            Link(folder, true);
        }
        LoadAllSlots();
        FillUnicode();
        ExpectRoundTrip();
        if (!start.empty()) { // what was there stays
            EXPECT_EQ(std::make_tuple(ReadSettings().find(L"Name=Café") != std::wstring::npos,
                                      slots[1].Volume),
                      std::make_tuple(true, 11))
                << i;
        }
        EXPECT_EQ((Flags{Exists(settingsFile + L".new"), Exists(linked + L".new"),
                         (GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0}),
                  (Flags{false, false, i == 4}));
        EXPECT_EQ(ReadBytes(file), ReadBytes(settingsFile)) << "a link still leads to its file";
    }
    Link(folder, false);
    DeleteFileW(linked.c_str());
    RemoveDirectoryW((folder + L"linked").c_str());
    // Blanks and quotes at a text's ends survive (the profile functions trim them).
    for (const wchar_t* name : {L"Microphone (2- USB Audio CODEC ", L" Lead", L"\tTab\t",
                                L"\"Quoted\"", L"'single'", L"\"", L"Plain name"}) {
        SetText(slots[0].WaveInCapsName, DEVICE_NAME_UNITS, name);
        SetText(slots[0].VstPath, VST_PATH_UNITS, std::wstring(L"C:\\fx\\") + name);
        ExpectRoundTrip();
    }
    EXPECT_NE(ReadSettings().find(L"WaveInCapsName=Plain name\r\n"), std::wstring::npos);

    // A plain ANSI file, as the platform writes new files.
    std::string expected =
        "[Settings00]\r\nBufferSize=0\r\nVolume=0\r\nExtra=0\r\n[Other]\r\nColour=blue\r\n";
    WriteBytes(settingsFile, expected);
    Use(settingsFile);
    LoadAllSlots();
    slots[0].Volume = 42;
    SetText(slots[0].WaveInCapsName, DEVICE_NAME_UNITS, GetACP() == 1252 ? L"Micrófono" : L"Mic");
    SaveCurrentSlot();
    expected.replace(expected.find("Volume=0"), 8, "Volume=42");
    const std::string after = ReadBytes(settingsFile);
    EXPECT_EQ(after.substr(0, expected.find("[Other]")),
              expected.substr(0, expected.find("[Other]")));
    EXPECT_NE(
        after.find(GetACP() == 1252 ? "WaveInCapsName=Micr\363fono\r\n" : "WaveInCapsName=Mic\r\n"),
        std::string::npos);
    EXPECT_NE(after.find("[Other]\r\nColour=blue\r\n"), std::string::npos);
}

// This program and a copy of it that it starts (with WRITER_SLOT set) save their own slots of
// one file at once, each reading its slot back after every save: neither may lose a key.
TEST_F(SettingsFile, TwoProgramsSavingTheirOwnSlotsAtOnceLoseNothing) {
    const std::wstring shared = settingsFile + L".shared"; // the copy's set-up deletes settingsFile
    wchar_t slot[2] = L"1";
    const bool copy = GetEnvironmentVariableW(WRITER_SLOT, slot, 2) == 1;
    PROCESS_INFORMATION other = {};
    if (!copy) {
        WriteBytes(shared, "[Other]\r\nName=Caf\xE9\r\n"); // ANSI: the first saves rewrite it
        wchar_t exe[MAX_PATH], command[] = L"copy --gtest_filter=SettingsFile.TwoPrograms*";
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        SetEnvironmentVariableW(WRITER_SLOT, L"6");
        ASSERT_TRUE(CreateProcessW(exe, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &other));
        SetEnvironmentVariableW(WRITER_SLOT, nullptr);
    }
    Use(shared);
    currentSlot = &slots[currentSlotIndex = slot[0] - L'0'];
    int round = 1; // this program saves until the copy has ended, so every save of it meets ours
    for (; round <= ROUNDS || (!copy && WaitForSingleObject(other.hProcess, 0) == WAIT_TIMEOUT &&
                               round < 10 * ROUNDS); // a copy that hangs fails the test
         ++round) {
        FillRound(*currentSlot, currentSlotIndex, round);
        const std::wstring saved = Describe(*currentSlot);
        SaveCurrentSlot();
        LoadAllSlots();
        ASSERT_EQ(Describe(*currentSlot), saved) << "round " << round;
    }
    if (!copy) {
        DWORD code = 1;
        GetExitCodeProcess(other.hProcess, &code);
        EXPECT_EQ(code, 0u) << "the copy lost keys";
        CloseHandle(other.hThread);
        CloseHandle(other.hProcess);
        SettingsSlot last[2] = {};
        FillRound(last[0], 1, round - 1);
        FillRound(last[1], 6, ROUNDS);
        Reload();
        EXPECT_EQ(Describe(slots[1]) + Describe(slots[6]), Describe(last[0]) + Describe(last[1]));
        DeleteFileW(shared.c_str());
    }
}

TEST_F(SettingsFile, AFileThatCannotBeWrittenIsLeftAloneAndTheSaveFailsSilently) {
    const std::string before = "[Settings00]\r\nBufferSize=30\r\nVolume=4\r\n";
    HANDLE holder = INVALID_HANDLE_VALUE;
    const std::function<void()> blockers[] = {
        [&] { SetFileAttributesW(settingsFile.c_str(), FILE_ATTRIBUTE_READONLY); },
        [&] { // held open by another program
            holder = CreateFileW(settingsFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        }};
    for (const auto& block : blockers) {
        WriteBytes(settingsFile, before);
        block();
        LoadAllSlots();
        FillUnicode(); // would need the file rewritten as UTF-16
        SaveCurrentSlot();
        SetText(slots[0].WaveInCapsName, DEVICE_NAME_UNITS,
                L"Mic"); // plain: the platform's write fails
        SaveCurrentSlot();
        EXPECT_EQ(ReadBytes(settingsFile), before);
        EXPECT_FALSE(Exists(settingsFile + L".new"));
        SetFileAttributesW(settingsFile.c_str(), FILE_ATTRIBUTE_NORMAL);
        CloseHandle(holder);
    }
    WriteBytes(settingsFile,
               "not a folder"); // a path under a plain file, then one that is a folder
    for (const std::wstring& file : {settingsFile + L"\\KaWUmi.ini", settingsFile}) {
        if (file == settingsFile) {
            EXPECT_EQ(ReadBytes(settingsFile), "not a folder");
            DeleteFileW(settingsFile.c_str());
            CreateDirectoryW(settingsFile.c_str(), nullptr);
        }
        Use(file);
        Reload();
        EXPECT_EQ(Describe(slots[0]), DEFAULTS);
        FillUnicode();
        SaveCurrentSlot();
        EXPECT_EQ((Flags{Exists(settingsFile + L".new"), Exists(settingsFile + L"\\Settings00")}),
                  (Flags{false, false}));
    }
    EXPECT_NE(GetFileAttributesW(settingsFile.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

// A chain's effects 2 to 8 as the slot keeps them: path, own process, bypassed.
std::wstring DescribeChain(const SettingsSlot& s) {
    std::wstring chain = std::to_wstring(s.VstBypassed);
    for (const ChainedEffect& e : s.Chained) {
        chain += L"|" + std::wstring(e.VstPath) + L":" + std::to_wstring(e.VstIsolated) +
                 std::to_wstring(e.VstBypassed);
    }
    return chain;
}

// One effect writes the keys it always did and nothing else, so a file of today comes back
// byte for byte; effects 2 to 8 get numbered keys while the chain reaches them, and lose them
// when it shrinks; a chained path missing from the file drops that effect, and those after it
// move up.
TEST_F(SettingsFile, AChainKeepsItsEffectsInNumberedKeysAndOneEffectWritesTodaysFile) {
    const std::string today =
        Utf16(L"[Settings00]\r\nBufferSize=20\r\nWaveInCapsName=Mic\r\n"
              L"WaveOutCapsName=Speaker\r\nVstPath=C:\\fx\\gate.dll\r\nVolume=0\r\n"
              L"FreqRatio=0\r\nAutoRestart=0\r\nShowDetail=1\r\nDlgPosX=10\r\n"
              L"DlgPosY=20\r\nVstActive=1\r\nVstIsolated=1\r\n");
    WriteBytes(settingsFile, today);
    Reload();
    EXPECT_EQ(DescribeChain(slots[0]), L"0|:00|:00|:00|:00|:00|:00|:00");
    SaveCurrentSlot();
    EXPECT_EQ(ReadBytes(settingsFile), today) << "one effect: today's keys only";

    const wchar_t* const paths[] = {L"C:\\fx\\イコライザ🎛.dll", L"C:\\fx\\comp.dll",
                                    L"C:\\fx\\limit.dll"};
    for (int i = 0; i < 3; ++i) {
        SetText(slots[0].Chained[i].VstPath, VST_PATH_UNITS, paths[i]);
        slots[0].Chained[i].VstIsolated = i == 1;
        slots[0].Chained[i].VstBypassed = i == 2;
    }
    slots[0].VstBypassed = true;
    SaveCurrentSlot();
    Reload();
    const std::wstring three = L"1|C:\\fx\\イコライザ🎛.dll:00|C:\\fx\\comp.dll:10|"
                               L"C:\\fx\\limit.dll:01|:00|:00|:00|:00";
    EXPECT_EQ(DescribeChain(slots[0]), three);
    EXPECT_EQ(std::wstring(slots[0].VstPath), L"C:\\fx\\gate.dll");

    WritePrivateProfileStringW(L"Settings00", L"VstPath3", nullptr, settingsFile.c_str());
    Reload();
    EXPECT_EQ(DescribeChain(slots[0]),
              L"1|C:\\fx\\イコライザ🎛.dll:00|C:\\fx\\limit.dll:01|:00|:00|:00|:00|:00")
        << "the missing one dropped, its switch with it";
    slots[0].Chained[0] = slots[0].Chained[1] = ChainedEffect{};
    slots[0].VstBypassed = false;
    SaveCurrentSlot();
    wchar_t keys[512] = {};
    GetPrivateProfileStringW(L"Settings00", nullptr, L"", keys, 512, settingsFile.c_str());
    std::wstring names;
    for (const wchar_t* k = keys; *k != L'\0'; k += std::wcslen(k) + 1) {
        names += std::wstring(names.empty() ? L"" : L",") + k;
    }
    EXPECT_EQ(names, L"BufferSize,WaveInCapsName,WaveOutCapsName,VstPath,Volume,FreqRatio,"
                     L"AutoRestart,ShowDetail,DlgPosX,DlgPosY,VstActive,VstIsolated")
        << "no chained key left";
}

// The hotkeys live in [Kawauso04] only while set: a file of today, with none set, stays byte for
// byte as it was, and one set and unset again leaves it so; a text that names no combination
// reads as none.
TEST_F(SettingsFile, HotkeysAreKeptOnlyWhileSetAndAFileWithoutThemStaysAsItWas) {
    const std::string today = Utf16(L"[Settings00]\r\nBufferSize=20\r\nVolume=0\r\n"
                                    L"[Kawauso04]\r\nLanguage=en\r\n");
    WriteBytes(settingsFile, today);
    Hotkey none[HOTKEY_ACTIONS];
    SaveHotkeys(none);
    EXPECT_EQ(ReadBytes(settingsFile), today) << "none set";
    Hotkey set[HOTKEY_ACTIONS];
    set[HOTKEY_MUTE] = {'M', HOTKEY_CONTROL | HOTKEY_ALT};
    set[HOTKEY_SLOT_FIRST + 7] = {0x75, HOTKEY_SHIFT}; // F6
    SaveHotkeys(set);
    EXPECT_NE(ReadSettings().find(L"[Kawauso04]\r\nLanguage=en\r\nHotkeySlot7=Shift+F6\r\n"
                                  L"HotkeyMute=Ctrl+Alt+M\r\n"),
              std::wstring::npos)
        << ReadSettings();
    WritePrivateProfileStringW(L"Kawauso04", L"HotkeyBypass", L"Ctrl+Hyper+B",
                               settingsFile.c_str());
    Hotkey read[HOTKEY_ACTIONS];
    LoadHotkeys(read);
    std::wstring texts;
    for (const Hotkey& h : read) {
        texts += HotkeyText(h) + L"|";
    }
    EXPECT_EQ(texts, L"|||||||Shift+F6||Ctrl+Alt+M||") << "the unreadable one is none";
    WritePrivateProfileStringW(L"Kawauso04", L"HotkeyBypass", nullptr, settingsFile.c_str());
    SaveHotkeys(none);
    EXPECT_EQ(ReadBytes(settingsFile), today) << "unset again";
}

// Each effect of a chain keeps its state in a file of its own, named by its position.
TEST_F(SettingsFile, EachChainedEffectKeepsItsStateInAFileOfItsPosition) {
    const wchar_t path[] = L"C:\\fx\\comp.dll";
    const std::vector<uint8_t> first = {'K', 'W', 'S', 'T', 1}, third = {'K', 'W', 'S', 'T', 3};
    ASSERT_TRUE(WriteSlotPluginState(1, path, first));
    ASSERT_TRUE(WriteSlotPluginState(1, path, third, 2));
    const std::wstring base = settingsFile.substr(0, settingsFile.size() - 4);
    EXPECT_EQ(
        (Flags{Exists(base + L".Settings01.vststate"), Exists(base + L".Settings01-3.vststate"),
               Exists(base + L".Settings01-2.vststate")}),
        (Flags{true, true, false}));
    std::vector<uint8_t> back;
    EXPECT_TRUE(ReadSlotPluginState(1, path, back, 2));
    EXPECT_EQ(back, third);
    EXPECT_TRUE(ReadSlotPluginState(1, path, back));
    EXPECT_EQ(back, first);
    EXPECT_FALSE(ReadSlotPluginState(1, path, back, 1));
    EXPECT_FALSE(WriteSlotPluginState(1, path, first, CHAINED_EFFECTS + 1)) << "no ninth";
    DeleteSlotPluginState(1, 2);
    EXPECT_EQ(
        (Flags{Exists(base + L".Settings01.vststate"), Exists(base + L".Settings01-3.vststate")}),
        (Flags{true, false}));
    DeleteSlotPluginState(1);
}

// A slot's kept effect state comes back only for the plug-in path it was kept for; a damaged
// file gives nothing, whatever its header claims.
TEST_F(SettingsFile, AKeptEffectStateComesBackOnlyForItsOwnPath) {
    const wchar_t path[] = L"C:\\プラグイン\\Effect.dll";
    const std::vector<uint8_t> state = {'K', 'W', 'S', 'T', 1, 2, 3};
    ASSERT_TRUE(WriteSlotPluginState(2, path, state));
    std::vector<uint8_t> back;
    for (const wchar_t* asked : {path, L"c:\\プラグイン\\EFFECT.DLL"}) {
        EXPECT_TRUE(ReadSlotPluginState(2, asked, back)) << asked;
        EXPECT_EQ(back, state);
    }
    EXPECT_FALSE(ReadSlotPluginState(2, L"C:\\プラグイン\\Other.dll", back));
    EXPECT_EQ(back, std::vector<uint8_t>{});
    EXPECT_FALSE(ReadSlotPluginState(3, path, back)) << "another slot's file";

    const std::wstring file =
        settingsFile.substr(0, settingsFile.size() - 4) + L".Settings02.vststate";
    const std::string kept = ReadBytes(file);
    EXPECT_FALSE(Exists(file + L".new"));
    const std::string damaged[] = {kept.substr(0, 7), "KWSX" + kept.substr(4),
                                   "KWSP\xFF\xFF\x00\x00" + kept.substr(8),
                                   kept.substr(0, 8 + 2 * 5)};
    for (const std::string& bytes : damaged) {
        WriteBytes(file, bytes);
        EXPECT_FALSE(ReadSlotPluginState(2, path, back)) << bytes.size();
    }
    // A path of the longest length the slot can hold (0x105 units) is refused, never read one
    // unit past it.
    const std::wstring longest(VST_PATH_UNITS, L'a');
    WriteBytes(file, std::string("KWSP\x05\x01\x00\x00", 8) + Utf16(longest).substr(2) + "KWST");
    EXPECT_FALSE(ReadSlotPluginState(2, longest.c_str(), back)) << "a path one unit too long";
    DeleteSlotPluginState(2);
    EXPECT_FALSE(Exists(file));

    EXPECT_EQ((Flags{MarkSlotPluginLoad(4), SlotPluginLoadMarked(4), SlotPluginLoadMarked(5)}),
              (Flags{true, true, false}));
    UnmarkSlotPluginLoad(4);
    EXPECT_FALSE(SlotPluginLoadMarked(4));
}

// The user's guide cannot drift from the program: it carries the program's version; in each of
// its two languages it lists every key a save writes (a plug-in kept with a chain of two, so
// all of them; a chained effect's numbered keys as NameN) and no other, and it names exactly the
// option letters the command line takes; every section an English message sends the reader to is
// there, under that heading.
TEST_F(SettingsFile, TheUserGuideNamesTheProgramsKeysOptionsAndTheSectionsMessagesName) {
    const std::string text = SourceFile("docs/README-user.txt");
    std::istringstream guide(text);
    std::string title;
    std::getline(guide, title);
    ASSERT_FALSE(ShownVersion().empty());
    EXPECT_EQ(title, "Kawauso04 " + ShownVersion()) << "the version";
    std::map<std::string, int> listedKeys;
    std::set<char> listedOptions;
    const std::regex keyLine("^    ([A-Z][A-Za-z]+) {2,}.*"), optionLine("^  -([a-z])[N ].*");
    std::smatch match;
    int programSections = 0;
    for (std::string line; std::getline(guide, line);) {
        programSections += line.find("[Kawauso04]") != std::string::npos;
        if (std::regex_match(line, match, keyLine)) {
            ++listedKeys[match[1]];
        } else if (std::regex_match(line, match, optionLine)) {
            listedOptions.insert(match[1].str()[0]);
        }
    }

    slots[0].VstActive = slots[0].VstEditorOpen = slots[0].VstIsolated = true;
    slots[0].VstBypassed = slots[0].Chained[0].VstIsolated = slots[0].Chained[0].VstBypassed = true;
    SetText(slots[0].Chained[0].VstPath, VST_PATH_UNITS, L"C:\\fx\\comp.dll");
    SaveCurrentSlot();
    SaveLanguage(Language::English);
    Hotkey hotkeys[HOTKEY_ACTIONS];
    for (Hotkey& h : hotkeys) {
        h = {'K', HOTKEY_CONTROL};
    }
    SaveHotkeys(hotkeys);
    SaveMonitorPosition(40, 50);
    std::map<std::string, int> writtenKeys;
    for (const wchar_t* section : {L"Settings00", L"Kawauso04"}) {
        wchar_t names[1024] = L"";
        GetPrivateProfileStringW(section, nullptr, L"", names, 1024, settingsFile.c_str());
        for (const wchar_t* name = names; *name != L'\0'; name += std::wcslen(name) + 1) {
            std::string key(name, name + std::wcslen(name));
            if (std::isdigit(static_cast<unsigned char>(key.back()))) {
                key.back() = 'N'; // VstPath2 .. VstPath8
            }
            writtenKeys[key] = 2; // once per language
        }
    }
    EXPECT_EQ(listedKeys, writtenKeys);
    EXPECT_EQ(programSections, 2) << "the program's own section, in each language";

    static int messages;
    SetCommandLineMessageHandler([] { ++messages; });
    std::set<char> takenOptions;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        std::wstring line = std::wstring(L"-") + wchar_t(letter) + L"3";
        messages = 0;
        ParseCommandLine(&line[0]);
        line = std::wstring(L"-") + wchar_t(letter);
        ParseCommandLine(&line[0]);
        if (messages < 2) {
            takenOptions.insert(letter);
        }
    }
    SetCommandLineMessageHandler(nullptr);
    startInTray = false;
    EXPECT_EQ(listedOptions, takenOptions);

    ShowLanguage(Language::English);
    int named = 0;
    const std::wregex reference(L"\"([^\"]+)\" in README\\.txt");
    for (int id = TEXT_BAD_ARGUMENTS; id < TEXT_COUNT; ++id) {
        const std::wstring message = ::Text(TextId(id));
        for (std::wsregex_iterator m(message.begin(), message.end(), reference), end; m != end;
             ++m, ++named) {
            const std::wstring heading = (*m)[1];
            EXPECT_NE(text.find("\n" + std::string(heading.begin(), heading.end()) + "\n"),
                      std::string::npos)
                << id;
        }
    }
    ShowLanguage(Language::Japanese);
    EXPECT_GE(named, 5);
}

} // namespace
