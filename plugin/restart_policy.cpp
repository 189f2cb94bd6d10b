#include "plugin/restart_policy.h"

bool EffectRestartPolicy::TryRestart(uint32_t now) {
    if (count_ == EFFECT_RESTARTS_PER_WINDOW) {
        if (now - ticks_[0] < EFFECT_RESTART_WINDOW_MS) {
            return false;
        }
        for (int i = 1; i < count_; ++i) {
            ticks_[i - 1] = ticks_[i];
        }
        --count_;
    }
    ticks_[count_++] = now;
    return true;
}
