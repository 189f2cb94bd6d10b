// One hosted effect behind the few functions the program and the renderer use, whichever
// process it runs in: this one (the process-wide host of plugin_host.h, unchanged) or a
// plug-in host process of its own (kawauso-fxhost). The caller makes the same calls in the same
// order either way, so the effect sees the same call sequence.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/effect_fault.h"
#include "plugin/fx_client.h"
#include "plugin/plugin_state.h"
#include "plugin/vst2.h"

// What an effect asked of its host outside a call the caller made, in the order it asked.
enum class EffectEventKind : uint32_t {
    SizeWindow,   // audioMasterSizeWindow: width x height pixels for its editor
    Automate,     // audioMasterAutomate: parameter index was set to value from its editor
    UpdateDisplay // audioMasterUpdateDisplay: its parameters or programs changed
};

struct EffectEvent {
    EffectEventKind kind;
    int32_t index;
    float value;
    int32_t width, height;
};

// What an effect is told when it asks its host, refreshed by the caller with every block.
struct EffectHostValues {
    double sampleRate;
    int32_t blockSize;
    int32_t processLevel; // kVstProcessLevel* as the effect asks audioMasterGetCurrentProcessLevel
};

// How the blocks have fared: in this process never late; across processes as the block lane
// tells (fx_client.h).
struct EffectBlockStats {
    uint32_t late; // blocks not answered in time, since the load
    bool ahead;    // running one block ahead now
};

// Threads: process() from one thread (the audio thread); every other call from one other thread
// (the window thread). Neither waits on the other. Across processes a wait made on a thread
// with windows keeps that thread's messages flowing, and a call made while another is still
// waiting (a message handled meanwhile) is refused at once.
struct EffectHandle {
    // Replaces whatever was loaded with the effect in path (as LoadPlugin); false when it
    // cannot be loaded or faulted while loading (fault() tells the two apart).
    bool (*load)(EffectHandle* self, const wchar_t* path, int32_t sampleRate);
    StateRestore (*restoreState)(EffectHandle* self, const std::vector<uint8_t>& state);
    bool (*captureState)(EffectHandle* self, std::vector<uint8_t>& state);
    void (*setBlockSize)(EffectHandle* self, uint32_t frames);
    // As ProcessWithPlugin (interleaved stereo floats, full scale 1): false when declined or
    // faulted, and then output is untouched. Across
    // processes also false, without waiting longer than the block lasts, when the answer is not
    // there in time; fault() then says whether the effect is gone (ended, hung) or only late.
    bool (*process)(EffectHandle* self, const float* input, float* output, uint32_t frames);
    // A dispatcher call; ptr as the opcode takes it. Across processes ptr is carried by value
    // for effGetChunk, effSetChunk and effEditGetRect (what it receives stays valid until the
    // next call); any other opcode with a ptr is not sent there and gives 0.
    VstIntPtr (*dispatch)(EffectHandle* self, int32_t opcode, int32_t index, VstIntPtr value,
                          void* ptr, float opt);
    // Opens the effect's editor as a child of parent (an HWND on Windows) and gives the size it
    // asked for (all 0 when it named none); false when it has none or cannot open one there.
    bool (*openEditor)(EffectHandle* self, void* parent, ERect* size);
    void (*closeEditor)(EffectHandle* self);
    // Every 20 ms while the editor is open: lets it redraw. A host process idles its own.
    void (*idleEditor)(EffectHandle* self);
    // The next thing the effect asked outside the caller's calls; false when there is none.
    bool (*takeEvent)(EffectHandle* self, EffectEvent* event);
    // Values the effect's questions are answered from, from the next block on.
    void (*setHostValues)(EffectHandle* self, const EffectHostValues& values);
    void (*unload)(EffectHandle* self);
    EffectFault (*fault)(EffectHandle* self);
    EffectBlockStats (*blockStats)(EffectHandle* self); // from any thread
    void (*destroy)(EffectHandle* self);                // unloads, then frees the handle

    // What a block process() leaves unanswered plays: the built-in stage when true (a host
    // process late or gone: the voice goes on until it is back), silence when false (this
    // process's host declines only a block it cannot take at all).
    bool missedBlocksPlayStage = false;
    // Window-thread calls on this handle not yet returned. A call can wait with the thread's
    // messages flowing (a host process, or an effect's own box), so a message handled then must
    // not unload, restart or free the handle under the call: its owner defers those while this
    // is not 0.
    uint32_t callsUnderWay = 0;
};

// Counts a window-thread call on a handle for as long as it is under way.
class EffectCallScope {
  public:
    explicit EffectCallScope(EffectHandle* handle) : handle_(handle) { ++handle_->callsUnderWay; }
    ~EffectCallScope() { --handle_->callsUnderWay; }
    EffectCallScope(const EffectCallScope&) = delete;
    EffectCallScope& operator=(const EffectCallScope&) = delete;

  private:
    EffectHandle* handle_;
};

// No fault, hang or end of its host so far.
inline bool EffectHealthy(EffectHandle* handle) {
    return handle->fault(handle).kind == EffectFaultKind::None;
}

inline bool EffectCallUnderWay(const EffectHandle* handle) {
    return handle != nullptr && handle->callsUnderWay != 0;
}

// An in-process host of its own behind a handle, as many at once as the caller opens. Its
// editor and what its effect asks meanwhile are answered in this process (host_callback), so
// takeEvent gives none.
EffectHandle* OpenInProcessEffect();
struct PluginHost;
// The host behind a handle OpenInProcessEffect gave; null for any other handle.
PluginHost* InProcessHostOf(EffectHandle* handle);
// Each load starts hostProgram (a kawauso-fxhost) for the effect; unload ends it.
EffectHandle* OpenHostProcessEffect(const char* hostProgram, const FxLimits& limits);

inline void CloseEffect(EffectHandle* handle) {
    if (handle != nullptr) {
        handle->destroy(handle);
    }
}
