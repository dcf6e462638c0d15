// Erase, SMART and the protections: one session, one two-letter verdict.
#include <gtest/gtest.h>

#include "link/Session.h"
#include "ops/Protection.h"
#include "tests/support/SimApp.h"
#include "state/OpCodes.h"

namespace veldrix {
namespace {

using test::SimApp;
using Texts = std::vector<std::string>;

struct Case {
    int opCode;
    int button;  // 0: the automatic sequence only
    const char* running;
    const char* done;
    const char* refused;
};

const Case kCases[] = {
    {op::kEraseMtp, id::kEraseMtp, "正在擦除MTP,请稍候......", "芯片已擦除!", "擦除芯片失败!"},
    {op::kSmart, 0, "使能芯片SMART系统,请稍候....", "芯片SMART系统已使能!", "使能芯片SMART失败!"},
    {op::kSmartDebug, 0, "使能芯片SMART系统,请稍候....", "芯片SMART系统已使能!", "使能芯片SMART失败!"},
    {op::kReadProtect, id::kReadProtect, "正在使能芯片读保护,请稍候......", "芯片读保护已使能!", "芯片读保护失败!"},
    {op::kLdcProtect, id::kLdcProtect, "正在使能芯片LDC保护,请稍候......", "芯片LDC保护已使能!", "芯片LDC保护失败!"},
    {op::kHardwareProtect, id::kHwProtect, "正在使能硬件写保护,请稍候......", "芯片硬件写保护成功!", "芯片硬件写保护失败!"},
};

class ProtectionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(app.Connect()); }

    void Socket(sim::Chip chip) {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.chip = std::move(chip);
    }
    sim::Chip Chip() {
        std::lock_guard lock(app.prog.state.mutex);
        return app.prog.state.chip;
    }
    void Arm(sim::FaultKind kind, int opCode) {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.Arm({kind, opCode, sim::FaultStep::Any, true});
    }
    // Through the button where there is one, else as the sequence starts it.
    Texts Start(const Case& c) {
        size_t mark = app.StatusMark();
        app.events.clear();
        if (c.button) app.Click(c.button);
        else app.Run(c.opCode);
        EXPECT_EQ(app.SessionsSent(), std::vector<int>{c.opCode});
        return app.StatusSince(mark);
    }

    SimApp app;
};

TEST_F(ProtectionTest, OkShowsTheOperationsOwnTexts) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.opCode);
        sim::Chip chip = sim::Chip::Blank(sim::ChipKind::Mtp);
        chip.cells[0x20] = 0x12;
        Socket(chip);
        EXPECT_EQ(Start(c), (Texts{c.running, c.done}));
        EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
        EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Success);
        EXPECT_EQ(app.ctx.outcome.verdict, "OK");
    }
    // The last chip went through hardware write protection only.
    EXPECT_TRUE(Chip().writeProtected);
    EXPECT_FALSE(Chip().readProtected);
}

TEST_F(ProtectionTest, EachOperationReachesTheChip) {
    sim::Chip chip = sim::Chip::Blank(sim::ChipKind::Mtp);
    chip.cells[0x20] = 0x12;
    chip.readProtected = true;
    Socket(chip);
    Start(kCases[0]);
    EXPECT_EQ(Chip().cells[0x20], 0xFF);
    EXPECT_FALSE(Chip().readProtected);
    Start(kCases[3]);
    EXPECT_TRUE(Chip().readProtected);
    Start(kCases[4]);
    EXPECT_TRUE(Chip().ldcProtected);
    Start(kCases[2]);
    EXPECT_TRUE(Chip().smart);
}

TEST_F(ProtectionTest, NoShowsTheRefusalText) {
    // An OTP chip has no erase, SMART or hardware protection; an empty socket nothing at all.
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.opCode);
        bool otpCan = c.opCode == op::kReadProtect || c.opCode == op::kLdcProtect;
        Socket(otpCan ? sim::Chip() : sim::Chip::Blank(sim::ChipKind::Otp));
        EXPECT_EQ(Start(c), (Texts{c.running, c.refused}));
        EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
        // The unit's no is about the chip, not the programmer refusing.
        EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::ChipFailed);
        EXPECT_EQ(app.ctx.outcome.verdict, "NO");
    }
}

TEST_F(ProtectionTest, EvOnAnEraseReportsTheVoltageFault) {
    Socket(sim::Chip::Blank(sim::ChipKind::Mtp));
    Arm(sim::FaultKind::Ev, op::kEraseMtp);
    EXPECT_EQ(Start(kCases[0]), (Texts{"正在擦除MTP,请稍候......", "编程电压错误,编程失败"}));
    auto box = app.ui.LastBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->spec.text, "检测到Vdd或Vpp错误!请检查烧写适配座或\n芯片引脚或PCB板是否有短路故障!");
    EXPECT_EQ(box->spec.caption, "警告");
    EXPECT_EQ(box->spec.icon, MsgIcon::Warning);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
}

TEST_F(ProtectionTest, AnythingElseIsOperationFailed) {
    Socket(sim::Chip::Blank(sim::ChipKind::Mtp));
    Arm(sim::FaultKind::NoReply, op::kReadProtect);
    uint64_t before = app.time.NowMicros();
    EXPECT_EQ(Start(kCases[3]), (Texts{"正在使能芯片读保护,请稍候......", "操作失败"}));
    EXPECT_GE(app.time.NowMicros() - before, 100u * 30 * 1000) << "100 tries of 30 ms before giving up";
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);

    // Two letters that are neither "OK", "NO" nor "EV".
    Arm(sim::FaultKind::Garbage, op::kLdcProtect);
    EXPECT_EQ(Start(kCases[4]).back(), "操作失败");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
}

TEST_F(ProtectionTest, FailedSessionLeavesItsOwnText) {
    {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.locked = true;
    }
    size_t mark = app.StatusMark();
    app.Click(id::kReadProtect);
    EXPECT_EQ(app.StatusSince(mark), (Texts{"正在使能芯片读保护,请稍候......", "编程器已被锁定,请先解除锁定状态!"}));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Refused);
    EXPECT_EQ(app.ctx.outcome.verdict, "LOCK");
}

}  // namespace
}  // namespace veldrix
