#include "code/CodeFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "code/CodeBuffer.h"
#include "code/Fields.h"
#include "code/HexFile.h"
#include "code/ProjectFile.h"
#include "code/TextLines.h"
#include "seams/Files.h"

namespace veldrix {

namespace {

constexpr size_t kNameBytes = 1023;  // a 1024-byte path buffer
constexpr uint32_t k16BitLimit = 0x10000;  // the programming range has 16 bits

std::string CodeFileName(AppContext& ctx) { return CutToCodePage(ctx.ui->GetText(id::kCodeFile), kNameBytes); }

// The size on disk of a regular file; false when there is no such file (the
// read then reports it). Names are UTF-8, as ReadFileBytes takes them.
bool SizeOnDisk(const std::string& path, uintmax_t& size) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path p(std::u8string(path.begin(), path.end()));
    if (!fs::is_regular_file(p, ec) || ec) return false;
    size = fs::file_size(p, ec);
    return !ec;
}

void NoCodeFile(AppContext& ctx) {
    ctx.LinkErrorFlag = 1;
    SetStatus(ctx, "请指定一个代码文件");
}

// The code file a project names, as loading it leaves it in the code-file
// field: the last "File=" entry, read in the project loader's 511-character
// pieces, up to its line end and 128 characters. False when it is no project.
bool ProjectCodeFile(const std::string& path, std::string& codeFile) {
    constexpr std::string_view kMagic = "THIS-IS-VDX-PROJECT-FILE";
    std::string data;
    if (!ReadFileBytes(path, data)) return false;
    TextLineReader reader(data, 511);
    TextPiece piece;
    if (!reader.Next(piece) || !piece.text.starts_with(kMagic)) return false;
    bool named = false;
    while (reader.Next(piece)) {
        if (!piece.text.starts_with("File=")) continue;
        std::string_view value = piece.text.substr(5);
        value = value.substr(0, std::min(value.find('\r'), size_t(128)));
        codeFile = CutToCodePage(FromFileText(value), kNameBytes);
        named = true;
    }
    if (named) codeFile = ProjectRelative(path, codeFile);
    return named;
}

}  // namespace

std::string Ending(const std::string& name) {
    if (name.size() < 4) return {};
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail;
}

bool ChooseCodeFile(AppContext& ctx) {
    auto path = ctx.ui->OpenFileDialog({{"hex文件(*.hex)", "*.hex"},
                                        {"BIN文件(*.BIN)", "*.BIN"},
                                        {"PJT文件(*.PVX)", "*.pvx"}});
    if (!path) return false;
    ctx.ui->SetText(id::kCodeFile, *path);
    return true;
}

uint32_t LoadBinFile(AppContext& ctx, const std::string& path) {
    std::vector<uint8_t>& buffer = ctx.codeBuffer;
    std::fill(buffer.begin(), buffer.end(), uint8_t(0xFF));
    // A file larger than the buffer is refused before a byte of it is read:
    // reading first would hold all of it in memory only to throw it away.
    uintmax_t size = 0;
    if (SizeOnDisk(path, size) && size > buffer.size()) return 0;
    // Straight into the buffer. One that turns out longer than its size said
    // (still being written, or not a plain file) is refused at the buffer's
    // end: cutting it would program a silently truncated image.
    size_t loaded = 0;
    bool tooLong = false;
    bool readOk = ReadFilePieces(path, [&](std::string_view piece) {
        if (piece.size() > buffer.size() - loaded) {
            tooLong = true;
            return false;
        }
        std::copy(piece.begin(), piece.end(), buffer.begin() + long(loaded));
        loaded += piece.size();
        return true;
    });
    if (!readOk || tooLong) std::fill(buffer.begin(), buffer.end(), uint8_t(0xFF));
    if (!readOk) {
        SetStatus(ctx, "打开文件错误,操作失败");
        return 0;
    }
    return tooLong ? 0 : uint32_t(loaded);
}

namespace {

void LoadNamedFile(AppContext& ctx) {
    ctx.LinkErrorFlag = 0;
    std::string name = CodeFileName(ctx);
    if (name.empty()) {
        NoCodeFile(ctx);
        return;
    }

    uint32_t result = 0;
    Span16Bit span;
    // A project names the code file to load next. One project level only: a
    // project that names a project (itself or another) could go round for ever.
    bool projectLoaded = false;
    for (;;) {
        std::string ending = Ending(name);
        if (ending == ".bin") {
            result = LoadBinFile(ctx, name);
            // Byte i is code byte i: all beyond 64 KB lies above 0xFFFF.
            span.endBelow = std::min(result, k16BitLimit);
            if (result > k16BitLimit) span = {k16BitLimit, k16BitLimit, result};
            break;
        }
        if (ending == ".pvx") {
            if (projectLoaded) {
                ctx.LinkErrorFlag = 1;
                SetStatus(ctx, "无法识别的文件,操作中止");
                return;
            }
            if (!LoadProject(ctx, name)) return;  // its own status text stays
            projectLoaded = true;
            ctx.LinkErrorFlag = 0;
            name = CodeFileName(ctx);
            if (name.empty()) {
                NoCodeFile(ctx);
                return;
            }
            continue;
        }
        if (ending == ".hex") {
            result = LoadHexFile(ctx, name, &span);
            break;
        }
        // The box says the operation stops: it must, or the buffer's old
        // contents would go on to the programmer as if they were this file.
        ShowBox(ctx, name, "无法识别的文件,操作中止", MsgButtons::Ok);
        ctx.LinkErrorFlag = 1;
        SetStatus(ctx, "操作已中止");
        return;
    }

    if (result == 0) {
        ctx.LinkErrorFlag = 1;
        SetStatus(ctx, "代码文件有错误!");
        return;
    }
    const uint32_t end = RangeEnd16Bit(result, span.endBelow);
    ctx.programmingRange = {0, end};
    SetStatus(ctx, "调入代码成功!");
    ctx.ui->SetText(id::kStartAddress, "0000");
    ctx.ui->SetText(id::kEndAddress, Hex(end, 4));
    ctx.outcome.checksum = CodeChecksum(ctx, 0, end);
    ctx.ui->SetText(id::kChecksum, Hex(*ctx.outcome.checksum, 4));
    // The file loads as it always has; what lies above 0xFFFF is not lost
    // without a word.
    if (span.lowestAbove != 0)
        ShowBox(ctx, Above16BitWarning(span.lowestAbove, span.endAbove - 1, end), "警告", MsgButtons::Ok,
                MsgIcon::Warning);
}

}  // namespace

void LoadCodeFile(AppContext& ctx) {
    LoadNamedFile(ctx);
    // Every way a load fails is the file's (or its name's), never the chip's.
    if (ctx.LinkErrorFlag) NoteOutcome(ctx, OutcomeClass::UsageOrFile);
}

std::string Above16BitWarning(uint32_t address, uint32_t lastAbove, uint32_t end) {
    return "加载的代码文件中有超出16位编程地址(FFFFH)的数据!\n从地址: " + Hex(address, 5) +
           " 开始的数据将不会被编程!\n不会被编程的数据: " + Hex(address, 5) + "~" + Hex(lastAbove, 5) +
           "\n注: 本次编程地址范围是: 0000~" + Hex(end, 4);
}

uint32_t RangeEnd16Bit(uint32_t result, uint32_t endBelow16Bit) {
    // Cutting the end to 16 bits would wrap it below code that fits.
    if (result <= k16BitLimit) return result - 1;
    return endBelow16Bit == 0 ? 0 : endBelow16Bit - 1;
}

bool CodeFileMayLoseCode(const std::string& path, std::string& why) {
    why.clear();
    std::string name = path;
    std::string ending = Ending(name);
    if (ending == ".pvx") {
        // One project level, as the load has it.
        if (!ProjectCodeFile(path, name)) return false;
        ending = Ending(name);
        if (ending == ".pvx") return false;
    }
    std::string found;
    if (ending == ".hex") {
        HexDiagnosis d = DiagnoseHexFile(name, 0);
        if (!d.readOk || d.refused) return false;
        if (d.losingLines == 1 && d.firstLoss.kind == HexIssue::Kind::Above16Bit) {
            found = Above16BitWarning(d.span.lowestAbove, d.span.endAbove - 1, RangeEnd16Bit(d.highestEnd, d.span.endBelow));
        } else if (d.MayLoseCode()) {
            found = "第" + std::to_string(d.firstLoss.line) + "行: " + DescribeHexIssue(d.firstLoss);
            if (d.losingLines > 1) found += "\n另有 " + std::to_string(d.losingLines - 1) + " 行有问题";
        } else {
            return false;
        }
    } else if (ending == ".bin") {
        uintmax_t size = 0;
        if (!SizeOnDisk(name, size) || size <= k16BitLimit || size > kImageSize) return false;
        found = Above16BitWarning(k16BitLimit, uint32_t(size - 1), 0xFFFF);
    } else {
        return false;
    }
    why = name == path ? found : "代码文件: " + name + "\n" + found;
    return true;
}

}  // namespace veldrix
