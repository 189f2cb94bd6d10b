// How often an effect whose host process ended may be started again: at most
// EFFECT_RESTARTS_PER_WINDOW restarts within any EFFECT_RESTART_WINDOW_MS, then it is cut loose.
// An effect that keeps ending would otherwise cost a start every few blocks for as long as the
// program runs. Ticks are milliseconds that may wrap. Portable; no lock (one thread).
#pragma once

#include <cstdint>

constexpr int EFFECT_RESTARTS_PER_WINDOW = 3;
constexpr uint32_t EFFECT_RESTART_WINDOW_MS = 60000;

class EffectRestartPolicy {
  public:
    // True when one more restart at now stays within the limit; records it then.
    bool TryRestart(uint32_t now);
    // Forgets the restarts so far (a new effect loaded by the user).
    void Reset() { count_ = 0; }

  private:
    uint32_t ticks_[EFFECT_RESTARTS_PER_WINDOW] = {}; // the latest restarts, oldest first
    int count_ = 0;
};
