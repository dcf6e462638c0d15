#include "seams/Platform.h"

namespace veldrix {

std::string JoinPath(const std::string& dir, const std::string& file) {
    if (dir.empty() || dir.back() == '/') return dir + file;
    return dir + "/" + file;
}

// Linux gives no priority boost to an unprivileged process; the link is paced
// by the programmer anyway.
void RaiseCurrentThreadToTimeCritical() {}

}  // namespace veldrix
