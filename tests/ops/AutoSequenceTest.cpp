#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "code/Fields.h"
#include "link/Session.h"
#include "platform/headless/ScriptRunner.h"
#include "ops/AutoSequence.h"
#include "tests/code/HexText.h"
#include "tests/admin/ProductionApp.h"
#include "state/OpCodes.h"

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
    EXPECT_EQ(app.DeviceLog(), (std::vector<int>{op::kBlankCheck, op::kProgram, op::kVerify, op::kWriteIdCode,
                                                 op::kLdcProtect, op::kReadProtect}));
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
    EXPECT_EQ(app.DeviceLog(), (std::vector<int>{op::kBlankCheck, op::kEraseMtp, op::kReadIdentifier,
                                                 op::kProgramDirect, op::kChipChecksum, op::kWriteIdCode,
                                                 op::kSmartDebug, op::kLdcProtect, op::kReadProtect,
                                                 op::kHardwareProtect}));
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
        s.Arm({sim::FaultKind::Refuse, op::kLdcProtect});
        s.Arm({sim::FaultKind::Refuse, op::kHardwareProtect});
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
        s.Arm({sim::FaultKind::Refuse, op::kReadProtect});
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
        bool readProtectionRefused = false;
    };
    const Case cases[] = {
        {op::kReadProtect, sim::FaultKind::NoReply, sim::FaultStep::Any, "操作失败", "1", "2"},
        {op::kLdcProtect, sim::FaultKind::NoReply, sim::FaultStep::Any, "自动编程已成功完成", "2", "2"},
        {op::kLdcProtect, sim::FaultKind::Ev, sim::FaultStep::Any, "自动编程已成功完成", "3", "2"},
        {op::kHardwareProtect, sim::FaultKind::Ev, sim::FaultStep::Any, "自动编程已成功完成", "4", "2"},
        {op::kHardwareProtect, sim::FaultKind::NoReply, sim::FaultStep::Ack, "自动编程已成功完成", "5", "2"},
        {op::kReadProtect, sim::FaultKind::NoReply, sim::FaultStep::Ack, kTextConnectionError, "5", "2"},
        // An LDC session that never opened is passed over; the unit's "NO" to
        // read protection after it is still the chip's verdict.
        {op::kLdcProtect, sim::FaultKind::NoReply, sim::FaultStep::Ack, "芯片读保护失败!", "5", "3", true},
        {op::kHardwareProtect, sim::FaultKind::NoReply, sim::FaultStep::Ack, "自动编程已成功完成", "6", "3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(sim::Name(c.kind)) + " in " + std::to_string(c.step));
        app.PutChip(sim::ChipKind::Mtp);
        app.Device([&](sim::DeviceState& s) {
            s.ClearFaults();
            s.Arm({c.kind, c.step, c.at});
            if (c.readProtectionRefused) s.Arm({sim::FaultKind::Refuse, op::kReadProtect});
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
    EXPECT_EQ(app.DeviceLog(), (std::vector<int>{op::kBlankCheck, op::kProgram, op::kVerify, op::kWriteIdCode}));
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


// The wall clock's reading in milliseconds since 1970 for a local time at UTC+8.
int64_t WallMs(int year, int month, int day, int hour, int minute, int second) {
    return DaysFromCivil(year, month, day) * 86400000 + ((hour - 8) * 3600 + minute * 60 + second) * 1000LL;
}

TEST(AutoSequence, EveryRunLeavesARecordGoodBadStoppedOrLink) {
    AutoApp app;
    app.KeepRecords(app.dir.File("logs"));
    app.SelectChip("S3C9454");
    // A name a spreadsheet would split: it must come back whole.
    app.Download(ProductionApp::Pattern(0x200), "remote, \"v2\".bin");
    app.AllBoxesOn();
    app.ui.SetChecked(id::kBuzzer, false);  // failure beeps would come after the record
    app.IdFields("41", "0FF0");
    const std::string code = app.ui.GetText(id::kCodeFile), sum = app.ui.GetText(id::kChecksum) + "H";

    std::vector<std::vector<std::string>> want{{}};
    CsvReader([&](const std::vector<std::string_view>& f) {
        want[0] = test::Unkeyed({f.begin(), f.end()});
        return true;
    }).Feed(std::string(kRecordHeader) + "\r\n");
    struct Run {
        std::function<void()> setUp;
        const char *result, *status, *idCode, *success, *failure;
    };
    const Run runs[] = {
        {[] {}, "good", "自动编程已成功完成", "42", "1", "0"},
        // The ID step itself fails: no ID code went into the chip.
        {[&] { app.Device([](sim::DeviceState& s) { return s.chip.cells[0x0FF2] = 0x00; }); }, "bad",
         "ID码写入失败! 编程过程已终止!", "", "1", "1"},
        // Read protection fails after the ID code was written: a bad chip that holds 43.
        {[&] {
             app.Device([](sim::DeviceState& s) { return s.Arm({sim::FaultKind::Refuse, op::kReadProtect}); });
         },
         "bad",
         "芯片读保护失败!", "43", "1", "2"},
        // A session that never opened: the chip is not blamed.
        {[&] {
             app.Device([](sim::DeviceState& s) {
                 s.ClearFaults();
                 return s.Arm({sim::FaultKind::NoReply, op::kProgram, sim::FaultStep::Ack});
             });
         },
         "link", kTextConnectionError, "", "1", "2"},
        // The operator declines a switched-off option: nothing reached the unit.
        {[&] {
             app.Device([](sim::DeviceState& s) { return s.ClearFaults(), 0; });
             app.ui.SetChecked(id::kAutoVerify, false);
             app.ui.QueueAnswer(MsgAnswer::No);
         },
         "stopped", kTextAborted, "", "1", "2"},
    };
    for (const Run& run : runs) {
        app.PutChip(sim::ChipKind::Otp);
        run.setUp();
        uint64_t from = app.time.NowMs();
        app.Run();
        EXPECT_EQ(app.Status(), run.status);
        uint64_t to = app.time.NowMs();
        std::string time = IsoTime(LocalTimeAt(DaysFromCivil(2025, 3, 3) * 86400000 + int64_t(to), 480));
        bool stopped = std::string(run.result) == "stopped";
        want.push_back({time, run.result, run.status, "S3C9454", code, sum, "0000H", "01FFH", run.idCode,
                        stopped ? "" : "0FF0H", run.success, run.failure, std::to_string(to - from), "COM1"});
    }
    EXPECT_EQ(test::ReadRecords(app.dir.File("logs/2025-03-03.csv")), want);
    // Each a chip's, under a key of its own that sorts in the order of the runs.
    auto whole = test::ReadRecordsWithKeys(app.dir.File("logs/2025-03-03.csv"));
    ASSERT_EQ(whole.size(), want.size());
    for (size_t i = 1; i < whole.size(); ++i) {
        EXPECT_EQ(whole[i][column::kKind], "chip");
        if (i > 1) EXPECT_LT(whole[i - 1][column::kKey], whole[i][column::kKey]);
    }
    EXPECT_EQ(app.ui.GetText(id::kCounterCurrent), "42");
}

// The ID code of a good chip is asked about after a restart of the program,
// just before it would be written; No (the default) ends the run uncounted
// with the chip unnumbered, Yes writes it again.
TEST(AutoSequence, AnIdCodeOnAGoodChipIsAskedAboutAfterARestart) {
    test::TempDir dir;
    RunnerOptions options;
    options.installDir = VELDRIX_SOURCE_DIR "/resources";
    options.logDir = dir.File("logs");
    const std::string setUp = "start\nselect 1000 S3C9454\nsim chip otp blank\nopen " VELDRIX_SOURCE_DIR
                              "/tests/scenarios/data/admin_code.bin\nclick 146\nclick 126\nset 30004 0FF0\nset 315 41\n";
    const std::string question =
        "ID码 42 已于2025-03-03写入过一块合格芯片,\n再次写入将使两块芯片具有相同的ID码!\n\n是否继续进行当前操作?";
    {
        std::ostringstream out;
        ScriptRunner first(options, out);
        std::istringstream script(setUp + "click 136\nexpect-status 自动编程已成功完成\nsim expect-id 0FF0 42\nquit\n");
        ASSERT_EQ(first.Run(script), 0) << out.str();
        EXPECT_EQ(out.str().find("已于"), std::string::npos);  // a fresh folder asks nothing
    }
    {
        std::ostringstream out;
        ScriptRunner again(options, out);
        std::istringstream script(setUp + "click 136\n");
        ASSERT_EQ(again.Run(script), 0) << out.str();
        auto box = again.Window().LastBox();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->spec.text, question);
        EXPECT_EQ(box->spec.buttons, MsgButtons::YesNo);
        EXPECT_EQ(box->spec.defaultButton, 1);
        EXPECT_EQ(box->answer, MsgAnswer::No);  // nothing queued: the default button
        EXPECT_EQ(again.Window().GetText(id::kStatusLine), kTextAborted);
        // Asked after programming and verifying, before the ID step: only
        // the start tone sounded, nothing is counted, the chip has no code.
        EXPECT_EQ(again.Window().Tones().size(), 1u);
        EXPECT_EQ(again.Window().GetText(id::kFailureCount), "00000");
        EXPECT_EQ(again.Window().GetText(id::kSuccessCount), "00000");
        EXPECT_EQ(again.Window().GetText(id::kCounterCurrent), "41");
        std::istringstream unnumbered("sim expect-id 0FF0 16777215\n");
        EXPECT_EQ(again.Run(unnumbered), 0) << out.str();

        std::istringstream yes("answer yes\nsim chip otp blank\nclick 136\nexpect-status 自动编程已成功完成\n"
                               "sim expect-id 0FF0 42\nexpect 315 42\nexpect 179 1\nquit\n");
        ASSERT_EQ(again.Run(yes), 0) << out.str();
        EXPECT_EQ(again.Window().LastBox()->spec.text, question);
    }
    auto records = test::ReadRecords(dir.File("logs/2025-03-03.csv"));
    ASSERT_EQ(records.size(), 4u);
    const std::vector<std::string> results{records[1][1], records[2][1], records[3][1]};
    EXPECT_EQ(results, (std::vector<std::string>{"good", "stopped", "good"}));
    EXPECT_EQ(records[2][column::kIdCode], "");
    EXPECT_EQ(records[3][column::kIdCode], "42");
    // Both good chips carry 42; the first day stays the one named.
    RecordFolder later(dir.File("logs"));
    EXPECT_EQ(later.Load().goodIdCodes, 1u);
    EXPECT_EQ(later.IdCodeOnGoodChip(42), "2025-03-03");
    EXPECT_EQ(later.IdCodeOnGoodChip(41), std::nullopt);
}

// The code a chip gets comes from the records: field + 1 when it is free,
// else the next free one without a question; a failed chip gives its code
// back; typing into the field during the run changes nothing.
TEST(AutoSequence, TheRecordsGrantTheIdCodeTheChipGets) {
    AutoApp app;
    app.KeepRecords(app.dir.File("logs"));
    app.SelectChip("S3F9454");
    app.Download(ProductionApp::Pattern(0x100));
    app.AllBoxesOn();
    app.ui.SetChecked(id::kBuzzer, false);
    app.IdFields("41", "0F00");
    struct Row {
        const char* what;
        std::function<void()> setUp;
        const char* status;
        uint32_t chipId;      // 0xFFFFFF: none written
        const char* field;    // the field afterwards
        const char* idTaken;  // the record's ID code
    };
    const Row rows[] = {
        {"another run holds 42: 43 without a question",
         [&] { ASSERT_EQ(app.records->TakeIdCode(42, false).answer, IdGrant::Answer::Granted); },
         "自动编程已成功完成", 43, "43", "43"},
        {"typed into the field while the chip is programmed",
         [&] {
             app.ui.onLine = [&](const std::string& line) {
                 if (line.rfind("status: ", 0) == 0) app.ui.SetText(id::kCounterCurrent, "900");
             };
         },
         "自动编程已成功完成", 44, "44", "44"},
        {"read protection fails after 45 was written",
         [&] {
             app.ui.onLine = nullptr;
             app.Device([&](sim::DeviceState& s) { return s.Arm({sim::FaultKind::Refuse, op::kReadProtect}); });
         },
         "芯片读保护失败!", 45, "44", "45"},
        {"the failed chip's 45 goes to the next chip", [&] { app.Device([](sim::DeviceState& s) { return s.ClearFaults(), 0; }); },
         "自动编程已成功完成", 45, "45", "45"},
        {"42 given back by the other run is taken by nobody before 46", [&] { app.records->GiveBackIdCode(42); },
         "自动编程已成功完成", 46, "46", "46"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        app.PutChip(sim::ChipKind::Mtp);
        row.setUp();
        size_t boxes = app.BoxCount();
        app.Run();
        EXPECT_EQ(app.Status(), row.status);
        EXPECT_EQ(app.ChipId(0x0F00), row.chipId);
        EXPECT_EQ(app.ui.GetText(id::kCounterCurrent), row.field);
        EXPECT_EQ(app.BoxCount(), boxes);
        auto records = test::ReadRecords(app.dir.File("logs/2025-03-03.csv"));
        EXPECT_EQ(records.back()[column::kIdCode], row.idTaken);
        EXPECT_EQ(app.ctx.outcome.idTaken, std::optional<uint32_t>(std::stoul(row.idTaken)));
    }
    EXPECT_EQ(app.records->TakeIdCode(45, false).answer, IdGrant::Answer::OnGoodChip);
    EXPECT_EQ(app.records->TakeIdCode(47, false).answer, IdGrant::Answer::Granted);
}

// A store that cannot be reached (a database server away): before the chip,
// and again before the ID code is written, the operator is asked to retry or
// cancel; Retry asks again, Cancel ends the run uncounted, the chip without a
// code, as a link failure.
TEST(AutoSequence, AnUnreachableIdStoreAsksToRetryOrCancel) {
    struct AwayRecords : RecordFolder {
        using RecordFolder::RecordFolder;
        int away = 0;  // takes still to refuse
        int down = 0;  // checks before the chip still to fail
        int unstored = 0;  // appends still to leave pending, as a server away would
        bool OnServer() override { return true; }
        RecordKept Append(const ProductionRecord& r) override {
            RecordKept kept = RecordFolder::Append(r);
            if (unstored <= 0) return kept;
            --unstored;
            return RecordKept::Pending;
        }
        std::optional<std::string> IdServerProblem() override {
            if (down <= 0) return std::nullopt;
            --down;
            return "[驱动]connection refused";
        }
        IdGrant TakeIdCode(uint32_t code, bool reuse) override {
            if (away <= 0) return RecordFolder::TakeIdCode(code, reuse);
            --away;
            IdGrant grant;
            grant.answer = IdGrant::Answer::Unreachable;
            grant.problem = "[驱动]connection refused";
            return grant;
        }
    };
    AutoApp app;
    auto away = std::make_unique<AwayRecords>(app.dir.File("logs"));
    AwayRecords& store = *away;
    app.records = std::move(away);
    app.records->Load();
    app.ctx.records = app.records.get();
    app.SelectChip("S3F9454");
    app.Download(ProductionApp::Pattern(0x100));
    app.AllBoxesOn();
    app.ui.SetChecked(id::kBuzzer, false);
    app.IdFields("41", "0F00");
    // Named by the store's location.
    auto box = [&] {
        return "无法连接生产记录数据库 " + app.records->Location() +
               ": [驱动]connection refused\n没有数据库分配的ID码,芯片将不写入ID码!\n\n"
               "请检查网络及数据库服务器后重试.";
    };

    app.PutChip(sim::ChipKind::Mtp);
    store.away = 2;
    app.ui.QueueAnswer(MsgAnswer::Retry);
    app.ui.QueueAnswer(MsgAnswer::Retry);
    size_t boxes = app.BoxCount();
    const std::string first = box();
    app.Run();
    EXPECT_EQ(app.Status(), "自动编程已成功完成");
    EXPECT_EQ(app.ChipId(0x0F00), 42u);
    ASSERT_EQ(app.BoxCount(), boxes + 2);
    EXPECT_EQ(app.Boxes().back(), first);
    EXPECT_EQ(app.ui.Boxes().back().spec.buttons, MsgButtons::RetryCancel);

    app.PutChip(sim::ChipKind::Mtp);
    store.away = 1;
    app.ui.QueueAnswer(MsgAnswer::Cancel);
    const uint32_t good = app.ctx.successCount, bad = app.ctx.failureCount;
    app.Run();
    EXPECT_EQ(app.Status(), "操作已中止");
    EXPECT_EQ(app.ChipId(0x0F00), 0xFFFFFFu);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::LinkFailed);
    EXPECT_EQ(app.ctx.successCount, good);
    EXPECT_EQ(app.ctx.failureCount, bad);
    auto records = test::ReadRecords(app.dir.File("logs/2025-03-03.csv"));
    EXPECT_EQ(records.back()[column::kResult], "stopped");
    EXPECT_EQ(records.back()[column::kIdCode], "");
    // 43 was never handed out: the next chip gets it.
    EXPECT_EQ(app.records->TakeIdCode(43, false).answer, IdGrant::Answer::Granted);
    app.records->GiveBackIdCode(43);

    // Away before the chip: nothing reaches the unit until the server answers.
    app.PutChip(sim::ChipKind::Mtp);
    store.down = 2;
    app.ui.QueueAnswer(MsgAnswer::Retry);
    app.ui.QueueAnswer(MsgAnswer::Cancel);
    boxes = app.BoxCount();
    app.ClearDeviceLog();
    const std::string before = box();
    app.Run();
    EXPECT_EQ(app.Status(), "操作已中止");
    EXPECT_TRUE(app.DeviceLog().empty());
    ASSERT_EQ(app.BoxCount(), boxes + 2);
    EXPECT_EQ(app.Boxes().back(), before);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::LinkFailed);
    EXPECT_EQ(app.ChipId(0x0F00), 0xFFFFFFu);
    EXPECT_EQ(app.ctx.successCount, good);
    EXPECT_EQ(app.ctx.failureCount, bad);
    EXPECT_EQ(test::ReadRecords(app.dir.File("logs/2025-03-03.csv")).back()[column::kResult], "stopped");
    store.down = 1;
    store.unstored = 1;  // the good chip's record waits: said once, in the server's words
    app.ui.QueueAnswer(MsgAnswer::Retry);
    boxes = app.BoxCount();
    app.Run();
    EXPECT_EQ(app.Status(), "自动编程已成功完成");
    EXPECT_EQ(app.ChipId(0x0F00), 43u);
    ASSERT_EQ(app.BoxCount(), boxes + 2);
    EXPECT_EQ(app.Boxes().back(), "生产记录写入数据库失败,数据库服务器可能无法连接!记录暂存在本机,服务器恢复后将按顺序写入.\n" +
                                      app.records->Location() + "\n编程操作将继续进行,本次运行期间不再提示.");
}

// An ID address inside the code: the three bytes there would be overwritten
// on every chip, so the sequence asks first (No is the default).
TEST(AutoSequence, AnIdCodeOverCodeIsAskedAboutBeforeTheSequence) {
    const std::string question =
        "ID码地址 0100H 处的代码字节不为空(FF),\n写入ID码将覆盖编程代码,烧写的芯片可能无法正常工作!\n\n"
        "是否继续进行当前操作?";
    struct Row {
        const char* address;
        bool asked;
    };
    // The code is 0000-01FF of pattern bytes; 01FE-0200 reaches into it, 0200 and 0FF0 do not.
    for (const Row& row : {Row{"0100", true}, Row{"01FE", true}, Row{"0200", false}, Row{"0FF0", false}}) {
        SCOPED_TRACE(row.address);
        AutoApp app;
        app.SelectChip("S3F9454");
        app.Download(ProductionApp::Pattern(0x200));
        app.AllBoxesOn();
        app.IdFields("1", row.address);
        app.PutChip(sim::ChipKind::Mtp);
        app.ClearDeviceLog();
        app.Run();
        auto boxes = app.Boxes();
        bool asked = std::find_if(boxes.begin(), boxes.end(), [](const std::string& t) {
                         return t.find("写入ID码将覆盖编程代码") != std::string::npos;
                     }) != boxes.end();
        EXPECT_EQ(asked, row.asked);
        if (!row.asked) {
            EXPECT_EQ(app.Status(), "自动编程已成功完成");
            continue;
        }
        EXPECT_EQ(app.ui.Boxes().back().spec.defaultButton, 1);
        if (std::string(row.address) == "0100") {
            EXPECT_EQ(boxes.back(), question);
        }
        EXPECT_EQ(app.Status(), kTextAborted);
        EXPECT_TRUE(app.DeviceLog().empty());
        EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Aborted);
        // Yes goes on to write the code over the code bytes, as asked (the
        // unit may then fail it where the bits cannot change).
        app.ui.QueueAnswer(MsgAnswer::Yes);
        app.Run();
        auto log = app.DeviceLog();
        EXPECT_NE(std::find(log.begin(), log.end(), op::kWriteIdCode), log.end());

        // Asked once for this code, ID address and range: the next chips go
        // on without a stop; another address or a new download asks again.
        auto asks = [&] {
            auto all = app.Boxes();
            return std::count_if(all.begin(), all.end(), [](const std::string& t) {
                return t.find("写入ID码将覆盖编程代码") != std::string::npos;
            });
        };
        const auto askedSoFar = asks();
        for (int chip = 0; chip < 2; ++chip) {
            app.PutChip(sim::ChipKind::Mtp);
            app.Run();
        }
        EXPECT_EQ(asks(), askedSoFar);
        EXPECT_NE(app.Status(), kTextAborted);
        app.IdFields(app.ui.GetText(id::kCounterCurrent), "01FF");
        app.PutChip(sim::ChipKind::Mtp);
        app.Run();
        EXPECT_EQ(asks(), askedSoFar + 1);
        EXPECT_EQ(app.Status(), kTextAborted);  // No, the default
        app.ui.QueueAnswer(MsgAnswer::Yes);
        app.Run();
        app.PutChip(sim::ChipKind::Mtp);
        app.Run();
        EXPECT_EQ(asks(), askedSoFar + 2);
        app.Download(ProductionApp::Pattern(0x200));
        app.PutChip(sim::ChipKind::Mtp);
        app.Run();
        EXPECT_EQ(asks(), askedSoFar + 3);
    }
}

// The window closed under a step (its reads then get nothing): the step's
// failure is no verdict on the chip. Nothing is counted, no tone but the
// start's, and the record is a link record saying the window closed; the
// chip's ID code goes back only when the ID step never went out.
TEST(AutoSequence, AWindowClosedDuringAChipJudgesNoChip) {
    struct Case {
        const char* what;
        const char* statusPrefix;  // the close comes with this status text
        const char* idCode;        // the record's
        bool codeHeld;             // 42 stays the chip's
    };
    for (const Case& c : {Case{"blank check", "请稍候,芯片空检查", "", false},
                          Case{"programming", "请稍候,正在编程芯片", "", false},
                          Case{"ID step", "正在写入目标芯片ID码", "", true}}) {
        SCOPED_TRACE(c.what);
        AutoApp app;
        app.KeepRecords(app.dir.File("logs"));
        app.SelectChip("S3F9454");
        app.Download(ProductionApp::Pattern(0x200));
        app.AllBoxesOn();
        app.IdFields("41", "0F00");
        app.PutChip(sim::ChipKind::Mtp);
        app.ui.onLine = [&](const std::string& line) {
            if (line.rfind(std::string("status: ") + c.statusPrefix, 0) == 0) app.ctx.stopRequested = true;
        };
        app.Run();
        app.ui.onLine = nullptr;
        EXPECT_EQ(app.Status(), kTextWindowClosed);
        EXPECT_EQ(app.ui.GetText(id::kFailureCount), "00000");
        EXPECT_EQ(app.ui.GetText(id::kSuccessCount), "00000");
        EXPECT_EQ(app.ui.Tones().size(), 1u);
        EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::Aborted);
        auto records = test::ReadRecords(app.dir.File("logs/2025-03-03.csv"));
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[1][column::kResult], "link");
        EXPECT_EQ(records[1][column::kStatus], kTextWindowClosed);
        EXPECT_EQ(records[1][column::kIdCode], c.idCode);
        EXPECT_EQ(app.records->TakeIdCode(42, false).answer,
                  c.codeHeld ? IdGrant::Answer::HeldElsewhere : IdGrant::Answer::Granted);
    }
}

// No free ID code up to the last one: nothing went out for the ID step, so
// the chip is not counted and the record is a stopped one.
TEST(AutoSequence, IdCodesUsedUpCountNoChip) {
    AutoApp app;
    app.KeepRecords(app.dir.File("logs"));
    app.SelectChip("S3F9454");
    app.Download(ProductionApp::Pattern(0x100));
    app.AllBoxesOn();
    app.IdFields("41", "0F00");
    app.ctx.idLastCode = 42;
    ASSERT_EQ(app.records->TakeIdCode(42, false).answer, IdGrant::Answer::Granted);  // another run's
    app.PutChip(sim::ChipKind::Mtp);
    app.ClearDeviceLog();
    app.Run();
    EXPECT_EQ(app.Status(), "ID码写入失败! 编程过程已终止!");
    auto log = app.DeviceLog();
    EXPECT_EQ(std::find(log.begin(), log.end(), op::kWriteIdCode), log.end());
    EXPECT_EQ(app.ui.GetText(id::kFailureCount), "00000");
    EXPECT_EQ(app.ui.Tones().size(), 1u);
    auto records = test::ReadRecords(app.dir.File("logs/2025-03-03.csv"));
    EXPECT_EQ(records.back()[column::kResult], "stopped");
    EXPECT_EQ(records.back()[column::kIdCode], "");
}

// A day's file that cannot take records: production goes on while they
// wait in a pending file in the folder, whose codes the folder still hands
// out. A folder that cannot be reached hands out no code: the operator is
// asked to retry or cancel, in the folder's words, nothing reaches the unit,
// and the record of the run waits (beside the settings, or in memory) until
// the folder is back.
TEST(AutoSequence, RecordsThatCannotBeWrittenWaitAndAFolderAwayHandsOutNoCode) {
    struct Case {
        const char* what;
        std::function<std::string(test::TempDir&)> folder;  // makes the folder unwritable; returns it
        bool fallback;  // a usable folder beside the settings
        bool reachable;
    };
    auto underAFile = [](test::TempDir& d) { return d.Write("plain", "x") + "/logs"; };
    std::vector<Case> cases = {
        {"the day's file held as a folder, pending in the folder",
         [](test::TempDir& d) {
             std::filesystem::create_directories(d.File("logs/2025-03-03.csv"));
             return d.File("logs");
         },
         false, true},
        {"folder under a file, pending beside the settings", underAFile, true, false},
        {"folder under a file and nowhere else", underAFile, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AutoApp app;
        const std::string folder = c.folder(app.dir);
        app.KeepRecords(folder, c.fallback ? app.dir.File("state") : "");
        app.SelectChip("S3F9454");
        app.Download(ProductionApp::Pattern(0x100));
        app.AllBoxesOn();
        app.IdFields("7", "0F00");
        if (c.reachable) {
            for (int chip = 1; chip <= 3; ++chip) {
                SCOPED_TRACE("chip " + std::to_string(chip));
                app.PutChip(sim::ChipKind::Mtp);
                size_t boxes = app.BoxCount();
                app.Run();
                EXPECT_EQ(app.Status(), "自动编程已成功完成");
                EXPECT_EQ(app.ui.GetText(id::kSuccessCount), std::to_string(chip));
                EXPECT_EQ(app.ChipId(0x0F00), uint32_t(7 + chip));
                EXPECT_EQ(app.BoxCount(), boxes + (chip == 1 ? 1 : 0));
            }
            EXPECT_EQ(app.records->IdCodeOnGoodChip(8), "2025-03-03");
        } else {
            app.PutChip(sim::ChipKind::Mtp);
            size_t boxes = app.BoxCount();
            app.ClearDeviceLog();
            app.Run();  // the box's default: Cancel
            EXPECT_EQ(app.Status(), kTextAborted);
            EXPECT_TRUE(app.DeviceLog().empty());
            EXPECT_EQ(app.ui.GetText(id::kSuccessCount), "00000");
            EXPECT_EQ(app.ChipId(0x0F00), 0xFFFFFFu);
            ASSERT_GE(app.BoxCount(), boxes + 1);
            const std::string asked = app.Boxes()[boxes];
            EXPECT_EQ(asked.rfind("无法使用生产记录文件夹 " + folder, 0), 0u) << asked;
            EXPECT_NE(asked.find("没有记录文件夹分配的ID码,芯片将不写入ID码!"), std::string::npos);
            EXPECT_EQ(app.ui.Boxes()[boxes].spec.buttons, MsgButtons::RetryCancel);
            EXPECT_EQ(asked.find("数据库"), std::string::npos);
            // The folder is back: the waiting record goes in first, and the chip gets the first code.
            std::filesystem::remove(app.dir.File("plain"));
            app.PutChip(sim::ChipKind::Mtp);
            app.Run();
            EXPECT_EQ(app.Status(), "自动编程已成功完成");
            EXPECT_EQ(app.ChipId(0x0F00), 8u);
            auto records = test::ReadRecords(folder + "/2025-03-03.csv");
            ASSERT_EQ(records.size(), 3u);
            EXPECT_EQ(records[1][column::kResult], "stopped");
            EXPECT_EQ(records[1][column::kIdCode], "");
            EXPECT_EQ(records[2][column::kIdCode], "8");
        }
        auto warnings = app.Boxes();
        ASSERT_EQ(std::count_if(warnings.begin(), warnings.end(),
                                [&](const std::string& t) { return t.find("编程操作将继续进行") != std::string::npos; }),
                  1);
        // The status texts never named the trouble.
        for (const std::string& status : app.ui.StatusHistory()) EXPECT_EQ(status.find(folder), std::string::npos);
    }
}

TEST(AutoSequence, RecordsCrossMidnightIntoTheNextDaysFile) {
    AutoApp app;
    app.KeepRecords(app.dir.File("logs"));
    app.SelectChip("S3F9454");
    app.Download(ProductionApp::Pattern(0x100));
    app.time.SetWallClock(WallMs(2025, 3, 31, 23, 59, 55), 480);
    app.AllBoxesOn();
    app.IdFields("100", "0F00");
    for (int chip = 0; chip < 4; ++chip) {
        app.PutChip(sim::ChipKind::Mtp);
        app.Run();
        ASSERT_EQ(app.Status(), "自动编程已成功完成");
    }
    auto march = test::ReadRecords(app.dir.File("logs/2025-03-31.csv"));
    auto april = test::ReadRecords(app.dir.File("logs/2025-04-01.csv"));
    ASSERT_GE(march.size(), 2u);
    ASSERT_GE(april.size(), 2u);
    EXPECT_EQ(march.size() + april.size(), 6u);  // a header in each
    EXPECT_EQ(march[0], april[0]);
    for (size_t i = 1; i < march.size(); ++i) EXPECT_EQ(march[i][0].substr(0, 11), "2025-03-31T");
    for (size_t i = 1; i < april.size(); ++i) EXPECT_EQ(april[i][0].substr(0, 11), "2025-04-01T");
    EXPECT_EQ(april.back()[column::kIdCode], "104");

    RecordFolder restarted(app.dir.File("logs"));
    EXPECT_EQ(restarted.Load().records, 4u);
    EXPECT_EQ(restarted.IdCodeOnGoodChip(101), "2025-03-31");
    EXPECT_EQ(restarted.IdCodeOnGoodChip(104), "2025-04-01");
}

}  // namespace
}  // namespace veldrix
