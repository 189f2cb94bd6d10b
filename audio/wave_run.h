// The WinMM run's audio-thread logic, apart from the system: a captured block becomes the next
// playback block, and what the playback headers say about the device is counted. The headers
// themselves stay with the system's side, behind the narrowest seam: their state, and a write.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/audio_format.h"
#include "audio/stream_run.h"

// A playback header as the device reports it.
enum class HeaderState {
    Free,   // never written, or reset
    Queued, // written and not yet played
    Played  // given back by the device
};

struct WavePlayback {
    void* context;
    HeaderState (*state)(void* context, int index);
    // Hands header index with bytes bytes to the device; false when the device refused it.
    bool (*write)(void* context, int index, uint32_t bytes);
    // Frames the device has played since it was opened (counting on past 2^32 from 0); false
    // when it cannot tell.
    bool (*played)(void* context, uint32_t* frames);
};

struct WaveRun {
    StreamRun base;
    // The blocks the headers play, each WavePlaybackBytes(blockBytes) long, and the block
    // ProcessBlock makes before the queue hands it on.
    int16_t* playback[BUFFER_COUNT];
    int16_t* processed;
    WavePlayback device;
    // The audio thread's view of playback.
    int playIndex = 0;
    int lastWritten = -1;
    uint32_t writtenBytes[BUFFER_COUNT] = {}; // each header's last write
    uint32_t framesWritten = 0;               // since the device was opened, counting on past 2^32
    // The playback header that carried the end of the fade-out, -1 until it was written.
    std::atomic<int32_t> fadeOutHeader{-1};
};

// Starts the run's playback queue for blocks of blockFrames.
void StartWaveQueue(WaveRun& run, uint32_t blockFrames);
// How long a playback buffer is for blocks of blockBytes: the queue may hand on a little more
// than it was given.
uint32_t WavePlaybackBytes(uint32_t blockBytes);

// The one place a captured WinMM block becomes a playback block: recorded holds bytes bytes
// (whole frames). The block runs through ProcessBlock and the run's playback queue into the
// next playback buffer and is written, unless the device still holds that buffer (then it is
// dropped and counted). The first write puts the queue's target of silence ahead. A write that
// finds every header written before already played means the device ran dry: an underrun, and
// (the first times in a run) one block of silence goes ahead, so the queue holds one block more
// from then on. False when ProcessBlock was: this thread was left behind, and must touch
// nothing of the devices any more.
bool PlayCapturedBlock(WaveRun& run, const int16_t* recorded, uint32_t bytes);

// True once the header that carried the fade-out's end has been played.
bool WaveFadeOutPlayed(WaveRun& run);
