#include <gtest/gtest.h>

#include "code/TextLines.h"

namespace veldrix {
namespace {

// Each piece as text, with "|" standing for the line end.
std::vector<std::string> Pieces(std::string_view data, size_t max) {
    TextLineReader reader(data, max);
    std::vector<std::string> out;
    TextPiece p;
    while (reader.Next(p)) out.push_back(std::string(p.text) + (p.lineEnd ? "|" : ""));
    return out;
}

using V = std::vector<std::string>;

TEST(CodeFileLines, CrLfArrivesAsOneLineEnd) {
    EXPECT_EQ(Pieces("ab\r\ncd\n\r\nef", 10), (V{"ab|", "cd|", "|", "ef"}));
    EXPECT_EQ(Pieces("a\rb\r\r\n", 10), (V{"a\rb\r|"}));  // only the CR before LF goes
    EXPECT_EQ(Pieces("", 10), V{});
    EXPECT_EQ(Pieces("\n", 10), (V{"|"}));
}

TEST(CodeFileLines, LongLinesComeInPiecesWithTheLineEndCounted) {
    EXPECT_EQ(Pieces("abcd\n", 5), (V{"abcd|"}));
    EXPECT_EQ(Pieces("abcde\n", 5), (V{"abcde", "|"}));
    EXPECT_EQ(Pieces("abcdef\r\n", 5), (V{"abcde", "f|"}));
    EXPECT_EQ(Pieces("abcdefghijkl\nx", 5), (V{"abcde", "fghij", "kl|", "x"}));
    EXPECT_EQ(Pieces("abcde", 5), (V{"abcde"}));
}

}  // namespace
}  // namespace veldrix
