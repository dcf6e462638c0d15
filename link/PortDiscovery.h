#pragma once
// Finding the adapter's ports and the programmer behind one of them.
#include <string>

namespace veldrix {

struct AppContext;

int DiscoverPorts(AppContext& ctx);
bool OpenPort(AppContext& ctx, const std::string& name);
void ConnectProgrammer(AppContext& ctx);
bool IsPortStillPresent(AppContext& ctx);
// The remembered port is among those the last discovery listed.
bool RememberedPortListed(AppContext& ctx);

}  // namespace veldrix
