#pragma once
// The wire trace's text: one port call a line, tab-separated, after a first
// line that names the format and its version.
//
//   # veldrix-trace 1
//   MICROS <tab> CALL <tab> ARGUMENT <tab> RESULT <tab> BYTES
//
// MICROS is a monotonic time stamp in microseconds; BYTES are two hex digits
// each, a blank between them, "**" for a byte kept out of the trace (the
// command block's password field and its echo). Lines starting with '#'
// after the first are remarks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace veldrix::trace {

constexpr const char* kFirstLine = "# veldrix-trace 1";
constexpr int kMasked = -1;  // a byte written as "**"

struct Line {
    int number = 0;  // in the file, from 1
    uint64_t micros = 0;
    std::string call, argument, result;
    std::vector<int> bytes;  // 0..255, or kMasked
};

// One line without its newline; mask (if given) holds a flag for each byte.
std::string FormatLine(uint64_t micros, const char* call, const std::string& argument, const std::string& result,
                       const uint8_t* bytes = nullptr, size_t count = 0, const bool* mask = nullptr);

// The lines of a trace; false with why (and the line) when it is not one.
bool ParseTrace(const std::string& text, std::vector<Line>& lines, std::string& error);

// "4f 4b" for a trace's bytes; "**" where masked.
std::string BytesText(const std::vector<int>& bytes);

}  // namespace veldrix::trace
