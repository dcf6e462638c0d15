#include <gtest/gtest.h>

#include "link/Session.h"
#include "ops/Copies.h"
#include "tests/admin/ProductionApp.h"
#include "state/OpCodes.h"

namespace veldrix {
namespace {

using test::ProductionApp;

const char* const kRewritten = "编程内存代码已被重写,请先将内存代码保存\n为HEX文件然后重新加载,再执行本操作!";

struct CopyApp : ProductionApp {
    std::vector<uint8_t> file = Pattern(0x180, 9);

    // Block 2 holds an offline file of 0x180 bytes from address 0.
    CopyApp() {
        Device([&](sim::DeviceState& s) {
            sim::DirectoryBlock& b = *s.Block(2);
            b.holdsFile = true;
            b.start = 0;
            b.end = uint32_t(file.size() - 1);
            b.code = file;
            std::copy_n("stored.hex", 10, b.config.begin());
            return 0;
        });
        ui.ComboSelect(id::kDirectory, 1);
    }
    void CopyMaster() {
        ui.QueuePassword(sim::kFactoryPassword);
        ui.QueueAnswer(MsgAnswer::Yes);  // change programmer memory
        ui.QueueAnswer(MsgAnswer::No);   // do not remember the password
        Click(id::kReadFileToMemory);
    }
};

TEST(CopyMaster, AnEmptyBlockKeepsTheMemoryMarkedRewritten) {
    CopyApp app;
    app.Download(ProductionApp::Pattern(0x100));
    app.ui.ComboSelect(id::kDirectory, 8);
    app.CopyMaster();
    auto box = app.ui.LastBox();
    EXPECT_EQ(box->spec.text, "读取文件信息错误,指定的目录下没有文件.");
    EXPECT_EQ(box->spec.caption, "警告");
    EXPECT_EQ(box->spec.icon, MsgIcon::None);
    EXPECT_EQ(app.ctx.memoryRewritten, 1);
    EXPECT_EQ(app.ctx.codeInMemory, 0);
    EXPECT_TRUE(app.ctx.outcome.blockEmpty);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::ChipFailed);

    size_t mark = app.Mark();
    app.Click(id::kAutoProgram);
    EXPECT_EQ(app.ui.LastBox()->spec.text, kRewritten);
    EXPECT_TRUE(app.SessionsSince(mark).empty());
}

TEST(CopyMaster, ACopyThatBreaksOffIsNotAdopted) {
    CopyApp app;
    app.Download(ProductionApp::Pattern(0x100));
    app.Device([](sim::DeviceState& s) {
        s.Arm({sim::FaultKind::Stop, op::kCopyMaster, sim::FaultStep::Progress, true});
        return 0;
    });
    size_t mark = app.Mark();
    app.CopyMaster();
    EXPECT_EQ(app.Status(), "拷贝母片数据检查和 =  XXXX");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.memoryRewritten, 1);
    EXPECT_EQ(app.ctx.codeInMemory, 0);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::ChipFailed);
    EXPECT_FALSE(app.ctx.outcome.checksum);
    // No checksum session adopts the half-filled memory.
    EXPECT_EQ(app.SessionsSince(mark), (std::vector<int>{op::kClearArea, op::kReadFileInfo, op::kCopyMaster}));
}

TEST(CopyMaster, AFailedMemoryChecksumLeavesTheCopyUnconfirmed) {
    CopyApp app;
    app.Download(ProductionApp::Pattern(0x100));
    app.Device([](sim::DeviceState& s) {
        s.Arm({sim::FaultKind::NoReply, op::kMemoryChecksum, sim::FaultStep::Final, true});
        return 0;
    });
    app.CopyMaster();
    EXPECT_EQ(app.Status(), "拷贝母片数据检查和 =  XXXX");
    EXPECT_EQ(app.ctx.memoryRewritten, 1);
    EXPECT_EQ(app.ctx.codeInMemory, 0);
    size_t mark = app.Mark();
    app.Click(id::kAutoProgram);
    EXPECT_EQ(app.ui.LastBox()->spec.text, kRewritten);
    EXPECT_TRUE(app.SessionsSince(mark).empty());
}

TEST(CopyMaster, AWrongPasswordStopsAfterTheBlockCheck) {
    CopyApp app;
    size_t mark = app.Mark();
    app.ui.QueuePassword("nope");
    app.ui.QueueAnswer(MsgAnswer::Yes);
    app.Click(id::kReadFileToMemory);
    EXPECT_EQ(app.Status(), "密码错误! 该操作无法继续!");
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Refused);
    EXPECT_EQ(app.SessionsSince(mark), (std::vector<int>{op::kClearArea, op::kReadFileInfo, op::kCopyMaster}));
    EXPECT_EQ(app.ctx.memoryRewritten, 1);
}

TEST(CopyChip, OneAddressNotAtZeroCannotBeConfirmed) {
    CopyApp app;
    app.Download(ProductionApp::Pattern(0x100));
    app.PutChip(sim::ChipKind::Mtp);
    // The unit sends no progress for one address, so the end is never seen.
    app.ui.SetText(id::kStartAddress, "0010");
    app.ui.SetText(id::kEndAddress, "0010");
    app.ui.QueueAnswer(MsgAnswer::Yes);
    app.Click(id::kCopyChip);
    EXPECT_EQ(app.Status(), "拷贝芯片数据检查和 =  XXXX");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.codeInMemory, 0);
    EXPECT_EQ(app.ctx.memoryRewritten, 1);
}

}  // namespace
}  // namespace veldrix
