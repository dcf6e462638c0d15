#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "state/ControlIds.h"
#include "code/CodeBuffer.h"
#include "code/CodeFile.h"
#include "code/Fields.h"
#include "tests/code/HexText.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

using test::DataRecord;
using test::EndRecord;
using test::HexRecord;
using test::Ramp;

std::string SampleHex() {
    std::ifstream in(VELDRIX_SOURCE_DIR "/resources/sample.hex", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The window's words for data above 0xFFFF: where they begin and end, and the range's end.
std::string Above16BitBox(const std::string& address, const std::string& last, const std::string& end) {
    return "加载的代码文件中有超出16位编程地址(FFFFH)的数据!\n从地址: " + address +
           " 开始的数据将不会被编程!\n不会被编程的数据: " + address + "~" + last + "\n注: 本次编程地址范围是: 0000~" + end;
}

class FilterRecordingUi : public HeadlessUi {
public:
    std::optional<std::string> OpenFileDialog(const std::vector<FileFilter>& filters) override {
        openFilters = filters;
        return HeadlessUi::OpenFileDialog(filters);
    }
    std::vector<FileFilter> openFilters;
};

class CodeFile : public ::testing::Test {
protected:
    void SetUp() override {
        app.CreateControls();
        app.ui.SetText(id::kStartAddress, "0100");
        app.ui.SetText(id::kEndAddress, "0FFF");
        app.ui.SetText(id::kChecksum, "XXXX");
        app.ctx.programmingRange = {0x100, 0xFFF};
    }
    void LoadNamed(const std::string& name) {
        app.ui.SetText(id::kCodeFile, name);
        StartOutcome(app.ctx);
        LoadCodeFile(app.ctx);
    }
    std::string Status() { return app.ui.GetText(id::kStatusLine); }
    void ExpectLoaded(uint32_t end, uint16_t checksum) {
        EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
        EXPECT_EQ(Status(), "调入代码成功!");
        EXPECT_EQ(app.ctx.programmingRange, (AddressRange{0, end}));
        EXPECT_EQ(app.ui.GetText(id::kStartAddress), "0000");
        EXPECT_EQ(app.ui.GetText(id::kEndAddress), Hex(end, 4));
        EXPECT_EQ(app.ui.GetText(id::kChecksum), Hex(checksum, 4));
        EXPECT_EQ(app.ctx.outcome.checksum, checksum);
    }
    void ExpectPreviousRangeKept() {
        EXPECT_EQ(app.ctx.programmingRange, (AddressRange{0x100, 0xFFF}));
        EXPECT_EQ(app.ui.GetText(id::kStartAddress), "0100");
        EXPECT_EQ(app.ui.GetText(id::kEndAddress), "0FFF");
        EXPECT_EQ(app.ui.GetText(id::kChecksum), "XXXX");
        // A file that would not load is the file's fault, whatever the reason.
        EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::UsageOrFile);
        EXPECT_FALSE(app.ctx.outcome.checksum);
    }
    std::string SmallHex() { return DataRecord(0, {0x10, 0x20, 0x30}) + "\n" + EndRecord() + "\n"; }

    test::TestAppOf<FilterRecordingUi> app;
    test::TempDir dir;
};

TEST_F(CodeFile, ChooseOffersThreeFiltersAndFillsTheField) {
    app.ui.SetText(id::kCodeFile, "old.hex");
    app.ui.QueueOpen(std::nullopt);
    EXPECT_FALSE(ChooseCodeFile(app.ctx));
    EXPECT_EQ(app.ui.GetText(id::kCodeFile), "old.hex");
    ASSERT_EQ(app.ui.openFilters.size(), 3u);
    EXPECT_EQ(app.ui.openFilters[0].label, "hex文件(*.hex)");
    EXPECT_EQ(app.ui.openFilters[0].pattern, "*.hex");
    EXPECT_EQ(app.ui.openFilters[1].label, "BIN文件(*.BIN)");
    EXPECT_EQ(app.ui.openFilters[1].pattern, "*.BIN");
    EXPECT_EQ(app.ui.openFilters[2].label, "PJT文件(*.PVX)");
    EXPECT_EQ(app.ui.openFilters[2].pattern, "*.pvx");

    app.ui.QueueOpen("/data/产品/code.hex");
    EXPECT_TRUE(ChooseCodeFile(app.ctx));
    EXPECT_EQ(app.ui.GetText(id::kCodeFile), "/data/产品/code.hex");
}

TEST_F(CodeFile, EmptyFieldAsksForAFile) {
    app.ctx.LinkErrorFlag = 0;
    LoadNamed("");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(Status(), "请指定一个代码文件");
    ExpectPreviousRangeKept();
}

TEST_F(CodeFile, HexEndingInAnyCase) {
    for (const char* name : {"CODE.HEX", "code.Hex", "code.hex"}) {
        app.ctx.LinkErrorFlag = 1;  // cleared by every load
        LoadNamed(dir.Write(name, SmallHex()));
        ExpectLoaded(2, 0x60);
        EXPECT_TRUE(app.ui.Boxes().empty()) << name;
    }
}

TEST_F(CodeFile, UnrecognisedEndingShowsABoxAndStops) {
    std::string withBlank = dir.Write("code.hex ", SmallHex());
    std::fill(app.ctx.codeBuffer.begin(), app.ctx.codeBuffer.begin() + 16, 0x00);
    for (const std::string& name : {withBlank, std::string("hex"), std::string("a.b"), std::string("code.hx")}) {
        app.ctx.LinkErrorFlag = 0;
        size_t boxes = app.ui.Boxes().size();
        LoadNamed(name);
        ASSERT_EQ(app.ui.Boxes().size(), boxes + 1) << name;
        auto box = *app.ui.LastBox();
        EXPECT_EQ(box.spec.text, name);
        EXPECT_EQ(box.spec.caption, "无法识别的文件,操作中止");
        EXPECT_EQ(box.spec.buttons, MsgButtons::Ok);
        // The download that asked for the file must not go on with the old buffer.
        EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
        EXPECT_EQ(Status(), "操作已中止");
        ExpectPreviousRangeKept();
    }
    EXPECT_EQ(app.ctx.codeBuffer[0], 0x00);  // nothing was loaded
}

TEST_F(CodeFile, LoaderFailuresShowOneText) {
    LoadNamed(dir.Write("bad.hex", ":0400000001020304F3\n"));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(Status(), "代码文件有错误!");
    auto history = app.ui.StatusHistory();
    EXPECT_NE(std::find(history.begin(), history.end(), "代码文件错误[行检查和错误]"), history.end());
    ExpectPreviousRangeKept();

    LoadNamed(dir.File("missing.hex"));
    EXPECT_EQ(Status(), "代码文件有错误!");
    LoadNamed(".HEX");  // four characters are just the ending
    EXPECT_EQ(Status(), "代码文件有错误!");
    EXPECT_TRUE(app.ui.Boxes().empty());
    LoadNamed(dir.Write("nothing.hex", "no records here\n"));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(Status(), "代码文件有错误!");
    LoadNamed(dir.Write("huge.hex", ":02000002FFFFFE\n:0100100001EE\n"));
    EXPECT_EQ(Status(), "代码文件有错误!");
    ExpectPreviousRangeKept();
}

TEST_F(CodeFile, EndAddressNeverWrapsBelowTheData) {
    // Nothing below 0x10000: the range is the first byte only, not the data's
    // end with its upper bits cut off.
    LoadNamed(dir.Write("high.hex", ":020000021000EC\n" + DataRecord(0x0000, {0x11, 0x22}) + "\n"));
    ExpectLoaded(0x0000, 0x00FF);
    EXPECT_EQ(app.ctx.codeBuffer[0x10000], 0x11);
    EXPECT_EQ(app.ctx.codeBuffer[0x10001], 0x22);
}

// Data above 0xFFFF load where the file puts them; the range ends at the
// highest data below 0x10000, never wrapped round, and a warning names what
// lies above.
TEST_F(CodeFile, DataAbove16BitsLoadWithAWarning) {
    const std::string sample = SampleHex();
    const std::string end = EndRecord() + "\n";
    const std::string above = sample + ":020000021000EC\n" + DataRecord(0x0100, Ramp(1, 16)) + "\n";
    const std::string project = "THIS-IS-VDX-PROJECT-FILE\r\nFile=" + dir.Write("above.hex", above) + "\r\n";
    struct Case {
        const char* what;
        std::string name, bytes;
        uint32_t end;
        const char* boxAddress;  // nullptr: no box
        const char* boxLast = nullptr;
    } cases[] = {
        {"the sample", "sample.hex", sample, 0x03FF, nullptr},
        {"segment record", "seg.hex", above, 0x03FF, "10100", "1010F"},
        {"linear record", "lin.hex", sample + HexRecord(0x04, 0, {0x00, 0x02}) + "\n" + DataRecord(0x0020, {7}) + "\n",
         0x03FF, "20020", "20020"},
        {"1 KB, then a linear record and 16 bytes at 0x10000", "mixed04.hex",
         sample + HexRecord(0x04, 0, {0x00, 0x01}) + "\n" + DataRecord(0, Ramp(1, 16)) + "\n" + end, 0x03FF, "10000",
         "1000F"},
        {"a record across 0xFFFF", "across.hex", DataRecord(0xFFF8, Ramp(1, 16)) + "\n" + end, 0xFFFF, "10000", "10007"},
        {"the lowest address above, not the first", "down.hex",
         ":020000022000DC\n" + DataRecord(0, {1}) + "\n:020000021000EC\n" + DataRecord(0x30, {2}) + "\n" + end,
         0x0000, "10030", "20000"},
        {"type 20 data", "t20.hex", ":020000021000EC\n" + HexRecord(0x20, 0x0008, {5}) + "\n", 0x0000, "10008", "10008"},
        {"code after the data above", "after.hex",
         ":020000021000EC\n" + DataRecord(0, {1}) + "\n:020000020000FC\n" + DataRecord(0x0200, {2}) + "\n" + end, 0x0200,
         "10000", "10000"},
        {"ending at FFFF", "top.hex", sample + DataRecord(0xFFF0, Ramp(1, 16)) + "\n" + end, 0xFFFF, nullptr},
        // No data up there: nothing is lost, and the range keeps the code.
        {"only an empty record above", "empty.hex",
         DataRecord(0, Ramp(1, 16)) + "\n:020000021000EC\n" + DataRecord(0x0100, {}) + "\n" + end, 0x000F, nullptr},
        {"binary of 64 KB", "full.bin", std::string(0x10000, '\x5A'), 0xFFFF, nullptr},
        {"binary of 64 KB and one byte", "long.bin", std::string(0x10001, '\x5A'), 0xFFFF, "10000", "10000"},
        {"project naming such a file", "above.pvx", project, 0x03FF, "10100", "1010F"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        size_t boxes = app.ui.Boxes().size();
        LoadNamed(dir.Write(c.name, c.bytes));
        EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
        EXPECT_EQ(Status(), "调入代码成功!");
        EXPECT_EQ(app.ctx.programmingRange, (AddressRange{0, c.end}));
        EXPECT_EQ(app.ui.GetText(id::kEndAddress), Hex(c.end, 4));
        if (!c.boxAddress) {
            EXPECT_EQ(app.ui.Boxes().size(), boxes);
            continue;
        }
        ASSERT_EQ(app.ui.Boxes().size(), boxes + 1);
        const MessageBoxSpec box = app.ui.LastBox()->spec;
        EXPECT_EQ(box.text, Above16BitBox(c.boxAddress, c.boxLast, Hex(c.end, 4)));
        EXPECT_EQ(box.caption, "警告");
        EXPECT_EQ(box.icon, MsgIcon::Warning);
        EXPECT_EQ(box.buttons, MsgButtons::Ok);
    }
    // The bytes stay where the file put them.
    LoadNamed(dir.File("seg.hex"));
    EXPECT_EQ(app.ctx.codeBuffer[0x10100], 1);
    EXPECT_EQ(app.ctx.codeBuffer[0x1010F], 16);
    // A load that fails warns of nothing.
    size_t boxes = app.ui.Boxes().size();
    LoadNamed(dir.Write("bad.hex", above + ":0400000001020304F3\n"));
    EXPECT_EQ(Status(), "代码文件有错误!");
    EXPECT_EQ(app.ui.Boxes().size(), boxes);
}

// The check the command line makes before a subcommand that takes a file.
TEST_F(CodeFile, MayLoseCodeBeforeLoading) {
    const std::string sample = SampleHex();
    const std::string above = sample + ":020000021000EC\n" + DataRecord(0x0100, Ramp(1, 16)) + "\n";
    const std::string aboveHex = dir.Write("above.hex", above), sampleHex = dir.Write("sample.hex", sample);
    const std::string aboveWhy = Above16BitBox("10100", "1010F", "03FF");
    auto project = [&](const std::string& body) { return "THIS-IS-VDX-PROJECT-FILE\r\n" + body; };
    const std::string none;
    struct Case {
        const char* what;
        std::string name, bytes;
        std::string why;  // empty: nothing may be lost
    } cases[] = {
        {"the sample", "s.hex", sample, none},
        {"blank lines, records 01, 03 and 05", "normal.hex",
         "\n" + sample + "\n  \n" + HexRecord(0x03, 0, {0, 0, 0x12, 0x34}) + "\r\n" +
             HexRecord(0x05, 0, {0, 0, 0x12, 0x34}) + "\n" + EndRecord() + "\n\t\n",
         none},
        {"data above FFFF", "above.hex", above, aboveWhy},
        {"an unknown record type", "t06.hex", DataRecord(0, {1}) + "\n" + HexRecord(0x06, 0x10, {2}) + "\n",
         "第2行: 无法识别的记录类型 06, 该行被忽略"},
        {"a line without ':'", "remark.hex", DataRecord(0, {1}) + "\nremark\n" + DataRecord(1, {2}) + "\nxx\n",
         "第2行: 没有记录起始符':', 该行被忽略\n另有 1 行有问题"},
        {"a damaged line", "damaged.hex", DataRecord(0, {1}) + "\n:01000100X7F2\n", "第2行: 含有非十六进制字符, 该行被忽略"},
        {"a cut line", "cut.hex", ":0400000001020304\n", "第1行: 数据少于长度字段所示, 该行被忽略"},
        {"refused as a whole", "sum.hex", "remark\n:0400000001020304F3\n", none},
        {"an empty record above FFFF", "empty.hex",
         DataRecord(0x0200, {1}) + "\n:020000021000EC\n" + DataRecord(0x0100, {}) + "\n", none},
        {"data above FFFF and a line passed over", "above-remark.hex", above + "remark\n",
         "第67行: 数据地址 10100 超出16位编程地址范围, 从该地址开始的数据将不会被编程\n另有 1 行有问题"},
        {"binary of 64 KB", "full.bin", std::string(0x10000, '\x01'), none},
        {"binary of 64 KB and one byte", "long.bin", std::string(0x10001, '\x01'), Above16BitBox("10000", "10000", "FFFF")},
        {"project naming data above FFFF", "p1.pvx", project("File=" + aboveHex + "\r\n"),
         "代码文件: " + aboveHex + "\n" + aboveWhy},
        {"project naming the sample", "p2.pvx", project("File=" + sampleHex + "\r\n"), none},
        // The load takes the last entry; so must the check.
        {"project naming the sample last", "p3.pvx", project("File=" + aboveHex + "\r\nFile=" + sampleHex + "\r\n"),
         none},
        {"project naming a project", "p4.pvx", project("File=" + dir.File("p1.pvx") + "\r\n"), none},
        {"not a project", "p5.pvx", "File=" + aboveHex + "\r\n", none},
        {"unknown ending", "above.txt", above, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = dir.Write(c.name, c.bytes), why = "stale";
        EXPECT_EQ(CodeFileMayLoseCode(path, why), !c.why.empty());
        EXPECT_EQ(why, c.why);
    }
    std::string why;
    EXPECT_FALSE(CodeFileMayLoseCode(dir.File("missing.hex"), why));
    EXPECT_FALSE(CodeFileMayLoseCode(dir.File("missing.bin"), why));
}

// Binary files: byte i is code byte i.
class BinFile : public CodeFile {
protected:
    std::string Image(size_t size) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = char(i * 7 + (i >> 8));
        return bytes;
    }
    uint16_t Sum(const std::string& bytes, size_t count) {
        uint16_t sum = 0;
        for (size_t i = 0; i < count; ++i) sum = uint16_t(sum + uint8_t(bytes[i]));
        return sum;
    }
};

TEST_F(BinFile, SizesGiveTheEndAddress) {
    struct Case {
        size_t size;
        uint32_t end;
        const char* name;
    } cases[] = {{8192, 0x1FFF, "code.bin"},
                 {65536, 0xFFFF, "code.bin"},
                 {65537, 0xFFFF, "code.bin"},
                 {1, 0x0000, "CODE.BIN"},
                 {kImageSize, 0xFFFF, "code.Bin"}};
    for (const Case& c : cases) {
        std::string bytes = Image(c.size);
        LoadNamed(dir.Write(c.name, bytes));
        SCOPED_TRACE(c.size);
        ExpectLoaded(c.end, Sum(bytes, c.end + 1));
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), app.ctx.codeBuffer.begin(),
                               [](char a, uint8_t b) { return uint8_t(a) == b; }));
        EXPECT_TRUE(std::all_of(app.ctx.codeBuffer.begin() + long(c.size), app.ctx.codeBuffer.end(),
                                [](uint8_t b) { return b == 0xFF; }));
    }
}

TEST_F(BinFile, LargerThanTheBufferFails) {
    std::fill(app.ctx.codeBuffer.begin(), app.ctx.codeBuffer.end(), 0x00);
    std::string path = dir.Write("big.bin", Image(kImageSize + 1));
    EXPECT_EQ(LoadBinFile(app.ctx, path), 0u);
    EXPECT_EQ(app.ctx.codeBuffer.size(), kImageSize);
    EXPECT_TRUE(std::all_of(app.ctx.codeBuffer.begin(), app.ctx.codeBuffer.end(), [](uint8_t b) { return b == 0xFF; }));

    LoadNamed(path);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(Status(), "代码文件有错误!");
    ExpectPreviousRangeKept();
}

TEST_F(BinFile, EmptyOrMissingFileFails) {
    LoadNamed(dir.Write("empty.bin", ""));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(Status(), "代码文件有错误!");

    app.ctx.codeBuffer[5] = 0;
    EXPECT_EQ(LoadBinFile(app.ctx, dir.File("missing.bin")), 0u);
    EXPECT_EQ(Status(), "打开文件错误,操作失败");
    EXPECT_EQ(app.ctx.codeBuffer[5], 0xFF);  // refilled before the open
    LoadNamed(dir.File("missing.bin"));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(Status(), "代码文件有错误!");
    ExpectPreviousRangeKept();
}

// Projects through the dispatcher.
class CodeFileProject : public CodeFile {
protected:
    std::string Project(const std::string& name, const std::string& body) {
        return dir.Write(name, "THIS-IS-VDX-PROJECT-FILE\r\n" + body);
    }
};

TEST_F(CodeFileProject, LoadsOptionsThenTheNamedHexFile) {
    std::string hex = dir.Write("prog.hex", SmallHex());
    app.ui.SetChecked(id::kDebugMode, false);
    LoadNamed(Project("setup.pvx", "Mode=1\r\nFile=" + hex + "\r\n"));
    EXPECT_TRUE(app.ui.IsChecked(id::kDebugMode));
    EXPECT_EQ(app.ui.GetText(id::kCodeFile), hex);
    ExpectLoaded(2, 0x60);
}

TEST_F(CodeFileProject, NamingABinaryFile) {
    std::string bin = dir.Write("prog.bin", std::string(8192, '\x01'));
    LoadNamed(Project("SETUP.PVX", "File=" + bin + "\r\n"));
    ExpectLoaded(0x1FFF, 0x2000);
}

TEST_F(CodeFileProject, UnreadableProjectStopsWithItsOwnText) {
    LoadNamed(dir.File("absent.pvx"));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(Status(), "打开文件错误,操作失败");

    LoadNamed(dir.Write("plain.pvx", "File=x.hex\r\n"));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(Status(), "无法识别的文件,操作中止");
    EXPECT_EQ(app.ui.GetText(id::kCodeFile), dir.File("plain.pvx"));
    ExpectPreviousRangeKept();
}

TEST_F(CodeFileProject, ProjectsDoNotChain) {
    // Without a File= entry the field still names the project itself.
    std::string self = Project("self.pvx", "Mode=1\r\n");
    LoadNamed(self);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(Status(), "无法识别的文件,操作中止");

    std::string hex = dir.Write("prog.hex", SmallHex());
    std::string inner = Project("inner.pvx", "File=" + hex + "\r\n");
    LoadNamed(Project("outer.pvx", "File=" + inner + "\r\n"));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(Status(), "无法识别的文件,操作中止");
    EXPECT_EQ(app.ui.GetText(id::kCodeFile), inner);
    ExpectPreviousRangeKept();
}

TEST_F(CodeFileProject, EmptyFileEntryAsksForAFile) {
    LoadNamed(Project("empty.pvx", "File=\r\n"));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(Status(), "请指定一个代码文件");
}

TEST_F(CodeFileProject, UnrecognisedCodeFileInAProject) {
    LoadNamed(Project("p.pvx", "File=notes.txt\r\n"));
    ASSERT_TRUE(app.ui.LastBox());
    EXPECT_EQ(app.ui.LastBox()->spec.text, "notes.txt");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
}

}  // namespace
}  // namespace veldrix
