#pragma once
// Everything veldrix-cli reports goes through here as events: lines on
// standard output (text, or one JSON object a line with --json) and the
// progress bar on standard error. Units report from their own threads.
#include <cstdint>
#include <map>
#include <mutex>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

namespace veldrix::cli {

using Json = nlohmann::ordered_json;

// The exit statuses, worst last.
enum Exit : int { kExitOk = 0, kExitChip = 1, kExitLink = 2, kExitUsage = 3, kExitRefused = 4 };
const char* ExitWord(int exit);  // "ok", "chip", "link", "usage", "refused"

struct OutputStyle {
    bool json = false;
    bool verbose = false;      // every status change as a line
    bool progressBar = false;  // standard error is a terminal
    bool prefix = false;       // several units: lines carry the port
};

class Output {
public:
    Output(std::ostream& out, std::ostream& err, OutputStyle style) : out_(out), err_(err), style_(style) {}

    const OutputStyle& Style() const { return style_; }

    // One event: kind, the unit's port (empty for none), the time in ms, and
    // the fields of its kind. Written as a JSON line, or as text (nothing
    // when text is empty).
    void Emit(const std::string& kind, const std::string& unit, double ms, Json fields, const std::string& text);
    // The progress of a unit's operation (a bar on a terminal; a JSON event
    // when the whole percentage changes).
    void Progress(const std::string& unit, double ms, const std::string& text, uint32_t address, int percent);
    // Ends the progress display of a unit.
    void ProgressDone(const std::string& unit);
    // A note for the person at the terminal (standard error, never JSON).
    void Note(const std::string& text);
    // Text straight to standard output (listings, the summary table).
    void Line(const std::string& unit, const std::string& text);

private:
    void ClearBar();   // with mutex_ held
    void DrawBar();    // with mutex_ held
    std::string Prefix(const std::string& unit) const;

    std::ostream& out_;
    std::ostream& err_;
    OutputStyle style_;
    std::mutex mutex_;
    struct Bar {
        int percent = -1;
        std::string text;
    };
    std::map<std::string, Bar> bars_;
    bool barShown_ = false;
};

}  // namespace veldrix::cli
