#include "code/Fields.h"

#include <algorithm>

namespace veldrix {

const std::string_view HexCharset("0123456789ABCDEFabcdef\x07\x0A\x0D\x09", 26);

namespace {
int DigitValue(char c, int base) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else return -1;
    return v < base ? v : -1;
}
}  // namespace

int32_t ParseDigits(std::string_view text, int base) {
    if (base != 2 && base != 10 && base != 16) return -1;
    uint32_t result = 0, weight = 1;
    for (size_t i = text.size(); i-- > 0;) {
        int d = DigitValue(text[i], base);
        if (d < 0) return -1;
        result += uint32_t(d) * weight;
        weight *= uint32_t(base);
    }
    return int32_t(result);
}

bool FormatDigits(int base, uint32_t value, std::string& out, size_t capacity, int width) {
    out.clear();
    if (base != 2 && base != 10 && base != 16) return false;
    std::string digits;  // least significant first
    for (uint32_t v = value; v != 0; v /= uint32_t(base)) digits.push_back("0123456789ABCDEF"[v % uint32_t(base)]);
    if (digits.size() > capacity) return false;
    size_t want = width == 255 ? (digits.empty() ? 1 : digits.size()) : size_t(width);
    if (digits.size() < want) out.assign(want - digits.size(), '0');
    out.append(digits.rbegin(), digits.rend());
    return true;
}

bool OnlyCharsFrom(std::string_view allowed, std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [&](char c) { return allowed.find(c) != std::string_view::npos; });
}

bool PadLeftZeros(std::string_view text, int width, std::string& out) {
    out.clear();
    if (text.size() > 40) return false;
    size_t w = size_t(width);
    if (text.size() > w) text = text.substr(text.size() - w);
    out.assign(w - text.size(), '0');
    out.append(text);
    return true;
}

std::string Hex(uint32_t value, int width) {
    std::string out;
    FormatDigits(16, value, out, 32, width);
    return out;
}

std::string Dec(uint32_t value, int width) {
    std::string out;
    FormatDigits(10, value, out, 32, width);
    return out;
}

}  // namespace veldrix
