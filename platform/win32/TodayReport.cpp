#include "platform/win32/TodayReport.h"

#include <windows.h>
#include <shellapi.h>

#include "records/RecordFolder.h"
#include "platform/win32/Text.h"
#include "report/RecordSource.h"
#include "report/Report.h"
#include "seams/Files.h"
#include "seams/Platform.h"

namespace veldrix {

bool WriteTodayReport(RecordSource& source, const std::string& into, const LocalTime& now, std::string& path) {
    const std::string day = IsoTime(now).substr(0, 10);
    path = JoinPath(into, "report-" + day + ".html");
    ReportFigures figures;
    if (!BuildReport(source, ReportPeriod{day, day}, figures) || !MakeFolders(into)) return false;
    std::string made = IsoTime(now).substr(0, 19);
    made[10] = ' ';
    return WriteFileReplacing(path, ReportHtml(figures, made));
}

bool OpenInBrowser(const std::string& path) {
    HINSTANCE done = ShellExecuteW(nullptr, L"open", Widen(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(done) > 32;
}

}  // namespace veldrix
