#pragma once
// Terminal text: columns as a terminal shows them, and the nearest of a set
// of names for a typo.
#include <cstddef>
#include <string>
#include <vector>

namespace veldrix::cli {

// Columns a UTF-8 text takes on a terminal: East Asian wide characters two.
size_t DisplayWidth(const std::string& text);
// text and blanks up to width columns; at least one blank after a longer text.
std::string Padded(const std::string& text, size_t width);
// The names of candidates closest to word (case-insensitive edit distance),
// nearest first, at most limit of them; none when nothing is close.
std::vector<std::string> Nearest(const std::string& word, const std::vector<std::string>& candidates, size_t limit = 3);
// "a, b 或 c"
std::string OrList(const std::vector<std::string>& names);

}  // namespace veldrix::cli
