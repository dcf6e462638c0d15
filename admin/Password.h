#pragma once
// The programmer's operation password, as the PC asks for and sends it.

namespace veldrix {

struct AppContext;

// Puts the password into the block (bytes 30-37), asking for it unless one is
// remembered for this run; false when the user cancelled.
bool AcquireOperationPassword(AppContext& ctx);
// Reads the programmer's verdict on the password after a protected session.
bool CheckPasswordReply(AppContext& ctx);
// Operation 23 and 25.
void ChangePassword(AppContext& ctx);
void LockProgrammer(AppContext& ctx);

}  // namespace veldrix
