// The CSV writer and reader of the production records, and the folder's files
// as a power cut, a restart or another program leaves them.
#include <gtest/gtest.h>

#include <filesystem>

#include "code/Csv.h"
#include "code/RecordFolder.h"
#include "seams/Files.h"
#include "tests/admin/ProductionApp.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

std::vector<std::vector<std::string>> ReadInPieces(const std::string& text, size_t piece, bool* torn = nullptr) {
    std::vector<std::vector<std::string>> out;
    CsvReader reader([&](const std::vector<std::string_view>& f) {
        out.emplace_back(f.begin(), f.end());
        return true;
    });
    for (size_t at = 0; at < text.size(); at += piece) reader.Feed(std::string_view(text).substr(at, piece));
    if (torn) *torn = reader.Pending();
    return out;
}

TEST(Csv, TextsWithCommasQuotesAndLineBreaksComeBackWhole) {
    const std::vector<std::string> fields{"",
                                          "plain",
                                          "芯片不空, 在地址: 00000",
                                          "say \"OK\"",
                                          "\"",
                                          "two\nlines",
                                          "ends with a comma,",
                                          " spaced ",
                                          "\"quoted\", then,\nmore \"\"",
                                          ""};
    std::string line = CsvRecord(fields);
    EXPECT_EQ(line.rfind(R"(,plain,"芯片不空, 在地址: 00000","say ""OK""","""","two)" "\n" R"(lines",)", 0), 0u)
        << line;
    EXPECT_EQ(line.substr(line.size() - 3), ",\r\n");
    std::string text = line + "\r\n" + CsvRecord({"next"}) + "a,b\nc\n";  // an empty line, LF line ends
    // The reader gets the text in pieces of every size: no piece boundary may matter.
    for (size_t piece = 1; piece <= text.size(); ++piece) {
        SCOPED_TRACE(piece);
        bool torn = true;
        auto records = ReadInPieces(text, piece, &torn);
        ASSERT_EQ(records.size(), 4u);
        EXPECT_EQ(records[0], fields);
        EXPECT_EQ(records[1], std::vector<std::string>{"next"});
        EXPECT_EQ(records[2], (std::vector<std::string>{"a", "b"}));
        EXPECT_EQ(records[3], std::vector<std::string>{"c"});
        EXPECT_FALSE(torn);
    }
    // A CR inside a text is left out: CR LF only ever ends a record.
    EXPECT_EQ(CsvRecord({"a\r\nb", "c\rd"}), "\"a\nb\",\"cd\"\r\n");
}

TEST(Csv, ALastLineWithoutItsEndAndAnOverlongRecordAreNotHandedOver) {
    for (std::string tail : {"2025,good,4", "2025,\"open", "x,\"a\"\"", "x,\"a\"", "x\r"}) {
        SCOPED_TRACE(tail);
        bool torn = false;
        auto records = ReadInPieces("h1,h2\r\n" + tail, 3, &torn);
        EXPECT_EQ(records, (std::vector<std::vector<std::string>>{{"h1", "h2"}}));
        EXPECT_TRUE(torn);
    }
    std::string huge(CsvReader::kMaxRecord + 10, 'z');
    auto records = ReadInPieces("a\r\n\"" + huge + "\r\n" + huge + "\r\nb,c\r\n", 4096);
    EXPECT_EQ(records, (std::vector<std::vector<std::string>>{{"a"}, {"b", "c"}}));
}

ProductionRecord Sample(RecordResult result, uint32_t id, std::string status = "自动编程已成功完成") {
    ProductionRecord r;
    r.time = LocalTimeAt(DaysFromCivil(2025, 3, 3) * 86400000 + id * 1000, 480);
    r.result = result;
    r.status = std::move(status);
    r.chip = "S3F9454";
    r.codeFile = "C:\\码\\a.hex";
    r.checksum = 0x0E20;
    r.rangeEnd = 0x0FFF;
    if (result == RecordResult::Good) r.idCode = id;
    r.idAddress = 0x0FFD;
    r.successCount = id;
    r.durationMs = 8509;
    r.port = "COM3";
    return r;
}

TEST(RecordFolder, FieldsAreWrittenAsTheColumnsSay) {
    EXPECT_EQ(CsvRecord(RecordFields(Sample(RecordResult::Good, 5001))),
              "2025-03-03T09:23:21+08:00,good,自动编程已成功完成,S3F9454,C:\\码\\a.hex,0E20H,0000H,0FFFH,5001,0FFDH,5001,"
              "0,8509,COM3\r\n");
    ProductionRecord r;
    r.time = LocalTimeAt(DaysFromCivil(2024, 2, 29) * 86400000 - 1, -330);
    EXPECT_EQ(CsvRecord(RecordFields(r)), "2024-02-28T18:29:59-05:30,stopped,,,,,0000H,0000H,,,0,0,0,\r\n");
    EXPECT_EQ(DayFileName(r.time), "2024-02-28.csv");
    EXPECT_EQ(IsoTime(LocalTimeAt(0, 0)), "1970-01-01T00:00:00+00:00");
}

// A power cut tears the last record anywhere; the next record starts on a
// line of its own, every earlier record reads back, and so does the new one.
TEST(RecordFolder, ARecordTornAnywhereHidesNothingBeforeOrAfterIt) {
    const std::string status = "芯片\"A\"失败,\n见\"\"说明";
    const std::string torn = CsvRecord(RecordFields(Sample(RecordResult::Good, 7345, status)));
    struct Cut {
        const char* where;
        size_t keep;  // bytes of the torn record that reached the disk
    };
    const size_t quoted = torn.find('"');
    const size_t doubled = torn.find("\"\"");
    const size_t id = torn.find(",7345,") + 3;
    const Cut cuts[] = {{"after its first byte", 1},
                        {"just inside a quoted text", quoted + 1},
                        {"after a line break inside the text", torn.find('\n') + 1},
                        {"between the quotes of a doubled one", doubled + 1},
                        {"in the middle of the ID code", id},
                        {"before its LF", torn.size() - 1}};
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.where);
        test::TempDir dir;
        {
            RecordFolder folder(dir.File("logs"));
            ASSERT_EQ(folder.Append(Sample(RecordResult::Good, 7001)), RecordKept::Stored);
            ASSERT_EQ(folder.Append(Sample(RecordResult::Bad, 7002, "a, \"b\"")), RecordKept::Stored);
        }
        std::string file = dir.File("logs/2025-03-03.csv"), text;
        ASSERT_TRUE(ReadFileBytes(file, text));
        ASSERT_TRUE(WriteFileReplacing(file, text + torn.substr(0, cut.keep)));

        RecordFolder restarted(dir.File("logs"));
        RecordFolder::LoadSummary loaded = restarted.Load();
        EXPECT_EQ(loaded.records, 2u);
        EXPECT_EQ(loaded.goodIdCodes, 1u);
        ASSERT_EQ(restarted.Append(Sample(RecordResult::Good, 7346)), RecordKept::Stored);

        auto records = test::ReadRecords(file);
        ASSERT_GE(records.size(), 4u);
        EXPECT_EQ(records[1], RecordFields(Sample(RecordResult::Good, 7001)));
        EXPECT_EQ(records[2], RecordFields(Sample(RecordResult::Bad, 7002, "a, \"b\"")));
        EXPECT_EQ(records.back(), RecordFields(Sample(RecordResult::Good, 7346)));
        // Whatever is left of the torn one stands on lines of its own and never
        // reads as a good chip with a cut ID code.
        RecordFolder later(dir.File("logs"));
        later.Load();
        EXPECT_EQ(later.IdCodeOnGoodChip(7001), "2025-03-03");
        EXPECT_EQ(later.IdCodeOnGoodChip(7346), "2025-03-03");
        EXPECT_EQ(later.IdCodeOnGoodChip(73), std::nullopt);
        EXPECT_EQ(later.IdCodeOnGoodChip(7345), cut.keep == torn.size() - 1 ? std::optional<std::string>("2025-03-03")
                                                                              : std::nullopt);
    }
}

TEST(RecordFolder, OnlyGoodChipsOfDayFilesCountAndTheFirstDayIsNamed) {
    test::TempDir dir;
    RecordFolder folder(dir.File("logs"));
    EXPECT_EQ(folder.Load().files, 0u);  // no folder yet
    ProductionRecord late = Sample(RecordResult::Good, 12);
    late.time.day = 9;
    ASSERT_EQ(folder.Append(late), RecordKept::Stored);
    ASSERT_EQ(folder.Append(Sample(RecordResult::Good, 12)), RecordKept::Stored);
    ASSERT_EQ(folder.Append(Sample(RecordResult::Bad, 13)), RecordKept::Stored);
    ProductionRecord written = Sample(RecordResult::Bad, 14);
    written.idCode = 14;  // a chip that got its code and then failed
    ASSERT_EQ(folder.Append(written), RecordKept::Stored);
    // Copies and other files in the folder are not the station's days.
    std::string day;
    ASSERT_TRUE(ReadFileBytes(dir.File("logs/2025-03-03.csv"), day));
    ASSERT_TRUE(WriteFileReplacing(dir.File("logs/2025-03-03 - copy.csv"),
                                   day + CsvRecord(RecordFields(Sample(RecordResult::Good, 15)))));
    ASSERT_TRUE(WriteFileReplacing(dir.File("logs/notes.txt"), "good"));

    RecordFolder restarted(dir.File("logs"));
    RecordFolder::LoadSummary loaded = restarted.Load();
    EXPECT_EQ(loaded.files, 2u);
    EXPECT_EQ(loaded.records, 4u);
    EXPECT_EQ(loaded.goodIdCodes, 2u);  // 12 on two days
    EXPECT_EQ(restarted.IdCodeOnGoodChip(12), "2025-03-03");
    for (uint32_t id : {13u, 14u, 15u}) EXPECT_EQ(restarted.IdCodeOnGoodChip(id), std::nullopt) << id;
    EXPECT_EQ(restarted.Location(), dir.File("logs"));
    ASSERT_EQ(restarted.Append(Sample(RecordResult::Good, 16)), RecordKept::Stored);
    EXPECT_EQ(restarted.Location(), dir.File("logs/2025-03-03.csv"));
    EXPECT_EQ(restarted.IdCodeOnGoodChip(16), "2025-03-03");
}

}  // namespace
}  // namespace veldrix
