#include "code/HexFile.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "state/AppContext.h"
#include "code/Fields.h"
#include "code/TextLines.h"
#include "seams/Files.h"

namespace veldrix {

namespace {

constexpr size_t kLineChars = 1023;  // a 1024-byte line buffer
constexpr uint64_t kBufferLimit = kImageSize;
constexpr uint64_t k16BitLimit = 0x10000;  // the programming range has 16 bits
constexpr uint64_t kNoAddress = ~uint64_t(0);

// Table forms of HexCharset and of the digit values; a multi-megabyte file
// goes through every character, so the loop stays on plain arrays.
struct CharTables {
    bool allowed[256] = {};
    int8_t nibble[256];
    CharTables() {
        for (char c : HexCharset) allowed[static_cast<unsigned char>(c)] = true;
        for (int8_t& n : nibble) n = -1;
        for (int i = 0; i < 10; ++i) nibble['0' + i] = int8_t(i);
        for (int i = 0; i < 6; ++i) nibble['a' + i] = nibble['A' + i] = int8_t(10 + i);
    }
};
const CharTables kTables;

// The Skipped kinds are lines the loader passes over; they say why, for a
// diagnosis only.
enum class LineResult {
    Used,
    UsedAbove16Bit,  // stored, some of it above 0xFFFF
    SkippedUnknownType,
    ChecksumError,
    OutOfBuffer,
    SkippedNoMark,
    SkippedBadCharacter,
    SkippedShort,
    SkippedBadLength,
    SkippedLengthMismatch,
};

struct HexLoader {
    explicit HexLoader(uint8_t* image) : buffer(image) {}
    uint8_t* buffer;
    uint64_t base = 0;
    uint64_t highestEnd = 0;
    // Kept from line to line. An address record of length 0 takes its second
    // address byte from beyond its own bytes: that must be a byte this loader
    // wrote (0 before the first record), never whatever the memory held.
    uint8_t rec[255 + 5] = {};
    // What the last refused line held, for a diagnosis.
    uint8_t statedSum = 0, rightSum = 0;
    uint64_t refusedAddress = 0;
    // The last line's first address above 0xFFFF, and the lowest of all.
    uint64_t lineAbove16Bit = 0;
    uint64_t lowestAbove16Bit = kNoAddress;
    uint64_t endAbove16Bit = 0;
    uint64_t endBelow16Bit = 0;  // one past the highest data below 0x10000, whatever order the records came in

    LineResult Take(const TextPiece& piece) {
        const unsigned char* first = reinterpret_cast<const unsigned char*>(piece.text.data());
        const unsigned char* last = first + piece.text.size();
        // Editors leave blanks behind a record; they are not part of it.
        while (last > first && (last[-1] == ' ' || last[-1] == '\t')) --last;
        const unsigned char* colon = last;
        while (colon > first && colon[-1] != ':') --colon;
        if (colon == first) return LineResult::SkippedNoMark;
        const unsigned char* digits = colon;               // just after the last ':'
        size_t count = size_t(last - digits);
        for (const unsigned char* p = digits; p < last; ++p)
            if (!kTables.allowed[*p]) return LineResult::SkippedBadCharacter;

        size_t length = 1 + count + (piece.lineEnd ? 1 : 0);
        if (length < 11) return LineResult::SkippedShort;
        // A length field that is not two hex digits cannot be trusted.
        int hi = kTables.nibble[digits[0]], lo = kTables.nibble[digits[1]];
        if (hi < 0 || lo < 0) return LineResult::SkippedBadLength;
        size_t dataLength = size_t(hi * 16 + lo);
        if (length < 2 * dataLength + 11) return LineResult::SkippedLengthMismatch;

        // A pair that is not two hex digits (the line end, a tab) reads 0xFF,
        // as a failed parse does.
        size_t recLength = dataLength + 5;
        uint8_t sum = 0;
        for (size_t i = 0; i < recLength; ++i) {
            uint8_t value = 0xFF;
            if (2 * i + 1 < count) {
                int h = kTables.nibble[digits[2 * i]], l = kTables.nibble[digits[2 * i + 1]];
                if (h >= 0 && l >= 0) value = uint8_t(h * 16 + l);
            }
            rec[i] = value;
            sum = uint8_t(sum + value);
        }
        if (sum != 0) {
            statedSum = rec[recLength - 1];
            rightSum = uint8_t(statedSum - sum);
            return LineResult::ChecksumError;
        }

        uint8_t type = rec[3];
        if (type == 0x02 || type == 0x04) {
            uint64_t value = uint64_t(rec[4]) * 256 + rec[5];
            base = type == 0x02 ? value * 16 : value * 65536;
        } else if (type == 0x00 || type == 0x20) {
            uint64_t address = uint64_t(rec[1]) * 256 + rec[2] + base;
            if (address + dataLength > kBufferLimit) {
                refusedAddress = address;
                if (dataLength > 0) return LineResult::OutOfBuffer;
                // An empty record out there loses nothing, but the end it
                // would set lies beyond the image every reader of it holds.
                return LineResult::Used;
            }
            std::memcpy(buffer + address, rec + 4, dataLength);
            if (highestEnd <= address) highestEnd = address + dataLength;
            if (dataLength > 0 && address < k16BitLimit)
                endBelow16Bit = std::max(endBelow16Bit, std::min(address + dataLength, k16BitLimit));
            if (dataLength > 0 && address + dataLength > k16BitLimit) {
                lineAbove16Bit = std::max(address, k16BitLimit);
                lowestAbove16Bit = std::min(lowestAbove16Bit, lineAbove16Bit);
                endAbove16Bit = std::max(endAbove16Bit, address + dataLength);
                return LineResult::UsedAbove16Bit;
            }
        } else if (type > 0x05) {
            // Passed over like 01, 03 and 05, but it is no record of the format.
            return LineResult::SkippedUnknownType;
        }
        return LineResult::Used;
    }
};

// Feeds the loader whole lines only, so a file read in pieces is cut into
// the same line pieces as the file read at once.
class HexParser {
public:
    explicit HexParser(uint8_t* image) : loader_(image) {}

    // Sees every line piece's result with its line number (from 1). A parser
    // with an observer goes on past the lines that end a load.
    std::function<void(LineResult, uint64_t line, const TextPiece&, const HexLoader&)> observer;
    uint64_t Lines() const { return linesDone_; }
    Span16Bit Span() const {
        Span16Bit span;
        span.endBelow = uint32_t(loader_.endBelow16Bit);
        span.lowestAbove = loader_.lowestAbove16Bit == kNoAddress ? 0 : uint32_t(loader_.lowestAbove16Bit);
        span.endAbove = uint32_t(loader_.endAbove16Bit);
        return span;
    }

    // False once the parse has ended with an error.
    bool Feed(std::string_view text) {
        if (status_ != HexStatus::Ok) return false;
        size_t lastLf = text.rfind('\n');
        if (lastLf == std::string_view::npos) {
            pending_.append(text);
            TakeLongLineStart();
            return status_ == HexStatus::Ok;
        }
        if (pending_.empty()) {
            Lines(text.substr(0, lastLf + 1));
        } else {
            pending_.append(text.substr(0, lastLf + 1));
            Lines(pending_);
            pending_.clear();
        }
        pending_.assign(text.substr(lastLf + 1));
        TakeLongLineStart();
        return status_ == HexStatus::Ok;
    }
    HexStatus Finish(uint32_t& highestEnd) {
        if (!pending_.empty()) Lines(pending_);
        pending_.clear();
        highestEnd = status_ == HexStatus::Ok ? uint32_t(loader_.highestEnd) : 0;
        return status_;
    }

private:
    // A line with no end in sight is read in full pieces already, as the line
    // reader would cut it, so a file without line ends is not held whole.
    // Two characters stay: a CR before the LF is not part of the line.
    void TakeLongLineStart() {
        size_t taken = 0;
        while (status_ == HexStatus::Ok && pending_.size() - taken >= kLineChars + 2) {
            Take(TextPiece{std::string_view(pending_).substr(taken, kLineChars), false});
            taken += kLineChars;
        }
        pending_.erase(0, taken);
    }
    void Take(const TextPiece& piece) {
        LineResult result = loader_.Take(piece);
        if (observer) {
            observer(result, linesDone_ + 1, piece, loader_);
        } else {
            if (result == LineResult::ChecksumError) status_ = HexStatus::LineChecksum;
            if (result == LineResult::OutOfBuffer) status_ = HexStatus::OutOfBuffer;
        }
        if (piece.lineEnd) ++linesDone_;
    }
    void Lines(std::string_view lines) {
        TextLineReader reader(lines, kLineChars);
        TextPiece piece;
        // An end-of-file record does not end the read: the whole file counts.
        while (status_ == HexStatus::Ok && reader.Next(piece)) Take(piece);
    }

    HexLoader loader_;
    std::string pending_;  // the start of a line whose end has not arrived
    HexStatus status_ = HexStatus::Ok;
    uint64_t linesDone_ = 0;
};

HexIssue::Kind IssueKind(LineResult result) {
    switch (result) {
    case LineResult::ChecksumError: return HexIssue::Kind::Checksum;
    case LineResult::OutOfBuffer: return HexIssue::Kind::OutOfBuffer;
    case LineResult::SkippedNoMark: return HexIssue::Kind::NoRecordMark;
    case LineResult::SkippedBadCharacter: return HexIssue::Kind::BadCharacter;
    case LineResult::SkippedShort: return HexIssue::Kind::TooShort;
    case LineResult::SkippedBadLength: return HexIssue::Kind::BadLengthField;
    case LineResult::SkippedLengthMismatch: return HexIssue::Kind::LengthMismatch;
    case LineResult::SkippedUnknownType: return HexIssue::Kind::UnknownType;
    case LineResult::UsedAbove16Bit: return HexIssue::Kind::Above16Bit;
    case LineResult::Used: break;
    }
    return HexIssue::Kind::Checksum;
}

}  // namespace

bool MayLoseCode(HexIssue::Kind kind) {
    switch (kind) {
    case HexIssue::Kind::Checksum:
    case HexIssue::Kind::OutOfBuffer: return false;  // the whole file is refused
    case HexIssue::Kind::NoRecordMark:
    case HexIssue::Kind::BadCharacter:
    case HexIssue::Kind::TooShort:
    case HexIssue::Kind::BadLengthField:
    case HexIssue::Kind::LengthMismatch:
    case HexIssue::Kind::UnknownType:
    case HexIssue::Kind::Above16Bit: return true;
    }
    return false;
}

std::string DescribeHexIssue(const HexIssue& issue) {
    switch (issue.kind) {
    case HexIssue::Kind::Checksum:
        return "行检查和错误: 该行检查和为 " + Hex(issue.statedSum, 2) + ", 应为 " + Hex(issue.rightSum, 2);
    case HexIssue::Kind::OutOfBuffer: return "数据地址 " + Hex(uint32_t(issue.address), 5) + " 超出1MB代码缓冲区";
    case HexIssue::Kind::NoRecordMark: return "没有记录起始符':', 该行被忽略";
    case HexIssue::Kind::BadCharacter: return "含有非十六进制字符, 该行被忽略";
    case HexIssue::Kind::TooShort: return "记录太短, 该行被忽略";
    case HexIssue::Kind::BadLengthField: return "数据长度不是十六进制数, 该行被忽略";
    case HexIssue::Kind::LengthMismatch: return "数据少于长度字段所示, 该行被忽略";
    case HexIssue::Kind::UnknownType: return "无法识别的记录类型 " + Hex(issue.recordType, 2) + ", 该行被忽略";
    case HexIssue::Kind::Above16Bit:
        return "数据地址 " + Hex(uint32_t(issue.address), 5) + " 超出16位编程地址范围, 从该地址开始的数据将不会被编程";
    }
    return "";
}

HexStatus ParseHexText(std::string_view text, uint8_t* image, uint32_t& highestEnd) {
    HexParser parser(image);
    parser.Feed(text);
    return parser.Finish(highestEnd);
}

HexDiagnosis DiagnoseHexFile(const std::string& path, size_t maxIssues) {
    HexDiagnosis d;
    std::vector<uint8_t> image(kImageSize, 0xFF);
    HexParser parser(image.data());
    bool above16BitSeen = false;
    uint64_t lastLine = 0;
    HexIssue::Kind lastKind = HexIssue::Kind::Checksum;
    parser.observer = [&](LineResult result, uint64_t line, const TextPiece& piece, const HexLoader& loader) {
        if (result == LineResult::Used || result == LineResult::UsedAbove16Bit) ++d.recordsUsed;
        if (result == LineResult::Used) return;
        // One report for data above 0xFFFF: every record after the first
        // would say the same.
        if (result == LineResult::UsedAbove16Bit) {
            if (above16BitSeen) return;
            above16BitSeen = true;
        }
        if (result == LineResult::ChecksumError || result == LineResult::OutOfBuffer) d.refused = true;
        // Blank lines are nothing to report.
        if (result == LineResult::SkippedNoMark &&
            piece.text.find_first_not_of(" \t\r") == std::string_view::npos)
            return;
        // A long line reaches the loader in pieces: one report for it.
        if (lastLine == line && lastKind == IssueKind(result)) return;
        lastLine = line;
        lastKind = IssueKind(result);
        HexIssue issue;
        issue.line = line;
        issue.kind = IssueKind(result);
        issue.refused = result == LineResult::ChecksumError || result == LineResult::OutOfBuffer;
        issue.statedSum = loader.statedSum;
        issue.rightSum = loader.rightSum;
        issue.address = result == LineResult::UsedAbove16Bit ? loader.lineAbove16Bit : loader.refusedAddress;
        issue.recordType = loader.rec[3];
        if (MayLoseCode(issue.kind) && d.losingLines++ == 0) d.firstLoss = issue;
        if (d.issues.size() >= maxIssues) {
            ++d.moreIssues;
            return;
        }
        d.issues.push_back(issue);
    };
    d.readOk = ReadFilePieces(path, [&](std::string_view piece) { return parser.Feed(piece); });
    uint32_t end = 0;
    parser.Finish(end);
    d.highestEnd = uint32_t(end);
    d.span = parser.Span();
    d.lines = parser.Lines();
    return d;
}

uint32_t LoadHexFile(AppContext& ctx, const std::string& path, Span16Bit* span) {
    if (span) *span = Span16Bit{};
    // Read in pieces: a multi-megabyte file is never held whole. The code
    // buffer is cleared only once the file has opened.
    HexParser parser(ctx.codeBuffer.data());
    bool started = false;
    auto start = [&] {
        if (started) return;
        started = true;
        SetStatus(ctx, "调入代码文件.....");
        std::fill(ctx.codeBuffer.begin(), ctx.codeBuffer.end(), uint8_t(0xFF));
    };
    bool readOk = ReadFilePieces(path, [&](std::string_view piece) {
        start();
        return parser.Feed(piece);
    });
    if (!readOk) {
        ctx.LinkErrorFlag = 1;
        SetStatus(ctx, "打开文件错误,操作失败");
        return 0;
    }
    start();  // an empty file

    uint32_t highestEnd = 0;
    switch (parser.Finish(highestEnd)) {
    case HexStatus::LineChecksum:
        ctx.LinkErrorFlag = 1;
        SetStatus(ctx, "代码文件错误[行检查和错误]");
        return 0;
    case HexStatus::OutOfBuffer:
        // Data beyond the 1 MB image would be lost silently; refuse the file.
        ctx.LinkErrorFlag = 1;
        return 0;
    case HexStatus::Ok:
        break;
    }
    if (span) *span = parser.Span();
    return highestEnd;
}

}  // namespace veldrix
