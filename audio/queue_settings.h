// How each system's stream holds its playback queue, named once: the live streams start their
// queues with these, and the simulated clocks of the renderer and the tests drive the same
// queue with the same values.
#pragma once

#include <cstdint>

#include "audio/drift_corrector.h"

struct QueueSettings {
    uint32_t targetFrames;    // the most frames queued at a write once the start has settled
    uint32_t blockFrames;     // the run's block
    uint32_t startFillFrames; // silence ahead of the first block
    // How many breaks in the first second raise the queue once it has stood at its target then;
    // one that never stood at it is raised at each, up to PlaybackQueue::MAX_RAISES.
    uint32_t settlingRaises;
    // The drift corrector's bypass around the level the first second left: above what the
    // reading's noise leaves after the fit and the low-pass, well inside the queue's room.
    CorrectorSettings corrector;
};

// WASAPI: the render buffer written at once at each capture period (periodFrames), its fill read
// from the padding and the time since the engine's last pass.
QueueSettings WasapiQueueSettings(uint32_t periodFrames);

// WinMM: headers of blockFrames, the fill read in whole headers.
QueueSettings WaveQueueSettings(uint32_t blockFrames);
