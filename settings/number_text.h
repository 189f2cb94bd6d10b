// Decimal numbers as the settings file and the command line carry them. Both directions are
// written out here so every build reads and writes exactly the same text, whatever the
// width of long or the C library's idea of white space and digits.
#pragma once

#include <cstdint>

// Room for any 32-bit value: "-2147483648" and the terminator.
constexpr int32_t DECIMAL_TEXT_UNITS = 12;

// Reads a number as wcstol does in base 10: leading white space (space, tab, line feed,
// vertical tab, form feed, carriage return) is skipped, one optional sign is taken, then
// ASCII digits up to the first other character. No digits give 0; a value beyond the 32-bit
// range gives the nearest 32-bit limit. Null text gives 0.
int32_t ParseDecimal(const wchar_t* text);

// Writes value in base 10: a leading "-" when negative, no "+", no leading zeros.
void FormatDecimal(int32_t value, wchar_t (&text)[DECIMAL_TEXT_UNITS]);
