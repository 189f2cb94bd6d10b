// Subcommands that look at the screen: the colour of a control's text (the clip indicator
// paints its label red), and a picture of a window as a BMP file.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "tests/e2e/driver_commands.h"
#include "tests/e2e/driver_output.h"
#include "tests/e2e/driver_windows.h"

namespace {

// Text pixels: red as the clip indicator paints it (200, 0, 0 and its anti-aliased edges),
// dark as ordinary black text.
constexpr int RED_MIN = 120;
constexpr int OTHER_MAX = 90;
constexpr int DARK_MAX = 100;

// The screen's pixels inside r, top row first, as 0x00RRGGBB.
std::vector<uint32_t> ScreenPixels(const RECT& r) {
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    std::vector<uint32_t> pixels;
    if (width <= 0 || height <= 0) {
        return pixels;
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

int Red(uint32_t p) {
    return static_cast<int>((p >> 16) & 0xFF);
}
int Green(uint32_t p) {
    return static_cast<int>((p >> 8) & 0xFF);
}
int Blue(uint32_t p) {
    return static_cast<int>(p & 0xFF);
}

void PutU16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

// A 24-bit bottom-up BMP of the pixels.
bool WriteBmp(const std::wstring& path, const std::vector<uint32_t>& pixels, int width,
              int height) {
    const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(height);
    const uint32_t headerBytes = 14 + 40;
    std::vector<uint8_t> out;
    out.reserve(headerBytes + imageBytes);
    out.push_back('B');
    out.push_back('M');
    PutU32(out, headerBytes + imageBytes);
    PutU32(out, 0);
    PutU32(out, headerBytes);
    PutU32(out, 40);
    PutU32(out, static_cast<uint32_t>(width));
    PutU32(out, static_cast<uint32_t>(height));
    PutU16(out, 1);
    PutU16(out, 24);
    PutU32(out, 0);
    PutU32(out, imageBytes);
    PutU32(out, 2835);
    PutU32(out, 2835);
    PutU32(out, 0);
    PutU32(out, 0);
    for (int y = height - 1; y >= 0; --y) {
        const size_t rowStart = out.size();
        for (int x = 0; x < width; ++x) {
            const uint32_t p = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) +
                                      static_cast<size_t>(x)];
            out.push_back(static_cast<uint8_t>(Blue(p)));
            out.push_back(static_cast<uint8_t>(Green(p)));
            out.push_back(static_cast<uint8_t>(Red(p)));
        }
        while (out.size() - rowStart < rowBytes) {
            out.push_back(0);
        }
    }
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok;
}

} // namespace

// Counts the red and the dark pixels of a control as the screen shows it.
int RedPixels(const Args& args) {
    long id = 0;
    if (args.size() != 1 || !ParseNumber(args[0], id)) {
        return Fail(L"red takes a control id");
    }
    HWND main = WaitMainWindow(DEFAULT_WAIT_MS);
    HWND control = main != nullptr ? ControlOf(main, static_cast<int>(id)) : nullptr;
    if (control == nullptr) {
        return 1;
    }
    if (!IsWindowVisible(control)) {
        return Fail(L"control " + args[0] + L" is not on the screen");
    }
    RECT r;
    GetWindowRect(control, &r);
    int red = 0;
    int dark = 0;
    for (uint32_t p : ScreenPixels(r)) {
        if (Red(p) >= RED_MIN && Green(p) <= OTHER_MAX && Blue(p) <= OTHER_MAX) {
            ++red;
        } else if (Red(p) <= DARK_MAX && Green(p) <= DARK_MAX && Blue(p) <= DARK_MAX) {
            ++dark;
        }
    }
    PrintLine(L"red=" + Decimal(red) + L" dark=" + Decimal(dark));
    return 0;
}

// Writes the main window (or the dialog with the given title) as the screen shows it.
int CaptureWindow(const Args& args) {
    if (args.empty() || args.size() > 2) {
        return Fail(L"capture takes a BMP path and an optional window title");
    }
    HWND window = args.size() == 2 ? WaitDialogByTitle(args[1], DEFAULT_WAIT_MS)
                                   : WaitMainWindow(DEFAULT_WAIT_MS);
    if (window == nullptr || !IsWindowVisible(window)) {
        return Fail(L"no visible window to capture");
    }
    RECT r;
    GetWindowRect(window, &r);
    const std::vector<uint32_t> pixels = ScreenPixels(r);
    if (pixels.empty() || !WriteBmp(args[0], pixels, r.right - r.left, r.bottom - r.top)) {
        return Fail(L"could not write " + args[0]);
    }
    PrintLine(Decimal(r.right - r.left) + L"x" + Decimal(r.bottom - r.top));
    return 0;
}
