#include "ops/ChipOperations.h"

#include <vector>

#include "state/AppContext.h"
#include "state/OpCodes.h"
#include "code/CodeBuffer.h"
#include "code/Fields.h"
#include "link/Session.h"
#include "ops/Download.h"

namespace veldrix {

namespace {

const char* const kTextProgramming = "请稍候,正在编程芯片";
const char* const kTextVerifying = "请稍候,校验芯片";
const char* const kTextChipSum = "请稍候,得到芯片检查和";
const char* const kTextBlankCheck = "请稍候,芯片空检查";
const char* const kTextProgrammed = "编程成功";
const char* const kTextVerified = "校验芯片成功!";
const char* const kTextVerifyFailed = "校验芯片失败!";
const char* const kTextDirectFailed = "编程失败!";

constexpr uint32_t kReadBackPiece = 0x400;
constexpr size_t kReadBackCapacity = 2048;
constexpr size_t kDirectBlock = 8;

std::string At(uint32_t address, int width = 5) { return ",地址: " + Hex(address, width); }

// Range into the block and the session for opCode.
bool OpenOnRange(AppContext& ctx, int opCode) {
    ctx.block.SetRange(ctx.programmingRange.start, ctx.programmingRange.end);
    ctx.LinkErrorFlag = 0;
    ctx.block.SetOpCode(uint8_t(opCode));
    return OpenSession(ctx);
}

// The programmer's first word after the session; false after "EV". Any
// other token, or none, goes on: its letters are the unit's own.
bool FirstToken(AppContext& ctx) {
    Reply token = ReadShortReply(ctx, reply::kToken);
    if (ReplyIs(token, "EV")) {
        ReportVoltageError(ctx);
        return false;
    }
    return true;
}

uint8_t ImageByte(const std::vector<uint8_t>& image, uint64_t address) {
    return address < image.size() ? image[size_t(address)] : 0xFF;
}

}  // namespace

bool ReadProgressStream(AppContext& ctx, const std::string& text, uint32_t limit, int pauseMs, uint32_t& position) {
    ProgressStream stream(position, limit);
    for (;;) {
        if (pauseMs) ctx.Sleep(pauseMs);
        uint32_t address = 0;
        if (!stream.Next(ctx, address)) return false;
        position = address;
        ReportProgress(ctx, text, address, ctx.programmingRange.start, ctx.programmingRange.end);
        SetStatus(ctx, text + At(address));
        if (address >= limit) return true;
    }
}

void ProgramChip(AppContext& ctx) {
    SetStatus(ctx, kTextProgramming);
    if (!OpenOnRange(ctx, op::kProgram) || !FirstToken(ctx)) return;
    const AddressRange range = ctx.programmingRange;
    uint32_t position = range.start;
    if (range.start < range.end) ReadProgressStream(ctx, kTextProgramming, range.end, 0, position);
    if (position < range.end) {
        ctx.LinkErrorFlag = 1;
        SetStatus(ctx, "编程芯片失败! [读取编程信息错误]");
        return;
    }
    Reply verdict = ReadShortReply(ctx, reply::kToken);
    NoteReply(ctx, verdict);
    if (ReplyIs(verdict, "OK")) {
        SetStatus(ctx, kTextProgrammed);
    } else {
        ctx.LinkErrorFlag = 1;
        SetStatus(ctx, "编程芯片失败! [校验和错]");
    }
}

void ProgramChipDirect(AppContext& ctx) {
    const AddressRange range = ctx.programmingRange;
    if (!ReadProgrammerId(ctx)) {
        ctx.AutoRunMarker = 0;
        return;
    }
    ScrambleIntoSendBuffer(ctx, range.start, range.end);
    ctx.Sleep(50);
    SetStatus(ctx, std::string(kTextProgramming) + "......");
    if (!OpenOnRange(ctx, op::kProgramDirect)) {
        ctx.LinkErrorFlag = 1;
        ctx.AutoRunMarker = 0;
        ctx.ui->StartLinkTimer(0, 1000);
        SetStatus(ctx, kTextConnectionError);
        return;
    }
    // A token that never comes leaves the flag raised, but the data still go.
    if (ReplyIs(ReadShortReply(ctx, reply::kToken), "EV")) {
        ReportVoltageError(ctx);
        return;
    }
    ctx.Sleep(20);
    uint64_t a = range.start;
    uint32_t sinceShown = 0;
    uint8_t block[kDirectBlock];
    while (a <= range.end) {
        if (sinceShown >= 128) {
            ReportProgress(ctx, kTextProgramming, uint32_t(a), range.start, range.end);
            SetStatus(ctx, kTextProgramming + At(uint32_t(a), 4));
            sinceShown = 0;
        }
        for (size_t i = 0; i < kDirectBlock; ++i) block[i] = ImageByte(ctx.sendBuffer, a + i);
        size_t written = 0;
        if (!WriteBytes(ctx, kDirectBlock, block, written)) break;
        a += written;
        sinceShown += uint32_t(written);
    }
    if (ctx.LinkErrorFlag) {
        SetStatus(ctx, kTextDirectFailed);
        return;
    }
    Reply verdict = ReadShortReply(ctx, reply::kVerdict);
    NoteReply(ctx, verdict);
    if (ReplyIs(verdict, "OK")) {
        SetStatus(ctx, kTextProgrammed);
        return;
    }
    ctx.LinkErrorFlag = 1;
    ShowBox(ctx,
            "发送数据校验和错误!\n请尝试重新编程\n注意: 烧写时请不要切换当前窗口\n或启动其它需要实时处理的软件,\n"
            "以免影响下载稳定性",
            "警告", MsgButtons::Ok, MsgIcon::Warning);
    SetStatus(ctx, kTextDirectFailed);
}

void VerifyChip(AppContext& ctx, int opCode) {
    SetStatus(ctx, std::string(kTextVerifying) + "...");
    if (!OpenOnRange(ctx, opCode) || !FirstToken(ctx)) return;
    const AddressRange range = ctx.programmingRange;
    uint32_t position = range.start;
    if (range.start <= range.end) ReadProgressStream(ctx, kTextVerifying, range.end + 1, 0, position);
    if (position > range.end) {
        SetStatus(ctx, kTextVerified);
        return;
    }
    // The programmer reports a mismatch by stopping its stream there.
    ctx.LinkErrorFlag = 1;
    ctx.outcome.failAddress = position;
    SetStatus(ctx, std::string(kTextVerifyFailed) + " 在地址: " + Hex(position, 5));
}

void VerifyChipByReadBack(AppContext& ctx) {
    ctx.block.Fill(0);
    FillCommandBlockHeader(ctx);
    const AddressRange range = ctx.programmingRange;
    ctx.LinkErrorFlag = 0;
    SetStatus(ctx, std::string(kTextVerifying) + "......");
    ctx.Sleep(200);

    std::vector<uint8_t> buffer(kReadBackCapacity);
    uint64_t p = range.start;
    while (p <= range.end) {
        ReportProgress(ctx, kTextVerifying, uint32_t(p), range.start, range.end);
        SetStatus(ctx, kTextVerifying + At(uint32_t(p)));
        uint64_t q = p + kReadBackPiece - 1 > range.end ? range.end : p + kReadBackPiece - 1;
        size_t count = 0;
        bool read = ReadDataBlock(ctx, op::kReadChip, uint32_t(p), uint32_t(q), buffer, kReadBackCapacity, count);
        uint64_t failedAt = p;
        bool same = read && !ctx.LinkErrorFlag;
        for (uint64_t i = 0; same && i <= q - p; ++i)
            if (ImageByte(ctx.codeBuffer, p + i) != buffer[size_t(i)]) {
                same = false;
                failedAt = p + i;
            }
        if (!same) {
            ctx.LinkErrorFlag = 1;
            ctx.outcome.failAddress = uint32_t(failedAt);
            SetStatus(ctx, "校验芯片失败,在地址: " + Hex(uint32_t(failedAt), 4));
            return;
        }
        p = q + 1;
    }
    SetStatus(ctx, kTextVerified);
}

void ReadChipChecksum(AppContext& ctx) {
    SetStatus(ctx, kTextChipSum);
    if (!OpenOnRange(ctx, op::kChipChecksum) || !FirstToken(ctx)) return;
    const AddressRange range = ctx.programmingRange;
    bool complete = false;
    uint32_t position = 0;
    if (range.start < range.end) complete = ReadProgressStream(ctx, kTextChipSum, range.end, 50, position);
    if (!complete && range.end != 0) ctx.LinkErrorFlag = 1;
    uint16_t value = ReadWord16(ctx);
    if (!ctx.LinkErrorFlag) ctx.outcome.checksum = value;
    SetStatus(ctx, std::string("芯片检查和 = ") + (ctx.LinkErrorFlag ? std::string("XXXX") : Hex(value, 4)));

    if (!ctx.AutoRunActive) return;
    // Inside the automatic sequence this is the debug-mode verify. A sum that
    // could not be read must not pass as a verified chip, even when the zero
    // it reads as happens to equal the code's sum.
    if (value != CodeChecksum(ctx, range.start, range.end) || ctx.LinkErrorFlag) {
        ctx.LinkErrorFlag = 1;
        SetStatus(ctx, kTextVerifyFailed);
    } else {
        SetStatus(ctx, kTextVerified);
    }
}

void BlankCheck(AppContext& ctx) {
    SetStatus(ctx, kTextBlankCheck);
    if (!OpenOnRange(ctx, op::kBlankCheck) || !FirstToken(ctx)) return;
    const AddressRange range = ctx.programmingRange;
    uint32_t position = range.start;
    if (range.start <= range.end) ReadProgressStream(ctx, kTextBlankCheck, range.end + 1, 0, position);
    if (position > range.end) {
        SetStatus(ctx, "芯片是空的, 在地址空间: " + Hex(range.start, 5) + "~~" + Hex(range.end, 5));
        return;
    }
    ctx.LinkErrorFlag = 1;
    ctx.outcome.failAddress = position;
    SetStatus(ctx, "芯片不空, 在地址: " + Hex(position, 5));
}

}  // namespace veldrix
