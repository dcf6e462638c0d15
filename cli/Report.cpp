#include "cli/Report.h"

#include "cli/Host.h"
#include "cli/Secrets.h"
#include "records/RecordFolder.h"
#include "platform/odbc/OdbcSource.h"
#include "report/FolderSource.h"
#include "report/Report.h"
#include "seams/Files.h"

namespace veldrix::cli {

int RunReport(const Options& o, SettingsStore& settings, Output& output) {
    std::string error;
    std::optional<RecordsDatabase> database = RecordsDatabaseOf(o, error);
    if (!error.empty()) {
        output.Note("veldrix-cli: " + error);
        return kExitUsage;
    }
    ReportFigures figures;
    if (database) {
        OdbcSource source(database->connection, database->name);
        if (!BuildReport(source, ReportPeriod{o.from, o.to}, figures)) {
            output.Note("veldrix-cli: 无法读取生产记录数据库 " + database->name + ": " + source.Problem());
            return kExitLink;
        }
    } else {
        const std::string folder = !o.logDir.empty() ? o.logDir : DefaultRecordsFolder(settings);
        if (folder.empty()) {
            output.Note("veldrix-cli: report 需要 --log-dir 目录 (生产记录文件夹)");
            return kExitUsage;
        }
        FolderSource source(folder);
        if (!BuildReport(source, ReportPeriod{o.from, o.to}, figures)) {
            output.Note("veldrix-cli: 无法读取生产记录文件夹 " + folder + ": " + FileReadProblem(folder));
            return kExitUsage;
        }
    }
    if (!o.output.empty()) {
        std::string made = IsoTime(MakeHostClock()->LocalNow()).substr(0, 19);
        made[10] = ' ';
        if (!WriteFileReplacing(o.output, ReportHtml(figures, made))) {
            output.Note("veldrix-cli: 无法写入报表 " + o.output + ": " + FileWriteProblem(o.output));
            return kExitUsage;
        }
    }
    const ResultCounts& t = figures.total;
    std::string text = "报表: " + (figures.firstDate.empty() ? std::string("没有记录")
                                                               : figures.firstDate + " 至 " + figures.lastDate) +
                       "  芯片 " + std::to_string(t.Counted()) + "  良品 " + std::to_string(t.good) + "  不良品 " +
                       std::to_string(t.bad) + "  良率 " + (t.Counted() ? PercentText(t.GoodShare()) : "-") +
                       "  未计数 " + std::to_string(t.link + t.stopped);
    if (!o.output.empty()) text += "\n已写入 " + o.output;
    Json fields = ReportJson(figures);
    if (!o.output.empty()) fields["file"] = o.output;
    output.Emit("report", "", 0, std::move(fields), text);
    return kExitOk;
}

}  // namespace veldrix::cli
