// The output's mute: on, the sound fades out as a stop's does (0.1 s) and stays silent while
// the stream runs on; off, it fades back in as a start's does (1 s). Applied to every block
// after the fade ramp; at full level it leaves the block untouched.
#pragma once

#include <cstdint>

// Any thread; takes effect from the next block.
void SetOutputMuted(bool muted);
bool OutputMuted();

// Audio thread: scales the first `samples` samples of an interleaved block frame by frame,
// moving the level toward the mute's wish.
void ApplyMuteRamp(int16_t* buffer, uint32_t samples);

// Unmuted and at full level, as at program start (the renderer and tests).
void ResetMuteRamp();
