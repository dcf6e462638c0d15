#pragma once
// The operation password within a session: the PC puts it into the command
// block and reads the programmer's verdict after the session opens.
#include <string>

#include "link/Session.h"

namespace veldrix {

struct AppContext;

// The password as the unit gets it: its first 8 bytes in the system code page.
std::string PasswordBytes(const std::string& typed);
// Puts the password into the block (bytes 30-37), asking for it unless one is
// remembered for this run; false when the user cancelled.
bool AcquireOperationPassword(AppContext& ctx);
// Reads the programmer's verdict on the password after a protected session.
bool CheckPasswordReply(AppContext& ctx);
// After a reply other than "OKPWD": the unit said no to the password when
// anything came (received bytes); silence is no verdict, only a failure.
void NotePasswordRefused(AppContext& ctx, const Reply& reply, size_t received);

}  // namespace veldrix
