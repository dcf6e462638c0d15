#include <gtest/gtest.h>

#include "code/Fields.h"
#include "link/Session.h"
#include "ops/AutoSequence.h"
#include "tests/code/HexText.h"
#include "tests/admin/ProductionApp.h"

namespace veldrix {
namespace {

using test::ProductionApp;

constexpr int kAutoBoxes[] = {id::kAutoVerify,  id::kAutoReadProtect, id::kEnableSmart,     id::kAutoBlankCheck,
                              id::kAutoLdc,     id::kAutoHwProtect,   id::kAutoIdIncrement};

struct AutoApp : ProductionApp {
    explicit AutoApp(bool varied = false) : ProductionApp(varied) {}
    // Every automatic box on, even those the chip type greys out: the
    // sequence itself must skip the MTP-only steps for an OTP chip.
    void AllBoxesOn() {
        for (int box : kAutoBoxes) {
            ui.SetEnabled(box, true);
            ui.SetChecked(box, true);
        }
    }
    void IdFields(const std::string& current, const std::string& address) {
        ui.SetText(id::kCounterCurrent, current);
        ui.SetText(id::kIdAddress, address);
    }
    uint32_t ChipId(uint32_t address) {
        return Device([&](sim::DeviceState& s) {
            const auto& c = s.chip.cells;
            return uint32_t(c[address]) << 16 | uint32_t(c[address + 1]) << 8 | c[address + 2];
        });
    }
    void Run() { Click(id::kAutoProgram); }
};

TEST(AutoSequence, OtpChipRunsItsStepsInOrderAndSkipsTheMtpOnes) {
    AutoApp app;
    app.SelectChip("S3C9454");
    app.PutChip(sim::ChipKind::Otp);
    app.Download(ProductionApp::Pattern(0x200));
    app.AllBoxesOn();
    app.IdFields("41", "0FF0");
    app.ClearDeviceLog();

    app.Run();
    EXPECT_EQ(app.Status(), "自动编程已成功完成");
    EXPECT_EQ(app.DeviceLog(), (std::vector<int>{16, 7, 8, 31, 11, 10}));
    EXPECT_EQ(app.ChipId(0x0FF0), 42u);
    EXPECT_EQ(app.ui.GetText(id::kCounterCurrent), "42");
    EXPECT_EQ(app.ui.GetText(id::kSuccessCount), "1");
    EXPECT_EQ(app.ui.GetText(id::kFailureCount), "00000");
    // The programmed code and the protections really reached the chip.
    EXPECT_TRUE(app.Device([](sim::DeviceState& s) { return s.chip.readProtected && s.chip.ldcProtected; }));
    EXPECT_FALSE(app.Device([](sim::DeviceState& s) { return s.chip.smart || s.chip.writeProtected; }));
    // The sequence keeps the worker busy across its steps and releases it at the end.
    EXPECT_EQ(app.ctx.AutoRunActive, 0);
    EXPECT_EQ(app.ctx.BusyFlag, 0);
    EXPECT_FALSE(app.ui.Locked(id::kSetPassword));
}

// Ranges one past a progress interval: the last report must be read exactly
// once, whichever way the unit reports.
TEST(AutoSequence, CodeOnePastAnIntervalDownloadsProgramsAndVerifies) {
    for (bool varied : {false, true})
        for (size_t size : {size_t(0x401), size_t(0x801)}) {
            SCOPED_TRACE((varied ? "varied unit, " : "plain unit, ") + std::to_string(size) + " bytes");
            AutoApp app(varied);
            app.SelectChip("S3F9454");
            app.PutChip(sim::ChipKind::Mtp);
            const auto code = ProductionApp::Pattern(size, 11);
            if (size == 0x401) {
                app.Download(code);
            } else {
                std::string text;
                for (size_t at = 0; at < size; at += 16) {
                    std::vector<uint8_t> line(code.begin() + long(at), code.begin() + long(std::min(at + 16, size)));
                    text += test::DataRecord(uint16_t(at), line) + "\r\n";
                }
                app.Download(std::vector<uint8_t>(text.begin(), text.end()), "code.hex");
            }
            uint16_t sum = 0;
            for (uint8_t b : code) sum = uint16_t(sum + b);
            EXPECT_EQ(app.Status(), "编程内存检查和 =  " + Hex(sum, 4));
            app.ui.SetChecked(id::kAutoReadProtect, false);  // so the chip's sum can be read back
            app.Run();
            EXPECT_EQ(app.Status(), "自动编程已成功完成");
            auto cells = app.Device([](sim::DeviceState& s) { return s.chip.cells; });
            EXPECT_TRUE(std::equal(code.begin(), code.end(), cells.begin()));
            app.Click(id::kChipChecksum);
            EXPECT_EQ(app.Status(), "芯片检查和 = " + Hex(sum, 4));
        }
}

TEST(AutoSequence, DebugModeStreamsTheCodeAndChecksTheChipSum) {
    AutoApp app;
    app.SelectChip("S3F9454");
    app.PutChip(sim::ChipKind::Mtp);
    app.ui.SetChecked(id::kDebugMode, true);
    app.Download(ProductionApp::Pattern(0x180));
    app.AllBoxesOn();
    app.IdFields("7", "0F00");
    app.ClearDeviceLog();
    app.Run();
    EXPECT_EQ(app.Status(), "自动编程已成功完成");
    EXPECT_EQ(app.DeviceLog(), (std::vector<int>{16, 6, 29, 26, 13, 31, 27, 11, 10, 12}));
    EXPECT_EQ(app.ChipId(0x0F00), 8u);
    auto cells = app.Device([](sim::DeviceState& s) { return s.chip.cells; });
    auto code = ProductionApp::Pattern(0x180);
    EXPECT_TRUE(std::equal(code.begin(), code.end(), cells.begin()));
}

TEST(AutoSequence, ProtectionsThatFailOnlyInLdcAndHardwareDoNotFailTheChip) {
    AutoApp app;
    app.SelectChip("S3F9454");
    app.PutChip(sim::ChipKind::Mtp);
    app.Download(ProductionApp::Pattern(0x100));
    app.AllBoxesOn();
    app.ui.SetChecked(id::kAutoIdIncrement, false);
    app.Device([](sim::DeviceState& s) {
        s.Arm({sim::FaultKind::Refuse, 11});
        s.Arm({sim::FaultKind::Refuse, 12});
        return 0;
    });
    app.Run();
    EXPECT_EQ(app.Status(), "自动编程已成功完成");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    EXPECT_EQ(app.ui.GetText(id::kSuccessCount), "1");
    auto history = app.ui.StatusHistory();
    EXPECT_NE(std::find(history.begin(), history.end(), "芯片LDC保护失败!"), history.end());

    // Read protection is not optional: the same silence there fails the chip.
    app.PutChip(sim::ChipKind::Mtp);
    app.Device([](sim::DeviceState& s) {
        s.ClearFaults();
        s.Arm({sim::FaultKind::Refuse, 10});
        return 0;
    });
    app.Run();
    EXPECT_EQ(app.Status(), "芯片读保护失败!");
    EXPECT_EQ(app.ui.GetText(id::kFailureCount), "1");

    // Read protection answered with anything but "OK", even silence, fails the
    // chip; LDC and hardware protection pass it whatever they answer. A
    // session that never opened judges no chip.
    struct Case {
        int step;
        sim::FaultKind kind;
        sim::FaultStep at;
        const char *status, *good, *bad;
    };
    const Case cases[] = {
        {10, sim::FaultKind::NoReply, sim::FaultStep::Any, "操作失败", "1", "2"},
        {11, sim::FaultKind::NoReply, sim::FaultStep::Any, "自动编程已成功完成", "2", "2"},
        {11, sim::FaultKind::Ev, sim::FaultStep::Any, "自动编程已成功完成", "3", "2"},
        {12, sim::FaultKind::Ev, sim::FaultStep::Any, "自动编程已成功完成", "4", "2"},
        {12, sim::FaultKind::NoReply, sim::FaultStep::Ack, "自动编程已成功完成", "5", "2"},
        {10, sim::FaultKind::NoReply, sim::FaultStep::Ack, kTextConnectionError, "5", "2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(sim::Name(c.kind)) + " in " + std::to_string(c.step));
        app.PutChip(sim::ChipKind::Mtp);
        app.Device([&](sim::DeviceState& s) {
            s.ClearFaults();
            s.Arm({c.kind, c.step, c.at});
            return 0;
        });
        app.Run();
        EXPECT_EQ(app.Status(), c.status);
        EXPECT_EQ(app.ui.GetText(id::kSuccessCount), c.good);
        EXPECT_EQ(app.ui.GetText(id::kFailureCount), c.bad);
    }
}

TEST(AutoSequence, AFailedIdWriteStopsWithItsOwnText) {
    AutoApp app;
    app.SelectChip("S3C9454");
    app.PutChip(sim::ChipKind::Otp);
    app.Download(ProductionApp::Pattern(0x100));
    app.ui.SetChecked(id::kAutoIdIncrement, true);
    app.IdFields("41", "0FF0");
    app.Device([](sim::DeviceState& s) {
        s.chip.cells[0x0FF2] = 0x00;  // the low byte of ID 42 (0x2A) cannot be written there
        return 0;
    });
    app.ClearDeviceLog();
    app.Run();
    EXPECT_EQ(app.Status(), "ID码写入失败! 编程过程已终止!");
    EXPECT_EQ(app.DeviceLog(), (std::vector<int>{16, 7, 8, 31}));
    EXPECT_EQ(app.ui.GetText(id::kFailureCount), "1");
    EXPECT_EQ(app.ui.GetText(id::kCounterCurrent), "41");
}

TEST(AutoSequence, TonesMarkStartSuccessAndFailure) {
    AutoApp app;
    std::vector<std::pair<std::string, uint64_t>> lines;
    app.ui.onLine = [&](const std::string& line) { lines.push_back({line, app.time.NowMicros()}); };
    app.PutChip(sim::ChipKind::Mtp);
    app.Download(ProductionApp::Pattern(0x100));
    ASSERT_TRUE(app.ui.IsChecked(id::kBuzzer));
    app.Run();
    using Tone = std::pair<int, int>;
    EXPECT_EQ(app.ui.Tones(), (std::vector<Tone>{{1000, 100}, {1000, 500}}));

    app.Device([](sim::DeviceState& s) {
        s.chip = sim::Chip{};
        return 0;
    });
    lines.clear();
    app.Run();
    std::vector<uint64_t> at;
    for (const auto& [line, when] : lines)
        if (line.rfind("tone: ", 0) == 0) at.push_back(when);
    EXPECT_EQ(app.ui.Tones(), (std::vector<Tone>{{1000, 100}, {1000, 500}, {1000, 100}, {1000, 100}, {1000, 100},
                                                {1000, 100}, {1000, 100}}));
    // The four failure beeps come 100 ms apart (the headless tone takes no time).
    ASSERT_EQ(at.size(), 5u);
    for (size_t i = 2; i < at.size(); ++i) EXPECT_EQ(at[i] - at[i - 1], 100000u);

    app.ui.SetChecked(id::kBuzzer, false);
    app.PutChip(sim::ChipKind::Mtp);
    app.Run();
    EXPECT_EQ(app.ui.Tones().size(), 7u);
}

TEST(AutoSequence, UnusableIdFieldsStopBeforeAnythingIsSent) {
    AutoApp app;
    app.SelectChip("S3F9454");
    app.PutChip(sim::ChipKind::Mtp);
    app.Download(ProductionApp::Pattern(0x100));
    app.ui.SetChecked(id::kAutoIdIncrement, true);

    struct Case {
        const char *current, *address, *caption;
    };
    for (const Case& c : {Case{"41", "0FFE", "ID码写入地址无效"}, Case{"16777215", "0FFD", "输入数据无效"},
                          Case{"4l", "0FFD", "输入数据无效"}}) {
        SCOPED_TRACE(std::string(c.current) + " at " + c.address);
        app.IdFields(c.current, c.address);
        size_t mark = app.Mark();
        size_t tones = app.ui.Tones().size();
        app.Run();
        EXPECT_EQ(app.ui.LastBox()->spec.caption, c.caption);
        EXPECT_EQ(app.Status(), kTextAborted);
        EXPECT_TRUE(app.SessionsSince(mark).empty());
        EXPECT_EQ(app.ui.Tones().size(), tones);
        EXPECT_EQ(app.ui.GetText(id::kCounterCurrent), c.current);  // kept for correction
    }
    EXPECT_EQ(app.ui.GetText(id::kFailureCount), "00000");

    // The highest address that leaves room for three bytes.
    app.IdFields("16777214", "0FFD");
    app.Run();
    EXPECT_EQ(app.Status(), "自动编程已成功完成");
    EXPECT_EQ(app.ChipId(0x0FFD), 16777215u);
    EXPECT_EQ(app.ui.GetText(id::kCounterCurrent), "16777215");
}

}  // namespace
}  // namespace veldrix
