// Which processor a plug-in DLL is built for, read from its PE header before anything loads
// it, and so where it can run: in this process, or in the host process of the other bitness.
#pragma once

#include <cstdint>

enum class ModuleMachine {
    I386,      // 32-bit x86
    X64,       // x86-64
    Other,     // a PE image for another processor (ARM64, ...): machine holds its code
    NotPe,     // readable, but not a PE image
    Unreadable // the file cannot be opened or read
};

ModuleMachine ReadModuleMachine(const char* pathUtf8, uint16_t* machine);

enum class EffectPlace {
    InProcess,
    OwnHost,   // kawauso-fxhost of this build's bitness
    OtherHost, // kawauso-fxhost of the other bitness
    Refused
};

// Where the effect of a module built for machine runs, when the user asked for isolation or
// not. Natively (no PE images) only the wish counts.
EffectPlace ChooseEffectPlace(ModuleMachine machine, bool isolated);

// The host program's file name beside the program, for OwnHost or OtherHost:
// "kawauso-fxhost.exe", and "kawauso-fxhost64.exe" from a 32-bit build ("kawauso-fxhost32.exe"
// from a 64-bit one); "kawauso-fxhost" natively.
const char* FxHostFileName(EffectPlace place);

// Why a module is refused, as the end of the load failure message.
const char* RefusalReason(ModuleMachine machine);
