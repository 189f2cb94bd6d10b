// The host function handed to the plug-in's entry point: the effect's questions to the host.
#pragma once

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

// In a host process: the sample rate, block size and process level the effect is told come
// from values (a field at 0: as above), and its editor's size requests, automation and display
// updates go to tell as well as being accepted (a size request is refused, 0, when tell
// refuses it). Null and null: as in the program's own process.
void AnswerHostQuestionsFrom(const FxHostValues* values, bool (*tell)(const FxEvent& event));
