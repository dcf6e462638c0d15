#include "code/WireTrace.h"

#include <cstdlib>

namespace veldrix::trace {

namespace {
const char kHex[] = "0123456789abcdef";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
        fields.push_back(line.substr(from, tab - from));
    fields.push_back(line.substr(from));
    return fields;
}
}  // namespace

std::string FormatLine(uint64_t micros, const char* call, const std::string& argument, const std::string& result,
                       const uint8_t* bytes, size_t count, const bool* mask) {
    std::string line = std::to_string(micros);
    line.reserve(line.size() + 16 + argument.size() + result.size() + count * 3);
    line += '\t';
    line += call;
    line += '\t';
    line += argument;
    line += '\t';
    line += result;
    line += '\t';
    for (size_t i = 0; i < count; ++i) {
        if (i) line += ' ';
        if (mask && mask[i]) {
            line += "**";
        } else {
            line += kHex[bytes[i] >> 4];
            line += kHex[bytes[i] & 15];
        }
    }
    return line;
}

std::string BytesText(const std::vector<int>& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) text += ' ';
        if (bytes[i] == kMasked) {
            text += "**";
        } else {
            text += kHex[bytes[i] >> 4];
            text += kHex[bytes[i] & 15];
        }
    }
    return text;
}

bool ParseTrace(const std::string& text, std::vector<Line>& lines, std::string& error) {
    lines.clear();
    size_t from = 0;
    for (int number = 1; from < text.size(); ++number) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        std::string raw = text.substr(from, end - from);
        from = end + 1;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (number == 1) {
            if (raw != kFirstLine) {
                error = "line 1: not a trace of this version (\"" + std::string(kFirstLine) + "\" expected)";
                return false;
            }
            continue;
        }
        if (raw.empty() || raw[0] == '#') continue;
        std::vector<std::string> f = Fields(raw);
        char* stop = nullptr;
        Line line;
        line.number = number;
        line.micros = std::strtoull(f[0].c_str(), &stop, 10);
        if (f.size() != 5 || f[0].empty() || *stop != 0) {
            error = "line " + std::to_string(number) + ": five fields expected, the first a time stamp";
            return false;
        }
        line.call = f[1];
        line.argument = f[2];
        line.result = f[3];
        const std::string& b = f[4];
        for (size_t i = 0; i < b.size(); i += 3) {
            if (i + 2 > b.size() || (i + 2 < b.size() && b[i + 2] != ' ')) {
                error = "line " + std::to_string(number) + ": bytes are two hex digits each, a blank between";
                return false;
            }
            if (b[i] == '*' && b[i + 1] == '*') {
                line.bytes.push_back(kMasked);
                continue;
            }
            int high = HexDigit(b[i]), low = HexDigit(b[i + 1]);
            if (high < 0 || low < 0) {
                error = "line " + std::to_string(number) + ": \"" + b.substr(i, 2) + "\" is not a byte";
                return false;
            }
            line.bytes.push_back(high << 4 | low);
        }
        lines.push_back(std::move(line));
    }
    if (lines.empty() && text.rfind(kFirstLine, 0) != 0) {
        error = "line 1: not a trace of this version (\"" + std::string(kFirstLine) + "\" expected)";
        return false;
    }
    return true;
}

}  // namespace veldrix::trace
