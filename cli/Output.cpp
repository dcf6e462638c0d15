#include "cli/Output.h"

#include <sstream>

namespace veldrix::cli {

const char* ExitWord(int exit) {
    switch (exit) {
    case kExitOk: return "ok";
    case kExitChip: return "chip";
    case kExitLink: return "link";
    case kExitUsage: return "usage";
    case kExitRefused: return "refused";
    }
    return "unknown";
}

std::string Output::Prefix(const std::string& unit) const {
    return style_.prefix && !unit.empty() ? "[" + unit + "] " : "";
}

void Output::ClearBar() {
    if (!barShown_) return;
    err_ << "\r\033[K" << std::flush;
    barShown_ = false;
}

void Output::DrawBar() {
    std::ostringstream line;
    for (const auto& [unit, bar] : bars_) {
        if (bar.percent < 0) continue;
        if (line.tellp() > 0) line << "  ";
        if (style_.prefix) line << unit << ' ';
        if (bars_.size() == 1) {
            // One unit: a bar and the operation's own words.
            int filled = bar.percent / 5;
            line << '[' << std::string(size_t(filled), '#') << std::string(size_t(20 - filled), '-') << "] "
                 << bar.percent << "% " << bar.text;
        } else {
            line << bar.percent << '%';
        }
    }
    err_ << "\r\033[K" << line.str() << std::flush;
    barShown_ = true;
}

void Output::Emit(const std::string& kind, const std::string& unit, double ms, Json fields, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (!style_.json && text.empty()) return;
    if (style_.json) {
        Json event;
        event["event"] = kind;
        event["unit"] = unit.empty() ? Json(nullptr) : Json(unit);
        event["ms"] = double(int64_t(ms * 10 + 0.5)) / 10;
        for (auto& [key, value] : fields.items()) event[key] = value;
        ClearBar();
        out_ << event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
    } else if (!text.empty()) {
        ClearBar();
        std::string prefix = Prefix(unit);
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) out_ << prefix << line << '\n';
        out_ << std::flush;
    }
    if (style_.progressBar && !bars_.empty()) DrawBar();
}

void Output::Progress(const std::string& unit, double ms, const std::string& text, uint32_t address, int percent) {
    bool emit = false;
    {
        std::lock_guard lock(mutex_);
        Bar& bar = bars_[unit];
        if (bar.percent == percent && bar.text == text) return;
        emit = bar.percent != percent;
        bar.percent = percent;
        bar.text = text;
        if (style_.progressBar) DrawBar();
    }
    if (!emit) return;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%05X", address);
    Emit("progress", unit, ms, Json{{"text", text}, {"address", hex}, {"percent", percent}},
         style_.verbose ? text : std::string());
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

void Output::Line(const std::string& unit, const std::string& text) {
    if (style_.json) return;
    Emit("", unit, 0, Json::object(), text);
}

}  // namespace veldrix::cli
