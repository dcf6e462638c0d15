#include "ops/MemoryHex.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

#include "code/Fields.h"
#include "code/HexWriter.h"
#include "link/Session.h"
#include "seams/Files.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"

namespace veldrix {

namespace {

const char* const kTextWriteFailed = "保存文件失败,磁盘空间可能不足或指定的目标文件写保护.";
const char* const kTextAbortHint = "[双击这里中断操作] ";
const char* const kTextSaving = "读取编程内存数据并保存到文件";
constexpr size_t kReadCapacity = 2048;

bool EndsWithHex(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".hex";
}

// A write-protected file or a folder of that name cannot take the file. The
// writer renames its temporary over the target, which on some systems would
// quietly replace a write-protected file, so this is asked first.
bool TargetRefuses(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::file_status st = fs::status(fs::path(std::u8string(path.begin(), path.end())), ec);
    if (ec || !fs::exists(st)) return false;
    if (fs::is_directory(st)) return true;
    return (st.permissions() & fs::perms::owner_write) == fs::perms::none;
}

}  // namespace

void SaveMemoryAsHex(AppContext& ctx) {
    Ui& ui = *ctx.ui;
    ctx.LinkErrorFlag = 0;
    ctx.AbortFlag = 0;

    auto chosen = ui.SaveFileDialog({{"hex文件(*.hex)", "*.hex"}});
    if (!chosen) return NoteOutcome(ctx, OutcomeClass::Aborted);
    std::string path = *chosen;
    if (!EndsWithHex(path)) path += ".hex";

    auto fail = [&] {
        ctx.LinkErrorFlag = 1;
        NoteOutcome(ctx, OutcomeClass::UsageOrFile);
        SetStatus(ctx, kTextWriteFailed);
    };
    if (TargetRefuses(path)) return fail();
    FileWriter file;
    if (!file.Open(path)) {
        NoteOutcome(ctx, OutcomeClass::UsageOrFile);
        SetStatus(ctx, "保存文件错误!");
        return;
    }

    uint32_t cur = ctx.programmingRange.start;
    // The code buffer ends at 1 MB; so does the programmer's memory.
    const uint32_t end = std::min<uint32_t>(ctx.programmingRange.end, uint32_t(kImageSize - 1));
    uint32_t segment = cur >> 16;
    if (segment != 0) file.Write(SegmentRecord(cur));

    const bool debug = ui.IsChecked(id::kDebugMode);
    std::vector<uint8_t> page(kReadCapacity, 0xFF);
    bool readFailed = false;
    while (cur <= end && !file.Failed()) {
        if (ctx.AbortFlag) {
            // What has been written so far is kept.
            if (!file.Commit()) return fail();
            NoteOutcome(ctx, OutcomeClass::Aborted);
            ctx.outcome.fileWritten = path;
            SetStatus(ctx, "用户已中断操作!");
            return;
        }
        uint32_t pageEnd = (cur >> 8) == (end >> 8) ? end : (cur | 0xFF);
        ReportProgress(ctx, kTextSaving, cur, ctx.programmingRange.start, end);
        SetStatus(ctx, std::string(kTextAbortHint) + kTextSaving + ", 地址: " + Hex(cur, 5) + "~" + Hex(pageEnd, 5));
        if (debug) {
            std::copy(ctx.codeBuffer.begin() + cur, ctx.codeBuffer.begin() + pageEnd + 1, page.begin());
        } else {
            size_t count = 0;
            ReadDataBlock(ctx, op::kReadMemory, cur, pageEnd, page, kReadCapacity, count);
        }
        if (ctx.LinkErrorFlag) {
            readFailed = true;
            break;
        }
        const uint32_t pageStart = cur;
        while (cur <= pageEnd && !file.Failed()) {
            uint32_t length = std::min(16 - (cur & 0xF), pageEnd - cur + 1);
            if ((cur >> 16) != segment) {
                segment = cur >> 16;
                file.Write(SegmentRecord(cur));
            }
            file.Write(HexRecord(0, uint16_t(cur), std::span(page).subspan(cur - pageStart, length)));
            cur += length;
        }
        cur = pageEnd + 1;
    }

    // A record that could not be written, or a page the programmer did not
    // deliver, leaves the previous file as it was: a half file must not take
    // the place of a whole one.
    // The read has said what went wrong.
    if (readFailed) {
        file.Discard();
        ctx.LinkErrorFlag = 1;
        return;
    }
    if (file.Failed() || !file.Commit()) return fail();
    ctx.outcome.fileWritten = path;
    SetStatus(ctx, "代码文件文件已成功保存在: " + path);
}

}  // namespace veldrix
