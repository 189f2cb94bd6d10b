// Where the settings file lives: KaWUmi.ini beside the executable.
#pragma once

#include <cstddef>

// Replaces the file name of modulePath with KaWUmi.ini: everything up to and including the
// last "\" or "/" stays (or the drive, as in "C:app.exe", when there is no separator), so a
// network path keeps its server and share. Writes the result into out (outUnits units, the
// terminator included) and returns true; when the result would not fit, out becomes empty
// and the result is false.
bool IniPathFromModulePath(const wchar_t* modulePath, wchar_t* out, size_t outUnits);
