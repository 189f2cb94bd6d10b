#include "audio/wave_run.h"

#include <cstring>

#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "audio/stream_meters.h"
#include "platform/platform.h"

namespace {

void Write(WaveRun& run, int index, uint32_t bytes) {
    if (run.device.write(run.device.context, index, bytes)) {
        run.framesWritten += bytes / BLOCK_ALIGN;
    } else {
        run.base.deviceCallFailed.store(1);
    }
    run.writtenBytes[index] = bytes;
    run.lastWritten = index;
}

// What the device holds: the frames written and not yet played as its position tells, never
// more than the headers it has not given back (which it gives back in bursts, so they alone
// read a block high half the time).
uint32_t HeldFrames(const WaveRun& run) {
    uint32_t bytes = 0;
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        if (run.device.state(run.device.context, i) == HeaderState::Queued) {
            bytes += run.writtenBytes[i];
        }
    }
    const uint32_t queued = bytes / BLOCK_ALIGN;
    uint32_t played = 0;
    if (run.device.played == nullptr || !run.device.played(run.device.context, &played)) {
        return queued;
    }
    const uint32_t unplayed = run.framesWritten - played;
    return unplayed < queued ? unplayed : queued;
}

// Puts frames of silence ahead, a block's length a header, while headers are free; returns the
// next free index.
int PutSilenceAhead(WaveRun& run, int index, uint32_t frames, uint32_t blockFrames) {
    while (frames > 0 && run.device.state(run.device.context, index) != HeaderState::Queued) {
        const uint32_t part = frames < blockFrames ? frames : blockFrames;
        std::memset(run.playback[index], 0, part * BLOCK_ALIGN);
        Write(run, index, part * BLOCK_ALIGN);
        frames -= part;
        index = (index + 1) % BUFFER_COUNT;
    }
    return index;
}

// Plays the processed block through the queue in buffer index, which the device has given
// back (or never had); returns the next free index. A header given back is the sign that
// playback moves: a device that went away may go on taking blocks without ever giving one back.
int WritePlayback(WaveRun& run, int index, uint32_t bytes, uint32_t now) {
    run.base.playbackProgressTick.store(now);
    const uint32_t frames = bytes / BLOCK_ALIGN;
    const bool ranDry =
        run.lastWritten >= 0 &&
        run.device.state(run.device.context, run.lastWritten) == HeaderState::Played;
    if (ranDry) {
        CountUnderrun(run.base);
    }
    uint32_t silence = run.base.queue.TakeStartFill();
    if (ranDry && run.base.queue.Raise(frames)) {
        silence += frames;
    }
    index = PutSilenceAhead(run, index, silence, frames);
    const uint32_t held = HeldFrames(run);
    if (run.device.state(run.device.context, index) == HeaderState::Queued) {
        CountOverrun(run.base);
        return index;
    }
    const uint32_t out = run.base.queue.Process(run.processed, frames, held, run.playback[index]);
    MeterQueue({held, run.base.queue.TargetFrames(), run.base.queue.ShownClockRatioPpm(),
                run.base.queue.AppliedPpm(), frames});
    if (run.base.queue.SplicedFrames() != 0) {
        CountOverrun(run.base);
    }
    if (out == 0) {
        return index;
    }
    Write(run, index, out * BLOCK_ALIGN);
    NoteBlockPlayed(run.base);
    // The block that carried the fade-out's end is what a stop waits to have been played.
    if (FadeOutEnded(fadePair.load()) && run.fadeOutHeader.load() < 0) {
        run.fadeOutHeader.store(index);
    }
    return (index + 1) % BUFFER_COUNT;
}

} // namespace

void StartWaveQueue(WaveRun& run, uint32_t blockFrames) {
    run.base.queue.Start(WaveQueueSettings(blockFrames));
}

uint32_t WavePlaybackBytes(uint32_t blockBytes) {
    return PlaybackQueue::MaxOutputFrames(blockBytes / BLOCK_ALIGN) * BLOCK_ALIGN;
}

bool PlayCapturedBlock(WaveRun& run, const int16_t* recorded, uint32_t bytes) {
    const int index = run.playIndex;
    if (run.device.state(run.device.context, index) == HeaderState::Queued) {
        CountOverrun(run.base);
        return true;
    }
    if (bytes == 0) {
        return true;
    }
    if (!ProcessBlock(recorded, bytes, run.processed)) {
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
