#include "sim/VirtualTime.h"

#include <algorithm>

namespace veldrix::sim {

namespace {
std::atomic<uint64_t> g_serials{0};
// The calling thread's waiter, and the time it takes part in (by serial, so
// a time made where an old one stood is never taken for it).
thread_local uint64_t tlTime = 0;
thread_local void* tlWaiter = nullptr;
}  // namespace

void VirtualTime::Waiter::Turn::Give() {
    // Signalled under the lock: once the taker has its turn it may leave and
    // free this turn, so nothing here may touch it after the lock is let go.
    std::lock_guard lock(mutex_);
    given_ = true;
    cv_.notify_one();
}

void VirtualTime::Waiter::Turn::Take() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return given_; });
    given_ = false;
}

VirtualTime::VirtualTime() : serial_(++g_serials) {}

VirtualTime::~VirtualTime() {
    for (Waiter* w : waiters_) delete w;
}

VirtualTime::Waiter* VirtualTime::Self() {
    if (tlTime == serial_) return static_cast<Waiter*>(tlWaiter);
    auto me = std::this_thread::get_id();
    for (Waiter* w : waiters_)
        if (w->thread == me) {
            tlTime = serial_;
            tlWaiter = w;
            return w;
        }
    return nullptr;
}

VirtualTime::Waiter* VirtualTime::Add(std::thread::id thread) {
    Waiter* w = new Waiter;
    w->thread = thread;
    w->domain = &root_;
    waiters_.push_back(w);
    return w;
}

uint64_t VirtualTime::Base(const Domain& d) const {
    // Off the lines a thread goes on at the time of the thread that ran
    // last, as everybody did when there was one clock: that thread started
    // it, or made it ready.
    return &d == &root_ ? std::max(root_.now, last_->now) : d.now;
}

uint64_t VirtualTime::Event(Waiter& w) {
    if (!w.waiting) return kNever;
    // What a waiter on a line waits for changes only when a thread runs on
    // that line: asked once, it is kept until then.
    Domain& d = *w.domain;
    if (&d != &root_ && w.asked == &d && w.askedVersion == d.version) return w.at;
    const uint64_t base = Base(d);
    w.asked = &d;
    w.askedVersion = d.version;
    if (!w.ready) return w.at = base;  // joining
    asked_ = base;
    if ((*w.ready)()) return w.at = base;
    return w.at = std::max((*w.wakeAt)(), base);
}

void VirtualTime::Changed() {
    for (auto& [key, line] : lines_) ++line->version;
}

VirtualTime::Waiter* VirtualTime::HandOn() {
    // The earliest of all, and the earliest on the line that ran last.
    Waiter* first = nullptr;
    Waiter* ours = nullptr;
    uint64_t firstAt = kNever, oursAt = kNever, fenceAt = kNever;
    for (Waiter* w : waiters_) {
        uint64_t at = Event(*w);
        if (at == kNever) continue;
        if (at < firstAt) first = w, firstAt = at;
        if (w->domain == last_ && at < oursAt) ours = w, oursAt = at;
        if (w->domain == &root_ || w->inOrder) fenceAt = std::min(fenceAt, at);
    }
    if (!first) {
        // Everybody waits without a time limit: idle until someone joins or pokes.
        running_ = std::thread::id{};
        return nullptr;
    }
    Waiter* next = first;
    uint64_t at = firstAt;
    // Another line's turn may wait a little while this one goes on, as long
    // as nobody off the lines, nor anyone reading the time, is overtaken.
    if (ours && !ours->inOrder && first->domain != last_ && first->domain != &root_ && last_ != &root_ &&
        oursAt <= firstAt + kDomainLeadMicros && oursAt < fenceAt)
        next = ours, at = oursAt;
    Domain& d = *next->domain;
    d.now = std::max(d.now, at);
    latest_ = std::max(latest_, d.now);
    last_ = &d;
    // The thread may change what its line's waiters wait for; off the
    // lines it may touch any line, and every line has got this far.
    ++d.version;
    if (&d == &root_) {
        for (auto& [key, line] : lines_) line->now = std::max(line->now, at);
        Changed();
    }
    running_ = next->thread;
    return next;
}

void VirtualTime::Pass(std::unique_lock<std::mutex>& lock, Waiter& self, Waiter* next) {
    if (next != &self) {
        lock.unlock();
        if (next) next->turn.Give();
        self.turn.Take();
        lock.lock();
    }
    self.waiting = false;
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
    self->asked = nullptr;
    Pass(lock, *self, HandOn());
    asked_ = Base(*self->domain);
    bool result = ready();
    self->ready = nullptr;
    self->wakeAt = nullptr;
    return result;
}

void VirtualTime::SleepMicros(uint64_t micros) {
    const uint64_t until = Now() + micros;
    std::function<bool()> ready = [] { return false; };
    std::function<uint64_t()> wake = [until] { return until; };
    WaitFor(ready, wake);
}

void VirtualTime::Sleep(int ms, const std::atomic<bool>* stop) {
    if (stop && stop->load()) return;
    if (ms <= 0) return;
    SleepMicros(uint64_t(ms) * 1000);
}

uint64_t VirtualTime::Now() {
    std::lock_guard lock(mutex_);
    Waiter* self = Self();
    return self ? Base(*self->domain) : latest_;
}

bool VirtualTime::OthersBehind(Waiter& self) {
    if (self.domain == &root_) return false;
    const uint64_t now = Base(*self.domain);
    for (Waiter* w : waiters_)
        if (w != &self && w->domain != self.domain && w->domain != &root_ && Event(*w) < now) return true;
    return false;
}

uint64_t VirtualTime::NowMicros() {
    {
        std::lock_guard lock(mutex_);
        Waiter* self = Self();
        if (!self) return latest_;
        if (!OthersBehind(*self)) return Base(*self->domain);
        self->inOrder = true;
    }
    // Runnable at once, but handed the turn only when no line has anything earlier.
    std::function<bool()> ready = [] { return true; };
    std::function<uint64_t()> wake = [] { return kNever; };
    WaitFor(ready, wake);
    std::lock_guard lock(mutex_);
    Waiter* self = Self();
    self->inOrder = false;
    return Base(*self->domain);
}

void VirtualTime::Enter(const void* key) {
    uint64_t at;
    {
        std::lock_guard lock(mutex_);
        Waiter* self = Self();
        if (!self) return;
        // Most calls come from a thread that is on the line already.
        if (self->domain->key == key) return;
        std::unique_ptr<Domain>& slot = lines_[key];
        if (!slot) {
            slot = std::make_unique<Domain>();
            slot->key = key;
        }
        at = Base(*self->domain);
        self->domain = slot.get();
        ++slot->version;  // the thread may change what the line's waiters wait for
        if (slot->now >= at) return;
    }
    // The line's own events up to the thread's time come first.
    std::function<bool()> ready = [] { return false; };
    std::function<uint64_t()> wake = [at] { return at; };
    WaitFor(ready, wake);
}

void VirtualTime::Join() {
    std::unique_lock lock(mutex_);
    Waiter* w = Self();
    if (w && !(w->waiting && !w->ready)) return;  // already taking part
    if (!w) w = Add(std::this_thread::get_id());
    // Picked before it came (counted in by Expect), its turn is on its way.
    Pass(lock, *w, running_ == std::thread::id{} ? HandOn() : nullptr);
}

void VirtualTime::Expect(std::thread::id thread) {
    std::lock_guard lock(mutex_);
    for (Waiter* w : waiters_)
        if (w->thread == thread) return;
    Add(thread);
}

void VirtualTime::Leave() {
    std::unique_lock lock(mutex_);
    Waiter* self = Self();
    if (!self) return;
    // What the thread did stays done: off the lines time does not go back.
    root_.now = std::max(root_.now, Base(*self->domain));
    waiters_.erase(std::find(waiters_.begin(), waiters_.end(), self));
    bool wasRunning = running_ == self->thread;
    delete self;
    tlTime = 0;
    tlWaiter = nullptr;
    if (wasRunning) {
        running_ = std::thread::id{};
        if (Waiter* next = HandOn()) {
            lock.unlock();
            next->turn.Give();
        }
    }
}

void VirtualTime::Poke() {
    std::unique_lock lock(mutex_);
    Changed();
    if (running_ != std::thread::id{}) return;
    if (Waiter* next = HandOn()) {
        lock.unlock();
        next->turn.Give();
    }
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
