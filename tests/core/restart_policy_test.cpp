// Ends at the given times (ms from a base the tick may wrap from): which were restarted ('y').
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/restart_policy.h"

TEST(EffectRestartPolicy, AtMostThreeRestartsInAnySixtySeconds) {
    const std::pair<std::vector<uint32_t>, std::string> rows[] = {
        {{0, 100, 200, 300}, "yyyn"},
        {{0, 100, 200, 59999}, "yyyn"},             // the first is 59.999 s back: still inside
        {{0, 100, 200, 60000}, "yyyy"},             // it has left the window
        {{0, 30000, 59000, 60100, 61000}, "yyyyn"}, // a sliding window, not one per minute
    };
    for (const uint32_t base : {0u, 0xFFFFFFFFu - 30000u}) {
        for (const auto& [endsAt, expected] : rows) {
            EffectRestartPolicy policy;
            std::string allowed;
            for (const uint32_t at : endsAt) {
                allowed += policy.TryRestart(base + at) ? 'y' : 'n';
            }
            EXPECT_EQ(allowed, expected) << "base " << base << ", last end " << endsAt.back();
        }
    }
    EffectRestartPolicy policy;
    policy.TryRestart(0), policy.TryRestart(0), policy.TryRestart(0);
    policy.Reset();
    EXPECT_TRUE(policy.TryRestart(1)) << "a new effect starts with none counted";
}
