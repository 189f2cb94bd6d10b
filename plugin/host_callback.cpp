#include "plugin/host_callback.h"

#include "plugin/effect_dispatch.h"
#include "plugin/plugin_host.h"

// The asking record is named asker: the loaded one (effect) may differ from it, or not be
// set yet while the entry point runs, and the answer goes to the one that asked.
VstIntPtr VST_CALL HostCallback(AEffect* asker, int32_t opcode, int32_t /*index*/,
                                VstIntPtr /*value*/, void* /*ptr*/, float /*opt*/) {
    switch (opcode) {
    case audioMasterVersion:
        return INTERFACE_VERSION;
    case audioMasterGetSampleRate:
        CallDispatcher(asker, effSetSampleRate, 0, nullptr, hostSampleRate);
        return 0;
    case audioMasterGetBlockSize: {
        const int32_t sent = blockSizeSent;
        if (sent > 0) {
            CallDispatcher(asker, effSetBlockSize, sent, nullptr, 0.0f);
        }
        return 0;
    }
    case audioMasterGetCurrentProcessLevel:
        return PROCESS_LEVEL_REALTIME;
    default:
        return 0;
    }
}
