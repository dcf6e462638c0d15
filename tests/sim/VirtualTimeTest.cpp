// Virtual time with several lines: each line a clock of its own, a reading
// of the time in order with every line, nobody off the lines overtaken.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "sim/VirtualTime.h"

namespace veldrix {
namespace {

using sim::VirtualTime;

// Threads counted in before any of them runs; each does its part and leaves.
void RunThreads(VirtualTime& time, const std::vector<std::function<void()>>& parts) {
    std::vector<std::thread> threads;
    {
        VirtualTime::Participation hold(time);
        for (const auto& part : parts) {
            threads.emplace_back([&time, part] {
                time.Join();
                part();
                time.Leave();
            });
            time.Expect(threads.back().get_id());
        }
    }
    for (std::thread& t : threads) t.join();
}

struct Mark {
    int who;
    uint64_t at;
};

TEST(VirtualTime, LinesRunApartByNoMoreThanTheLeadAndEachKeepsItsOwnTime) {
    VirtualTime time;
    const int lineA = 0, lineB = 0;
    std::vector<Mark> marks;  // in the order the threads ran
    std::vector<uint64_t> ends(2);
    auto part = [&](int who, const void* line) {
        return [&, who, line] {
            time.Enter(line);
            for (int step = 0; step < 3000; ++step) {
                time.Sleep(1);
                marks.push_back({who, time.Now()});
            }
            ends[size_t(who)] = time.Now();
        };
    };
    RunThreads(time, {part(0, &lineA), part(1, &lineB)});
    // Each line's time is what its own thread slept.
    EXPECT_EQ(ends, (std::vector<uint64_t>{3000000, 3000000}));
    // Neither ran more than the lead ahead of the other, and one did run ahead:
    // the turn changed hands a few times, not at every step.
    uint64_t latest[2] = {0, 0};
    uint64_t apart = 0;
    size_t handOvers = 0;
    for (size_t i = 0; i < marks.size(); ++i) {
        const Mark& m = marks[i];
        latest[m.who] = m.at;
        apart = std::max(apart, m.at - std::min(m.at, latest[1 - m.who]));
        handOvers += i > 0 && marks[i - 1].who != m.who;
    }
    EXPECT_LE(apart, sim::kDomainLeadMicros + 1000);
    EXPECT_GT(apart, sim::kDomainLeadMicros / 2);
    EXPECT_LT(handOvers, 20u);
}

TEST(VirtualTime, TheTimeIsReadInOrderWithEveryLine) {
    VirtualTime time;
    const int lineA = 0, lineB = 0;
    std::vector<Mark> reads;  // in the order they were read
    auto part = [&](int who, const void* line, int stepMs) {
        return [&, who, line, stepMs] {
            time.Enter(line);
            for (int step = 1; step <= 400; ++step) {
                time.Sleep(stepMs);
                uint64_t at = time.NowMicros();
                EXPECT_EQ(at, uint64_t(step * stepMs) * 1000) << "the line's own time";
                reads.push_back({who, at});
            }
        };
    };
    RunThreads(time, {part(0, &lineA, 7), part(1, &lineB, 5)});
    ASSERT_EQ(reads.size(), 800u);
    for (size_t i = 1; i < reads.size(); ++i) EXPECT_GE(reads[i].at, reads[i - 1].at) << i;
}

TEST(VirtualTime, NoLineOvertakesAThreadOffTheLines) {
    VirtualTime time;
    const int line = 0;
    std::atomic<uint64_t> lineAt{0};
    std::vector<std::pair<uint64_t, uint64_t>> seen;  // (off the lines, the line) at each wake
    auto onLine = [&] {
        time.Enter(&line);
        for (int step = 0; step < 2000; ++step) {
            time.Sleep(1);
            lineAt = time.Now();
        }
    };
    auto offLines = [&] {
        for (int step = 0; step < 100; ++step) {
            time.Sleep(13);
            seen.push_back({time.Now(), lineAt.load()});
        }
    };
    RunThreads(time, {onLine, offLines});
    ASSERT_EQ(seen.size(), 100u);
    for (auto [off, on] : seen) {
        EXPECT_EQ(off % 13000, 0u);
        EXPECT_LE(on, off) << "the line ran past a thread off the lines";
        EXPECT_GE(on + 1000, off) << "the line lagged behind";
    }
}

}  // namespace
}  // namespace veldrix
