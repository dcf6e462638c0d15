#pragma once
// The programmer's operation password, as the PC asks for and sends it.

namespace veldrix {

struct AppContext;

// op::kSetPassword and op::kLock.
void ChangePassword(AppContext& ctx);
void LockProgrammer(AppContext& ctx);

}  // namespace veldrix
