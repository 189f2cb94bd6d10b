// A captured packet of any length, as the WASAPI stream gets them: cut into blocks of at most
// the stream's block length, each through ProcessBlock and handed on in order. Makes no device
// call, so the same samples in the same blocks give what the WinMM stream plays, bit for bit.
#pragma once

#include <cstdint>

// The audio thread's own buffers, blockFrames frames each.
struct PacketScratch {
    int16_t* input;
    int16_t* output;
    uint32_t blockFrames;
};

// Receives each processed block (frames frames of interleaved stereo).
using PlayBlock = void (*)(void* context, const int16_t* block, uint32_t frames);

// data: frames frames of interleaved 16-bit stereo, or null for a packet the device marked
// silent. False when ProcessBlock was: this thread was left behind inside the effect, and must
// touch nothing of the stream any more.
bool ProcessPacket(const PacketScratch& scratch, const uint8_t* data, uint32_t frames,
                   PlayBlock play, void* context);
