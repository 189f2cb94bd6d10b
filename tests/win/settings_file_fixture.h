// A fresh folder per test for the settings file, with helpers to write and inspect the file
// byte for byte and to read it back through the platform's own profile functions.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_file.h"
#include "settings/settings_store.h"

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        folder = std::wstring(temp) + L"kawauso-settings-" + std::to_wstring(GetCurrentProcessId()) +
                 L"-" + std::to_wstring(++counter);
        RemoveFolder(folder);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        path = folder + L"\\KaWUmi.ini";
        ResetSettingsStore();
        UseIniPath(path);
    }

    void TearDown() override {
        ResetSettingsStore();
        RemoveFolder(folder);
    }

    void UseIniPath(const std::wstring& file) {
        ASSERT_LT(file.size(), static_cast<size_t>(INI_PATH_UNITS));
        std::wcscpy(iniPath, file.c_str());
    }

    void SelectSlot(int32_t index) {
        currentSlotIndex = index;
        currentSlot = &slots[index];
    }

    // The profile functions may keep a file as they last read it; a test that changes the
    // file behind them lets them read it again.
    static void ForgetCachedProfile(const std::wstring& file) {
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str());
    }

    static void WriteBytes(const std::wstring& file, const std::string& bytes) {
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        ASSERT_EQ(written, bytes.size());
        CloseHandle(h);
        ForgetCachedProfile(file);
    }

    // A file in UTF-16LE with its byte-order mark.
    static void WriteUnicodeFile(const std::wstring& file, const std::wstring& text) {
        std::string bytes("\xFF\xFE", 2);
        bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
        WriteBytes(file, bytes);
    }

    static std::string ReadBytes(const std::wstring& file) {
        std::string bytes;
        HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return bytes;
        }
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(h, chunk, sizeof(chunk), &got, nullptr) && got > 0) {
            bytes.append(chunk, got);
        }
        CloseHandle(h);
        return bytes;
    }

    static bool HasUnicodeMark(const std::string& bytes) {
        return bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
    }

    // The text of a UTF-16LE file after its mark.
    static std::wstring UnicodeText(const std::string& bytes) {
        EXPECT_TRUE(HasUnicodeMark(bytes));
        EXPECT_EQ(bytes.size() % 2, 0u);
        std::wstring text((bytes.size() - 2) / 2, L'\0');
        if (!text.empty()) {
            std::memcpy(&text[0], bytes.data() + 2, text.size() * 2);
        }
        return text;
    }

    // The non-empty lines of a text.
    static std::vector<std::wstring> Lines(const std::wstring& text) {
        std::vector<std::wstring> lines;
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find(L'\n', start);
            if (end == std::wstring::npos) {
                end = text.size();
            }
            std::wstring line = text.substr(start, end - start);
            if (!line.empty() && line.back() == L'\r') {
                line.pop_back();
            }
            if (!line.empty()) {
                lines.push_back(line);
            }
            start = end + 1;
        }
        return lines;
    }

    // A value as the platform reads it from the current settings file.
    std::wstring Value(const wchar_t* section, const wchar_t* key) const {
        wchar_t buffer[1024];
        GetPrivateProfileStringW(section, key, L"<absent>", buffer, 1024, path.c_str());
        return buffer;
    }

    bool Exists(const std::wstring& file) const {
        return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    static void ExpectDefaultSlot(const SettingsSlot& slot, int index) {
        SCOPED_TRACE("slot " + std::to_string(index));
        EXPECT_EQ(std::wstring(slot.BufferSize), L"50");
        EXPECT_EQ(std::wstring(slot.WaveInCapsName), L"");
        EXPECT_EQ(std::wstring(slot.WaveOutCapsName), L"");
        EXPECT_EQ(std::wstring(slot.VstPath), L"");
        EXPECT_EQ(slot.Volume, 0);
        EXPECT_EQ(slot.FreqRatio, 0);
        EXPECT_FALSE(slot.AutoRestart);
        EXPECT_TRUE(slot.ShowDetail);
        EXPECT_EQ(slot.DlgPosX, 0);
        EXPECT_EQ(slot.DlgPosY, 0);
    }

    // Every slot filled with a pattern, so a load that skips a field shows.
    static void ScribbleOverSlots() {
        for (SettingsSlot& slot : slots) {
            std::memset(&slot, 0x5A, sizeof(slot));
            slot.AutoRestart = true;
            slot.ShowDetail = false;
        }
    }

    static void SetText(wchar_t* field, size_t units, const std::wstring& text) {
        ASSERT_LT(text.size(), units);
        std::memset(field, 0, units * sizeof(wchar_t));
        text.copy(field, text.size());
    }

    static void RemoveFolder(const std::wstring& dir) {
        ForgetCachedProfile(dir + L"\\KaWUmi.ini");
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") {
                    continue;
                }
                std::wstring full = dir + L"\\" + name;
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveFolder(full);
                } else {
                    DeleteFileW(full.c_str());
                }
            } while (FindNextFileW(find, &found));
            FindClose(find);
        }
        SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryW(dir.c_str());
    }

    std::wstring folder;
    std::wstring path;
};
