#include <gtest/gtest.h>

#include "admin/Password.h"
#include "link/Session.h"
#include "tests/admin/ProductionApp.h"

namespace veldrix {
namespace {

using test::ProductionApp;

// Setting the counter is the lightest protected operation. What the unit
// answers after "OKPWD" is its own affair; the password was taken when the
// program asks whether to remember it.
const char* const kRememberQuestion =
    "是否需要记忆该密码? 这样在VELDRIX本次运行期间对一些频繁需要输入密码的操作,\n"
    "您就不需要再额外输入密码,可减少操作的繁琐.";

struct PasswordApp : ProductionApp {
    void Protected() { Click(id::kSetCounter); }
    bool Accepted() { return ui.LastBox() && ui.LastBox()->spec.text == kRememberQuestion; }
    void SetDevicePassword(const std::string& p) {
        Device([&](sim::DeviceState& s) {
            s.password = p;
            return 0;
        });
    }
    std::string PasswordBytes() {
        auto b = LastBlock();
        return std::string(b.begin() + cb::kPassword, b.begin() + cb::kPassword + 8);
    }
};

TEST(Password, TravelsZeroPaddedOrFillsAllEightBytes) {
    PasswordApp app;
    app.SetDevicePassword("12345678");
    app.ui.QueuePassword("123456789");  // the entry keeps eight characters
    app.ui.QueueAnswer(MsgAnswer::No);
    app.Protected();
    EXPECT_EQ(app.PasswordBytes(), "12345678");
    EXPECT_TRUE(app.Accepted());

    app.ui.QueuePassword("ab");
    app.Protected();
    EXPECT_EQ(app.PasswordBytes(), std::string("ab\0\0\0\0\0\0", 8));
    EXPECT_EQ(app.Status(), "密码错误! 该操作无法继续!");
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Refused);
    EXPECT_NE(app.ctx.outcome.verdict, "OKPWD");
    EXPECT_FALSE(app.ctx.outcome.verdict.empty());
}

TEST(Password, LockingAsksEvenWithARememberedPassword) {
    PasswordApp app;
    app.ui.QueuePassword("000000");
    app.ui.QueueAnswer(MsgAnswer::Yes);
    app.Protected();
    ASSERT_TRUE(app.ctx.passwordRemembered);
    size_t mark = app.Mark();
    app.Click(id::kLockProgrammer);  // nothing queued: the entry is cancelled
    EXPECT_TRUE(app.SessionsSince(mark).empty());
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Aborted);
    EXPECT_FALSE(app.ctx.passwordRemembered);
    EXPECT_FALSE(app.ui.IsChecked(id::kLockProgrammer));
}

TEST(Password, AChangeNeedsTheCurrentPasswordAndEmptiesProgrammerMemory) {
    PasswordApp app;
    app.PutChip(sim::ChipKind::Mtp);
    app.Download(ProductionApp::Pattern(0x100));

    app.ui.QueuePassword("000000");
    app.ui.QueueNewPassword(std::make_pair(std::string("newpw1"), std::string("newpw1")));
    app.Click(id::kSetPassword);
    EXPECT_EQ(app.Status(), "密码修改成功! 请您牢记新密码!");
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Success);
    EXPECT_EQ(app.ui.LastBox()->spec.caption, "警告");
    EXPECT_EQ(app.Device([](sim::DeviceState& s) { return s.password; }), "newpw1");
    auto b = app.LastBlock();
    EXPECT_EQ(std::string(b.begin() + 20, b.begin() + 26), "newpw1");
    EXPECT_EQ(b[12], 0);
    EXPECT_EQ(b[13], 0);
    EXPECT_EQ(std::string(b.begin() + 30, b.begin() + 38), std::string("000000\0\0", 8));
    EXPECT_EQ(app.ctx.codeInMemory, 0);
    EXPECT_EQ(app.ctx.memoryRewritten, 0);

    // Programming from the old download is refused until the next one.
    size_t mark = app.Mark();
    app.Click(id::kAutoProgram);
    EXPECT_EQ(app.ui.LastBox()->spec.text, "编程内存中无代码调入,请打开相关的\n代码文件以调入编程代码!");
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::UsageOrFile);
    EXPECT_TRUE(app.SessionsSince(mark).empty());

    // Eight characters: the last two travel in the checksum bytes.
    app.ui.QueuePassword("newpw1");
    app.ui.QueueNewPassword(std::make_pair(std::string("ABCDEFGH"), std::string("ABCDEFGH")));
    app.Click(id::kSetPassword);
    b = app.LastBlock();
    EXPECT_EQ(std::string(b.begin() + 20, b.begin() + 26), "ABCDEF");
    EXPECT_EQ(std::string(b.begin() + 12, b.begin() + 14), "GH");
    EXPECT_EQ(app.Device([](sim::DeviceState& s) { return s.password; }), "ABCDEFGH");

    // A wrong current password changes nothing.
    app.ctx.codeInMemory = 1;
    app.ui.QueuePassword("000000");
    app.ui.QueueNewPassword(std::make_pair(std::string("x"), std::string("x")));
    app.Click(id::kSetPassword);
    EXPECT_EQ(app.Status(), "密码错误! 操作失败!");
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Refused);
    EXPECT_EQ(app.Device([](sim::DeviceState& s) { return s.password; }), "ABCDEFGH");
    EXPECT_EQ(app.ctx.codeInMemory, 1);
}

}  // namespace
}  // namespace veldrix
