#pragma once
// Small operating-system services the core needs.
#include <string>

namespace veldrix {

// dir + separator + file ("\" on Windows, "/" elsewhere); a separator already
// ending dir is not doubled.
std::string JoinPath(const std::string& dir, const std::string& file);
// The worker runs at the highest normal priority.
void RaiseCurrentThreadToTimeCritical();

}  // namespace veldrix
