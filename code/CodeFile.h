#pragma once
// Choosing the code file and loading it by its extension.
#include <cstdint>
#include <string>

namespace veldrix {

struct AppContext;

// Open-file dialog; true when a file was chosen (the code-file field then
// holds its full path).
bool ChooseCodeFile(AppContext& ctx);
// Loads the file the code-file field names; on success sets programmingRange
// and the start, end and checksum fields. Failures raise LinkErrorFlag.
void LoadCodeFile(AppContext& ctx);
// Raw image from address 0; the byte count, 0 on failure or for a file that
// does not fit the 1 MB buffer.
uint32_t LoadBinFile(AppContext& ctx, const std::string& path);

}  // namespace veldrix
