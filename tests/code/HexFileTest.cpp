#include <gtest/gtest.h>

#include <chrono>

#include "state/ControlIds.h"
#include "code/HexFile.h"
#include "tests/code/HexText.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

using test::DataRecord;
using test::EndRecord;
using test::HexRecord;
using test::Ramp;

class HexFile : public ::testing::Test {
protected:
    void SetUp() override { app.CreateControls(); }

    uint32_t Load(const std::string& text) { return LoadHexFile(app.ctx, dir.Write("code.hex", text)); }
    // Lines joined with the given line end, the last one included.
    static std::string Lines(std::initializer_list<std::string> lines, const std::string& end = "\n") {
        std::string text;
        for (const auto& l : lines) text += l + end;
        return text;
    }
    std::vector<uint8_t> Bytes(size_t address, size_t count) {
        return {app.ctx.codeBuffer.begin() + long(address), app.ctx.codeBuffer.begin() + long(address + count)};
    }
    bool UntouchedOutside(size_t address, size_t count) {
        for (size_t a = 0; a < app.ctx.codeBuffer.size(); ++a)
            if ((a < address || a >= address + count) && app.ctx.codeBuffer[a] != 0xFF) return false;
        return true;
    }

    test::TestApp app;
    test::TempDir dir;
};

TEST_F(HexFile, StandardFileOfEightKilobytes) {
    std::string text;
    auto data = Ramp(0x30, 0x2000);
    for (size_t a = 0; a < data.size(); a += 16)
        text += DataRecord(uint16_t(a), {data.begin() + long(a), data.begin() + long(a + 16)}) + "\n";
    text += EndRecord() + "\n";
    EXPECT_EQ(Load(text), 0x2000u);
    EXPECT_EQ(Bytes(0, 0x2000), data);
    EXPECT_TRUE(UntouchedOutside(0, 0x2000));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    EXPECT_EQ(app.ui.GetText(id::kStatusLine), "调入代码文件.....");
}

TEST_F(HexFile, BufferIsRefilledBeforeLoading) {
    std::fill(app.ctx.codeBuffer.begin(), app.ctx.codeBuffer.end(), 0x00);
    EXPECT_EQ(Load(Lines({":0400000001020304F2"})), 4u);
    EXPECT_EQ(Bytes(0, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_TRUE(UntouchedOutside(0, 4));
}

TEST_F(HexFile, HighestEndComesOnlyFromRecordsAtOrAboveIt) {
    // Descending order: the first (highest) record decides.
    EXPECT_EQ(Load(Lines({DataRecord(0x100, Ramp(1, 16)), DataRecord(0x000, Ramp(0x41, 16)), EndRecord()})), 0x110u);
    EXPECT_EQ(Bytes(0x100, 16), Ramp(1, 16));
    EXPECT_EQ(Bytes(0x000, 16), Ramp(0x41, 16));
    // A record starting below the highest end does not raise it, even when it
    // reaches past it.
    EXPECT_EQ(Load(Lines({DataRecord(0x00, Ramp(1, 16)), DataRecord(0x08, Ramp(1, 16))})), 0x10u);
    EXPECT_EQ(app.ctx.codeBuffer[0x17], 16);
    // One starting exactly at it does.
    EXPECT_EQ(Load(Lines({DataRecord(0x00, Ramp(1, 16)), DataRecord(0x10, Ramp(1, 4))})), 0x14u);
    // An empty data record above everything moves it to its own address.
    EXPECT_EQ(Load(Lines({DataRecord(0x00, Ramp(1, 16)), DataRecord(0x40, {})})), 0x40u);
}

TEST_F(HexFile, WholeFileIsReadPastTheEndRecord) {
    EXPECT_EQ(Load(Lines({DataRecord(0, Ramp(1, 4)), EndRecord(), DataRecord(0x10, Ramp(9, 4))})), 0x14u);
    EXPECT_EQ(Bytes(0x10, 4), Ramp(9, 4));
}

TEST_F(HexFile, TypeTwentyIsData) {
    EXPECT_EQ(Load(Lines({HexRecord(0x20, 0x0200, {0xAA, 0x55})})), 0x202u);
    EXPECT_EQ(Bytes(0x200, 2), (std::vector<uint8_t>{0xAA, 0x55}));
    // Other types store nothing and move no base, known or not.
    EXPECT_EQ(Load(Lines({HexRecord(0x03, 0, {0, 0, 0x12, 0x34}), HexRecord(0x05, 0, {0, 0, 0x12, 0x34})})), 0u);
    EXPECT_TRUE(UntouchedOutside(0, 0));
    EXPECT_EQ(Load(Lines({HexRecord(0x06, 0x10, {0x10, 0x00}), HexRecord(0x21, 0x20, {1}), HexRecord(0xFF, 0, {2}),
                          DataRecord(0x30, {3})})),
              0x31u);
    EXPECT_TRUE(UntouchedOutside(0x30, 1));
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
}

// What the diagnosis says of each kind of line, and whether the file may
// lose code in a load that succeeds.
TEST_F(HexFile, DiagnosisNamesLinesThatMayLoseCode) {
    using K = HexIssue::Kind;
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::tuple<uint64_t, K, uint64_t>> issues;  // line, kind, address or record type
        bool mayLose;
    } cases[] = {
        {"normal lines", Lines({"", DataRecord(0, {1}), HexRecord(0x03, 0, {0, 0, 0x12, 0x34}), "  ",
                               HexRecord(0x05, 0, {0, 0, 0x12, 0x34}), HexRecord(0x20, 1, {2}), EndRecord(), "\t"},
                              "\r\n"),
         {}, false},
        {"ending at FFFF", Lines({DataRecord(0xFFF0, Ramp(1, 16))}), {}, false},
        {"unknown types", Lines({HexRecord(0x06, 0, {1}), DataRecord(0, {1}), HexRecord(0xFF, 0, {})}),
         {{1, K::UnknownType, 0x06}, {3, K::UnknownType, 0xFF}}, true},
        {"above FFFF once", Lines({DataRecord(0, {1}), ":020000021000EC", DataRecord(0x20, {2}), DataRecord(0x10, {3})}),
         {{3, K::Above16Bit, 0x10020}}, true},
        {"across FFFF", Lines({HexRecord(0x04, 0, {0, 0}), DataRecord(0xFFF8, Ramp(1, 16))}),
         {{2, K::Above16Bit, 0x10000}}, true},
        {"only an empty record above", Lines({DataRecord(0, {1}), ":020000021000EC", DataRecord(0x100, {})}), {}, false},
        {"no ':'", Lines({DataRecord(0, {1}), "remark"}), {{2, K::NoRecordMark, 0}}, true},
        {"damaged", Lines({":0400000001020304", ":0400000001020304x2"}),
         {{1, K::LengthMismatch, 0}, {2, K::BadCharacter, 0}}, true},
        {"refused only", Lines({":0400000001020304F3"}), {{1, K::Checksum, 0}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HexDiagnosis d = DiagnoseHexFile(dir.Write("d.hex", c.text));
        ASSERT_TRUE(d.readOk);
        std::vector<std::tuple<uint64_t, K, uint64_t>> seen;
        for (const HexIssue& i : d.issues)
            seen.emplace_back(i.line, i.kind,
                              i.kind == K::UnknownType ? i.recordType : i.kind == K::Above16Bit ? i.address : 0);
        EXPECT_EQ(seen, c.issues);
        EXPECT_EQ(d.MayLoseCode(), c.mayLose);
    }
    // Past the issues kept, every line still counts, and the first is kept.
    HexDiagnosis d = DiagnoseHexFile(dir.Write("many.hex", Lines({"a", "b", HexRecord(0x07, 0, {}), "c"})), 1);
    EXPECT_EQ(d.issues.size(), 1u);
    EXPECT_EQ(d.moreIssues, 3u);
    EXPECT_EQ(d.losingLines, 4u);
    EXPECT_EQ(d.firstLoss.line, 1u);
    d = DiagnoseHexFile(dir.Write("many.hex", Lines({"a", "b"})), 0);
    EXPECT_TRUE(d.MayLoseCode());
    EXPECT_EQ(d.firstLoss.kind, K::NoRecordMark);
}

TEST_F(HexFile, SegmentAndLinearAddressRecordsMoveTheBase) {
    EXPECT_EQ(Load(Lines({":020000021000EC", DataRecord(0x0010, Ramp(1, 4))})), 0x10014u);
    EXPECT_EQ(Bytes(0x10010, 4), Ramp(1, 4));
    EXPECT_TRUE(UntouchedOutside(0x10010, 4));

    EXPECT_EQ(Load(Lines({HexRecord(0x04, 0, {0x00, 0x0F}), DataRecord(0xFFF0, Ramp(1, 16))})), 0x100000u);
    EXPECT_EQ(Bytes(0xFFFF0, 16), Ramp(1, 16));

    // Both kinds set the same base; the later one counts.
    EXPECT_EQ(Load(Lines({HexRecord(0x04, 0, {0x00, 0x02}), HexRecord(0x02, 0, {0x10, 0x00}),
                          DataRecord(0, Ramp(7, 2))})),
              0x10002u);
    EXPECT_EQ(Load(Lines({HexRecord(0x02, 0, {0x10, 0x00}), HexRecord(0x04, 0, {0x00, 0x02}),
                          DataRecord(0, Ramp(7, 2))})),
              0x20002u);
    EXPECT_EQ(Load(Lines({HexRecord(0x04, 0, {0x00, 0x01}), HexRecord(0x04, 0, {0x00, 0x00}),
                          DataRecord(0x10, Ramp(7, 2))})),
              0x12u);
}

TEST_F(HexFile, DataBeyondOneMegabyteFailsTheLoad) {
    // Segment base 0xFFFF0 plus an address of 0x0010 reaches 0x100000.
    EXPECT_EQ(Load(Lines({DataRecord(0, Ramp(1, 4)), HexRecord(0x02, 0, {0xFF, 0xFF}), DataRecord(0x0010, {1})})),
              0u);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.codeBuffer.size(), kImageSize);

    app.ctx.LinkErrorFlag = 0;
    // A record that straddles the end fails as a whole.
    EXPECT_EQ(Load(Lines({HexRecord(0x04, 0, {0x00, 0x0F}), DataRecord(0xFFF8, Ramp(1, 16))})), 0u);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);

    app.ctx.LinkErrorFlag = 0;
    EXPECT_EQ(Load(Lines({HexRecord(0x04, 0, {0xFF, 0xFF}), DataRecord(0xFFFF, Ramp(1, 255))})), 0u);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
}

TEST_F(HexFile, TextBeforeTheLastColonIsIgnored) {
    EXPECT_EQ(Load(Lines({"start: :0400000001020304F2"})), 4u);
    EXPECT_EQ(Load(Lines({"   :0400000001020304F2"})), 4u);
    EXPECT_EQ(Load(Lines({":0400000001020304F2junk:0400100005060708D2"})), 0x14u);
    EXPECT_EQ(Bytes(0x10, 4), Ramp(5, 4));
    EXPECT_TRUE(UntouchedOutside(0x10, 4));
}

TEST_F(HexFile, TrailingBlanksAndTabsAreDropped) {
    EXPECT_EQ(Load(Lines({":0400000001020304F2   "})), 4u);
    EXPECT_EQ(Bytes(0, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(Load(Lines({":0400000001020304F2 \t \t"}, "\r\n")), 4u);
    EXPECT_EQ(Load(":0400000001020304F2  "), 4u);  // last line, no line end
}

TEST_F(HexFile, MalformedLinesAreSkippedSilently) {
    const std::string good = DataRecord(0x20, {0x5A});
    struct Case {
        const char* what;
        std::string line;
    } cases[] = {
        {"no colon", "0400000001020304F2"},
        {"blank inside", ":04000000 01020304F2"},
        {"foreign digit", ":04000000010203G4F2"},
        {"lower-case x", ":0400000001020304x2"},
        {"shorter than its length", ":0400000001020304"},
        {"far too short", ":00000001"},
        {"length field not hex", ":\t400000001020304F2"},
    };
    for (const Case& c : cases) {
        app.ctx.LinkErrorFlag = 0;
        EXPECT_EQ(Load(Lines({c.line, good})), 0x21u) << c.what;
        EXPECT_EQ(app.ctx.LinkErrorFlag, 0) << c.what;
        EXPECT_TRUE(UntouchedOutside(0x20, 1)) << c.what;
    }
    EXPECT_EQ(Load(Lines({"", "; comment", "\t"})), 0u);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
}

TEST_F(HexFile, LineLengthCountsTheLineEnd) {
    // One digit short: with its line end the line is long enough, and the
    // missing digit pairs with the line end into a wrong checksum.
    EXPECT_EQ(Load(Lines({":0400000001020304F"})), 0u);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    app.ctx.LinkErrorFlag = 0;
    // Without a line end it is simply too short.
    EXPECT_EQ(Load(":0400000001020304F"), 0u);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
}

TEST_F(HexFile, BadLineChecksumStopsTheLoad) {
    EXPECT_EQ(Load(Lines({DataRecord(0, Ramp(1, 4)), ":0400100005060708D3", DataRecord(0x20, Ramp(9, 4))})), 0u);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ui.GetText(id::kStatusLine), "代码文件错误[行检查和错误]");
    EXPECT_EQ(Bytes(0, 4), Ramp(1, 4));  // earlier lines stay
    EXPECT_TRUE(UntouchedOutside(0, 4));
}

TEST_F(HexFile, CrLfFilesLoadLikeLfFiles) {
    std::initializer_list<std::string> lines = {HexRecord(0x02, 0, {0x10, 0x00}), DataRecord(0x10, Ramp(1, 32)),
                                                DataRecord(0x00, Ramp(0x80, 16)), EndRecord()};
    uint32_t lf = Load(Lines(lines));
    auto lfImage = app.ctx.codeBuffer;
    EXPECT_EQ(lf, 0x10030u);
    EXPECT_EQ(Load(Lines(lines, "\r\n")), lf);
    EXPECT_EQ(app.ctx.codeBuffer, lfImage);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
}

TEST_F(HexFile, LongLinesArriveInPiecesOf1023Characters) {
    // 900 characters in front still leave the record within the first piece.
    EXPECT_EQ(Load(Lines({std::string(900, 'x') + ":0400000001020304F2"})), 4u);
    // 1010 characters in front split the record across two pieces: lost.
    EXPECT_EQ(Load(Lines({std::string(1010, 'x') + ":0400000001020304F2", DataRecord(0x20, {1})})), 0x21u);
    EXPECT_TRUE(UntouchedOutside(0x20, 1));
    // A record that begins a new piece is read.
    EXPECT_EQ(Load(Lines({std::string(1023, 'x') + ":0400000001020304F2"})), 4u);
}

// The file is read in 64 KB pieces; every line, its CR LF and a long line cut
// into 1023-character pieces must come out as when the text is parsed whole.
TEST_F(HexFile, LinesAcrossReadPiecesLoadAsFromTheWholeText) {
    const size_t piece = 65536;
    for (size_t shift : {0u, 1u, 2u, 5u, 11u, 20u, 1000u, 1023u, 1024u}) {
        std::string text;
        uint16_t address = 0;
        const size_t record = DataRecord(0, Ramp(0, 16)).size() + 2;
        while (text.size() + record + 2 <= piece - shift) {
            text += DataRecord(address, Ramp(uint8_t(address), 16)) + "\r\n";
            address = uint16_t(address + 16);
        }
        text += std::string(piece - shift - 2 - text.size(), ' ') + "\r\n";  // ends just before the boundary
        // Straddling the boundary: a long line whose record sits behind 1023
        // characters of noise, then a CR LF split between two pieces.
        text += std::string(1023, 'x') + DataRecord(0xF000, {0xA5, 0x5A}) + "\r\n";
        text += DataRecord(0xF100, Ramp(0x40, 32)) + "\r";
        text += "\n" + DataRecord(0xF200, {0x77}) + "\n";
        text += std::string(piece, 'y') + ":0100FF00AA56";  // no line end at all

        std::vector<uint8_t> whole(kImageSize, 0xFF);
        uint32_t wholeEnd = 0;
        ASSERT_EQ(ParseHexText(text, whole.data(), wholeEnd), HexStatus::Ok);
        EXPECT_EQ(Load(text), wholeEnd) << "shift " << shift;
        EXPECT_TRUE(app.ctx.codeBuffer == whole) << "shift " << shift;
        EXPECT_EQ(app.ctx.codeBuffer[0xF201], 0xFF);
        EXPECT_EQ(app.ctx.codeBuffer[0xF200], 0x77);
        EXPECT_EQ(app.ctx.codeBuffer[0xF11F], 0x5F);
    }
}

// A line longer than a read piece is taken in 1023-character pieces before
// its end arrives; the cut must fall where the whole-text reader cuts.
TEST_F(HexFile, AVeryLongLineIsCutWhereTheLineReaderCutsIt) {
    const std::string record = DataRecord(0x40, {0x11, 0x22});
    for (const std::string& end : {std::string("\n"), std::string("\r\n"), std::string()}) {
        // Starting a piece deep in the line: read. Across a cut: lost.
        EXPECT_EQ(Load(std::string(1023 * 70, 'x') + record + end), 0x42u);
        EXPECT_EQ(app.ctx.codeBuffer[0x41], 0x22);
        EXPECT_EQ(Load(std::string(1023 * 70 - 5, 'x') + record + end + DataRecord(0x10, {1}) + "\n"), 0x11u);
        EXPECT_EQ(app.ctx.codeBuffer[0x40], 0xFF);
    }
}

TEST_F(HexFile, ChecksumErrorInALaterPieceStopsTheLoad) {
    std::string text;
    for (uint32_t a = 0; text.size() < 200000; a += 16) text += DataRecord(uint16_t(a), Ramp(1, 16)) + "\n";
    text += ":0400000001020304F3\n" + DataRecord(0xFFF0, {1}) + "\n";
    EXPECT_EQ(Load(text), 0u);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ui.GetText(id::kStatusLine), "代码文件错误[行检查和错误]");
}

TEST_F(HexFile, MissingFileLeavesTheBuffer) {
    app.ctx.codeBuffer[0] = 0x12;
    EXPECT_EQ(LoadHexFile(app.ctx, dir.File("absent.hex")), 0u);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ui.GetText(id::kStatusLine), "打开文件错误,操作失败");
    EXPECT_EQ(app.ctx.codeBuffer[0], 0x12);
}

TEST_F(HexFile, FullMegabyteImage) {
    std::vector<uint8_t> image(kImageSize);
    uint32_t seed = 12345;
    for (auto& b : image) b = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    std::string text;
    text.reserve(3 << 20);
    for (size_t a = 0; a < image.size(); a += 16) {
        if (a % 0x10000 == 0) text += HexRecord(0x04, 0, {0, uint8_t(a >> 16)}) + "\r\n";
        text += DataRecord(uint16_t(a), {image.begin() + long(a), image.begin() + long(a + 16)}) + "\r\n";
    }
    text += EndRecord() + "\r\n";
    std::string path = dir.Write("big.hex", text);

    auto begin = std::chrono::steady_clock::now();
    uint32_t result = LoadHexFile(app.ctx, path);
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - begin);
    RecordProperty("load_microseconds", std::to_string(micros.count()));
    RecordProperty("file_bytes", std::to_string(text.size()));

    EXPECT_EQ(result, kImageSize);
    EXPECT_TRUE(app.ctx.codeBuffer == image);
}

}  // namespace
}  // namespace veldrix
