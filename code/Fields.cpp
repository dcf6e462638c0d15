#include "code/Fields.h"

#include <algorithm>

#include "seams/Files.h"

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

// Bytes of the UTF-8 character at pos; a byte that starts no whole character
// counts as one.
size_t CharacterLength(std::string_view text, size_t pos) {
    uint8_t lead = uint8_t(text[pos]);
    size_t length = lead >= 0xF8 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (pos + length > text.size()) return 1;
    for (size_t i = 1; i < length; ++i)
        if ((uint8_t(text[pos + i]) & 0xC0) != 0x80) return 1;
    return length;
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

std::string FirstCharacters(std::string_view text, size_t count) {
    size_t end = 0;
    for (size_t n = 0; n < count && end < text.size(); ++n) end += CharacterLength(text, end);
    return std::string(text.substr(0, end));
}

std::string CutToCodePage(std::string_view text, size_t maxBytes) {
    // Character by character: each takes at least one byte, so the walk ends
    // within maxBytes + 1 characters however long the text.
    size_t end = 0, used = 0;
    while (end < text.size()) {
        size_t length = CharacterLength(text, end);
        used += ToFileText(text.substr(end, length)).size();
        if (used > maxBytes) break;
        end += length;
    }
    return std::string(text.substr(0, end));
}

}  // namespace veldrix
