#pragma once
// Virtual time shared by the host code and the simulated programmer. The
// threads that take part run one at a time; time moves on only when all of
// them wait, straight to the earliest moment one of them wants to wake. Runs
// are therefore instant and deterministic, and the time they report is what
// the wire would have taken.
//
// Each simulated line is a domain with a clock of its own: the host and the
// unit on one line keep strict order, while another line, which shares
// nothing with it but what the program guards itself, may be up to
// kDomainLeadMicros behind or ahead. Threads on no line (a test's, the
// command line's main thread) keep strict order with every line, and so
// does every reading of the time through the Clock. Without a second line
// nothing changes; with sixteen, a line keeps the turn for a while instead
// of handing it on at every byte of every other line. A waiter's functions
// are asked again only when a thread has run on its line (or anything was
// poked), so a hand-on does not ask every unit about its queues.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "seams/Clock.h"

namespace veldrix::sim {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
constexpr uint64_t kDomainLeadMicros = 1000000;

class VirtualTime : public Clock {
public:
    VirtualTime();
    ~VirtualTime() override;
    VirtualTime(const VirtualTime&) = delete;
    VirtualTime& operator=(const VirtualTime&) = delete;

    void Sleep(int ms, const std::atomic<bool>* stop = nullptr) override;
    // The calling thread's time; for a thread that takes no part, the
    // latest any line has reached.
    uint64_t Now();
    // The same, read in order: a thread ahead of another line first lets it
    // catch up, so what the program stamps with the time (the command
    // line's events, the records) comes out in the order it happened. Such
    // a reading costs every line behind a turn: read it only to show it.
    uint64_t NowMicros() override;
    // For ready() and wakeAt() functions, which run under the lock: the time
    // of the waiter they are asked for.
    uint64_t NowMicrosUnlocked() const { return asked_; }
    void SleepMicros(uint64_t micros);

    // Waits until ready() holds or the time reaches wakeAt(). Both are asked
    // again after a thread ran on the waiter's line (any thread, for a waiter
    // on no line) or after Poke(), so they may look only at what such a
    // thread changes. They run under the scheduler's lock and must not call
    // back into it. Returns ready()'s last answer.
    bool WaitFor(const std::function<bool()>& ready, const std::function<uint64_t()>& wakeAt);

    // The calling thread works on the line named by key from now on. A line
    // that lags the thread first catches up with it.
    void Enter(const void* key);

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
    struct Domain {
        uint64_t now = 0;
        uint64_t version = 0;  // moves on whenever a thread may have changed the line
        const void* key = nullptr;
    };
    struct Waiter {
        std::thread::id thread;
        bool waiting = true;
        const std::function<bool()>* ready = nullptr;
        const std::function<uint64_t()>* wakeAt = nullptr;
        Domain* domain = nullptr;
        bool inOrder = false;  // waits to read the time: no line may pass it
        // When it may run, as last asked, and where.
        uint64_t at = kNever;
        const Domain* asked = nullptr;
        uint64_t askedVersion = 0;
        // Each waits on its own: a turn handed on wakes only the thread that
        // gets it, and only once the scheduler's lock is free for it.
        class Turn {
        public:
            void Give();
            void Take();

        private:
            std::mutex mutex_;
            std::condition_variable cv_;
            bool given_ = false;
        } turn;
    };
    // All below with mutex_ held.
    Waiter* Self();
    Waiter* Add(std::thread::id thread);
    uint64_t Base(const Domain& d) const;  // a waiter's time in d
    uint64_t Event(Waiter& w);             // when w may run next; kNever: not by time
    Waiter* HandOn();                      // picks the next runner, if any
    bool OthersBehind(Waiter& self);       // another line has something earlier
    void Changed();                        // something outside the turns changed: ask again
    // Wakes next (unless it is self), and unless self was just picked waits for its turn.
    void Pass(std::unique_lock<std::mutex>& lock, Waiter& self, Waiter* next);

    std::mutex mutex_;
    std::vector<Waiter*> waiters_;  // in joining order
    std::thread::id running_{};
    Domain root_;                   // threads on no line
    std::unordered_map<const void*, std::unique_ptr<Domain>> lines_;
    Domain* last_ = &root_;         // whose thread ran last
    uint64_t latest_ = 0;           // the latest time any domain reached
    uint64_t asked_ = 0;
    const uint64_t serial_;
};

}  // namespace veldrix::sim
