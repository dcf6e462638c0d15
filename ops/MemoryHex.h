#pragma once
// Programmer memory (or, in debug mode, the code buffer) over the programming
// range saved as an Intel HEX file; the records come from code/HexWriter.

namespace veldrix {

struct AppContext;

// Worker routine of op::kSaveHex.
void SaveMemoryAsHex(AppContext& ctx);

}  // namespace veldrix
