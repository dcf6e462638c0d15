// Programming memory: initialisation, the scrambled and paced download, the
// memory checksum and data-block reads.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/SimHost.h"
#include "state/OpCodes.h"

namespace veldrix::test {
namespace {

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + seed + (i >> 8));
    return v;
}

uint32_t Sum(const std::vector<uint8_t>& v) {
    uint32_t s = 0;
    for (uint8_t b : v) s += b;
    return s & 0xFFFF;
}

// The memory sets up its pages as they are first touched: whatever way it
// is read, a page never written reads 0xFF, and clearing forgets every write.
TEST(UnitMemory, ReadsBlankUntilWrittenWhateverWayItIsRead) {
    sim::UnitMemory memory;
    const sim::UnitMemory& view = memory;
    EXPECT_EQ(view[0x12345], 0xFF);
    memory[0x12345] = 0x5A;
    uint8_t* range = memory.Range(0x12FFE, 4);  // across a page boundary
    EXPECT_EQ(std::vector<uint8_t>(range, range + 4), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    range[3] = 0x01;
    EXPECT_EQ(view[0x13001], 0x01);
    EXPECT_EQ(memory[0x80000], 0xFF);
    std::vector<uint8_t> whole = memory;
    ASSERT_EQ(whole.size(), sim::kMemorySize);
    EXPECT_EQ(whole[0x12345], 0x5A);
    EXPECT_EQ(std::count(whole.begin(), whole.end(), 0xFF), long(sim::kMemorySize) - 2);
    EXPECT_TRUE(memory == whole);
    EXPECT_EQ(std::count(memory.begin(), memory.end(), 0xFF), long(sim::kMemorySize) - 2);
    memory.Clear();
    EXPECT_EQ(memory[0x12345], 0xFF);
    EXPECT_EQ(view[0x13001], 0xFF);
    EXPECT_FALSE(memory == whole);
}

struct Streamed {
    bool ok = true;
    int polls = 0, busyPolls = 0;
};

// The program's data phase of a download: blocks never crossing a page, a
// DSR poll of at most 50 x 1 ms whenever bits 8-15 change, the last block
// running past the end with whatever the send buffer holds.
Streamed StreamCode(SimHost& host, const std::vector<uint8_t>& send, uint32_t start, uint32_t end, uint32_t blockLength,
                    int pauseMs) {
    Streamed r;
    uint32_t a = start, mark = start, previous = end + 1;
    while (a <= end) {
        if (((a + previous) ^ mark) & 0xFF00) {
            host.Sleep(pauseMs);
            bool clear = false;
            for (int i = 0; i < 50 && !clear; ++i) {
                host.Sleep(1);
                ++r.polls;
                clear = !host.Busy();
                if (!clear) ++r.busyPolls;
            }
            if (!clear) {
                r.ok = false;
                return r;
            }
            mark = a;
        }
        uint32_t n = std::min(blockLength, 256 - (a & 0xFF));
        host.Write(std::vector<uint8_t>(send.begin() + a, send.begin() + a + n));
        a += n;
        previous = n;
    }
    return r;
}

// Initialise, announce and stream, as the download does it.
Streamed Download(SimHost& host, const std::vector<uint8_t>& code, uint32_t start, uint32_t blockLength = 16,
                  int pauseMs = 0) {
    uint32_t end = start + uint32_t(code.size()) - 1;
    host.Open(SimHost::Block(op::kReadIdentifier));
    std::string id = host.Text(8, 20);
    CommandBlock init = SimHost::Block(op::kClearArea);
    init[cb::kBlockNumber] = 0;
    host.Open(init);
    EXPECT_EQ(host.Text(5, 1500), "OK");
    std::vector<uint8_t> send(0x100000, 0xFF);
    std::vector<uint8_t> scrambled = SimHost::Scramble(code, id);
    std::copy(scrambled.begin(), scrambled.end(), send.begin() + start);
    CommandBlock announce = SimHost::Block(op::kDownload, start, end);
    announce.Put16(cb::kChecksum, Sum(code));
    announce[cb::kBlockNumber] = 0;
    EXPECT_TRUE(host.Open(announce).opened);
    host.Sleep(10);
    return StreamCode(host, send, start, end, blockLength, pauseMs);
}

// When the bytes the unit sent after the opening reach the host, in
// microseconds from the end of the opening; waits ms for them first.
std::vector<int64_t> Arrivals(SimHost& host, const CommandBlock& block, int ms) {
    host.Open(block);
    int64_t opened = int64_t(host.time.NowMicros());
    host.Sleep(ms);
    std::vector<int64_t> at;
    for (const sim::SimLine::Timed& t : host.line.toHost) at.push_back(int64_t(t.at) - opened);
    return at;
}

TEST(FirmwareMemory, InitialisationHoldsDsrAndFillsWithFF) {
    SimHost host;
    host.state.memory[0x1234] = 0x00;
    CommandBlock init = SimHost::Block(op::kClearArea);
    init[cb::kBlockNumber] = 0;
    host.Open(init);
    host.Sleep(50);
    EXPECT_TRUE(host.Busy());
    EXPECT_EQ(host.Text(5, 1500), "OK");
    EXPECT_FALSE(host.Busy());
    EXPECT_EQ(host.state.memory[0x1234], 0xFF);
}

TEST(FirmwareMemory, SlowUnitTakesLongerToInitialiseAndIsLateOnlyWithItsFirstReply) {
    SimHost host;
    // Replies then reach the host when sent, not queued behind the acknowledgement.
    host.line.byteNanos = 0;
    CommandBlock init = SimHost::Block(op::kClearArea);
    init[cb::kBlockNumber] = 0;
    CommandBlock checksum = SimHost::Block(op::kMemoryChecksum, 0, 0x7FF);
    std::vector<int64_t> initAt[2], checksumAt[2];
    for (bool slow : {false, true}) {
        host.state.vary.slow = slow;
        initAt[slow] = Arrivals(host, init, 9000);
        checksumAt[slow] = Arrivals(host, checksum, 200);
    }
    ASSERT_EQ(initAt[0].size(), 2u);
    ASSERT_EQ(initAt[1].size(), 2u);
    EXPECT_EQ(initAt[1][0] - initAt[0][0],
              int64_t(sim::kSlowMemoryInitMs - host.state.timing.memoryInitMs + sim::kSlowFirstReplyMs) * 1000);
    // Token, two addresses, sum: all of them 25 ms late, none later still.
    ASSERT_EQ(checksumAt[0].size(), 2u + 3 + 3 + 2);
    ASSERT_EQ(checksumAt[1].size(), checksumAt[0].size());
    for (size_t i = 0; i < checksumAt[0].size(); ++i)
        EXPECT_EQ(checksumAt[1][i] - checksumAt[0][i], int64_t(sim::kSlowFirstReplyMs) * 1000) << i;
}

TEST(FirmwareMemory, DownloadIsDescrambledPacedByPageAndConfirmedByTheChecksum) {
    SimHost host;
    std::vector<uint8_t> code = Pattern(0x300, 3);
    Streamed s = Download(host, code, 0x0000);
    ASSERT_TRUE(s.ok);
    // The unit held DSR at page ends, and the polls waited it out.
    EXPECT_GT(s.busyPolls, 0);
    host.Sleep(500);
    EXPECT_TRUE(std::equal(code.begin(), code.end(), host.state.memory.begin()));

    host.Open(SimHost::Block(op::kMemoryChecksum, 0, 0x2FF));
    EXPECT_EQ(host.Text(2), "OK");
    std::vector<uint32_t> progress = host.Progress(0x2FF);
    ASSERT_FALSE(progress.empty());
    EXPECT_GE(progress.back(), 0x2FFu);
    EXPECT_EQ(host.Word16(), Sum(code));

    host.Open(SimHost::Block(op::kReadMemory, 0x100, 0x1FF));
    EXPECT_EQ(host.Text(2), "OK");
    host.Sleep(200);
    EXPECT_EQ(host.Read(256), std::vector<uint8_t>(code.begin() + 0x100, code.begin() + 0x200));
    EXPECT_EQ(host.Word16(), Sum(std::vector<uint8_t>(code.begin() + 0x100, code.begin() + 0x200)));
}

TEST(FirmwareMemory, ScramblingStartsOverAtAnyStartAddressAndTheOvershootIsDropped) {
    SimHost host;
    host.state.identifier = "k3Y!9\x01\xFEq";
    std::vector<uint8_t> code = Pattern(0x42, 9);  // 0x0FFC..0x103D: a page change inside
    ASSERT_TRUE(Download(host, code, 0x0FFC, 8, 20).ok);
    host.Sleep(500);
    EXPECT_TRUE(std::equal(code.begin(), code.end(), host.state.memory.begin() + 0x0FFC));
    // The last block ran past the end; those bytes are not taken.
    EXPECT_EQ(host.state.memory[0x103E], 0xFF);
    EXPECT_EQ(host.state.memory[0x1043], 0xFF);
    // ... nor do they upset the next session.
    auto s = host.Open(SimHost::Block(op::kInfo));
    EXPECT_TRUE(s.opened);
    EXPECT_EQ(s.status, "REDY");
}

TEST(FirmwareMemory, ChecksumSendsProgressOnlyWhereTheHostReadsIt) {
    SimHost host;
    host.state.memory[0x40] = 0x12;
    // start = end: exactly one address, then the sum of that byte.
    host.Open(SimHost::Block(op::kMemoryChecksum, 0x40, 0x40));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Word24(), 0x40u);
    EXPECT_EQ(host.Word16(), 0x12u);
    EXPECT_TRUE(host.Reply(1, 5).empty());
    // start > end: the sum straight after the token.
    host.Open(SimHost::Block(op::kMemoryChecksum, 0x41, 0x40));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Word16(), 0u);
    EXPECT_TRUE(host.Reply(1, 5).empty());
    // Longer ranges: addresses rise every progress interval, and only the
    // last one reaches the end, so the sum comes right behind it. A varying
    // unit reports every 0x100, names every third address twice and rounds
    // the last one up to 0x100, but no earlier report reaches the end.
    struct Case {
        bool varied;
        uint32_t start, end;
        std::vector<uint32_t> progress;
    };
    const Case cases[] = {
        {false, 0, 0xFFF, {0x400, 0x800, 0xC00, 0xFFF}},
        {false, 0, 0x400, {0x400}},
        {false, 0, 0x800, {0x400, 0x800}},
        {false, 0x10, 0x810, {0x410, 0x810}},
        {true, 0x10, 0x4F0, {0x110, 0x210, 0x310, 0x310, 0x410, 0x500}},
        {true, 0x80, 0x380, {0x180, 0x280, 0x400}},
        {true, 0, 0x300, {0x100, 0x200, 0x300}},
        {true, 0x40, 0x40, {0x100}},
    };
    for (const Case& c : cases) {
        host.state.vary.progress = c.varied;
        host.Open(SimHost::Block(op::kMemoryChecksum, c.start, c.end));
        EXPECT_EQ(host.Text(2), "OK");
        EXPECT_EQ(host.Progress(c.end), c.progress) << std::hex << c.start << ".." << c.end;
        uint32_t sum = 0;
        for (uint32_t a = c.start; a <= c.end; ++a) sum += host.state.memory[a];
        EXPECT_EQ(host.Word16(), sum & 0xFFFF) << std::hex << c.start << ".." << c.end;
        EXPECT_TRUE(host.Reply(1, 5).empty());
    }
}

TEST(FirmwareMemory, DataBlockFollowsTheHostsPauseWithExactlyItsLengthAndSum) {
    SimHost host;
    std::vector<uint8_t> code = Pattern(16, 0x80);
    std::copy(code.begin(), code.end(), host.state.memory.begin() + 0xFFFF0);
    host.Open(SimHost::Block(op::kReadMemory, 0xFFFF0, 0xFFFFF));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_TRUE(host.Reply(1, 1).empty()) << "data came before the host's pause";
    host.Sleep(100);
    EXPECT_EQ(host.Read(16), code);
    EXPECT_EQ(host.Word16(), Sum(code));
    EXPECT_TRUE(host.Reply(1, 5).empty());
    // A reversed range is refused before any data.
    host.Open(SimHost::Block(op::kReadMemory, 0x10, 0x0F));
    EXPECT_EQ(host.Text(2), "NO");
    EXPECT_TRUE(host.Reply(1, 10).empty());
}

}  // namespace
}  // namespace veldrix::test
