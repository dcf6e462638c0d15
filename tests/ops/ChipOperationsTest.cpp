// Program, verify, blank check and chip checksum against the simulated
// programmer with a chip in its socket.
#include <gtest/gtest.h>

#include "code/Fields.h"
#include "link/Session.h"
#include "ops/ChipOperations.h"
#include "tests/support/SimApp.h"
#include "tests/support/TestApp.h"
#include "state/OpCodes.h"

namespace veldrix {
namespace {

using test::SimApp;
using Texts = std::vector<std::string>;

const std::string kKey = sim::kDefaultIdentifier;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t((i * 53 + seed) ^ (i >> 4));
    return out;
}

uint16_t Sum(const std::vector<uint8_t>& bytes, size_t from = 0, size_t to = SIZE_MAX) {
    uint16_t sum = 0;
    for (size_t i = from; i < bytes.size() && i <= to; ++i) sum = uint16_t(sum + bytes[i]);
    return sum;
}

// "text,地址: " and the address, as the progress stream shows it.
std::string At(const std::string& text, uint32_t address) { return text + ",地址: " + Hex(address, 5); }

class ChipTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(app.Connect()); }

    void Socket(sim::Chip chip) {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.chip = std::move(chip);
    }
    void Arm(sim::FaultKind kind, int opCode, sim::FaultStep step) {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.Arm({kind, opCode, step, true});
    }
    void SetChipByte(uint32_t address, uint8_t value) {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.chip.cells[address] = value;
    }
    std::vector<uint8_t> ChipBytes(size_t n) {
        std::lock_guard lock(app.prog.state.mutex);
        return std::vector<uint8_t>(app.prog.state.chip.cells.begin(), app.prog.state.chip.cells.begin() + long(n));
    }
    // Loads the code as the open-file button does and downloads it.
    void Download(const std::vector<uint8_t>& bytes) {
        code = bytes;
        app.ui.QueueOpen(dir.Write("code.bin", std::string(bytes.begin(), bytes.end())));
        app.Click(id::kOpenFile);
        ASSERT_EQ(app.ctx.codeInMemory, 1) << app.Status();
    }
    Texts Transcript(const std::function<void()>& action) {
        size_t mark = app.StatusMark();
        action();
        return app.StatusSince(mark);
    }
    size_t BytesWrittenAfter(int opCode) {
        size_t n = 0;
        for (const auto& b : app.DataAfter(opCode, 0)) n += b.bytes.size();
        return n;
    }

    SimApp app;
    test::TempDir dir;
    std::vector<uint8_t> code;
};

TEST_F(ChipTest, BlankChipsAreBlankCheckedProgrammedVerifiedAndSummed) {
    const std::string blank = "请稍候,芯片空检查", programming = "请稍候,正在编程芯片", verifying = "请稍候,校验芯片",
                      summing = "请稍候,得到芯片检查和";
    for (sim::ChipKind kind : {sim::ChipKind::Otp, sim::ChipKind::Mtp}) {
        SCOPED_TRACE(kind == sim::ChipKind::Otp ? "OTP" : "MTP");
        Socket(sim::Chip::Blank(kind));
        Download(Pattern(0x1200, uint8_t(kind == sim::ChipKind::Otp ? 1 : 2)));

        EXPECT_EQ(Transcript([&] { app.Click(id::kBlankCheck); }),
                  (Texts{blank, At(blank, 0x400), At(blank, 0x800), At(blank, 0xC00), At(blank, 0x1000),
                         At(blank, 0x1200), "芯片是空的, 在地址空间: 00000~~011FF"}));
        EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
        EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Success);
        EXPECT_FALSE(app.ctx.outcome.failAddress);

        EXPECT_EQ(Transcript([&] { app.Run(op::kProgram); }),
                  (Texts{programming, At(programming, 0x400), At(programming, 0x800), At(programming, 0xC00),
                         At(programming, 0x1000), At(programming, 0x11FF), "编程成功"}));
        EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
        EXPECT_EQ(app.ctx.outcome.verdict, "OK");
        EXPECT_EQ(ChipBytes(0x1200), code);

        EXPECT_EQ(Transcript([&] { app.Click(id::kVerifyChip); }),
                  (Texts{verifying + "...", At(verifying, 0x400), At(verifying, 0x800), At(verifying, 0xC00),
                         At(verifying, 0x1000), At(verifying, 0x1200), "校验芯片成功!"}));
        EXPECT_EQ(app.ctx.LinkErrorFlag, 0);

        EXPECT_EQ(Transcript([&] { app.Click(id::kChipChecksum); }),
                  (Texts{summing, At(summing, 0x400), At(summing, 0x800), At(summing, 0xC00), At(summing, 0x1000),
                         At(summing, 0x11FF), "芯片检查和 = " + Hex(Sum(code), 4)}));
        EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
        EXPECT_EQ(app.ctx.outcome.checksum, Sum(code));

        EXPECT_EQ(Transcript([&] { app.Click(id::kBlankCheck); }).back(), "芯片不空, 在地址: 00000");
        EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
        EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::ChipFailed);
        EXPECT_EQ(app.ctx.outcome.failAddress, 0u);
        app.events.clear();
    }
    // None of them touches what the download confirmed.
    EXPECT_EQ(app.ctx.codeInMemory, 1);
    EXPECT_EQ(app.ctx.checkedRange, (AddressRange{0, 0x11FF}));
}

TEST_F(ChipTest, ProgramFailuresNameTheirCause) {
    Socket(sim::Chip::Blank(sim::ChipKind::Otp));
    Download(Pattern(0x800, 3));

    Arm(sim::FaultKind::Stop, op::kProgram, sim::FaultStep::Progress);
    app.Run(op::kProgram);
    EXPECT_EQ(app.Status(), "编程芯片失败! [读取编程信息错误]");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);

    // An OTP cell cannot go back from 0 to 1: the unit's verdict is "NO".
    Socket(sim::Chip::Blank(sim::ChipKind::Otp));
    SetChipByte(0x10, 0x00);
    app.Run(op::kProgram);
    EXPECT_EQ(app.Status(), "编程芯片失败! [校验和错]");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::ChipFailed);
    EXPECT_EQ(app.ctx.outcome.verdict, "NO");

    size_t boxes = app.ui.Boxes().size();
    Arm(sim::FaultKind::Ev, op::kProgram, sim::FaultStep::First);
    app.Run(op::kProgram);
    EXPECT_EQ(app.Status(), "编程电压错误,编程失败");
    ASSERT_EQ(app.ui.Boxes().size(), boxes + 1);
    EXPECT_EQ(app.ui.LastBox()->spec.text, "检测到Vdd或Vpp错误!请检查烧写适配座或\n芯片引脚或PCB板是否有短路故障!");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::ChipFailed);
    EXPECT_EQ(app.ctx.outcome.verdict, "EV");
}

TEST_F(ChipTest, ProgramOfOneAddressReadsNoProgress) {
    Socket(sim::Chip::Blank(sim::ChipKind::Mtp));
    Download(Pattern(0x200, 3));
    app.ctx.programmingRange = {0x100, 0x100};
    EXPECT_EQ(Transcript([&] { app.Run(op::kProgram); }), (Texts{"请稍候,正在编程芯片", "编程成功"}));
    EXPECT_EQ(ChipBytes(0x102)[0x100], code[0x100]);
    EXPECT_EQ(ChipBytes(0x102)[0x101], 0xFF);
}

TEST_F(ChipTest, VerifyReportsTheAddressWhereTheProgrammerStopped) {
    Socket(sim::Chip::Blank(sim::ChipKind::Mtp));
    Download(Pattern(0x1000, 4));
    app.Run(op::kProgram);
    ASSERT_EQ(app.Status(), "编程成功");

    SetChipByte(0x123, uint8_t(code[0x123] ^ 1));
    app.Click(id::kVerifyChip);
    EXPECT_EQ(app.Status(), "校验芯片失败! 在地址: 00123");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::ChipFailed);
    EXPECT_EQ(app.ctx.outcome.failAddress, 0x123u);

    // Over 0..0FFF a last address of 0FFF is still short of the end.
    SetChipByte(0x123, code[0x123]);
    SetChipByte(0xFFF, uint8_t(code[0xFFF] ^ 0x80));
    app.Click(id::kVerifyChip);
    EXPECT_EQ(app.Status(), "校验芯片失败! 在地址: 00FFF");
    EXPECT_EQ(app.ctx.outcome.failAddress, 0xFFFu);

    // The offline-file verify is the same exchange under op::kOfflineVerify.
    app.events.clear();
    VerifyChip(app.ctx, op::kOfflineVerify);
    EXPECT_EQ(app.SessionsSent(), std::vector<int>{op::kOfflineVerify});
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
}

TEST_F(ChipTest, ChipChecksumOfOneAddressOnlyCountsAtAddressZero) {
    Socket(sim::Chip::Blank(sim::ChipKind::Mtp));
    Download(Pattern(0x200, 5));
    app.Run(op::kProgram);

    app.SetRangeFields("0100", "0100");
    app.Click(id::kChipChecksum);
    EXPECT_EQ(app.Status(), "芯片检查和 = XXXX");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_FALSE(app.ctx.outcome.checksum);  // no sum was found

    app.SetRangeFields("0000", "0000");
    app.Click(id::kChipChecksum);
    EXPECT_EQ(app.Status(), "芯片检查和 = " + Hex(code[0], 4));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);

    app.SetRangeFields("0000", "01FF");
    Arm(sim::FaultKind::Stop, op::kChipChecksum, sim::FaultStep::Progress);
    app.Click(id::kChipChecksum);
    EXPECT_EQ(app.Status(), "芯片检查和 = XXXX");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
}

TEST_F(ChipTest, ChipChecksumInsideTheAutomaticSequenceComparesWithTheCode) {
    Socket(sim::Chip::Blank(sim::ChipKind::Mtp));
    Download(Pattern(0x400, 6));
    app.Run(op::kProgram);
    app.ctx.AutoRunActive = 1;

    size_t mark = app.StatusMark();
    ReadChipChecksum(app.ctx);
    Texts texts = app.StatusSince(mark);
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], "芯片检查和 = " + Hex(Sum(code), 4));
    EXPECT_EQ(texts.back(), "校验芯片成功!");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);

    SetChipByte(0x3FF, uint8_t(code[0x3FF] & 0x0F));
    ReadChipChecksum(app.ctx);
    EXPECT_EQ(app.Status(), "校验芯片失败!");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);

    // A sum that could not be read reads as 0; against code summing to 0 it
    // must still not pass as verified.
    app.ctx.codeBuffer[0x100] = 0;
    app.ctx.programmingRange = {0x100, 0x100};
    ReadChipChecksum(app.ctx);
    EXPECT_EQ(app.Status(), "校验芯片失败!");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    app.ctx.AutoRunActive = 0;
}

TEST_F(ChipTest, BlankCheckStopsAtTheFirstProgrammedByte) {
    Socket(sim::Chip::Blank(sim::ChipKind::Otp));
    SetChipByte(0x345, 0x7F);
    app.SetRangeFields("0000", "1FFF");
    app.Click(id::kBlankCheck);
    EXPECT_EQ(app.Status(), "芯片不空, 在地址: 00345");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.outcome.failAddress, 0x345u);

    Socket(sim::Chip::Blank(sim::ChipKind::Otp));
    app.Click(id::kBlankCheck);
    EXPECT_EQ(app.Status(), "芯片是空的, 在地址空间: 00000~~01FFF");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);

    Arm(sim::FaultKind::Ev, op::kBlankCheck, sim::FaultStep::First);
    app.Click(id::kBlankCheck);
    EXPECT_EQ(app.Status(), "编程电压错误,编程失败");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
}

// Debug mode: programming streams the code, verifying reads the chip back.

class DebugChipTest : public ChipTest {
protected:
    void SetUp() override {
        ChipTest::SetUp();
        app.ui.SetChecked(id::kDebugMode, true);
        Socket(sim::Chip::Blank(sim::ChipKind::Mtp));
    }
};

TEST_F(DebugChipTest, DirectProgrammingStreamsEightByteBlocksPastTheEnd) {
    Download(Pattern(0x1004, 7));
    ASSERT_EQ(app.ui.GetText(id::kChecksum), Hex(Sum(code), 4));
    std::vector<ProgressReport> reports;
    app.ctx.progress = [&](const ProgressReport& r) { reports.push_back(r); };
    size_t mark = app.StatusMark();
    app.Run(op::kProgramDirect);

    EXPECT_EQ(app.SessionsSent(), (std::vector<int>{op::kReadIdentifier, op::kProgramDirect}));
    auto blocks = app.DataAfter(op::kProgramDirect, 0);
    ASSERT_EQ(blocks.size(), 0x1008u / 8);
    for (const auto& b : blocks) {
        EXPECT_EQ(b.bytes.size(), 8u);
        EXPECT_EQ(b.polls, 0);
        for (size_t i = 0; i < 8 && b.address + i < code.size(); ++i)
            ASSERT_EQ(b.bytes[i], code[b.address + i] ^ uint8_t(kKey[(b.address + i) % 8]));
    }
    Texts texts = app.StatusSince(mark);
    ASSERT_GE(texts.size(), 3u);
    ASSERT_EQ(reports.size(), texts.size() - 2);  // one for each text with an address
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].stage, "请稍候,正在编程芯片");
        EXPECT_EQ(reports[i].address, 0x80 * (i + 1));
        EXPECT_EQ(std::pair(reports[i].start, reports[i].end), std::pair(0u, 0x1003u));
    }
    EXPECT_EQ(texts[0], "请稍候,正在编程芯片......");
    EXPECT_EQ(texts[1], "请稍候,正在编程芯片,地址: 0080");
    EXPECT_EQ(texts.back(), "编程成功");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    EXPECT_EQ(ChipBytes(0x1004), code);
}

TEST_F(DebugChipTest, DirectProgrammingWithoutFirstTokenStillStreamsThenFails) {
    Download(Pattern(0x1004, 7));
    Arm(sim::FaultKind::NoReply, op::kProgramDirect, sim::FaultStep::First);
    app.Run(op::kProgramDirect);
    EXPECT_EQ(BytesWrittenAfter(op::kProgramDirect), 0x1008u);
    EXPECT_EQ(app.Status(), "编程失败!");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
}

TEST_F(DebugChipTest, DirectProgrammingRefusedByTheSumShowsTheBox) {
    Download(Pattern(0x300, 7));
    app.ui.SetText(id::kChecksum, "0000");  // the unit compares the sum the block carries
    app.Run(op::kProgramDirect);
    auto box = app.ui.LastBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->spec.text,
              "发送数据校验和错误!\n请尝试重新编程\n注意: 烧写时请不要切换当前窗口\n或启动其它需要实时处理的软件,\n"
              "以免影响下载稳定性");
    EXPECT_EQ(box->spec.caption, "警告");
    EXPECT_EQ(app.Status(), "编程失败!");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
}

TEST_F(DebugChipTest, DirectProgrammingWithoutASessionRearmsTheLinkTimer) {
    Download(Pattern(0x300, 7));
    {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.powered = false;
    }
    app.ctx.AutoRunMarker = 30;
    app.Run(op::kProgramDirect);
    EXPECT_EQ(app.Status(), kTextConnectionError);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.AutoRunMarker, 0);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::LinkFailed);
    auto timers = app.ui.TimersStarted();
    ASSERT_FALSE(timers.empty());
    EXPECT_EQ(timers.back(), (std::pair<int, int>{0, 1000}));
    EXPECT_EQ(BytesWrittenAfter(op::kProgramDirect), 0u);
}

TEST_F(DebugChipTest, ReadBackVerifyReadsPiecesOfAtMost1024Bytes) {
    Download(Pattern(0x1001, 8));
    app.Run(op::kProgramDirect);
    ASSERT_EQ(app.Status(), "编程成功");

    app.events.clear();
    size_t mark = app.StatusMark();
    app.Click(id::kVerifyChip);
    std::vector<std::pair<uint32_t, uint32_t>> reads;
    for (const CommandBlock& b : app.BlocksSent()) {
        EXPECT_EQ(b.OpCode() & 0x3F, op::kReadChip);
        reads.push_back({b.Get24(cb::kStartAddress), b.Get24(cb::kEndAddress)});
        // The block was zeroed before its header was filled again.
        EXPECT_EQ(b[9], 0);
        EXPECT_EQ(b[cb::kAutoFlags] & autoflag::kKeep, 0);
        EXPECT_EQ(b[cb::kChipType], 2);
    }
    EXPECT_EQ(reads, (std::vector<std::pair<uint32_t, uint32_t>>{
                         {0, 0x3FF}, {0x400, 0x7FF}, {0x800, 0xBFF}, {0xC00, 0xFFF}, {0x1000, 0x1000}}));
    const std::string verifying = "请稍候,校验芯片";
    EXPECT_EQ(app.StatusSince(mark), (Texts{verifying + "......", At(verifying, 0), At(verifying, 0x400),
                                            At(verifying, 0x800), At(verifying, 0xC00), At(verifying, 0x1000),
                                            "校验芯片成功!"}));

    SetChipByte(0x555, uint8_t(code[0x555] ^ 0x10));
    app.Click(id::kVerifyChip);
    EXPECT_EQ(app.Status(), "校验芯片失败,在地址: 0555");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.outcome.failAddress, 0x555u);

    Arm(sim::FaultKind::BadSum, op::kReadChip, sim::FaultStep::Any);
    app.Click(id::kVerifyChip);
    EXPECT_EQ(app.Status(), "校验芯片失败,在地址: 0000");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
}

}  // namespace
}  // namespace veldrix
