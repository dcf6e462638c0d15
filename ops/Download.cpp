#include "ops/Download.h"

#include "code/DownloadMemo.h"

#include <algorithm>

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"
#include "code/CodeBuffer.h"
#include "code/CodeFile.h"
#include "code/Fields.h"
#include "link/Session.h"

namespace veldrix {

namespace {

const char* const kTextDownloadFailed = "编程代码下载失败![编程器无回应,可能正忙,请稍候再试]";
const char* const kTextUserAbort = "下载过程已被用户中断!";
const char* const kTextMemorySum = "请稍候,得到编程内存检查和";
const char* const kTextMemorySumResult = "编程内存检查和 =  ";
const char* const kTextAbortHint = "[双击这里中断下载] ";
const char* const kTextSending = "下载代码到编程器内存";

constexpr int kPagePolls = 50;
constexpr uint32_t kShowEvery = 128;

struct Speed {
    size_t blockLength;
    int pauseMs;
};

// The first checked radio wins; none checked streams at full speed.
Speed DownloadSpeed(Ui& ui) {
    if (ui.IsChecked(id::kSpeedFull)) return {16, 0};
    if (ui.IsChecked(id::kSpeedMedium)) return {8, 10};
    if (ui.IsChecked(id::kSpeedLow)) return {8, 20};
    return {16, 0};
}

bool DebugMode(AppContext& ctx) { return ctx.ui->IsChecked(id::kDebugMode); }

// The programmer holds DSR while it writes the page it has received; a poll
// the port fails ends the wait as a busy line that stays set.
bool WaitUntilReady(AppContext& ctx) {
    for (int i = 0; i < kPagePolls; ++i) {
        ctx.Sleep(1);
        BusyLine line = PollBusyLine(ctx);
        if (line != BusyLine::Busy) return line == BusyLine::Ready;
    }
    return false;
}

void ShowRangeFields(AppContext& ctx) {
    ctx.ui->SetText(id::kStartAddress, "0000");
    ctx.ui->SetText(id::kEndAddress, Hex(ctx.programmingRange.end, 4));
}

}  // namespace

bool ReadProgrammerId(AppContext& ctx) {
    ctx.block.SetOpCode(op::kReadIdentifier);
    if (!OpenSession(ctx)) return false;
    Reply reply = ReadWholeReply(ctx, {reply::kShortBuffer, reply::kIdentifierLength, reply::kIdentifierTries});
    if (ctx.LinkErrorFlag) {
        // Code scrambled with a key from another unit, or half a key, would
        // be programmed as garbage. Nothing went to the chip or the memory.
        NoteOutcome(ctx, OutcomeClass::LinkFailed);
        SetStatus(ctx, kTextConnectionError);
        return false;
    }
    std::copy_n(reply.begin(), ctx.programmerId.size(), ctx.programmerId.begin());
    return true;
}

void ScrambleIntoSendBuffer(AppContext& ctx, uint32_t start, uint32_t end) {
    if (start > end || start >= ctx.sendBuffer.size()) return;
    end = std::min<uint32_t>(end, uint32_t(ctx.sendBuffer.size() - 1));
    for (uint32_t a = start;; ++a) {
        ctx.sendBuffer[a] = uint8_t(ctx.codeBuffer[a] ^ ctx.programmerId[(a - start) % 8]);
        if (a == end) break;
    }
}

void DownloadToProgrammer(AppContext& ctx) {
    ctx.LinkErrorFlag = 0;
    LoadCodeFile(ctx);
    if (ctx.LinkErrorFlag) return;
    ctx.memoryRewritten = 0;
    ctx.idOverCodeAccepted.reset();
    const AddressRange range = ctx.programmingRange;

    if (DebugMode(ctx)) {
        // Programming streams the code itself; only the range is adopted.
        ctx.checkedRange = range;
        ctx.codeInMemory = 1;
        ShowRangeFields(ctx);
        CheckProgrammerMemory(ctx, op::kNone);
        return;
    }

    if (!ReadProgrammerId(ctx)) return;

    ForgetDownload(ctx);
    // The initialisation wipes the programmer's memory: whatever an earlier
    // download confirmed is gone from here on, until the checksum says so again.
    ctx.codeInMemory = 0;
    CommandBlock& b = ctx.block;
    b.SetOpCode(op::kClearArea);
    b[cb::kBlockNumber] = 0;
    if (!OpenSession(ctx)) return;
    SetStatus(ctx, "正在初始化编程内存系统,该过程约需几秒到十几秒时间,请稍候......");
    Reply reply = ReadShortReply(ctx, {reply::kLongBuffer, reply::kClearLength, reply::kMemoryClearTries});
    NoteReply(ctx, reply);
    if (!ReplyIs(reply, "OK")) {
        ctx.LinkErrorFlag = 1;
        SetStatus(ctx, "初始化编程内存失败!请尝试重新下载代码进行初始化");
        return;
    }
    SetStatus(ctx, "初始化编程内存 OK,正在准备下载编程代码.....");
    ctx.Sleep(200);

    b.SetRange(range.start, range.end);
    b.SetOpCode(op::kDownload);
    b.Put16(cb::kChecksum, CodeChecksum(ctx, range.start, range.end));
    b[cb::kBlockNumber] = 0;
    if (!OpenSession(ctx)) {
        SetStatus(ctx, kTextDownloadFailed);
        ctx.LinkErrorFlag = 1;
        return;
    }
    ctx.Sleep(10);
    StreamCode(ctx, range.start, range.end);
    if (ctx.AbortFlag) return;
    if (ctx.LinkErrorFlag) {
        SetStatus(ctx, kTextDownloadFailed);
        return;
    }

    ctx.Sleep(500);
    ShowRangeFields(ctx);
    CheckProgrammerMemory(ctx, op::kNone);
    if (ctx.LinkErrorFlag) return;
    ctx.codeInMemory = 1;
    if (ctx.downloads)
        ctx.downloads->Remember(ctx.rememberedPort.Get(), DownloadDigest(ctx.codeBuffer, range.start, range.end));
}

void ForgetDownload(AppContext& ctx) {
    if (ctx.downloads) ctx.downloads->Forget(ctx.rememberedPort.Get());
}

void StreamCode(AppContext& ctx, uint32_t start, uint32_t end) {
    ctx.LinkErrorFlag = 0;
    ctx.AbortFlag = 0;
    ScrambleIntoSendBuffer(ctx, start, end);
    const Speed speed = DownloadSpeed(*ctx.ui);

    uint64_t a = start;
    uint32_t sinceShown = 0;
    uint64_t mark = start;
    // Stands in for the length of the block before the first one.
    uint64_t previousLength = uint64_t(end) + 1;
    uint8_t block[16];
    while (a <= end) {
        if (ctx.AbortFlag) break;
        if (sinceShown >= kShowEvery) {
            ReportProgress(ctx, kTextSending, uint32_t(a), start, end);
            SetStatus(ctx, std::string(kTextAbortHint) + kTextSending + ",发送数据地址:  " + Hex(uint32_t(a), 5));
            sinceShown = 0;
        }
        if (((a + previousLength) ^ mark) & 0xFF00) {
            if (speed.pauseMs) ctx.Sleep(speed.pauseMs);
            if (!WaitUntilReady(ctx)) {
                ctx.LinkErrorFlag = 1;
                SetStatus(ctx, "通信异常中断!");
                break;
            }
            mark = a;
        }
        size_t n = std::min<size_t>(speed.blockLength, 256 - size_t(a & 0xFF));
        // The last block runs past the end; past the image it carries 0xFF.
        for (size_t i = 0; i < n; ++i)
            block[i] = a + i < ctx.sendBuffer.size() ? ctx.sendBuffer[size_t(a + i)] : 0xFF;
        size_t written = 0;
        if (!WriteBytes(ctx, n, block, written) || ctx.LinkErrorFlag) break;
        a += written;
        sinceShown += uint32_t(written);
        previousLength = n;
    }
    if (ctx.AbortFlag) {
        NoteOutcome(ctx, OutcomeClass::Aborted);
        SetStatus(ctx, kTextUserAbort);
        return;
    }
    if (!ctx.LinkErrorFlag) return;
    ctx.AutoRunMarker = 0;
    ctx.LinkErrorFlag = 1;
    NoteOutcome(ctx, OutcomeClass::LinkFailed);
    SetStatus(ctx, kTextConnectionError);
}

void CheckProgrammerMemory(AppContext& ctx, int sourceOperation) {
    SetStatus(ctx, kTextMemorySum);
    if (ctx.memoryRewritten) {
        ShowBox(ctx, "编程内存代码已被重写,请先将内存代码保存\n为HEX文件然后重新加载,再执行本操作!", "提示:");
        NoteOutcome(ctx, OutcomeClass::UsageOrFile);
        SetStatus(ctx, "操作已终止");
        return;
    }
    ctx.LinkErrorFlag = 0;
    const AddressRange range = ctx.programmingRange;
    uint16_t value = 0;

    if (!DebugMode(ctx)) {
        ctx.block.SetRange(range.start, range.end);
        ctx.block.SetOpCode(op::kMemoryChecksum);
        if (!OpenSession(ctx)) return;
        ReadShortReply(ctx, reply::kLongToken);  // the token is not examined
        uint32_t address = 0;
        if (range.start < range.end) {
            ProgressStream stream(range.start, range.end);
            do {
                if (!stream.Next(ctx, address)) break;
                ReportProgress(ctx, kTextMemorySum, address, range.start, range.end);
                SetStatus(ctx, std::string(kTextMemorySum) + ",地址: " + Hex(address, 5));
            } while (address < range.end);
        } else if (range.start == range.end) {
            address = ReadWord24(ctx);
        }
        if (address < range.end) ctx.LinkErrorFlag = 1;
        value = ReadWord16(ctx);
    }

    const std::string result = kTextMemorySumResult;
    if (ctx.LinkErrorFlag) {
        SetStatus(ctx, result + "XXXX");
        return;
    }
    if (sourceOperation != op::kCopyMaster) {
        uint16_t own = CodeChecksum(ctx, range.start, range.end);
        if (DebugMode(ctx)) value = own;
        if (value != own) {
            ShowBox(ctx,
                    "编程内存检查和错误!\n请尝试重新下载代码\n注意: 下载代码时请不要切换当前窗口\n"
                    "或启动其它需要实时处理的软件,\n以免影响下载稳定性",
                    "警告", MsgButtons::Ok, MsgIcon::Warning);
            SetStatus(ctx, result + "XXXX");
            ctx.LinkErrorFlag = 1;
            return;
        }
    }
    std::string digits = Hex(value, 4);
    ctx.outcome.checksum = value;
    ctx.ui->SetText(id::kChecksum, digits);
    SetStatus(ctx, result + digits);
    ctx.checkedRange = range;
}

}  // namespace veldrix
