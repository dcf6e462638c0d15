// The CSV writer and reader of the production records, the folder's files as
// a power cut, a restart or another program leaves them, records that wait
// for their file, and the ID codes handed out to threads, stores and
// processes sharing one folder.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "code/Csv.h"
#include "platform/headless/VirtualClock.h"
#include "records/MemoryRecords.h"
#include "records/RecordFolder.h"
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
              "0,8509,COM3,,chip\r\n");
    ProductionRecord r;
    r.time = LocalTimeAt(DaysFromCivil(2024, 2, 29) * 86400000 - 1, -330);
    EXPECT_EQ(CsvRecord(RecordFields(r)), "2024-02-28T18:29:59-05:30,stopped,,,,,0000H,0000H,,,0,0,0,,,chip\r\n");
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
        EXPECT_EQ(records[1], test::Unkeyed(RecordFields(Sample(RecordResult::Good, 7001))));
        EXPECT_EQ(records[2], test::Unkeyed(RecordFields(Sample(RecordResult::Bad, 7002, "a, \"b\""))));
        EXPECT_EQ(records.back(), test::Unkeyed(RecordFields(Sample(RecordResult::Good, 7346))));
        // Whatever is left of the torn one stands on lines of its own and never
        // reads as a good chip with a cut ID code.
        RecordFolder later(dir.File("logs"));
        later.Load();
        EXPECT_EQ(later.IdCodeOnGoodChip(7001), "2025-03-03");
        EXPECT_EQ(later.IdCodeOnGoodChip(7346), "2025-03-03");
        EXPECT_EQ(later.IdCodeOnGoodChip(73), std::nullopt);
        // Torn even just before its line end: its last field (the kind) is cut.
        EXPECT_EQ(later.IdCodeOnGoodChip(7345), std::nullopt);
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

// One column of a day file's records.
std::vector<std::string> Column(const std::vector<std::vector<std::string>>& records, int column) {
    std::vector<std::string> out;
    for (size_t i = 1; i < records.size(); ++i) out.push_back(records[i].size() > size_t(column) ? records[i][column] : "");
    return out;
}

std::vector<std::string> PendingFiles(const std::string& folder) {
    std::vector<std::string> names, out;
    ListFiles(folder, names);
    for (const std::string& name : names)
        if (name.rfind("pending-", 0) == 0) out.push_back(name);
    return out;
}

// A spreadsheet holds the day's file, or the folder is gone (a file stands in
// its place); ten records wait, in a pending file in the folder or, with the
// folder gone, in the fallback folder. The next chance stores all ten in
// order: the next append, FlushPending, or a start once their run is gone;
// never a start while their run lives.
TEST(RecordFolder, RecordsThatCannotBeStoredWaitAndAreStoredInOrderAtTheNextChance) {
    struct Block {
        const char* what;
        bool inFallback;  // where the pending file goes
        std::function<void(test::TempDir&)> block, unblock;
    };
    const Block blocks[] = {
        {"the day's file cannot be opened", false,
         [](test::TempDir& d) { std::filesystem::create_directories(d.File("logs/2025-03-03.csv")); },
         [](test::TempDir& d) { std::filesystem::remove(d.File("logs/2025-03-03.csv")); }},
        {"a file where the folder should be", true,
         [](test::TempDir& d) {
             std::filesystem::remove_all(d.File("logs"));
             d.Write("logs", "x");
         },
         [](test::TempDir& d) { std::filesystem::remove(d.File("logs")); }},
    };
    enum Chance { kNextAppend, kFlush, kStartAfterTheRun, kStartDuringTheRun };
    const char* const chances[] = {"the next append", "FlushPending", "a start after the run", "a start during it"};
    const std::vector<std::string> ten{"101", "102", "103", "104", "105", "106", "107", "108", "109", "110"};
    for (const Block& b : blocks) {
        for (Chance chance : {kNextAppend, kFlush, kStartAfterTheRun, kStartDuringTheRun}) {
            SCOPED_TRACE(std::string(b.what) + ", then " + chances[chance]);
            test::TempDir dir;
            const std::string logs = dir.File("logs"), fallback = dir.File("settings");
            auto run = std::make_unique<RecordFolder>(logs, fallback);
            run->Load();
            b.block(dir);
            for (uint32_t id = 101; id <= 110; ++id)
                ASSERT_EQ(run->Append(Sample(id % 3 ? RecordResult::Good : RecordResult::Bad, id)),
                          RecordKept::Pending);
            EXPECT_EQ(PendingFiles(b.inFallback ? fallback : logs).size(), 1u);
            EXPECT_EQ(run->Location(), dir.File("logs/2025-03-03.csv"));
            std::vector<std::string> expected = ten;
            if (chance == kStartAfterTheRun) {
                run.reset();  // it could not store them on its way out
                // Another records folder sharing the fallback folder leaves them be.
                RecordFolder elsewhere(dir.File("other"), fallback);
                elsewhere.Load();
                EXPECT_EQ(PendingFiles(b.inFallback ? fallback : logs).size(), 1u);
                EXPECT_EQ(elsewhere.IdCodeOnGoodChip(101), std::nullopt);
            }
            b.unblock(dir);
            if (chance == kNextAppend) {
                ASSERT_EQ(run->Append(Sample(RecordResult::Good, 111)), RecordKept::Stored);
                expected.push_back("111");
            } else if (chance == kFlush) {
                EXPECT_EQ(run->FlushPending(), RecordKept::Stored);
            } else {
                RecordFolder start(logs, fallback);
                start.Load();
                if (chance == kStartDuringTheRun) {
                    EXPECT_LE(test::ReadRecords(dir.File("logs/2025-03-03.csv")).size(), 1u);
                    EXPECT_EQ(PendingFiles(b.inFallback ? fallback : logs).size(), 1u);
                    EXPECT_EQ(start.IdCodeOnGoodChip(101), std::nullopt);
                    EXPECT_EQ(start.TakeIdCode(101, false).answer, IdGrant::Answer::HeldElsewhere);
                    EXPECT_EQ(run->FlushPending(), RecordKept::Stored);
                    // Seen by the other store without a new start.
                    EXPECT_EQ(start.IdCodeOnGoodChip(101), "2025-03-03");
                }
            }
            auto records = test::ReadRecords(dir.File("logs/2025-03-03.csv"));
            EXPECT_EQ(Column(records, column::kSuccess), expected);
            ASSERT_GE(records.size(), 2u);
            EXPECT_EQ(records[1], test::Unkeyed(RecordFields(Sample(RecordResult::Good, 101))));
            EXPECT_TRUE(PendingFiles(logs).empty());
            EXPECT_TRUE(PendingFiles(fallback).empty());
            RecordFolder later(logs);
            EXPECT_EQ(later.Load().records, expected.size());
            EXPECT_EQ(later.IdCodeOnGoodChip(110), "2025-03-03");
            EXPECT_EQ(later.IdCodeOnGoodChip(102), std::nullopt);  // a bad chip's
            // The good ones' codes are no longer held by anyone.
            EXPECT_EQ(later.TakeIdCode(110, false).answer, IdGrant::Answer::OnGoodChip);
            EXPECT_EQ(later.TakeIdCode(110, true).answer, IdGrant::Answer::Granted);
        }
    }
}

// A run stored the first of its waiting records, then died: a start stores
// only the rest, each in its own day's file, none twice.
TEST(RecordFolder, AStartStoresWhatAGoneRunLeftWaitingAndNothingTwice) {
    test::TempDir dir;
    const std::string logs = dir.File("logs");
    auto on = [](RecordResult result, uint32_t id, int day) {
        ProductionRecord r = Sample(result, id);
        r.time.day = day;
        return r;
    };
    {
        RecordFolder run(logs);
        run.Load();
        std::filesystem::create_directories(dir.File("logs/2025-03-03.csv"));
        ASSERT_EQ(run.Append(on(RecordResult::Good, 1, 3)), RecordKept::Pending);
        ASSERT_EQ(run.Append(on(RecordResult::Good, 2, 4)), RecordKept::Pending);
        ASSERT_EQ(run.Append(on(RecordResult::Bad, 3, 3)), RecordKept::Pending);
        ASSERT_EQ(run.Append(on(RecordResult::Good, 4, 3)), RecordKept::Pending);
        std::filesystem::remove(dir.File("logs/2025-03-03.csv"));
        std::filesystem::create_directories(dir.File("logs/2025-03-04.csv"));
        EXPECT_EQ(run.FlushPending(), RecordKept::Pending);  // the first stored, the second cannot be
    }
    std::filesystem::remove(dir.File("logs/2025-03-04.csv"));
    ASSERT_EQ(PendingFiles(logs).size(), 1u);
    RecordFolder start(logs);
    start.Load();
    EXPECT_TRUE(PendingFiles(logs).empty());
    EXPECT_EQ(Column(test::ReadRecords(dir.File("logs/2025-03-03.csv")), column::kSuccess),
              (std::vector<std::string>{"1", "3", "4"}));
    EXPECT_EQ(Column(test::ReadRecords(dir.File("logs/2025-03-04.csv")), column::kSuccess),
              std::vector<std::string>{"2"});
    // Their codes are on good chips, no longer held by the run that is gone.
    IdGrant four = start.TakeIdCode(4, false);
    EXPECT_EQ(four.answer, IdGrant::Answer::OnGoodChip) << four.problem;
    EXPECT_EQ(four.date, "2025-03-03");
    EXPECT_EQ(start.TakeIdCode(2, true).answer, IdGrant::Answer::Granted);
    RecordFolder again(logs);
    EXPECT_EQ(again.Load().records, 4u);
}

// Neither the folder nor the fallback folder can take a file: no code is
// handed out (the answer says why, in the program's words), the records are
// lost to the disk for now, yet kept, their codes known as on good chips, and
// stored in order once the folder is back.
TEST(RecordFolder, WithNoFolderAtAllNoCodeIsGrantedAndRecordsAreKeptInMemory) {
    test::TempDir dir;
    const std::string logs = dir.Write("logs", "x"), fallback = dir.Write("settings", "x");
    RecordFolder run(logs, fallback);
    run.Load();
    IdGrant refused = run.TakeIdCode(41, false);
    EXPECT_EQ(refused.answer, IdGrant::Answer::Unreachable);
    EXPECT_FALSE(refused.problem.empty());
    EXPECT_EQ(run.IdServerProblem(), refused.problem);
    EXPECT_EQ(run.Append(Sample(RecordResult::Good, 41)), RecordKept::Lost);
    EXPECT_EQ(run.Append(Sample(RecordResult::Bad, 42)), RecordKept::Lost);
    EXPECT_EQ(run.Append(Sample(RecordResult::Good, 43)), RecordKept::Lost);
    EXPECT_EQ(run.FlushPending(), RecordKept::Lost);
    for (uint32_t id : {41u, 43u}) EXPECT_EQ(run.IdCodeOnGoodChip(id), "2025-03-03");

    std::filesystem::remove(logs);
    RecordFolder other(logs);
    other.Load();
    EXPECT_EQ(run.FlushPending(), RecordKept::Stored);
    EXPECT_EQ(run.IdServerProblem(), std::nullopt);
    EXPECT_EQ(Column(test::ReadRecords(dir.File("logs/2025-03-03.csv")), column::kSuccess),
              (std::vector<std::string>{"41", "42", "43"}));
    EXPECT_EQ(other.TakeIdCode(43, false).answer, IdGrant::Answer::OnGoodChip);
    EXPECT_EQ(other.TakeIdCode(42, false).answer, IdGrant::Answer::Granted);
    EXPECT_EQ(run.TakeIdCode(42, false).answer, IdGrant::Answer::HeldElsewhere);
}

// A good record that waits keeps its code held for every other store, and
// taken in its own: no store hands it out before the record is stored.
TEST(RecordFolder, AGoodRecordsCodeStaysTakenWhileItsRecordWaits) {
    test::TempDir dir;
    const std::string logs = dir.File("logs");
    RecordFolder run(logs), other(logs);
    run.Load();
    other.Load();
    ASSERT_EQ(run.TakeIdCode(7, false).answer, IdGrant::Answer::Granted);
    std::filesystem::create_directories(dir.File("logs/2025-03-03.csv"));
    ASSERT_EQ(run.Append(Sample(RecordResult::Good, 7)), RecordKept::Pending);
    run.GiveBackIdCode(7);  // the record waits: the code is not free
    EXPECT_EQ(run.TakeIdCode(7, false).answer, IdGrant::Answer::OnGoodChip);
    EXPECT_EQ(other.TakeIdCode(7, false).answer, IdGrant::Answer::HeldElsewhere);
    EXPECT_EQ(other.TakeIdCode(7, true).answer, IdGrant::Answer::HeldElsewhere);
    RecordFolder started(logs);
    started.Load();
    EXPECT_EQ(started.TakeIdCode(7, true).answer, IdGrant::Answer::HeldElsewhere);
    std::filesystem::remove(dir.File("logs/2025-03-03.csv"));
    ASSERT_EQ(run.FlushPending(), RecordKept::Stored);
    EXPECT_EQ(other.TakeIdCode(7, false).answer, IdGrant::Answer::OnGoodChip);
    EXPECT_EQ(started.TakeIdCode(7, true).answer, IdGrant::Answer::Granted);
}

// The rules of handing out codes, the same in a folder and in memory.
TEST(RecordFolder, CodesAreHandedOutByOneRuleInAFolderAndInMemory) {
    test::TempDir dir;
    RecordFolder folder(dir.File("logs"));
    MemoryRecords memory;
    for (ProductionRecords* store : std::vector<ProductionRecords*>{&folder, &memory}) {
        SCOPED_TRACE(store == &folder ? "folder" : "memory");
        using A = IdGrant::Answer;
        EXPECT_EQ(store->TakeIdCode(5, false).answer, A::Granted);
        EXPECT_EQ(store->TakeIdCode(5, false).answer, A::HeldElsewhere);  // another unit of this run
        EXPECT_EQ(store->TakeIdCode(5, true).answer, A::HeldElsewhere);
        store->GiveBackIdCode(5);
        EXPECT_EQ(store->TakeIdCode(5, false).answer, A::Granted);
        EXPECT_EQ(store->Append(Sample(RecordResult::Good, 5)), RecordKept::Stored);
        EXPECT_EQ(store->IdCodeOnGoodChip(5), "2025-03-03");
        IdGrant good = store->TakeIdCode(5, false);
        EXPECT_EQ(good.answer, A::OnGoodChip);
        EXPECT_EQ(good.date, "2025-03-03");
        EXPECT_EQ(store->TakeIdCode(5, true).answer, A::Granted);  // written again on purpose
        EXPECT_EQ(store->TakeIdCode(5, true).answer, A::HeldElsewhere);
        ProductionRecord later = Sample(RecordResult::Good, 5);
        later.time.day = 4;
        EXPECT_EQ(store->Append(later), RecordKept::Stored);
        EXPECT_EQ(store->IdCodeOnGoodChip(5), "2025-03-03");  // the first day stays
        ProductionRecord failed = Sample(RecordResult::Bad, 6);
        failed.idCode = 6;
        EXPECT_EQ(store->TakeIdCode(6, false).answer, A::Granted);
        EXPECT_EQ(store->Append(failed), RecordKept::Stored);
        EXPECT_EQ(store->IdCodeOnGoodChip(6), std::nullopt);
        EXPECT_EQ(store->TakeIdCode(6, false).answer, A::HeldElsewhere);  // until given back
        store->GiveBackIdCode(6);
        EXPECT_EQ(store->TakeIdCode(6, false).answer, A::Granted);
    }
}

// Two stores on one folder (the window and the command line) see each
// other's holds and good chips without a new start; a run that died keeps its
// codes held.
TEST(RecordFolder, StoresOnOneFolderSeeEachOthersCodes) {
    test::TempDir dir;
    const std::string logs = dir.File("logs");
    RecordFolder a(logs), b(logs);
    a.Load();
    b.Load();
    using A = IdGrant::Answer;
    EXPECT_EQ(a.TakeIdCode(7, false).answer, A::Granted);
    EXPECT_EQ(b.TakeIdCode(7, false).answer, A::HeldElsewhere);
    EXPECT_EQ(b.TakeIdCode(7, true).answer, A::HeldElsewhere);
    a.GiveBackIdCode(7);
    EXPECT_EQ(b.TakeIdCode(7, false).answer, A::Granted);
    EXPECT_EQ(a.TakeIdCode(7, false).answer, A::HeldElsewhere);
    ASSERT_EQ(b.Append(Sample(RecordResult::Good, 7)), RecordKept::Stored);
    EXPECT_EQ(a.IdCodeOnGoodChip(7), "2025-03-03");
    EXPECT_EQ(a.TakeIdCode(7, false).date, "2025-03-03");
    EXPECT_EQ(a.TakeIdCode(8, false).answer, A::Granted);
    {
        RecordFolder dies(logs);
        EXPECT_EQ(dies.TakeIdCode(9, false).answer, A::Granted);
    }  // without giving it back: its chip may carry it
    for (int i = 0; i < 2; ++i) {
        RecordFolder started(logs);
        started.Load();
        EXPECT_EQ(started.TakeIdCode(9, true).answer, A::HeldElsewhere);
        EXPECT_EQ(started.TakeIdCode(8, false).answer, A::HeldElsewhere);
        EXPECT_EQ(started.TakeIdCode(7, false).answer, A::OnGoodChip);
        EXPECT_EQ(a.TakeIdCode(9, false).answer, A::HeldElsewhere);
    }
    // A good record written by hand, or by a program without the lock, is
    // found at the next start.
    std::ofstream(dir.File("logs/2025-03-04.csv"), std::ios::binary)
        << "\xEF\xBB\xBF" << kRecordHeader << "\r\n" << CsvRecord(RecordFields(Sample(RecordResult::Good, 12)));
    RecordFolder started(logs);
    started.Load();
    EXPECT_EQ(started.TakeIdCode(12, false).answer, A::OnGoodChip);
}

// The held codes' file grows by a line a change; once long it is written anew
// with only the codes still held, those of runs that are gone among them.
TEST(RecordFolder, TheHeldCodesFileIsWrittenAnewWithTheCodesStillHeld) {
    test::TempDir dir;
    std::string held = "\xEF\xBB\xBFID码,占用者,时间,状态\r\n";
    for (uint32_t code = 1000; held.size() < 70000; ++code)
        for (const char* state : {"held", "free"})
            held += CsvRecord({std::to_string(code), "PC2-77-20250303000000-abcdef", "2025-03-03T00:00:00+00:00", state});
    held += CsvRecord({"777", "PC2-77-20250303000000-abcdef", "2025-03-03T00:00:00+00:00", "held"});
    std::filesystem::create_directories(dir.File("logs"));
    dir.Write("logs/id-held.csv", held);
    RecordFolder run(dir.File("logs"));
    run.Load();
    EXPECT_EQ(run.TakeIdCode(777, true).answer, IdGrant::Answer::HeldElsewhere);
    EXPECT_EQ(run.TakeIdCode(1000, false).answer, IdGrant::Answer::Granted);
    std::string now;
    ASSERT_TRUE(ReadFileBytes(dir.File("logs/id-held.csv"), now));
    EXPECT_LT(now.size(), 1000u);
    RecordFolder started(dir.File("logs"));
    started.Load();
    EXPECT_EQ(started.TakeIdCode(777, true).answer, IdGrant::Answer::HeldElsewhere);
    EXPECT_EQ(started.TakeIdCode(1000, false).answer, IdGrant::Answer::HeldElsewhere);
    EXPECT_EQ(started.TakeIdCode(1001, false).answer, IdGrant::Answer::Granted);
}

// Every code taken is confirmed by a good record; whoever gets it, no code is
// handed out twice.
void TakeAndConfirm(ProductionRecords& store, uint32_t codes, std::vector<uint32_t>& granted) {
    for (uint32_t code = 1; code <= codes; ++code) {
        if (store.TakeIdCode(code, false).answer != IdGrant::Answer::Granted) continue;
        granted.push_back(code);
        if (store.Append(Sample(RecordResult::Good, code)) != RecordKept::Stored) return;
    }
}

void ExpectEachCodeOnce(const std::string& logs, std::vector<uint32_t> granted, uint32_t codes) {
    std::sort(granted.begin(), granted.end());
    std::vector<uint32_t> all(codes);
    for (uint32_t i = 0; i < codes; ++i) all[i] = i + 1;
    EXPECT_EQ(granted, all);
    auto ids = Column(test::ReadRecords(logs + "/2025-03-03.csv"), column::kIdCode);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    EXPECT_EQ(ids.size(), size_t(codes));
}

TEST(RecordFolder, ThreadsAndStoresOnOneFolderNeverGetOneCodeTwice) {
    test::TempDir dir;
    const std::string logs = dir.File("logs");
    RecordFolder a(logs), b(logs);
    a.Load();
    b.Load();
    constexpr uint32_t kCodes = 150;
    std::vector<std::vector<uint32_t>> granted(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < granted.size(); ++t)
        threads.emplace_back([&, t] { TakeAndConfirm(t % 2 ? b : a, kCodes, granted[t]); });
    for (std::thread& t : threads) t.join();
    std::vector<uint32_t> all;
    for (const auto& g : granted) all.insert(all.end(), g.begin(), g.end());
    ExpectEachCodeOnce(logs, all, kCodes);
}

// The lock is one of open files: a child process with a store of its own
// competes with its parent for every code.
TEST(RecordFolder, ProcessesOnOneFolderNeverGetOneCodeTwice) {
    test::TempDir dir;
    const std::string logs = dir.File("logs"), childList = dir.File("child.txt");
    std::filesystem::create_directories(logs);
    constexpr uint32_t kCodes = 300;
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::vector<uint32_t> granted;
        {
            RecordFolder store(logs);
            store.Load();
            TakeAndConfirm(store, kCodes, granted);
        }
        std::ofstream out(childList);
        for (uint32_t code : granted) out << code << "\n";
        out.close();
        ::_exit(out ? 0 : 1);
    }
    std::vector<uint32_t> granted;
    {
        RecordFolder store(logs);
        store.Load();
        TakeAndConfirm(store, kCodes, granted);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::ifstream in(childList);
    size_t mine = granted.size();
    for (uint32_t code; in >> code;) granted.push_back(code);
    EXPECT_GT(mine, 0u);
    EXPECT_LT(mine, granted.size());  // the child got codes too
    ExpectEachCodeOnce(logs, granted, kCodes);
}

// Every record carries a key: a run killed after its pending records
// reached their day file but before its pending file said so, or a pending
// file that cannot be deleted, never stores a record twice.
TEST(RecordFolder, ARecordIsStoredOnceByItsKeyWhateverThePendingFileSays) {
    test::TempDir dir;
    const std::string logs = dir.File("logs");
    std::string copy, path;
    {
        RecordFolder run(logs);
        run.Load();
        std::filesystem::create_directories(dir.File("logs/2025-03-03.csv"));
        ASSERT_EQ(run.Append(Sample(RecordResult::Good, 21)), RecordKept::Pending);
        ASSERT_EQ(run.Append(Sample(RecordResult::Bad, 22)), RecordKept::Pending);
        ASSERT_EQ(PendingFiles(logs).size(), 1u);
        path = logs + "/" + PendingFiles(logs)[0];
        ASSERT_TRUE(ReadFileBytes(path, copy));
        std::filesystem::remove(dir.File("logs/2025-03-03.csv"));
        ASSERT_EQ(run.FlushPending(), RecordKept::Stored);
    }
    // The pending file as the killed run left it, without its mark.
    ASSERT_TRUE(WriteFileReplacing(path, copy));
    for (int start = 0; start < 2; ++start) {
        RecordFolder again(logs);
        EXPECT_EQ(again.Load().records, 2u);
        EXPECT_TRUE(PendingFiles(logs).empty());
        ASSERT_TRUE(WriteFileReplacing(path, copy));  // deleted, it came back (a scanner held it)
    }
    auto records = test::ReadRecordsWithKeys(dir.File("logs/2025-03-03.csv"));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_NE(records[1][column::kKey], records[2][column::kKey]);
    EXPECT_EQ(records[1][column::kKey].rfind(RecordFolder(logs).RunName(), 0), std::string::npos);
}

// No code is granted unless its hold reached id-held.csv, nor by a store
// that could not read what others wrote there: the answer is Unreachable,
// and once the file reads again the other's hold is seen.
TEST(RecordFolder, NoCodeWithoutADurableHoldOrAWholeReading) {
    test::TempDir dir;
    const std::string logs = dir.File("logs"), held = dir.File("logs/id-held.csv");
    RecordFolder a(logs), b(logs);
    a.Load();
    b.Load();
    ASSERT_EQ(a.TakeIdCode(300, false).answer, IdGrant::Answer::Granted);
    std::filesystem::rename(held, dir.File("held.csv"));
    std::filesystem::create_directories(held);  // neither readable nor writable
    IdGrant blind = b.TakeIdCode(300, false);
    EXPECT_EQ(blind.answer, IdGrant::Answer::Unreachable);
    EXPECT_FALSE(blind.problem.empty());
    EXPECT_EQ(b.TakeIdCode(301, false).answer, IdGrant::Answer::Unreachable);
    EXPECT_TRUE(b.IdServerProblem().has_value());
    std::filesystem::remove(held);
    std::filesystem::rename(dir.File("held.csv"), held);
    EXPECT_EQ(b.TakeIdCode(300, false).answer, IdGrant::Answer::HeldElsewhere);
    EXPECT_EQ(b.TakeIdCode(301, false).answer, IdGrant::Answer::Granted);
    EXPECT_EQ(a.TakeIdCode(301, false).answer, IdGrant::Answer::HeldElsewhere);
    EXPECT_EQ(b.IdServerProblem(), std::nullopt);
}

// A holder of the lock that never lets go (a PC that died on a share) stops
// no one for longer than the deadline: the answer is then Unreachable.
TEST(RecordFolder, TheLockIsWaitedForTenSecondsAtMost) {
    test::TempDir dir;
    const std::string logs = dir.File("logs");
    VirtualClock clock;
    RecordFolder store(logs, "", &clock);
    store.Load();
    FileLock dead;
    ASSERT_TRUE(dead.TryLock(logs + "/veldrix.lock"));
    const uint64_t before = clock.NowMs();
    IdGrant grant = store.TakeIdCode(5, false);
    EXPECT_EQ(grant.answer, IdGrant::Answer::Unreachable);
    EXPECT_NE(grant.problem.find("veldrix.lock"), std::string::npos);
    EXPECT_GE(clock.NowMs() - before, kFolderLockWaitMs);
    EXPECT_LT(clock.NowMs() - before, kFolderLockWaitMs + 100);
    dead.Close();
    EXPECT_EQ(store.TakeIdCode(5, false).answer, IdGrant::Answer::Granted);
}

// Only a whole record with at least the columns its file's header names
// counts: a line a power cut shortened never makes its code a good chip's,
// also after the next record mended its end; a later version's file with more
// columns still reads, and takes this version's records.
TEST(RecordFolder, ARecordCountsWithAllTheColumnsItsHeaderNames) {
    const std::string good = CsvRecord(RecordFields(Sample(RecordResult::Good, 5001)));
    const std::string header = std::string("\xEF\xBB\xBF") + kRecordHeader + "\r\n";
    const std::string wider = std::string("\xEF\xBB\xBF") + kRecordHeader + ",工位,批号\r\n";
    auto widened = [](std::string line) { return line.insert(line.size() - 2, ",3,B7"); };
    struct Case {
        const char* what;
        std::string text;
        std::optional<std::string> day5001;
        size_t records;
    };
    const Case cases[] = {
        {"whole", header + good, "2025-03-03", 1},
        {"cut after the ID code, line end added by hand", header + good.substr(0, good.find(",0FFDH")) + "\r\n",
         std::nullopt, 0},
        {"cut after the ID code's first digits", header + good.substr(0, good.find("5001,") + 2) + "\r\n",
         std::nullopt, 0},
        {"sixteen columns", wider + widened(good), "2025-03-03", 1},
        {"fourteen under a header of sixteen", wider + good, std::nullopt, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        dir.Write("2025-03-03.csv", c.text);
        RecordFolder folder(dir.Path().string());
        EXPECT_EQ(folder.Load().records, c.records);
        EXPECT_EQ(folder.IdCodeOnGoodChip(5001), c.day5001);
        EXPECT_EQ(folder.IdCodeOnGoodChip(50), std::nullopt);
        // The next record lands whole, with as many columns as the header names.
        ASSERT_EQ(folder.Append(Sample(RecordResult::Good, 6001)), RecordKept::Stored);
        RecordFolder later(dir.Path().string());
        EXPECT_EQ(later.Load().records, c.records + 1);
        EXPECT_EQ(later.IdCodeOnGoodChip(6001), "2025-03-03");
        EXPECT_EQ(later.IdCodeOnGoodChip(5001), c.day5001);
    }
    // A good record torn in its ID code, mended by another store's append: the
    // store loaded before reads the mended line as it catches up, and does not
    // count it.
    test::TempDir dir;
    dir.Write("2025-03-03.csv", header + good.substr(0, good.find("5001,") + 2));
    RecordFolder before(dir.Path().string()), writer(dir.Path().string());
    before.Load();
    writer.Load();
    ASSERT_EQ(writer.Append(Sample(RecordResult::Good, 6001)), RecordKept::Stored);
    EXPECT_EQ(before.IdCodeOnGoodChip(6001), "2025-03-03");
    EXPECT_EQ(before.IdCodeOnGoodChip(50), std::nullopt);
    EXPECT_EQ(before.TakeIdCode(50, false).answer, IdGrant::Answer::Granted);
}

}  // namespace
}  // namespace veldrix
