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

// Indexes into pluginBuffers: the first two are processReplacing's inputs, the last two its
// outputs.
constexpr int PLUGIN_IN_L = 0;
constexpr int PLUGIN_IN_R = 1;
constexpr int PLUGIN_OUT_L = 2;
constexpr int PLUGIN_OUT_R = 3;
constexpr int PLUGIN_BUFFER_COUNT = 4;

constexpr int32_t BLOCK_SIZE_NOT_SENT = -1;  // blockSizeSent after every successful load

extern AEffect* effect;            // the loaded effect's record (the plug-in's), or null
extern ModuleHolder* pluginModule; // from before the library is loaded until the unload
extern void* editorWindow;         // the effect's editor window (an HWND on Windows), or null
extern float* pluginBuffers[PLUGIN_BUFFER_COUNT];  // null, or blockSize floats each
extern uint32_t blockSize;         // frames the buffers were last sized for
extern int32_t blockSizeSent;      // last value sent with effSetBlockSize; -1 none since load

// The code of the loaded (or loading) effect's first fault, 0 none; set on whichever thread it
// faulted, cleared by the next load. While it is set no effect is called any more, and the
// effect's library is never freed: the fault may have left it in any state.
extern std::atomic<uint32_t> effectFault;
// Records a guarded call's result: a fault (non-zero) becomes effectFault if none was there
// and switches the stream to the built-in stage.
void RecordEffectFault(uint32_t code);

// Replaces whatever was loaded by the effect in the DLL at path: loads it, enters it through
// "VSTPluginMain" (or else "main") with HostCallback, accepts it only with 2 inputs, 2
// outputs and a processReplacing, then sends effOpen and effSetSampleRate (sampleRate). False,
// with nothing loaded, when any step fails.
bool LoadPlugin(const wchar_t* path, int32_t sampleRate);

// Suspends the effect, closes its editor window, sends effClose, frees the library and the
// float buffers. Safe with nothing loaded; blockSize and blockSizeSent keep their values.
void UnloadPlugin();

// Sizes the four float buffers for frames per block and, with an effect loaded, suspends it,
// tells it the block size and resumes it. When an allocation fails no buffer is kept, so the
// bridge declines every block until the next successful sizing.
void SetPluginBlockSize(uint32_t frames);

// How SetPluginBlockSize obtains each float buffer: new (std::nothrow) float[count] unless a
// test puts in one that fails on purpose (it must allocate with new[] as well); null puts
// the ordinary one back. Never used on the audio path.
using PluginBufferAllocator = float* (*)(uint32_t count);
void SetPluginBufferAllocator(PluginBufferAllocator allocator);

// Closes the effect's editor window synchronously (its close handling sends effEditClose).
// Win32: sends WM_CLOSE to the window. Elsewhere there is no editor window and it does nothing.
void CloseEditorWindow(void* window);
