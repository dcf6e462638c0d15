#pragma once
// Text-and-number helpers for the address and value fields, and the measure
// of text in the fixed fields of files, settings and the unit.
#include <cstdint>
#include <string>
#include <string_view>

namespace veldrix {

// Hex digits followed by BEL, LF, CR and TAB, so a line read from a file keeps
// its line end through the check.
extern const std::string_view HexCharset;

// Value of text in base 2, 10 or 16 (modulo 2^32); -1 for a character that is
// not a digit of that base; 0 for an empty text.
int32_t ParseDigits(std::string_view text, int base);
// Upper-case digits, left-padded with '0' to width (255 = no padding). False and
// an empty out when the base is not 2, 10 or 16 or the digits exceed capacity.
bool FormatDigits(int base, uint32_t value, std::string& out, size_t capacity, int width);
bool OnlyCharsFrom(std::string_view allowed, std::string_view text);
// text right-aligned in exactly width characters, zero-filled; a text of more
// than 40 characters gives an empty out and false.
bool PadLeftZeros(std::string_view text, int width, std::string& out);

// At least width upper-case hex digits.
std::string Hex(uint32_t value, int width);
// At least width decimal digits.
std::string Dec(uint32_t value, int width = 1);

// The first count characters of UTF-8 text.
std::string FirstCharacters(std::string_view text, size_t count);
// The longest start of text, in whole characters, that takes at most maxBytes
// in the system code page: a field of so many bytes, cut where the operator
// still reads whole characters.
std::string CutToCodePage(std::string_view text, size_t maxBytes);

}  // namespace veldrix
