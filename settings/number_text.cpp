#include "settings/number_text.h"

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// The magnitude of INT32_MIN; anything at or beyond it saturates.
constexpr uint32_t MAGNITUDE_LIMIT = 2147483648u;

} // namespace

int32_t ParseDecimal(const wchar_t* text) {
    if (text == nullptr) {
        return 0;
    }
    const wchar_t* p = text;
    while (IsBlank(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == L'-' || *p == L'+') {
        negative = (*p == L'-');
        ++p;
    }
    uint32_t magnitude = 0;
    for (; IsDigit(*p); ++p) {
        uint32_t digit = static_cast<uint32_t>(*p - L'0');
        if (magnitude > (MAGNITUDE_LIMIT - digit) / 10u) {
            magnitude = MAGNITUDE_LIMIT; // saturated; the remaining digits change nothing
        } else {
            magnitude = magnitude * 10u + digit;
        }
    }
    if (negative) {
        if (magnitude >= MAGNITUDE_LIMIT) {
            return INT32_MIN;
        }
        return -static_cast<int32_t>(magnitude);
    }
    if (magnitude >= MAGNITUDE_LIMIT) {
        return INT32_MAX;
    }
    return static_cast<int32_t>(magnitude);
}

void FormatDecimal(int32_t value, wchar_t (&text)[DECIMAL_TEXT_UNITS]) {
    // Work on the magnitude as unsigned so INT32_MIN needs no special case.
    uint32_t magnitude =
        value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    wchar_t reversed[DECIMAL_TEXT_UNITS];
    int32_t count = 0;
    do {
        reversed[count++] = static_cast<wchar_t>(L'0' + magnitude % 10u);
        magnitude /= 10u;
    } while (magnitude != 0);
    int32_t out = 0;
    if (value < 0) {
        text[out++] = L'-';
    }
    while (count > 0) {
        text[out++] = reversed[--count];
    }
    text[out] = L'\0';
}
