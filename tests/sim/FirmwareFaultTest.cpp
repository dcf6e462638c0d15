// The fault knobs: what each does to the traffic, and how they are aimed.
#include <gtest/gtest.h>

#include "tests/support/SimHost.h"
#include "state/OpCodes.h"

namespace veldrix::test {
namespace {

using sim::Fault;
using sim::FaultKind;
using sim::FaultStep;

Fault Aim(FaultKind kind, int op = sim::kAnyOperation, FaultStep step = FaultStep::Any, bool once = false) {
    Fault f;
    f.kind = kind;
    f.opCode = op;
    f.step = step;
    f.once = once;
    return f;
}

class FirmwareFaults : public ::testing::Test {
protected:
    SimHost host;
    void SetUp() override { host.state.chip = sim::Chip::Blank(sim::ChipKind::Mtp); }
    std::string Verdict(uint8_t op) {
        host.Open(SimHost::Block(op));
        return host.Text(2, 100);
    }
};

TEST_F(FirmwareFaults, SupplyFaultTakesThePlaceOfTheTokenOfTheAimedOperationOnly) {
    host.state.Arm(Aim(FaultKind::Ev, op::kBlankCheck));
    host.Open(SimHost::Block(op::kBlankCheck, 0, 0xFF));
    EXPECT_EQ(host.Text(2), "EV");
    EXPECT_FALSE(host.Word24()) << "progress after EV";
    host.Open(SimHost::Block(op::kChipChecksum, 0, 0xFF));
    EXPECT_EQ(host.Text(2), "OK");
    // Until cleared it stays.
    host.Open(SimHost::Block(op::kBlankCheck, 0, 0xFF));
    EXPECT_EQ(host.Text(2), "EV");
    host.state.ClearFaults();
    host.Open(SimHost::Block(op::kBlankCheck, 0, 0xFF));
    EXPECT_EQ(host.Text(2), "OK");
    // A varying unit's own words are hit all the same.
    host.state.vary.SetAll(true);
    host.state.Arm(Aim(FaultKind::Ev, op::kBlankCheck, FaultStep::First, true));
    host.Open(SimHost::Block(op::kBlankCheck, 0, 0xFF));
    EXPECT_EQ(host.Text(2), "EV");
    host.Open(SimHost::Block(op::kBlankCheck, 0, 0xFF));
    EXPECT_EQ(host.Text(2), sim::kVariedOk);
}

TEST_F(FirmwareFaults, NoReplyOnceThenTheUnitAnswersAgain) {
    host.state.Arm(Aim(FaultKind::NoReply, op::kEraseMtp, FaultStep::Any, true));
    EXPECT_EQ(Verdict(op::kEraseMtp), "");
    EXPECT_TRUE(host.state.faults.empty());
    EXPECT_EQ(Verdict(op::kEraseMtp), "OK");
}

TEST_F(FirmwareFaults, AnyStepLeavesTheOpeningAloneUnlessItIsNamed) {
    host.state.Arm(Aim(FaultKind::NoReply));
    auto s = host.Open(SimHost::Block(op::kMemoryChecksum, 0, 0xF));
    EXPECT_TRUE(s.opened);
    EXPECT_EQ(host.Text(2), "");
    host.state.ClearFaults();
    host.state.Arm(Aim(FaultKind::NoReply, sim::kAnyOperation, FaultStep::Ack));
    s = host.Open(SimHost::Block(op::kProbe));
    EXPECT_FALSE(s.opened);
    EXPECT_TRUE(s.ack.empty());
}

TEST_F(FirmwareFaults, ShortReplyBringsHalfAndNothingMore) {
    host.state.Arm(Aim(FaultKind::Short, op::kInfo));
    host.Open(SimHost::Block(op::kInfo));
    EXPECT_EQ(host.Text(24, 100), std::string(sim::kFirmwareVersion, 12));
    host.state.Arm(Aim(FaultKind::Short, op::kProbe, FaultStep::Ack));
    auto s = host.Open(SimHost::Block(op::kProbe));
    EXPECT_EQ(s.ack.size(), 21u);
    EXPECT_EQ(s.status, "");
}

TEST_F(FirmwareFaults, GarbageChangesEveryByteTheSameWayEachRun) {
    auto garbled = [] {
        SimHost h;
        h.state.Arm(Aim(FaultKind::Garbage, op::kReadIdentifier));
        h.Open(SimHost::Block(op::kReadIdentifier));
        return h.Text(8, 20);
    };
    std::string first = garbled();
    ASSERT_EQ(first.size(), 8u);
    for (int i = 0; i < 8; ++i) EXPECT_NE(first[i], sim::kDefaultIdentifier[i]) << i;
    EXPECT_EQ(garbled(), first);
    // The operation goes on after the garbled reply.
    host.state.Arm(Aim(FaultKind::Garbage, op::kProgram, FaultStep::First));
    host.state.memory[0] = 0x3C;
    host.Open(SimHost::Block(op::kProgram, 0, 0));
    EXPECT_NE(host.Text(2), "OK");
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.state.chip.cells[0], 0x3C);
}

TEST_F(FirmwareFaults, BusyLineThatStaysSetKeepsTheHostOut) {
    host.state.Arm(Aim(FaultKind::Busy, op::kEraseMtp, FaultStep::Any, true));
    host.Open(SimHost::Block(op::kEraseMtp));
    // Each opening polls DSR for a second; a one-off hang lasts two after the erase.
    EXPECT_FALSE(host.Open(SimHost::Block(op::kProbe)).opened);
    EXPECT_TRUE(host.Busy());
    EXPECT_FALSE(host.Open(SimHost::Block(op::kProbe)).opened);
    EXPECT_TRUE(host.Open(SimHost::Block(op::kProbe)).opened);

    uint64_t serial = host.state.Arm(Aim(FaultKind::Busy, op::kEraseMtp));
    host.Open(SimHost::Block(op::kEraseMtp));
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(host.Open(SimHost::Block(op::kProbe)).opened) << i;
    EXPECT_TRUE(host.state.Armed(serial));
    host.state.ClearFaults();
    EXPECT_TRUE(host.Open(SimHost::Block(op::kProbe)).opened);
}

TEST_F(FirmwareFaults, BusyAtAPageOfTheDownloadFailsTheHostsPoll) {
    host.state.Arm(Aim(FaultKind::Busy, op::kDownload, FaultStep::Progress));
    host.Open(SimHost::Block(op::kDownload, 0, 0x1FF));
    host.Write(std::vector<uint8_t>(0x100, 0x00));
    bool clear = false;
    for (int i = 0; i < 50 && !clear; ++i) {
        host.Sleep(1);
        clear = !host.Busy();
    }
    EXPECT_FALSE(clear);
}

TEST_F(FirmwareFaults, WrongSumOnADataBlock) {
    host.state.memory[0x20] = 0x80;
    host.state.Arm(Aim(FaultKind::BadSum, op::kReadMemory));
    host.Open(SimHost::Block(op::kReadMemory, 0x20, 0x21));
    EXPECT_EQ(host.Text(2), "OK");
    host.Sleep(200);
    EXPECT_EQ(host.Read(2), (std::vector<uint8_t>{0x80, 0xFF}));
    EXPECT_EQ(host.Word16(), 0x0180u);
}

TEST_F(FirmwareFaults, StopBreaksAStreamHalfway) {
    host.state.Arm(Aim(FaultKind::Stop, op::kBlankCheck));
    host.Open(SimHost::Block(op::kBlankCheck, 0, 0xFFF));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Progress(0x1000), std::vector<uint32_t>{0x400});
    // Reports every 0x100, some twice: still nothing from the middle on.
    host.state.vary.progress = true;
    host.Open(SimHost::Block(op::kBlankCheck, 0, 0xFFF));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Progress(0x1000),
              (std::vector<uint32_t>{0x100, 0x200, 0x300, 0x300, 0x400, 0x500, 0x600, 0x600, 0x700}));
    host.state.vary.progress = false;

    host.state.Arm(Aim(FaultKind::Stop, op::kReadChip));
    host.Open(SimHost::Block(op::kReadChip, 0, 0xFF));
    EXPECT_EQ(host.Text(2), "OK");
    host.Sleep(200);
    EXPECT_EQ(host.Read(0x100).size(), 0x80u);
    EXPECT_FALSE(host.Word16());
}

TEST_F(FirmwareFaults, AimedAtTheFinalVerdictTheWorkStillHappens) {
    host.state.Arm(Aim(FaultKind::NoReply, op::kProgram, FaultStep::Final));
    host.state.memory[0x10] = 0x01;
    host.Open(SimHost::Block(op::kProgram, 0, 0x10));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Progress(0x10), std::vector<uint32_t>{0x10});
    EXPECT_EQ(host.Text(2), "");
    EXPECT_EQ(host.state.chip.cells[0x10], 0x01);
}

}  // namespace
}  // namespace veldrix::test
