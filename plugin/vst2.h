// The VST 2 effect interface as this program uses it, declared here rather than taken from a
// vendor header. Only dispatcher, numInputs, numOutputs, flags and processReplacing are used;
// every other field is declared only so that the used ones sit where a real plug-in puts
// them, in the 32-bit and the 64-bit build alike.
#pragma once

#include <cstddef>
#include <cstdint>

// The platform's C calling convention: __cdecl on 32-bit Windows (where the compiler's default
// could be changed by a switch), the only convention elsewhere.
#if defined(_WIN32) && !defined(_WIN64)
#define VST_CALL __cdecl
#else
#define VST_CALL
#endif

using VstIntPtr = intptr_t; // pointer-sized value and result of dispatcher and host callback

struct AEffect;

// The effect's command function: (effect, opcode, index, value, ptr, opt) -> result.
using DispatcherProc = VstIntPtr(VST_CALL*)(AEffect* effect, int32_t opcode, int32_t index,
                                            VstIntPtr value, void* ptr, float opt);
// The host's function that the effect asks questions through; same shape as the dispatcher.
using HostCallbackProc = VstIntPtr(VST_CALL*)(AEffect* effect, int32_t opcode, int32_t index,
                                              VstIntPtr value, void* ptr, float opt);
// Fills the first sampleFrames floats of outputs[0] and outputs[1] from inputs[0] and inputs[1].
using ProcessReplacingProc = void(VST_CALL*)(AEffect* effect, float** inputs, float** outputs,
                                             int32_t sampleFrames);
// Reads (writes) parameter index as a value from 0 to 1.
using GetParameterProc = float(VST_CALL*)(AEffect* effect, int32_t index);
using SetParameterProc = void(VST_CALL*)(AEffect* effect, int32_t index, float value);
// The exported entry point ("VSTPluginMain", or else "main"): the effect's record, or null.
using PluginEntryProc = AEffect*(VST_CALL*)(HostCallbackProc hostCallback);

// The effect's record, owned by the plug-in. Natural alignment on every target.
struct AEffect {
    int32_t magic; // not tested: any value is accepted
    DispatcherProc dispatcher;
    void* process;                 // unused (accumulating process)
    SetParameterProc setParameter; // a state without a chunk is restored through it
    GetParameterProc getParameter; // and kept through this
    int32_t numPrograms;           // unused
    int32_t numParams;             // how many parameters getParameter answers for
    int32_t numInputs;             // accepted from 1 to 64
    int32_t numOutputs;            // accepted from 1 to 64
    int32_t flags;                 // bit 0: effFlagsHasEditor
    VstIntPtr reserved1;           // unused
    VstIntPtr reserved2;           // unused
    int32_t initialDelay;          // unused
    int32_t realQualities;         // unused
    int32_t offQualities;          // unused
    float ioRatio;                 // unused
    void* object;                  // unused (the plug-in's own)
    void* user;                    // unused
    int32_t uniqueID;              // a kept state belongs to this effect only
    int32_t version;               // and to this version of it
    ProcessReplacingProc processReplacing;
    void* processDoubleReplacing; // unused
    char future[56];              // unused
};

// Where real plug-ins put the fields this program reads.
static_assert(offsetof(AEffect, numParams) == (sizeof(void*) == 8 ? 44 : 24), "AEffect layout");
static_assert(offsetof(AEffect, uniqueID) == (sizeof(void*) == 8 ? 112 : 72), "AEffect layout");
static_assert(offsetof(AEffect, dispatcher) == sizeof(void*), "AEffect layout");
static_assert(offsetof(AEffect, numInputs) == (sizeof(void*) == 8 ? 48 : 28), "AEffect layout");
static_assert(offsetof(AEffect, numOutputs) == (sizeof(void*) == 8 ? 52 : 32), "AEffect layout");
static_assert(offsetof(AEffect, flags) == (sizeof(void*) == 8 ? 56 : 36), "AEffect layout");
static_assert(offsetof(AEffect, processReplacing) == (sizeof(void*) == 8 ? 120 : 80),
              "AEffect layout");
static_assert(sizeof(AEffect) == (sizeof(void*) == 8 ? 192 : 144), "AEffect layout");

// The editor's size in pixels, filled in by the effect (effEditGetRect).
struct ERect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};
static_assert(sizeof(ERect) == 8, "ERect layout");

// Opcodes the host sends through dispatcher; index is 0 and the result is ignored unless said.
constexpr int32_t effOpen = 0;           // after acceptance; value 0, ptr null
constexpr int32_t effClose = 1;          // at unload, the last call the effect gets
constexpr int32_t effSetSampleRate = 10; // opt is the sample rate (44100.0)
constexpr int32_t effSetBlockSize = 11;  // value is the frames per block
constexpr int32_t effMainsChanged = 12;  // value 0 suspends, 1 resumes
constexpr int32_t effEditGetRect = 13;   // ptr is the address of an ERect pointer to fill
constexpr int32_t effEditOpen = 14;      // ptr is the editor's window handle
constexpr int32_t effEditClose = 15;     // the editor window is closing
constexpr int32_t effEditIdle = 19;      // every 20 ms while the editor window exists
constexpr int32_t effGetChunk = 23;      // index 0: the whole state; ptr receives its address
constexpr int32_t effSetChunk = 24;      // index 0: the whole state; value its size, ptr it

constexpr int32_t effFlagsHasEditor = 1;      // flags bit: the effect has its own editor
constexpr int32_t effFlagsProgramChunks = 32; // flags bit: its state is an opaque chunk

// Opcodes the host answers in its callback; every other opcode gets 0.
constexpr int32_t audioMasterAutomate = 0;                // a parameter changed: accepted, 1
constexpr int32_t audioMasterVersion = 1;                 // returns INTERFACE_VERSION
constexpr int32_t audioMasterGetTime = 7;                 // returns a VstTimeInfo pointer
constexpr int32_t audioMasterIOChanged = 13;              // refused: the channels stay, 0
constexpr int32_t audioMasterSizeWindow = 15;             // index width, value height; 1
constexpr int32_t audioMasterGetSampleRate = 16;          // answered with effSetSampleRate; 0
constexpr int32_t audioMasterGetBlockSize = 17;           // answered with effSetBlockSize; 0
constexpr int32_t audioMasterGetCurrentProcessLevel = 23; // returns PROCESS_LEVEL_REALTIME
constexpr int32_t audioMasterGetVendorString = 32;        // ptr: 64 chars to fill; 1
constexpr int32_t audioMasterGetProductString = 33;       // ptr: 64 chars to fill; 1
constexpr int32_t audioMasterGetVendorVersion = 34;       // returns the host's version number
constexpr int32_t audioMasterCanDo = 37;                  // ptr: a name; 1 yes, -1 no, 0 unknown
constexpr int32_t audioMasterGetLanguage = 38;            // returns LANGUAGE_JAPANESE
constexpr int32_t audioMasterUpdateDisplay = 42;          // accepted, 1
constexpr int32_t audioMasterBeginEdit = 43;              // accepted, 1
constexpr int32_t audioMasterEndEdit = 44;                // accepted, 1

constexpr size_t HOST_STRING_CHARS = 64;   // the vendor and product buffers, terminator included
constexpr VstIntPtr LANGUAGE_JAPANESE = 6; // the interface's value for Japanese

// The transport as audioMasterGetTime reports it.
struct VstTimeInfo {
    double samplePos; // frames since the effect was resumed, at the block's start
    double sampleRate;
    double nanoSeconds;
    double ppqPos;        // quarter notes since the start
    double tempo;         // beats per minute
    double barStartPos;   // ppqPos of the current bar's start
    double cycleStartPos; // unused (no loop)
    double cycleEndPos;   // unused
    int32_t timeSigNumerator;
    int32_t timeSigDenominator;
    int32_t smpteOffset;        // unused
    int32_t smpteFrameRate;     // unused
    int32_t samplesToNextClock; // unused
    int32_t flags;              // which fields hold values, and whether the transport plays
};
static_assert(sizeof(VstTimeInfo) == 88, "VstTimeInfo layout");

constexpr int32_t TIME_TRANSPORT_PLAYING = 1 << 1;
constexpr int32_t TIME_NANOS_VALID = 1 << 8;
constexpr int32_t TIME_PPQ_POS_VALID = 1 << 9;
constexpr int32_t TIME_TEMPO_VALID = 1 << 10;
constexpr int32_t TIME_BARS_VALID = 1 << 11;
constexpr int32_t TIME_SIGNATURE_VALID = 1 << 13;

constexpr VstIntPtr INTERFACE_VERSION = 2400;   // interface version 2.4
constexpr VstIntPtr PROCESS_LEVEL_REALTIME = 2; // the interface's value for real-time
