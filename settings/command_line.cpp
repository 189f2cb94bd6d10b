#include "settings/command_line.h"

#include <cstdint>

#include "settings/number_text.h"
#include "settings/settings_store.h"

bool startInTray = false;

namespace {

void TellNobody() {}

CommandLineMessageFn messageHandler = TellNobody;

void ShowMessage() {
    messageHandler();
}

bool IsIntroducer(wchar_t c) {
    return c == L'-' || c == L'/';
}

} // namespace

void SetCommandLineMessageHandler(CommandLineMessageFn handler) {
    messageHandler = handler != nullptr ? handler : TellNobody;
}

void ParseCommandLine(wchar_t* text) {
    if (text == nullptr) {
        return;
    }
    wchar_t* token = text;
    for (;;) {
        if (token[0] == L'\0') {
            return;
        }
        if (!IsIntroducer(token[0])) {
            ShowMessage();
            return;
        }
        wchar_t letter = token[1];
        if (letter == L'\0') {
            ShowMessage();
            return;
        }
        // Only a space after the letter ends the token; tabs and the like belong to it.
        wchar_t* next = nullptr;
        wchar_t* end = token + 2;
        while (*end != L'\0' && *end != L' ') {
            ++end;
        }
        if (*end == L' ') {
            *end = L'\0';
            next = end + 1;
        }
        if (letter == L'p' || letter == L'P') {
            currentSlotIndex = ParseDecimal(token + 2);
            if (currentSlotIndex < 0 || currentSlotIndex >= SLOT_COUNT) {
                currentSlotIndex = 0;
                ShowMessage();
            }
        } else if (letter == L't' || letter == L'T') {
            startInTray = true;
        } else {
            ShowMessage();
            return;
        }
        if (next == nullptr) {
            return;
        }
        token = next;
    }
}
