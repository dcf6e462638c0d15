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
#include "seams/Files.h"

namespace veldrix {

namespace {

constexpr size_t kNameBytes = 1023;  // a 1024-byte path buffer

std::string CodeFileName(AppContext& ctx) { return CutToCodePage(ctx.ui->GetText(id::kCodeFile), kNameBytes); }

// Exactly the last four characters, lower-cased; shorter names have none.
std::string Ending(const std::string& name) {
    if (name.size() < 4) return {};
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail;
}

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

}  // namespace

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
    // A project names the code file to load next. One project level only: a
    // project that names a project (itself or another) could go round for ever.
    bool projectLoaded = false;
    for (;;) {
        std::string ending = Ending(name);
        if (ending == ".bin") {
            result = LoadBinFile(ctx, name);
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
            result = LoadHexFile(ctx, name);
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
    uint32_t end = (result - 1) & 0xFFFF;
    ctx.programmingRange = {0, end};
    SetStatus(ctx, "调入代码成功!");
    ctx.ui->SetText(id::kStartAddress, "0000");
    ctx.ui->SetText(id::kEndAddress, Hex(end, 4));
    ctx.outcome.checksum = CodeChecksum(ctx, 0, end);
    ctx.ui->SetText(id::kChecksum, Hex(*ctx.outcome.checksum, 4));
}

}  // namespace

void LoadCodeFile(AppContext& ctx) {
    LoadNamedFile(ctx);
    // Every way a load fails is the file's (or its name's), never the chip's.
    if (ctx.LinkErrorFlag) NoteOutcome(ctx, OutcomeClass::UsageOrFile);
}

}  // namespace veldrix
