#pragma once
// The programmer's operation password, as the PC asks for and sends it.

namespace veldrix {

struct AppContext;

// Operation 23 and 25.
void ChangePassword(AppContext& ctx);
void LockProgrammer(AppContext& ctx);

}  // namespace veldrix
