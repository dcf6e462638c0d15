#include <cmath>

#include "report/Report.h"

namespace veldrix {

namespace {

using Json = nlohmann::ordered_json;

// Six places: enough for a yield, no binary fraction noise in the text.
double Rounded(double value) { return std::round(value * 1e6) / 1e6; }

void PutCounts(Json& into, const ResultCounts& c) {
    into["records"] = c.Records();
    into["good"] = c.good;
    into["bad"] = c.bad;
    into["link"] = c.link;
    into["stopped"] = c.stopped;
    into["counted"] = c.Counted();
    into["yield"] = Rounded(c.GoodShare());
}

Json Groups(const std::vector<ReportGroup>& groups, const char* key) {
    Json list = Json::array();
    for (const ReportGroup& g : groups) {
        Json row;
        row[key] = g.name;
        if (std::string(key) == "file") row["checksum"] = g.checksum;
        PutCounts(row, g.counts);
        list.push_back(std::move(row));
    }
    return list;
}

Json Spans(const std::vector<IdSpan>& spans) {
    Json list = Json::array();
    for (const IdSpan& s : spans) list.push_back(Json{{"first", s.first}, {"last", s.last}, {"count", s.Size()}});
    return list;
}

Json OrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

}  // namespace

Json ReportJson(const ReportFigures& f) {
    Json out;
    out["period"] = Json{{"from", OrNull(f.period.from)},
                         {"to", OrNull(f.period.to)},
                         {"first_date", OrNull(f.firstDate)},
                         {"last_date", OrNull(f.lastDate)}};
    out["source"] = Json{{"files", f.source.files},
                         {"database", OrNull(f.source.database)},
                         {"pending_files", f.source.pendingFiles},
                         {"pending_records", f.source.pendingRecords},
                         {"skipped_lines", f.source.skipped}};
    Json total;
    PutCounts(total, f.total);
    out["total"] = total;
    Json offline;
    PutCounts(offline, f.offlineFiles);
    out["offline_files"] = offline;
    Json days = Json::array(), hours = Json::array();
    for (const ReportGroup& g : f.days) {
        Json row{{"date", g.name}};
        PutCounts(row, g.counts);
        days.push_back(std::move(row));
    }
    for (const ReportGroup& g : f.hours) {
        Json row{{"hour", g.name}};
        PutCounts(row, g.counts);
        hours.push_back(std::move(row));
    }
    out["days"] = days;
    out["hours"] = hours;
    out["ports"] = Groups(f.ports, "port");
    out["stations"] = Groups(f.stations, "station");
    out["chips"] = Groups(f.chips, "chip");
    out["code_files"] = Groups(f.codeFiles, "file");
    Json kinds = Json::array();
    for (const FailureKind& k : f.failures)
        kinds.push_back(Json{{"result", k.result}, {"text", k.text}, {"count", k.count}});
    out["failures"] = Json{{"bad", f.total.bad},
                           {"link", f.total.link},
                           {"stopped", f.total.stopped},
                           {"uncounted", f.total.link + f.total.stopped},
                           {"kinds", kinds}};
    Json cycles = Json::array();
    for (const CycleTime& c : f.cycles)
        cycles.push_back(Json{{"chip", c.chip}, {"chips", c.chips}, {"median_ms", c.medianMs}, {"p95_ms", c.p95Ms}});
    out["cycle_times"] = cycles;
    out["active_hours"] = f.activeHours;
    out["chips_per_hour"] = std::round(f.chipsPerHour * 100) / 100;
    out["busiest_hour"] = f.busiestHour.name.empty()
                              ? Json(nullptr)
                              : Json{{"hour", f.busiestHour.name}, {"chips", f.busiestHour.counts.Counted()}};
    Json held = Json::array();
    for (const HeldCode& h : f.held) held.push_back(Json{{"code", h.code}, {"holder", h.holder}, {"time", h.time}});
    out["id_codes"] = Json{{"count", f.idCodes},
                           {"repeats", f.idRepeats},
                           {"ranges", Spans(f.idRanges)},
                           {"gaps", Spans(f.idGaps)},
                           {"held", held}};
    return out;
}

}  // namespace veldrix
