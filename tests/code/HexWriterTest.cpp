// Saving programmer memory as Intel HEX through the simulated programmer.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "state/ControlIds.h"
#include "code/Fields.h"
#include "seams/Files.h"
#include "tests/code/HexText.h"
#include "tests/support/LinkedApp.h"
#include "tests/support/TestApp.h"
#include "state/OpCodes.h"

namespace veldrix {
namespace {

const char* const kTextFailed = "保存文件失败,磁盘空间可能不足或指定的目标文件写保护.";
const char* const kTextSaved = "代码文件文件已成功保存在: ";
const char* const kPageText = "[双击这里中断操作] 读取编程内存数据并保存到文件, 地址: ";

// Every address holds a different byte than the same offset in the pages
// and segments around it.
uint8_t Pattern(uint32_t a) { return uint8_t(a ^ (a >> 8) ^ (a >> 16) ^ 0xA5); }

std::string FileText(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(path, bytes)) << path;
    return bytes;
}

class HexWriter : public ::testing::Test {
protected:
    void SetUp() override {
        app.Start();
        ASSERT_EQ(app.ctx.ConnectedFlag, 1);
        std::lock_guard lock(app.prog.state.mutex);
        for (uint32_t a = 0; a < sim::kMemorySize; ++a) app.prog.state.memory[a] = Pattern(a);
        app.prog.state.log.clear();
    }

    // The button, with the range typed into the address fields.
    void Save(const std::string& start, const std::string& end, std::optional<std::string> path) {
        app.ui.SetText(id::kStartAddress, start);
        app.ui.SetText(id::kEndAddress, end);
        app.ui.QueueSave(path);
        app.Click(id::kMakeHex);
    }

    // A range no address field can give: straight to the worker.
    void SaveRange(uint32_t start, uint32_t end, const std::string& path) {
        app.ctx.programmingRange = {start, end};
        app.ui.QueueSave(path);
        app.worker.StartOperation(op::kSaveHex);
    }

    // The reads of programmer memory the unit took up, as "start-end".
    std::vector<std::string> Reads() {
        std::lock_guard lock(app.prog.state.mutex);
        std::vector<std::string> out;
        for (const sim::LogEntry& e : app.prog.state.log)
            if (e.opCode == op::kReadMemory) out.push_back(Hex(e.start, 5) + "-" + Hex(e.end, 5));
        return out;
    }

    bool StatusSeen(const std::string& text) {
        for (const std::string& s : app.ui.StatusHistory())
            if (s == text) return true;
        return false;
    }

    test::LinkedApp app;
    test::TempDir dir;
};

struct Layout {
    const char* start;
    const char* end;
    std::vector<std::string> pages;
    std::string text;
};

TEST_F(HexWriter, RecordsStopAtEverySixteenByteBoundaryAndPagesAtEvery256) {
    const Layout layouts[] = {
        {"0000", "001F", {"00000-0001F"},
         ":10000000A5A4A7A6A1A0A3A2ADACAFAEA9A8ABAA78\r\n"
         ":10001000B5B4B7B6B1B0B3B2BDBCBFBEB9B8BBBA68\r\n"},
        {"0005", "0024", {"00005-00024"},
         ":0B000500A0A3A2ADACAFAEA9A8ABAAAF\r\n"
         ":10001000B5B4B7B6B1B0B3B2BDBCBFBEB9B8BBBA68\r\n"
         ":05002000858487868144\r\n"},
        {"00F0", "0110", {"000F0-000FF", "00100-00110"},
         ":1000F00055545756515053525D5C5F5E59585B5A88\r\n"
         ":10010000A4A5A6A7A0A1A2A3ACADAEAFA8A9AAAB77\r\n"
         ":01011000B43A\r\n"},
        {"00FF", "0100", {"000FF-000FF", "00100-00100"},
         ":0100FF005AA6\r\n"
         ":01010000A45A\r\n"},
        {"0123", "0123", {"00123-00123"}, ":010123008754\r\n"},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(std::string(l.start) + "-" + l.end);
        {
            std::lock_guard lock(app.prog.state.mutex);
            app.prog.state.log.clear();
        }
        std::string path = dir.File(std::string("range") + l.start + ".hex");
        Save(l.start, l.end, path);
        EXPECT_EQ(FileText(path), l.text);  // no end-of-file record either
        EXPECT_EQ(Reads(), l.pages);
        EXPECT_EQ(app.Status(), kTextSaved + path);
        EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
        std::string firstPage = l.pages.front();
        EXPECT_TRUE(StatusSeen(kPageText + firstPage.replace(5, 1, "~")));
    }
}

TEST_F(HexWriter, SegmentRecordsAtAndAboveSixtyFourKilobytes) {
    std::string across = dir.File("across.hex");
    SaveRange(0xFFF8, 0x10017, across);
    EXPECT_EQ(FileText(across),
              ":08FFF800A2A3A0A1A6A7A4A5E5\r\n"
              ":020000021000EC\r\n"
              ":10000000A4A5A6A7A0A1A2A3ACADAEAFA8A9AAAB78\r\n"
              ":08001000B4B5B6B7B0B1B2B34C\r\n");
    EXPECT_EQ(Reads(), (std::vector<std::string>{"0FFF8-0FFFF", "10000-10017"}));

    // A range that starts up there names its segment before the first record.
    std::string high = dir.File("high.hex");
    SaveRange(0x2FFFE, 0x30001, high);
    std::istringstream lines(FileText(high));
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);) got.push_back(line);
    EXPECT_EQ(got, (std::vector<std::string>{test::HexRecord(2, 0, {0x20, 0x00}) + "\r",
                                              test::DataRecord(0xFFFE, {Pattern(0x2FFFE), Pattern(0x2FFFF)}) + "\r",
                                              test::HexRecord(2, 0, {0x30, 0x00}) + "\r",
                                              test::DataRecord(0x0000, {Pattern(0x30000), Pattern(0x30001)}) + "\r"}));
}

TEST_F(HexWriter, TheChosenNameGetsHexAppendedOnlyWhenItLacksIt) {
    const std::pair<const char*, const char*> names[] = {
        {"prog", "prog.hex"}, {"prog.hex", "prog.hex"}, {"PROG.HEX", "PROG.HEX"}, {"a.Hex", "a.Hex"},
        {"prog.hex.bak", "prog.hex.bak.hex"}, {"x.he", "x.he.hex"}};
    for (auto [chosen, saved] : names) {
        SCOPED_TRACE(chosen);
        Save("0000", "000F", dir.File(chosen));
        EXPECT_EQ(app.Status(), kTextSaved + dir.File(saved));
        EXPECT_EQ(FileText(dir.File(saved)).size(), 45u);
        EXPECT_FALSE(std::filesystem::exists(dir.File(std::string(saved) + ".hex")));
    }
    // An existing file is replaced.
    Save("0005", "0005", dir.File("prog.hex"));
    EXPECT_EQ(FileText(dir.File("prog.hex")), ":01000500A05A\r\n");
}

TEST_F(HexWriter, CancellingTheDialogDoesNothing) {
    std::string before = app.Status();
    Save("0000", "00FF", std::nullopt);
    EXPECT_EQ(app.Status(), before);
    EXPECT_TRUE(Reads().empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    EXPECT_EQ(app.BoxCount(), 0u);
}

TEST_F(HexWriter, DebugModeSavesTheCodeBufferWithoutAskingTheProgrammer) {
    app.ui.SetChecked(id::kDebugMode, true);
    for (uint8_t i = 0; i < 4; ++i) app.ctx.codeBuffer[0x10 + i] = uint8_t(i + 1);
    size_t writesBefore = app.port.writes.size();
    std::string path = dir.File("debug.hex");
    Save("0010", "001F", path);
    EXPECT_EQ(FileText(path), ":1000100001020304FFFFFFFFFFFFFFFFFFFFFFFFE2\r\n");
    EXPECT_EQ(app.port.writes.size(), writesBefore);
    EXPECT_EQ(app.Status(), kTextSaved + path);
}

TEST_F(HexWriter, AnAbortTakesEffectBeforeTheNextPageAndKeepsWhatWasWritten) {
    std::string path = dir.Write("abort.hex", "previous contents");
    // The double-click arrives while the second page is being read.
    app.ui.onLine = [this](const std::string& line) {
        if (line == std::string("status: ") + kPageText + "00100~001FF") app.ctx.AbortFlag = 1;
    };
    Save("0000", "03FF", path);
    std::string expected;
    for (uint32_t a = 0; a < 0x200; a += 16) {
        std::vector<uint8_t> data;
        for (uint32_t i = 0; i < 16; ++i) data.push_back(Pattern(a + i));
        expected += test::DataRecord(uint16_t(a), data) + "\r\n";
    }
    EXPECT_EQ(FileText(path), expected);
    EXPECT_EQ(Reads(), (std::vector<std::string>{"00000-000FF", "00100-001FF"}));
    EXPECT_EQ(app.Status(), "用户已中断操作!");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
}

TEST_F(HexWriter, AnAbortRequestLeftOverFromIdleTimeIsCleared) {
    app.ctx.AbortFlag = 1;
    std::string path = dir.File("left.hex");
    Save("0000", "01FF", path);
    EXPECT_EQ(app.Status(), kTextSaved + path);
    EXPECT_EQ(Reads().size(), 2u);
    EXPECT_EQ(app.ctx.AbortFlag, 0);
}

TEST_F(HexWriter, AFailedPageReadEndsWithTheReadErrorAndKeepsThePreviousFile) {
    std::string path = dir.Write("broken.hex", ":0100000055AA\r\n");
    app.ui.onLine = [this](const std::string& line) {
        if (line != std::string("status: ") + kPageText + "00100~0013F") return;
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.Arm({sim::FaultKind::BadSum, op::kReadMemory, sim::FaultStep::Any, true});
    };
    Save("00F0", "013F", path);
    EXPECT_EQ(app.Status(), "读取数据错误");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    // Half a file must not take the place of the one the user had.
    EXPECT_EQ(FileText(path), ":0100000055AA\r\n");
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
}

TEST_F(HexWriter, AFolderInPlaceOfTheFileFailsAndStaysAsItWas) {
    std::filesystem::create_directory(dir.File("out.hex"));
    Save("0000", "00FF", dir.File("out"));
    EXPECT_EQ(app.Status(), kTextFailed);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("out.hex")));
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("out.hex")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.hex.part")));
}

TEST_F(HexWriter, AWriteProtectedFileFailsAndKeepsItsContents) {
    std::string path = dir.Write("keep.hex", "previous contents");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    Save("0000", "00FF", path);
    EXPECT_EQ(app.Status(), kTextFailed);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(FileText(path), "previous contents");
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
    ::chmod(path.c_str(), 0644);
}

TEST_F(HexWriter, AFileThatCannotBeCreatedStopsBeforeAnyRead) {
    std::string path = dir.File("no-such-folder/x");
    Save("0000", "00FF", path);
    EXPECT_EQ(app.Status(), "保存文件错误!");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    EXPECT_TRUE(Reads().empty());
    EXPECT_FALSE(std::filesystem::exists(dir.File("no-such-folder")));
}

// What other tools make of a saved file is what the programmer holds.
bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Tool(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0 ? "" : "failed: " + command;
}

class HexWriterTools : public HexWriter {
protected:
    void SetUp() override {
        HexWriter::SetUp();
        std::lock_guard lock(app.prog.state.mutex);
        uint32_t seed = 12345;
        for (auto& b : app.prog.state.memory) b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    }
    std::string Memory(uint32_t start, uint32_t end) {
        std::lock_guard lock(app.prog.state.mutex);
        return std::string(app.prog.state.memory.begin() + start, app.prog.state.memory.begin() + end + 1);
    }
};

TEST_F(HexWriterTools, SrecCatReadsBackTheProgrammersBytes) {
    if (!HaveTool("srec_cat")) GTEST_SKIP() << "srec_cat (srecord) is not installed";
    std::string hex = dir.File("all.hex"), bin = dir.File("all.bin");
    Save("0000", "FFFF", hex);
    ASSERT_EQ(app.Status(), kTextSaved + hex);
    ASSERT_EQ(Tool("srec_cat " + hex + " -intel -o " + bin + " -binary"), "");
    EXPECT_TRUE(FileText(bin) == Memory(0, 0xFFFF));

    // Across two segment boundaries, cut down to the range itself.
    std::string high = dir.File("high.hex");
    SaveRange(0xFF80, 0x2007F, high);
    ASSERT_EQ(Tool("srec_cat " + high + " -intel -crop 0xFF80 0x20080 -offset -0xFF80 -o " + bin + " -binary"), "");
    EXPECT_TRUE(FileText(bin) == Memory(0xFF80, 0x2007F));
}

TEST_F(HexWriterTools, ObjcopyReadsBackTheProgrammersBytes) {
    if (!HaveTool("objcopy")) GTEST_SKIP() << "objcopy (GNU binutils) is not installed";
    std::string hex = dir.File("part.hex"), bin = dir.File("part.bin");
    Save("0000", "FFFF", hex);
    ASSERT_EQ(app.Status(), kTextSaved + hex);
    ASSERT_EQ(Tool("objcopy -I ihex -O binary " + hex + " " + bin), "");
    EXPECT_TRUE(FileText(bin) == Memory(0, 0xFFFF));

    // objcopy's binary starts at the lowest address written.
    std::string high = dir.File("high.hex");
    SaveRange(0xFF80, 0x2007F, high);
    ASSERT_EQ(Tool("objcopy -I ihex -O binary " + high + " " + bin), "");
    EXPECT_TRUE(FileText(bin) == Memory(0xFF80, 0x2007F));
}

}  // namespace
}  // namespace veldrix
