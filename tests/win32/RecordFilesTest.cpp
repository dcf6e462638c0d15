// The production records on Windows: where they go, the wall clock that
// stamps them, and day files under Chinese names, also while a spreadsheet
// holds one.
#include <gtest/gtest.h>

#include <windows.h>

#include "code/Csv.h"
#include "records/RecordFolder.h"
#include "platform/headless/MemorySettings.h"
#include "platform/win32/RealClock.h"
#include "platform/win32/RecordsFolder.h"
#include "platform/win32/TodayReport.h"
#include "report/FolderSource.h"
#include "platform/win32/Text.h"
#include "seams/Files.h"
#include "seams/Platform.h"

namespace veldrix {
namespace {

std::string TempFolder(const std::string& name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return JoinPath(Narrow(temp), name);
}

void RemoveTree(const std::string& folder) {
    std::vector<std::string> names;
    if (ListFiles(folder, names))
        for (const std::string& name : names) DeleteFileW(Widen(JoinPath(folder, name)).c_str());
    RemoveDirectoryW(Widen(folder).c_str());
}

TEST(RecordFiles, TheProgramKeyNamesTheFolderElseLocalApplicationData) {
    MemorySettings settings;
    std::string folder = RecordsFolderPath(settings);
    const std::string tail = "\\AppData\\Local\\VELDRIX\\logs";
    ASSERT_GT(folder.size(), tail.size());
    EXPECT_EQ(folder.substr(folder.size() - tail.size()), tail);
    settings.values["log_dir"] = "D:\\生产记录";
    EXPECT_EQ(RecordsFolderPath(settings), "D:\\生产记录");
}

// The system menu's report: today's records only, from a folder under a
// Chinese name, into a page under another.
TEST(RecordFiles, TodaysReportHoldsTodaysChips) {
    const std::string folder = TempFolder("生产记录-报表"), into = JoinPath(folder, "报表");
    RemoveTree(into);
    RemoveTree(folder);
    {
        RecordFolder records(folder);
        records.Load();
        ProductionRecord r;
        r.result = RecordResult::Good;
        r.chip = "S3F9454";
        r.codeFile = "D:\\生产\\遥控器.hex";
        r.port = "COM3";
        r.time = LocalTime{2025, 3, 3, 8, 0, 0, 0, 480};
        records.Append(r);
        r.time.day = 4;
        records.Append(r);
        r.result = RecordResult::Bad;
        records.Append(r);
    }
    std::string path;
    FolderSource source(folder);
    ASSERT_TRUE(WriteTodayReport(source, into, LocalTime{2025, 3, 4, 17, 30, 0, 0, 480}, path));
    EXPECT_EQ(path, JoinPath(into, "report-2025-03-04.html"));
    std::string page;
    ASSERT_TRUE(ReadFileBytes(path, page));
    EXPECT_NE(page.find("2025-03-04 至 2025-03-04"), std::string::npos);
    EXPECT_NE(page.find("<td>2025-03-04</td><td class=\"n\">2</td><td class=\"n\">1</td><td class=\"n\">1</td>"),
              std::string::npos);
    EXPECT_EQ(page.find("2025-03-03"), std::string::npos);
    EXPECT_NE(page.find("遥控器.hex"), std::string::npos);
    RemoveTree(into);
    RemoveTree(folder);
}

TEST(RecordFiles, LocalTimeIsTheSystemsWithItsOffset) {
    RealClock clock;
    for (int tries = 0; tries < 3; ++tries) {
        SYSTEMTIME local;
        GetLocalTime(&local);
        LocalTime now = clock.LocalNow();
        if (now.second != local.wSecond) continue;  // a second turned over between the two readings
        EXPECT_EQ(now.year, local.wYear);
        EXPECT_EQ(now.month, local.wMonth);
        EXPECT_EQ(now.day, local.wDay);
        EXPECT_EQ(now.hour, local.wHour);
        EXPECT_EQ(now.minute, local.wMinute);
        EXPECT_EQ(now.offsetMinutes % 15, 0);
        return;
    }
    FAIL() << "the clock never read the same second as the system";
}

// A spreadsheet opens the day's file without letting others write to it:
// the records wait, then all go in, in order, with the next append.
TEST(RecordFiles, DayFilesUnderChineseNamesAndOneHeldByASpreadsheet) {
    const std::string folder = JoinPath(TempFolder("veldrix-记录测试"), "日志");
    RemoveTree(folder);
    const std::string day = JoinPath(folder, "2025-03-03.csv");
    auto record = [](uint32_t id) {
        ProductionRecord r;
        r.time = LocalTimeAt(DaysFromCivil(2025, 3, 3) * 86400000 + id * 1000, 480);
        r.result = RecordResult::Good;
        r.status = "自动编程已成功完成";
        r.idCode = id;
        return r;
    };
    {
        RecordFolder records(folder);
        records.Load();
        ASSERT_EQ(records.Append(record(5001)), RecordKept::Stored);
        HANDLE held = CreateFileW(Widen(day).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        for (uint32_t id = 5002; id <= 5011; ++id) EXPECT_EQ(records.Append(record(id)), RecordKept::Pending) << id;
        EXPECT_EQ(records.Location(), day);
        EXPECT_EQ(records.TakeIdCode(5011, false).answer, IdGrant::Answer::OnGoodChip);
        CloseHandle(held);
        EXPECT_EQ(records.Append(record(5012)), RecordKept::Stored);
    }
    {
        RecordFolder restarted(folder);
        RecordFolder::LoadSummary loaded = restarted.Load();
        EXPECT_EQ(loaded.files, 1u);
        EXPECT_EQ(loaded.records, 12u);
        EXPECT_EQ(restarted.IdCodeOnGoodChip(5002), "2025-03-03");
        EXPECT_EQ(restarted.TakeIdCode(5012, false).answer, IdGrant::Answer::OnGoodChip);
    }
    std::string text;
    ASSERT_TRUE(ReadFileBytes(day, text));
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF时间,", 0), 0u);
    // In order, each once.
    std::vector<std::string> ids;
    CsvReader reader([&](const std::vector<std::string_view>& f) {
        if (f.size() == size_t(column::kCount) && f[column::kResult] == "good") ids.emplace_back(f[column::kIdCode]);
        return true;
    });
    reader.Feed(text);
    std::vector<std::string> expected;
    for (uint32_t id = 5001; id <= 5012; ++id) expected.push_back(std::to_string(id));
    EXPECT_EQ(ids, expected);
    std::vector<std::string> names;
    ASSERT_TRUE(ListFiles(folder, names));
    for (const std::string& name : names) EXPECT_NE(name.rfind("pending-", 0), 0u) << name;
    RemoveTree(folder);
    RemoveDirectoryW(Widen(TempFolder("veldrix-记录测试")).c_str());
}

}  // namespace
}  // namespace veldrix
