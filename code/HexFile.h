#pragma once
// Intel HEX code files into the code buffer.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veldrix {

struct AppContext;

// Where a file's data lies about the 16-bit programming range: nothing at or
// above 0x10000 is programmed, and the range must end below it.
struct Span16Bit {
    uint32_t endBelow = 0;     // one past the highest address below 0x10000 holding data; 0: none
    uint32_t lowestAbove = 0;  // the lowest address above 0xFFFF holding data; 0: none
    uint32_t endAbove = 0;     // one past the highest of them
};

// One past the highest address written by a record that started at or above
// the previous highest end; 0 on failure (LinkErrorFlag raised) or when no
// data record was found. span, when given, receives where the data lies
// about 0x10000.
uint32_t LoadHexFile(AppContext& ctx, const std::string& path, Span16Bit* span = nullptr);

enum class HexStatus { Ok, LineChecksum, OutOfBuffer };
// The records of HEX text into a 1 MiB image (not filled first); highestEnd as
// LoadHexFile returns it, never beyond the image. Stops at the first line
// whose checksum fails or whose data would lie beyond the image.
HexStatus ParseHexText(std::string_view text, uint8_t* image, uint32_t& highestEnd);

// A line of a HEX file that the loader refuses the file for, or passes over.
struct HexIssue {
    enum class Kind {
        Checksum,        // refused: the line's bytes do not sum to 0
        OutOfBuffer,     // refused: data beyond the 1 MB image
        NoRecordMark,    // passed over: no ':' in a line that is not blank
        BadCharacter,    // passed over: a character that is no hex digit after the ':'
        TooShort,        // passed over: fewer characters than the smallest record
        BadLengthField,  // passed over: the length field is not two hex digits
        LengthMismatch,  // passed over: fewer digits than the length field announces
        UnknownType,     // passed over: a record type the loader does not know
        Above16Bit,      // loaded, but beyond the 16-bit programming range
    };
    uint64_t line = 0;  // from 1, as an editor counts them
    Kind kind = Kind::Checksum;
    bool refused = false;
    uint8_t statedSum = 0, rightSum = 0;  // Checksum: the line's last byte, and the one that sums to 0
    uint64_t address = 0;  // OutOfBuffer: the record's first address; Above16Bit: its first one above 0xFFFF
    uint8_t recordType = 0;  // UnknownType
};

// True for the kinds of line whose code may be missing from a load that
// succeeds: passed over, or loaded where it is never programmed.
bool MayLoseCode(HexIssue::Kind kind);
// The issue in a line of text, without the line number.
std::string DescribeHexIssue(const HexIssue& issue);

struct HexDiagnosis {
    bool readOk = false;
    bool refused = false;  // the loader refuses the file (a Checksum or OutOfBuffer line)
    std::vector<HexIssue> issues;  // in line order, at most maxIssues
    uint64_t moreIssues = 0;       // those beyond maxIssues
    uint64_t lines = 0;
    uint64_t recordsUsed = 0;
    uint32_t highestEnd = 0;  // as LoadHexFile would return it, were nothing refused
    Span16Bit span;
    // Lines that may lose code, all of them (data above 0xFFFF counts once),
    // and the first of them; blank lines and records 01, 03 and 05 are normal.
    uint64_t losingLines = 0;
    HexIssue firstLoss;
    bool MayLoseCode() const { return losingLines > 0; }
};

// Every line of the file as the loader judges it, going on past the line that
// ends a load; the window's loading is not changed by it. Data above 0xFFFF
// is one issue, at the first record that holds some.
HexDiagnosis DiagnoseHexFile(const std::string& path, size_t maxIssues = 1000);

}  // namespace veldrix
