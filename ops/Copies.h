#pragma once
// Filling the programmer's memory from inside the unit: from the chip in the
// socket here, from an offline file in admin/MasterCopy with the steps below.
#include <cstdint>

namespace veldrix {

struct AppContext;

// op::kCopyChip over programmingRange. The memory then no longer matches any
// file here, so it stays marked as rewritten.
void CopyChipToMemory(AppContext& ctx);

// Asks before the programming memory changes; false (status: aborted) to stop.
bool ConfirmMemoryChange(AppContext& ctx);
// op::kClearArea on the programming memory; true when the unit answered "OK".
bool InitialiseMemory(AppContext& ctx, int tries);
// Progress addresses, each after a pause, until one reaches end; false when a
// read failed first.
bool FollowCopy(AppContext& ctx, const char* text, uint32_t end, int pauseMs);

}  // namespace veldrix
