#include "sim/VirtualTime.h"

#include <algorithm>

namespace veldrix::sim {

VirtualTime::Waiter* VirtualTime::Self() {
    auto me = std::this_thread::get_id();
    for (Waiter* w : waiters_)
        if (w->thread == me) return w;
    return nullptr;
}

bool VirtualTime::Runnable(const Waiter& w) const {
    if (!w.waiting) return false;
    if (!w.ready) return true;  // joining
    return (*w.ready)() || (*w.wakeAt)() <= now_;
}

void VirtualTime::HandOn(std::unique_lock<std::mutex>&) {
    for (;;) {
        for (Waiter* w : waiters_)
            if (Runnable(*w)) {
                running_ = w->thread;
                cv_.notify_all();
                return;
            }
        uint64_t next = kNever;
        for (Waiter* w : waiters_)
            if (w->waiting && w->wakeAt) next = std::min(next, (*w->wakeAt)());
        if (next == kNever) {
            // Everybody waits without a time limit: idle until someone joins or pokes.
            running_ = std::thread::id{};
            return;
        }
        now_ = std::max(now_, next);
    }
}

bool VirtualTime::WaitFor(const std::function<bool()>& ready, const std::function<uint64_t()>& wakeAt) {
    std::unique_lock lock(mutex_);
    Waiter* self = Self();
    if (!self) {
        // Not a participant: take part for this one wait.
        lock.unlock();
        Participation part(*this);
        return WaitFor(ready, wakeAt);
    }
    self->waiting = true;
    self->ready = &ready;
    self->wakeAt = &wakeAt;
    HandOn(lock);
    cv_.wait(lock, [&] { return running_ == self->thread; });
    self->waiting = false;
    bool result = ready();
    self->ready = nullptr;
    self->wakeAt = nullptr;
    return result;
}

void VirtualTime::SleepMicros(uint64_t micros) {
    uint64_t until;
    {
        std::lock_guard lock(mutex_);
        until = now_ + micros;
    }
    std::function<bool()> ready = [] { return false; };
    std::function<uint64_t()> wake = [until] { return until; };
    WaitFor(ready, wake);
}

void VirtualTime::Sleep(int ms, const std::atomic<bool>* stop) {
    if (stop && stop->load()) return;
    if (ms <= 0) return;
    SleepMicros(uint64_t(ms) * 1000);
}

uint64_t VirtualTime::NowMicros() {
    std::lock_guard lock(mutex_);
    return now_;
}

void VirtualTime::Join() {
    std::unique_lock lock(mutex_);
    Waiter* w = Self();
    if (w && !(w->waiting && !w->ready)) return;  // already taking part
    if (!w) {
        w = new Waiter{std::this_thread::get_id(), true, nullptr, nullptr};
        waiters_.push_back(w);
    }
    if (running_ == std::thread::id{}) HandOn(lock);
    cv_.wait(lock, [&] { return running_ == w->thread; });
    w->waiting = false;
}

void VirtualTime::Expect(std::thread::id thread) {
    std::lock_guard lock(mutex_);
    for (Waiter* w : waiters_)
        if (w->thread == thread) return;
    waiters_.push_back(new Waiter{thread, true, nullptr, nullptr});
}

void VirtualTime::Leave() {
    std::unique_lock lock(mutex_);
    Waiter* self = Self();
    if (!self) return;
    waiters_.erase(std::find(waiters_.begin(), waiters_.end(), self));
    bool wasRunning = running_ == self->thread;
    delete self;
    if (wasRunning) {
        running_ = std::thread::id{};
        HandOn(lock);
    }
}

void VirtualTime::Poke() {
    std::unique_lock lock(mutex_);
    if (running_ == std::thread::id{}) HandOn(lock);
}

VirtualTime::Participation::Participation(VirtualTime& time) : time_(time) {
    {
        std::lock_guard lock(time_.mutex_);
        joined_ = time_.Self() == nullptr;
    }
    if (joined_) time_.Join();
}

VirtualTime::Participation::~Participation() {
    if (joined_) time_.Leave();
}

}  // namespace veldrix::sim
