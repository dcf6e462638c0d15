// Session opening as the unit answers it: acknowledgement, status word, the
// block search, the lock and power.
#include <gtest/gtest.h>

#include "tests/support/SimHost.h"
#include "state/OpCodes.h"

namespace veldrix::test {
namespace {

std::vector<uint8_t> OnWire(CommandBlock b, bool marked = true) {
    if (marked) b[cb::kOpCode] |= 0x40;
    return std::vector<uint8_t>(b.bytes.begin(), b.bytes.end());
}

TEST(FirmwareSession, AcknowledgesWithTheBlockAndTheReadyStatusAndLogsIt) {
    SimHost host;
    CommandBlock block = SimHost::Block(op::kProbe, 0x123, 0x4567);
    block[cb::kBlockNumber] = 7;
    auto s = host.Open(block);
    ASSERT_TRUE(s.opened);
    EXPECT_EQ(s.ack, OnWire(block));
    EXPECT_EQ(s.status, "REDY");
    EXPECT_TRUE(host.Reply(2, 10).empty()) << "the probe has nothing after its acknowledgement";
    ASSERT_EQ(host.state.log.size(), 1u);
    const sim::LogEntry& e = host.state.log[0];
    EXPECT_EQ(std::vector<uint32_t>({e.opCode, e.block, e.start, e.end}),
              std::vector<uint32_t>({op::kProbe, 7, 0x123, 0x4567}));

    // A varying unit answers with a block of its own and another word.
    host.state.vary.ack = host.state.vary.status = true;
    s = host.Open(block);
    ASSERT_TRUE(s.opened);
    EXPECT_NE(s.ack, OnWire(block));
    EXPECT_EQ(s.status.size(), 4u);
    EXPECT_NE(s.status, "REDY");
    EXPECT_NE(s.status, "LOCK");
    EXPECT_EQ(host.state.log.size(), 2u);
    // Whatever it says, the operation's traffic follows the status word.
    s = host.Open(SimHost::Block(op::kReadIdentifier));
    EXPECT_EQ(s.ack.size(), size_t(cb::kSize));
    EXPECT_EQ(host.Text(8, 20), sim::kDefaultIdentifier);
}

TEST(FirmwareSession, FindsTheBlockBehindStrayBytesAndBrokenBlocks) {
    SimHost host;
    // A block without the session mark, broken starts of a signature, then the block.
    std::vector<uint8_t> wire = OnWire(SimHost::Block(op::kMemoryChecksum), false);
    for (char c : std::string("\0ZEMZZEMK\x13", 10)) wire.push_back(uint8_t(c));
    auto block = OnWire(SimHost::Block(op::kInfo));
    wire.insert(wire.end(), block.begin(), block.end());
    host.Write(wire);
    host.Sleep(100);
    EXPECT_EQ(host.Read(38), block);
    EXPECT_EQ(host.Text(4, 10), "REDY");
    EXPECT_EQ(host.Text(24, 100).size(), 24u);

    // The head of a block, then a pause: forgotten.
    auto broken = OnWire(SimHost::Block(op::kMemoryChecksum, 0, 0xFF));
    host.Write(std::vector<uint8_t>(broken.begin(), broken.begin() + 20));
    host.Sleep(300);
    EXPECT_EQ(host.Open(SimHost::Block(op::kReadIdentifier)).ack[cb::kOpCode], op::kReadIdentifier | 0x40);
    EXPECT_EQ(host.Text(8, 20), sim::kDefaultIdentifier);
    ASSERT_EQ(host.state.log.size(), 2u);
    EXPECT_EQ(host.state.log[op::kProbe].opCode, op::kReadIdentifier);
}

TEST(FirmwareSession, LockedUnitLetsOnlyProbePasswordAndLockThrough) {
    SimHost host;
    host.state.locked = true;
    host.state.vary.status = true;  // the ready word may vary, the lock word never
    for (uint8_t op : {op::kMemoryChecksum, op::kReadMemory, op::kProgram, op::kBlankCheck, op::kReadFileInfo,
                       op::kReadIdentifier, op::kInfo}) {
        EXPECT_EQ(host.Open(SimHost::Block(op, 0, 0xFF)).status, "LOCK") << int(op);
        EXPECT_TRUE(host.Reply(2, 20).empty()) << "op " << int(op) << " went on while locked";
    }
    EXPECT_TRUE(host.state.log.empty());

    EXPECT_EQ(host.Open(SimHost::Block(op::kProbe)).status, "LOCK");
    CommandBlock unlock = SimHost::Block(op::kLock);
    unlock[cb::kLockState] = 0;
    SimHost::SetPassword(unlock, "wrong");
    host.Open(unlock);
    EXPECT_EQ(host.Text(5, 10), "NOPWD");
    EXPECT_TRUE(host.state.locked);
    SimHost::SetPassword(unlock, sim::kFactoryPassword);
    EXPECT_EQ(host.Open(unlock).status, "LOCK");
    EXPECT_EQ(host.Text(5, 10), "OKPWD");
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Open(SimHost::Block(op::kInfo)).status, sim::kVariedStatus);
}

TEST(FirmwareSession, PoweredOffUnitAnswersNothingUntilSwitchedOn) {
    SimHost host;
    host.state.powered = false;
    auto s = host.Open(SimHost::Block(op::kProbe));
    EXPECT_TRUE(s.ack.empty());
    EXPECT_FALSE(host.Busy());
    host.state.powered = true;
    EXPECT_TRUE(host.Open(SimHost::Block(op::kProbe)).opened);
}

// A unit that minds the pauses (sim vary pauses) takes a block only after
// the pause the host puts before it, and takes the times of real work, each
// within what the host waits for.
TEST(FirmwareSession, UnitThatMindsThePausesIgnoresABlockSoonerThanItsPause) {
    SimHost host;
    host.state.vary.pauses = true;
    host.state.chip = sim::Chip::Blank(sim::ChipKind::Otp);
    auto send = [&](uint8_t op) {
        CommandBlock b = SimHost::Block(op, 0, 0xFF);
        b[cb::kOpCode] |= 0x40;
        host.Write(std::vector<uint8_t>(b.bytes.begin(), b.bytes.end()));
    };
    auto lastTakenUp = [&] { return host.state.log.empty() ? op::kNone : int(host.state.log.back().opCode); };
    // The identifier is on the line about 25 ms after its block. Streamed
    // programming must come 50 ms after it, the program step 200 ms after
    // whatever went before: sooner goes unanswered, later is taken up.
    for (auto [op, pauseMs] : {std::pair<int, int>{op::kProgramDirect, 50}, std::pair<int, int>{op::kProgram, 200}}) {
        SCOPED_TRACE(op);
        host.state.tooSoon.clear();
        host.port.Purge();
        send(op::kReadIdentifier);
        host.Sleep(25);
        send(uint8_t(op));
        host.Sleep(1);
        EXPECT_EQ(host.state.tooSoon, (std::vector<uint8_t>{uint8_t(op)}));
        EXPECT_EQ(lastTakenUp(), op::kReadIdentifier);
        host.Sleep(pauseMs);
        send(uint8_t(op));
        host.Sleep(5000);  // whatever the session does, let it end
        EXPECT_EQ(host.state.tooSoon.size(), 1u);
        EXPECT_EQ(lastTakenUp(), op);
    }
    // No pause before a blank check, so none is needed.
    host.port.Purge();
    send(op::kReadIdentifier);
    host.Sleep(25);
    send(op::kBlankCheck);
    host.Sleep(100);
    EXPECT_EQ(lastTakenUp(), op::kBlankCheck);
    EXPECT_EQ(host.state.tooSoon, (std::vector<uint8_t>{op::kProgram}));
}

TEST(FirmwareSession, UnitThatMindsThePausesSwitchesItsVoltageAndPowersDownWithinTheHostsWaits) {
    SimHost host;
    host.state.vary.pauses = true;
    host.state.chip = sim::Chip::Blank(sim::ChipKind::Mtp);
    // Read protection as the only step: the acknowledgement at once, the
    // status word once the programming voltage stands, past six of the
    // host's ten tries.
    CommandBlock protect = SimHost::Block(op::kReadProtect);
    protect[cb::kChipType] = 2;
    protect[cb::kAutoFlags] = autoflag::kReadProtect;
    protect[cb::kOpCode] |= 0x40;
    host.port.Purge();
    host.Write(std::vector<uint8_t>(protect.bytes.begin(), protect.bytes.end()));
    host.Sleep(100);
    EXPECT_EQ(host.Read(cb::kSize).size(), size_t(cb::kSize));
    EXPECT_TRUE(host.Reply(4, 6).empty());
    EXPECT_EQ(host.Text(4, 4), "REDY");
    EXPECT_EQ(host.Text(2, 100), "OK");
    // The last step: the socket powers down with the busy line up, for
    // longer than half of the host's 1000 polls, and the next opening waits it out.
    host.Sleep(10);
    EXPECT_TRUE(host.Busy());
    host.Sleep(500);
    EXPECT_TRUE(host.Busy());
    EXPECT_TRUE(host.Open(SimHost::Block(op::kProbe)).opened);
    EXPECT_FALSE(host.Busy());
    EXPECT_TRUE(host.state.tooSoon.empty());
    // With the sequence going on after it (hardware protection next) the voltage stays.
    protect[cb::kAutoFlags] = autoflag::kReadProtect | autoflag::kHwProtect;
    protect[cb::kOpCode] &= 0x3F;
    host.Open(protect);
    EXPECT_EQ(host.Text(2, 100), "OK");
    host.Sleep(10);
    EXPECT_FALSE(host.Busy());
}

TEST(FirmwareSession, InformationAndIdentifierHaveTheirFixedLayout) {
    SimHost host;
    host.Open(SimHost::Block(op::kInfo));
    EXPECT_EQ(host.Text(24, 100), std::string(sim::kFirmwareVersion) + " " + sim::kFirmwareDate);
    host.state.identifier = "AB\x01\x02\x80XYZ";
    host.Open(SimHost::Block(op::kReadIdentifier));
    EXPECT_EQ(host.Text(8, 20), std::string("AB\x01\x02\x80XYZ"));
}

}  // namespace
}  // namespace veldrix::test
