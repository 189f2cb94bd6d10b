// The stream's stop and recovery decisions, driven as the window drives them: a 200 ms level
// tick, a simulated pair of devices that goes away in one of four ways and may come back, a
// stream that is reopened whenever the machine says so, and the user's Stop.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/stream_recovery.h"

namespace {

constexpr uint32_t LEVEL_TICK_MS = 200;
constexpr uint32_t STALL_LIMIT_MS = 1000; // the simulated system's
constexpr uint32_t GONE_AT = 1000;
constexpr uint32_t NEVER = 0xFFFFFFFFu;

enum class Loss { CaptureStall, RefusedCall, Removed, Sleep };
const char* const LOSS_NAMES[] = {"capture stall", "refused call", "removed", "sleep"};

struct Outcome {
    int attempts = 0;
    int restarts = 0;
    RecoveryAction ending = RecoveryAction::None; // None: still running
    uint32_t endedAt = 0;
    bool told = false;
};
std::string Text(const Outcome& o) {
    const char* endings[] = {"running", "", "", "stopped", "given up"};
    return std::to_string(o.attempts) + " attempts, " + std::to_string(o.restarts) + " restarts, " +
           endings[static_cast<int>(o.ending)] + " at " + std::to_string(o.endedAt) +
           (o.told ? ", told" : "");
}

// Runs 14 s from base (the tick count wraps for some bases). The devices are gone from
// GONE_AT to backAt; the user presses Stop at userStopAt.
Outcome Simulate(Loss loss, bool autoConnect, uint32_t backAt, uint32_t userStopAt, uint32_t base) {
    StreamRecovery recovery;
    Outcome out;
    bool open = true;
    uint32_t openedAt = 0, lastDelivery = 0;
    const auto present = [&](uint32_t t) { return t < GONE_AT || t >= backAt; };
    std::function<void(RecoveryAdvice, uint32_t)> act = [&](RecoveryAdvice advice, uint32_t t) {
        out.restarts += advice.recovered ? 1 : 0;
        if (advice.action == RecoveryAction::Restart) {
            ++out.attempts;
            open = present(t);
            openedAt = lastDelivery = t;
            act(recovery.Reopened(open), t);
        } else if (advice.action == RecoveryAction::Stop ||
                   advice.action == RecoveryAction::GiveUp) {
            open = false;
            out.endedAt = t;
            out.ending = advice.action;
            out.told = advice.tellUser;
        }
    };
    recovery.Started();
    for (uint32_t t = 0; t <= 14000 && out.ending == RecoveryAction::None; t += 10) {
        const uint32_t now = base + t;
        if (t == GONE_AT && loss == Loss::Removed) {
            act(recovery.On(StreamEvent::DeviceRemoved, now), t);
        } else if ((t == GONE_AT || t == GONE_AT + 2500) && loss == Loss::Sleep) {
            // Both of the wake's notices, the second after an early return is played again.
            act(recovery.On(StreamEvent::Resumed, now), t);
        } else if (t == backAt && loss == Loss::Removed) {
            act(recovery.On(StreamEvent::DeviceArrived, now), t);
        }
        if (t == userStopAt && out.ending == RecoveryAction::None) {
            act(recovery.StopRequested(now, false), t);
        }
        if (open && present(t)) {
            lastDelivery = t;
        }
        const bool stopping = recovery.State() == RecoveryState::Stopping;
        if (t % LEVEL_TICK_MS != 0 && !stopping) {
            continue; // the stop timer polls more often
        }
        if (open && present(t) && t - openedAt >= 100) {
            act(recovery.On(stopping ? StreamEvent::FadePlayed : StreamEvent::FirstBuffer, now), t);
        } else if (open && !present(t) && loss == Loss::RefusedCall) {
            act(recovery.On(StreamEvent::DeviceCallFailed, now), t);
        } else if (open && t - lastDelivery >= STALL_LIMIT_MS) {
            act(recovery.On(StreamEvent::Stalled, now, STALL_LIMIT_MS), t);
        }
        if (out.ending == RecoveryAction::None) {
            act(recovery.Tick(now, autoConnect), t);
        }
    }
    return out;
}

TEST(StreamRecovery, EveryLossWithAndWithoutAutoConnectWhicheverTimeTheDevicesReturn) {
    for (Loss loss : {Loss::CaptureStall, Loss::RefusedCall, Loss::Removed, Loss::Sleep}) {
        for (bool autoConnect : {false, true}) {
            for (uint32_t backAt : {2500u, 6000u, 10800u, NEVER}) {
                for (uint32_t userStopAt : {NEVER, 4000u}) {
                    for (uint32_t base : {0u, 0xFFFFF000u}) {
                        const std::string row = std::string(LOSS_NAMES[static_cast<int>(loss)]) +
                                                (autoConnect ? ", auto-connect" : "") +
                                                ", back at " + std::to_string(backAt) +
                                                ", stop at " + std::to_string(userStopAt) +
                                                ", base " + std::to_string(base);
                        const Outcome out = Simulate(loss, autoConnect, backAt, userStopAt, base);
                        const uint32_t giveUpAt = GONE_AT + 10000; // however it was noticed
                        // Seen at once when the system says so, else at the next attempt.
                        const uint32_t seenBy = loss == Loss::Removed ? backAt : backAt + 2000;
                        const bool backInTime = backAt != NEVER && seenBy < giveUpAt;
                        const bool backBeforeStop =
                            backAt != NEVER && backAt + 2 * LEVEL_TICK_MS < userStopAt;
                        Outcome expected; // the attempts matter where they are all made
                        expected.attempts = out.attempts;
                        if (userStopAt != NEVER) {
                            // Playing again: the fade, then the close; still recovering:
                            // nothing plays, so the stop ends it at once.
                            expected = {out.attempts, backBeforeStop ? 1 : 0, RecoveryAction::Stop,
                                        userStopAt + (backBeforeStop ? 200 : 0)};
                        } else if (backInTime) {
                            expected.restarts = 1;
                        } else {
                            // At once, then after 250, 500, 1000 and 2000 ms pauses, on ticks.
                            expected = {7, 0, RecoveryAction::GiveUp, giveUpAt, !autoConnect};
                        }
                        EXPECT_EQ(Text(out), Text(expected)) << row;
                    }
                }
            }
        }
    }
}

// A stall told on every tick, a removal told once, or calls refused while delivering: given up
// 10 s after the first loss, not restarted for ever; refusing calls is not coming back.
TEST(StreamRecovery, DevicesThatFailAgainAfterEachReopeningAreGivenUp) {
    enum Way { STALLS, REMOVED_ONCE, REFUSES };
    for (Way way : {STALLS, REMOVED_ONCE, REFUSES}) {
        StreamRecovery recovery;
        recovery.Started();
        uint32_t openedAt = 0, endedAt = NEVER;
        int attempts = 0, restarts = 0;
        for (uint32_t t = LEVEL_TICK_MS; t <= 20000 && endedAt == NEVER; t += LEVEL_TICK_MS) {
            if (way == REFUSES && t > 600) {
                recovery.On(StreamEvent::DeviceCallFailed, t);
            }
            RecoveryAdvice advice;
            if (way == REFUSES || t - openedAt < 600) {
                advice = recovery.On(StreamEvent::FirstBuffer, t);
            } else if (way == STALLS || t - openedAt == 600) {
                advice = recovery.On(
                    way == STALLS ? StreamEvent::Stalled : StreamEvent::DeviceRemoved, t);
            }
            restarts += advice.recovered ? 1 : 0;
            if (advice.action == RecoveryAction::None) {
                advice = recovery.Tick(t, false);
            }
            if (advice.action == RecoveryAction::Restart) {
                ++attempts;
                openedAt = t;
                recovery.Reopened(true);
            }
            endedAt = advice.action == RecoveryAction::GiveUp ? t : NEVER;
        }
        EXPECT_GE(endedAt, way == REFUSES ? 10800u : 10600u) << way;
        EXPECT_LT(endedAt, 11000u) << way;
        EXPECT_GE(attempts, way == REFUSES ? 5 : 6) << way;
        EXPECT_LE(attempts, 8) << way;
        EXPECT_EQ(restarts, way == REFUSES ? 0 : attempts) << way;
    }
}

// Device notices during a recovery: an arrival is worth an attempt at once unless the last
// reopening still waits for its first buffer; a removal leaves the next attempt to its pause.
TEST(StreamRecovery, ANoticeDuringARecoveryAttemptsOnlyWhenNothingIsWaitedFor) {
    using E = StreamEvent;
    StreamRecovery recovery;
    recovery.Started();
    std::vector<RecoveryAction> actions = {recovery.On(E::DeviceRemoved, 0).action};
    recovery.Reopened(true);
    for (E notice : {E::DeviceArrived, E::DeviceRemoved, E::DeviceArrived}) {
        actions.push_back(recovery.On(notice, 10).action);
    }
    using A = RecoveryAction;
    EXPECT_EQ(actions, (std::vector<A>{A::Restart, A::None, A::None, A::Restart}));
}

// The first request's fade-out is not restarted by the next; the stop ends 200 ms after it once
// the fade was heard, a second after it at most, at once when nothing could be heard.
TEST(StreamRecovery, AStopIsPendingOnceAndEndsAsSoonAsNothingMoreCanBeHeard) {
    struct Row {
        const char* name;
        bool delivering;  // capture had delivered before the stop
        bool devicesGone; // the watcher's stop
        uint32_t heardAt; // FadePlayed (or, with hung, EffectHung) reported then
        uint32_t againAt; // a second request then
        uint32_t endsAt;
        bool hung = false;
    } rows[] = {
        {"fade heard at 50", true, false, 50, NEVER, 200},
        {"fade heard at 450", true, false, 450, NEVER, 450},
        {"fade never heard", true, false, NEVER, NEVER, 1000},
        {"never heard, asked again at 900", true, false, NEVER, 900, 1000},
        {"the watcher's, devices gone", true, true, NEVER, NEVER, 200},
        {"the user's, then the watcher's at 500", true, false, NEVER, 500, 500},
        {"before the first buffer", false, false, NEVER, NEVER, 200},
        {"a hung effect at 50", true, false, 50, NEVER, 50, true},
    };
    for (const Row& row : rows) {
        StreamRecovery recovery;
        recovery.Started();
        if (row.delivering) {
            recovery.On(StreamEvent::FirstBuffer, 10);
        }
        EXPECT_EQ(recovery.StopRequested(100, row.devicesGone).action, RecoveryAction::FadeOut)
            << row.name;
        uint32_t endedAt = NEVER;
        for (uint32_t t = 110; t <= 2000 && endedAt == NEVER; t += 10) {
            RecoveryAdvice advice;
            if (t - 100 == row.againAt) {
                const bool watcher = row.againAt == 500;
                EXPECT_EQ(recovery.StopRequested(t, watcher).action, RecoveryAction::None);
            }
            if (t - 100 >= row.heardAt) {
                advice =
                    recovery.On(row.hung ? StreamEvent::EffectHung : StreamEvent::FadePlayed, t);
            }
            if (advice.action == RecoveryAction::None) {
                advice = recovery.Tick(t, true);
            }
            endedAt = advice.action == RecoveryAction::Stop ? t - 100 : NEVER;
        }
        EXPECT_EQ(endedAt, row.endsAt) << row.name;
        EXPECT_EQ(recovery.State(), RecoveryState::Stopped) << row.name;
    }
}

} // namespace
