#pragma once
// Time that advances only when someone sleeps: protocol tests are instant and
// the time an operation would take is measured exactly.
#include <atomic>
#include <cstdint>

#include "seams/Clock.h"

namespace veldrix {

class VirtualClock : public Clock {
public:
    void Sleep(int ms, const std::atomic<bool>* stop = nullptr) override {
        if (stop && stop->load()) return;
        if (ms > 0) now_ += uint64_t(ms) * 1000;
    }
    uint64_t NowMicros() override { return now_.load(); }
    void Advance(uint64_t micros) { now_ += micros; }

private:
    std::atomic<uint64_t> now_{0};
};

}  // namespace veldrix
