#include "tests/e2e/driver_output.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>

namespace {

constexpr int EXIT_FAILED = 1;

void WriteUtf8(FILE* stream, const std::wstring& text) {
    if (!text.empty()) {
        const int length = static_cast<int>(text.size());
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<size_t>(bytes), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &utf8[0], bytes, nullptr, nullptr);
        std::fwrite(utf8.data(), 1, utf8.size(), stream);
    }
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

void PrintLine(const std::wstring& line) {
    WriteUtf8(stdout, line);
}

int Fail(const std::wstring& reason) {
    WriteUtf8(stderr, L"kawauso-driver: " + reason);
    return EXIT_FAILED;
}

std::wstring Decimal(long long value) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%lld", value);
    return text;
}

std::wstring HandleText(const void* handle) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
    return text;
}
