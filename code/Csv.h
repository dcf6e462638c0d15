#pragma once
// Comma-separated values as RFC 4180 has them: fields with a comma, a quote
// or a line break are quoted, quotes inside doubled, records end in CR LF.
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace veldrix {

// Adds one field (no separator). A CR inside the text is left out, so that
// CR LF only ever ends a record: a file that ends in CR LF ends whole.
void AppendCsvField(std::string& out, std::string_view field);
// The fields as one record, with its CR LF.
std::string CsvRecord(const std::vector<std::string>& fields);

// Records from text that arrives in pieces. A record counts once its line end
// (CR LF or LF) has come: a last line without one is torn and never handed
// over. Empty lines are no records. A record longer than kMaxRecord is taken
// for damage: it is skipped up to the next line end.
class CsvReader {
public:
    // The fields of one record, valid during the call; false stops reading.
    using Take = std::function<bool(const std::vector<std::string_view>& fields)>;
    static constexpr size_t kMaxRecord = 64 * 1024;

    explicit CsvReader(Take take) : take_(std::move(take)) {}
    // False once take asked to stop.
    bool Feed(std::string_view piece);
    // Whether text of an unfinished record is waiting (a torn end, if no more comes).
    bool Pending() const { return !carry_.empty(); }
    // The bytes fed that belong to no record handed over yet: what was read
    // up to a whole record is everything fed less these.
    size_t Waiting() const { return carry_.size(); }

private:
    // Hands over every whole record at the start of text; the bytes used.
    size_t Parse(std::string_view text);
    std::string_view Scratch(std::string text);

    Take take_;
    std::string carry_;
    bool stopped_ = false;
    std::vector<std::string_view> fields_;
    std::deque<std::string> scratch_;  // fields that had to be rewritten; stable addresses
    size_t scratchUsed_ = 0;
};

}  // namespace veldrix
