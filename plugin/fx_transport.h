// What a caller and its plug-in host process (kawauso-fxhost) share: one block of memory
// holding two lanes, each a call, its answer and two wake-ups (to the host, to the caller),
// the values the effect's questions are answered from, a ring of what the effect asked on its
// own, a piece of payload and the stream's audio (interleaved stereo floats, full scale 1: what
// crosses between effects is never requantised, and may be above full scale). The block lane is the
// audio thread's, the control lane the window thread's: neither ever waits behind the other. The
// same layout in 32-bit and 64-bit builds, so either may host the other's effects. The caller
// trusts nothing it reads back: every size and index is checked.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "plugin/plugin_state.h"
#include "plugin/vst2.h"

constexpr uint32_t FX_MAGIC = 0x5846574Bu; // "KWFX"
// The longest block: ten seconds, the longest buffer, and the frame its size is rounded up by.
constexpr uint32_t FX_MAX_FRAMES = 441001;
// Payloads cross in pieces of this size, as many as it takes: a chunk or a kept state as large as
// the caller's own process takes one.
constexpr uint32_t FX_PIECE_BYTES = 1u << 20;
constexpr uint32_t FX_MAX_CHUNK_BYTES = MAX_STATE_BYTES;
constexpr uint32_t FX_MAX_STAGED_BYTES = MAX_KEPT_STATE_BYTES;

enum class FxCommand : uint32_t {
    None,
    Load,         // piece: the module's path as wide text; answer: the record's numbers
    SetBlockSize, // frames
    Block,        // frames of input to output; samplePosition: the block's stream position
    Dispatch,     // opcode, index, value, opt; payload says what ptr is
    PutPiece,     // bytes of piece at offset of the staged bytes (offset 0 starts anew)
    TakePiece,    // bytes of the staged bytes from offset into piece
    RestoreState, // the staged bytes as a kept state; result: a StateRestore
    CaptureState, // the effect's state into the staged bytes; answer: its size
    Unload,
    Quit,       // unloads and ends the host process
    OpenEditor, // value: the parent window (an HWND); answer: ok, rect from effEditGetRect
    CloseEditor
};

// What a dispatcher call's ptr carries, by value.
enum class FxPayload : uint32_t {
    None,     // null
    Staged,   // the staged bytes (effSetChunk)
    ChunkOut, // a void** the effect points at its chunk: staged for TakePiece, answer.bytes
    RectOut   // an ERect** the effect points at its editor size: answer.rect
};

struct FxCall {
    std::atomic<uint32_t> sequence; // written last, after the call's fields
    FxCommand command;
    int32_t opcode;
    int32_t index;
    int64_t value;
    int64_t samplePosition;
    float opt;
    FxPayload payload;
    uint32_t frames;
    uint32_t offset;
    uint32_t bytes;
    int32_t sampleRate;
};

struct FxAnswer {
    std::atomic<uint32_t> sequence; // the call's, written last; 0 for the host's start
    uint32_t ok;                    // the call did what was asked
    uint32_t fault; // the effect's fault caught in the host (exception code, signal), or 0
    int32_t numInputs;
    int32_t numOutputs;
    int32_t flags;
    int64_t result;
    uint32_t bytes;
    ERect rect;
    // The host's own time on the call, whole milliseconds (a block's: the effect's).
    uint32_t busyMs;
};

// One call at a time and its answer, with the words of its two wake-ups (POSIX).
struct FxLane {
    FxCall call;
    FxAnswer answer;
    uint32_t toHost;
    uint32_t toCaller;
};

// What the effect is told when it asks its host, as the caller last set it; 0 in a field:
// what the host would answer in the caller's own process.
struct FxHostValues {
    std::atomic<uint32_t> sampleRateBits; // a float's bits
    std::atomic<int32_t> blockSize;
    std::atomic<int32_t> processLevel;
};

enum class FxEventKind : uint32_t { SizeWindow = 1, Automate, UpdateDisplay };
struct FxEvent {
    FxEventKind kind;
    int32_t index;
    float value;
    int32_t width, height;
};

// What the effect asked on its own, for the caller to take in order. The host writes slots
// and then `written`, the caller reads them and then `taken`; a full ring drops what comes.
constexpr uint32_t FX_EVENT_SLOTS = 32;
struct FxEventRing {
    std::atomic<uint32_t> written;
    std::atomic<uint32_t> taken;
    FxEvent slots[FX_EVENT_SLOTS];
};

struct FxShared {
    uint32_t magic;
    uint32_t layoutBytes; // sizeof(FxShared) as the caller built it
    FxLane control;
    FxLane block;
    FxHostValues values;
    FxEventRing events;
    uint32_t reserved;
    uint8_t piece[FX_PIECE_BYTES];
    float input[2 * FX_MAX_FRAMES];
    float output[2 * FX_MAX_FRAMES];
};

static_assert(sizeof(std::atomic<uint32_t>) == 4 && std::atomic<uint32_t>::is_always_lock_free,
              "a sequence word is shared between processes");
static_assert(std::atomic<int32_t>::is_always_lock_free, "host values are shared too");
static_assert(sizeof(FxCall) == 56 && sizeof(FxAnswer) == 48 && sizeof(FxLane) == 112,
              "transport layout");
static_assert(offsetof(FxShared, control) == 8 && offsetof(FxShared, block) == 120,
              "transport layout");
static_assert(offsetof(FxShared, values) == 232 && sizeof(FxHostValues) == 12, "transport layout");
static_assert(offsetof(FxShared, events) == 244 && sizeof(FxEvent) == 20, "transport layout");
static_assert(offsetof(FxShared, piece) == 896 && offsetof(FxShared, input) % 8 == 0,
              "transport layout");

// The names of the memory and of the two wake-ups for one host process, from its caller's
// process id and a number of the caller's own.
void FxTransportName(char* out, size_t size, uint32_t callerId, uint32_t serial, const char* part);
