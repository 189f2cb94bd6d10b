// A wake-up from one process to another: one side signals, the other waits for it with a
// limit. Auto-reset: a signal wakes one wait, and a signal given before the wait is not lost.
// Windows: a named event; POSIX: a futex on a word in memory both processes share.
#pragma once

#include <cstdint>

#include "platform/child_process.h"

struct WakeUp {
    intptr_t handle = 0;      // Windows: the event
    uint32_t* word = nullptr; // POSIX: the shared word
};

// name: letters, digits and '-'; word: 4 aligned bytes of shared memory, zero before Create.
// Each side uses only what its platform needs of the two.
bool WakeUpCreate(WakeUp* wake, const char* name, uint32_t* word);
bool WakeUpOpen(WakeUp* wake, const char* name, uint32_t* word);
void WakeUpSignal(WakeUp* wake);
// True when signalled within ms.
bool WakeUpWait(WakeUp* wake, uint32_t ms);

enum class WakeUpEnd { Signalled, TimedOut, ProcessEnded };
// Waits up to ms for the wake-up, ending at once when watched (may be null) ends. With pump,
// the waiting thread keeps handling its window messages meanwhile (Windows: another process
// creating a window as a child of one of this thread's sends it messages and waits for them);
// elsewhere a plain wait, which looks at watched between short slices.
WakeUpEnd WakeUpWaitFor(WakeUp* wake, const ChildProcess* watched, uint32_t ms, bool pump);
void WakeUpClose(WakeUp* wake);
