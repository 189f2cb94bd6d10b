#include "plugin/effect_fault.h"

#include <cstdio>

void DescribeEffectFault(const EffectFault& fault, char* out, size_t size) {
#ifdef _WIN32
    const char* const crashCause = "exception 0x%08X";
#else
    const char* const crashCause = "signal %u";
#endif
    char cause[48];
    std::snprintf(cause, sizeof cause, crashCause, static_cast<unsigned>(fault.code));
    const unsigned code = fault.code;
    switch (fault.kind) {
    case EffectFaultKind::None:
        std::snprintf(out, size, "no fault");
        break;
    case EffectFaultKind::Fault:
        std::snprintf(out, size, "faulted (exception 0x%08X)", code);
        break;
    case EffectFaultKind::Hung:
        if (code == 0) {
            std::snprintf(out, size, "did not return"); // given up in this process
        } else {
            std::snprintf(out, size, "did not answer within %u ms", code);
        }
        break;
    case EffectFaultKind::Exited:
        std::snprintf(out, size, "exited with code %u", code);
        break;
    case EffectFaultKind::Crashed:
        std::snprintf(out, size, "crashed with %s", cause);
        break;
    case EffectFaultKind::NotStarted:
        std::snprintf(out, size, "could not be started");
        break;
    case EffectFaultKind::Broke:
        std::snprintf(out, size, "broke the transport (%s)",
                      code == BREACH_WAKE_UPS ? "it woke the caller again with no answer"
                      : code == BREACH_SIZE   ? "it gave a size beyond the limits"
                                              : "it counted events its ring cannot hold");
        break;
    }
}
