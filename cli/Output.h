#pragma once
// Everything veldrix-cli reports goes through here as events. Data (listings,
// the values asked for, the chips' lines, the summary table) go to standard
// output; the "结果:" line, steps, status texts, boxes, notes and the progress
// bar to standard error. With --json every event is one JSON object a line on
// standard output. When the data itself goes to standard output (read -),
// every other line goes to standard error. Units report from their own
// threads.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

namespace veldrix::cli {

using Json = nlohmann::ordered_json;

// The exit statuses, worst last.
enum Exit : int {
    kExitOk = 0,
    kExitChip = 1,
    kExitLink = 2,
    kExitUsage = 3,
    kExitRefused = 4,
    kExitIdUsedUp = 5,
    kExitInterrupted = 130,  // Ctrl-C, as a shell reports SIGINT
};
const char* ExitWord(int exit);  // "ok", "chip", "link", "usage", "refused", "id-used-up", "interrupted"

struct OutputStyle {
    bool json = false;
    bool verbose = false;      // every status change as a line
    bool quiet = false;        // only results and errors
    bool progressBar = false;  // standard error is a terminal
    bool prefix = false;       // several units: lines carry the port
    bool dataOnStdout = false;  // standard output carries data: every line to standard error
};

// Where a text line goes.
enum class Stream { Result, Message };

// Whether an event kind is a result (standard output) or a message.
Stream StreamOf(const std::string& kind);

class Output {
public:
    Output(std::ostream& out, std::ostream& err, OutputStyle style) : out_(out), err_(err), style_(style) {}

    const OutputStyle& Style() const { return style_; }

    // One event: kind, the unit's port (empty for none), the time in ms, and
    // the fields of its kind. Written as a JSON line, or as text (nothing
    // when text is empty).
    void Emit(const std::string& kind, const std::string& unit, double ms, Json fields, const std::string& text);
    // The progress of a unit's operation (a bar with the time since it began
    // and the rate on a terminal; a JSON event when the whole percentage
    // changes). bytes: how many of its bytes are done.
    void Progress(const std::string& unit, double ms, const std::string& text, uint32_t address, int percent,
                  uint64_t bytes);
    // Ends the progress display of a unit.
    void ProgressDone(const std::string& unit);
    // A note for the person at the terminal (standard error, never JSON).
    void Note(const std::string& text);
    // Text as it stands (listings, the summary table); nothing with --json.
    void Line(const std::string& unit, const std::string& text, Stream stream);
    // Clears the progress line: at the end, and when interrupted.
    void Finish();
    // The data itself on standard output (read -); false when it could not be written.
    bool Data(const std::string& bytes);
    // Called with every event's kind and fields (tests).
    void Observe(std::function<void(const std::string& kind, const Json& fields)> observer) {
        observer_ = std::move(observer);
    }

private:
    void ClearBar();   // with mutex_ held
    void DrawBar();    // with mutex_ held
    std::string Prefix(const std::string& unit) const;

    std::ostream& out_;
    std::ostream& err_;
    OutputStyle style_;
    std::mutex mutex_;
    std::ostream& StreamFor(Stream stream) { return stream == Stream::Result && !style_.dataOnStdout ? out_ : err_; }
    struct Bar {
        int percent = -1;
        std::string text;
        double startMs = 0;  // when this run of the bar began
        double nowMs = 0;
        uint64_t bytes = 0;
    };
    std::map<std::string, Bar> bars_;
    bool barShown_ = false;
    std::function<void(const std::string&, const Json&)> observer_;
};

}  // namespace veldrix::cli
