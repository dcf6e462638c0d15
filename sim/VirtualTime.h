#pragma once
// Virtual time shared by the host code and the simulated programmer. The
// threads that take part run one at a time; time moves on only when all of
// them wait, straight to the earliest moment one of them wants to wake. Runs
// are therefore instant and deterministic, and the time they report is what
// the wire would have taken.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "seams/Clock.h"

namespace veldrix::sim {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

class VirtualTime : public Clock {
public:
    VirtualTime() = default;
    VirtualTime(const VirtualTime&) = delete;
    VirtualTime& operator=(const VirtualTime&) = delete;

    void Sleep(int ms, const std::atomic<bool>* stop = nullptr) override;
    uint64_t NowMicros() override;
    // For ready() and wakeAt() functions, which run under the lock.
    uint64_t NowMicrosUnlocked() const { return now_; }
    void SleepMicros(uint64_t micros);

    // Waits until ready() holds or the time reaches wakeAt() (both re-asked
    // whenever time moves or another participant yields). The functions run
    // under the scheduler's lock and must not call back into it. Returns
    // ready()'s last answer.
    bool WaitFor(const std::function<bool()>& ready, const std::function<uint64_t()>& wakeAt);

    // The calling thread takes part from now on (blocks until it may run).
    void Join();
    void Leave();
    // Counts another thread in before it runs, so no turn is handed out
    // without it; the thread then calls Join() as usual.
    void Expect(std::thread::id thread);
    void ThreadStarted() override { Join(); }
    void ThreadEnded() override { Leave(); }

    // Something a waiter's ready() looks at changed outside the participants
    // (for example a stop request from another thread).
    void Poke();

    // Takes part for the lifetime of the object, unless already taking part.
    class Participation {
    public:
        explicit Participation(VirtualTime& time);
        ~Participation();

    private:
        VirtualTime& time_;
        bool joined_;
    };

private:
    struct Waiter {
        std::thread::id thread;
        bool waiting = false;
        const std::function<bool()>* ready = nullptr;
        const std::function<uint64_t()>* wakeAt = nullptr;
    };
    Waiter* Self();                     // with mutex_ held
    void HandOn(std::unique_lock<std::mutex>& lock);  // picks the next runner
    bool Runnable(const Waiter& w) const;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Waiter*> waiters_;  // in joining order
    std::thread::id running_{};
    uint64_t now_ = 0;
};

}  // namespace veldrix::sim
