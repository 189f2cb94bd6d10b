#include "tools/kawauso-render/utf8_text.h"

#include <cstdint>

namespace {

constexpr uint32_t REPLACEMENT = 0xFFFD;
constexpr uint32_t MAX_CODE_POINT = 0x10FFFF;

void Append(std::wstring& out, uint32_t c) {
    if (sizeof(wchar_t) == 2 && c > 0xFFFF) {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<wchar_t>(c);
    }
}

} // namespace

std::wstring WideFromUtf8(const std::string& text) {
    std::wstring out;
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const uint32_t lead = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        uint32_t c = 0;
        uint32_t minimum = 0;
        if (lead < 0x80) {
            length = 1;
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            c = lead & 0x1F;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            c = lead & 0x0F;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            c = lead & 0x07;
            minimum = 0x10000;
        } else {
            Append(out, REPLACEMENT);
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k < length && i + k < n; ++k) {
            const uint32_t next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                break;
            }
            c = (c << 6) | (next & 0x3F);
        }
        if (k < length || c < minimum || c > MAX_CODE_POINT || (c >= 0xD800 && c <= 0xDFFF)) {
            Append(out, REPLACEMENT);
            i += k; // resume at the first byte that did not belong to the sequence
            continue;
        }
        Append(out, c);
        i += length;
    }
    return out;
}
