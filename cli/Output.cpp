#include "cli/Output.h"

#include <cstdio>
#include <sstream>

namespace veldrix::cli {

const char* ExitWord(int exit) {
    switch (exit) {
    case kExitOk: return "ok";
    case kExitChip: return "chip";
    case kExitLink: return "link";
    case kExitUsage: return "usage";
    case kExitRefused: return "refused";
    case kExitIdUsedUp: return "id-used-up";
    case kExitInterrupted: return "interrupted";
    }
    return "unknown";
}

Stream StreamOf(const std::string& kind) {
    // The call's own "结果:" line is a message: standard output holds only
    // what was asked for, for a pipe to read.
    static const char* const kResults[] = {"summary", "port", "block", "file", "hex-issue", "chip", "chips", "report"};
    for (const char* k : kResults)
        if (kind == k) return Stream::Result;
    return Stream::Message;
}

std::string Output::Prefix(const std::string& unit) const {
    return style_.prefix && !unit.empty() ? "[" + unit + "] " : "";
}

void Output::ClearBar() {
    if (!barShown_) return;
    err_ << "\r\033[K" << std::flush;
    barShown_ = false;
}

namespace {

// "3.2s 12.5KB/s": the time since the bar began and the rate over it.
std::string Pace(double ms, uint64_t bytes) {
    char text[48];
    double seconds = ms / 1000;
    if (seconds < 0.05) {
        std::snprintf(text, sizeof text, "%.1fs", seconds);
        return text;
    }
    double rate = double(bytes) / seconds;
    if (rate >= 1024) std::snprintf(text, sizeof text, "%.1fs %.1fKB/s", seconds, rate / 1024);
    else std::snprintf(text, sizeof text, "%.1fs %.0fB/s", seconds, rate);
    return text;
}

}  // namespace

void Output::DrawBar() {
    if (style_.quiet) return;
    std::ostringstream line;
    for (const auto& [unit, bar] : bars_) {
        if (bar.percent < 0) continue;
        if (line.tellp() > 0) line << "  ";
        if (style_.prefix) line << unit << ' ';
        if (bars_.size() == 1) {
            // One unit: a bar, the time and rate, and the operation's own words.
            int filled = bar.percent / 5;
            line << '[' << std::string(size_t(filled), '#') << std::string(size_t(20 - filled), '-') << "] "
                 << bar.percent << "% " << Pace(bar.nowMs - bar.startMs, bar.bytes) << ' ' << bar.text;
        } else {
            line << bar.percent << '%';
        }
    }
    err_ << "\r\033[K" << line.str() << std::flush;
    barShown_ = true;
}

void Output::Emit(const std::string& kind, const std::string& unit, double ms, Json fields, const std::string& text) {
    if (observer_) observer_(kind, fields);
    std::lock_guard lock(mutex_);
    if (!style_.json && text.empty()) return;
    if (style_.json) {
        Json event;
        event["event"] = kind;
        event["unit"] = unit.empty() ? Json(nullptr) : Json(unit);
        event["ms"] = double(int64_t(ms * 10 + 0.5)) / 10;
        for (auto& [key, value] : fields.items()) event[key] = value;
        ClearBar();
        StreamFor(Stream::Result) << event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n'
                                  << std::flush;
    } else if (!text.empty()) {
        ClearBar();
        std::ostream& to = StreamFor(StreamOf(kind));
        std::string prefix = Prefix(unit);
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) to << prefix << line << '\n';
        to << std::flush;
    }
    if (style_.progressBar && !bars_.empty()) DrawBar();
}

void Output::Progress(const std::string& unit, double ms, const std::string& text, uint32_t address, int percent,
                      uint64_t bytes) {
    bool emit = false, newStage = false;
    {
        std::lock_guard lock(mutex_);
        Bar& bar = bars_[unit];
        // A new stage starts its bar, its time and its rate again.
        if (bar.percent < 0 || percent < bar.percent) bar.startMs = ms;
        bar.nowMs = ms;
        bar.bytes = bytes;
        if (bar.percent == percent && bar.text == text) return;
        emit = bar.percent != percent;
        newStage = bar.text != text;
        bar.percent = percent;
        bar.text = text;
        if (style_.progressBar) DrawBar();
    }
    if (!emit && !newStage) return;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%05X", address);
    // JSON has every whole percent; the unit shows a new stage's text (verbose).
    Emit("progress", unit, ms, Json{{"text", text}, {"address", hex}, {"percent", percent}}, std::string());
}

void Output::ProgressDone(const std::string& unit) {
    std::lock_guard lock(mutex_);
    bars_.erase(unit);
    ClearBar();
    if (style_.progressBar && !bars_.empty()) DrawBar();
}

void Output::Note(const std::string& text) {
    std::lock_guard lock(mutex_);
    ClearBar();
    err_ << text << '\n' << std::flush;
    if (style_.progressBar && !bars_.empty()) DrawBar();
}

void Output::Line(const std::string& unit, const std::string& text, Stream stream) {
    if (style_.json || text.empty()) return;
    std::lock_guard lock(mutex_);
    ClearBar();
    std::ostream& to = StreamFor(stream);
    std::string prefix = Prefix(unit);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) to << prefix << line << '\n';
    to << std::flush;
    if (style_.progressBar && !bars_.empty()) DrawBar();
}

bool Output::Data(const std::string& bytes) {
    std::lock_guard lock(mutex_);
    out_.write(bytes.data(), std::streamsize(bytes.size()));
    out_.flush();
    return bool(out_);
}

void Output::Finish() {
    std::lock_guard lock(mutex_);
    bars_.clear();
    ClearBar();
}

}  // namespace veldrix::cli
