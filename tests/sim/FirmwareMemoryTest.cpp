// Programming memory: initialisation, the scrambled and paced download, the
// memory checksum and data-block reads.
#include <gtest/gtest.h>

#include "tests/support/SimHost.h"

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
    host.Open(SimHost::Block(29));
    std::string id = host.Text(8, 20);
    CommandBlock init = SimHost::Block(2);
    init[cb::kBlockNumber] = 0;
    host.Open(init);
    EXPECT_EQ(host.Text(5, 1500), "OK");
    std::vector<uint8_t> send(0x100000, 0xFF);
    std::vector<uint8_t> scrambled = SimHost::Scramble(code, id);
    std::copy(scrambled.begin(), scrambled.end(), send.begin() + start);
    CommandBlock announce = SimHost::Block(3, start, end);
    announce.Put16(cb::kChecksum, Sum(code));
    announce[cb::kBlockNumber] = 0;
    EXPECT_TRUE(host.Open(announce).opened);
    host.Sleep(10);
    return StreamCode(host, send, start, end, blockLength, pauseMs);
}

TEST(FirmwareMemory, InitialisationHoldsDsrAndFillsWithFF) {
    SimHost host;
    host.state.memory[0x1234] = 0x00;
    CommandBlock init = SimHost::Block(2);
    init[cb::kBlockNumber] = 0;
    host.Open(init);
    host.Sleep(50);
    EXPECT_TRUE(host.Busy());
    EXPECT_EQ(host.Text(5, 1500), "OK");
    EXPECT_FALSE(host.Busy());
    EXPECT_EQ(host.state.memory[0x1234], 0xFF);
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

    host.Open(SimHost::Block(4, 0, 0x2FF));
    EXPECT_EQ(host.Text(2), "OK");
    std::vector<uint32_t> progress = host.Progress(0x2FF);
    ASSERT_FALSE(progress.empty());
    EXPECT_GE(progress.back(), 0x2FFu);
    EXPECT_EQ(host.Word16(), Sum(code));

    host.Open(SimHost::Block(5, 0x100, 0x1FF));
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
    auto s = host.Open(SimHost::Block(37));
    EXPECT_TRUE(s.opened);
    EXPECT_EQ(s.status, "REDY");
}

TEST(FirmwareMemory, ChecksumSendsProgressOnlyWhereTheHostReadsIt) {
    SimHost host;
    host.state.memory[0x40] = 0x12;
    // start = end: exactly one address, then the sum of that byte.
    host.Open(SimHost::Block(4, 0x40, 0x40));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Word24(), 0x40u);
    EXPECT_EQ(host.Word16(), 0x12u);
    EXPECT_TRUE(host.Reply(1, 5).empty());
    // start > end: the sum straight after the token.
    host.Open(SimHost::Block(4, 0x41, 0x40));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Word16(), 0u);
    EXPECT_TRUE(host.Reply(1, 5).empty());
    // A long range: addresses rise every progress interval and stop at the end.
    host.Open(SimHost::Block(4, 0, 0xFFF));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Progress(0xFFF), (std::vector<uint32_t>{0x400, 0x800, 0xC00, 0xFFF}));
    EXPECT_EQ(host.Word16(), (0xFF * 0xFFF + 0x12) & 0xFFFF);
}

TEST(FirmwareMemory, DataBlockFollowsTheHostsPauseWithExactlyItsLengthAndSum) {
    SimHost host;
    std::vector<uint8_t> code = Pattern(16, 0x80);
    std::copy(code.begin(), code.end(), host.state.memory.begin() + 0xFFFF0);
    host.Open(SimHost::Block(5, 0xFFFF0, 0xFFFFF));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_TRUE(host.Reply(1, 1).empty()) << "data came before the host's pause";
    host.Sleep(100);
    EXPECT_EQ(host.Read(16), code);
    EXPECT_EQ(host.Word16(), Sum(code));
    EXPECT_TRUE(host.Reply(1, 5).empty());
    // A reversed range is refused before any data.
    host.Open(SimHost::Block(5, 0x10, 0x0F));
    EXPECT_EQ(host.Text(2), "NO");
    EXPECT_TRUE(host.Reply(1, 10).empty());
}

}  // namespace
}  // namespace veldrix::test
