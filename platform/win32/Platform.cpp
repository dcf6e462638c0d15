#include <windows.h>

#include "seams/Platform.h"

namespace veldrix {

std::string JoinPath(const std::string& dir, const std::string& file) {
    if (dir.empty() || dir.back() == '\\' || dir.back() == '/') return dir + file;
    return dir + "\\" + file;
}

void RaiseCurrentThreadToTimeCritical() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL); }

}  // namespace veldrix
