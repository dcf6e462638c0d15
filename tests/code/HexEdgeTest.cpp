#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "state/AppContext.h"
#include "code/HexFile.h"
#include "tests/code/HexText.h"

namespace veldrix {
namespace {

using test::DataRecord;
using test::HexRecord;

// Leaves a pattern in the stack the parser will use next, so anything it
// reads without having written it shows up as a difference between patterns.
__attribute__((noinline)) void ScribbleStack(uint8_t pattern) {
    uint8_t area[16384];
    std::memset(area, pattern, sizeof area);
    asm volatile("" : : "r"(area) : "memory");
}

struct Parsed {
    HexStatus status;
    uint32_t end;
    std::vector<uint8_t> image;
};

__attribute__((noinline)) Parsed ParseOnScribbledStack(const std::string& text, uint8_t pattern) {
    Parsed p{HexStatus::Ok, 0, std::vector<uint8_t>(kImageSize, 0xFF)};
    ScribbleStack(pattern);
    p.status = ParseHexText(text, p.image.data(), p.end);
    return p;
}

TEST(HexEdge, AddressRecordWithoutItsTwoBytesGivesTheSameBaseEveryTime) {
    // A segment record of length 0: its checksum is the only byte after the
    // type, the second address byte is missing.
    const std::string text = ":00000002FE\n" + DataRecord(0, {0x42}) + "\n";
    Parsed first = ParseOnScribbledStack(text, 0x00);
    for (uint8_t pattern : {0xA5, 0x5A, 0xFF}) {
        SCOPED_TRACE(int(pattern));
        Parsed again = ParseOnScribbledStack(text, pattern);
        EXPECT_EQ(again.status, first.status);
        EXPECT_EQ(again.end, first.end);
        EXPECT_TRUE(again.image == first.image);
    }
    // Nothing was there before it: the missing byte reads 0.
    EXPECT_EQ(first.status, HexStatus::Ok);
    EXPECT_EQ(first.end, 0xFE001u);
    EXPECT_EQ(first.image[0xFE000], 0x42);
}

TEST(HexEdge, EmptyRecordBeyondTheImageLeavesTheEndInsideIt) {
    std::vector<uint8_t> image(kImageSize, 0xFF);
    uint32_t end = 0;
    // Linear base 0xFC000000, then an empty data record at 0x0FFF above it.
    const std::string beyond = DataRecord(0x10, {1, 2, 3}) + "\n" + HexRecord(0x04, 0, {0xFC, 0x00}) + "\n" +
                               DataRecord(0x0FFF, {}) + "\n";
    EXPECT_EQ(ParseHexText(beyond, image.data(), end), HexStatus::Ok);
    EXPECT_EQ(end, 0x13u);
    // The same through a segment base just past the image.
    const std::string segment = HexRecord(0x02, 0, {0xFF, 0xFF}) + "\n" + DataRecord(0x0011, {}) + "\n";
    EXPECT_EQ(ParseHexText(segment, image.data(), end), HexStatus::Ok);
    EXPECT_EQ(end, 0u);
    // At the very end of the image an empty record still sets the end.
    const std::string atEnd = HexRecord(0x04, 0, {0x00, 0x10}) + "\n" + DataRecord(0, {}) + "\n";
    EXPECT_EQ(ParseHexText(atEnd, image.data(), end), HexStatus::Ok);
    EXPECT_EQ(end, kImageSize);
    // Data out there still fails the whole file.
    const std::string data = HexRecord(0x04, 0, {0xFC, 0x00}) + "\n" + DataRecord(0x0FFF, {7}) + "\n";
    EXPECT_EQ(ParseHexText(data, image.data(), end), HexStatus::OutOfBuffer);
    EXPECT_EQ(end, 0u);
    EXPECT_TRUE(std::all_of(image.begin() + 0x13, image.end(), [](uint8_t b) { return b == 0xFF; }));
}

}  // namespace
}  // namespace veldrix
