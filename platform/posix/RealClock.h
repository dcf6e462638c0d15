#pragma once
#include "seams/Clock.h"

namespace veldrix {

// Sleeps in short slices so a stop request ends a sleep within milliseconds.
class RealClock : public Clock {
public:
    void Sleep(int ms, const std::atomic<bool>* stop = nullptr) override;
    uint64_t NowMicros() override;
    LocalTime LocalNow() override;
};

}  // namespace veldrix
