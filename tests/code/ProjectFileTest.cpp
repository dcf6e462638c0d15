#include <gtest/gtest.h>

#include "state/ControlIds.h"
#include "code/ProjectFile.h"
#include "seams/Files.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

// The automatic steps in the order of the digits of "Auto=" (positions 1-7).
constexpr int kAutoBoxes[7] = {id::kAutoIdIncrement, id::kAutoHwProtect, id::kAutoLdc, id::kAutoBlankCheck,
                               id::kEnableSmart, id::kAutoReadProtect, id::kAutoVerify};
const std::initializer_list<int> kSpeeds = {id::kSpeedFull, id::kSpeedMedium, id::kSpeedLow};
const std::initializer_list<int> kTypes = {id::kOtp, id::kMtp};
const std::initializer_list<int> kVpps = {id::kVppVcc, id::kVpp12, id::kVpp11};
const std::initializer_list<int> kVdds = {id::kVdd50, id::kVdd33};

constexpr const char* kExample =
    "THIS-IS-VDX-PROJECT-FILE\r\nFile=D:\\code\\prog.hex\r\nChip=S3F9454\r\nMode=0\r\nTxsp=1\r\nBuzz=1\r\n"
    "Type=1\r\nVpps=1\r\nVdds=0\r\nAuto=00100101\r\nLcts=00012\r\nLctf=00001\r\nFcts=0000\r\nFcte=0000\r\n"
    "Incr=0000\r\n";

class SaveRecordingUi : public HeadlessUi {
public:
    std::optional<std::string> SaveFileDialog(const std::vector<FileFilter>& filters) override {
        ++saveDialogs;
        saveFilters = filters;
        return HeadlessUi::SaveFileDialog(filters);
    }
    int saveDialogs = 0;
    std::vector<FileFilter> saveFilters;
};

class ProjectFile : public ::testing::Test {
protected:
    void SetUp() override {
        app.CreateControls();
        app.UseChips({{"NOSELEC", "", "", "", ""},
                      {"S3F9454", "MTP", "", "12V", "5V"},
                      {"S3C8275", "OTP", "", "11V", "5V"},
                      {"S3C9228", "OTP", "", "VCC", "3V"},
                      {"S3F9454B", "MTP", "", "12V", "5V"}});
        for (auto group : {kTypes, kVpps, kVdds})
            for (int c : group) app.ui.SetEnabled(c, true);
        for (int c : kAutoBoxes) app.ui.SetEnabled(c, true);
    }

    void Radio(std::initializer_list<int> group, int checked) {
        for (int c : group) app.ui.SetChecked(c, c == checked);
    }
    int CheckedOf(std::initializer_list<int> group) {
        int found = -1;
        for (int c : group)
            if (app.ui.IsChecked(c)) found = found == -1 ? c : -2;  // -2: more than one
        return found;
    }
    void SetAuto(const std::string& digits) {
        for (int i = 0; i < 7; ++i) app.ui.SetChecked(kAutoBoxes[i], digits[size_t(i) + 1] == '1');
    }
    std::string Auto() {
        std::string s = "0";
        for (int c : kAutoBoxes) s += app.ui.IsChecked(c) ? '1' : '0';
        return s;
    }
    std::string Text(int id) { return app.ui.GetText(id); }

    void ExampleSetup() {
        app.ui.SetText(id::kCodeFile, "D:\\code\\prog.hex");
        app.ui.ComboSelect(id::kChipCombo, 1);
        app.ui.SetChecked(id::kDebugMode, false);
        Radio(kSpeeds, id::kSpeedFull);
        app.ui.SetChecked(id::kBuzzer, true);
        Radio(kTypes, id::kMtp);
        Radio(kVpps, id::kVpp12);
        Radio(kVdds, id::kVdd50);
        SetAuto("00100101");
        app.ui.SetText(id::kSuccessCount, "00012");
        app.ui.SetText(id::kFailureCount, "00001");
        for (int f : {id::kCounterCurrent, id::kCounterEnd, id::kIdAddress}) app.ui.SetText(f, "0000");
    }
    // Saves under the chosen name and returns what was written there.
    std::string Save(const std::string& chosen, const std::string& written) {
        app.ui.QueueSave(chosen);
        SaveProject(app.ctx);
        std::string bytes;
        ReadFileBytes(written, bytes);
        return bytes;
    }
    std::string SaveLine(const std::string& key) {
        std::string text = Save(dir.File("p.pvx"), dir.File("p.pvx"));
        size_t at = text.find("\r\n" + key);
        return at == std::string::npos ? "" : text.substr(at + 2, text.find("\r\n", at + 2) - at - 2);
    }
    bool Load(const std::string& body, const std::string& magic = "THIS-IS-VDX-PROJECT-FILE\r\n") {
        return LoadProject(app.ctx, dir.Write("load.pvx", magic + body));
    }

    test::TestAppOf<SaveRecordingUi> app;
    test::TempDir dir;
};

TEST_F(ProjectFile, SaveWritesTheLinesInOrder) {
    ExampleSetup();
    std::string path = dir.File("setup");
    EXPECT_EQ(Save(path, path + ".pvx"), kExample);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    EXPECT_EQ(Text(id::kStatusLine), "工程文件已保存在: " + path + ".pvx");
    ASSERT_EQ(app.ui.saveFilters.size(), 1u);
    EXPECT_EQ(app.ui.saveFilters[0].label, "工程文件(*.pvx)");
    EXPECT_EQ(app.ui.saveFilters[0].pattern, "*.pvx");
}

TEST_F(ProjectFile, RoundTripRestoresTheControls) {
    ExampleSetup();
    std::string path = dir.File("round.pvx");
    Save(path, path);
    app.ui.SetText(id::kCodeFile, "other.bin");
    app.ui.ComboSelect(id::kChipCombo, 3);
    app.ui.SetChecked(id::kDebugMode, true);
    app.ui.SetChecked(id::kBuzzer, false);
    Radio(kSpeeds, id::kSpeedLow);
    Radio(kTypes, id::kOtp);
    Radio(kVpps, id::kVpp11);
    Radio(kVdds, id::kVdd33);
    SetAuto("01011010");
    for (int f : {id::kSuccessCount, id::kFailureCount, id::kCounterCurrent, id::kCounterEnd, id::kIdAddress})
        app.ui.SetText(f, "9");
    app.ui.SetText(id::kStatusLine, "before");

    ASSERT_TRUE(LoadProject(app.ctx, path));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    EXPECT_EQ(Text(id::kStatusLine), "before");  // success leaves no text of its own
    EXPECT_EQ(Text(id::kCodeFile), "D:\\code\\prog.hex");
    EXPECT_EQ(Text(id::kChipCombo), "S3F9454");
    EXPECT_FALSE(app.ui.IsChecked(id::kDebugMode));
    EXPECT_TRUE(app.ui.IsChecked(id::kBuzzer));
    EXPECT_EQ(CheckedOf(kSpeeds), id::kSpeedFull);
    EXPECT_EQ(CheckedOf(kTypes), id::kMtp);
    EXPECT_EQ(CheckedOf(kVpps), id::kVpp12);
    EXPECT_EQ(CheckedOf(kVdds), id::kVdd50);
    EXPECT_EQ(Auto(), "00100101");
    EXPECT_EQ(Text(id::kSuccessCount), "00012");
    EXPECT_EQ(Text(id::kFailureCount), "00001");
    EXPECT_EQ(Text(id::kIdAddress), "0000");
}

TEST_F(ProjectFile, PvxEndingIsAddedOnlyWhenMissing) {
    ExampleSetup();
    for (auto [chosen, written] : {std::pair{"setup", "setup.pvx"}, {"setup.pvx", "setup.pvx"},
                                   {"SETUP.PVX", "SETUP.PVX"}, {"a.pvx.bak", "a.pvx.bak.pvx"}}) {
        EXPECT_EQ(Save(dir.File(chosen), dir.File(written)), kExample) << chosen;
        EXPECT_EQ(Text(id::kStatusLine), "工程文件已保存在: " + dir.File(written));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("setup.pvx.pvx")));
}

TEST_F(ProjectFile, SaveStopsWithoutCodeFileOrOnCancel) {
    app.ui.SetText(id::kCodeFile, "");
    SaveProject(app.ctx);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(Text(id::kStatusLine), "请指定一个代码文件");
    EXPECT_EQ(app.ui.saveDialogs, 0);

    ExampleSetup();
    app.ui.SetText(id::kStatusLine, "before");
    app.ui.QueueSave(std::nullopt);
    SaveProject(app.ctx);
    EXPECT_EQ(app.ui.saveDialogs, 1);
    EXPECT_EQ(Text(id::kStatusLine), "before");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(ProjectFile, FailedSaveKeepsThePreviousFile) {
    ExampleSetup();
    std::string path = dir.Write("keep.pvx", "previous");
    std::filesystem::create_directory(path + ".part");  // the writer cannot make its temporary
    EXPECT_EQ(Save(path, path), "previous");
    EXPECT_EQ(Text(id::kStatusLine), "保存文件错误!");
    Save(dir.File("no/such/dir/p"), "");
    EXPECT_EQ(Text(id::kStatusLine), "保存文件错误!");
}

TEST_F(ProjectFile, SavedOptionsCountOnlyWhenEnabled) {
    ExampleSetup();
    Radio(kVpps, id::kVppVcc);
    app.ui.SetEnabled(id::kVppVcc, false);  // checked but disabled, 12V unchecked
    EXPECT_EQ(SaveLine("Vpps="), "Vpps=2");
    Radio(kVpps, id::kVpp12);
    app.ui.SetEnabled(id::kVpp12, false);
    EXPECT_EQ(SaveLine("Vpps="), "Vpps=2");
    app.ui.SetEnabled(id::kVppVcc, true);
    Radio(kVpps, id::kVppVcc);
    EXPECT_EQ(SaveLine("Vpps="), "Vpps=0");

    app.ui.SetEnabled(id::kVdd50, false);
    EXPECT_EQ(SaveLine("Vdds="), "Vdds=1");

    SetAuto("01111111");
    app.ui.SetEnabled(id::kAutoHwProtect, false);
    app.ui.SetEnabled(id::kEnableSmart, false);
    EXPECT_EQ(SaveLine("Auto="), "Auto=01011011");
}

TEST_F(ProjectFile, SavedTypeSpeedAndTexts) {
    ExampleSetup();
    Radio(kTypes, id::kOtp);
    Radio(kSpeeds, id::kSpeedMedium);
    EXPECT_EQ(SaveLine("Type="), "Type=0");
    EXPECT_EQ(SaveLine("Txsp="), "Txsp=2");
    Radio(kTypes, -1);  // neither: recorded as MTP, the no-chip default
    Radio(kSpeeds, -1);
    EXPECT_EQ(SaveLine("Type="), "Type=1");
    EXPECT_EQ(SaveLine("Txsp="), "Txsp=1");

    app.ui.SetText(id::kCodeFile, std::string(600, 'f'));
    app.ui.SetText(id::kSuccessCount, "123456789");
    app.ui.SetText(id::kIdAddress, "ABCDEF");
    EXPECT_EQ(SaveLine("File="), "File=" + std::string(511, 'f'));
    EXPECT_EQ(SaveLine("Lcts="), "Lcts=1234567");
    EXPECT_EQ(SaveLine("Incr="), "Incr=ABCD");
}

TEST_F(ProjectFile, RadioLinesCheckExactlyOne) {
    struct Case {
        const char* line;
        std::initializer_list<int> group;
        int checked;
    } cases[] = {
        {"Txsp=1", kSpeeds, id::kSpeedFull}, {"Txsp=2", kSpeeds, id::kSpeedMedium},
        {"Txsp=3", kSpeeds, id::kSpeedLow},  {"Txsp=x", kSpeeds, id::kSpeedLow},
        {"Type=0", kTypes, id::kOtp},        {"Type=7", kTypes, id::kMtp},
        {"Vpps=0", kVpps, id::kVppVcc},      {"Vpps=1", kVpps, id::kVpp12},
        {"Vpps=9", kVpps, id::kVpp11},       {"Vdds=0", kVdds, id::kVdd50},
        {"Vdds=1", kVdds, id::kVdd33},
    };
    for (const Case& c : cases) {
        for (int r : c.group) app.ui.SetChecked(r, true);
        ASSERT_TRUE(Load(std::string(c.line) + "\r\n"));
        EXPECT_EQ(CheckedOf(c.group), c.checked) << c.line;
    }
}

TEST_F(ProjectFile, CheckAndAutoLines) {
    ASSERT_TRUE(Load("Mode=0\r\nBuzz=0\r\n"));
    EXPECT_FALSE(app.ui.IsChecked(id::kDebugMode));
    EXPECT_FALSE(app.ui.IsChecked(id::kBuzzer));
    ASSERT_TRUE(Load("Mode=7\r\nBuzz=7\r\n"));
    EXPECT_TRUE(app.ui.IsChecked(id::kDebugMode));
    EXPECT_TRUE(app.ui.IsChecked(id::kBuzzer));

    SetAuto("01111111");
    ASSERT_TRUE(Load("Auto=01000001\r\n"));
    EXPECT_EQ(Auto(), "01000001");  // ID-code increment and verify
    ASSERT_TRUE(Load("Auto=1011\r\n"));  // position 0 does not count; missing digits are off
    EXPECT_EQ(Auto(), "00110000");
}

TEST_F(ProjectFile, MagicLine) {
    ASSERT_TRUE(Load("Mode=1\r\n", "THIS-IS-VDX-PROJECT-FILE V2.0\r\n"));
    EXPECT_TRUE(app.ui.IsChecked(id::kDebugMode));

    app.ui.SetChecked(id::kDebugMode, false);
    for (const char* magic : {"THIS-IS-VDX-PROJECT-FIL\r\n", "this-is-vdx-project-file\r\n", " THIS-IS-VDX-PROJECT-FILE\r\n", ""}) {
        app.ctx.LinkErrorFlag = 0;
        EXPECT_FALSE(Load("Mode=1\r\n", magic)) << magic;
        EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
        EXPECT_EQ(Text(id::kStatusLine), "无法识别的文件,操作中止");
        EXPECT_FALSE(app.ui.IsChecked(id::kDebugMode));
    }
    EXPECT_FALSE(LoadProject(app.ctx, dir.File("absent.pvx")));
    EXPECT_EQ(Text(id::kStatusLine), "打开文件错误,操作失败");
}

TEST_F(ProjectFile, KeysAreCaseSensitiveRepeatableAndOptional) {
    app.ui.SetText(id::kCodeFile, "keep.hex");
    app.ui.ComboSelect(id::kChipCombo, 1);
    ASSERT_TRUE(Load("mode=1\r\nchip=S3C9228\r\nFILE=x.bin\r\nXX\r\n\r\nBuzz=1\r\nBuzz=0\r\n"));
    EXPECT_FALSE(app.ui.IsChecked(id::kDebugMode));
    EXPECT_EQ(Text(id::kChipCombo), "S3F9454");
    EXPECT_EQ(Text(id::kCodeFile), "keep.hex");
    EXPECT_FALSE(app.ui.IsChecked(id::kBuzzer));
}

TEST_F(ProjectFile, ChipLineSelectsByPrefixOfSevenCharacters) {
    for (auto [line, selected] : {std::pair{"Chip=s3c8275\r\n", "S3C8275"},
                                  {"Chip=S3F9454B\r\n", "S3F9454"},  // the first entry sharing seven characters
                                  {"Chip=S3C9228XYZ\r\n", "S3C9228"},
                                  {"Chip=S3F94\r\n", "NOSELEC"},  // the line end stays in the search text
                                  {"Chip=Z9999999\r\n", "NOSELEC"}}) {
        app.ui.ComboSelect(id::kChipCombo, 3);
        ASSERT_TRUE(Load(line));
        EXPECT_EQ(Text(id::kChipCombo), selected) << line;
    }
    app.UseChips({{"S3F9454", "MTP", "", "12V", "5V"}, {"S3C9228", "OTP", "", "VCC", "3V"}});
    app.ui.ComboSelect(id::kChipCombo, 1);
    ASSERT_TRUE(Load("Chip=UNKNOWN\r\n"));  // no "NOSELEC" either: the first entry
    EXPECT_EQ(Text(id::kChipCombo), "S3F9454");
}

TEST_F(ProjectFile, ChipLineUpdatesTheChipControlsBeforeLaterKeys) {
    ASSERT_TRUE(Load("Chip=S3C9228\r\n"));
    EXPECT_EQ(CheckedOf(kTypes), id::kOtp);
    EXPECT_EQ(Text(id::kEndAddress), "1FFF");
    EXPECT_EQ(Text(id::kVppField), "VCC");
    ASSERT_TRUE(Load("Chip=S3C9228\r\nType=1\r\n"));
    EXPECT_EQ(CheckedOf(kTypes), id::kMtp);
}

TEST_F(ProjectFile, TextValuesEndAtTheLineEndAndAt128Characters) {
    ASSERT_TRUE(Load("File=" + std::string(200, 'n') + "\r\nLcts=00042\r\nLctf=7\nFcts=0010\r\nFcte=0100\r\nIncr=1F00"));
    EXPECT_EQ(Text(id::kCodeFile), std::string(128, 'n'));
    EXPECT_EQ(Text(id::kSuccessCount), "00042");
    EXPECT_EQ(Text(id::kFailureCount), "7");
    EXPECT_EQ(Text(id::kCounterCurrent), "0010");
    EXPECT_EQ(Text(id::kCounterEnd), "0100");
    EXPECT_EQ(Text(id::kIdAddress), "1F00");

    // The tail of a line over 511 characters is read as a line of its own.
    app.ui.SetChecked(id::kDebugMode, false);
    ASSERT_TRUE(Load("Lcts=" + std::string(506, 'x') + "Mode=1\r\n"));
    EXPECT_TRUE(app.ui.IsChecked(id::kDebugMode));
}

}  // namespace
}  // namespace veldrix
