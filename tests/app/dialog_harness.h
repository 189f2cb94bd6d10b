// Runs the real main dialog procedure in the test process, on the real resource template,
// with a settings file next to the test executable, and drives it with the messages a
// user's actions produce.
#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the settings file as UTF-16LE with a byte-order mark (empty text: none at all).
    void WriteSettings(const std::wstring& text);
    std::wstring ReadSettings() const;
    // Creates the dialog as program entry would (after the command line set the slot).
    void OpenDialog(int slot = 0, bool inTray = false);
    // Handles messages (posted ones included) for about ms milliseconds.
    void Pump(DWORD ms = 50);
    // Closes through WM_CLOSE as the close box does, then destroys the window.
    void CloseDialog();

    HWND Item(int id) const { return GetDlgItem(dialog, id); }
    std::wstring Text(int id) const;
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
    int SelectedIndex(int id) const;
    std::wstring SelectedText(int id) const;
    void Command(int id, WORD code = BN_CLICKED);
    void SelectSlot(int slot);
    SIZE WindowSize() const;
    SIZE TemplateSize() const;  // the template's 229 x 55 dialog units in pixels, with frame

    HWND dialog = nullptr;
    std::wstring iniPath;
};
