#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>

#include "state/ControlIds.h"
#include "link/PortDiscovery.h"
#include "link/Session.h"
#include "tests/support/TestApp.h"
#include "state/OpCodes.h"

namespace veldrix {
namespace {

// A port whose replies are queued by the test; reads take what is there.
class ScriptedPort : public Port {
public:
    std::deque<uint8_t> replies;
    std::vector<uint8_t> written;
    bool open = true;
    bool queuesOk = true;
    bool timeoutsOk = true;
    bool lineOk = true;
    std::optional<uint32_t> modem = 0;  // nullopt: the request fails

    void Queue(const std::string& bytes) { replies.insert(replies.end(), bytes.begin(), bytes.end()); }
    bool Open(const std::string&) override { return open; }
    void Close() override { open = false; }
    bool IsOpen() override { return open; }
    bool queuesCloseIt = false;  // a failed queue call closes the port, as a pulled adapter's does
    int purgeRefusals = 0;
    int purges = 0;
    bool SetQueues(size_t, size_t) override {
        if (!queuesOk && queuesCloseIt) open = false;
        return queuesOk;
    }
    bool SetTimeouts(const PortTimeouts&) override { return timeoutsOk; }
    bool Purge() override {
        ++purges;
        return purgeRefusals-- <= 0;
    }
    bool SetLine(const std::string&) override { return lineOk; }
    std::optional<uint32_t> ModemStatus() override { return modem; }
    bool drains = true;
    std::vector<std::string> calls;  // the transmit-side calls, in order
    bool ArmTransmitEmpty() override {
        calls.push_back("arm");
        return true;
    }
    bool WaitTransmitEmpty(int timeoutMs) override {
        calls.push_back("wait " + std::to_string(timeoutMs));
        return drains;
    }
    size_t Read(uint8_t* buffer, size_t count) override {
        size_t n = 0;
        while (n < count && !replies.empty()) {
            buffer[n++] = replies.front();
            replies.pop_front();
        }
        return n;
    }
    size_t Write(const uint8_t* data, size_t count) override {
        written.insert(written.end(), data, data + count);
        calls.push_back("write " + std::to_string(count));
        return count;
    }
};

struct ScriptedApp : test::TestAppOf<> {
    ScriptedPort wire;
    AppContext linked{ui, clock, settings, wire, ports};
    ScriptedApp() { CreateControls(); }
    std::string Status() { return ui.GetText(id::kStatusLine); }
};

const std::string kAck(38, 'A');

TEST(SessionReplies, AnyAcknowledgementOfFullLengthOpensTheSession) {
    // The unit's 38 bytes are its own: nothing says they echo the block.
    ScriptedApp app;
    app.linked.block.SetOpCode(op::kMemoryChecksum);
    app.wire.Queue(std::string(38, 'B') + "RDY!");
    EXPECT_TRUE(OpenSession(app.linked));
    EXPECT_EQ(app.linked.LinkErrorFlag, 0);
    EXPECT_EQ(app.linked.block.OpCode(), op::kMemoryChecksum);
    // The wait is armed before the block goes, and bounded.
    EXPECT_EQ(app.wire.calls, (std::vector<std::string>{"arm", "write 38", "wait 1000"}));

    // Cut short, it fails the session; the block goes back to its plain code.
    ScriptedApp shortAck;
    shortAck.linked.block.SetOpCode(op::kMemoryChecksum);
    shortAck.linked.AutoRunMarker = 30;
    shortAck.wire.Queue(std::string(37, 'B'));
    EXPECT_FALSE(OpenSession(shortAck.linked));
    EXPECT_EQ(shortAck.linked.LinkErrorFlag, 1);
    EXPECT_EQ(shortAck.linked.AutoRunMarker, 0);
    EXPECT_EQ(shortAck.Status(), "编程器连接错误,编程器可能正忙,请稍候再试!");
    EXPECT_EQ(shortAck.linked.block.OpCode(), op::kMemoryChecksum);

    // A transmit queue that never drains fails the exchange; nothing is read.
    ScriptedApp stuck;
    stuck.linked.block.SetOpCode(op::kMemoryChecksum);
    stuck.wire.drains = false;
    stuck.wire.Queue(std::string(38, 'B') + "RDY!");
    EXPECT_FALSE(OpenSession(stuck.linked));
    EXPECT_EQ(stuck.linked.LinkErrorFlag, 1);
    EXPECT_EQ(stuck.Status(), "编程器连接错误,编程器可能正忙,请稍候再试!");
    EXPECT_EQ(stuck.wire.replies.size(), 42u);
}

TEST(SessionReplies, AStatusWordThatNeverArrivesStillOpensTheSession) {
    ScriptedApp app;
    app.linked.block.SetOpCode(op::kMemoryChecksum);
    app.wire.Queue(kAck);
    EXPECT_TRUE(OpenSession(app.linked));
    EXPECT_EQ(app.linked.LinkErrorFlag, 1);
    // Ten tries of 30 ms for the first byte, after the 100 ms pause and 1 ms poll.
    EXPECT_GE(app.clock.NowMs(), 401u);
}

TEST(SessionReplies, LockRefusesAllButProbePasswordAndLock) {
    for (int op : {op::kProbe, op::kSetPassword, op::kLock}) {
        ScriptedApp app;
        app.linked.block.SetOpCode(uint8_t(op));
        app.wire.Queue(kAck + "LOCK");
        EXPECT_TRUE(OpenSession(app.linked)) << op;
        EXPECT_EQ(app.linked.block[cb::kLockState], 0) << op;
    }
    ScriptedApp app;
    app.linked.block.SetOpCode(op::kMemoryChecksum);
    app.wire.Queue(kAck + "LOCK");
    EXPECT_FALSE(OpenSession(app.linked));
    EXPECT_EQ(app.Status(), "编程器已被锁定,请先解除锁定状态!");  // not overwritten by the busy text
    EXPECT_EQ(app.linked.block[cb::kLockState], 1);
    EXPECT_EQ(app.linked.LinkErrorFlag, 1);
    EXPECT_EQ(app.linked.block.OpCode(), op::kMemoryChecksum);  // bit 6 was only on the wire
    EXPECT_EQ(app.wire.written[5], op::kMemoryChecksum | 0x40);
}

TEST(SessionReplies, BusyLineForAllPollsAndAnUnusablePort) {
    // A lock byte left from an earlier session does not excuse a unit that
    // stays busy now: the session fails as any other, and judges no chip.
    // A line whose settings the driver refused fails the same way, unsent.
    for (bool busy : {true, false})
    for (uint8_t lockState : {0, 1}) {
        ScriptedApp app;
        app.wire.modem = busy ? kModemDsr : 0;
        app.wire.lineOk = busy;
        app.wire.Queue(kAck + "RDY!");
        app.linked.block.SetOpCode(op::kMemoryChecksum);
        app.linked.block[cb::kLockState] = lockState;
        app.linked.AutoRunMarker = 30;
        EXPECT_FALSE(OpenSession(app.linked));
        EXPECT_TRUE(app.wire.written.empty());
        EXPECT_EQ(app.linked.LinkErrorFlag, 1) << int(lockState);
        EXPECT_EQ(app.linked.AutoRunMarker, 0) << int(lockState);
        EXPECT_EQ(app.Status(), kTextConnectionError) << int(lockState);
    }

    // Time-outs the driver refused would leave reads waiting for ever.
    ScriptedApp noTimeouts;
    noTimeouts.wire.timeoutsOk = false;
    noTimeouts.wire.Queue(kAck + "RDY!");
    EXPECT_FALSE(OpenPort(noTimeouts.linked, "COM1"));
    EXPECT_FALSE(noTimeouts.wire.IsOpen());
    EXPECT_TRUE(noTimeouts.wire.written.empty());

    // A modem-status request the port fails is no go-ahead: the wait ends at
    // once, as when the busy line stayed set through every poll.
    ScriptedApp failing;
    failing.wire.modem = std::nullopt;
    failing.wire.Queue(kAck + "RDY!");
    failing.linked.block.SetOpCode(op::kMemoryChecksum);
    EXPECT_FALSE(OpenSession(failing.linked));
    EXPECT_TRUE(failing.wire.written.empty());
    EXPECT_EQ(failing.linked.LinkErrorFlag, 1);
    EXPECT_EQ(failing.Status(), kTextConnectionError);
    EXPECT_LT(failing.clock.NowMs(), 10u);

    ScriptedApp app;

    app.wire.queuesOk = false;
    app.linked.ConnectedFlag = 1;
    app.linked.LinkEnabledFlag = 1;
    EXPECT_FALSE(OpenSession(app.linked));
    EXPECT_EQ(app.ui.LastBox()->spec.text, "读取串口错误,该端口可能不存在或被其它软件占用!");
    EXPECT_EQ(app.Status(), "连接烧写器端口硬件错误!");
    EXPECT_EQ(app.linked.ConnectedFlag, 0);
    EXPECT_EQ(app.linked.LinkEnabledFlag, 0);

    // The port closed with the failed call: still that box and that status, and no other box.
    ScriptedApp closing;
    closing.wire.queuesOk = false;
    closing.wire.queuesCloseIt = true;
    closing.linked.ConnectedFlag = 1;
    closing.linked.LinkEnabledFlag = 1;
    EXPECT_FALSE(OpenSession(closing.linked));
    ASSERT_EQ(closing.ui.Boxes().size(), 1u);
    EXPECT_EQ(closing.ui.LastBox()->spec.text, "读取串口错误,该端口可能不存在或被其它软件占用!");
    EXPECT_EQ(closing.Status(), "连接烧写器端口硬件错误!");
    EXPECT_EQ(closing.linked.LinkErrorFlag, 1);
}

// The purge is repeated until the port accepts it; a port that never does
// counts as lost after a bounded wait.
TEST(SessionReplies, ARefusedPurgeIsRepeatedThenThePortCountsAsLost) {
    ScriptedApp app;
    app.wire.purgeRefusals = 5;
    app.wire.Queue(kAck + "RDY!");
    app.linked.block.SetOpCode(op::kMemoryChecksum);
    EXPECT_TRUE(OpenSession(app.linked));
    EXPECT_EQ(app.wire.purges, 6);
    EXPECT_TRUE(app.wire.open);

    ScriptedApp refusing;
    refusing.wire.purgeRefusals = 1 << 30;
    refusing.linked.ConnectedFlag = 1;
    refusing.linked.LinkEnabledFlag = 1;
    refusing.linked.block.SetOpCode(op::kMemoryChecksum);
    EXPECT_FALSE(OpenSession(refusing.linked));
    EXPECT_FALSE(refusing.wire.open);
    EXPECT_TRUE(refusing.wire.written.empty());
    EXPECT_EQ(refusing.wire.purges, 100);
    EXPECT_EQ(refusing.linked.ConnectedFlag, 0);
    EXPECT_EQ(refusing.Status(), kTextConnectionError);
    EXPECT_LT(refusing.clock.NowMs(), 1000u);
}

TEST(SessionReplies, ShortRepliesWordsAndTokens) {
    ScriptedApp app;
    app.wire.Queue("OK");
    Reply r = ReadShortReply(app.linked, reply::kToken);
    EXPECT_TRUE(ReplyIs(r, "OK"));
    EXPECT_FALSE(ReplyIs(r, "O"));
    app.wire.Queue("ok");
    EXPECT_FALSE(ReplyIs(ReadShortReply(app.linked, reply::kToken), "OK"));
    app.wire.Queue("\x12\x34\x01\x02\x03");
    EXPECT_EQ(ReadWord16(app.linked), 0x1234);
    EXPECT_EQ(ReadWord24(app.linked), 0x010203u);
    EXPECT_EQ(app.linked.LinkErrorFlag, 0);
    EXPECT_EQ(ReadWord16(app.linked), 0);  // nothing there
    EXPECT_EQ(app.linked.LinkErrorFlag, 1);
}

TEST(SessionReplies, DataBlockSumIsKeptModulo65536AndCapacityIsChecked) {
    ScriptedApp app;
    std::vector<uint8_t> buffer;
    size_t count = 0;
    // Capacity one byte short: refused before anything is sent.
    EXPECT_FALSE(ReadDataBlock(app.linked, op::kReadMemory, 0x100, 0x1FF, buffer, 255, count));
    EXPECT_TRUE(app.wire.written.empty());
    EXPECT_EQ(app.Status(), "操作已中止");

    // 0x101 bytes of 0xFF and one of 0x06 add up to 0x10005 -> 0x0005.
    std::string data(0x101, '\xFF');
    data += '\x06';
    app.wire.Queue(kAck + "REDY" + "OK" + data + std::string("\x00\x05", 2));
    EXPECT_TRUE(ReadDataBlock(app.linked, op::kReadMemory, 0, 0x101, buffer, 2048, count));
    EXPECT_EQ(count, 0x102u);
    EXPECT_EQ(app.linked.LinkErrorFlag, 0);

    app.wire.Queue(kAck + "REDY" + "OK" + "\x07" + std::string("\x00\x08", 2));
    EXPECT_FALSE(ReadDataBlock(app.linked, op::kReadChip, 0x20, 0x20, buffer, 2048, count));
    EXPECT_EQ(app.Status(), "读取数据错误");
}

// Three-byte addresses as the unit sends them.
std::string Addresses(std::initializer_list<uint32_t> list) {
    std::string out;
    for (uint32_t a : list) out += {char(a >> 16), char(a >> 8), char(a)};
    return out;
}

TEST(SessionReplies, ProgressMayRepeatOrOvershootButNeverRunsForEver) {
    auto run = [](const std::string& bytes, uint32_t start, uint32_t end, uint32_t mask = 0xFFFFFF) {
        ScriptedApp app;
        app.wire.Queue(bytes);
        app.linked.AutoRunMarker = 30;
        ProgressStream stream(start, end, mask);
        std::vector<uint32_t> seen;
        uint32_t address = 0;
        while (stream.Next(app.linked, address)) seen.push_back(address);
        EXPECT_EQ(app.linked.LinkErrorFlag, 1);  // silence, or one report too many
        EXPECT_EQ(app.linked.AutoRunMarker, 30);  // a reply reader judges no chip
        return seen;
    };
    using V = std::vector<uint32_t>;
    // Repeats, a step back and an overshoot are the unit's way of counting.
    EXPECT_EQ(run(Addresses({0x100, 0x180, 0x180, 0x17F, 0x300}), 0x100, 0x27F),
              (V{0x100, 0x180, 0x180, 0x17F, 0x300}));
    // A stuck unit: one report per byte of the range and a margin of 16, then no more.
    std::string stuck;
    for (int i = 0; i < 40; ++i) stuck += Addresses({0x0180});
    EXPECT_EQ(run(stuck, 0x180, 0x18F).size(), 0x10u + 16);
    // A 16-bit counter keeps only the low bits of each address.
    EXPECT_EQ(run(Addresses({0x012345}), 0xFFF0, 0x10010, 0xFFFF), V{0x2345});
}

}  // namespace
}  // namespace veldrix
