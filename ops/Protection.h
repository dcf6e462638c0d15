#pragma once
// Erase and the one-shot protection and option operations (op::kEraseMtp,
// kSmart, kSmartDebug, kReadProtect, kLdcProtect, kHardwareProtect): one
// session, one two-letter verdict.

namespace veldrix {

struct AppContext;

// Runs the exchange for the operation code already in the block.
void RunProtectionOperation(AppContext& ctx);

}  // namespace veldrix
