// The plug-in host: at most one VST 2 effect, its DLL, its four float buffers and the block
// size it was told. Process-wide state, used on the user-interface thread (and by the bridge
// on the audio thread under EngineLock); the operations here take no lock themselves.
#pragma once

#include <atomic>
#include <cstdint>

#include "plugin/vst2.h"

// Owns the loaded library; moduleHandle is null until the load succeeded.
struct ModuleHolder {
    void* moduleHandle;
};

// The most inputs, and the most outputs, an accepted effect may have.
constexpr int32_t MAX_PLUGIN_CHANNELS = 64;
// pluginBuffers holds processReplacing's inputs from index 0 and its outputs from
// PLUGIN_OUTPUTS: as many of each as the effect has, two of each without an effect.
constexpr int PLUGIN_OUTPUTS = MAX_PLUGIN_CHANNELS;
constexpr int PLUGIN_BUFFER_COUNT = 2 * MAX_PLUGIN_CHANNELS;

constexpr int32_t BLOCK_SIZE_NOT_SENT = -1; // blockSizeSent after every successful load

extern AEffect* effect;            // the loaded effect's record (the plug-in's), or null
extern ModuleHolder* pluginModule; // from before the library is loaded until the unload
extern void* editorWindow;         // the effect's editor window (an HWND on Windows), or null
extern float* pluginBuffers[PLUGIN_BUFFER_COUNT]; // null, or blockSize floats each
extern int32_t effectInputs;  // the loaded effect's inputs, read once as it was entered
extern int32_t effectOutputs; // and its outputs; 0 and 0 with nothing loaded
extern int32_t sizedInputs;   // input buffers the last sizing made (0 when none)
extern int32_t sizedOutputs;  // output buffers the last sizing made (0 when none)
extern uint32_t blockSize;    // frames the buffers were last sized for
extern int32_t blockSizeSent; // last value sent with effSetBlockSize; -1 none since load

// The code of the loaded (or loading) effect's first fault, 0 none; set on whichever thread it
// faulted, cleared by the next load. While it is set no effect is called any more, and the
// effect's library is never freed: the fault may have left it in any state.
extern std::atomic<uint32_t> effectFault;
// The code effectFault holds for an effect cut loose because its inputs or outputs are no longer
// the ones it had when it was entered: the host's buffers were made for those. Exception codes
// of errors start at 0xC0000000 and signal numbers are small, so neither can be this.
constexpr uint32_t EFFECT_CHANNELS_CHANGED = 0xFFFFFFFEu;
// True when the loaded effect's record now says other counts than effectInputs and
// effectOutputs. Records nothing: the caller does, when the fault is still its to record.
bool EffectChannelsChanged();

// Records a guarded call's result: a fault (non-zero) becomes effectFault if none was there
// and switches the stream to the built-in stage.
void RecordEffectFault(uint32_t code);

// Replaces whatever was loaded by the effect in the DLL at path: loads it, enters it through
// "VSTPluginMain" (or else "main") with HostCallback, accepts it only with 1 to 64 inputs, 1 to
// 64 outputs and a processReplacing, keeps those counts (effectInputs, effectOutputs), then
// sends effOpen and effSetSampleRate (sampleRate). False, with nothing loaded, when any step
// fails; an effect whose counts changed meanwhile faulted (EFFECT_CHANNELS_CHANGED).
bool LoadPlugin(const wchar_t* path, int32_t sampleRate);

// Suspends the effect, closes its editor window, sends effClose, frees the library and the
// float buffers. Safe with nothing loaded; blockSize and blockSizeSent keep their values.
void UnloadPlugin();

// Sizes the float buffers (one per input and output the effect had when it was entered, two
// and two without one) for frames per block and, with an effect loaded, suspends it, tells it
// the block size and resumes it (a change of counts is the bridge's to find). When an
// allocation fails no buffer is kept, so the bridge declines every block until the next
// successful sizing.
void SetPluginBlockSize(uint32_t frames);

// How SetPluginBlockSize obtains each float buffer: new (std::nothrow) float[count] unless a
// test puts in one that fails on purpose (it must allocate with new[] as well); null puts
// the ordinary one back. Never used on the audio path.
using PluginBufferAllocator = float* (*)(uint32_t count);
void SetPluginBufferAllocator(PluginBufferAllocator allocator);

// Closes the effect's editor window synchronously (its close handling sends effEditClose).
// Win32: sends WM_CLOSE to the window, its lParam EDITOR_CLOSED_BY_UNLOAD. Elsewhere there is
// no editor window and it does nothing.
void CloseEditorWindow(void* window);
// The unload's own close: part of the unload's call on the effect, so not one to put off
// until that call has returned.
constexpr long EDITOR_CLOSED_BY_UNLOAD = 1;

// Gives the editor window a client area of width x height pixels; false when there is no
// window (elsewhere than on Windows, never) or the size is not positive.
bool ResizeEditorWindow(void* window, int32_t width, int32_t height);

// The stream position of the block being processed, in frames since the effect was last
// resumed: what the effect is told when it asks for the time.
extern std::atomic<int64_t> blockSamplePosition;
