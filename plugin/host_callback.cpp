#include "plugin/host_callback.h"

#include <atomic>
#include <cmath>
#include <cstring>

#include "platform/platform.h"
#include "plugin/effect_dispatch.h"
#include "plugin/plugin_host.h"
#include "version.h"

namespace {

// Set while this thread answers a question by calling the asker: an effect that asks the
// same question again from inside that answer would otherwise recurse until its stack ends.
thread_local bool answeringSampleRate = false;
thread_local bool answeringBlockSize = false;

struct ForeignAnswer {
    AEffect* asker;
    int32_t opcode;
    VstIntPtr value;
    float opt;
};

void RunForeignAnswer(void* context) {
    const ForeignAnswer& a = *static_cast<const ForeignAnswer*>(context);
    a.asker->dispatcher(a.asker, a.opcode, 0, a.value, nullptr, a.opt);
}

// The answer goes to the asker's own dispatcher; a fault in it is its host's, and one in a
// record no host knows is caught and goes no further (there is no effect of ours to cut loose).
void AnswerOnce(bool& answering, PluginHost* host, AEffect* asker, int32_t opcode, VstIntPtr value,
                float opt) {
    if (answering) {
        return;
    }
    answering = true;
    if (host != nullptr) {
        CallDispatcher(*host, asker, opcode, value, nullptr, opt);
    } else if (asker != nullptr && asker->dispatcher != nullptr) {
        ForeignAnswer answer = {asker, opcode, value, opt};
        GuardedCall(RunForeignAnswer, &answer);
    }
    answering = false;
}

// The registered hosts and their effects' records, each slot's pair written by its host.
struct HostSlot {
    std::atomic<PluginHost*> host{nullptr};
    std::atomic<AEffect*> effect{nullptr};
};
HostSlot hostSlots[MAX_PLUGIN_HOSTS];
thread_local PluginHost* callingHost = nullptr;

// The host of the effect that asks: the one whose record it is, else the one calling into an
// effect on this thread; null when neither (the answers then are those of a host without an
// effect).
PluginHost* HostOf(AEffect* asker) {
    for (HostSlot& slot : hostSlots) {
        if (asker != nullptr && slot.effect.load() == asker) {
            return slot.host.load();
        }
    }
    return callingHost;
}

const FxHostValues* hostValues = nullptr;
bool (*tellCaller)(const FxEvent& event) = nullptr;

float SampleRateToTell() {
    const uint32_t bits = hostValues != nullptr ? hostValues->sampleRateBits.load() : 0u;
    float rate = hostSampleRate;
    if (bits != 0) {
        std::memcpy(&rate, &bits, sizeof rate);
    }
    return rate;
}

int32_t BlockSizeToTell(const PluginHost* host) {
    const int32_t size = hostValues != nullptr ? hostValues->blockSize.load() : 0;
    return size > 0 ? size : (host != nullptr ? host->blockSizeSent : 0);
}

VstIntPtr ProcessLevelToTell() {
    const int32_t level = hostValues != nullptr ? hostValues->processLevel.load() : 0;
    return level != 0 ? level : PROCESS_LEVEL_REALTIME;
}

// Automation and display updates are accepted whether or not the caller hears of them.
VstIntPtr Tell(FxEventKind kind, int32_t index, float value) {
    if (tellCaller != nullptr) {
        tellCaller(FxEvent{kind, index, value, 0, 0});
    }
    return 1;
}

VstIntPtr AnswerSizeWindow(const PluginHost* host, int32_t width, int32_t height) {
    if (tellCaller == nullptr) {
        return host != nullptr && ResizeEditorWindow(host->editorWindow, width, height) ? 1 : 0;
    }
    return width > 0 && height > 0 &&
                   tellCaller(FxEvent{FxEventKind::SizeWindow, 0, 0.0f, width, height})
               ? 1
               : 0;
}

constexpr char HOST_NAME[] = "Kawauso04"; // vendor and product alike
constexpr double HOST_TEMPO = 120.0;
constexpr int32_t BEATS_PER_BAR = 4;
constexpr double NANOSECONDS_PER_MS = 1e6;

// What the host can do, as the names effects ask about: 1 yes, -1 no; others are unknown, 0.
struct CanDo {
    const char* name;
    VstIntPtr answer;
};
constexpr CanDo CAN_DO[] = {
    {"sendVstTimeInfo", 1},   {"sizeWindow", 1},         {"sendVstEvents", -1},
    {"sendVstMidiEvent", -1}, {"receiveVstEvents", -1},  {"receiveVstMidiEvent", -1},
    {"openFileSelector", -1}, {"closeFileSelector", -1}, {"offline", -1}};

VstIntPtr AnswerCanDo(const char* name) {
    if (name == nullptr) {
        return 0;
    }
    for (const CanDo& entry : CAN_DO) {
        if (std::strncmp(name, entry.name, HOST_STRING_CHARS) == 0) {
            return entry.answer;
        }
    }
    return 0;
}

VstIntPtr CopyHostName(void* to) {
    if (to == nullptr) {
        return 0;
    }
    std::memcpy(to, HOST_NAME, sizeof HOST_NAME); // well within the effect's 64 chars
    return 1;
}

// A playing transport at a steady tempo, at the block's stream position. One record per
// thread: the pointer stays valid for the asker until it asks again.
VstIntPtr AnswerTime(const PluginHost* host) {
    thread_local VstTimeInfo time;
    time = VstTimeInfo{};
    time.samplePos = host != nullptr ? static_cast<double>(host->samplePosition.load()) : 0.0;
    time.sampleRate = SampleRateToTell();
    time.nanoSeconds = static_cast<double>(TickCount()) * NANOSECONDS_PER_MS;
    time.tempo = HOST_TEMPO;
    time.ppqPos = time.samplePos / time.sampleRate * HOST_TEMPO / 60.0;
    time.barStartPos = std::floor(time.ppqPos / BEATS_PER_BAR) * BEATS_PER_BAR;
    time.timeSigNumerator = BEATS_PER_BAR;
    time.timeSigDenominator = 4;
    time.flags = TIME_TRANSPORT_PLAYING | TIME_NANOS_VALID | TIME_PPQ_POS_VALID | TIME_TEMPO_VALID |
                 TIME_BARS_VALID | TIME_SIGNATURE_VALID;
    return reinterpret_cast<VstIntPtr>(&time);
}

} // namespace

void RegisterPluginHost(PluginHost* host) {
    for (HostSlot& slot : hostSlots) {
        PluginHost* none = nullptr;
        if (slot.host.compare_exchange_strong(none, host)) {
            return;
        }
    }
}

void UnregisterPluginHost(PluginHost* host) {
    for (HostSlot& slot : hostSlots) {
        if (slot.host.load() == host) {
            slot.effect.store(nullptr);
            slot.host.store(nullptr);
        }
    }
}

void NameHostEffect(PluginHost* host, AEffect* effect) {
    for (HostSlot& slot : hostSlots) {
        if (slot.host.load() == host) {
            slot.effect.store(effect);
        }
    }
}

HostCallScope::HostCallScope(PluginHost& host) : previous_(callingHost) {
    callingHost = &host;
}

HostCallScope::~HostCallScope() {
    callingHost = previous_;
}

void AnswerHostQuestionsFrom(const FxHostValues* values, bool (*tell)(const FxEvent& event)) {
    hostValues = values;
    tellCaller = tell;
}

// The asking record is named asker: its host's loaded one may differ from it, or not be set
// yet while the entry point runs, and the answer goes to the one that asked.
VstIntPtr VST_CALL HostCallback(AEffect* asker, int32_t opcode, int32_t index, VstIntPtr value,
                                void* ptr, float opt) {
    PluginHost* const host = HostOf(asker);
    switch (opcode) {
    case audioMasterAutomate:
        return Tell(FxEventKind::Automate, index, opt);
    case audioMasterUpdateDisplay:
        return Tell(FxEventKind::UpdateDisplay, 0, 0.0f);
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
        return 1;
    case audioMasterGetTime:
        return AnswerTime(host);
    case audioMasterSizeWindow:
        return AnswerSizeWindow(host, index, static_cast<int32_t>(value));
    case audioMasterGetVendorString:
    case audioMasterGetProductString:
        return CopyHostName(ptr);
    case audioMasterGetVendorVersion:
        return KAWAUSO_VERSION_NUMBER;
    case audioMasterCanDo:
        return AnswerCanDo(static_cast<const char*>(ptr));
    case audioMasterGetLanguage:
        return LANGUAGE_JAPANESE;
    case audioMasterVersion:
        return INTERFACE_VERSION;
    case audioMasterGetSampleRate:
        AnswerOnce(answeringSampleRate, host, asker, effSetSampleRate, 0, SampleRateToTell());
        return 0;
    case audioMasterGetBlockSize: {
        const int32_t sent = BlockSizeToTell(host);
        if (sent > 0) {
            AnswerOnce(answeringBlockSize, host, asker, effSetBlockSize, sent, 0.0f);
        }
        return 0;
    }
    case audioMasterGetCurrentProcessLevel:
        return ProcessLevelToTell();
    default:
        return 0;
    }
}
