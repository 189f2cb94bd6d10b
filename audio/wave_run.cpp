#include "audio/wave_run.h"

#include <cstring>

#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "platform/platform.h"

namespace {

void Write(WaveRun& run, int index, uint32_t bytes) {
    if (!run.device.write(run.device.context, index, bytes)) {
        run.base.deviceCallFailed.store(1);
    }
    run.lastWritten = index;
}

// Plays the block in buffer index, which the device has given back (or never had); returns
// the next free index. A header given back is the sign that playback moves: a device that went
// away may go on taking blocks without ever giving one back.
int WritePlayback(WaveRun& run, int index, uint32_t bytes, uint32_t now) {
    run.base.playbackProgressTick.store(now);
    const bool ranDry =
        run.lastWritten >= 0 &&
        run.device.state(run.device.context, run.lastWritten) == HeaderState::Played;
    if (ranDry) {
        CountUnderrun(run.base);
    }
    const int next = (index + 1) % BUFFER_COUNT;
    if (ranDry && !run.cushioned &&
        run.device.state(run.device.context, next) != HeaderState::Queued) {
        run.cushioned = true;
        std::memcpy(run.playback[next], run.playback[index], bytes);
        std::memset(run.playback[index], 0, bytes);
        Write(run, index, bytes);
        index = next;
    }
    Write(run, index, bytes);
    NoteBlockPlayed(run.base);
    // The block that carried the fade-out's end is what a stop waits to have been played.
    if (FadeOutEnded(fadePair.load()) && run.fadeOutHeader.load() < 0) {
        run.fadeOutHeader.store(index);
    }
    return (index + 1) % BUFFER_COUNT;
}

} // namespace

bool PlayCapturedBlock(WaveRun& run, const int16_t* recorded, uint32_t bytes) {
    const int index = run.playIndex;
    if (run.device.state(run.device.context, index) == HeaderState::Queued) {
        CountOverrun(run.base);
        return true;
    }
    if (bytes == 0) {
        return true;
    }
    if (!ProcessBlock(recorded, bytes, run.playback[index])) {
        return false;
    }
    const uint32_t done = TickCount();
    run.base.lastCaptureTick.store(done); // alive after a long block too
    run.playIndex = WritePlayback(run, index, bytes, done);
    return true;
}

bool WaveFadeOutPlayed(WaveRun& run) {
    const int32_t header = run.fadeOutHeader.load();
    return header >= 0 && run.device.state(run.device.context, header) == HeaderState::Played;
}
