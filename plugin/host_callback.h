// The host function handed to the plug-in's entry point: the effect's questions to the host.
#pragma once

#include <cstddef>

#include "plugin/fx_transport.h"
#include "plugin/vst2.h"

constexpr float hostSampleRate = 44100.0f; // the one stream rate, told to any effect that asks

// Answers audioMasterVersion (INTERFACE_VERSION) and audioMasterGetCurrentProcessLevel
// (PROCESS_LEVEL_REALTIME, whichever thread asks). The sample rate and block size questions
// are answered by calling the asking effect's own dispatcher (effSetSampleRate with
// hostSampleRate; effSetBlockSize with blockSizeSent, only when that is above 0) and return
// 0; the same question asked again from inside that answer, on the same thread, returns 0
// and sends nothing. Besides, what common hosts answer: the time (a playing transport at 120
// beats per minute in 4/4, at the block's position), the editor's size (1 when resized), the
// vendor and product ("Kawauso04"), the version, what the host can do, the language
// (Japanese); automation, edits and display updates are accepted (1); a change of channels is
// refused (0), as is every other opcode. Takes no lock, so it may be entered on any thread
// and re-entered from the calls it makes.
VstIntPtr VST_CALL HostCallback(AEffect* effect, int32_t opcode, int32_t index, VstIntPtr value,
                                void* ptr, float opt);

struct PluginHost;
// The hosts whose effects the callback answers: each PluginHost registers itself while it lives
// (at most MAX_PLUGIN_HOSTS at once; one beyond is answered as a host without an effect would
// be) and names its effect's record once entered, so that a question is answered from the host
// of the effect that asks, on whichever thread it asks.
constexpr size_t MAX_PLUGIN_HOSTS = 64;
void RegisterPluginHost(PluginHost* host);
void UnregisterPluginHost(PluginHost* host);
void NameHostEffect(PluginHost* host, AEffect* effect);

// While a host calls into its effect on this thread (its entry point, its dispatcher, a block),
// a question from a record no host knows (the effect's own, not yet returned from its entry
// point, or another record of its making) is answered from that host.
class HostCallScope {
  public:
    explicit HostCallScope(PluginHost& host);
    ~HostCallScope();
    HostCallScope(const HostCallScope&) = delete;
    HostCallScope& operator=(const HostCallScope&) = delete;

  private:
    PluginHost* previous_;
};

// In a host process: the sample rate, block size and process level the effect is told come
// from values (a field at 0: as above), and its editor's size requests, automation and display
// updates go to tell as well as being accepted (a size request is refused, 0, when tell
// refuses it). Null and null: as in the program's own process.
void AnswerHostQuestionsFrom(const FxHostValues* values, bool (*tell)(const FxEvent& event));
