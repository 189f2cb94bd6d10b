#include "settings/settings_file.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "settings/file_bytes.h"
#include "settings/ini_path.h"
#include "settings/number_text.h"
#include "settings/settings_file_lock.h"
#include "settings/settings_store.h"

namespace {

constexpr DWORD MODULE_PATH_UNITS = 260;
// Numbers pass through an 8-unit text on their way in.
constexpr DWORD NUMBER_READ_UNITS = 8;
// "Settings" and two digits.
constexpr int32_t SECTION_NAME_UNITS = 11;
const wchar_t SECTION_PREFIX[] = L"Settings";

const wchar_t KEY_BUFFER_SIZE[] = L"BufferSize";
const wchar_t KEY_WAVE_IN[] = L"WaveInCapsName";
const wchar_t KEY_WAVE_OUT[] = L"WaveOutCapsName";
const wchar_t KEY_VST_PATH[] = L"VstPath";
const wchar_t KEY_VOLUME[] = L"Volume";
const wchar_t KEY_FREQ_RATIO[] = L"FreqRatio";
const wchar_t KEY_AUTO_RESTART[] = L"AutoRestart";
const wchar_t KEY_SHOW_DETAIL[] = L"ShowDetail";
const wchar_t KEY_DLG_POS_X[] = L"DlgPosX";
const wchar_t KEY_DLG_POS_Y[] = L"DlgPosY";
// Present only while a plug-in is kept with the slot, so files of slots closed without one stay
// as they were.
const wchar_t KEY_VST_ACTIVE[] = L"VstActive";
const wchar_t KEY_VST_EDITOR[] = L"VstEditorOpen";
// Present only while the slot's effect is to run in a process of its own.
const wchar_t KEY_VST_ISOLATED[] = L"VstIsolated";
// Present only while set, so the file of a slot with one effect on stays as it was: the first
// effect passed by, and the chain's effects 2 to 8 with the first one's keys numbered, as
// "VstPath2", "VstIsolated2", "VstBypassed2". A program that knows one effect keeps the first.
const wchar_t KEY_VST_BYPASSED[] = L"VstBypassed";
constexpr int32_t CHAINED_KEY_UNITS = 16;

// A chained effect's key: the first effect's, numbered from 2.
void ChainedKey(const wchar_t* key, int32_t chained, wchar_t (&out)[CHAINED_KEY_UNITS]) {
    std::swprintf(out, CHAINED_KEY_UNITS, L"%ls%d", key, static_cast<int>(chained) + 2);
}
// The program's own section, beside the slots: what holds whichever slot is in use. Its keys
// are there only while set (English, a hotkey), so the files of users who set none stay as
// they were.
const wchar_t PROGRAM_SECTION[] = L"Kawauso04";
const wchar_t KEY_LANGUAGE[] = L"Language";
const wchar_t KEY_MONITOR_X[] = L"MonitorPosX";
const wchar_t KEY_MONITOR_Y[] = L"MonitorPosY";
const wchar_t LANGUAGE_ENGLISH[] = L"en";
constexpr DWORD LANGUAGE_READ_UNITS = 8;
constexpr DWORD SECTION_READ_UNITS = 4; // enough to tell an empty section from another
constexpr DWORD HOTKEY_READ_UNITS = 40; // "Ctrl+Alt+Shift+NumPad9" and some; the language too

const wchar_t DEFAULT_BUFFER_SIZE[] = L"50";
const wchar_t DEFAULT_TEXT[] = L"";
const wchar_t DEFAULT_ZERO[] = L"0";
const wchar_t DEFAULT_SHOW_DETAIL[] = L"1";
const wchar_t SWITCH_ON[] = L"1";
const wchar_t SWITCH_OFF[] = L"0";

// The UTF-16LE byte-order mark, and the marks of the other encodings the profile functions
// may recognise.
const unsigned char BOM_UTF16LE[] = {0xFF, 0xFE};
const unsigned char BOM_UTF16BE[] = {0xFE, 0xFF};
const unsigned char BOM_UTF8[] = {0xEF, 0xBB, 0xBF};
// An older file is rewritten only up to this size; a settings file is a few kilobytes.
constexpr uint64_t MAX_REWRITE_BYTES = 1 << 20;
// Any code page takes at most 3 bytes for one UTF-16 unit; 4 leaves a margin.
constexpr int32_t NARROW_BYTES_PER_UNIT = 4;
const wchar_t REWRITE_SUFFIX[] = L".new";
// The file the settings path finally names; a link may lead further than the program's own
// folder.
constexpr int32_t TARGET_PATH_UNITS = 2 * INI_PATH_UNITS;
constexpr int32_t REWRITE_PATH_UNITS = TARGET_PATH_UNITS + 4;
// What a rewrite must give back to the file when the platform's replace does not (Wine's,
// and the plain rename, leave the new file's own).
constexpr DWORD KEPT_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// index is 0..99; callers pass a slot index.
void FormatSectionName(int32_t index, wchar_t (&name)[SECTION_NAME_UNITS]) {
    int32_t at = 0;
    for (; SECTION_PREFIX[at] != L'\0'; ++at) {
        name[at] = SECTION_PREFIX[at];
    }
    name[at++] = static_cast<wchar_t>(L'0' + index / 10);
    name[at++] = static_cast<wchar_t>(L'0' + index % 10);
    name[at] = L'\0';
}

void ReadText(const wchar_t* section, const wchar_t* key, const wchar_t* fallback, wchar_t* buffer,
              DWORD units) {
    if (iniPath[0] == L'\0') {
        lstrcpynW(buffer, fallback, static_cast<int>(units));
        return;
    }
    GetPrivateProfileStringW(section, key, fallback, buffer, units, iniPath);
}

// The profile functions trim blanks around a value and take one pair of matching quotes off
// it. Device names cut to 31 characters often end in a blank, and a name that no longer
// matches exactly is never found again by auto-connect; so such values are written inside
// quotes, and text keys are read with room for the quotes before the field's own cut.
constexpr int32_t QUOTE_UNITS = 2;
static_assert(DEVICE_NAME_UNITS <= VST_PATH_UNITS, "text keys are read through one buffer");

bool IsProfileBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

bool NeedsQuotes(const wchar_t* text) {
    const size_t length = std::wcslen(text);
    if (length == 0) {
        return false;
    }
    const wchar_t first = text[0];
    const wchar_t last = text[length - 1];
    if (IsProfileBlank(first) || IsProfileBlank(last)) {
        return true;
    }
    return length >= 2 && (first == L'"' || first == L'\'') && last == first;
}

// out holds at least units + QUOTE_UNITS; text is at most units - 1 long.
void QuoteForProfile(const wchar_t* text, wchar_t* out) {
    if (!NeedsQuotes(text)) {
        std::wcscpy(out, text);
        return;
    }
    const size_t length = std::wcslen(text);
    out[0] = L'"';
    std::memcpy(out + 1, text, length * sizeof(wchar_t));
    out[length + 1] = L'"';
    out[length + 2] = L'\0';
}

void ReadTextField(const wchar_t* section, const wchar_t* key, const wchar_t* fallback,
                   wchar_t* field, int32_t units) {
    wchar_t text[VST_PATH_UNITS + QUOTE_UNITS];
    ReadText(section, key, fallback, text, static_cast<DWORD>(units + QUOTE_UNITS));
    const int32_t keep = units - 1;
    if (static_cast<int32_t>(std::wcslen(text)) > keep) {
        text[keep] = L'\0';
    }
    std::wcscpy(field, text);
}

// A WinMM name is cut where its capability record cuts it, so a hand-made longer one still
// finds its device; an endpoint's name is kept whole.
void ReadDeviceName(const wchar_t* section, const wchar_t* key,
                    wchar_t (&field)[DEVICE_NAME_UNITS]) {
    ReadTextField(section, key, DEFAULT_TEXT, field, DEVICE_NAME_UNITS);
    if (!IsWasapiName(field)) {
        field[WAVE_NAME_UNITS - 1] = L'\0';
    }
}

int32_t ReadNumber(const wchar_t* section, const wchar_t* key, const wchar_t* fallback) {
    wchar_t text[NUMBER_READ_UNITS];
    ReadText(section, key, fallback, text, NUMBER_READ_UNITS);
    return ParseDecimal(text);
}

// Copies at most units-1 units of a field, so a field that lost its terminator cannot make a
// write read past its end.
void CopyField(wchar_t* to, const wchar_t* from, int32_t units) {
    int32_t i = 0;
    for (; i < units - 1 && from[i] != L'\0'; ++i) {
        to[i] = from[i];
    }
    to[i] = L'\0';
}

// True when text comes back unchanged from the ANSI code page.
bool SurvivesAnsi(const wchar_t* text) {
    char narrow[VST_PATH_MAX_UNITS * NARROW_BYTES_PER_UNIT];
    wchar_t back[VST_PATH_MAX_UNITS];
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, static_cast<int>(sizeof(narrow)),
                                    nullptr, nullptr);
    if (bytes <= 0) {
        return false;
    }
    int units = MultiByteToWideChar(CP_ACP, 0, narrow, bytes, back, VST_PATH_MAX_UNITS);
    return units > 0 && std::wcscmp(back, text) == 0;
}

bool StartsWith(const std::vector<char>& bytes, const unsigned char* mark, size_t length) {
    if (bytes.size() < length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(bytes[i]) != mark[i]) {
            return false;
        }
    }
    return true;
}

// A file that the profile functions will keep in UTF-16 from now on. True when created.
bool CreateUnicodeFile() {
    HANDLE file =
        CreateFileW(iniPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false; // no write access: the profile writes fail the same way
    }
    bool written = WriteAllBytes(file, BOM_UTF16LE, sizeof(BOM_UTF16LE));
    CloseHandle(file);
    if (!written) {
        DeleteFileW(iniPath); // an empty file would be taken for ANSI
    }
    return written;
}

// The file the settings path finally names, a link followed to its target, so that a rewrite
// replaces the target and the link stays a link. False when the file cannot be opened
// (missing, or denied to us) or its name does not fit.
bool FindFinalPath(wchar_t (&target)[TARGET_PATH_UNITS]) {
    HANDLE file = CreateFileW(iniPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DWORD units =
        GetFinalPathNameByHandleW(file, target, static_cast<DWORD>(TARGET_PATH_UNITS),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    return units > 0 && units < static_cast<DWORD>(TARGET_PATH_UNITS);
}

// ReplaceFileW keeps the old file's identity, security and attributes. Where it is refused,
// the side file still has its own name (even when the refusal came after the old file was
// removed), and the plain rename puts it in place without those.
bool ReplaceWithSideFile(const wchar_t* target, const wchar_t* sidePath) {
    return ReplaceFileW(target, sidePath, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                        nullptr) != FALSE ||
           MoveFileExW(sidePath, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
               FALSE;
}

// Turns the existing file target (with the given attributes) without a UTF-16 mark into
// UTF-16LE with a mark, every line as the profile functions read it. The new text goes to a
// side file beside it that then replaces it, so a failure leaves the old file as it was.
// True when the file was replaced.
bool RewriteAsUnicode(const wchar_t* target, DWORD attributes) {
    std::vector<char> bytes;
    if (!ReadFileBytes(target, MAX_REWRITE_BYTES, bytes)) {
        return false;
    }
    if (StartsWith(bytes, BOM_UTF16LE, sizeof(BOM_UTF16LE)) ||
        StartsWith(bytes, BOM_UTF16BE, sizeof(BOM_UTF16BE))) {
        return false; // already carries any text
    }
    UINT codePage = CP_ACP;
    size_t skip = 0;
    if (StartsWith(bytes, BOM_UTF8, sizeof(BOM_UTF8))) {
        codePage = CP_UTF8;
        skip = sizeof(BOM_UTF8);
    }
    int narrowBytes = static_cast<int>(bytes.size() - skip);
    std::vector<wchar_t> text;
    if (narrowBytes > 0) {
        int units = MultiByteToWideChar(codePage, 0, bytes.data() + skip, narrowBytes, nullptr, 0);
        if (units <= 0) {
            return false;
        }
        text.resize(static_cast<size_t>(units));
        MultiByteToWideChar(codePage, 0, bytes.data() + skip, narrowBytes, text.data(), units);
    }

    wchar_t sidePath[REWRITE_PATH_UNITS];
    if (std::wcslen(target) + std::wcslen(REWRITE_SUFFIX) >= REWRITE_PATH_UNITS) {
        return false;
    }
    std::wcscpy(sidePath, target);
    std::wcscat(sidePath, REWRITE_SUFFIX);
    HANDLE file = CreateFileW(sidePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool written =
        WriteAllBytes(file, BOM_UTF16LE, sizeof(BOM_UTF16LE)) &&
        (text.empty() || WriteAllBytes(file, text.data(), text.size() * sizeof(wchar_t))) &&
        FlushFileBuffers(file) != FALSE;
    CloseHandle(file);
    if (!written || !ReplaceWithSideFile(target, sidePath)) {
        DeleteFileW(sidePath);
        return false;
    }
    const DWORD kept = attributes & KEPT_ATTRIBUTES;
    if ((GetFileAttributesW(target) & KEPT_ATTRIBUTES) != kept) {
        SetFileAttributesW(target, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
    }
    return true;
}

// Makes sure the existing file (attributes as GetFileAttributesW gave them for target, its
// final name, or null when that is unknown) or the new one can carry the text values about to
// be written: a new file starts as UTF-16, and an existing ANSI file becomes UTF-16 only when
// one of the values would not survive its code page, so older files with plain values stay
// exactly as they are.
void PrepareFileForText(const wchar_t* target, DWORD attributes, const wchar_t* const* values,
                        int32_t count) {
    bool changed = false;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        changed = CreateUnicodeFile();
    } else {
        bool survives = true;
        for (int32_t i = 0; i < count && survives; ++i) {
            survives = SurvivesAnsi(values[i]);
        }
        changed = !survives && target != nullptr && RewriteAsUnicode(target, attributes);
    }
    if (changed) {
        // The profile functions may hold the file as they last read it, encoding included;
        // let them read it again.
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, iniPath);
    }
}

// Before any write: false for a read-only file, which is the user's to keep as it is; else the
// file is ready for the count values about to be written (PrepareFileForText).
bool PrepareFileForWrite(const wchar_t* const* values, int32_t count) {
    wchar_t target[TARGET_PATH_UNITS];
    const bool resolved = FindFinalPath(target);
    const DWORD attributes = GetFileAttributesW(resolved ? target : iniPath);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return false;
    }
    PrepareFileForText(resolved ? target : nullptr, attributes, values, count);
    return true;
}

// Effects 2 to 8 while the chain goes on, their keys gone after its end.
void WriteChainedEffects(const wchar_t* section, const SettingsSlot& slot,
                         const wchar_t (&paths)[CHAINED_EFFECTS][VST_PATH_MAX_UNITS]) {
    bool ended = false;
    for (int32_t i = 0; i < CHAINED_EFFECTS; ++i) {
        const ChainedEffect& effect = slot.Chained[i];
        ended = ended || paths[i][0] == L'\0';
        wchar_t key[CHAINED_KEY_UNITS];
        wchar_t quoted[VST_PATH_UNITS + QUOTE_UNITS];
        QuoteForProfile(paths[i], quoted);
        ChainedKey(KEY_VST_PATH, i, key);
        WritePrivateProfileStringW(section, key, ended ? nullptr : quoted, iniPath);
        ChainedKey(KEY_VST_ISOLATED, i, key);
        WritePrivateProfileStringW(section, key, !ended && effect.VstIsolated ? SWITCH_ON : nullptr,
                                   iniPath);
        ChainedKey(KEY_VST_BYPASSED, i, key);
        WritePrivateProfileStringW(section, key, !ended && effect.VstBypassed ? SWITCH_ON : nullptr,
                                   iniPath);
    }
}

// Effects 2 to 8 as the file names them; one whose path is missing or empty is left out and the
// ones after it move up.
void ReadChainedEffects(const wchar_t* section, SettingsSlot& slot) {
    int32_t kept = 0;
    for (int32_t i = 0; i < CHAINED_EFFECTS; ++i) {
        ChainedEffect& into = slot.Chained[kept];
        wchar_t key[CHAINED_KEY_UNITS];
        ChainedKey(KEY_VST_PATH, i, key);
        ReadTextField(section, key, DEFAULT_TEXT, into.VstPath, VST_PATH_MAX_UNITS);
        into.VstPath[VST_PATH_UNITS - 1] = L'\0';
        ChainedKey(KEY_VST_ISOLATED, i, key);
        into.VstIsolated = ReadNumber(section, key, DEFAULT_ZERO) != 0;
        ChainedKey(KEY_VST_BYPASSED, i, key);
        into.VstBypassed = ReadNumber(section, key, DEFAULT_ZERO) != 0;
        kept += into.VstPath[0] != L'\0' ? 1 : 0;
    }
    for (int32_t i = kept; i < CHAINED_EFFECTS; ++i) {
        slot.Chained[i] = ChainedEffect{};
    }
}

void WriteSlot(int32_t index, const SettingsSlot& slot) {
    wchar_t section[SECTION_NAME_UNITS];
    FormatSectionName(index, section);

    wchar_t bufferSize[BUFFER_SIZE_UNITS];
    wchar_t waveIn[DEVICE_NAME_UNITS];
    wchar_t waveOut[DEVICE_NAME_UNITS];
    wchar_t vstPath[VST_PATH_MAX_UNITS];
    CopyField(bufferSize, slot.BufferSize, BUFFER_SIZE_UNITS);
    CopyField(waveIn, slot.WaveInCapsName, DEVICE_NAME_UNITS);
    CopyField(waveOut, slot.WaveOutCapsName, DEVICE_NAME_UNITS);
    CopyField(vstPath, slot.VstPath, VST_PATH_MAX_UNITS);
    wchar_t volume[DECIMAL_TEXT_UNITS];
    wchar_t freqRatio[DECIMAL_TEXT_UNITS];
    wchar_t dlgPosX[DECIMAL_TEXT_UNITS];
    wchar_t dlgPosY[DECIMAL_TEXT_UNITS];
    FormatDecimal(slot.Volume, volume);
    FormatDecimal(slot.FreqRatio, freqRatio);
    FormatDecimal(slot.DlgPosX, dlgPosX);
    FormatDecimal(slot.DlgPosY, dlgPosY);

    wchar_t chainedPaths[CHAINED_EFFECTS][VST_PATH_MAX_UNITS];
    const wchar_t* texts[4 + CHAINED_EFFECTS] = {bufferSize, waveIn, waveOut, vstPath};
    for (int32_t i = 0; i < CHAINED_EFFECTS; ++i) {
        CopyField(chainedPaths[i], slot.Chained[i].VstPath, VST_PATH_MAX_UNITS);
        texts[4 + i] = chainedPaths[i];
    }
    if (!PrepareFileForWrite(texts, static_cast<int32_t>(sizeof(texts) / sizeof(texts[0])))) {
        return;
    }

    wchar_t quoted[VST_PATH_UNITS + QUOTE_UNITS];
    QuoteForProfile(bufferSize, quoted);
    WritePrivateProfileStringW(section, KEY_BUFFER_SIZE, quoted, iniPath);
    QuoteForProfile(waveIn, quoted);
    WritePrivateProfileStringW(section, KEY_WAVE_IN, quoted, iniPath);
    QuoteForProfile(waveOut, quoted);
    WritePrivateProfileStringW(section, KEY_WAVE_OUT, quoted, iniPath);
    QuoteForProfile(vstPath, quoted);
    WritePrivateProfileStringW(section, KEY_VST_PATH, quoted, iniPath);
    WritePrivateProfileStringW(section, KEY_VOLUME, volume, iniPath);
    WritePrivateProfileStringW(section, KEY_FREQ_RATIO, freqRatio, iniPath);
    WritePrivateProfileStringW(section, KEY_AUTO_RESTART, slot.AutoRestart ? SWITCH_ON : SWITCH_OFF,
                               iniPath);
    WritePrivateProfileStringW(section, KEY_SHOW_DETAIL, slot.ShowDetail ? SWITCH_ON : SWITCH_OFF,
                               iniPath);
    WritePrivateProfileStringW(section, KEY_DLG_POS_X, dlgPosX, iniPath);
    WritePrivateProfileStringW(section, KEY_DLG_POS_Y, dlgPosY, iniPath);
    WritePrivateProfileStringW(section, KEY_VST_ACTIVE, slot.VstActive ? SWITCH_ON : nullptr,
                               iniPath);
    WritePrivateProfileStringW(section, KEY_VST_EDITOR,
                               slot.VstActive && slot.VstEditorOpen ? SWITCH_ON : nullptr, iniPath);
    WritePrivateProfileStringW(section, KEY_VST_ISOLATED, slot.VstIsolated ? SWITCH_ON : nullptr,
                               iniPath);
    WritePrivateProfileStringW(section, KEY_VST_BYPASSED, slot.VstBypassed ? SWITCH_ON : nullptr,
                               iniPath);
    WriteChainedEffects(section, slot, chainedPaths);
}

} // namespace

void BuildIniPath() {
    wchar_t modulePath[MODULE_PATH_UNITS];
    DWORD length = GetModuleFileNameW(nullptr, modulePath, MODULE_PATH_UNITS);
    iniPath[0] = L'\0';
    if (length == 0 || length >= MODULE_PATH_UNITS) {
        return; // failed, or cut short: no folder we could trust
    }
    IniPathFromModulePath(modulePath, iniPath, INI_PATH_UNITS);
}

void LoadAllSlots() {
    HANDLE lock = LockSettingsFile(iniPath);
    for (int32_t i = 0; i < SLOT_COUNT; ++i) {
        wchar_t section[SECTION_NAME_UNITS];
        FormatSectionName(i, section);
        SettingsSlot& slot = slots[i];
        ReadTextField(section, KEY_BUFFER_SIZE, DEFAULT_BUFFER_SIZE, slot.BufferSize,
                      BUFFER_SIZE_UNITS);
        ReadDeviceName(section, KEY_WAVE_IN, slot.WaveInCapsName);
        ReadDeviceName(section, KEY_WAVE_OUT, slot.WaveOutCapsName);
        ReadTextField(section, KEY_VST_PATH, DEFAULT_TEXT, slot.VstPath, VST_PATH_MAX_UNITS);
        slot.VstPath[VST_PATH_UNITS - 1] = L'\0';
        slot.Volume = ReadNumber(section, KEY_VOLUME, DEFAULT_ZERO);
        slot.FreqRatio = ReadNumber(section, KEY_FREQ_RATIO, DEFAULT_ZERO);
        slot.AutoRestart = ReadNumber(section, KEY_AUTO_RESTART, DEFAULT_ZERO) != 0;
        slot.ShowDetail = ReadNumber(section, KEY_SHOW_DETAIL, DEFAULT_SHOW_DETAIL) != 0;
        slot.DlgPosX = ReadNumber(section, KEY_DLG_POS_X, DEFAULT_ZERO);
        slot.DlgPosY = ReadNumber(section, KEY_DLG_POS_Y, DEFAULT_ZERO);
        slot.VstActive = ReadNumber(section, KEY_VST_ACTIVE, DEFAULT_ZERO) != 0;
        slot.VstEditorOpen =
            slot.VstActive && ReadNumber(section, KEY_VST_EDITOR, DEFAULT_ZERO) != 0;
        slot.VstIsolated = ReadNumber(section, KEY_VST_ISOLATED, DEFAULT_ZERO) != 0;
        slot.VstBypassed = ReadNumber(section, KEY_VST_BYPASSED, DEFAULT_ZERO) != 0;
        ReadChainedEffects(section, slot);
    }
    UnlockSettingsFile(lock);
}

void SaveCurrentSlot() {
    if (iniPath[0] == L'\0' || currentSlot == nullptr || currentSlotIndex < 0 ||
        currentSlotIndex >= SLOT_COUNT) {
        return;
    }
    HANDLE lock = LockSettingsFile(iniPath);
    WriteSlot(currentSlotIndex, *currentSlot);
    UnlockSettingsFile(lock);
}

Language LoadLanguage() {
    HANDLE lock = LockSettingsFile(iniPath);
    wchar_t text[LANGUAGE_READ_UNITS];
    ReadText(PROGRAM_SECTION, KEY_LANGUAGE, DEFAULT_TEXT, text, LANGUAGE_READ_UNITS);
    UnlockSettingsFile(lock);
    return lstrcmpiW(text, LANGUAGE_ENGLISH) == 0 ? Language::English : Language::Japanese;
}

// Writes value as key of the program's section, or removes the key (null), and the section
// once nothing is left in it; a key neither kept nor to be written touches nothing. With the
// file's lock held.
void WriteProgramKey(const wchar_t* key, const wchar_t* value) {
    wchar_t text[HOTKEY_READ_UNITS];
    ReadText(PROGRAM_SECTION, key, DEFAULT_TEXT, text, HOTKEY_READ_UNITS);
    const bool kept = text[0] != L'\0';
    const wchar_t* const values[] = {value != nullptr ? value : DEFAULT_TEXT};
    if ((value != nullptr || kept) && PrepareFileForWrite(values, 1)) {
        WritePrivateProfileStringW(PROGRAM_SECTION, key, value, iniPath);
        wchar_t rest[SECTION_READ_UNITS];
        if (value == nullptr &&
            GetPrivateProfileSectionW(PROGRAM_SECTION, rest, SECTION_READ_UNITS, iniPath) == 0) {
            // Nothing else of the user's in it: the header goes too.
            WritePrivateProfileStringW(PROGRAM_SECTION, nullptr, nullptr, iniPath);
        }
    }
}

void SaveLanguage(Language language) {
    if (iniPath[0] == L'\0') {
        return;
    }
    HANDLE lock = LockSettingsFile(iniPath);
    WriteProgramKey(KEY_LANGUAGE, language == Language::English ? LANGUAGE_ENGLISH : nullptr);
    UnlockSettingsFile(lock);
}

bool LoadMonitorPosition(int32_t& x, int32_t& y) {
    HANDLE lock = LockSettingsFile(iniPath);
    wchar_t across[HOTKEY_READ_UNITS], down[HOTKEY_READ_UNITS];
    ReadText(PROGRAM_SECTION, KEY_MONITOR_X, DEFAULT_TEXT, across, HOTKEY_READ_UNITS);
    ReadText(PROGRAM_SECTION, KEY_MONITOR_Y, DEFAULT_TEXT, down, HOTKEY_READ_UNITS);
    UnlockSettingsFile(lock);
    wchar_t* endX = nullptr;
    wchar_t* endY = nullptr;
    const long readX = std::wcstol(across, &endX, 10);
    const long readY = std::wcstol(down, &endY, 10);
    if (across[0] == L'\0' || down[0] == L'\0' || *endX != L'\0' || *endY != L'\0' ||
        readX < INT16_MIN || readX > INT16_MAX || readY < INT16_MIN || readY > INT16_MAX) {
        return false; // a screen position fits 16 bits; anything else is no position
    }
    x = static_cast<int32_t>(readX);
    y = static_cast<int32_t>(readY);
    return true;
}

void SaveMonitorPosition(int32_t x, int32_t y) {
    if (iniPath[0] == L'\0') {
        return;
    }
    HANDLE lock = LockSettingsFile(iniPath);
    WriteProgramKey(KEY_MONITOR_X, std::to_wstring(x).c_str());
    WriteProgramKey(KEY_MONITOR_Y, std::to_wstring(y).c_str());
    UnlockSettingsFile(lock);
}

void LoadHotkeys(Hotkey (&hotkeys)[HOTKEY_ACTIONS]) {
    HANDLE lock = LockSettingsFile(iniPath);
    for (int32_t action = 0; action < HOTKEY_ACTIONS; ++action) {
        wchar_t text[HOTKEY_READ_UNITS];
        ReadText(PROGRAM_SECTION, HotkeyKeyName(action).c_str(), DEFAULT_TEXT, text,
                 HOTKEY_READ_UNITS);
        ParseHotkey(text, hotkeys[action]);
    }
    UnlockSettingsFile(lock);
}

void SaveHotkeys(const Hotkey (&hotkeys)[HOTKEY_ACTIONS]) {
    if (iniPath[0] == L'\0') {
        return;
    }
    HANDLE lock = LockSettingsFile(iniPath);
    for (int32_t action = 0; action < HOTKEY_ACTIONS; ++action) {
        const std::wstring text = HotkeyText(hotkeys[action]);
        WriteProgramKey(HotkeyKeyName(action).c_str(), text.empty() ? nullptr : text.c_str());
    }
    UnlockSettingsFile(lock);
}
