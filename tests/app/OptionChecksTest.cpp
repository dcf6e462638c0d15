#include <gtest/gtest.h>

#include "state/ControlIds.h"
#include "app/OptionChecks.h"
#include "code/ChipCatalogue.h"
#include "ops/AutoSequence.h"
#include "code/Fields.h"
#include "link/Session.h"
#include "tests/support/LinkedApp.h"

namespace veldrix {
namespace {

class OptionChecks : public ::testing::Test {
protected:
    void SetUp() override { app.Start(); }
    MessageBoxSpec LastBox() { return app.ui.Boxes().back().spec; }
    void Choose(const std::string& chip) {
        ASSERT_TRUE(app.ui.ApplyComboChoice(id::kChipCombo, chip));
        ApplyChipSelection(app.ctx);
    }
    // The code counts as downloaded for the range in the address fields.
    void MarkDownloaded(uint32_t end) {
        app.ui.SetText(id::kStartAddress, "0000");
        app.ui.SetText(id::kEndAddress, Hex(end, 4));
        app.ctx.codeInMemory = 1;
        app.ctx.checkedRange = {0, end};
    }
    size_t Sessions() { return app.port.Blocks().size(); }
    test::LinkedApp app;
};

TEST_F(OptionChecks, VerifyWithoutCodeRefusesBeforeAnythingIsSent) {
    size_t sent = Sessions();
    app.Click(id::kVerifyChip);
    EXPECT_EQ(LastBox().text, "编程内存中无代码调入,请打开相关的\n代码文件以调入编程代码!");
    EXPECT_EQ(LastBox().caption, "警告");
    EXPECT_EQ(LastBox().icon, MsgIcon::Warning);
    EXPECT_EQ(app.Status(), "操作已中止");
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::UsageOrFile);
    EXPECT_EQ(Sessions(), sent);
}

TEST_F(OptionChecks, AutoProgramRefusesRewrittenMemoryFirst) {
    app.ctx.memoryRewritten = 1;
    app.Click(id::kAutoProgram);
    EXPECT_EQ(LastBox().text, "编程内存代码已被重写,请先将内存代码保存\n为HEX文件然后重新加载,再执行本操作!");
    EXPECT_EQ(LastBox().caption, "\n注: ");
    EXPECT_EQ(app.Status(), "操作已中止");
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::UsageOrFile);
    app.ctx.memoryRewritten = 0;
    app.Click(id::kMakeOfflineFile);  // the offline file refuses missing code too
    EXPECT_EQ(LastBox().caption, "警告");
}

TEST_F(OptionChecks, AutoProgramNoticesAChangedRangeButVerifyDoesNot) {
    MarkDownloaded(0x0FFF);
    app.ui.SetText(id::kEndAddress, "0FFE");
    size_t sent = Sessions();
    app.Click(id::kAutoProgram);
    EXPECT_EQ(LastBox().text,
              "编程地址已改变,请点击[缓冲区检查和]按钮以刷新编程内存检查和,\n"
              "如果你在下载代码后又选择了新的芯片型号,请重新下载文件代码");
    EXPECT_EQ(LastBox().caption, "\n注: ");
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::UsageOrFile);
    EXPECT_EQ(Sessions(), sent);
    size_t boxes = app.BoxCount();
    app.Click(id::kVerifyChip);  // verify starts without a range check
    EXPECT_EQ(app.BoxCount(), boxes);
    EXPECT_GT(Sessions(), sent);
    EXPECT_NE(app.ctx.outcome.cls, OutcomeClass::UsageOrFile);  // started afresh
}

TEST_F(OptionChecks, NoChipSelectedAsksNothing) {
    app.ctx.programmingRange = {0, 0xFFFF};
    app.ui.SetChecked(id::kVdd33, true);
    EXPECT_TRUE(CheckChipFit(app.ctx));
    EXPECT_EQ(app.BoxCount(), 0u);
}

TEST_F(OptionChecks, RomSizeQuestionOnlyPastTheChipsLastAddress) {
    Choose("S3F9454");
    app.ctx.programmingRange = {0, 0x0FFF};
    EXPECT_TRUE(CheckChipFit(app.ctx));
    EXPECT_EQ(app.BoxCount(), 0u);
    app.ctx.programmingRange = {0, 0x1000};
    app.ui.QueueAnswer(MsgAnswer::No);
    EXPECT_FALSE(CheckChipFit(app.ctx));
    EXPECT_EQ(LastBox().text,
              "加载的程序代码编程终止地址已超出了所选目标芯片\n最大ROM有效地址!这样会导致芯片烧写校验失败!"
              "\n注: S3F9454的ROM最大有效地址是: 0FFF\n是否继续?");
    EXPECT_EQ(LastBox().caption, "错误");
    EXPECT_EQ(LastBox().defaultButton, 1);
    app.ui.QueueAnswer(MsgAnswer::Yes);
    EXPECT_TRUE(CheckChipFit(app.ctx));
}

TEST_F(OptionChecks, SupplyVoltageQuestionForAMismatchedChip) {
    Choose("S3F8275");  // a 3 V chip
    app.ctx.programmingRange = {0, 0x100};
    EXPECT_TRUE(CheckChipFit(app.ctx));  // 3.3 V is what it gets
    app.ui.SetEnabled(id::kVdd50, true);
    app.ui.SetChecked(id::kVdd33, false);
    app.ui.SetChecked(id::kVdd50, true);
    app.ui.QueueAnswer(MsgAnswer::No);
    EXPECT_FALSE(CheckChipFit(app.ctx));
    EXPECT_EQ(LastBox().text,
              "目标芯片VDD电压选择错误!\n错误的VDD电压可能会导致芯片烧写失败!\n注: S3F8275的额定VDD电压是: 3V\n是否继续?");
    EXPECT_EQ(LastBox().caption, "警告");
}

TEST_F(OptionChecks, RefusedChipFitStopsTheAutomaticSequence) {
    Choose("S3F9454");
    MarkDownloaded(0x1FFF);
    size_t sent = Sessions();
    app.ui.QueueAnswer(MsgAnswer::No);
    app.Click(id::kAutoProgram);
    EXPECT_EQ(app.Status(), "编程过程已终止");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Aborted);
    EXPECT_EQ(Sessions(), sent);
}

TEST_F(OptionChecks, BusyLocksOnlyTheOperationGroups) {
    app.ctx.BusyFlag = 1;
    std::string before = app.Status();
    app.Click(id::kBlankCheck);
    app.Click(id::kOpenFile);
    EXPECT_EQ(app.Status(), before);
    // The options keep working.
    app.Click(id::kAutoIdIncrement);
    ASSERT_EQ(app.BoxCount(), 1u);
    EXPECT_EQ(LastBox().caption, "\n注: ");
    EXPECT_EQ(LastBox().text.rfind("您已设置了自动写入芯片ID码增量数据", 0), 0u);
    app.Click(id::kAutoIdIncrement);  // unchecking shows nothing
    EXPECT_EQ(app.BoxCount(), 1u);
}

TEST_F(OptionChecks, BackFromTheCodeViewAndTheViewCaptions) {
    app.Click(id::kShowMemory);
    EXPECT_TRUE(app.ui.IsVisible(id::kViewGroup));
    EXPECT_FALSE(app.ui.IsVisible(id::kOperationsGroup));
    EXPECT_EQ(app.ui.GetText(id::kViewAddress), "00000");
    app.Click(id::kViewChip);
    EXPECT_EQ(app.ui.GetText(id::kViewGroup), "芯片代码视图");
    app.Click(id::kViewBack);
    EXPECT_EQ(app.Status(), "请选择编程操作");
    EXPECT_FALSE(app.ui.IsVisible(id::kViewGroup));
    EXPECT_TRUE(app.ui.IsVisible(id::kOperationsGroup));
}

TEST_F(OptionChecks, LockBoxTurnsBackWhenTheOperationCannotStart) {
    app.ctx.LinkEnabledFlag = 0;
    app.Click(id::kLockProgrammer);
    EXPECT_EQ(app.Status(), "请先行启动编程器USB连接");
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::LinkFailed);
    EXPECT_FALSE(app.ui.IsChecked(id::kLockProgrammer));
}

TEST_F(OptionChecks, AutoOptionWarningsInOrderAndNoStops) {
    app.ctx.block[cb::kAutoFlags] = 0;
    app.ctx.block[cb::kChipType] = 2;
    app.ui.QueueAnswer(MsgAnswer::Yes);
    app.ui.QueueAnswer(MsgAnswer::Yes);
    app.ui.QueueAnswer(MsgAnswer::No);
    EXPECT_FALSE(AutoOptionWarnings(app.ctx));
    auto boxes = app.ui.Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_NE(boxes[0].spec.text.find("[自动校验]"), std::string::npos);
    EXPECT_NE(boxes[1].spec.text.find("[自动读保护]"), std::string::npos);
    EXPECT_NE(boxes[2].spec.text.find("[使能SMART]"), std::string::npos);
    EXPECT_EQ(boxes[2].spec.icon, MsgIcon::Error);
    for (auto& b : boxes) EXPECT_EQ(b.spec.caption, "提示:");

    // An OTP chip is not asked about SMART.
    app.ctx.block[cb::kChipType] = 1;
    app.ctx.block[cb::kAutoFlags] = autoflag::kVerify | autoflag::kReadProtect;
    EXPECT_TRUE(AutoOptionWarnings(app.ctx));
    EXPECT_EQ(app.ui.Boxes().size(), 3u);
}

}  // namespace
}  // namespace veldrix
