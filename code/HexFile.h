#pragma once
// Intel HEX code files into the code buffer.
#include <cstdint>
#include <string>
#include <string_view>

namespace veldrix {

struct AppContext;

// One past the highest address written by a record that started at or above
// the previous highest end; 0 on failure (LinkErrorFlag raised) or when no
// data record was found.
uint32_t LoadHexFile(AppContext& ctx, const std::string& path);

enum class HexStatus { Ok, LineChecksum, OutOfBuffer };
// The records of HEX text into a 1 MiB image (not filled first); highestEnd as
// LoadHexFile returns it, never beyond the image. Stops at the first line
// whose checksum fails or whose data would lie beyond the image.
HexStatus ParseHexText(std::string_view text, uint8_t* image, uint32_t& highestEnd);

}  // namespace veldrix
