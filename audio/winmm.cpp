#include "audio/winmm.h"

#include "platform/system_library.h"

namespace {

WinmmFunctions functions;
bool bound = false;
bool present = false;

template <typename Function> bool Bind(HMODULE module, const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return slot != nullptr;
}

bool BindAll() {
    HMODULE module = LoadSystemLibrary(L"winmm.dll");
    WinmmFunctions& f = functions;
    return module != nullptr && Bind(module, "waveInGetNumDevs", f.waveInGetNumDevs) &&
           Bind(module, "waveOutGetNumDevs", f.waveOutGetNumDevs) &&
           Bind(module, "waveInGetDevCapsW", f.waveInGetDevCapsW) &&
           Bind(module, "waveOutGetDevCapsW", f.waveOutGetDevCapsW) &&
           Bind(module, "waveInOpen", f.waveInOpen) && Bind(module, "waveOutOpen", f.waveOutOpen) &&
           Bind(module, "waveInClose", f.waveInClose) &&
           Bind(module, "waveOutClose", f.waveOutClose) &&
           Bind(module, "waveInPrepareHeader", f.waveInPrepareHeader) &&
           Bind(module, "waveOutPrepareHeader", f.waveOutPrepareHeader) &&
           Bind(module, "waveInUnprepareHeader", f.waveInUnprepareHeader) &&
           Bind(module, "waveOutUnprepareHeader", f.waveOutUnprepareHeader) &&
           Bind(module, "waveInAddBuffer", f.waveInAddBuffer) &&
           Bind(module, "waveOutWrite", f.waveOutWrite) &&
           Bind(module, "waveInStart", f.waveInStart) &&
           Bind(module, "waveInReset", f.waveInReset) &&
           Bind(module, "waveOutReset", f.waveOutReset) &&
           Bind(module, "waveOutGetPosition", f.waveOutGetPosition);
}

} // namespace

bool WinmmPresent() {
    if (!bound) {
        present = BindAll();
        bound = true;
    }
    return present;
}

const WinmmFunctions& Winmm() {
    WinmmPresent();
    return functions;
}
