// Output of the driver: results on stdout, reasons on stderr, both as UTF-8 lines.
#pragma once

#include <string>

// Writes one line to stdout, UTF-8 encoded, and flushes it.
void PrintLine(const std::wstring& line);

// Writes "kawauso-driver: " and the reason to stderr; returns the failure exit code.
int Fail(const std::wstring& reason);

// A number as decimal text.
std::wstring Decimal(long long value);

// A window handle as hexadecimal text.
std::wstring HandleText(const void* handle);
