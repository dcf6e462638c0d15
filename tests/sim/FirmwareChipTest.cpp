// The chip in the socket: programming rules of OTP and MTP chips, blank
// check, verify, checksum, copies, protections and the ID code.
#include <gtest/gtest.h>

#include "tests/support/SimHost.h"
#include "state/OpCodes.h"

namespace veldrix::test {
namespace {

class FirmwareChip : public ::testing::Test {
protected:
    SimHost host;

    void Insert(sim::ChipKind kind) { host.state.chip = sim::Chip::Blank(kind); }
    void Memory(uint32_t at, const std::vector<uint8_t>& bytes) {
        std::copy(bytes.begin(), bytes.end(), host.state.memory.begin() + at);
    }
    std::vector<uint8_t> Cells(uint32_t at, size_t n) {
        auto& c = host.state.chip.cells;
        return std::vector<uint8_t>(c.begin() + at, c.begin() + at + n);
    }
    // op::kProgram as the host reads it: token, progress while start < end, verdict.
    std::string Program(uint32_t start, uint32_t end, std::vector<uint32_t>* progress = nullptr) {
        host.Open(SimHost::Block(op::kProgram, start, end));
        EXPECT_EQ(host.Text(2), "OK");
        std::vector<uint32_t> seen;
        if (start < end) seen = host.Progress(end);
        if (progress) *progress = seen;
        return host.Text(2);
    }
    // Verify or blank check: the last progress address, or nothing.
    std::optional<uint32_t> Stream(uint8_t op, uint32_t start, uint32_t end) {
        host.Open(SimHost::Block(op, start, end));
        EXPECT_EQ(host.Text(2), "OK");
        std::vector<uint32_t> seen = host.Progress(end + 1);
        if (seen.empty()) return std::nullopt;
        return seen.back();
    }
    std::string Verdict(uint8_t op) {
        host.Open(SimHost::Block(op));
        return host.Text(2, 100);
    }
};

TEST_F(FirmwareChip, OtpBitsOnlyGoFromOneToZero) {
    Insert(sim::ChipKind::Otp);
    Memory(0x10, {0xF0, 0x0F, 0x55});
    std::vector<uint32_t> progress;
    EXPECT_EQ(Program(0x10, 0x12, &progress), "OK");
    EXPECT_EQ(progress, std::vector<uint32_t>{0x12});
    EXPECT_EQ(Cells(0x10, 3), (std::vector<uint8_t>{0xF0, 0x0F, 0x55}));
    // Clearing more bits is fine; setting one back is not.
    Memory(0x10, {0x70, 0x0F, 0x55});
    EXPECT_EQ(Program(0x10, 0x12), "OK");
    Memory(0x10, {0x70, 0x1F, 0x55});
    EXPECT_EQ(Program(0x10, 0x12), "NO");
    EXPECT_EQ(Cells(0x10, 3), (std::vector<uint8_t>{0x70, 0x0F, 0x55}));
    EXPECT_EQ(Verdict(op::kEraseMtp), "NO") << "an OTP chip cannot be erased";
    EXPECT_EQ(Verdict(op::kHardwareProtect), "NO") << "nor write-protected";
    // start = end: no progress address where the host reads the verdict.
    Memory(0x200, {0x42});
    host.Open(SimHost::Block(op::kProgram, 0x200, 0x200));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.state.chip.cells[0x200], 0x42);
}

TEST_F(FirmwareChip, MtpEraseBringsBackABlankChipThatTakesNewCode) {
    Insert(sim::ChipKind::Mtp);
    Memory(0, {0x00, 0x11, 0x22, 0x33});
    EXPECT_EQ(Program(0, 3), "OK");
    Memory(0, {0xFF, 0xEE, 0xDD, 0xCC});
    EXPECT_EQ(Program(0, 3), "NO") << "flash needs an erase before bits come back";
    host.Open(SimHost::Block(op::kEraseMtp));
    host.Sleep(100);
    EXPECT_TRUE(host.Busy());
    EXPECT_EQ(host.Text(2, 100), "OK");
    EXPECT_EQ(Cells(0, 4), std::vector<uint8_t>(4, 0xFF));
    EXPECT_EQ(Program(0, 3), "OK");
    EXPECT_EQ(Cells(0, 4), (std::vector<uint8_t>{0xFF, 0xEE, 0xDD, 0xCC}));
}

TEST_F(FirmwareChip, BlankCheckStopsAtTheFirstProgrammedAddress) {
    Insert(sim::ChipKind::Otp);
    EXPECT_EQ(Stream(op::kBlankCheck, 0, 0x1FFF), 0x2000u);
    host.state.chip.cells[0x0ABC] = 0xFE;
    host.state.chip.cells[0x0F00] = 0x00;
    EXPECT_EQ(Stream(op::kBlankCheck, 0, 0x1FFF), 0x0ABCu);
    EXPECT_EQ(Stream(op::kBlankCheck, 0x0ABD, 0x0EFF), 0x0F00u);
    // start = end is still checked and reported.
    EXPECT_EQ(Stream(op::kBlankCheck, 0x0ABD, 0x0ABD), 0x0ABEu);
    // A varying unit rounds the end up, but names the programmed address as it is.
    host.state.vary.progress = true;
    EXPECT_EQ(Stream(op::kBlankCheck, 0x0ABD, 0x0EFE), 0x0F00u);
    EXPECT_EQ(Stream(op::kBlankCheck, 0x0F01, 0x0F10), 0x1000u);
    EXPECT_EQ(Stream(op::kBlankCheck, 0, 0x1FFF), 0x0ABCu);
}

TEST_F(FirmwareChip, VerifyStopsAtTheFirstDifference) {
    Insert(sim::ChipKind::Mtp);
    std::vector<uint8_t> code(0x1000);
    for (size_t i = 0; i < code.size(); ++i) code[i] = uint8_t(i * 13);
    Memory(0, code);
    EXPECT_EQ(Program(0, 0xFFF), "OK");
    EXPECT_EQ(Stream(op::kVerify, 0, 0xFFF), 0x1000u);
    host.state.memory[0x0FFF] ^= 1;
    EXPECT_EQ(Stream(op::kVerify, 0, 0xFFF), 0x0FFFu);
    host.state.memory[0x0801] ^= 1;
    EXPECT_EQ(Stream(op::kVerify, 0, 0xFFF), 0x0801u);

    // Every 0x100 with every third address twice: a difference right at a
    // repeated address still leaves it named only twice.
    host.state.vary.progress = true;
    host.Open(SimHost::Block(op::kVerify, 0, 0xFFF));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Progress(0x1000), (std::vector<uint32_t>{0x100, 0x200, 0x300, 0x300, 0x400, 0x500, 0x600, 0x600,
                                                            0x700, 0x800, 0x801}));
    host.state.memory[0x0801] ^= 1;
    host.state.memory[0x0600] ^= 1;
    host.Open(SimHost::Block(op::kVerify, 0, 0xFFF));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Progress(0x1000), (std::vector<uint32_t>{0x100, 0x200, 0x300, 0x300, 0x400, 0x500, 0x600, 0x600}));
    host.state.memory[0x0600] ^= 1;
    host.state.memory[0x0FFF] ^= 1;
    EXPECT_EQ(Stream(op::kVerify, 0, 0xFFE), 0x1000u) << "end + 1 rounded up";
    EXPECT_EQ(Stream(op::kVerify, 0, 0xFFF), 0x1000u);
}

TEST_F(FirmwareChip, ReadProtectedChipReadsBackZeros) {
    Insert(sim::ChipKind::Otp);
    Memory(0, {0x12, 0x34});
    ASSERT_EQ(Program(0, 1), "OK");
    EXPECT_EQ(Verdict(op::kReadProtect), "OK");
    EXPECT_TRUE(host.state.chip.readProtected);
    host.Open(SimHost::Block(op::kReadChip, 0, 0xFF));
    EXPECT_EQ(host.Text(2), "OK");
    host.Sleep(200);
    EXPECT_EQ(host.Read(256), std::vector<uint8_t>(256, 0x00));
    EXPECT_EQ(host.Word16(), 0u);
    host.Open(SimHost::Block(op::kChipChecksum, 0, 0xFF));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_GE(host.Progress(0xFF).back(), 0xFFu);
    EXPECT_EQ(host.Word16(), 0u);
    // The cells still hold the code; only reading is barred.
    EXPECT_EQ(Cells(0, 2), (std::vector<uint8_t>{0x12, 0x34}));
}

TEST_F(FirmwareChip, HardwareWriteProtectionHoldsUntilTheChipIsErased) {
    Insert(sim::ChipKind::Mtp);
    EXPECT_EQ(Verdict(op::kHardwareProtect), "OK");
    EXPECT_TRUE(host.state.chip.writeProtected);
    Memory(0, {0x5A});
    EXPECT_EQ(Program(0, 0), "NO");
    EXPECT_EQ(host.state.chip.cells[0], 0xFF);
    EXPECT_EQ(Verdict(op::kEraseMtp), "OK");
    EXPECT_EQ(Program(0, 0), "OK");
    EXPECT_EQ(host.state.chip.cells[0], 0x5A);
}

TEST_F(FirmwareChip, ChipChecksumAndCopyFollowTheHostsReadingRules) {
    Insert(sim::ChipKind::Otp);
    host.state.chip.cells[0x100] = 0x01;
    host.Open(SimHost::Block(op::kChipChecksum, 0x100, 0x100));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Word16(), 0x01u) << "start = end has no progress address";

    host.Open(SimHost::Block(op::kCopyChip, 0x0F0, 0x10F));
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Progress(0x10F), std::vector<uint32_t>{0x10F});
    EXPECT_EQ(host.Word16(), (0x1F * 0xFF + 0x01) & 0xFFFF);
    EXPECT_EQ(host.state.memory[0x100], 0x01);

    // A range a whole number of intervals long: only the last report
    // reaches the end, and the verdict or the sum follows it.
    for (uint8_t op : {op::kProgram, op::kChipChecksum, op::kCopyChip})
        for (uint32_t end : {0x400u, 0x800u}) {
            host.Open(SimHost::Block(op, 0, end));
            EXPECT_EQ(host.Text(2), "OK");
            std::vector<uint32_t> seen = host.Progress(end);
            EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [&](uint32_t a) { return a >= end; }), 1)
                << int(op) << " to " << end;
            uint32_t sum = 0;
            for (uint32_t a = 0; a <= end; ++a) sum += host.state.chip.cells[a];
            if (op == op::kProgram) EXPECT_EQ(host.Text(2), "OK");
            else EXPECT_EQ(host.Word16(), sum & 0xFFFF) << int(op) << " to " << end;
            EXPECT_TRUE(host.Reply(1, 5).empty());
        }

    // A range beyond the chip's ROM is refused with nothing after.
    host.Open(SimHost::Block(op::kChipChecksum, 0xFF00, 0x100FF));
    EXPECT_EQ(host.Text(2), "NO");
    EXPECT_FALSE(host.Word24());
}

TEST_F(FirmwareChip, VaryingUnitMayWordOnlyTheTokensTheHostDoesNotExamine) {
    host.state.vary.tokens = true;
    EXPECT_EQ(Verdict(op::kProgram), "NO") << "a refusal stays a refusal";
    Insert(sim::ChipKind::Mtp);
    // The first token of these is passed over; what follows it is not.
    for (uint8_t op : {op::kMemoryChecksum, op::kReadMemory, op::kVerify, op::kChipChecksum, op::kReadChip,
                       op::kCopyChip, op::kBlankCheck, op::kProgramDirect}) {
        host.Open(SimHost::Block(op, 0, 0xF));
        EXPECT_EQ(host.Text(2), "AK") << int(op);
        host.Sleep(500);
    }
    host.Open(SimHost::Block(op::kProgram, 0, 0xF));
    EXPECT_EQ(host.Text(2), "AK");
    EXPECT_EQ(host.Progress(0xF), std::vector<uint32_t>{0xF});
    EXPECT_EQ(host.Text(2), "OK");
    CommandBlock id = SimHost::Block(op::kWriteIdCode);
    id.Put24(cb::kIdAddress, 0x20);
    host.Open(id);
    EXPECT_EQ(host.Text(2), "AK");
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(Verdict(op::kEraseMtp), "OK");
    EXPECT_EQ(Verdict(op::kLdcProtect), "OK");
    CommandBlock init = SimHost::Block(op::kClearArea);
    init[cb::kBlockNumber] = 0;
    host.Open(init);
    EXPECT_EQ(host.Text(2, 100), "OK");
}

TEST_F(FirmwareChip, IdCodeGoesMostSignificantByteFirst) {
    Insert(sim::ChipKind::Otp);
    CommandBlock b = SimHost::Block(op::kWriteIdCode);
    b.Put24(cb::kCounterCurrent, 0x01002A);
    b.Put24(cb::kIdAddress, 0x0FFD);
    host.Open(b);
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(Cells(0x0FFD, 3), (std::vector<uint8_t>{0x01, 0x00, 0x2A}));
    // Past the end of the ROM.
    b.Put24(cb::kIdAddress, 0xFFFE);
    host.Open(b);
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Text(2), "NO");
}

TEST_F(FirmwareChip, StreamedProgrammingAnswersOnTheSumOfWhatCame) {
    Insert(sim::ChipKind::Otp);
    std::vector<uint8_t> code(0x44);
    uint32_t sum = 0;
    for (size_t i = 0; i < code.size(); ++i) sum += code[i] = uint8_t(0xC0 - i);
    std::vector<uint8_t> send = SimHost::Scramble(code, sim::kDefaultIdentifier);
    send.resize(0x48, 0x00);  // the last 8-byte block runs 4 bytes past the end

    CommandBlock b = SimHost::Block(op::kProgramDirect, 0, 0x43);
    b.Put16(cb::kChecksum, sum);
    host.Open(b);
    EXPECT_EQ(host.Text(2), "OK");
    host.Sleep(20);
    for (size_t a = 0; a < send.size(); a += 8) host.Write(std::vector<uint8_t>(send.begin() + a, send.begin() + a + 8));
    EXPECT_EQ(host.Text(2, 100), "OK");
    EXPECT_EQ(Cells(0, 0x44), code);
    EXPECT_EQ(Cells(0x44, 4), std::vector<uint8_t>(4, 0xFF)) << "bytes past the end were programmed";

    // The same bytes announced with another sum.
    Insert(sim::ChipKind::Otp);
    b.Put16(cb::kChecksum, sum + 1);
    host.Open(b);
    EXPECT_EQ(host.Text(2), "OK");
    host.Sleep(20);
    host.Write(send);
    EXPECT_EQ(host.Text(2, 100), "NO");
    EXPECT_TRUE(host.Open(SimHost::Block(op::kProbe)).opened) << "the overshoot upset the next session";
}

}  // namespace
}  // namespace veldrix::test
