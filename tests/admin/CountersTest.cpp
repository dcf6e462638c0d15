#include <gtest/gtest.h>

#include "admin/Counters.h"
#include "ops/Counting.h"
#include "link/Session.h"
#include "tests/admin/ProductionApp.h"
#include "state/OpCodes.h"

namespace veldrix {
namespace {

using test::ProductionApp;

TEST(Counters, ResetAsksFirstAndNoKeepsTheCounts) {
    ProductionApp app;
    app.ctx.successCount = 12;
    app.ctx.failureCount = 3;
    app.ui.SetText(id::kSuccessCount, "12");
    app.ui.SetText(id::kFailureCount, "3");

    app.ui.QueueAnswer(MsgAnswer::No);
    app.Click(id::kClearCounts);
    auto box = app.ui.LastBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->spec.text, "计数器初始值将被清零!确定吗?");
    EXPECT_EQ(box->spec.caption, "确 认");
    EXPECT_EQ(box->spec.icon, MsgIcon::Question);
    EXPECT_EQ(box->spec.defaultButton, 1);  // No is the default
    EXPECT_EQ(app.ui.GetText(id::kSuccessCount), "12");
    EXPECT_EQ(app.ctx.failureCount, 3u);

    app.ui.QueueAnswer(MsgAnswer::Yes);
    app.Click(id::kClearCounts);
    EXPECT_EQ(app.ui.GetText(id::kSuccessCount), "00000");
    EXPECT_EQ(app.ui.GetText(id::kFailureCount), "00000");
    EXPECT_EQ(app.ctx.successCount + app.ctx.failureCount, 0u);
    EXPECT_EQ(app.Status(), "计数器初始值已清零");
}

TEST(Counters, LoadCounterFieldsClampsWhatTheUnitCannotHold) {
    ProductionApp app;
    struct Case {
        const char *current, *end, *address;
        uint32_t wantCurrent, wantEnd, wantAddress;
    };
    const Case cases[] = {
        {"41", "1000", "0FF0", 41, 1000, 0x0FF0},
        {"99999999", "16777215", "FFFD", 16777215, 16777215, 0xFFFD},
        {"123456789012", "16777216", "123456", 16777215, 16777215, 0xFFFD},  // first 9 / first 5 characters
        {"12ab", "", "fffe", 16777215, 0, 0xFFFD},
        {"", "7", "zz", 0, 7, 0xFFFD},
        {"0000", "0000", "", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.current) + "/" + c.end + "/" + c.address);
        app.ui.SetText(id::kCounterCurrent, c.current);
        app.ui.SetText(id::kCounterEnd, c.end);
        app.ui.SetText(id::kIdAddress, c.address);
        app.ctx.block.Fill(0x55);
        LoadCounterFields(app.ctx);
        EXPECT_EQ(app.ctx.block.Get24(cb::kCounterCurrent), c.wantCurrent);
        EXPECT_EQ(app.ctx.block.Get24(cb::kCounterEnd), c.wantEnd);
        EXPECT_EQ(app.ctx.block[cb::kIdAddress], 0);
        EXPECT_EQ(app.ctx.block.Get24(cb::kIdAddress), c.wantAddress);
    }
}

TEST(Counters, PrepareIdIncrementChecksAddressAgainstTheChipAndTheValue) {
    ProductionApp app;
    struct Case {
        const char *chip, *address, *current, *refusal;  // refusal: caption of the box, or none
        uint32_t idAddress, idValue;
    };
    const Case cases[] = {
        {"S3F9454", "0FFD", "41", nullptr, 0x0FFD, 42},
        {"S3F9454", "0FFE", "41", "ID码写入地址无效", 0x0FFE, 42},
        {"S3F9444", "FFD", "0", nullptr, 0x0FFD, 1},  // padded to 0FFD
        {"NOSELEC", "FFFD", "16777214", nullptr, 0xFFFD, 16777215},
        {"NOSELEC", "FFFE", "1", "ID码写入地址无效", 0xFFFE, 2},
        {"NOSELEC", "123456", "1", "ID码写入地址无效", 0x12345, 2},  // read as its first five characters
        {"NOSELEC", "0100", "16777215", "输入数据无效", 0x0100, 16777216},
        {"NOSELEC", "0100", "123456789", nullptr, 0x0100, 12345679},  // first eight characters
        {"NOSELEC", "0100", "", nullptr, 0x0100, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.chip) + " " + c.address + " " + c.current);
        app.SelectChip(c.chip);
        app.ui.SetText(id::kIdAddress, c.address);
        app.ui.SetText(id::kCounterCurrent, c.current);
        size_t boxes = app.BoxCount();
        PrepareIdIncrement(app.ctx);
        EXPECT_EQ(app.ctx.idAddress, c.idAddress);
        EXPECT_EQ(app.ctx.idValue, c.idValue);
        EXPECT_EQ(app.ctx.block.Get24(cb::kIdAddress), c.idAddress & 0xFFFFFF);
        EXPECT_EQ(app.ctx.block.Get24(cb::kCounterCurrent), c.idValue & 0xFFFFFF);
        if (c.refusal) {
            EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
            ASSERT_EQ(app.BoxCount(), boxes + 1);
            EXPECT_EQ(app.ui.LastBox()->spec.caption, c.refusal);
            EXPECT_EQ(app.ui.LastBox()->spec.icon, MsgIcon::Error);
        } else {
            EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
            EXPECT_EQ(app.BoxCount(), boxes);
        }
    }
}

struct CounterApp : ProductionApp {
    CounterApp() {
        Device([](sim::DeviceState& s) {
            sim::DirectoryBlock& b = *s.Block(3);
            b.holdsFile = true;
            b.start = 0;
            b.end = 0x0F;
            b.code.assign(16, 0xAA);
            b.counterCurrent = 5;
            return 0;
        });
        ui.ComboSelect(id::kDirectory, 2);
        ui.SetText(id::kCounterCurrent, "1234");
        ui.SetText(id::kCounterEnd, "99999");
        ui.SetText(id::kIdAddress, "0FF0");
    }
    uint32_t StoredCurrent(int block) {
        return Device([&](sim::DeviceState& s) { return s.Block(block)->counterCurrent; });
    }
};

TEST(Counters, SetCounterStoresTheFieldsInTheChosenBlock) {
    CounterApp app;
    app.ui.QueuePassword(sim::kFactoryPassword);
    app.ui.QueueAnswer(MsgAnswer::No);  // do not remember the password
    app.Click(id::kSetCounter);
    EXPECT_EQ(app.Status(), "设置计数器成功");
    auto b = app.LastBlock();
    ASSERT_EQ(b.size(), 38u);
    EXPECT_EQ(b[cb::kOpCode], op::kSetCounter | 0x40);
    EXPECT_EQ(b[cb::kBlockNumber], 3);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 14, b.begin() + 20), (std::vector<uint8_t>{0, 0x04, 0xD2, 0x01, 0x86, 0x9F}));
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 27, b.begin() + 30), (std::vector<uint8_t>{0, 0x0F, 0xF0}));
    EXPECT_EQ(std::string(b.begin() + 30, b.begin() + 38), std::string("000000\0\0", 8));
    EXPECT_EQ(app.StoredCurrent(3), 1234u);
    EXPECT_EQ(app.Device([](sim::DeviceState& s) { return s.Block(3)->idAddress; }), 0x0FF0u);

    // Block 15 travels as 15; an answer other than "OK" after the password
    // is a failure, whatever the unit's reason.
    app.ui.ComboSelect(id::kDirectory, 14);
    app.ui.QueuePassword(sim::kFactoryPassword);
    app.ui.QueueAnswer(MsgAnswer::No);
    app.Device([](sim::DeviceState& s) {
        return s.Arm({sim::FaultKind::Refuse, op::kSetCounter, sim::FaultStep::Final, true});
    });
    app.Click(id::kSetCounter);
    EXPECT_EQ(app.LastBlock()[cb::kBlockNumber], 15);
    EXPECT_EQ(app.Status(), "设置计数器失败");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
}

TEST(Counters, SetCounterStopsAtAWrongOrCancelledPassword) {
    CounterApp app;
    size_t mark = app.Mark();
    app.ui.QueuePassword(std::nullopt);
    app.Click(id::kSetCounter);
    EXPECT_EQ(app.Status(), kTextAborted);
    EXPECT_TRUE(app.SessionsSince(mark).empty());

    app.ui.QueuePassword("wrong");
    app.Click(id::kSetCounter);
    EXPECT_EQ(app.Status(), "密码错误! 该操作无法继续!");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.StoredCurrent(3), 5u);
}

}  // namespace
}  // namespace veldrix
