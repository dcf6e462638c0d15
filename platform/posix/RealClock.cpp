#include "platform/posix/RealClock.h"

#include <time.h>

#include <chrono>
#include <thread>

namespace veldrix {

void RealClock::Sleep(int ms, const std::atomic<bool>* stop) {
    using namespace std::chrono;
    auto until = steady_clock::now() + milliseconds(ms);
    for (;;) {
        if (stop && stop->load()) return;
        auto left = until - steady_clock::now();
        if (left <= steady_clock::duration::zero()) return;
        std::this_thread::sleep_for(std::min<steady_clock::duration>(left, milliseconds(10)));
    }
}

uint64_t RealClock::NowMicros() {
    using namespace std::chrono;
    return uint64_t(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

LocalTime RealClock::LocalNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return LocalTimeAt(int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000, int(local.tm_gmtoff / 60));
}

}  // namespace veldrix
