#include "cli/Text.h"

#include <algorithm>
#include <cctype>

namespace veldrix::cli {

namespace {

bool Wide(uint32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

size_t Distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

size_t DisplayWidth(const std::string& text) {
    size_t columns = 0;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        uint32_t code = length == 1 ? c : uint32_t(c & (0x7F >> length));
        for (size_t k = 1; k < length && i + k < text.size(); ++k)
            code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        columns += Wide(code) ? 2 : 1;
        i += length;
    }
    return columns;
}

std::string Padded(const std::string& text, size_t width) {
    size_t columns = DisplayWidth(text);
    return columns >= width ? text + " " : text + std::string(width - columns, ' ');
}

std::vector<std::string> Nearest(const std::string& word, const std::vector<std::string>& candidates, size_t limit) {
    const std::string w = Lower(word);
    std::vector<std::pair<size_t, std::string>> scored;
    for (const std::string& c : candidates) {
        const std::string l = Lower(c);
        size_t d = Distance(w, l);
        // A typo is a few letters off; a name that begins with the word is
        // also what was meant.
        bool prefix = w.size() >= 3 && l.rfind(w, 0) == 0;
        if (d <= std::max<size_t>(2, w.size() / 3) || prefix) scored.emplace_back(prefix ? 0 : d, c);
    }
    std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (const auto& [d, c] : scored) {
        if (out.size() >= limit) break;
        if (std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
    }
    return out;
}

std::string OrList(const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += i + 1 == names.size() ? " 或 " : ", ";
        out += names[i];
    }
    return out;
}

}  // namespace veldrix::cli
