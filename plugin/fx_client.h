// The caller's side of one plug-in host process: starts it, makes calls through the shared
// transport and waits for each answer with a limit. Two lanes: blocks from one thread (the
// audio thread), everything else from one other thread (the window thread); neither waits on
// the other. When the process ends, hangs or its effect faults, the fault is kept (the first
// one wins) and no later call waits on it; what the caller holds of it is released by FxStop.
// A block allocates nothing, takes no lock and makes no system call but the wake-ups and a
// look at the process.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/child_process.h"
#include "platform/shared_memory.h"
#include "platform/wake_up.h"
#include "plugin/effect_fault.h"
#include "plugin/fx_transport.h"

// When an effect in its own process cannot answer a block within the wait, the caller plays
// the stage for that block. An effect that needs more than half a block (a heavy one, a slow
// machine) would be late on every block and replaced by the stage for good, so after
// LATE_TO_GO_AHEAD late blocks within AHEAD_WINDOW_MS the lane runs one block ahead: each block
// is sent and the answer to the block before is played, one block more delay, a whole block
// and the wait for the effect. Three: one late block is a hiccup of the machine's, which the
// stage covers; an effect that cannot keep up is late three times in three blocks. It goes back
// (one block of the effect's sound spliced out over FX_SPLICE_FRAMES) once every block for
// BACK_AFTER_MS took the host at most a quarter of a block: far within the half block again.
// Not in a host's first WARM_UP_MS: a host just started is slow for its first blocks (its
// pages, its first allocations, other hosts starting beside it after a fault they all saw),
// and a block of delay more for a passing cause would stay for seconds.
constexpr uint32_t LATE_TO_GO_AHEAD = 3;
constexpr uint32_t WARM_UP_MS = 2000;
constexpr uint32_t AHEAD_WINDOW_MS = 1000;
constexpr uint32_t BACK_AFTER_MS = 5000;
constexpr uint32_t FX_SPLICE_FRAMES = 441; // 10 ms

struct FxLimits {
    uint32_t startMs = 10000; // the process's start and the effect's load
    uint32_t callMs = 5000;   // a control call
    // A block left unanswered this long (or two of its own lengths, if longer) is a hung host.
    // One second: far beyond any round trip measured under load (a few ms), long enough that an
    // effect's occasional slow block is not mistaken for a hang, and short enough that the
    // blocks it misses meanwhile (played through the built-in stage) end soon after a restart.
    uint32_t hangMs = 1000;
    // How long a block's answer is waited for: 0, half the block's own length. Its output is
    // needed in time to be played, and at a write the playback queue may hold little more than
    // one block (WinMM under Wine, mostly): a wait of the whole length, when a host hung or
    // ended, let the queue run dry. Half a block is still far beyond a host's round trip. The
    // renderer waits the whole hang limit and never misses one.
    uint32_t blockWaitMs = 0;
    // Every block one block ahead from the first (whose output is silence), never back: the
    // renderer's way to hear what the live program plays when an effect cannot keep up.
    bool blockAhead = false;
    uint32_t backAfterMs = BACK_AFTER_MS;
    uint32_t warmUpMs = WARM_UP_MS;
    bool aheadWhenLate = true; // false: late blocks stay the stage's (a test of the wait alone)
};

// What the block lane has done, for the window thread to show.
struct FxBlockStats {
    std::atomic<uint32_t> late{0};  // blocks not answered in time, over the host's life
    std::atomic<bool> ahead{false}; // running one block ahead now
};

// One lane's wake-ups and the sequence number of its last call.
struct FxCallerLane {
    WakeUp toHost, toCaller;
    uint32_t sequence = 0;
};

struct FxClient {
    ChildProcess process;
    SharedMemory memory;
    FxShared* shared = nullptr;
    FxCallerLane control, block;
    FxLimits limits;
    std::atomic<uint64_t> fault{0};          // an EffectFault packed; 0 none
    std::atomic<bool> controlWaiting{false}; // a control call waits: another one is refused
    uint32_t eventsTaken = 0; // the ring's count as taken, kept here where the host cannot write
    // The block lane's own (audio thread): a block sent and not yet answered, 0 none.
    uint32_t outstanding = 0;
    uint32_t outstandingSince = 0; // its PreciseTickCount
    uint32_t outstandingHangMs = 0;
    uint32_t outstandingFrames = 0;
    bool outstandingFresh = false; // ahead: sent in the block before, its answer is this block's
    bool ahead = false;
    uint32_t lateTicks[LATE_TO_GO_AHEAD] = {}; // the latest late blocks' PreciseTickCount
    uint32_t lateIndex = 0;
    uint32_t keptUpSince = 0; // ahead: since when every block was quick, 0 not now
    uint32_t startedAt = 0;   // PreciseTickCount when the host answered its start
    float splice[2 * FX_SPLICE_FRAMES] = {};
    FxBlockStats stats;
    char name[64] = "";
};

enum class FxBlockResult {
    Answered, // output holds the block
    Late,     // not answered within the wait (or an earlier block still is not): nothing sent
    Failed    // the host is gone or faulted (FxFaultOf says why), or the call was refused
};

// Starts hostProgram for a transport of its own and waits for it to answer. False, with the
// fault set and nothing left running, when it does not.
bool FxStart(FxClient* client, const char* hostProgram, const FxLimits& limits);
// Control lane: sends the call written into client->shared->control.call and waits up to limitMs
// for its answer, keeping the thread's window messages flowing. False when there was none (the
// fault says why; the process is ended), when a fault was there before, or at once when another
// control call is still waiting on this client.
bool FxExchange(FxClient* client, uint32_t limitMs);
// Block lane: frames of input through the host into output, waiting as the limits say.
FxBlockResult FxBlock(FxClient* client, const float* input, float* output, uint32_t frames,
                      int64_t samplePosition);
EffectFault FxFaultOf(const FxClient* client);
// Bytes into the host's staged bytes, in pieces; from them, as many as the host said it staged
// (beyond FX_MAX_STAGED_BYTES, or a piece of another size: a breach).
bool FxPutStaged(FxClient* client, const uint8_t* bytes, uint32_t size);
bool FxTakeStaged(FxClient* client, uint32_t size, std::vector<uint8_t>& bytes);
// The next thing the effect asked on its own; false when there is none (or nothing sane). A count
// beyond the ring, or an event of no kind, is a breach.
bool FxTakeEvent(FxClient* client, FxEvent* event);
// The host wrote what the transport does not allow (rule: a BREACH_*): the fault, and the host
// ended. Control lane only (the window thread): a block leaves the end to whoever unloads.
void FxBreach(FxClient* client, uint32_t rule);
// Asks the host to end (within the call limit) unless it faulted, ends it if it does not,
// releases everything. The caller makes sure no block is being sent meanwhile.
void FxStop(FxClient* client);
