// Whole files as bytes, for the settings file and the files kept beside it. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

// True when all bytes went to the open file.
bool WriteAllBytes(HANDLE file, const void* data, size_t bytes);

// The whole file at path, when it is at most maxBytes long. False (bytes unspecified) when it
// cannot be opened or read, or is longer.
bool ReadFileBytes(const wchar_t* path, uint64_t maxBytes, std::vector<char>& bytes);
