#include "code/Csv.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veldrix {

namespace {

constexpr std::array<bool, 256> kFieldEnds = [] {
    std::array<bool, 256> t{};
    t[size_t(',')] = t[size_t('\r')] = t[size_t('\n')] = true;
    return t;
}();

// The first comma, CR or LF from pos on (n when none), sixteen or eight
// bytes at a time: a start-up reads a year of records.
size_t FindFieldEnd(const char* s, size_t pos, size_t n) {
#if defined(__SSE2__)
    const __m128i comma = _mm_set1_epi8(','), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    for (; pos + 16 <= n; pos += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + pos));
        __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, comma), _mm_cmpeq_epi8(bytes, cr)),
                                    _mm_cmpeq_epi8(bytes, lf));
        if (int mask = _mm_movemask_epi8(hits)) return pos + size_t(__builtin_ctz(unsigned(mask)));
    }
#endif
    constexpr uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
    auto zeroBytes = [](uint64_t x) { return (x - kOnes) & ~x & kHighs; };
    for (; pos + 8 <= n; pos += 8) {
        uint64_t word;
        std::memcpy(&word, s + pos, 8);
        uint64_t hits =
            zeroBytes(word ^ (kOnes * ',')) | zeroBytes(word ^ (kOnes * '\r')) | zeroBytes(word ^ (kOnes * '\n'));
        // The lowest flag is exact; bytes are in memory order on the little-endian machines we run on.
        if (hits) return pos + size_t(__builtin_ctzll(hits) / 8);
    }
    while (pos < n && !kFieldEnds[uint8_t(s[pos])]) ++pos;
    return pos;
}

bool NeedsQuotes(std::string_view field) { return field.find_first_of(",\"\r\n") != std::string_view::npos; }

}  // namespace

void AppendCsvField(std::string& out, std::string_view field) {
    if (!NeedsQuotes(field)) {
        out.append(field);
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '\r') continue;
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

std::string CsvRecord(const std::vector<std::string>& fields) {
    std::string out;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) out += ',';
        AppendCsvField(out, fields[i]);
    }
    out += "\r\n";
    return out;
}

bool CsvReader::Feed(std::string_view piece) {
    if (stopped_) return false;
    if (carry_.empty()) {
        size_t used = Parse(piece);
        carry_.assign(piece.substr(used));
    } else {
        carry_.append(piece);
        size_t used = Parse(carry_);
        carry_.erase(0, used);
    }
    if (carry_.size() > kMaxRecord) {
        // Nothing of ours is this long: go on after the next line end.
        size_t lf = carry_.find('\n', kMaxRecord);
        if (lf == std::string::npos)
            carry_.clear();
        else
            carry_.erase(0, lf + 1);
        if (!carry_.empty() && !stopped_) Feed({});
    }
    return !stopped_;
}

std::string_view CsvReader::Scratch(std::string text) {
    if (scratchUsed_ == scratch_.size()) scratch_.emplace_back();
    std::string& slot = scratch_[scratchUsed_++];
    slot = std::move(text);
    return slot;
}

size_t CsvReader::Parse(std::string_view text) {
    const char* s = text.data();
    const size_t n = text.size();
    size_t pos = 0;
    while (!stopped_) {
        const size_t start = pos;
        fields_.clear();
        scratchUsed_ = 0;
        for (;;) {  // one field and what ends it
            if (pos == n) return start;
            std::string_view field;
            if (s[pos] == '"') {
                size_t from = ++pos;
                bool doubled = false;
                for (;;) {
                    const void* q = pos < n ? std::memchr(s + pos, '"', n - pos) : nullptr;
                    if (!q) return start;
                    pos = size_t(static_cast<const char*>(q) - s);
                    if (pos + 1 == n) return start;  // a doubled quote or the closing one: not known yet
                    if (s[pos + 1] != '"') break;
                    doubled = true;
                    pos += 2;
                }
                size_t to = pos++;
                // Text between the closing quote and the separator is kept, as
                // spreadsheets do.
                size_t after = pos;
                pos = FindFieldEnd(s, pos, n);
                if (pos == n) return start;
                if (!doubled && after == pos) {
                    field = std::string_view(s + from, to - from);
                } else {
                    std::string unquoted;
                    for (size_t i = from; i < to; ++i) {
                        unquoted += s[i];
                        if (s[i] == '"') ++i;
                    }
                    unquoted.append(s + after, pos - after);
                    field = Scratch(std::move(unquoted));
                }
            } else {
                size_t from = pos;
                for (;;) {
                    pos = FindFieldEnd(s, pos, n);
                    if (pos == n) return start;
                    // A CR that ends no line is text.
                    if (s[pos] == '\r') {
                        if (pos + 1 == n) return start;
                        if (s[pos + 1] != '\n') {
                            ++pos;
                            continue;
                        }
                    }
                    break;
                }
                field = std::string_view(s + from, pos - from);
            }
            fields_.push_back(field);
            if (s[pos] == ',') {
                ++pos;
                continue;
            }
            if (s[pos] == '\r') {
                if (pos + 1 == n) return start;
                if (s[pos + 1] == '\n') ++pos;  // a lone CR after a closing quote ends the record too
            }
            ++pos;
            break;
        }
        bool empty = fields_.size() == 1 && fields_[0].empty() && s[start] != '"';
        if (!empty && pos - start <= kMaxRecord && !take_(fields_)) stopped_ = true;
    }
    return pos;
}

}  // namespace veldrix
