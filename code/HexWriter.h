#pragma once
// The records of an Intel HEX file (the save itself is ops/MemoryHex).
#include <cstdint>
#include <span>
#include <string>

namespace veldrix {

// One record: ':' LL AAAA TT data CC and CR LF, upper-case digits.
std::string HexRecord(uint8_t type, uint16_t address, std::span<const uint8_t> data);
// The extended segment address record for the 64 KB segment of address.
std::string SegmentRecord(uint32_t address);

}  // namespace veldrix
