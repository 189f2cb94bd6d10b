// A picture of the main window as it is drawn on the display, kept as a test artefact
// (build/results/main-window-<build>.bmp; the script suite turns it into a PNG), with its
// size and its Japanese labels checked.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/app/dialog_harness.h"

namespace {

using MainWindowShot = MainDialogTest;

// Top-down 32-bit pixels of a window, frame included, as the display shows it.
struct Picture {
    LONG width = 0;
    LONG height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB

    uint32_t At(LONG x, LONG y) const { return pixels[static_cast<size_t>(y * width + x)]; }
};

Picture CaptureWindow(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    Picture picture;
    picture.width = r.right - r.left;
    picture.height = r.bottom - r.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC windowDc = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, picture.width, picture.height, windowDc, 0, 0, SRCCOPY);
    GdiFlush();
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    picture.pixels.assign(p, p + picture.width * picture.height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, windowDc);
    return picture;
}

// build\results beside the build trees (the program runs in build\<build>\tests).
std::wstring ResultsFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    for (int up = 0; up < 3; ++up) {
        folder.resize(folder.find_last_of(L"\\/"));
    }
    folder += L"\\results";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// A 24-bit bottom-up BMP.
bool WriteBmp(const std::wstring& path, const Picture& picture) {
    const DWORD rowBytes = static_cast<DWORD>((picture.width * 3 + 3) & ~3);
    const DWORD imageBytes = rowBytes * static_cast<DWORD>(picture.height);
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER header = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + imageBytes;
    header.biSize = sizeof header;
    header.biWidth = picture.width;
    header.biHeight = picture.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = imageBytes;
    std::vector<uint8_t> image(imageBytes, 0);
    for (LONG y = 0; y < picture.height; ++y) {
        uint8_t* row = &image[(picture.height - 1 - y) * rowBytes];
        for (LONG x = 0; x < picture.width; ++x) {
            const uint32_t c = picture.At(x, y);
            row[3 * x] = static_cast<uint8_t>(c);
            row[3 * x + 1] = static_cast<uint8_t>(c >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(c >> 16);
        }
    }
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(f, &file, sizeof file, &written, nullptr) != FALSE;
    ok = ok && WriteFile(f, &header, sizeof header, &written, nullptr) != FALSE;
    ok = ok && WriteFile(f, image.data(), imageBytes, &written, nullptr) != FALSE;
    CloseHandle(f);
    return ok;
}

// One control's pixels cut out of the window's picture, as dark (ink) or not.
struct Ink {
    LONG width = 0;
    LONG height = 0;
    std::vector<bool> dark;

    bool At(LONG x, LONG y) const { return dark[static_cast<size_t>(y * width + x)]; }
    int Count() const {
        int n = 0;
        for (bool d : dark) {
            n += d ? 1 : 0;
        }
        return n;
    }
};

Ink InkOf(const Picture& picture, HWND window, HWND control) {
    RECT w, c;
    GetWindowRect(window, &w);
    GetWindowRect(control, &c);
    Ink ink;
    ink.width = c.right - c.left;
    ink.height = c.bottom - c.top;
    for (LONG y = 0; y < ink.height; ++y) {
        for (LONG x = 0; x < ink.width; ++x) {
            const uint32_t p = picture.At(c.left - w.left + x, c.top - w.top + y);
            const int sum = static_cast<int>((p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF));
            ink.dark.push_back(sum < 3 * 128);
        }
    }
    return ink;
}

TEST_F(MainWindowShot, TheWindowHasTheTemplatesSizeAndShowsItsJapaneseLabels) {
    OpenDialog();
    SetForegroundWindow(dialog);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    Pump(300);

    const SIZE size = WindowSize(), expected = TemplateSize();
    EXPECT_EQ(size.cx, expected.cx);
    EXPECT_EQ(size.cy, expected.cy);

    const Picture picture = CaptureWindow(dialog);
    ASSERT_EQ(picture.width, size.cx);
    ASSERT_EQ(picture.height, size.cy);
    const std::wstring name = sizeof(void*) == 8 ? L"main-window-win64.bmp" : L"main-window-win32.bmp";
    EXPECT_TRUE(WriteBmp(ResultsFolder() + L"\\" + name, picture));

    // "音程" and "音量" share their first character and differ in the second: drawn glyphs
    // give identical ink up to some column and different ink after it; boxes for missing
    // glyphs would be alike throughout, and no font at all would leave no ink.
    const Ink pitch = InkOf(picture, dialog, Item(IDC_PITCH_LABEL));
    const Ink volume = InkOf(picture, dialog, Item(IDC_VOLUME_LABEL));
    ASSERT_EQ(pitch.width, volume.width);
    ASSERT_EQ(pitch.height, volume.height);
    EXPECT_GT(pitch.Count(), 10);
    EXPECT_GT(volume.Count(), 10);
    LONG firstDifferent = pitch.width;
    for (LONG x = 0; x < pitch.width && firstDifferent == pitch.width; ++x) {
        for (LONG y = 0; y < pitch.height; ++y) {
            if (pitch.At(x, y) != volume.At(x, y)) {
                firstDifferent = x;
                break;
            }
        }
    }
    int sharedInk = 0;
    for (LONG x = 0; x < firstDifferent; ++x) {
        for (LONG y = 0; y < pitch.height; ++y) {
            sharedInk += pitch.At(x, y) ? 1 : 0;
        }
    }
    EXPECT_LT(firstDifferent, pitch.width) << "the second characters differ";
    EXPECT_GT(sharedInk, 10) << "the first character is drawn alike in both";

    // Every text label carries ink.
    for (int id : {IDC_PITCH_VALUE, IDC_VOLUME_VALUE, IDC_BUFFER_LABEL}) {
        EXPECT_GT(InkOf(picture, dialog, Item(id)).Count(), 5) << "control " << id;
    }
}

}  // namespace
