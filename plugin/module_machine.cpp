#include "plugin/module_machine.h"

#include <cstdio>

#include "platform/little_endian.h"
#include "platform/platform.h"

namespace {

constexpr uint16_t MACHINE_I386 = 0x014C;
constexpr uint16_t MACHINE_AMD64 = 0x8664;
constexpr long PE_OFFSET_AT = 0x3C;
constexpr uint32_t MAX_PE_OFFSET = 1u << 20; // beyond any real DOS stub

bool ReadAt(std::FILE* file, long at, uint8_t* into, size_t bytes) {
    return std::fseek(file, at, SEEK_SET) == 0 && std::fread(into, 1, bytes, file) == bytes;
}

} // namespace

ModuleMachine ReadModuleMachine(const char* pathUtf8, uint16_t* machine) {
    *machine = 0;
    std::FILE* file = FileOpenUtf8(pathUtf8, "rb");
    if (file == nullptr) {
        return ModuleMachine::Unreadable;
    }
    uint8_t mz[2] = {}, offset[4] = {}, header[6] = {};
    bool pe = ReadAt(file, 0, mz, sizeof mz) && mz[0] == 'M' && mz[1] == 'Z' &&
              ReadAt(file, PE_OFFSET_AT, offset, sizeof offset) && Get32(offset) <= MAX_PE_OFFSET &&
              ReadAt(file, static_cast<long>(Get32(offset)), header, sizeof header) &&
              header[0] == 'P' && header[1] == 'E' && header[2] == 0 && header[3] == 0;
    std::fclose(file);
    if (!pe) {
        return ModuleMachine::NotPe;
    }
    *machine = static_cast<uint16_t>(header[4] | (header[5] << 8));
    return *machine == MACHINE_I386    ? ModuleMachine::I386
           : *machine == MACHINE_AMD64 ? ModuleMachine::X64
                                       : ModuleMachine::Other;
}

EffectPlace ChooseEffectPlace(ModuleMachine machine, bool isolated) {
#ifdef _WIN32
    const ModuleMachine own = sizeof(void*) == 8 ? ModuleMachine::X64 : ModuleMachine::I386;
    if (machine == ModuleMachine::Other || machine == ModuleMachine::NotPe) {
        return EffectPlace::Refused;
    }
    if (machine == ModuleMachine::I386 || machine == ModuleMachine::X64) {
        if (machine != own) {
            return EffectPlace::OtherHost;
        }
    }
#else
    (void)machine;
#endif
    return isolated ? EffectPlace::OwnHost : EffectPlace::InProcess;
}

const char* FxHostFileName(EffectPlace place) {
#ifdef _WIN32
    if (place == EffectPlace::OtherHost) {
        return sizeof(void*) == 8 ? "kawauso-fxhost32.exe" : "kawauso-fxhost64.exe";
    }
    return "kawauso-fxhost.exe";
#else
    (void)place;
    return "kawauso-fxhost";
#endif
}

const char* RefusalReason(ModuleMachine machine) {
    return machine == ModuleMachine::Other   ? "it is built for a processor other than x86 and x64"
           : machine == ModuleMachine::NotPe ? "it is not a Windows DLL (no PE header)"
                                             : "the file cannot be read";
}
