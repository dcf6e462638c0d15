#pragma once
// Wall-clock time and sleeps for the real program. A 1 ms poll must cost about
// 1 ms even while the window is minimised, so sleeps wait on a high-resolution
// waitable timer; where there is none, on Sleep with 1 ms timer resolution.
#include <windows.h>

#include "seams/Clock.h"

namespace veldrix {

class RealClock : public Clock {
public:
    // Asks for 1 ms timer resolution for as long as the clock lives.
    RealClock();
    ~RealClock() override;
    RealClock(const RealClock&) = delete;
    RealClock& operator=(const RealClock&) = delete;

    void Sleep(int ms, const std::atomic<bool>* stop = nullptr) override;
    uint64_t NowMicros() override;
    LocalTime LocalNow() override;
    // Whether this thread sleeps on a high-resolution timer.
    static bool HighResolutionTimer();

private:
    LARGE_INTEGER frequency_{};
};

}  // namespace veldrix
