// The download into the programmer's memory and the memory checksum, on the
// wire against the simulated programmer.
#include <gtest/gtest.h>

#include <tuple>

#include "code/CodeBuffer.h"
#include "code/Fields.h"
#include "link/Session.h"
#include "ops/Download.h"
#include "tests/support/SimApp.h"
#include "tests/support/TestApp.h"
#include "state/OpCodes.h"

namespace veldrix {
namespace {

using test::SimApp;

const std::string kKey = sim::kDefaultIdentifier;
const std::string kProgress = "[双击这里中断下载] 下载代码到编程器内存,发送数据地址:  ";
const std::string kFailed = "编程代码下载失败![编程器无回应,可能正忙,请稍候再试]";
const std::string kSumResult = "编程内存检查和 =  ";

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t((i * 29 + seed) ^ (i >> 5));
    return out;
}

uint16_t Sum(const std::vector<uint8_t>& bytes) {
    uint16_t sum = 0;
    for (uint8_t b : bytes) sum = uint16_t(sum + b);
    return sum;
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(app.Connect()); }

    // A binary code file the code-file field names.
    void UseCode(const std::vector<uint8_t>& bytes) {
        code = bytes;
        app.ui.SetText(id::kCodeFile, dir.Write("code" + std::to_string(++files) + ".bin",
                                                std::string(bytes.begin(), bytes.end())));
    }
    std::vector<uint8_t> Memory(uint32_t start, size_t n) {
        std::lock_guard lock(app.prog.state.mutex);
        return std::vector<uint8_t>(app.prog.state.memory.begin() + start, app.prog.state.memory.begin() + start + n);
    }
    int Sessions(int opCode) {
        auto s = app.SessionsSent();
        return int(std::count(s.begin(), s.end(), opCode));
    }

    SimApp app;
    test::TempDir dir;
    std::vector<uint8_t> code;
    int files = 0;
};

TEST_F(DownloadTest, FullSpeedSendsPageAlignedBlocksPolledAtEveryPageChange) {
    UseCode(Pattern(0x2000, 3));
    app.SelectSpeed(id::kSpeedFull);
    app.Run(op::kDownload);

    auto blocks = app.DataAfter(op::kDownload, 0);
    ASSERT_EQ(blocks.size(), 512u);
    std::vector<uint32_t> polled;
    for (const auto& b : blocks) {
        EXPECT_EQ(b.bytes.size(), 16u) << Hex(b.address, 4);
        if (b.polls) polled.push_back(b.address);
    }
    // Before the first block (bits 8-15 of 0x2000 differ from 0), then before
    // the last block of each page and the first of the next.
    std::vector<uint32_t> expected = {0x0000};
    for (uint32_t page = 0x100; page < 0x2000; page += 0x100) {
        expected.push_back(page - 0x10);
        expected.push_back(page);
    }
    expected.push_back(0x1FF0);
    EXPECT_EQ(std::vector<uint32_t>(polled.begin(), polled.begin() + 5),
              (std::vector<uint32_t>{0x0000, 0x00F0, 0x0100, 0x01F0, 0x0200}));
    EXPECT_EQ(polled, expected);

    // Progress at most every 128 bytes, shown before the block it names.
    for (const auto& b : blocks) {
        if (b.address == 0x80) {
            EXPECT_EQ(b.statusBefore, std::vector<std::string>{kProgress + "00080"});
        } else if (b.address % 0x80 || b.address == 0) {
            EXPECT_TRUE(b.statusBefore.empty()) << Hex(b.address, 4);
        }
    }

    // Scrambled with the identifier from the start address on.
    for (const auto& b : blocks)
        for (size_t i = 0; i < b.bytes.size(); ++i)
            ASSERT_EQ(b.bytes[i], code[b.address + i] ^ uint8_t(kKey[(b.address + i) % 8])) << Hex(b.address, 4);

    EXPECT_EQ(Memory(0, 0x2000), code);
    EXPECT_EQ(app.Status(), kSumResult + Hex(Sum(code), 4));
    EXPECT_EQ(app.ui.GetText(id::kChecksum), Hex(Sum(code), 4));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    EXPECT_EQ(app.ctx.codeInMemory, 1);
    EXPECT_EQ(app.ctx.checkedRange, (AddressRange{0, 0x1FFF}));
    EXPECT_EQ(app.SessionsSent(),
              (std::vector<int>{op::kReadIdentifier, op::kClearArea, op::kDownload, op::kMemoryChecksum}));
}

TEST_F(DownloadTest, SpeedRadiosSetBlockLengthAndPauseBeforeEachPoll) {
    struct Case {
        int radio;  // 0: none checked
        size_t length;
        uint64_t pauseMs;
    };
    UseCode(Pattern(0x200, 9));
    for (Case c : {Case{id::kSpeedFull, 16, 0}, Case{id::kSpeedMedium, 8, 10}, Case{id::kSpeedLow, 8, 20},
                   Case{0, 16, 0}}) {
        app.SelectSpeed(c.radio);
        app.events.clear();
        app.Run(op::kDownload);
        auto blocks = app.DataAfter(op::kDownload, 0);
        ASSERT_EQ(blocks.size(), 0x200 / c.length) << c.radio;
        for (size_t i = 1; i < blocks.size(); ++i) {
            EXPECT_EQ(blocks[i].bytes.size(), c.length);
            if (blocks[i].polls) {
                // The pause, then the first 1 ms poll.
                EXPECT_EQ(blocks[i].firstPollAt - blocks[i - 1].doneAt, (c.pauseMs + 1) * 1000) << c.radio;
            }
        }
        EXPECT_EQ(app.ctx.codeInMemory, 1) << c.radio;
    }
}

TEST_F(DownloadTest, LastBlockCarriesSendBufferBytesPastTheEnd) {
    // A longer download first leaves its scrambled bytes in the send buffer.
    auto earlier = Pattern(0x50, 77);
    UseCode(earlier);
    app.Run(op::kDownload);
    ASSERT_EQ(app.ctx.codeInMemory, 1);

    UseCode(Pattern(0x42, 5));
    app.SelectSpeed(id::kSpeedLow);
    app.Run(op::kDownload);
    auto blocks = app.DataAfter(op::kDownload, 0);
    ASSERT_EQ(blocks.size(), 9u);
    for (const auto& b : blocks) {
        EXPECT_EQ(b.bytes.size(), 8u);
        EXPECT_EQ(b.polls, 0) << "bits 8-15 of 0x42 are clear, so no block is polled";
    }
    const auto& last = blocks.back();
    EXPECT_EQ(last.address, 0x40u);
    EXPECT_EQ(last.bytes[0], code[0x40] ^ uint8_t(kKey[0]));
    EXPECT_EQ(last.bytes[1], code[0x41] ^ uint8_t(kKey[1]));
    for (uint32_t a = 0x42; a < 0x48; ++a)
        EXPECT_EQ(last.bytes[a - 0x40], earlier[a] ^ uint8_t(kKey[a % 8])) << Hex(a, 4);
    EXPECT_EQ(app.Status(), kSumResult + Hex(Sum(code), 4));
}

TEST_F(DownloadTest, BlockStartingShortOfAPageEndIsCutThere) {
    app.ctx.codeBuffer.assign(kImageSize, 0xFF);
    for (uint32_t a = 0xFFC; a <= 0x100B; ++a) app.ctx.codeBuffer[a] = uint8_t(a * 3);
    app.SelectSpeed(id::kSpeedFull);
    ReadProgrammerId(app.ctx);
    app.ctx.block.SetRange(0xFFC, 0x100B);
    app.ctx.block.SetOpCode(op::kDownload);
    ASSERT_TRUE(OpenSession(app.ctx));
    StreamCode(app.ctx, 0xFFC, 0x100B);

    auto blocks = app.DataAfter(op::kDownload, 0xFFC);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].bytes.size(), 4u);
    EXPECT_EQ(blocks[1].address, 0x1000u);
    EXPECT_EQ(blocks[1].bytes.size(), 16u);
    // The key restarts at the start address, wherever that is.
    EXPECT_EQ(blocks[0].bytes[0], uint8_t(0xFFC * 3) ^ uint8_t(kKey[0]));
    EXPECT_EQ(blocks[1].bytes[4], uint8_t(0x1004 * 3) ^ uint8_t(kKey[0]));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    app.ctx.Sleep(500);
    EXPECT_EQ(Memory(0xFFC, 16), std::vector<uint8_t>(app.ctx.codeBuffer.begin() + 0xFFC,
                                                        app.ctx.codeBuffer.begin() + 0xFFC + 16));
}

TEST_F(DownloadTest, ScramblingRestartsWithTheIdentifierReadAtEachDownload) {
    UseCode(Pattern(0x45, 1));  // not a multiple of 8: a running key would be off next time
    app.Run(op::kDownload);
    auto first = app.DataAfter(op::kDownload, 0);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first[0].bytes[0], code[0] ^ uint8_t(kKey[0]));

    {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.identifier = "ABCDEFGH";
    }
    app.events.clear();
    app.Run(op::kDownload);
    auto second = app.DataAfter(op::kDownload, 0);
    ASSERT_GE(second.size(), 2u);
    EXPECT_EQ(second[0].bytes[0], code[0] ^ 'A');
    EXPECT_EQ(second[0].bytes[1], code[1] ^ 'B');
    EXPECT_EQ(second[1].bytes[0], code[8] ^ 'A');
    EXPECT_EQ(app.Status(), kSumResult + Hex(Sum(code), 4));
    EXPECT_EQ(app.ctx.codeInMemory, 1);
}

TEST_F(DownloadTest, AnUnreadIdentifierStopsTheDownloadBeforeTheMemoryIsTouched) {
    UseCode(Pattern(0x100, 4));
    app.Run(op::kDownload);
    ASSERT_EQ(app.ctx.codeInMemory, 1);
    const AddressRange confirmed = app.ctx.checkedRange;
    for (sim::FaultKind kind : {sim::FaultKind::NoReply, sim::FaultKind::Short}) {
        {
            std::lock_guard lock(app.prog.state.mutex);
            app.prog.state.Arm({kind, op::kReadIdentifier, sim::FaultStep::Any, true});
        }
        UseCode(Pattern(0x180, 8));
        app.events.clear();
        app.Run(op::kDownload);
        // Data scrambled with a stale or half key would be garbage in the unit.
        EXPECT_EQ(app.SessionsSent(), (std::vector<int>{op::kReadIdentifier}));
        EXPECT_EQ(app.Status(), "编程器连接错误,编程器可能正忙,请稍候再试!");
        EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
        EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::LinkFailed);
        // The unit's memory was never initialised: the earlier download stands.
        EXPECT_EQ(app.ctx.codeInMemory, 1);
        EXPECT_EQ(app.ctx.checkedRange, confirmed);
    }
}

TEST_F(DownloadTest, StatusTranscriptOfASuccessfulDownload) {
    UseCode(Pattern(0x180, 2));
    std::vector<std::tuple<std::string, uint32_t, uint32_t, uint32_t>> reports;
    app.ctx.progress = [&](const ProgressReport& r) { reports.emplace_back(r.stage, r.address, r.start, r.end); };
    size_t mark = app.StatusMark();
    app.Run(op::kDownload);
    EXPECT_EQ(app.StatusSince(mark), (std::vector<std::string>{
                                         "调入代码成功!",
                                         "正在初始化编程内存系统,该过程约需几秒到十几秒时间,请稍候......",
                                         "初始化编程内存 OK,正在准备下载编程代码.....",
                                         kProgress + "00080",
                                         kProgress + "00100",
                                         "请稍候,得到编程内存检查和",
                                         "请稍候,得到编程内存检查和,地址: 0017F",
                                         kSumResult + Hex(Sum(code), 4),
                                     }));
    // The same addresses as numbers, each with the span it runs over.
    EXPECT_EQ(reports, (std::vector<std::tuple<std::string, uint32_t, uint32_t, uint32_t>>{
                           {"下载代码到编程器内存", 0x80, 0, 0x17F},
                           {"下载代码到编程器内存", 0x100, 0, 0x17F},
                           {"请稍候,得到编程内存检查和", 0x17F, 0, 0x17F}}));
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Success);
    EXPECT_EQ(app.ctx.outcome.checksum, Sum(code));
    EXPECT_EQ(app.ui.GetText(id::kStartAddress), "0000");
    EXPECT_EQ(app.ui.GetText(id::kEndAddress), "017F");
    // The announcement carries range and the code's own sum.
    auto blocks = app.BlocksSent();
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[2].Get24(cb::kStartAddress), 0u);
    EXPECT_EQ(blocks[2].Get24(cb::kEndAddress), 0x17Fu);
    EXPECT_EQ(blocks[2].Get16(cb::kChecksum), Sum(code));
    EXPECT_EQ(blocks[1][cb::kBlockNumber], 0);
}

TEST_F(DownloadTest, BusyLineHeldPastFiftyPollsEndsTheDownload) {
    UseCode(Pattern(0x400, 6));
    {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.Arm({sim::FaultKind::Busy, op::kDownload, sim::FaultStep::Progress, false});
    }
    size_t mark = app.StatusMark();
    app.Run(op::kDownload);

    auto blocks = app.DataAfter(op::kDownload, 0);
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(blocks.back().address, 0xF8u) << "nothing after the page the unit hangs on";
    // After the last block: 50 polls, every one finding DSR set.
    int polls = 0, busy = 0;
    for (size_t i = app.events.size(); i-- > 0 && app.events[i].kind != test::WireEvent::Write;)
        if (app.events[i].kind == test::WireEvent::Poll) {
            ++polls;
            busy += app.events[i].busy;
        }
    EXPECT_EQ(polls, 50);
    EXPECT_EQ(busy, 50);
    auto statuses = app.StatusSince(mark);
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(statuses.end() - 3, statuses.end()),
              (std::vector<std::string>{"通信异常中断!", kTextConnectionError, kFailed}));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.AutoRunMarker, 0);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::LinkFailed);
    EXPECT_EQ(Sessions(op::kMemoryChecksum), 0);
    std::lock_guard lock(app.prog.state.mutex);
    app.prog.state.ClearFaults();
}

TEST_F(DownloadTest, AbortRequestStopsBeforeTheNextBlock) {
    UseCode(Pattern(0x300, 1));
    app.Run(op::kDownload);
    ASSERT_EQ(app.ctx.codeInMemory, 1);

    app.onLine = [this](const std::string& line) {
        if (line == "status: " + kProgress + "00200") app.ctx.AbortFlag = 1;
    };
    app.events.clear();
    app.Run(op::kDownload);

    auto blocks = app.DataAfter(op::kDownload, 0);
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(blocks.back().address, 0x200u) << "the block already announced still goes";
    EXPECT_EQ(app.Status(), "下载过程已被用户中断!");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Aborted);
    EXPECT_EQ(Sessions(op::kMemoryChecksum), 0) << "no checksum after an abort";
    EXPECT_EQ(app.ctx.codeInMemory, 0) << "the memory holds a third of the code";
}

TEST_F(DownloadTest, AbortRequestLeftOverFromIdleIsClearedAtTheStart) {
    UseCode(Pattern(0x100, 1));
    app.ctx.AbortFlag = 1;
    app.Run(op::kDownload);
    EXPECT_EQ(app.ctx.AbortFlag, 0);
    EXPECT_EQ(app.Status(), kSumResult + Hex(Sum(code), 4));
    EXPECT_EQ(app.ctx.codeInMemory, 1);
}

TEST_F(DownloadTest, DebugModeSendsNothingAndAdoptsTheRange) {
    UseCode(Pattern(0x234, 2));
    app.ui.SetChecked(id::kDebugMode, true);
    app.ui.SetText(id::kStartAddress, "0100");
    app.ctx.checkedRange = {0, 0x1FFF};
    app.Run(op::kDownload);
    for (const auto& e : app.events) EXPECT_NE(e.kind, test::WireEvent::Write);
    EXPECT_EQ(app.Status(), kSumResult + Hex(Sum(code), 4));
    EXPECT_EQ(app.ui.GetText(id::kChecksum), Hex(Sum(code), 4));
    EXPECT_EQ(app.ui.GetText(id::kStartAddress), "0000");
    EXPECT_EQ(app.ui.GetText(id::kEndAddress), "0233");
    EXPECT_EQ(app.ctx.checkedRange, (AddressRange{0, 0x233}));
    EXPECT_EQ(app.ctx.codeInMemory, 1);
}

TEST_F(DownloadTest, UnansweredInitialisationStopsBeforeTheAnnouncement) {
    UseCode(Pattern(0x100, 1));
    {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.Arm({sim::FaultKind::NoReply, op::kClearArea, sim::FaultStep::Any, true});
    }
    uint64_t before = app.time.NowMicros();
    app.Run(op::kDownload);
    EXPECT_EQ(app.Status(), "初始化编程内存失败!请尝试重新下载代码进行初始化");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(Sessions(op::kDownload), 0);
    EXPECT_GE(app.time.NowMicros() - before, 1500u * 30 * 1000) << "1500 tries of 30 ms";
}

TEST_F(DownloadTest, OpenFileChoosesThenDownloadsAndCancelSendsNothing) {
    auto bytes = Pattern(0x90, 3);
    std::string path = dir.Write("chosen.bin", std::string(bytes.begin(), bytes.end()));
    app.ui.QueueOpen(std::nullopt);
    app.Run(op::kOpenFile);
    EXPECT_TRUE(app.BlocksSent().empty());
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Aborted);

    app.ui.QueueOpen(path);
    app.Run(op::kOpenFile);
    EXPECT_EQ(app.ui.GetText(id::kCodeFile), path);
    EXPECT_EQ(app.SessionsSent(),
              (std::vector<int>{op::kReadIdentifier, op::kClearArea, op::kDownload, op::kMemoryChecksum}));
    EXPECT_EQ(app.Status(), kSumResult + Hex(Sum(bytes), 4));
    EXPECT_EQ(app.ctx.codeInMemory, 1);
}

// The memory checksum alone (button "内存检查和").

TEST_F(DownloadTest, MemoryChecksumRefusesRewrittenMemoryWithoutTraffic) {
    app.ctx.memoryRewritten = 1;
    app.Run(op::kMemoryChecksum);
    auto box = app.ui.LastBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->spec.text, "编程内存代码已被重写,请先将内存代码保存\n为HEX文件然后重新加载,再执行本操作!");
    EXPECT_EQ(box->spec.caption, "提示:");
    EXPECT_EQ(box->spec.icon, MsgIcon::None);
    EXPECT_EQ(app.Status(), "操作已终止");
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::UsageOrFile);
    EXPECT_TRUE(app.BlocksSent().empty());
}

TEST_F(DownloadTest, MemoryChecksumCutShortShowsXXXXWithoutABox) {
    UseCode(Pattern(0x2000, 1));
    app.Run(op::kDownload);
    ASSERT_EQ(app.ctx.codeInMemory, 1);
    {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.Arm({sim::FaultKind::Stop, op::kMemoryChecksum, sim::FaultStep::Progress, true});
    }
    size_t boxes = app.ui.Boxes().size();
    size_t mark = app.StatusMark();
    app.ctx.checkedRange = {0, 0x1000};
    app.Run(op::kMemoryChecksum);
    const std::string waiting = "请稍候,得到编程内存检查和";
    EXPECT_EQ(app.StatusSince(mark), (std::vector<std::string>{waiting, waiting + ",地址: 00400",
                                                              waiting + ",地址: 00800", waiting + ",地址: 00C00",
                                                              kSumResult + "XXXX"}));
    EXPECT_EQ(app.ui.Boxes().size(), boxes);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::ChipFailed);
    EXPECT_FALSE(app.ctx.outcome.checksum);
    EXPECT_EQ(app.ctx.checkedRange, (AddressRange{0, 0x1000}));
}

TEST_F(DownloadTest, MemoryChecksumAfterAFileCopyAdoptsTheProgrammersSum) {
    UseCode(Pattern(0x200, 1));
    app.Run(op::kDownload);
    {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.memory[0x10] ^= 0xFF;
    }
    uint16_t programmers = Sum(Memory(0, 0x200));
    ASSERT_NE(programmers, Sum(code));
    app.ctx.checkedRange = {0, 0};
    FillCommandBlockHeader(app.ctx);
    CheckProgrammerMemory(app.ctx, op::kCopyMaster);
    EXPECT_EQ(app.Status(), kSumResult + Hex(programmers, 4));
    EXPECT_EQ(app.ui.GetText(id::kChecksum), Hex(programmers, 4));
    EXPECT_EQ(app.ctx.checkedRange, (AddressRange{0, 0x1FF}));

    CheckProgrammerMemory(app.ctx, op::kNone);
    EXPECT_EQ(app.Status(), kSumResult + "XXXX");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
}

TEST_F(DownloadTest, MemoryChecksumOfOneAddressReadsOneProgressWordUnshown) {
    UseCode(Pattern(0x200, 1));
    app.Run(op::kDownload);
    app.SetRangeFields("0100", "0100");
    size_t mark = app.StatusMark();
    app.Click(id::kMemoryChecksum);
    EXPECT_EQ(app.StatusSince(mark),
              (std::vector<std::string>{"请稍候,得到编程内存检查和", kSumResult + Hex(code[0x100], 4)}));
    EXPECT_EQ(app.ctx.checkedRange, (AddressRange{0x100, 0x100}));
}

}  // namespace
}  // namespace veldrix
