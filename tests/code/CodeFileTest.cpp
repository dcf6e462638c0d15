#include <gtest/gtest.h>

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
using test::Ramp;

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

TEST_F(CodeFile, EndAddressKeeps16Bits) {
    LoadNamed(dir.Write("high.hex", ":020000021000EC\n" + DataRecord(0x0000, {0x11, 0x22}) + "\n"));
    ExpectLoaded(0x0001, 0x01FE);  // two bytes of 0xFF at 0 and 1
    EXPECT_EQ(app.ctx.codeBuffer[0x10000], 0x11);
    EXPECT_EQ(app.ctx.codeBuffer[0x10001], 0x22);
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
                 {65537, 0x0000, "code.bin"},
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
