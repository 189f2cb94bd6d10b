// libFuzzer target for the command-line parser: the bytes, two at a time, are the UTF-16
// units that the wide program entry receives, parsed in a heap block of exactly their size.
#include <cstdlib>
#include <memory>

#include "settings/command_line.h"
#include "settings/settings_store.h"

static size_t messages = 0;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t units = size / 2;
    std::unique_ptr<wchar_t[]> text(new wchar_t[units + 1]), original(new wchar_t[units + 1]);
    for (size_t i = 0; i < units; ++i) {
        text[i] = original[i] = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    text[units] = original[units] = L'\0';
    ResetSettingsStore(), startInTray = false, messages = 0;
    SetCommandLineMessageHandler([] { ++messages; });
    ParseCommandLine(text.get());
    // The slot is one of the eight; the only change to the text is a space turned into the
    // terminator; every message belongs to a token; empty text shows nothing.
    size_t tokens = 1, wrong = 0;
    for (size_t i = 0; i < units; ++i) {
        tokens += text[i] != original[i];
        wrong += text[i] != original[i] && (original[i] != L' ' || text[i] != L'\0');
    }
    if (wrong > 0 || currentSlotIndex < 0 || currentSlotIndex >= SLOT_COUNT || messages > tokens ||
        (original[0] == L'\0' && messages != 0)) {
        std::abort();
    }
    return 0;
}
