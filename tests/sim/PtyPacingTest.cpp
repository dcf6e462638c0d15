// The simulated programmer's pseudo-terminal, paced: a serial line both ways
// at the rate and frame the host set. On the real clock, so only lower
// bounds are checked: a slow machine cannot break them, a line that carries
// bytes faster than it could does.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/posix/PosixPort.h"
#include "sim/PtyDeviceIo.h"

namespace veldrix {
namespace {

uint64_t NowNanos() {
    using namespace std::chrono;
    return uint64_t(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

struct PacedLine {
    sim::PtyDeviceIo unit{true};
    PosixPort host;
    PacedLine() {
        EXPECT_TRUE(unit.Ok());
        EXPECT_TRUE(host.Open(unit.SlavePath()));
        EXPECT_TRUE(host.SetLine("baud=38400 parity=E data=8 stop=1"));
    }
    // Everything the host sent, as the unit takes it in.
    size_t Drain(size_t count) {
        size_t got = 0;
        uint8_t byte;
        while (got < count && unit.ReadByte(byte, 1000)) ++got;
        return got;
    }
};

TEST(PtyPacing, TheLineRunsAtTheRateAndFrameTheHostSet) {
    PacedLine line;
    EXPECT_EQ(line.unit.ByteNanos(), 11ull * 1000000000ull / 38400);
    ASSERT_TRUE(line.host.SetLine("baud=9600 parity=N data=8 stop=2"));
    // A pseudo-terminal carries no parity: the unit counts its own bit.
    EXPECT_EQ(line.unit.ByteNanos(), (1 + 8 + 1 + 2) * 1000000000ull / 9600);
}

TEST(PtyPacing, BytesTakeTheirLineTimeBothWays) {
    PacedLine line;
    const uint64_t byte = line.unit.ByteNanos();
    std::vector<uint8_t> bytes(200);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i);

    uint64_t t0 = NowNanos();
    ASSERT_EQ(line.host.Write(bytes.data(), bytes.size()), bytes.size());
    std::vector<uint8_t> in;
    uint8_t b;
    while (in.size() < bytes.size() && line.unit.ReadByte(b, 1000)) in.push_back(b);
    EXPECT_GE(NowNanos() - t0, bytes.size() * byte) << "the host's bytes came faster than the line carries them";
    EXPECT_EQ(in, bytes);

    t0 = NowNanos();
    line.unit.Write(bytes.data(), bytes.size());
    std::vector<uint8_t> out(bytes.size());
    size_t got = 0;
    while (got < out.size() && NowNanos() - t0 < 5000000000ull) got += line.host.Read(out.data() + got, out.size() - got);
    EXPECT_GE(NowNanos() - t0, bytes.size() * byte) << "the unit's bytes came faster than the line carries them";
    EXPECT_EQ(out, bytes);
    EXPECT_GE(line.unit.SentMicros() * 1000, t0 + bytes.size() * byte);
}

TEST(PtyPacing, TheHostRunsAQueuesLengthAheadOfTheLineAtMost) {
    PacedLine line;
    const uint64_t byte = line.unit.ByteNanos();
    // A download's pace: 16-byte blocks, a page of them, then a look at the
    // busy line (a millisecond each). Once a queue's length is on the line
    // the writes wait, so the last returns no sooner than the line has
    // carried all but that and the page or two that came in a burst. A write
    // held 40 ms is let through before it would give up, which a loaded
    // machine makes happen more often: the unit counts what went past the
    // queue that way, and the bound leaves that out. The upper bound is the
    // real clock's and a loaded machine can miss it, so a write cut short
    // sends its rest: only the lower bound is this test's.
    const size_t total = 2048;
    std::vector<uint8_t> block(16, 0xA5);
    uint64_t t0 = NowNanos();
    for (size_t sent = 0; sent < total; sent += block.size()) {
        size_t put = 0;
        for (int tries = 0; put < block.size() && tries < 50; ++tries)
            put += line.host.Write(block.data() + put, block.size() - put);
        ASSERT_EQ(put, block.size());
        if ((sent + block.size()) % 256 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const size_t past = line.unit.PastTheQueue();
    ASSERT_LE(past, total);
    EXPECT_GE(NowNanos() - t0, (total - std::min(total, sim::PtyDeviceIo::kHostQueue + 512 + past)) * byte)
        << past << " bytes went past the queue";
    EXPECT_EQ(line.Drain(total), total);
}

}  // namespace
}  // namespace veldrix
