#include <gtest/gtest.h>

#include <optional>

#include "admin/OfflineFiles.h"
#include "code/CodeBuffer.h"
#include "link/Session.h"
#include "tests/admin/ProductionApp.h"
#include "tests/support/RecordingPort.h"
#include "state/OpCodes.h"

namespace veldrix {
namespace {

using test::ProductionApp;

const char* const kWritten = "脱机文件写入成功!您现在即可以实现脱机烧写该文件代码了";

struct OfflineApp : ProductionApp {
    OfflineApp() {
        SelectChip("S3F9454");
        ui.SetText(id::kCounterCurrent, "100");
        ui.SetText(id::kCounterEnd, "5000");
        ui.SetText(id::kIdAddress, "0FF0");
    }
    void ChooseBlock(int number) { ui.ComboSelect(id::kDirectory, number - 1); }
    // The questions of a making that goes through: start it, then the
    // password, which is not remembered.
    void MakeFile() {
        ui.QueueAnswer(MsgAnswer::Ok);
        ui.QueuePassword(sim::kFactoryPassword);
        ui.QueueAnswer(MsgAnswer::No);
        Click(id::kMakeOfflineFile);
    }
    std::string StoredName(int block) {
        return Device([&](sim::DeviceState& s) { return s.Block(block)->holdsFile ? s.Block(block)->FileName() : ""; });
    }
};

// Between the program and the unit: the next file-information session gets
// the unit's acknowledgement and then the answer given here, whatever the
// unit says (what it says is left for the next session's purge).
class ProbeAnswerPort : public test::ForwardingPort {
public:
    explicit ProbeAnswerPort(Port& inner) : ForwardingPort(inner) {}
    std::optional<std::string> answer;

    size_t Write(const uint8_t* d, size_t n) override {
        if (n == size_t(cb::kSize) && d[0] == 'Z') {
            scripted_ = answer && (d[cb::kOpCode] & 0x3F) == op::kReadFileInfo;
            if (scripted_) {
                reply_ = *answer;
                answer.reset();
                openingLeft_ = cb::kSize + 4;  // the echo and the status word
            }
        }
        return inner_.Write(d, n);
    }
    size_t Read(uint8_t* b, size_t n) override {
        if (!scripted_) return inner_.Read(b, n);
        if (openingLeft_ > 0) {
            size_t got = inner_.Read(b, std::min(n, openingLeft_));
            openingLeft_ -= got;
            return got;
        }
        size_t got = std::min(n, reply_.size());
        std::copy_n(reply_.begin(), got, b);
        reply_.erase(0, got);
        return got;
    }

private:
    bool scripted_ = false;
    size_t openingLeft_ = 0;
    std::string reply_;
};

TEST(OfflineFiles, ConfigurationRecordCutsNamesToTheirFields) {
    auto r = MakeConfigRecord("a_code_file_named_long.hex", "S3F9454XYZ");
    EXPECT_EQ(std::string(r.begin(), r.begin() + 16), "a_code_file_name");
    EXPECT_EQ(std::string(r.begin() + 16, r.end()), std::string("S3F9454\0\0\0", 10));
    // The name keeps its first 16 bytes; the chip, shown again later, whole characters.
    r = MakeConfigRecord("泽木芯片编程文件.hex", "S3F94泽");
    EXPECT_EQ(std::string(r.begin(), r.begin() + 16), std::string("泽木芯片编程文件").substr(0, 16));
    EXPECT_EQ(std::string(r.begin() + 16, r.end()), std::string("S3F94\0\0\0\0\0", 10));
    r = MakeConfigRecord("x.bin", "");
    EXPECT_EQ(std::string(r.begin(), r.begin() + 16), std::string("x.bin\0\0\0\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(r[16], 0);
}

TEST(OfflineFiles, AWrongPasswordStopsBeforeTheBlockChanges) {
    OfflineApp app;
    app.ChooseBlock(3);
    app.Download(ProductionApp::Pattern(0x100, 1), "keep.bin");
    app.MakeFile();
    app.Download(ProductionApp::Pattern(0x100, 2), "other.bin");

    size_t mark = app.Mark();
    app.ui.QueueAnswer(MsgAnswer::Yes);  // overwrite
    app.ui.QueueAnswer(MsgAnswer::Ok);   // start
    app.ui.QueuePassword("guess");
    app.Click(id::kMakeOfflineFile);
    EXPECT_EQ(app.Status(), "密码错误! 该操作无法继续!");
    EXPECT_EQ(app.SessionsSince(mark), (std::vector<int>{op::kReadFileInfo, op::kClearArea}));
    EXPECT_EQ(app.StoredName(3), "keep.bin");
    EXPECT_EQ(app.ctx.codeInMemory, 1);

    // A probe that gets no answer still asks before anything is overwritten;
    // No stops there.
    mark = app.Mark();
    app.Device([](sim::DeviceState& s) {
        return s.Arm({sim::FaultKind::NoReply, op::kReadFileInfo, sim::FaultStep::First, true});
    });
    app.ui.QueueAnswer(MsgAnswer::No);
    app.Click(id::kMakeOfflineFile);
    ASSERT_TRUE(app.ui.LastBox());
    EXPECT_EQ(app.ui.LastBox()->spec.text, "检测到您所选择的目录块已存在有效文件,是否删除它并继续写入新文件?");
    EXPECT_EQ(app.Status(), kTextAborted);
    EXPECT_EQ(app.SessionsSince(mark), (std::vector<int>{op::kReadFileInfo}));
    EXPECT_EQ(app.StoredName(3), "keep.bin");

    mark = app.Mark();
    app.ui.QueueAnswer(MsgAnswer::Ok);
    app.ui.QueuePassword("guess");
    app.Click(id::kDeleteFile);
    EXPECT_EQ(app.Status(), "密码错误! 该操作无法继续!");
    EXPECT_EQ(app.SessionsSince(mark), (std::vector<int>{op::kClearArea}));
    EXPECT_EQ(app.StoredName(3), "keep.bin");

    // Cancelling the password entry sends nothing at all.
    mark = app.Mark();
    app.ui.QueueAnswer(MsgAnswer::Ok);
    app.ui.QueuePassword(std::nullopt);
    app.Click(id::kDeleteFile);
    EXPECT_EQ(app.Status(), kTextAborted);
    EXPECT_TRUE(app.SessionsSince(mark).empty());
}

// The probe before a making: "OKFILE", no answer, or an answer cut short
// after "OKF" may be a file and is asked about; anything else is an empty
// block, written without a question.
TEST(OfflineFiles, AProbeAnswerThatMayBeAFileIsAskedAbout) {
    OfflineApp app;
    app.ChooseBlock(3);
    app.Download(ProductionApp::Pattern(0x100, 1), "keep.bin");
    app.MakeFile();
    ASSERT_EQ(app.StoredName(3), "keep.bin");
    app.Download(ProductionApp::Pattern(0x100, 2), "other.bin");
    ProbeAnswerPort wire(app.port);
    app.ctx.port = &wire;

    const char* const question = "检测到您所选择的目录块已存在有效文件,是否删除它并继续写入新文件?";
    const struct {
        const char* answer;
        bool asked;
    } cases[] = {{"", true},      {"O", false},     {"OK", false},     {"OKF", true}, {"OKFI", true},
                 {"OKFIL", true}, {"OKFILE", true}, {"NO", false},     {"OKX", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.answer + "\"");
        wire.answer = c.answer;
        app.ui.DropQueuedAnswers();
        // No to the question; Cancel to the making's own confirmation, which
        // comes first when there is no question.
        app.ui.QueueAnswer(c.asked ? MsgAnswer::No : MsgAnswer::Cancel);
        size_t mark = app.Mark(), boxes = app.BoxCount();
        app.Click(id::kMakeOfflineFile);
        ASSERT_GT(app.BoxCount(), boxes);
        const auto first = app.ui.Boxes()[boxes].spec;
        if (c.asked) {
            EXPECT_EQ(first.text, question);
            EXPECT_EQ(first.caption, "提示:");
            EXPECT_EQ(first.buttons, MsgButtons::YesNo);
        } else {
            EXPECT_EQ(first.caption, "\n注: ");
        }
        EXPECT_EQ(app.Status(), kTextAborted);
        EXPECT_EQ(app.SessionsSince(mark), (std::vector<int>{op::kReadFileInfo}));
        EXPECT_EQ(app.StoredName(3), "keep.bin");
    }
}

TEST(OfflineFiles, ADebugModeDownloadIsRepeatedForRealFirst) {
    OfflineApp app;
    app.ChooseBlock(2);
    app.ui.SetChecked(id::kDebugMode, true);
    app.Download(ProductionApp::Pattern(0x100), "debug.bin");
    app.ClearDeviceLog();
    app.MakeFile();
    EXPECT_FALSE(app.ui.IsChecked(id::kDebugMode));
    EXPECT_EQ(app.DeviceLog(),
              (std::vector<int>{op::kReadIdentifier, op::kClearArea, op::kDownload, op::kMemoryChecksum,
                                op::kReadFileInfo, op::kClearArea, op::kOfflineConfig, op::kOfflineCode,
                                op::kOfflineChecksum, op::kOfflineVerify, op::kClearArea}));
    EXPECT_EQ(app.Status(), kWritten);
    EXPECT_EQ(app.StoredName(2), "debug.bin");
}

TEST(OfflineFiles, AFailedRepeatDownloadMakesNoFileFromStaleMemory) {
    OfflineApp app;
    app.ChooseBlock(2);
    app.ui.SetChecked(id::kDebugMode, true);
    app.Download(ProductionApp::Pattern(0x100), "gone.bin");
    std::filesystem::remove(app.dir.File("gone.bin"));
    app.ClearDeviceLog();
    app.MakeFile();
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_TRUE(app.DeviceLog().empty());
    EXPECT_EQ(app.StoredName(2), "");
}

TEST(OfflineFiles, AWrongChecksumFailsTheFileAndKeepsTheDownload) {
    OfflineApp app;
    app.ChooseBlock(4);
    app.Download(ProductionApp::Pattern(0x200));
    app.Device([](sim::DeviceState& s) {
        s.Arm({sim::FaultKind::BadSum, op::kOfflineChecksum});
        return 0;
    });
    size_t mark = app.Mark();
    app.MakeFile();
    EXPECT_EQ(app.Status(), "脱机文件写入失败!");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.SessionsSince(mark), (std::vector<int>{op::kReadFileInfo, op::kClearArea, op::kOfflineConfig,
                                                         op::kOfflineCode, op::kOfflineChecksum}));
    EXPECT_EQ(app.ctx.codeInMemory, 1);
}

TEST(OfflineFiles, ARefusedConfigurationSendsNoRecordButAwaitsTheVerdict) {
    OfflineApp app;
    app.ChooseBlock(4);
    app.Download(ProductionApp::Pattern(0x100));
    app.Device([](sim::DeviceState& s) {
        s.Arm({sim::FaultKind::Garbage, op::kOfflineConfig, sim::FaultStep::First});
        return 0;
    });
    app.MakeFile();
    EXPECT_EQ(app.Status(), "写入脱机文件编程配置数据失败!");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    // Nothing of 26 bytes followed the configuration session.
    auto& writes = app.port.writes;
    auto config = std::find_if(writes.rbegin(), writes.rend(), [](const auto& w) {
        return w.bytes.size() == 38 && (w.bytes[cb::kOpCode] & 0x3F) == op::kOfflineConfig;
    });
    ASSERT_NE(config, writes.rend());
    EXPECT_EQ(config, writes.rbegin());
}

TEST(OfflineFiles, IdFieldsAreCheckedWhenTheFileCarriesTheIncrement) {
    OfflineApp app;
    app.ChooseBlock(5);
    app.Download(ProductionApp::Pattern(0x100));
    app.ui.SetChecked(id::kAutoIdIncrement, true);
    app.ui.SetText(id::kIdAddress, "0FFE");
    size_t mark = app.Mark();
    app.ui.QueueAnswer(MsgAnswer::Ok);
    app.Click(id::kMakeOfflineFile);
    EXPECT_EQ(app.ui.LastBox()->spec.caption, "ID码写入地址无效");
    EXPECT_EQ(app.Status(), kTextAborted);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::UsageOrFile);
    EXPECT_EQ(app.SessionsSince(mark), (std::vector<int>{op::kReadFileInfo}));
}

// Every making leaves a record: the file written, stopped with the block as
// it was, failed on the unit's word or on the link. No chip got an ID code.
TEST(OfflineFiles, EveryMakingLeavesARecord) {
    OfflineApp app;
    app.KeepRecords(app.dir.File("logs"));
    app.Download(ProductionApp::Pattern(0x100));
    app.ui.SetChecked(id::kAutoIdIncrement, true);
    struct Case {
        std::function<void()> make;
        const char *result, *status;
        OutcomeClass cls;
    };
    auto arm = [&](sim::Fault fault) {
        return [&app, fault] {
            app.Device([&](sim::DeviceState& s) { return s.ClearFaults(), s.Arm(fault); });
            app.MakeFile();
        };
    };
    const Case cases[] = {
        {[&] { app.MakeFile(); }, "good", kWritten, OutcomeClass::Success},
        {[&] {
             app.ui.QueueAnswer(MsgAnswer::Cancel);
             app.Click(id::kMakeOfflineFile);
         },
         "stopped", kTextAborted, OutcomeClass::Aborted},
        {[&] {
             app.ui.QueueAnswer(MsgAnswer::Ok);
             app.ui.QueuePassword("guess");
             app.Click(id::kMakeOfflineFile);
         },
         "stopped", "密码错误! 该操作无法继续!", OutcomeClass::Refused},
        {arm({sim::FaultKind::BadSum, op::kOfflineChecksum}), "bad", "脱机文件写入失败!", OutcomeClass::ChipFailed},
        {arm({sim::FaultKind::NoReply, op::kOfflineConfig, sim::FaultStep::Ack}), "link", kTextConnectionError,
         OutcomeClass::LinkFailed},
    };
    int block = 6;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        app.ChooseBlock(block++);
        if (!app.ctx.codeInMemory) app.Download(ProductionApp::Pattern(0x100));
        c.make();
        EXPECT_EQ(app.Status(), c.status);
        EXPECT_EQ(app.ctx.outcome.cls, c.cls);
        // Each got as far as taking the code's sum.
        EXPECT_EQ(app.ctx.outcome.checksum, CodeChecksum(app.ctx, 0, 0xFF));
        auto records = test::ReadRecordsWithKeys(app.dir.File("logs/2025-03-03.csv"));
        ASSERT_FALSE(records.empty());
        ASSERT_EQ(records.back().size(), size_t(column::kCount));
        // An offline file's record, never a chip's.
        const std::vector<std::string> have{records.back()[column::kResult], records.back()[column::kStatus],
                                            records.back()[column::kIdCode], records.back()[column::kIdAddress],
                                            records.back()[column::kKind]};
        EXPECT_EQ(have, (std::vector<std::string>{c.result, c.status, "", "0FF0H", "offline-file"}));
    }
}

}  // namespace
}  // namespace veldrix
