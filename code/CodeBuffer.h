#pragma once
// The code image's checksum and the programming range taken from the
// address fields.
#include <cstdint>
#include <span>

namespace veldrix {

struct AppContext;

// 16-bit sum of the bytes from start to end inclusive; 0 when start > end.
// An end beyond the image is cut to its last byte.
uint16_t CodeChecksum(std::span<const uint8_t> image, uint32_t start, uint32_t end);
uint16_t CodeChecksum(const AppContext& ctx, uint32_t start, uint32_t end);

// Start and end address fields into ctx.programmingRange, both cut to 16 bits;
// -1 when a field holds something that is not hexadecimal text.
int ReadProgrammingRange(AppContext& ctx);

}  // namespace veldrix
