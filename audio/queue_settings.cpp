#include "audio/queue_settings.h"

#include "audio/audio_format.h"

namespace {

constexpr uint32_t FramesForMs(uint32_t ms) {
    return ms * SAMPLE_RATE / 1000;
}

// WASAPI: the period the engine's last pass took is played over the next period, and the next
// block must be in before that pass whatever the phase of the capture's against the engine's,
// which wanders; and a margin for the thread's wake-ups (measured on the virtual devices,
// tests/measure/measure_stream.sh).
constexpr uint32_t WASAPI_TARGET_PERIODS = 1;
constexpr uint32_t WASAPI_MARGIN_MS = 2;
// Its reading strays by the wake-ups (up to 2 ms), the clock readings (+-0.5 ms) and, under
// Wine, engine passes up to a period off: through the fitted line a drift of half a millisecond
// is told from that, and through a low-pass of a second 3 ms are (Wine's passes, late a few
// times in a row, come near it); a twentieth and a third of the queue's room.
// No silence goes ahead of the first block on either system: capture's first burst brings the
// queue up to its target anyway, and a queue too low shows as breaks, which raise it by a block.
// Beside a plain passthrough in the same run (tests/measure/measure_stream.sh, medians of the
// starts): WASAPI 10 ms 38.7 ms against 41.0 over 16 (with the target's silence ahead, 6
// starts: 44.0 against 36.1); WinMM 20 ms 61.7 ms against 61.4 over 32 (with a block ahead, 16
// starts: 76.8 against 61.1). In minutes of tone taken in turn about as many breaks as the
// passthrough: WASAPI 5 against 6 in one, WinMM 10 against 8 in six; in minutes run at once
// with it, WinMM 37 against 35 in ten; WASAPI 55 against 32 in ten while the queue gave back
// what a stall of the process left (the passthrough rides the next one out on it), 110 against
// 93 in twenty since it keeps that (PlaybackQueue::NoteWakeUpGap). All with the 64-bit build.
constexpr uint32_t WASAPI_START_FILL_FRAMES = 0;
// Every start breaks early in its first second (capture's start comes in a burst and a gap):
// not raised then, it broke 1-7 times a start; raised at each such break, the 32-bit build's
// queue grew a block a break (45.6 ms against the passthrough's 36.4, 32 starts). Raised once:
// 43.6 against 43.0 and 44.0 against 41.1 (two runs of 16 starts), and in ten minutes at once
// 23 breaks against the passthrough's 30.
constexpr uint32_t WASAPI_SETTLING_RAISES = 1;
constexpr double WASAPI_BAND_MS = 0.5;
constexpr double WASAPI_STRAY_MS = 3.0;
constexpr double WASAPI_WATCH_SECONDS = 1.0;

// WinMM: the fewest frames queued at a write that held on the virtual devices
// (tests/measure/measure_stream.sh, the program beside a plain passthrough, 20 ms blocks): at
// 20 ms, runs of breaks under load (50 in 10 s); at 40 ms, 15-28 breaks a minute on a quiet
// machine, where the passthrough had 1-2; at 60 ms mostly about as many as it.
constexpr uint32_t WAVE_TARGET_MS = 60;
// Read as the frames written less the device's position, which moves 441 frames at a time (under
// Wine, measured), against blocks of 883: the reading beats through 10 ms every 9 s on one
// clock. The line tells a fifth of a block from that; the low-pass, 0.6 of a block.
constexpr uint32_t WAVE_START_FILL_FRAMES = 0;
// On WinMM half the starts found the device dry in their first second after the queue had
// stood at its target, and the raise kept those a block higher for good: the starts' median
// delay was 70.2 ms against the passthrough's 58.0 (16 starts). Raised there only when the
// queue never stood at its target (a device that starts without a burst): 61.7 against 61.4
// (32 starts), and 10 breaks against 8 in six minutes. Those dry starts were mostly the loop
// flags the playback headers then carried (NewWinmmRun).
constexpr uint32_t WAVE_SETTLING_RAISES = 0;
constexpr double WAVE_BAND_BLOCKS = 0.2;
constexpr double WAVE_STRAY_BLOCKS = 0.6;
constexpr double WAVE_WATCH_SECONDS = 1.0;

} // namespace

QueueSettings WasapiQueueSettings(uint32_t periodFrames) {
    const uint32_t target = WASAPI_TARGET_PERIODS * periodFrames + FramesForMs(WASAPI_MARGIN_MS);
    return {target,
            periodFrames,
            WASAPI_START_FILL_FRAMES,
            WASAPI_SETTLING_RAISES,
            {WASAPI_BAND_MS * SAMPLE_RATE / 1000.0, WASAPI_STRAY_MS * SAMPLE_RATE / 1000.0,
             WASAPI_WATCH_SECONDS}};
}

QueueSettings WaveQueueSettings(uint32_t blockFrames) {
    const uint32_t frames = FramesForMs(WAVE_TARGET_MS);
    const uint32_t target = (frames + blockFrames - 1) / blockFrames * blockFrames;
    return {target,
            blockFrames,
            WAVE_START_FILL_FRAMES,
            WAVE_SETTLING_RAISES,
            {WAVE_BAND_BLOCKS * blockFrames, WAVE_STRAY_BLOCKS * blockFrames, WAVE_WATCH_SECONDS}};
}
