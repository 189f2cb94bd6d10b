// The one effect the live program runs, behind its handle wherever it runs: in this process,
// or in a host process of its own (kawauso-fxhost beside the program) when its DLL is of the
// other bitness or the slot asks for it. Here is the one place that knows which, and, for an
// effect in its own process, its last known state and its restarts. The blocks reach it
// through block_processing, the editor through editor_window. User-interface thread.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/effect_fault.h"
#include "plugin/effect_handle.h"
#include "plugin/module_machine.h"

struct EffectHandle;

// Loads the effect at path in place of whatever was loaded (which the caller has taken away
// from the stream), in a host process of its own when isolated is asked or its DLL is of the
// other bitness, and gives it state when not null, sized for a running stream. True when
// loaded (a fault while its state went back or it was sized is LiveEffectFault's to tell).
bool LoadLiveEffect(const wchar_t* path, bool isolated, const std::vector<uint8_t>* state);

// Closes its editor and unloads it (safe with nothing loaded); a host process ends with it.
void UnloadLiveEffect();

bool LiveEffectLoaded();    // loaded and not cut loose
bool LiveEffectHeld();      // loaded, faulted or not: not yet unloaded
bool LiveEffectIsolated();  // loaded, in a process of its own
bool LiveEffectInProcess(); // the last load was (or would have been) in this process
// Why the last load was refused before anything was loaded (its module header); false when
// it was not.
bool LiveEffectRefused(ModuleMachine* why);
// Whether the effect last loaded runs in the host of the other bitness.
bool LiveEffectInOtherHost();

// A window-thread call on the effect has not returned yet (its wait handles messages): nothing
// may unload, restart or reload the effect meanwhile.
bool LiveEffectCallUnderWay();

// The loaded effect's state; for one in its own process the last one known when it cannot give
// one now (its host gone).
bool CaptureLiveEffectState(std::vector<uint8_t>& state);
// Takes the state a restarted host is given: the load takes it, and the slot's saves and the
// editor's close call this. Nothing in this process, where no host restarts.
void TakeLiveEffectState();

// The loaded (or failed) effect's fault, None while a host process is only late, and with
// nothing loaded.
EffectFault LiveEffectFault();
// The code a message names for fault: the exception or exit code, or EFFECT_HUNG for none.
uint32_t FaultCodeToName(const EffectFault& fault);

// An effect whose host process is gone (ended, hung, faulted): starts a new host with the last
// known state, as often as the restart policy allows, and switches it in for the blocks. True
// when it runs again; false when it is cut loose (nothing of it stays loaded, why tells the
// last fault). Called with the effect taken away from the stream.
bool RestartLiveEffect(uint32_t now, EffectFault& why);

// How the loaded effect's blocks have fared (nothing late with none loaded).
EffectBlockStats LiveEffectBlockStats();

// How often effects were started again since the program started.
uint32_t EffectRestarts();
// Back to the program's start: nothing loaded, no restarts counted. For tests.
void ResetLiveEffect();

// Takes every effect, the first and the chained ones, away from the blocks: no block reaches
// any of them once this returns. Their owner took them away from the stream first (pluginActive
// off), or a block still inside one is one that ends within its time.
void TakeEffectsFromBlocks();

// Puts handle (loaded from path, in a host process of its own when isolated) first in place of
// the first effect, whose handle is given back with where it runs: the first and the second of
// a chain change places without a load. Its restarts start anew with it. Called with no editor
// open; the chain is published by the caller.
EffectHandle* ExchangeLiveEffect(EffectHandle* handle, const std::wstring& path, bool isolated,
                                 bool& wasIsolated);

// Waits until no block is inside any effect: one just taken out of the chain may then go.
void WaitForNoEffectCall();

// Puts a crossfaded change of the chain in (CrossfadeBlockEffects): while the stream runs,
// once the block that fades an effect out has played, or within a bounded wait for it; at once
// with no stream.
void WaitForChainChange();

// The loaded (or failed) effect's handle, null with none: for the editor window.
EffectHandle* LiveEffectHandle();
// The loaded effect's handle while it is healthy, else null: the first of the blocks' chain.
EffectHandle* LiveFirstEffectForBlocks();

// What the DLL at path is built for, as its header says.
ModuleMachine ModuleMachineOf(const wchar_t* path);

// A handle for the effect at path where it is to run: a host process of its own when isolated
// is asked or its DLL is of the other bitness, else this process (place and machine tell which,
// and why); null when its header refuses it.
EffectHandle* OpenLiveHandle(const wchar_t* path, bool isolated, EffectPlace& place,
                             ModuleMachine& machine);
