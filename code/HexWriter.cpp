#include "code/HexWriter.h"

#include "code/Fields.h"

namespace veldrix {

std::string HexRecord(uint8_t type, uint16_t address, std::span<const uint8_t> data) {
    uint8_t sum = uint8_t(data.size() + (address >> 8) + (address & 0xFF) + type);
    std::string line(1, ':');
    line += Hex(uint32_t(data.size()), 2);
    line += Hex(address, 4);
    line += Hex(type, 2);
    for (uint8_t b : data) {
        line += Hex(b, 2);
        sum = uint8_t(sum + b);
    }
    return line + Hex(uint8_t(-sum), 2) + "\r\n";
}

std::string SegmentRecord(uint32_t address) {
    uint16_t segment = uint16_t((address >> 16) << 12);
    const uint8_t bytes[2] = {uint8_t(segment >> 8), uint8_t(segment)};
    return HexRecord(2, 0, bytes);
}

}  // namespace veldrix
