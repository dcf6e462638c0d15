#include <gtest/gtest.h>

#include "state/ControlIds.h"
#include "code/CodeBuffer.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

TEST(CodeChecksum, SumsTheInclusiveRangeIn16Bits) {
    test::TestApp app;
    EXPECT_EQ(CodeChecksum(app.ctx, 0, 0x1FFF), 0xE000);  // 0x2000 * 0xFF
    EXPECT_EQ(CodeChecksum(app.ctx, 0, 0xFFFFF), 0x0000);
    EXPECT_EQ(CodeChecksum(app.ctx, 0x2000, 0x1FFF), 0);
    EXPECT_EQ(CodeChecksum(app.ctx, 0xFFFFF, 0xFFFFFFFF), 0x00FF);  // stops at the image's end
    std::vector<uint8_t> bytes = {0x80, 0x80, 0x01};
    EXPECT_EQ(CodeChecksum(bytes, 0, 2), 0x0101);
    EXPECT_EQ(CodeChecksum(bytes, 1, 1), 0x0080);
}

class ProgrammingRange : public ::testing::Test {
protected:
    void SetUp() override { app.CreateControls(); }
    int Read(const std::string& start, const std::string& end) {
        app.ui.SetText(id::kStartAddress, start);
        app.ui.SetText(id::kEndAddress, end);
        return ReadProgrammingRange(app.ctx);
    }
    test::TestApp app;
};

TEST_F(ProgrammingRange, TakesBothFieldsCutTo16Bits) {
    EXPECT_EQ(Read("0100", "1fff"), 0);
    EXPECT_EQ(app.ctx.programmingRange, (AddressRange{0x100, 0x1FFF}));
    EXPECT_EQ(app.ui.GetText(id::kEndAddress), "1fff");
    EXPECT_EQ(Read("12345", "1FFFF"), 0);
    EXPECT_EQ(app.ctx.programmingRange, (AddressRange{0x2345, 0xFFFF}));
    EXPECT_EQ(Read("ABCDEF", "0"), 0);  // the last five characters count
    EXPECT_EQ(app.ctx.programmingRange.start, 0xCDEFu);
}

TEST_F(ProgrammingRange, StartNotBelowEndRewritesTheEndField) {
    EXPECT_EQ(Read("2000", "1000"), 0);
    EXPECT_EQ(app.ctx.programmingRange, (AddressRange{0x2000, 0x2000}));
    EXPECT_EQ(app.ui.GetText(id::kEndAddress), "02000");
    EXPECT_EQ(Read("1FFF", "1FFF"), 0);
    EXPECT_EQ(app.ui.GetText(id::kEndAddress), "01FFF");
}

TEST_F(ProgrammingRange, EmptyFieldsBecomeZero) {
    EXPECT_EQ(Read("", "100"), 0);
    EXPECT_EQ(app.ui.GetText(id::kStartAddress), "00000");
    EXPECT_EQ(app.ctx.programmingRange, (AddressRange{0, 0x100}));
    EXPECT_EQ(Read("", ""), 0);
    EXPECT_EQ(app.ui.GetText(id::kEndAddress), "00000");
}

TEST_F(ProgrammingRange, InvalidFieldStopsAtOnce) {
    app.ctx.programmingRange = {0x11, 0x22};
    EXPECT_EQ(Read("12G4", "1FFF"), -1);
    EXPECT_EQ(app.ctx.programmingRange, (AddressRange{0x11, 0x22}));
    EXPECT_EQ(Read("0400", "1 FF"), -1);  // the start is already taken
    EXPECT_EQ(app.ctx.programmingRange, (AddressRange{0x400, 0x22}));
}

}  // namespace
}  // namespace veldrix
