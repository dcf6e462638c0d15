// The database store against real servers: a private PostgreSQL that
// tests/odbc/run-store-tests.sh starts (VELDRIX_TEST_PG: its connection
// string), and SQLite through its ODBC driver, which
// keeps the SQL portable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "records/RecordFolder.h"
#include "platform/odbc/Odbc.h"
#include "platform/odbc/OdbcReader.h"
#include "platform/odbc/OdbcRecords.h"
#include "platform/odbc/OdbcSource.h"
#include "report/Report.h"

namespace veldrix {
namespace {

namespace fs = std::filesystem;

const char* Env(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

ProductionRecord Sample(RecordResult result, std::optional<uint32_t> id, int second = 0) {
    ProductionRecord r;
    r.time = {2025, 3, 3, 8, 0, second, 0, 480};
    r.result = result;
    r.status = result == RecordResult::Good ? "自动编程已成功完成" : "芯片不空, 在地址: 00000";
    r.chip = "S3C9454";
    r.codeFile = "data/admin_code.bin";
    r.checksum = 0xFF00;
    r.rangeEnd = 0x1FF;
    r.idCode = id;
    r.idAddress = 0x0FF0;
    r.successCount = 1;
    r.durationMs = 2562;
    r.port = "COM1";
    return r;
}

std::vector<std::vector<std::string>> Records(const std::string& connection) {
    std::vector<std::vector<std::string>> rows;
    std::string problem;
    EXPECT_TRUE(ReadOdbcRecords(connection, [&](const std::vector<std::string>& f) { rows.push_back(f); }, problem))
        << problem;
    return rows;
}

std::map<uint32_t, OdbcIdCode> Codes(const std::string& connection) {
    std::vector<OdbcIdCode> list;
    std::string problem;
    EXPECT_TRUE(ReadOdbcIdCodes(connection, list, problem)) << problem;
    std::map<uint32_t, OdbcIdCode> codes;
    for (const OdbcIdCode& c : list) codes[c.code] = c;
    return codes;
}

class OdbcStore : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        work_ = fs::temp_directory_path() /
                ("veldrix-odbc-" + GetParam() + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(work_);
        fs::create_directories(work_ / "db");
        if (GetParam() == "postgresql") {
            const char* pg = Env("VELDRIX_TEST_PG");
            if (!pg) GTEST_SKIP() << "VELDRIX_TEST_PG not set: tests/odbc/run-store-tests.sh starts a server";
            connection_ = pg;
            // A fresh pair of tables for each test.
            odbc::Connection db(connection_);
            ASSERT_TRUE(db.Connect()) << db.Last().message;
            for (const char* table : {kOdbcRecordsTable, kOdbcIdTable}) {
                if (db.Run(std::string("DROP TABLE ") + table)) db.Commit();
                else db.Rollback();
            }
        } else {
            connection_ = "Driver=SQLite3;Database=" + (work_ / "db" / "records.db").string() + ";";
        }
    }
    void TearDown() override { fs::remove_all(work_); }

    OdbcPlace Place(const std::string& station, const std::string& connection = "") {
        return {connection.empty() ? connection_ : connection, "产线数据库", (work_ / "state").string(), station, "3.10"};
    }
    std::vector<std::string> PendingFiles() {
        std::vector<std::string> names;
        if (fs::exists(work_ / "state"))
            for (const auto& e : fs::directory_iterator(work_ / "state")) names.push_back(e.path().filename().string());
        return names;
    }

    fs::path work_;
    std::string connection_;
};

// Tables made on first use; a record goes in whole, with the station and the
// version; values that would break SQL text go in as they are.
TEST_P(OdbcStore, MakesItsTablesAndStoresRecordsWhole) {
    OdbcRecords store(Place("线体-PC1"));
    EXPECT_EQ(store.Open(), "");
    ProductionRecord hostile = Sample(RecordResult::Bad, std::nullopt, 1);
    hostile.codeFile = "x'); DROP TABLE veldrix_records; --\"a;b\".hex";
    hostile.status = std::string(600, 'x');  // longer than its column: cut, not refused
    EXPECT_EQ(store.Append(Sample(RecordResult::Good, 5001)), RecordKept::Stored);
    EXPECT_EQ(store.Append(hostile), RecordKept::Stored);
    EXPECT_EQ(store.Location(), "产线数据库");

    auto rows = Records(connection_);
    ASSERT_EQ(rows.size(), 2u);
    // Under its run's key, of the kind it is.
    std::vector<std::string> expected = RecordFields(Sample(RecordResult::Good, 5001), store.RunName() + "-0000000001");
    expected.push_back("线体-PC1");
    expected.push_back("3.10");
    EXPECT_EQ(rows[0], expected);
    EXPECT_EQ(rows[1][column::kCodeFile], hostile.codeFile);
    EXPECT_EQ(rows[1][column::kStatus], std::string(400, 'x'));
    EXPECT_EQ(rows[1][column::kIdCode], "");
    auto codes = Codes(connection_);
    ASSERT_EQ(codes.count(5001), 1u);
    EXPECT_EQ(codes[5001].state, "good");
    EXPECT_EQ(codes[5001].idAddress, "0FF0H");

    // A second start finds the tables there.
    OdbcRecords again(Place("PC2"));
    EXPECT_EQ(again.Open(), "");
    EXPECT_EQ(again.Append(Sample(RecordResult::Bad, std::nullopt, 2)), RecordKept::Stored);
    EXPECT_EQ(Records(connection_).size(), 3u);
}

// Two stations on one series: a code is held by one at a time, a good chip's
// code is asked about, a rework gives the good chip's row back when it fails,
// a code given back goes to the next asker, and one a station took and never
// confirmed stays taken.
TEST_P(OdbcStore, HandsOutEachCodeToOneStation) {
    OdbcRecords a(Place("PC1")), b(Place("PC2"));
    ASSERT_EQ(a.Open(), "");
    ASSERT_EQ(b.Open(), "");
    using A = IdGrant::Answer;
    EXPECT_EQ(a.TakeIdCode(5, false).answer, A::Granted);
    IdGrant held = b.TakeIdCode(5, false);
    EXPECT_EQ(held.answer, A::HeldElsewhere) << held.problem;
    EXPECT_EQ(a.TakeIdCode(5, false).answer, A::HeldElsewhere);  // a second unit of the same run
    EXPECT_EQ(a.Append(Sample(RecordResult::Good, 5)), RecordKept::Stored);
    IdGrant onGood = b.TakeIdCode(5, false);
    EXPECT_EQ(onGood.answer, A::OnGoodChip);
    EXPECT_EQ(onGood.date, "2025-03-03");
    EXPECT_EQ(b.IdCodeOnGoodChip(5), "2025-03-03");
    EXPECT_EQ(b.IdCodeOnGoodChip(6), std::nullopt);

    // A rework on PC2 that fails: the code is a good chip's again, PC1's.
    EXPECT_EQ(b.TakeIdCode(5, true).answer, A::Granted);
    EXPECT_EQ(a.TakeIdCode(5, true).answer, A::HeldElsewhere);
    b.GiveBackIdCode(5);
    EXPECT_EQ(Codes(connection_)[5].state, "good");
    EXPECT_EQ(Codes(connection_)[5].station, "PC1");
    EXPECT_EQ(a.TakeIdCode(5, false).answer, A::OnGoodChip);

    EXPECT_EQ(a.TakeIdCode(6, false).answer, A::Granted);
    a.GiveBackIdCode(6);
    EXPECT_EQ(b.TakeIdCode(6, false).answer, A::Granted);
    {
        OdbcRecords lost(Place("PC3"));  // loses its power with code 7 in a chip
        ASSERT_EQ(lost.TakeIdCode(7, false).answer, A::Granted);
    }
    EXPECT_EQ(a.TakeIdCode(7, false).answer, A::HeldElsewhere);
    auto codes = Codes(connection_);
    EXPECT_EQ(codes[7].state, "taken");
    EXPECT_EQ(codes[7].station, "PC3");
    EXPECT_EQ(codes[6].station, "PC2");
}

// The report reads what the stations stored: their records by station, the
// period asked, and the codes taken and never confirmed.
TEST_P(OdbcStore, TheReportReadsTheLinesRecordsAndItsCodesLeftTaken) {
    OdbcRecords a(Place("PC1")), b(Place("PC2"));
    ASSERT_EQ(a.Open(), "");
    ASSERT_EQ(b.Open(), "");
    ASSERT_EQ(a.TakeIdCode(5, false).answer, IdGrant::Answer::Granted);
    EXPECT_EQ(a.Append(Sample(RecordResult::Good, 5)), RecordKept::Stored);
    ProductionRecord failed = Sample(RecordResult::Bad, std::nullopt, 1);
    failed.time.day = 4;
    failed.status = "芯片不空, 在地址: 00010";
    EXPECT_EQ(b.Append(failed), RecordKept::Stored);
    ASSERT_EQ(b.TakeIdCode(6, false).answer, IdGrant::Answer::Granted);  // its chip never ended

    OdbcSource source(connection_, "产线数据库");
    ReportFigures all;
    ASSERT_TRUE(BuildReport(source, {}, all)) << source.Problem();
    EXPECT_EQ(all.source.database, "产线数据库");
    EXPECT_EQ(all.total.good, 1u);
    EXPECT_EQ(all.total.bad, 1u);
    EXPECT_EQ(all.firstDate, "2025-03-03");
    EXPECT_EQ(all.lastDate, "2025-03-04");
    ASSERT_EQ(all.stations.size(), 2u);
    EXPECT_EQ(all.stations[0].counts.Records() + all.stations[1].counts.Records(), 2u);
    ASSERT_EQ(all.idRanges.size(), 1u);
    EXPECT_EQ(all.idRanges[0].first, 5u);
    ASSERT_EQ(all.held.size(), 1u);
    EXPECT_EQ(all.held[0].code, 6u);
    EXPECT_NE(all.held[0].holder.find("PC2"), std::string::npos);
    ASSERT_EQ(all.failures.size(), 1u);
    EXPECT_EQ(all.failures[0].text, "芯片不空, 在地址: …");

    ReportFigures fourth;
    ASSERT_TRUE(BuildReport(source, {"2025-03-04", "2025-03-04"}, fourth));
    EXPECT_EQ(fourth.total.good, 0u);
    EXPECT_EQ(fourth.total.bad, 1u);

    OdbcSource away("Driver=SQLite3;Database=" + (work_ / "none" / "x.db").string() + ";Pwd=sekret-77;", "别处");
    ReportFigures none;
    EXPECT_FALSE(BuildReport(away, {}, none));
    EXPECT_EQ(away.Problem().find("sekret-77"), std::string::npos);
}

// A server that cannot be reached: no code, the reason without the password;
// records wait in the pending file in order and go in when it answers, also
// from a later start when the run that kept them is gone.
TEST_P(OdbcStore, RecordsWaitWhileTheServerIsAway) {
    std::string away;
    if (GetParam() == "postgresql")
        away = connection_ + ";Port=1;Pwd=sekret-77;";  // a port nobody listens on
    else
        away = "Driver=SQLite3;Database=" + (work_ / "later" / "records.db").string() + ";Pwd=sekret-77;";
    {
        OdbcRecords store(Place("PC1", away));
        EXPECT_NE(store.Open(), "");
        IdGrant grant = store.TakeIdCode(1, false);
        EXPECT_EQ(grant.answer, IdGrant::Answer::Unreachable);
        EXPECT_FALSE(grant.problem.empty());
        EXPECT_EQ(grant.problem.find("sekret-77"), std::string::npos) << grant.problem;
        std::optional<std::string> before = store.IdServerProblem();  // asked before the chip
        ASSERT_TRUE(before);
        EXPECT_EQ(before->find("sekret-77"), std::string::npos) << *before;
        EXPECT_EQ(store.Append(Sample(RecordResult::Bad, std::nullopt, 1)), RecordKept::Pending);
        EXPECT_EQ(store.Append(Sample(RecordResult::Bad, std::nullopt, 2)), RecordKept::Pending);
        EXPECT_EQ(PendingFiles().size(), 1u);
        EXPECT_EQ(store.FlushPending(), RecordKept::Pending);
    }
    ASSERT_EQ(PendingFiles().size(), 1u);  // its run is gone; the file stays for the next start
    // The same data source, answering now.
    std::string back = GetParam() == "postgresql" ? connection_ : away;
    if (GetParam() != "postgresql") fs::create_directories(work_ / "later");
    OdbcRecords next(Place("PC1", back));
    EXPECT_EQ(next.Open(), "");
    EXPECT_EQ(next.IdServerProblem(), std::nullopt);
    EXPECT_TRUE(PendingFiles().empty());
    auto rows = Records(back);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][column::kTime], "2025-03-03T08:00:01+08:00");
    EXPECT_EQ(rows[1][column::kTime], "2025-03-03T08:00:02+08:00");
}

// The role the README gives a line may read and write the two tables, and
// nothing more.
TEST_P(OdbcStore, ALineRoleReadsAndWritesOnlyItsTables) {
    if (GetParam() != "postgresql") GTEST_SKIP() << "roles are the server's";
    {
        OdbcRecords owner(Place("admin"));
        ASSERT_EQ(owner.Open(), "");
    }
    odbc::Connection admin(connection_);
    ASSERT_TRUE(admin.Connect());
    for (const char* sql : {"DROP ROLE IF EXISTS veldrix_line",
                            "CREATE ROLE veldrix_line LOGIN PASSWORD 'choose-one'",
                            "GRANT SELECT, INSERT, UPDATE, DELETE ON veldrix_records, veldrix_id_codes TO veldrix_line"})
        ASSERT_TRUE(admin.Run(sql) && admin.Commit()) << sql << ": " << admin.Last().message;
    std::string line = connection_;
    line.replace(line.find("UID=veldrix;"), 12, "UID=veldrix_line;PWD=choose-one;");
    OdbcRecords station(Place("PC1", line));
    EXPECT_EQ(station.Open(), "");
    EXPECT_EQ(station.TakeIdCode(9, false).answer, IdGrant::Answer::Granted);
    EXPECT_EQ(station.Append(Sample(RecordResult::Good, 9)), RecordKept::Stored);
    EXPECT_EQ(Codes(connection_)[9].state, "good");
    odbc::Connection limited(line);
    ASSERT_TRUE(limited.Connect());
    EXPECT_FALSE(limited.Run("CREATE TABLE veldrix_other (a INTEGER)"));
}

TEST(OdbcSecrets, PasswordsNeverShow) {
    const std::string connection = "Driver={PostgreSQL Unicode};Server=db1;UID=line;PWD={p;w=d!};";
    EXPECT_EQ(odbc::WithoutSecrets("connect failed for Server=db1;UID=line;PWD={p;w=d!};", connection),
              "connect failed for Server=db1;UID=line;PWD=***;");
    EXPECT_EQ(odbc::WithoutSecrets("password=hunter22 rejected; Password='abc'", "UID=x;Password=hunter22"),
              "password=*** rejected; Password=***");
    EXPECT_EQ(odbc::WithoutSecrets("user x: wrong hunter22", "UID=x;Password=hunter22"), "user x: wrong ***");
    EXPECT_EQ(odbc::DsnConnection("线体1"), "DSN=线体1;");
    // The program key's value: a data source name or a connection string,
    // named in texts by what is no secret.
    struct Row {
        const char* value;
        const char* connection;
        const char* name;
    };
    for (const Row& r : {Row{"线体1", "DSN=线体1;", "线体1"},
                         Row{"DSN=线体2;UID=line;PWD=x;", "DSN=线体2;UID=line;PWD=x;", "线体2"},
                         Row{"Driver={PostgreSQL Unicode};Server=db1;Database=line3;PWD={a;Database=b}",
                             "Driver={PostgreSQL Unicode};Server=db1;Database=line3;PWD={a;Database=b}", "line3@db1"},
                         Row{"Driver=SQLite3;database=/srv/r.db;", "Driver=SQLite3;database=/srv/r.db;", "/srv/r.db"},
                         Row{"Driver=X;UID=u;PWD=secret", "Driver=X;UID=u;PWD=secret", "records_odbc"}}) {
        EXPECT_EQ(odbc::ConnectionOf(r.value), r.connection) << r.value;
        EXPECT_EQ(odbc::SourceName(r.value), r.name) << r.value;
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, OdbcStore, ::testing::Values("postgresql", "sqlite"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace veldrix
