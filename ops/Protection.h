#pragma once
// Erase and the one-shot protection and option operations (6, 9, 10, 11,
// 12, 27): one session, one two-letter verdict.

namespace veldrix {

struct AppContext;

// Runs the exchange for the operation code already in the block.
void RunProtectionOperation(AppContext& ctx);

}  // namespace veldrix
