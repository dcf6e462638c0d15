#pragma once
// Filling the programmer's memory from an offline file in a directory block.

namespace veldrix {

struct AppContext;

// op::kCopyMaster from the chosen directory block; programmingRange ends where
// the file ends and the memory counts as checked.
void CopyMasterToMemory(AppContext& ctx);

}  // namespace veldrix
