// Why an effect was cut loose, in whichever process it ran.
#pragma once

#include <cstddef>
#include <cstdint>

enum class EffectFaultKind : uint8_t {
    None,
    Fault,      // a fault inside the effect that the guard caught; code: exception or signal
    Hung,       // its host process did not answer; code: the limit in ms (0: given up in-process)
    Exited,     // its host process ended; code: the exit code
    Crashed,    // its host process was ended by a fault; code: exception (Windows) or signal
    NotStarted, // its host process could not be started or did not speak the transport
    Broke       // its host process broke the transport; code: which rule (BREACH_*)
};

// The rules of the transport a host process can be caught breaking.
constexpr uint32_t BREACH_WAKE_UPS = 1; // woke its caller again with no answer
constexpr uint32_t BREACH_SIZE = 2;     // gave a size beyond what was asked for or allowed
constexpr uint32_t BREACH_EVENTS = 3;   // counted more events than its ring holds, or no kind

struct EffectFault {
    EffectFaultKind kind = EffectFaultKind::None;
    uint32_t code = 0;
};

// "did not answer within 2000 ms", "exited with code 7", "crashed with exception 0xC0000005",
// ...: what happened to the effect's host process (or inside the effect, for Fault).
void DescribeEffectFault(const EffectFault& fault, char* out, size_t size);
