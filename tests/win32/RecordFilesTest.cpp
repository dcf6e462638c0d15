// The production records on Windows: where they go, the wall clock that
// stamps them, and day files under Chinese names, also while a spreadsheet
// holds one.
#include <gtest/gtest.h>

#include <windows.h>

#include "code/RecordFolder.h"
#include "platform/headless/MemorySettings.h"
#include "platform/win32/RealClock.h"
#include "platform/win32/RecordsFolder.h"
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

TEST(RecordFiles, DayFilesUnderChineseNamesAndOneHeldByASpreadsheet) {
    const std::string folder = JoinPath(TempFolder("veldrix-记录测试"), "日志");
    RemoveTree(folder);
    ProductionRecord r;
    r.time = LocalTimeAt(DaysFromCivil(2025, 3, 3) * 86400000, 480);
    r.result = RecordResult::Good;
    r.status = "自动编程已成功完成";
    r.idCode = 5001;
    {
        RecordFolder records(folder);
        ASSERT_EQ(records.Append(r), RecordKept::Stored);
        // A spreadsheet opens the file without sharing it: the next append fails.
        HANDLE held = CreateFileW(Widen(JoinPath(folder, "2025-03-03.csv")).c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        r.idCode = 5002;
        EXPECT_NE(records.Append(r), RecordKept::Stored);
        EXPECT_EQ(records.Location(), JoinPath(folder, "2025-03-03.csv"));
        CloseHandle(held);
        r.idCode = 5003;
        EXPECT_EQ(records.Append(r), RecordKept::Stored);
    }
    RecordFolder restarted(folder);
    RecordFolder::LoadSummary loaded = restarted.Load();
    EXPECT_EQ(loaded.files, 1u);
    EXPECT_EQ(loaded.records, 2u);
    EXPECT_EQ(restarted.IdCodeOnGoodChip(5003), "2025-03-03");
    EXPECT_EQ(restarted.IdCodeOnGoodChip(5002), std::nullopt);
    std::string text;
    ASSERT_TRUE(ReadFileBytes(JoinPath(folder, "2025-03-03.csv"), text));
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF时间,", 0), 0u);
    RemoveTree(folder);
    RemoveDirectoryW(Widen(TempFolder("veldrix-记录测试")).c_str());
}

}  // namespace
}  // namespace veldrix
