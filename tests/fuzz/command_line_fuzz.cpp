// libFuzzer target for the command-line parser. The input bytes are taken two at a time as
// UTF-16 units, as the wide-character program entry receives them, and parsed in a heap
// block of exactly their size so the sanitizers see any step outside the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "settings/command_line.h"
#include "settings/settings_store.h"

namespace {

size_t messageCount = 0;

void CountMessage() { ++messageCount; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t units = size / 2;
    std::unique_ptr<wchar_t[]> text(new wchar_t[units + 1]);
    std::unique_ptr<wchar_t[]> original(new wchar_t[units + 1]);
    for (size_t i = 0; i < units; ++i) {
        text[i] = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
        original[i] = text[i];
    }
    text[units] = L'\0';
    original[units] = L'\0';

    ResetSettingsStore();
    startInTray = false;
    messageCount = 0;
    SetCommandLineMessageHandler(CountMessage);
    ParseCommandLine(text.get());

    // Whatever the text, the slot is one of the eight.
    if (currentSlotIndex < 0 || currentSlotIndex >= SLOT_COUNT) {
        std::abort();
    }
    // The only change to the text is a space turned into the terminator, and every message
    // belongs to a token, which needs at least one character.
    size_t tokens = 1;
    for (size_t i = 0; i < units; ++i) {
        if (text[i] != original[i]) {
            if (original[i] != L' ' || text[i] != L'\0') {
                std::abort();
            }
            ++tokens;
        }
    }
    if (messageCount > tokens) {
        std::abort();
    }
    // Empty text shows nothing.
    if ((units == 0 || original[0] == L'\0') && messageCount != 0) {
        std::abort();
    }
    return 0;
}
