#include "audio/stream_recovery.h"

void StreamRecovery::Started() {
    state_ = RecoveryState::Playing;
    recoveredOnce_ = false;
    open_ = true;
    delivering_ = false;
    failedSince_ = false;
    hangRestart_ = false;
}

void StreamRecovery::Stopped() {
    state_ = RecoveryState::Stopped;
    open_ = false;
}

RecoveryAdvice StreamRecovery::On(StreamEvent event, uint32_t now, uint32_t lostForMs) {
    const bool fresh = event == StreamEvent::Resumed && FreshResume(now);
    switch (state_) {
    case RecoveryState::Playing:
        switch (event) {
        case StreamEvent::FirstBuffer:
            delivering_ = true;
            return {};
        case StreamEvent::Stalled:
        case StreamEvent::DeviceCallFailed:
        case StreamEvent::DeviceRemoved:
            return BeginRecovery(now, lostForMs);
        case StreamEvent::Resumed:
            return fresh ? BeginRecovery(now, 0) : RecoveryAdvice{};
        case StreamEvent::EffectHung:
            hangRestart_ = true;
            open_ = false;
            return {RecoveryAction::Restart};
        default:
            return {};
        }
    case RecoveryState::Recovering:
        switch (event) {
        case StreamEvent::FirstBuffer:
            if (!open_ || failedSince_) {
                return {};
            }
            state_ = RecoveryState::Playing;
            delivering_ = true;
            recoveredOnce_ = true;
            recoveredAt_ = now;
            return {RecoveryAction::None, 0, false, true};
        case StreamEvent::Stalled:
        case StreamEvent::DeviceCallFailed:
        case StreamEvent::DeviceRemoved:
            failedSince_ = failedSince_ || open_;
            return {};
        case StreamEvent::DeviceArrived:
            // Worth a try at once, unless the last reopening still waits for its first buffer.
            return !open_ || failedSince_ ? Attempt(now) : RecoveryAdvice{};
        case StreamEvent::EffectHung:
            return Attempt(now);
        default:
            return {}; // a resume during a recovery: the recovery is what it asks for
        }
    case RecoveryState::Stopping:
        if (event == StreamEvent::EffectHung) {
            return End(RecoveryAction::Stop); // its thread is left behind, and nothing plays
        }
        if (event != StreamEvent::FirstBuffer && event != StreamEvent::DeviceArrived &&
            event != StreamEvent::Resumed) {
            nothingToHear_ = true; // played, or it never will be
        }
        delivering_ = delivering_ || event == StreamEvent::FirstBuffer;
        return Tick(now, false);
    default:
        return {};
    }
}

RecoveryAdvice StreamRecovery::Tick(uint32_t now, bool autoConnect) {
    if (state_ == RecoveryState::Recovering) {
        if (now - recoveryStart_ >= limits_.giveUpAfterMs) {
            return End(RecoveryAction::GiveUp, !autoConnect);
        }
        if ((!open_ || failedSince_) && now - lastAttempt_ >= pause_) {
            return Attempt(now);
        }
        return {RecoveryAction::None, pause_};
    }
    if (state_ == RecoveryState::Stopping) {
        const uint32_t waited = now - stopAt_;
        // Nothing to hear before capture delivered: no block carries the fade then.
        if (waited >= limits_.stopTimerMs &&
            (nothingToHear_ || !delivering_ || waited >= limits_.fadeWaitMs)) {
            return End(RecoveryAction::Stop);
        }
    }
    return {};
}

RecoveryAdvice StreamRecovery::StopRequested(uint32_t now, bool devicesGone) {
    switch (state_) {
    case RecoveryState::Playing:
        state_ = RecoveryState::Stopping;
        stopAt_ = now;
        nothingToHear_ = devicesGone;
        return {RecoveryAction::FadeOut};
    case RecoveryState::Stopping:
        nothingToHear_ = nothingToHear_ || devicesGone; // may end sooner, never later
        return {};
    case RecoveryState::Recovering:
        return End(RecoveryAction::Stop); // nothing plays that a fade could end
    default:
        return {};
    }
}

RecoveryAdvice StreamRecovery::Reopened(bool opened) {
    if (state_ == RecoveryState::Playing && hangRestart_) {
        hangRestart_ = false;
        if (!opened) {
            return End(RecoveryAction::Stop);
        }
        open_ = true;
        delivering_ = false;
        return {RecoveryAction::None, 0, false, true};
    }
    if (state_ != RecoveryState::Recovering) {
        return {};
    }
    open_ = opened;
    delivering_ = false;
    failedSince_ = false;
    return {RecoveryAction::None, pause_};
}

RecoveryAdvice StreamRecovery::BeginRecovery(uint32_t now, uint32_t lostForMs) {
    state_ = RecoveryState::Recovering;
    // Devices that deliver a moment after each reopening and fail again are still away: the
    // pauses go on growing and the give-up comes as if they had never delivered.
    if (!recoveredOnce_ || now - recoveredAt_ >= limits_.relapseMs) {
        recoveryStart_ = now - lostForMs;
        pause_ = 0;
        return Attempt(now);
    }
    const bool due = now - lastAttempt_ >= pause_ && now - recoveryStart_ < limits_.giveUpAfterMs;
    failedSince_ = open_; // the open stream is the one that failed: the next attempt replaces it
    return due ? Attempt(now) : RecoveryAdvice{RecoveryAction::None, pause_}; // Tick gives up
}

RecoveryAdvice StreamRecovery::Attempt(uint32_t now) {
    lastAttempt_ = now;
    open_ = false;
    if (pause_ == 0) {
        pause_ = limits_.firstRetryMs;
    } else {
        pause_ = pause_ * 2 < limits_.longestRetryMs ? pause_ * 2 : limits_.longestRetryMs;
    }
    return {RecoveryAction::Restart, pause_};
}

RecoveryAdvice StreamRecovery::End(RecoveryAction action, bool tellUser) {
    state_ = RecoveryState::Stopped;
    open_ = false;
    return {action, 0, tellUser};
}

bool StreamRecovery::FreshResume(uint32_t now) {
    if (resumed_ && now - resumeAt_ < limits_.resumeSettleMs) {
        return false;
    }
    resumed_ = true;
    resumeAt_ = now;
    return true;
}
