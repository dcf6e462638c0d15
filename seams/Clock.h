#pragma once
// Every pause, retry and port time-out goes through the clock, so tests can
// run on virtual time.
#include <atomic>
#include <cstdint>

namespace veldrix {

class Clock {
public:
    virtual ~Clock() = default;
    // Sleeps ms milliseconds; returns early once *stop becomes true.
    virtual void Sleep(int ms, const std::atomic<bool>* stop = nullptr) = 0;
    virtual uint64_t NowMicros() = 0;
    uint64_t NowMs() { return NowMicros() / 1000; }
    // A thread that sleeps on this clock begins or ends its work; virtual time
    // counts such threads in, the real clock ignores them.
    virtual void ThreadStarted() {}
    virtual void ThreadEnded() {}
};

}  // namespace veldrix
