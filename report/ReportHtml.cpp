#include <algorithm>
#include <cstdio>
#include <string_view>

#include "report/ChartJs.h"
#include "report/Report.h"

namespace veldrix {

namespace {

using Json = nlohmann::ordered_json;

std::string Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

// JSON inside a script element: nothing in it may close the element.
std::string ScriptJson(const Json& value) {
    std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), out;
    for (char c : text) {
        if (c == '<') out += "\\u003c";
        else if (c == '>') out += "\\u003e";
        else if (c == '&') out += "\\u0026";
        else out += c;
    }
    return out;
}

const char* ResultName(const std::string& result) {
    if (result == "good") return "良品";
    if (result == "bad") return "不良品";
    if (result == "link") return "连接失败";
    if (result == "stopped") return "已中止";
    return "";
}

struct Page {
    std::string html;

    void Add(std::string_view text) { html += text; }
    void Text(std::string_view text) { html += Escaped(text); }
    void Cell(std::string_view text) {
        html += "<td>";
        html += Escaped(text);
        html += "</td>";
    }
    void Number(uint64_t value) { html += "<td class=\"n\">" + std::to_string(value) + "</td>"; }
    void Head(std::initializer_list<const char*> names) {
        html += "<thead><tr>";
        for (const char* name : names) html += std::string("<th>") + name + "</th>";
        html += "</tr></thead><tbody>";
    }
    void Counts(const ResultCounts& c) {
        Number(c.Records());
        Number(c.good);
        Number(c.bad);
        Number(c.link);
        Number(c.stopped);
        html += "<td class=\"n\">" + (c.Counted() ? PercentText(c.GoodShare()) : std::string("-")) + "</td>";
    }
    // A table of groups with their counts; checksum: a column for the code's checksum.
    void Groups(const char* id, const char* first, const std::vector<ReportGroup>& groups, bool checksum = false) {
        Add(std::string("<table id=\"") + id + "\">");
        if (checksum)
            Head({first, "检查和", "记录", "良品", "不良品", "连接失败", "已中止", "良率"});
        else
            Head({first, "记录", "良品", "不良品", "连接失败", "已中止", "良率"});
        for (const ReportGroup& g : groups) {
            Add("<tr>");
            Cell(g.name);
            if (checksum) Cell(g.checksum);
            Counts(g.counts);
            Add("</tr>");
        }
        Add("</tbody></table>");
    }
    void Spans(const char* id, const std::vector<IdSpan>& spans) {
        Add(std::string("<table id=\"") + id + "\">");
        Head({"起始", "终止", "个数"});
        for (const IdSpan& s : spans) {
            Add("<tr>");
            Number(s.first);
            Number(s.last);
            Number(s.Size());
            Add("</tr>");
        }
        Add("</tbody></table>");
    }
};

constexpr char kStyle[] = R"(<style>
body{font-family:"Microsoft YaHei","微软雅黑","WenQuanYi Micro Hei",SimSun,sans-serif;margin:24px;color:#222;background:#fff}
h1{font-size:22px;margin:0 0 4px}h2{font-size:17px;margin:28px 0 8px;border-bottom:1px solid #ccc;padding-bottom:4px}
.sub{color:#666;font-size:13px}
.tiles{display:flex;flex-wrap:wrap;gap:10px;margin:14px 0}
.tile{border:1px solid #ddd;border-radius:6px;padding:8px 14px;min-width:110px}
.tile b{display:block;font-size:20px}.tile span{font-size:12px;color:#666}
.charts{display:flex;flex-wrap:wrap;gap:20px}
.chart{position:relative;height:300px;flex:1 1 440px;min-width:320px}
table{border-collapse:collapse;font-size:13px;margin:4px 0 8px}
th,td{border:1px solid #ddd;padding:3px 8px;text-align:left}th{background:#f3f3f3}
td.n{text-align:right;font-variant-numeric:tabular-nums}
details summary{cursor:pointer;color:#06c;margin:6px 0}
footer{margin-top:32px;font-size:11px;color:#888}
</style>
)";

// Draws both charts from the figures in #report-data; no animation, so a
// printout or a screenshot shows them whole at once.
constexpr char kCharts[] = R"(<script>
(function () {
  var d = JSON.parse(document.getElementById('report-data').textContent);
  Chart.defaults.animation = false;
  Chart.defaults.font.family = '"Microsoft YaHei","WenQuanYi Micro Hei",sans-serif';
  new Chart(document.getElementById('chart-yield'), {
    data: {
      labels: d.labels,
      datasets: [
        {type: 'bar', label: '良品', data: d.good, backgroundColor: '#43a047', stack: 'chips', yAxisID: 'y'},
        {type: 'bar', label: '不良品', data: d.bad, backgroundColor: '#e53935', stack: 'chips', yAxisID: 'y'},
        {type: 'line', label: '良率 (%)', data: d.yield, borderColor: '#1e88e5', backgroundColor: '#1e88e5',
         yAxisID: 'yield', spanGaps: true}
      ]
    },
    options: {
      maintainAspectRatio: false,
      plugins: {title: {display: true, text: d.title}},
      scales: {
        x: {stacked: true},
        y: {stacked: true, beginAtZero: true, title: {display: true, text: '芯片数'}},
        yield: {position: 'right', min: d.yieldFloor, max: 100, grid: {drawOnChartArea: false}, title: {display: true, text: '良率 (%)'}}
      }
    }
  });
  var failures = document.getElementById('chart-failures');
  if (failures) new Chart(failures, {
    type: 'bar',
    data: {labels: d.kinds, datasets: [{label: '次数', data: d.kindCounts, backgroundColor: d.kindColours}]},
    options: {
      indexAxis: 'y', maintainAspectRatio: false,
      plugins: {legend: {display: false}, title: {display: true, text: '失败分类 (最常见的在前)'}}
    }
  });
})();
</script>
)";

// The chart's figures: by hour up to a week, where a slow hour shows, else by day.
Json ChartData(const ReportFigures& f) {
    const bool byHour = f.days.size() <= 7;
    const std::vector<ReportGroup>& points = byHour ? f.hours : f.days;
    Json labels = Json::array(), good = Json::array(), bad = Json::array(), yield = Json::array();
    double lowest = 100;
    for (const ReportGroup& g : points) {
        // "08:00" for one day, "03-04 08时" for several.
        labels.push_back(!byHour ? g.name : f.days.size() == 1 ? g.name.substr(11) : g.name.substr(5, 6) + g.name.substr(11, 2) + "时");
        good.push_back(g.counts.good);
        bad.push_back(g.counts.bad);
        if (!g.counts.Counted()) {
            yield.push_back(nullptr);
            continue;
        }
        double percent = double(int64_t(g.counts.GoodShare() * 10000 + 0.5)) / 100;
        lowest = std::min(lowest, percent);
        yield.push_back(percent);
    }
    // The yield axis starts a little below the lowest point: a dip of a few percent must show.
    const int yieldFloor = std::max(0, int(lowest / 10) * 10 - 10);
    Json kinds = Json::array(), counts = Json::array(), colours = Json::array();
    const size_t shown = std::min<size_t>(f.failures.size(), 12);
    for (size_t i = 0; i < shown; ++i) {
        const FailureKind& k = f.failures[i];
        kinds.push_back(std::string(ResultName(k.result)) + ": " + k.text);
        counts.push_back(k.count);
        colours.push_back(k.result == "bad" ? "#e53935" : k.result == "link" ? "#fb8c00" : "#9e9e9e");
    }
    return Json{{"title", byHour ? "每小时产量与良率" : "每日产量与良率"},
                {"labels", labels}, {"good", good}, {"bad", bad}, {"yield", yield}, {"yieldFloor", yieldFloor},
                {"kinds", kinds}, {"kindCounts", counts}, {"kindColours", colours}};
}

std::string Decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

std::string ReportHtml(const ReportFigures& f, const std::string& made) {
    Page p;
    const std::string period = (f.period.from.empty() ? f.firstDate : f.period.from) + " 至 " +
                               (f.period.to.empty() ? f.lastDate : f.period.to);
    p.Add("<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">\n"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>生产报表 ");
    p.Text(period);
    p.Add("</title>\n");
    p.Add(kStyle);
    p.Add("</head><body>\n<h1>生产报表</h1><div class=\"sub\">");
    p.Text(period + "  生成于 " + made);
    p.Add("</div>\n");

    const ResultCounts& t = f.total;
    auto tile = [&](const std::string& value, const char* name) {
        p.Add("<div class=\"tile\"><b>");
        p.Text(value);
        p.Add(std::string("</b><span>") + name + "</span></div>");
    };
    p.Add("<div class=\"tiles\" id=\"totals\">");
    tile(std::to_string(t.Counted()), "芯片 (良品+不良品)");
    tile(std::to_string(t.good), "良品");
    tile(std::to_string(t.bad), "不良品");
    tile(t.Counted() ? PercentText(t.GoodShare()) : "-", "良率");
    tile(std::to_string(t.link + t.stopped), "未计数 (连接失败, 已中止)");
    tile(Decimal(f.chipsPerHour), "每小时芯片数");
    tile(std::to_string(f.idCodes), "已写入良品的ID码");
    p.Add("</div>\n");

    p.Add("<div class=\"charts\"><div class=\"chart\"><canvas id=\"chart-yield\"></canvas></div>");
    if (!f.failures.empty())
        p.Add("<div class=\"chart\"><canvas id=\"chart-failures\"></canvas></div>");
    p.Add("</div>\n");

    p.Add("<h2>汇总</h2>");
    p.Groups("total", "期间", {ReportGroup{period, "", t}});
    p.Add("<h2>按日</h2>");
    p.Groups("days", "日期", f.days);
    p.Add("<details><summary>按小时 (");
    p.Add(std::to_string(f.hours.size()));
    p.Add(" 小时)</summary>");
    p.Groups("hours", "小时", f.hours);
    p.Add("</details>\n");

    p.Add("<h2>按端口</h2>");
    p.Groups("ports", "端口", f.ports);
    if (!f.stations.empty()) {
        p.Add("<h2>按工位</h2>");
        p.Groups("stations", "工位", f.stations);
    }
    p.Add("<h2>按芯片型号</h2>");
    p.Groups("chips", "芯片型号", f.chips);
    p.Add("<h2>按代码文件</h2>");
    p.Groups("code-files", "代码文件", f.codeFiles, true);

    p.Add("<h2>失败</h2><table id=\"failure-results\">");
    p.Head({"结果", "次数", "计入"});
    const std::pair<const char*, uint64_t> results[] = {{"bad", t.bad}, {"link", t.link}, {"stopped", t.stopped}};
    for (const auto& [word, count] : results) {
        p.Add("<tr>");
        p.Cell(ResultName(word));
        p.Number(count);
        p.Cell(std::string_view(word) == "bad" ? "计入不良品" : "未计数");
        p.Add("</tr>");
    }
    p.Add("</tbody></table><table id=\"failures\">");
    p.Head({"结果", "状态", "次数"});
    for (const FailureKind& k : f.failures) {
        p.Add("<tr>");
        p.Cell(ResultName(k.result));
        p.Cell(k.text);
        p.Number(k.count);
        p.Add("</tr>");
    }
    p.Add("</tbody></table>\n");

    p.Add("<h2>节拍</h2><table id=\"cycle-times\">");
    p.Head({"芯片型号", "芯片数", "中位数 (毫秒)", "95% (毫秒)"});
    for (const CycleTime& c : f.cycles) {
        p.Add("<tr>");
        p.Cell(c.chip);
        p.Number(c.chips);
        p.Number(c.medianMs);
        p.Number(c.p95Ms);
        p.Add("</tr>");
    }
    p.Add("</tbody></table><div class=\"sub\" id=\"pace\">");
    p.Text("每小时芯片数 " + Decimal(f.chipsPerHour) + " (" + std::to_string(f.activeHours) + " 个生产小时)");
    if (!f.busiestHour.name.empty())
        p.Text(", 最多的一小时: " + f.busiestHour.name + " " + std::to_string(f.busiestHour.counts.Counted()) + " 片");
    p.Add("</div>\n");

    p.Add("<h2>ID码</h2><div class=\"sub\">");
    p.Text("良品芯片上的ID码 " + std::to_string(f.idCodes) + " 个");
    if (f.idRepeats) p.Text(", 重复写入 " + std::to_string(f.idRepeats) + " 次");
    p.Add("</div><h3>已写入良品的ID码</h3>");
    p.Spans("id-ranges", f.idRanges);
    p.Add("<h3>其间未用的ID码</h3>");
    p.Spans("id-gaps", f.idGaps);
    p.Add("<h3>已分配但未确认的ID码</h3><table id=\"id-held\">");
    p.Head({"ID码", "占用者", "时间"});
    for (const HeldCode& h : f.held) {
        p.Add("<tr>");
        p.Number(h.code);
        p.Cell(h.holder);
        p.Cell(h.time);
        p.Add("</tr>");
    }
    p.Add("</tbody></table>\n");

    p.Add("<div class=\"sub\">");
    p.Text(f.source.database.empty() ? "读取 " + std::to_string(f.source.files) + " 个记录文件"
                                     : "读取生产记录数据库 " + f.source.database);
    if (f.source.pendingRecords)
        p.Text(", 等待写入的记录 " + std::to_string(f.source.pendingRecords) + " 条");
    if (f.source.skipped) p.Text(", 不完整的行 " + std::to_string(f.source.skipped) + " 行 (未计入)");
    p.Add("</div>\n<footer>图表由 Chart.js 绘制 (MIT 许可, 见本页源代码)</footer>\n");

    p.Add("<script type=\"application/json\" id=\"report-data\">");
    p.Add(ScriptJson(ChartData(f)));
    p.Add("</script>\n<script>/*\n");
    p.Add(std::string_view(kChartJsLicence, kChartJsLicenceSize));
    p.Add("*/\n");
    p.Add(std::string_view(kChartJs, kChartJsSize));
    p.Add("\n</script>\n");
    p.Add(kCharts);
    p.Add("</body></html>\n");
    return std::move(p.html);
}

}  // namespace veldrix
