// What becomes of a running stream: its stop (the fade-out, then the close) and its recovery
// when its devices stop delivering (the same devices opened again, with growing pauses, until
// they deliver or until they have stayed away too long). It only decides: it is told the time
// and what the stream reported, and answers with what to do; whoever holds the stream does it
// and says how a reopening went. Times are milliseconds of one wrapping 32-bit tick count.
#pragma once

#include <cstdint>

enum class StreamEvent {
    FirstBuffer,      // the open stream's capture has delivered (reported again and again)
    Stalled,          // the open stream stopped delivering for its system's stall limit
    DeviceCallFailed, // a device of the open stream refused a call
    DeviceRemoved,    // a device of the stream went away
    DeviceArrived,    // a device came: maybe one the recovery waits for
    Resumed,          // the system woke from sleep (each wake may be told more than once)
    EffectHung,       // the audio thread was left inside an effect: a new thread is needed
    FadePlayed,       // the stop's fade-out has been played
};

enum class RecoveryAction {
    None,
    FadeOut, // a stop was requested: start its fade-out and keep the time coming
    Restart, // close the stream and open the same devices again now, then tell Reopened
    Stop,    // close the stream now and show it stopped
    GiveUp,  // close the stream now: its devices stayed away
};

struct RecoveryAdvice {
    RecoveryAction action = RecoveryAction::None;
    uint32_t retryAfterMs = 0; // while recovering: the pause before the next attempt
    bool tellUser = false;     // GiveUp with auto-connect off: nothing else will bring it back
    bool recovered = false;    // the stream delivers again after a recovery: one restart
};

struct RecoveryLimits {
    uint32_t giveUpAfterMs = 10000; // devices away this long end the stream
    uint32_t firstRetryMs = 250;    // the pause after the first attempt, doubled after each
    uint32_t longestRetryMs = 2000;
    uint32_t stopTimerMs = 200;     // a stop completes no earlier
    uint32_t fadeWaitMs = 1000;     // nor later, whether or not its fade was heard
    uint32_t resumeSettleMs = 5000; // resume notices this close together are one wake
    uint32_t relapseMs = 5000;      // a loss this soon after a recovery continues it
};

enum class RecoveryState { Stopped, Playing, Recovering, Stopping };

class StreamRecovery {
  public:
    explicit StreamRecovery(const RecoveryLimits& limits = RecoveryLimits()) : limits_(limits) {}

    // A start opened the stream.
    void Started();
    // The stream was closed by other means (the window's close, the session's end).
    void Stopped();

    // lostForMs: how long the devices have been away already when the event tells of it (a
    // stall's limit); the give-up counts from then.
    RecoveryAdvice On(StreamEvent event, uint32_t now, uint32_t lostForMs = 0);
    // Time passing: attempts when their pause is over, the give-up, the stop's completion.
    // autoConnect: the watcher will start the stream when its devices are back.
    RecoveryAdvice Tick(uint32_t now, bool autoConnect);
    // A stop of the user's, or of the watcher's (devicesGone: it found a device missing, so
    // no fade can be heard). A stop already under way is not put off by another.
    RecoveryAdvice StopRequested(uint32_t now, bool devicesGone);
    // What the Restart asked for came to: the devices opened (the stream runs again, but has
    // still to deliver) or not.
    RecoveryAdvice Reopened(bool opened);

    RecoveryState State() const { return state_; }

  private:
    RecoveryAdvice BeginRecovery(uint32_t now, uint32_t lostForMs);
    RecoveryAdvice Attempt(uint32_t now);
    RecoveryAdvice End(RecoveryAction action, bool tellUser = false);
    bool FreshResume(uint32_t now);

    RecoveryLimits limits_;
    RecoveryState state_ = RecoveryState::Stopped;
    bool open_ = false;        // the stream is open (false after a refused reopening)
    bool delivering_ = false;  // the open stream has delivered since it opened
    bool failedSince_ = false; // the reopened stream stalled or failed since the attempt
    bool hangRestart_ = false; // the pending reopening leaves a hung effect's thread behind
    uint32_t recoveryStart_ = 0;
    bool recoveredOnce_ = false;
    uint32_t recoveredAt_ = 0;
    uint32_t lastAttempt_ = 0;
    uint32_t pause_ = 0;
    bool nothingToHear_ = false; // the pending stop's fade cannot be (or has been) heard
    uint32_t stopAt_ = 0;
    bool resumed_ = false;
    uint32_t resumeAt_ = 0;
};
