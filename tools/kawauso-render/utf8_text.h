// UTF-8 text (the renderer's arguments and file names) to the platform's wide text
// (UTF-16 on Windows, UTF-32 elsewhere), as plug-in paths are given to the host.
#pragma once

#include <string>

// Malformed sequences (stray continuation bytes, overlong forms, surrogates, values above
// U+10FFFF, truncated sequences) each become U+FFFD; nothing is dropped silently.
std::wstring WideFromUtf8(const std::string& text);
