// The in-process plug-in host: one VST 2 effect, its DLL, its float buffers and the block size
// it was told, held by one PluginHost each; as many of them at once as the caller makes. Used
// on the user-interface thread (and by the bridge on the audio thread, the call marked with the
// call watch); the operations here take no lock themselves.
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
// A host's buffers hold processReplacing's inputs from index 0 and its outputs from
// PLUGIN_OUTPUTS: as many of each as the effect has, two of each without an effect.
constexpr int PLUGIN_OUTPUTS = MAX_PLUGIN_CHANNELS;
constexpr int PLUGIN_BUFFER_COUNT = 2 * MAX_PLUGIN_CHANNELS;

constexpr int32_t BLOCK_SIZE_NOT_SENT = -1; // blockSizeSent after every successful load

struct PluginHost {
    PluginHost();  // registered with the host callback (host_callback.h) while it lives
    ~PluginHost(); // unloads first
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    AEffect* effect = nullptr;                // the loaded effect's record (the plug-in's), or null
    ModuleHolder* module = nullptr;           // from before the library is loaded until the unload
    void* editorWindow = nullptr;             // the window its editor is open in (an HWND), or null
    float* buffers[PLUGIN_BUFFER_COUNT] = {}; // null, or blockSize floats each
    int32_t inputs = 0;        // the loaded effect's inputs, read once as it was entered
    int32_t outputs = 0;       // and its outputs; 0 and 0 with nothing loaded
    int32_t sizedInputs = 0;   // input buffers the last sizing made (0 when none)
    int32_t sizedOutputs = 0;  // output buffers the last sizing made (0 when none)
    uint32_t blockSize = 0;    // frames the buffers were last sized for
    int32_t blockSizeSent = 0; // last value sent with effSetBlockSize; -1 none since load
    // The code of the loaded (or loading) effect's first fault, 0 none; set on whichever thread
    // it faulted, cleared by the next load. While it is set the effect is not called any more,
    // and its library is never freed: the fault may have left it in any state.
    std::atomic<uint32_t> fault{0};

    // The stream position of the block being processed, in frames since the effect was last
    // resumed: what the effect is told when it asks for the time.
    std::atomic<int64_t> samplePosition{0};
};

// The code a host's fault holds for an effect cut loose because its inputs or outputs are no
// longer the ones it had when it was entered: the host's buffers were made for those. Exception
// codes of errors start at 0xC0000000 and signal numbers are small, so neither can be this.
constexpr uint32_t EFFECT_CHANNELS_CHANGED = 0xFFFFFFFEu;
// True when the loaded effect's record now says other counts than inputs and outputs. Records
// nothing: the caller does, when the fault is still its to record.
bool EffectChannelsChanged(const PluginHost& host);

// Records a guarded call's result: a fault (non-zero) becomes the host's fault if none was
// there and switches the stream to the built-in stage.
void RecordEffectFault(PluginHost& host, uint32_t code);

// Replaces whatever host had loaded by the effect in the DLL at path: loads it, enters it
// through "VSTPluginMain" (or else "main") with HostCallback, accepts it only with 1 to 64
// inputs, 1 to 64 outputs and a processReplacing, keeps those counts (inputs, outputs), then
// sends effOpen and effSetSampleRate (sampleRate). False, with nothing loaded, when any step
// fails; an effect whose counts changed meanwhile faulted (EFFECT_CHANNELS_CHANGED).
bool LoadPlugin(PluginHost& host, const wchar_t* path, int32_t sampleRate);

// Suspends the effect, closes its editor window, sends effClose, frees the library and the
// float buffers. Safe with nothing loaded; blockSize and blockSizeSent keep their values.
void UnloadPlugin(PluginHost& host);

// Sizes the float buffers (one per input and output the effect had when it was entered, two
// and two without one) for frames per block and, with an effect loaded, suspends it, tells it
// the block size and resumes it (a change of counts is the bridge's to find). When an
// allocation fails no buffer is kept, so the bridge declines every block until the next
// successful sizing.
void SetPluginBlockSize(PluginHost& host, uint32_t frames);

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
