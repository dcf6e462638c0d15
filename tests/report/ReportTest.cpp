// The production report: a records folder with known figures (three days,
// two ports, stations in a newer file, failures with addresses, a torn line
// at the end of one file and a mended one inside another, a pending file
// with a record already stored, held codes) read back as JSON and as the
// page's tables.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "code/Csv.h"
#include "records/RecordFolder.h"
#include "report/FolderSource.h"
#include "report/Report.h"
#include "report/ReportTally.h"

namespace veldrix {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const std::string kBom = "\xEF\xBB\xBF";
// The files of a version before records had a key and a kind: they still read.
const std::string kOldHeader = std::string(kRecordHeader).substr(0, std::string(kRecordHeader).find(",记录号"));
const std::string kScript = "<script>alert(1)</script>.hex";

std::string Record(const std::string& time, const std::string& result, const std::string& status,
                   const std::string& id, const std::string& ms, const std::string& port,
                   const std::string& chip = "S3C9454", const std::string& file = "data/a.bin",
                   const std::string& sum = "FF00H") {
    return CsvRecord({"2025-03-0" + time + "+08:00", result, status, chip, file, sum, "0000H", "01FFH", id, "0FF0H",
                      "0", "0", ms, port});
}

struct Folder {
    fs::path dir = fs::temp_directory_path() / ("veldrix-report-test-" + std::to_string(::getpid()));
    Folder() {
        fs::create_directories(dir);
        const std::string header = kBom + kOldHeader + "\r\n";
        Write("2025-03-03.csv",
              header + Record("3T08:00:05", "good", "自动编程已成功完成", "5001", "2000", "COM1") +
                  Record("3T08:10:00", "good", "自动编程已成功完成", "5002", "3000", "COM1") +
                  Record("3T08:20:00", "bad", "芯片不空, 在地址: 00000", "", "2500", "COM1") +
                  Record("3T09:00:00", "bad", "芯片不空, 在地址: 00010", "", "2600", "COM2") +
                  Record("3T09:05:00", "link", "编程器连接错误,编程器可能正忙,请稍候再试!", "", "656", "COM2") +
                  Record("3T09:06:00", "good", "自动编程已成功完成", "5004", "4000", "COM2", "S3F9454", kScript,
                         "1234H") +
                  // A power cut: the last record never got its line end.
                  "2025-03-03T09:30:00+08:00,good,自动编程已成功完成,S3C9454,data/a.bin,FF00H,0000H,01FFH,5010");
        // A newer program's file: a station column after the port.
        auto withStation = [](std::string line, const std::string& station) {
            return line.insert(line.size() - 2, "," + station);
        };
        Write("2025-03-04.csv",
              kBom + kOldHeader + ",station\r\n" +
                  withStation(Record("4T10:00:00", "good", "自动编程已成功完成", "5003", "2000", "COM1"), "A") +
                  // Torn, then mended by the next record: too few columns, never a chip.
                  "2025-03-04T10:01:00+08:00,good,自动编程已成功完成\r\n" +
                  withStation(Record("4T10:02:00", "stopped", "操作已中止", "", "0", "COM1"), "B") +
                  withStation(Record("4T10:03:00", "good", "自动编程已成功完成", "5007", "2100", "COM1"), "B"));
        Write("2025-03-05.csv", header + Record("5T07:00:00", "good", "自动编程已成功完成", "5008", "1900", "COM3"));
        // Its first record is in its day file already.
        Write("pending-pc7-4242-20250304100000-a1b2c3-1.csv",
              header + Record("4T10:03:00", "good", "自动编程已成功完成", "5007", "2100", "COM1") +
                  Record("4T11:00:00", "bad", "校验芯片失败! 在地址: 00A3FH", "", "2700", "COM1") + "#stored,1\r\n");
        // Not a day file, nor a pending one of the folder: read by no one.
        Write("2025-03-04 - Copy.csv", header + Record("4T12:00:00", "good", "x", "9999", "1", "COM9"));
        Write("id-held.csv", "ID码,占用者,时间,状态\r\n"
                             "5005,pc1-1-20250304-aaaaaa,2025-03-04T09:00:00+08:00,held\r\n"
                             "5006,pc2-2-20250304-bbbbbb,2025-03-04T09:01:00+08:00,held\r\n"
                             "5006,pc2-2-20250304-bbbbbb,2025-03-04T09:02:00+08:00,free\r\n"
                             "5009,pc3-3-20250305-cccccc,2025-03-05T07:00:00+08:00,held\r\n"
                             "5007,pc1-1-20250304-aaaaaa,2025-03-04T10:03:00+08:00,held\r\n");
    }
    ~Folder() { fs::remove_all(dir); }
    void Write(const std::string& name, const std::string& text) { std::ofstream(dir / name, std::ios::binary) << text; }
    std::string Path(const std::string& name = "") const { return name.empty() ? dir.string() : (dir / name).string(); }
};

struct ReportRun {
    int exit = -1;
    Json report;
    std::string out, err;
};

ReportRun Report(const Folder& folder, std::vector<std::string> args) {
    args.insert(args.begin(), {"--json", "report", "--log-dir", folder.Path()});
    std::istringstream in;
    std::ostringstream out, err;
    ReportRun run;
    run.exit = cli::RunCli(args, in, out, err, false);
    run.out = out.str();
    run.err = err.str();
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        Json event = Json::parse(line);
        if (event["event"] == "report") run.report = event;
    }
    return run;
}

Json Counts(uint64_t good, uint64_t bad, uint64_t link, uint64_t stopped) {
    uint64_t counted = good + bad;
    return Json{{"records", counted + link + stopped},
                {"good", good},
                {"bad", bad},
                {"link", link},
                {"stopped", stopped},
                {"counted", counted},
                {"yield", counted ? std::round(double(good) / double(counted) * 1e6) / 1e6 : 0.0}};
}

Json With(Json row, const Json& counts) {
    for (auto& [key, value] : counts.items()) row[key] = value;
    return row;
}

// A table of the page by its id: each row's cells, the markup stripped.
std::vector<std::vector<std::string>> Table(const std::string& html, const std::string& id) {
    std::vector<std::vector<std::string>> rows;
    size_t start = html.find("<table id=\"" + id + "\">");
    if (start == std::string::npos) return rows;
    std::string table = html.substr(start, html.find("</table>", start) - start);
    table = table.substr(table.find("<tbody>"));
    static const std::regex row("<tr>(.*?)</tr>"), cell("<td[^>]*>(.*?)</td>");
    for (auto r = std::sregex_iterator(table.begin(), table.end(), row); r != std::sregex_iterator(); ++r) {
        std::string cells = (*r)[1];
        std::vector<std::string> out;
        for (auto c = std::sregex_iterator(cells.begin(), cells.end(), cell); c != std::sregex_iterator(); ++c)
            out.push_back((*c)[1]);
        rows.push_back(out);
    }
    return rows;
}

TEST(Report, StatusTextsWithAnAddressAreOneKind) {
    const struct {
        std::string status, kind;
    } cases[] = {
        {"芯片不空, 在地址: 00000", "芯片不空, 在地址: …"},
        {"芯片不空, 在地址: 00010", "芯片不空, 在地址: …"},
        {"校验芯片失败! 在地址: 00A3F", "校验芯片失败! 在地址: …"},
        {"校验芯片失败! 在地址: 0FF0H", "校验芯片失败! 在地址: …"},
        {"校验芯片失败! 在地址：1F", "校验芯片失败! 在地址：…"},
        // Not an address at the end: the text is its own kind.
        {"ID码地址 0FF0H 处的代码字节不为空(FF)", "ID码地址 0FF0H 处的代码字节不为空(FF)"},
        {"在地址: 00A3F 之后出错", "在地址: 00A3F 之后出错"},
        {"在地址: ", "在地址: "},
        {"编程内存检查和 =  1A2B", "编程内存检查和 =  1A2B"},
        {"操作已中止", "操作已中止"},
    };
    for (const auto& c : cases) EXPECT_EQ(FailureText(c.status), c.kind) << c.status;
}

TEST(Report, JsonHoldsTheFiguresOfTheRecords) {
    Folder folder;
    ReportRun run = Report(folder, {"--from", "2025-03-03", "--to", "2025-03-04"});
    ASSERT_EQ(run.exit, 0) << run.err;
    const Json& r = run.report;
    ASSERT_TRUE(r.is_object()) << run.out;
    EXPECT_EQ(r["period"], (Json{{"from", "2025-03-03"}, {"to", "2025-03-04"}, {"first_date", "2025-03-03"},
                                 {"last_date", "2025-03-04"}}));
    // Both day files, the pending record not yet stored, the two lines that are no record.
    EXPECT_EQ(r["source"], (Json{{"files", 2}, {"database", nullptr}, {"pending_files", 1}, {"pending_records", 1}, {"skipped_lines", 2}}));
    EXPECT_EQ(r["total"], Counts(5, 3, 1, 1));
    EXPECT_EQ(r["days"], (Json{With({{"date", "2025-03-03"}}, Counts(3, 2, 1, 0)),
                               With({{"date", "2025-03-04"}}, Counts(2, 1, 0, 1))}));
    EXPECT_EQ(r["hours"], (Json{With({{"hour", "2025-03-03 08:00"}}, Counts(2, 1, 0, 0)),
                                With({{"hour", "2025-03-03 09:00"}}, Counts(1, 1, 1, 0)),
                                With({{"hour", "2025-03-04 10:00"}}, Counts(2, 0, 0, 1)),
                                With({{"hour", "2025-03-04 11:00"}}, Counts(0, 1, 0, 0))}));
    EXPECT_EQ(r["ports"], (Json{With({{"port", "COM1"}}, Counts(4, 2, 0, 1)), With({{"port", "COM2"}}, Counts(1, 1, 1, 0))}));
    // Only the newer file names stations; the pending record's file does not.
    EXPECT_EQ(r["stations"],
              (Json{With({{"station", "B"}}, Counts(1, 0, 0, 1)), With({{"station", "A"}}, Counts(1, 0, 0, 0))}));
    EXPECT_EQ(r["chips"], (Json{With({{"chip", "S3C9454"}}, Counts(4, 3, 1, 1)),
                                With({{"chip", "S3F9454"}}, Counts(1, 0, 0, 0))}));
    EXPECT_EQ(r["code_files"], (Json{With({{"file", "data/a.bin"}, {"checksum", "FF00H"}}, Counts(4, 3, 1, 1)),
                                     With({{"file", kScript}, {"checksum", "1234H"}}, Counts(1, 0, 0, 0))}));
    EXPECT_EQ(r["failures"], (Json{{"bad", 3},
                                   {"link", 1},
                                   {"stopped", 1},
                                   {"uncounted", 2},
                                   {"kinds",
                                    {{{"result", "bad"}, {"text", "芯片不空, 在地址: …"}, {"count", 2}},
                                     {{"result", "bad"}, {"text", "校验芯片失败! 在地址: …"}, {"count", 1}},
                                     {{"result", "link"}, {"text", "编程器连接错误,编程器可能正忙,请稍候再试!"}, {"count", 1}},
                                     {{"result", "stopped"}, {"text", "操作已中止"}, {"count", 1}}}}}));
    // Counted chips only: 2000 2000 2100 2500 2600 2700 3000; the link run's 656 ms and the stop's 0 are no cycle.
    EXPECT_EQ(r["cycle_times"], (Json{{{"chip", "S3C9454"}, {"chips", 7}, {"median_ms", 2500}, {"p95_ms", 3000}},
                                      {{"chip", "S3F9454"}, {"chips", 1}, {"median_ms", 4000}, {"p95_ms", 4000}}}));
    EXPECT_EQ(r["active_hours"], 4);
    EXPECT_EQ(r["chips_per_hour"], 2.0);
    EXPECT_EQ(r["busiest_hour"], (Json{{"hour", "2025-03-03 08:00"}, {"chips", 3}}));
    // 5001-5004 and 5007 on good chips; 5005 still held, 5006 given back, 5007's hold confirmed by its chip.
    EXPECT_EQ(r["id_codes"],
              (Json{{"count", 5},
                    {"repeats", 0},
                    {"ranges", {{{"first", 5001}, {"last", 5004}, {"count", 4}}, {{"first", 5007}, {"last", 5007}, {"count", 1}}}},
                    {"gaps", {{{"first", 5005}, {"last", 5006}, {"count", 2}}}},
                    {"held",
                     {{{"code", 5005}, {"holder", "pc1-1-20250304-aaaaaa"}, {"time", "2025-03-04T09:00:00+08:00"}},
                      {{"code", 5009}, {"holder", "pc3-3-20250305-cccccc"}, {"time", "2025-03-05T07:00:00+08:00"}}}}}));
}

TEST(Report, PeriodChoosesTheDays) {
    Folder folder;
    ReportRun all = Report(folder, {});
    ASSERT_EQ(all.exit, 0) << all.err;
    EXPECT_EQ(all.report["total"], Counts(6, 3, 1, 1));
    EXPECT_EQ(all.report["period"]["from"], nullptr);
    EXPECT_EQ(all.report["period"]["last_date"], "2025-03-05");
    EXPECT_EQ(all.report["id_codes"]["ranges"].size(), 2u);
    EXPECT_EQ(all.report["id_codes"]["ranges"][1]["last"], 5008);

    ReportRun fifth = Report(folder, {"--from", "2025-03-05"});
    EXPECT_EQ(fifth.report["total"], Counts(1, 0, 0, 0));
    EXPECT_EQ(fifth.report["source"]["pending_records"], 0);
    // The pending file's record of the 4th is outside; so is its stored one.
    ReportRun fourth = Report(folder, {"--from", "2025-03-04", "--to", "2025-03-04"});
    EXPECT_EQ(fourth.report["total"], Counts(2, 1, 0, 1));
    EXPECT_EQ(fourth.report["source"]["pending_records"], 1);

    ReportRun none = Report(folder, {"--from", "2024-01-01", "--to", "2024-01-31"});
    ASSERT_EQ(none.exit, 0);
    EXPECT_EQ(none.report["total"], Counts(0, 0, 0, 0));
    EXPECT_EQ(none.report["chips_per_hour"], 0.0);
    EXPECT_EQ(none.report["busiest_hour"], nullptr);
}

// Two readers merge to what one reader adds up.
TEST(Report, ThreadsAddUpAsOneReader) {
    Folder folder;
    for (int day = 6; day <= 9; ++day) {
        std::string text = kBom + kOldHeader + "\r\n";
        for (int i = 0; i < 50 * day; ++i)
            text += Record(std::to_string(day) + "T1" + std::to_string(i % 10) + ":00:00", i % 7 ? "good" : "bad",
                           i % 7 ? "自动编程已成功完成" : "芯片不空, 在地址: 0000" + std::to_string(i % 10),
                           i % 7 ? std::to_string(day * 1000 + i) : "", std::to_string(1000 + i * 13 % 500),
                           "COM" + std::to_string(i % 3), i % 2 ? "S3C9454" : "S3F9454");
        folder.Write("2025-03-0" + std::to_string(day) + ".csv", text);
    }
    auto figures = [&](unsigned threads) {
        FolderSource source(folder.Path(), threads);
        ReportFigures f;
        EXPECT_TRUE(BuildReport(source, {}, f));
        return ReportJson(f);
    };
    Json one = figures(1), two = figures(2);
    EXPECT_EQ(one, two);
    EXPECT_EQ(one["total"]["records"], 11 + 50 * (6 + 7 + 8 + 9));
}

TEST(Report, PageTablesShowTheSameFiguresEscaped) {
    Folder folder;
    const std::string page = folder.Path("report.html");
    ReportRun run = Report(folder, {"--from", "2025-03-03", "--to", "2025-03-04", "-o", page});
    ASSERT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.report["file"], page);
    std::ifstream in(page, std::ios::binary);
    const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    using Rows = std::vector<std::vector<std::string>>;
    EXPECT_EQ(Table(html, "total"), (Rows{{"2025-03-03 至 2025-03-04", "10", "5", "3", "1", "1", "62.50%"}}));
    EXPECT_EQ(Table(html, "days"), (Rows{{"2025-03-03", "6", "3", "2", "1", "0", "60.00%"},
                                         {"2025-03-04", "4", "2", "1", "0", "1", "66.67%"}}));
    EXPECT_EQ(Table(html, "hours").size(), 4u);
    EXPECT_EQ(Table(html, "hours")[3], (std::vector<std::string>{"2025-03-04 11:00", "1", "0", "1", "0", "0", "0.00%"}));
    EXPECT_EQ(Table(html, "ports"), (Rows{{"COM1", "7", "4", "2", "0", "1", "66.67%"},
                                          {"COM2", "3", "1", "1", "1", "0", "50.00%"}}));
    EXPECT_EQ(Table(html, "stations"), (Rows{{"B", "2", "1", "0", "0", "1", "100.00%"},
                                             {"A", "1", "1", "0", "0", "0", "100.00%"}}));
    EXPECT_EQ(Table(html, "chips")[1], (std::vector<std::string>{"S3F9454", "1", "1", "0", "0", "0", "100.00%"}));
    // A code file's name is text, never markup.
    EXPECT_EQ(Table(html, "code-files")[1],
              (std::vector<std::string>{"&lt;script&gt;alert(1)&lt;/script&gt;.hex", "1234H", "1", "1", "0", "0", "0",
                                        "100.00%"}));
    EXPECT_EQ(html.find("<script>alert"), std::string::npos);
    EXPECT_EQ(html.find("</script>.hex"), std::string::npos);
    EXPECT_EQ(Table(html, "failure-results"),
              (Rows{{"不良品", "3", "计入不良品"}, {"连接失败", "1", "未计数"}, {"已中止", "1", "未计数"}}));
    EXPECT_EQ(Table(html, "failures"), (Rows{{"不良品", "芯片不空, 在地址: …", "2"},
                                             {"不良品", "校验芯片失败! 在地址: …", "1"},
                                             {"连接失败", "编程器连接错误,编程器可能正忙,请稍候再试!", "1"},
                                             {"已中止", "操作已中止", "1"}}));
    EXPECT_EQ(Table(html, "cycle-times"), (Rows{{"S3C9454", "7", "2500", "3000"}, {"S3F9454", "1", "4000", "4000"}}));
    EXPECT_EQ(Table(html, "id-ranges"), (Rows{{"5001", "5004", "4"}, {"5007", "5007", "1"}}));
    EXPECT_EQ(Table(html, "id-gaps"), (Rows{{"5005", "5006", "2"}}));
    EXPECT_EQ(Table(html, "id-held"), (Rows{{"5005", "pc1-1-20250304-aaaaaa", "2025-03-04T09:00:00+08:00"},
                                            {"5009", "pc3-3-20250305-cccccc", "2025-03-05T07:00:00+08:00"}}));
    // The charts' figures: by day, and the failure kinds with the code file's text nowhere unescaped.
    std::smatch data;
    ASSERT_TRUE(std::regex_search(html, data, std::regex("<script type=\"application/json\" id=\"report-data\">(.*?)</script>")));
    Json chart = Json::parse(data[1].str());
    // Two days: by hour, the third hour's yield 2 of 2 (the stop uncounted), the axis from 40 %.
    EXPECT_EQ(chart["labels"], (Json{"03-03 08时", "03-03 09时", "03-04 10时", "03-04 11时"}));
    EXPECT_EQ(chart["good"], (Json{2, 1, 2, 0}));
    EXPECT_EQ(chart["bad"], (Json{1, 1, 0, 1}));
    EXPECT_EQ(chart["yield"], (Json{66.67, 50.0, 100.0, 0.0}));
    EXPECT_EQ(chart["yieldFloor"], 0);
    EXPECT_EQ(chart["kindCounts"], (Json{2, 1, 1, 1}));
    // Chart.js itself, with its licence, inside the page: it opens offline.
    EXPECT_NE(html.find("Chart.js v3"), std::string::npos);
    EXPECT_NE(html.find("Permission is hereby granted"), std::string::npos);
    EXPECT_EQ(html.find("src=\"http"), std::string::npos);
}

// An offline file is no chip: its record counts apart, and neither its
// result nor its time (the operator's dialogs in it) reaches the chips'
// figures. Records made before they had a kind count as chips.
TEST(Report, OfflineFilesCountApartFromTheChips) {
    ReportTally tally;
    auto row = [](std::string_view result, std::string_view ms, std::string_view kind) {
        ReportRow r;
        r.time = "2025-03-03T08:00:05+08:00";
        r.result = result;
        r.status = "x";
        r.chip = "S3F9454";
        r.duration = ms;
        r.port = "COM1";
        r.kind = kind;
        return r;
    };
    ASSERT_TRUE(tally.Add(row("good", "2000", "chip")));
    ASSERT_TRUE(tally.Add(row("good", "2100", "")));
    ASSERT_TRUE(tally.Add(row("good", "60000", "offline-file")));
    ASSERT_TRUE(tally.Add(row("bad", "60000", "offline-file")));
    ReportFigures f = std::move(tally).Figures({}, {}, {});
    EXPECT_EQ(f.total.good, 2u);
    EXPECT_EQ(f.total.bad, 0u);
    EXPECT_EQ(f.offlineFiles.good, 1u);
    EXPECT_EQ(f.offlineFiles.bad, 1u);
    ASSERT_EQ(f.cycles.size(), 1u);
    EXPECT_EQ(f.cycles[0].p95Ms, 2100u);
    EXPECT_EQ(ReportJson(f)["offline_files"]["good"], 1);
}

}  // namespace
}  // namespace veldrix
