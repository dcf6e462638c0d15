#pragma once
// Filling the programmer's memory from inside the unit: from the chip in the
// socket or from an offline file in a directory block.

namespace veldrix {

struct AppContext;

// Operation 15 over programmingRange. The memory then no longer matches any
// file here, so it stays marked as rewritten.
void CopyChipToMemory(AppContext& ctx);
// Operation 24 from the chosen directory block; programmingRange ends where
// the file ends and the memory counts as checked.
void CopyMasterToMemory(AppContext& ctx);

}  // namespace veldrix
