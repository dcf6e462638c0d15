#pragma once
// Intel HEX code files into the code buffer.
#include <cstdint>
#include <string>

namespace veldrix {

struct AppContext;

// One past the highest address written by a record that started at or above
// the previous highest end; 0 on failure (LinkErrorFlag raised) or when no
// data record was found.
uint32_t LoadHexFile(AppContext& ctx, const std::string& path);

}  // namespace veldrix
