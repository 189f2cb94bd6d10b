// An effect's state as bytes the host can keep: its chunk when its flags say it has one, else
// its parameter values; tagged with the effect's unique id and version, so a kept state is
// only ever given back to the effect it came from. User-interface thread, with the effect
// loaded and no block inside it.
#pragma once

#include <cstdint>
#include <vector>

// The host's loaded effect's state. False (state empty) when no effect is loaded, it faulted, or
// its chunk is empty or beyond MAX_STATE_BYTES.
struct PluginHost;
bool CaptureEffectState(PluginHost& host, std::vector<uint8_t>& state);

enum class StateRestore {
    Restored,
    NotThisEffect, // another unique id or version, or another kind of state
    Damaged        // not a state at all, truncated, or sizes that do not add up
};
// Gives state back to the loaded effect (effSetChunk, or each parameter). Nothing is called
// unless the whole state checks out.
StateRestore RestoreEffectState(PluginHost& host, const std::vector<uint8_t>& state);

constexpr uint32_t MAX_STATE_BYTES = 64u << 20; // no effect's state comes near it
constexpr uint32_t STATE_HEADER_BYTES = 24;
// The largest state CaptureEffectState gives: its header and the largest payload.
constexpr uint32_t MAX_KEPT_STATE_BYTES = STATE_HEADER_BYTES + MAX_STATE_BYTES;
