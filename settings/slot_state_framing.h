// The framing of a slot's kept effect state (KaWUmi.Settings03.vststate): "KWSP", the plug-in
// path's length in UTF-16 units and those units, little-endian, then the effect's state. Portable,
// so that the offline renderer reads the very files the program keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The file's bytes for state kept for the plug-in at pathUnits UTF-16 units of path.
std::vector<uint8_t> FrameSlotState(const uint16_t* path, size_t pathUnits,
                                    const std::vector<uint8_t>& state);

// The parts of a framed file: the kept path (pathUnits units at path, inside bytes) and where the
// state starts. False when bytes are not such a file, or its path is not shorter than
// maxPathUnits (so that a caller's buffer of maxPathUnits always has room for a terminator).
struct SlotStateParts {
    const uint8_t* path;
    size_t pathUnits;
    size_t stateOffset;
};
bool SplitSlotState(const std::vector<uint8_t>& bytes, size_t maxPathUnits, SlotStateParts& parts);
