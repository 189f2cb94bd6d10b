// kawauso-fxhost: hosts one VST 2 effect for the process that started it, so that whatever
// the effect does to its process (ends it, hangs it, breaks its heap) cannot take the caller
// down. Started as: kawauso-fxhost TRANSPORT-NAME CALLER-PROCESS-ID
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/child_process.h"
#include "platform/platform.h"
#include "platform/shared_memory.h"
#include "platform/wake_up.h"
#include "tools/kawauso-fxhost/fx_serve.h"

namespace {

constexpr int EXIT_USAGE = 2;
constexpr int EXIT_NO_TRANSPORT = 4;
constexpr size_t NAME_CHARS = 64;

bool ValidName(const char* name) {
    const size_t length = std::strlen(name);
    if (length == 0 || length >= NAME_CHARS) {
        return false;
    }
    for (const char* c = name; *c != '\0'; ++c) {
        const bool allowed = (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') || *c == '-';
        if (!allowed) {
            return false;
        }
    }
    return true;
}

int Host(const char* name, uint32_t callerId) {
    EndWithCaller(callerId);
    HardenLibrarySearch();
    SharedMemory memory;
    if (!SharedMemoryOpen(&memory, name, sizeof(FxShared))) {
        return EXIT_NO_TRANSPORT;
    }
    FxShared* shared = static_cast<FxShared*>(memory.address);
    FxWakeUps wakes;
    const struct {
        WakeUp* wake;
        const char* part;
        uint32_t* word;
    } opens[] = {{&wakes.controlToHost, "-go", &shared->control.toHost},
                 {&wakes.controlToCaller, "-done", &shared->control.toCaller},
                 {&wakes.blockToHost, "-bgo", &shared->block.toHost},
                 {&wakes.blockToCaller, "-bdone", &shared->block.toCaller}};
    bool opened = true;
    for (const auto& o : opens) {
        char wakeName[NAME_CHARS + 8];
        std::snprintf(wakeName, sizeof wakeName, "%s%s", name, o.part);
        opened = opened && WakeUpOpen(o.wake, wakeName, o.word);
    }
    const bool served = opened && ServeCalls(shared, &wakes);
    for (WakeUp* wake :
         {&wakes.controlToHost, &wakes.controlToCaller, &wakes.blockToHost, &wakes.blockToCaller}) {
        WakeUpClose(wake);
    }
    SharedMemoryClose(&memory);
    return served ? 0 : EXIT_NO_TRANSPORT;
}

} // namespace

int main(int argc, char** argv) {
    char* end = nullptr;
    const unsigned long callerId = argc == 3 ? std::strtoul(argv[2], &end, 10) : 0;
    if (argc != 3 || !ValidName(argv[1]) || end == argv[2] || *end != '\0' || callerId == 0) {
        std::fprintf(stderr, "usage: kawauso-fxhost TRANSPORT-NAME CALLER-PROCESS-ID\n"
                             "started by Kawauso04 and kawauso-render, not by hand\n");
        return EXIT_USAGE;
    }
    return Host(argv[1], static_cast<uint32_t>(callerId));
}
