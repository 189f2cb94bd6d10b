#include "audio/packet_processing.h"

#include <cstring>

#include "audio/audio_format.h"
#include "audio/block_processing.h"

bool ProcessPacket(const PacketScratch& scratch, const uint8_t* data, uint32_t frames,
                   PlayBlock play, void* context) {
    for (uint32_t done = 0; done < frames;) {
        const uint32_t remaining = frames - done;
        const uint32_t block = remaining < scratch.blockFrames ? remaining : scratch.blockFrames;
        const uint32_t bytes = block * BLOCK_ALIGN;
        if (data != nullptr) {
            std::memcpy(scratch.input, data + done * BLOCK_ALIGN, bytes);
        } else {
            std::memset(scratch.input, 0, bytes);
        }
        if (!ProcessBlock(scratch.input, bytes, scratch.output)) {
            return false;
        }
        play(context, scratch.output, block);
        done += block;
    }
    return true;
}
