#include "settings/slot_state_framing.h"

#include <cstring>

#include "platform/little_endian.h"

namespace {

constexpr char FILE_MAGIC[4] = {'K', 'W', 'S', 'P'};
constexpr size_t HEADER_BYTES = 8;

} // namespace

std::vector<uint8_t> FrameSlotState(const uint16_t* path, size_t pathUnits,
                                    const std::vector<uint8_t>& state) {
    std::vector<uint8_t> bytes(FILE_MAGIC, FILE_MAGIC + sizeof FILE_MAGIC);
    Put32(bytes, static_cast<uint32_t>(pathUnits));
    for (size_t i = 0; i < pathUnits; ++i) {
        bytes.push_back(static_cast<uint8_t>(path[i]));
        bytes.push_back(static_cast<uint8_t>(path[i] >> 8));
    }
    bytes.insert(bytes.end(), state.begin(), state.end());
    return bytes;
}

bool SplitSlotState(const std::vector<uint8_t>& bytes, size_t maxPathUnits, SlotStateParts& parts) {
    if (bytes.size() < HEADER_BYTES ||
        std::memcmp(bytes.data(), FILE_MAGIC, sizeof FILE_MAGIC) != 0) {
        return false;
    }
    const size_t pathUnits = Get32(bytes.data() + sizeof FILE_MAGIC);
    if (pathUnits >= maxPathUnits || (bytes.size() - HEADER_BYTES) / 2 < pathUnits) {
        return false;
    }
    parts = {bytes.data() + HEADER_BYTES, pathUnits, HEADER_BYTES + 2 * pathUnits};
    return true;
}
