#pragma once
// Programmer memory (or, in debug mode, the code buffer) over the programming
// range as an Intel HEX file.
#include <cstdint>
#include <span>
#include <string>

namespace veldrix {

struct AppContext;

// One record: ':' LL AAAA TT data CC and CR LF, upper-case digits.
std::string HexRecord(uint8_t type, uint16_t address, std::span<const uint8_t> data);
// The extended segment address record for the 64 KB segment of address.
std::string SegmentRecord(uint32_t address);

// Worker routine of operation 47.
void SaveMemoryAsHex(AppContext& ctx);

}  // namespace veldrix
