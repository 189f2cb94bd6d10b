#include "plugin/host_callback.h"

#include "plugin/effect_dispatch.h"
#include "plugin/plugin_host.h"

namespace {

// Set while this thread answers a question by calling the asker: an effect that asks the
// same question again from inside that answer would otherwise recurse until its stack ends.
thread_local bool answeringSampleRate = false;
thread_local bool answeringBlockSize = false;

void AnswerOnce(bool& answering, AEffect* asker, int32_t opcode, VstIntPtr value, float opt) {
    if (!answering) {
        answering = true;
        CallDispatcher(asker, opcode, value, nullptr, opt);
        answering = false;
    }
}

}  // namespace

// The asking record is named asker: the loaded one (effect) may differ from it, or not be
// set yet while the entry point runs, and the answer goes to the one that asked.
VstIntPtr VST_CALL HostCallback(AEffect* asker, int32_t opcode, int32_t /*index*/,
                                VstIntPtr /*value*/, void* /*ptr*/, float /*opt*/) {
    switch (opcode) {
    case audioMasterVersion:
        return INTERFACE_VERSION;
    case audioMasterGetSampleRate:
        AnswerOnce(answeringSampleRate, asker, effSetSampleRate, 0, hostSampleRate);
        return 0;
    case audioMasterGetBlockSize: {
        const int32_t sent = blockSizeSent;
        if (sent > 0) {
            AnswerOnce(answeringBlockSize, asker, effSetBlockSize, sent, 0.0f);
        }
        return 0;
    }
    case audioMasterGetCurrentProcessLevel:
        return PROCESS_LEVEL_REALTIME;
    default:
        return 0;
    }
}
