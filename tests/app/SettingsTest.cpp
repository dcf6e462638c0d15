#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "code/ChipCatalogue.h"
#include "state/ControlIds.h"
#include "app/MainWindow.h"
#include "app/Settings.h"
#include "code/ProjectFile.h"
#include "platform/headless/ScriptRunner.h"
#include "platform/posix/FileSettings.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

// A whole window creation with the shipped chip list and the given settings.
class SettingsRestore : public ::testing::Test {
protected:
    void Start() {
        app.settings.values["setup"] = VELDRIX_SOURCE_DIR "/resources";
        CreateMainControls(app.ctx);
    }
    test::TestApp app;
};

TEST_F(SettingsRestore, NoKeyAtAllGivesTheDefaults) {
    app.settings.present = false;
    CreateMainControls(app.ctx);
    EXPECT_EQ(app.ctx.rememberedPort.Get(), "COM1");
    EXPECT_EQ(app.ui.GetText(id::kChipCombo), "NOSELEC");
    EXPECT_FALSE(app.ui.IsChecked(id::kDebugMode));
    EXPECT_TRUE(app.ui.IsChecked(id::kSpeedLow));
}

TEST_F(SettingsRestore, StoredValuesComeBackButSpeedIsAlwaysLow) {
    app.settings.values = {{"com", "com7"}, {"chip", "s3c9228"}, {"mode", "1"}, {"tx_set", "1"}};
    Start();
    EXPECT_EQ(app.ctx.rememberedPort.Get(), "com7");
    EXPECT_EQ(app.ui.GetText(id::kChipCombo), "S3C9228");
    EXPECT_EQ(app.ui.GetText(id::kEndAddress), "1FFF");  // the chip's selection was applied
    EXPECT_TRUE(app.ui.IsChecked(id::kDebugMode));
    EXPECT_TRUE(app.ui.IsChecked(id::kSpeedLow));
    EXPECT_FALSE(app.ui.IsChecked(id::kSpeedFull) || app.ui.IsChecked(id::kSpeedMedium));
}

TEST_F(SettingsRestore, UnknownChipSelectsNoChipAndPrefixSelectsFirstMatch) {
    app.settings.values["chip"] = "S3X0000";
    Start();
    EXPECT_EQ(app.ui.GetText(id::kChipCombo), "NOSELEC");

    test::TestApp other;
    other.settings.values = {{"setup", VELDRIX_SOURCE_DIR "/resources"}, {"chip", "S3F94"}, {"mode", "yes"}};
    CreateMainControls(other.ctx);
    EXPECT_EQ(other.ui.GetText(id::kChipCombo), "S3F9444");  // first entry after the first that begins so
    EXPECT_FALSE(other.ui.IsChecked(id::kDebugMode));       // only "1" checks debug mode
}

TEST_F(SettingsRestore, SaveWritesWholeChipNameAndTheSpeedMapping) {
    Start();
    app.ctx.rememberedPort = "COM12345678";
    ASSERT_TRUE(app.ui.ApplyComboChoice(id::kChipCombo, "S3F9454"));
    app.ui.SetChecked(id::kSpeedLow, false);
    app.ui.SetChecked(id::kSpeedMedium, true);
    app.ui.SetChecked(id::kDebugMode, true);
    SaveSettings(app.ctx);
    EXPECT_EQ(app.settings.values["com"], "COM12345");
    EXPECT_EQ(app.settings.values["chip"], "S3F9454");
    EXPECT_EQ(app.settings.values["tx_set"], "2");
    EXPECT_EQ(app.settings.values["mode"], "1");

    app.ui.SetChecked(id::kSpeedMedium, false);
    app.ui.SetChecked(id::kDebugMode, false);
    SaveSettings(app.ctx);
    EXPECT_EQ(app.settings.values["tx_set"], "3");  // none checked counts as low on save
    EXPECT_EQ(app.settings.values["mode"], "0");
    EXPECT_EQ(SelectedSpeed(app.ctx), 1);            // but as full for the project file
}

TEST_F(SettingsRestore, FailedSaveIsSilent) {
    Start();
    app.settings.writable = false;
    size_t boxes = app.ui.Boxes().size();
    SaveSettings(app.ctx);
    EXPECT_EQ(app.ui.Boxes().size(), boxes);
}

// Each store reads a value that does not fit its buffer as missing, so the
// default stands in: "10" is not debug mode, nor "COM12345" the port "COM1234".
TEST(SettingsStores, AValueTooLongForItsBufferIsNotRead) {
    struct Case {
        const char* name;
        std::string value;
        size_t buffer;
        bool read;
    };
    const Case cases[] = {
        {"mode", "1", 2, true},
        {"mode", "10", 2, false},
        {"com", "COM1234", 8, true},
        {"com", "COM12345", 8, false},
        {"setup", std::string(259, 'd'), 260, true},
        {"setup", std::string(260, 'd'), 260, false},
        {"setup", "/opt/泽木", 12, true},  // measured in bytes: 11 of them here
        {"setup", "/opt/泽木", 11, false},
    };
    test::TempDir dir;
    MemorySettings memory;
    FileSettings file(dir.File("settings.ini"));
    for (SettingsStore* store : {static_cast<SettingsStore*>(&memory), static_cast<SettingsStore*>(&file)}) {
        for (const Case& c : cases) {
            ASSERT_TRUE(store->Write(c.name, c.value));
            EXPECT_EQ(store->Read(c.name, c.buffer), c.read ? std::optional<std::string>(c.value) : std::nullopt)
                << c.name << "=" << c.value << " in " << c.buffer;
        }
    }

    test::TestApp app;
    app.settings.values = {{"setup", VELDRIX_SOURCE_DIR "/resources"}, {"com", "COM12345"}, {"mode", "10"}};
    CreateMainControls(app.ctx);
    EXPECT_EQ(app.ctx.rememberedPort, "COM1");
    EXPECT_FALSE(app.ui.IsChecked(id::kDebugMode));
}

TEST(MainWindowCreation, InitialStateOfTheControls) {
    test::TestApp app;
    app.settings.values["setup"] = VELDRIX_SOURCE_DIR "/resources";
    InitMainWindow(app.ctx);
    HeadlessUi& ui = app.ui;
    for (const ControlDef& def : MainControls()) EXPECT_TRUE(ui.Exists(def.id)) << def.id;
    EXPECT_EQ(ui.GetText(id::kStartAddress), "0000");
    EXPECT_EQ(ui.GetText(id::kEndAddress), "0FFF");  // NOSELEC's defaults replace 1FFF
    EXPECT_EQ(ui.GetText(id::kVppField), "12.0");
    EXPECT_FALSE(ui.IsEnabled(id::kVppField) || ui.IsEnabled(id::kVddField));
    EXPECT_EQ(ui.GetText(id::kSuccessCount), "00000");
    EXPECT_EQ(ui.GetText(id::kFailureCount), "00000");
    EXPECT_EQ(ui.GetText(id::kCounterCurrent), "0000");
    EXPECT_EQ(ui.GetText(id::kCounterEnd), "0000");
    EXPECT_EQ(ui.ComboCount(id::kDirectory), 15);
    EXPECT_EQ(ui.GetText(id::kDirectory), "1");
    EXPECT_EQ(ui.ComboEntry(id::kDirectory, 14), "15");
    EXPECT_TRUE(ui.IsChecked(id::kBuzzer));
    EXPECT_TRUE(ui.IsChecked(id::kSpeedLow));
    for (int hidden : {id::kViewGroup, id::kCodeList, id::kViewBack}) EXPECT_FALSE(ui.IsVisible(hidden));
    EXPECT_EQ(app.ctx.programmingRange, (AddressRange{0, 0x1FFF}));
    EXPECT_EQ(app.ctx.checkedRange, (AddressRange{0, 0x1FFF}));
    EXPECT_EQ(ui.GetText(id::kLinkLabel), MakerWebAddress());
    EXPECT_EQ(MakerWebAddress().size(), 20u);
    // The status line has its own font, the value fields theirs.
    EXPECT_EQ(ui.Snapshot(id::kStatusLine).font.height, 14);
    EXPECT_EQ(ui.Snapshot(id::kStatusLine).font.weight, 500);
    EXPECT_EQ(ui.Snapshot(id::kChecksum).font.weight, 580);
    EXPECT_EQ(ui.Snapshot(id::kOpenFile).font.height, 12);
    EXPECT_TRUE(ui.Snapshot(id::kLinkLabel).font.italic);
    // Timer 501 at 1000 ms while building, then at 500 ms for the first tick.
    auto timers = ui.TimersStarted();
    ASSERT_GE(timers.size(), 2u);
    EXPECT_EQ(timers.back(), (std::pair<int, int>{501, 500}));
    EXPECT_EQ(ui.GetText(id::kStatusLine), WelcomeText());
}

// The runner's window as the operator uses it: "退出编程" saves what closing
// the window saves, and a view selector showing the busy state takes no press.
TEST(HeadlessWindow, QuitSavesTheSettingsAndBusySelectorsIgnorePresses) {
    test::TempDir dir;
    RunnerOptions options;
    options.installDir = VELDRIX_SOURCE_DIR "/resources";
    options.settingsFile = dir.File("settings.ini");
    std::ostringstream out;
    {
        ScriptRunner runner(options, out);
        std::istringstream start("start\nclick 139\n");  // the memory view
        ASSERT_EQ(runner.Run(start), 0) << out.str();
        ASSERT_TRUE(runner.Window().IsVisible(id::kViewGroup));
        const std::string before = runner.Window().GetText(id::kStatusLine);
        runner.Window().SendBusyState(id::kViewChip, true);
        EXPECT_EQ(runner.RunLine("click 166", 1), -1);
        EXPECT_EQ(runner.Window().GetText(id::kStatusLine), before);
        runner.Window().SendBusyState(id::kViewChip, false);
        EXPECT_EQ(runner.RunLine("click 166", 2), -1);
        EXPECT_NE(runner.Window().GetText(id::kStatusLine), before);
        EXPECT_EQ(runner.RunLine("click " + std::to_string(id::kViewBack), 3), -1);
        EXPECT_EQ(runner.RunLine("click 154", 4), -1);
    }
    std::ifstream saved(options.settingsFile);
    std::string text((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("tx_set"), std::string::npos) << out.str();
}

// A script line the runner cannot take is a script error naming the verb and
// what it takes; an expectation that does not hold fails naming what is there.
TEST(HeadlessWindow, ScriptLinesSayWhatIsWrongWithThem) {
    RunnerOptions options;
    options.installDir = VELDRIX_SOURCE_DIR "/resources";
    std::ostringstream out;
    ScriptRunner runner(options, out);
    ASSERT_EQ(runner.RunLine("start", 1), -1) << out.str();
    const struct {
        std::string line;
        int status;  // -1: the script goes on
        std::string says;
    } cases[] = {
        {"frob 1", 2, "error: 7: unknown command frob\n"},
        {"tick 0", 2, "error: 7: tick wants a positive count\n"},
        {"key 146", 2, "error: 7: key wants ID KEY\n"},
        {"answer maybe", 2, "error: 7: answer wants yes, no, ok, cancel or retry\n"},
        {"expect-cell 1", 2, "error: 7: expect-cell wants ROW COL TEXT\n"},
        {"dblclick 159 1", 2, "error: 7: dblclick 159 wants ROW COL\n"},
        {"click 99999", 2, "error: 7: no control 99999\n"},
        {"type 99999 x", 2, "error: 7: no control 99999\n"},
        {"expect-visible 146", -1, ""},
        {"expect-enabled 146", -1, ""},
        {"expect-off 146", -1, ""},
        {"expect-hidden 146", 1, "fail: 7: control 146 is not hidden\n"},
        {"expect-disabled 146", 1, "fail: 7: control 146 is not disabled\n"},
        {"expect-on 146", 1, "fail: 7: control 146 is not on\n"},
        {"expect 146 x", 1, "fail: 7: control 146 holds \"打开文件\"\n"},
        {"print 146", -1, "print: 146: 打开文件\n"},
        {"sim on now", 2, "error: 7: usage: on takes no argument\n"},
        {"sim fault smoke", 2, "error: 7: unknown fault smoke\n"},
        {"sim expect-memory 0 00", 1, "fail: 7: memory byte at 00000 is FF, expected 00\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const size_t before = out.str().size();
        EXPECT_EQ(runner.RunLine(c.line, 7), c.status);
        EXPECT_EQ(out.str().substr(before), c.says);
    }
}

}  // namespace
}  // namespace veldrix
