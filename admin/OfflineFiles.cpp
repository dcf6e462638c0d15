#include "admin/OfflineFiles.h"

#include <algorithm>

#include "admin/Counters.h"
#include "link/PasswordCheck.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"
#include "code/CodeBuffer.h"
#include "code/Fields.h"
#include "link/Session.h"
#include "ops/AutoSequence.h"
#include "ops/ChipOperations.h"
#include "ops/Counting.h"
#include "ops/Download.h"
#include "ops/ProductionLog.h"
#include "seams/Files.h"

namespace veldrix {

namespace {

constexpr const char* kTextNoFile = "读取文件信息错误,指定的目录下没有文件.";
constexpr const char* kTextWritingMaster = "请稍候,正在写入母片文件";
constexpr const char* kTextMasterChecksum = "请稍候,得到母片文件内存检查和";
constexpr int kPauseMs = 200;

std::string RecordText(const Reply& r, size_t offset, size_t width) {
    return FromFileText(ReplyText(r, offset, width));
}

uint32_t Record24(const Reply& r, size_t offset) {
    return uint32_t(r[offset]) << 16 | uint32_t(r[offset + 1]) << 8 | r[offset + 2];
}

std::string WithoutDirectory(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Block bytes 20-25 and the code checksum from the address fields.
uint16_t TakeRangeAndChecksum(AppContext& ctx) {
    ReadProgrammingRange(ctx);
    uint16_t sum = CodeChecksum(ctx, ctx.programmingRange.start, ctx.programmingRange.end);
    ctx.outcome.checksum = sum;
    ctx.ui->SetText(id::kChecksum, Hex(sum, 4));
    return sum;
}

// Progress addresses of a stream until one reaches end; false when a read
// failed first. mask keeps the bits the unit's counter really has.
bool FollowProgress(AppContext& ctx, const char* text, uint32_t start, uint32_t end, uint32_t mask) {
    uint32_t address = start;
    ProgressStream stream(start, end, mask);
    while (address < end) {
        if (!stream.Next(ctx, address)) return false;
        ReportProgress(ctx, text, address, start, end);
        SetStatus(ctx, std::string(text) + ",地址: " + Hex(address, 5));
    }
    return true;
}

// "OKF", "OKFI" or "OKFIL": too much of "OKFILE" to be anything else. One or
// two bytes say too little to hold up the making.
bool MaybeFileAnswerCutShort(const Reply& answer, size_t received) {
    const std::string_view file = "OKFILE";
    return received >= 3 && received < file.size() &&
           std::equal(answer.begin(), answer.begin() + long(received), file.begin());
}

// Stops MakeOfflineFile where the failing step wrote no text of its own.
void EndStopped(AppContext& ctx, OutcomeClass cls) {
    NoteOutcome(ctx, cls);
    SetStatus(ctx, kTextAborted);
}

}  // namespace

std::array<uint8_t, kOfflineConfigSize> MakeConfigRecord(const std::string& fileName, const std::string& chipName) {
    std::array<uint8_t, kOfflineConfigSize> record{};
    std::string name = ToFileText(fileName);
    // The file name keeps its first 16 bytes; the chip name, shown again when
    // the block is read, is cut between characters.
    std::string chip = ToFileText(CutToCodePage(chipName, 7));
    std::copy_n(name.begin(), std::min<size_t>(name.size(), 16), record.begin());
    std::copy_n(chip.begin(), std::min<size_t>(chip.size(), 10), record.begin() + 16);
    return record;
}

void ShowNoFile(AppContext& ctx) {
    Ui& ui = *ctx.ui;
    ui.SetText(id::kOfflineFileName, "No File");
    ui.SetText(id::kOfflineChip, "No Select");
    ui.SetText(id::kOfflineChecksum, "FFFF");
    ui.SetText(id::kCounterCurrent, "0000");
    ui.SetText(id::kCounterEnd, "0000");
}

void ReadFileInfo(AppContext& ctx) {
    ctx.block[cb::kBlockNumber] = uint8_t(SelectedBlockNumber(ctx));
    ctx.block.SetOpCode(op::kReadFileInfo);
    if (!OpenSession(ctx)) return;
    SetStatus(ctx, "正在读取目录文件信息,请稍候...");
    size_t received = 0;
    Reply answer = ReadShortReply(ctx, {reply::kShortBuffer, reply::kFileLength, reply::kWorkTries}, received);
    // No answer at all leaves probeOnly set: the making then asks before it
    // overwrites, as it does for a block that holds a file. So does a probe
    // answer that may be "OKFILE" cut short.
    if (ctx.probeOnly && MaybeFileAnswerCutShort(answer, received)) ctx.LinkErrorFlag = 1;
    if (ctx.LinkErrorFlag) return SetStatus(ctx, kTextNoFile);
    NoteReply(ctx, answer);
    // The unit says "OKFILE" for a file; whatever else it says, the block is empty.
    if (!ReplyIs(answer, "OKFILE")) {
        if (ctx.probeOnly) {
            ctx.probeOnly = false;
            return;
        }
        ctx.LinkErrorFlag = 1;
        ctx.outcome.blockEmpty = true;
        SetStatus(ctx, kTextNoFile);
        return ShowNoFile(ctx);
    }
    if (ctx.probeOnly) return;

    Reply record = ReadWholeReply(ctx, {reply::kRecordBuffer, kOfflineInfoSize, reply::kWorkTries});
    if (ctx.LinkErrorFlag) return SetStatus(ctx, kTextNoFile);
    Ui& ui = *ctx.ui;
    ui.SetText(id::kOfflineFileName, RecordText(record, 0, 16));
    ui.SetText(id::kOfflineChip, RecordText(record, 16, 16));
    ctx.outcome.checksum = uint16_t(record[32] << 8 | record[33]);
    ui.SetText(id::kOfflineChecksum, Hex(*ctx.outcome.checksum, 4));
    ui.SetText(id::kCounterEnd, Dec(Record24(record, 34), 8));
    ui.SetText(id::kIdAddress, Hex(Record24(record, 37), 5));
    ui.SetText(id::kCounterCurrent, Dec(Record24(record, 40), 8));
    SetStatus(ctx, "读取目录文件信息成功!");
}

void DeleteDirectoryBlock(AppContext& ctx) {
    int block = SelectedBlockNumber(ctx);
    if (Ask(ctx, "delete-offline-file", "确认要删除目录块-" + std::to_string(block) + "的文件吗?", "确认删除操作", MsgButtons::OkCancel,
                MsgIcon::Question) != MsgAnswer::Ok)
        return EndStopped(ctx, OutcomeClass::Aborted);
    if (!AcquireOperationPassword(ctx)) return;
    ctx.block[cb::kBlockNumber] = uint8_t(block);
    ctx.block.SetOpCode(op::kClearArea);
    if (!OpenSession(ctx) || !CheckPasswordReply(ctx)) return;
    SetStatus(ctx, "指定的目录文件块已删除");
    ShowNoFile(ctx);
}

bool WriteMasterCode(AppContext& ctx) {
    const AddressRange range = ctx.programmingRange;
    SetStatus(ctx, kTextWritingMaster);
    ctx.block.SetRange(range.start, range.end);
    ctx.LinkErrorFlag = 0;
    ctx.block.SetOpCode(op::kOfflineCode);
    if (!OpenSession(ctx)) return false;
    Reply r = ReadShortReply(ctx, reply::kToken);
    NoteReply(ctx, r);
    if (!ReplyIs(r, "OK")) {
        ctx.LinkErrorFlag = 1;  // the caller must not go on to the checksum
        SetStatus(ctx, "读取编程信息错误!");
        return false;
    }
    if (range.start < range.end && !FollowProgress(ctx, kTextWritingMaster, range.start, range.end, 0xFFFFFF)) {
        ctx.LinkErrorFlag = 1;
        return false;
    }
    return true;
}

bool CheckMasterChecksum(AppContext& ctx) {
    const AddressRange range = ctx.programmingRange;
    SetStatus(ctx, std::string(kTextMasterChecksum) + "......");
    ctx.block.SetRange(range.start, range.end);
    ctx.block[cb::kBlockNumber] = uint8_t(SelectedBlockNumber(ctx));
    ctx.LinkErrorFlag = 0;
    ctx.block.SetOpCode(op::kOfflineChecksum);
    if (!OpenSession(ctx)) return false;
    ReadShortReply(ctx, reply::kToken);  // the acknowledgement is not judged
    bool reached;
    if (range.start == range.end) {
        ReadWord24(ctx);
        reached = !ctx.LinkErrorFlag;
    } else {
        // The unit reports this checksum's progress in 16 bits.
        reached = FollowProgress(ctx, kTextMasterChecksum, range.start, range.end, 0xFFFF);
    }
    if (!reached) {
        ctx.LinkErrorFlag = 1;
        return false;
    }
    uint16_t theirs = ReadWord16(ctx);
    if (ctx.LinkErrorFlag || theirs != CodeChecksum(ctx, range.start, range.end)) {
        ctx.LinkErrorFlag = 1;
        return false;
    }
    return true;
}

namespace {

enum class Made { Written, Stopped, Failed };

// cls: Aborted for a question answered against it, UsageOrFile for a check.
Made Stop(AppContext& ctx, OutcomeClass cls) {
    EndStopped(ctx, cls);
    return Made::Stopped;
}

// A step that failed after the session opened; its text stays.
Made Fail(AppContext& ctx, const char* text) {
    SetStatus(ctx, text);
    return Made::Failed;
}

// The steps of MakeOfflineFile. Stopped: the block was left as it was (a
// check, a question, the password). idAddress: the ID address, once checked.
Made MakeOfflineFileSteps(AppContext& ctx, std::optional<uint32_t>& idAddress) {
    Ui& ui = *ctx.ui;
    ctx.LinkErrorFlag = 0;
    if (ui.IsChecked(id::kDebugMode)) {
        ui.SetChecked(id::kDebugMode, false);
        DownloadToProgrammer(ctx);
        // A failed download leaves the debug-mode substitute in "memory": an
        // offline file made now would hold whatever the unit had before.
        if (ctx.LinkErrorFlag || ctx.AbortFlag) return Made::Failed;
    }
    if (ctx.memoryRewritten) {
        ShowBox(ctx, "编程内存代码已被重写,请先将内存代码保存\n为HEX文件然后重新加载,再执行本操作!", "提示:");
        return Stop(ctx, OutcomeClass::UsageOrFile);
    }
    if (!ctx.codeInMemory) {
        ShowBox(ctx, "编程内存中无代码调入,请打开相关的\n代码文件以调入编程代码!", "警告", MsgButtons::Ok,
                MsgIcon::Warning);
        return Stop(ctx, OutcomeClass::UsageOrFile);
    }

    ctx.probeOnly = true;
    ReadFileInfo(ctx);
    if (ctx.probeOnly) {
        ctx.probeOnly = false;
        if (Ask(ctx, "overwrite-offline-file", "检测到您所选择的目录块已存在有效文件,是否删除它并继续写入新文件?", "提示:",
                    MsgButtons::YesNo, MsgIcon::Warning) != MsgAnswer::Yes)
            return Stop(ctx, OutcomeClass::Aborted);
    }

    TakeRangeAndChecksum(ctx);
    FillCommandBlockHeader(ctx);
    if (!AutoOptionWarnings(ctx)) return Stop(ctx, OutcomeClass::Aborted);
    if (ctx.block[cb::kAutoFlags] & autoflag::kIdIncrement) {
        PrepareIdIncrement(ctx);
        if (ctx.LinkErrorFlag) return Stop(ctx, OutcomeClass::UsageOrFile);
        idAddress = ctx.idAddress;
    }
    const int block = SelectedBlockNumber(ctx);
    ctx.block[cb::kBlockNumber] = uint8_t(block);
    ctx.block.SetRange(ctx.programmingRange.start, ctx.programmingRange.end);
    if (Ask(ctx, "make-offline-file",
                "准备启动制作脱机烧写文件,请确认已加载了正确的代码文件,并正确配置了各编程选项\n"
                "包括芯片类型,数据类型,VPP及VCC电压,自动编程系统选项,计数器数据\n"
                "确认请按[确认]开始写入脱机文件,按[取消]可返回主界面修改选项",
                "\n注: ", MsgButtons::OkCancel, MsgIcon::Question) != MsgAnswer::Ok)
        return Stop(ctx, OutcomeClass::Aborted);

    ui.SetText(id::kOfflineFileName, WithoutDirectory(ui.GetText(id::kCodeFile)));
    ui.SetText(id::kOfflineChip, ui.GetText(id::kChipCombo));
    ui.SetText(id::kOfflineChecksum, ui.GetText(id::kChecksum).substr(0, 4));
    if (!AcquireOperationPassword(ctx)) return Made::Stopped;

    // Empty the block first; the unit checks the password before it does.
    ctx.block[cb::kBlockNumber] = uint8_t(block);
    ctx.block.SetOpCode(op::kClearArea);
    ctx.Sleep(kPauseMs);
    ctx.AutoRunMarker = kAutoRunMarkerRunning;  // the probe's session may have zeroed it
    if (!OpenSession(ctx)) return Made::Failed;
    if (!CheckPasswordReply(ctx)) return Made::Stopped;
    SetStatus(ctx, "正在初始化编程内存系统,该过程约需几秒到十几秒时间,请稍候......");
    if (!ReplyIs(ReadShortReply(ctx, {reply::kLongBuffer, reply::kClearLength, reply::kBlockClearTries}), "OK")) {
        ctx.LinkErrorFlag = 1;
        return Fail(ctx, "初始化编程存储器失败!请尝试重新初始化!");
    }

    SetStatus(ctx, "写入脱机文件编程配置数据....");
    ctx.Sleep(kPauseMs);
    LoadCounterFields(ctx);
    ctx.block.SetOpCode(op::kOfflineConfig);
    if (!OpenSession(ctx)) return Made::Failed;
    if (ReplyIs(ReadShortReply(ctx, reply::kVerdict), "OK")) {
        auto record = MakeConfigRecord(ui.GetText(id::kOfflineFileName), ui.GetText(id::kOfflineChip));
        size_t written = 0;
        WriteBytes(ctx, record.size(), record.data(), written);
    }
    if (!ReplyIs(ReadShortReply(ctx, reply::kVerdict), "OK")) {
        ctx.LinkErrorFlag = 1;
        return Fail(ctx, "写入脱机文件编程配置数据失败!");
    }
    ctx.LinkErrorFlag = 0;
    SetStatus(ctx, "写入脱机文件编程配置数据成功!");

    uint16_t sum = TakeRangeAndChecksum(ctx);
    ctx.block.SetRange(ctx.programmingRange.start, ctx.programmingRange.end);
    ctx.block.Put16(cb::kChecksum, sum);
    SetStatus(ctx, "写入脱机文件代码,请稍候.....");
    ctx.Sleep(kPauseMs);
    bool written = WriteMasterCode(ctx);
    if (written) {
        ctx.Sleep(kPauseMs);
        written = CheckMasterChecksum(ctx);
    }
    if (written) {
        SetStatus(ctx, "请稍候,正在校验脱机文件数据.....");
        ctx.Sleep(kPauseMs);
        VerifyChip(ctx, op::kOfflineVerify);
        written = !ctx.LinkErrorFlag;
    }
    if (!written) {
        ctx.LinkErrorFlag = 1;
        return Fail(ctx, "脱机文件写入失败!");
    }

    SetStatus(ctx, "脱机文件写入已完成,正在清除缓存中的数据,请稍候.....");
    ctx.Sleep(kPauseMs);
    ctx.block[cb::kBlockNumber] = 0;
    ctx.block.SetOpCode(op::kClearArea);
    if (!OpenSession(ctx)) return Made::Failed;
    // The cache is cleared either way.
    ReadShortReply(ctx, {reply::kLongBuffer, reply::kClearLength, reply::kMemoryClearTries});
    ctx.LinkErrorFlag = 0;
    SetStatus(ctx, "缓存中数据已清除!");
    ctx.Sleep(kPauseMs);
    SetStatus(ctx, "脱机文件写入成功!您现在即可以实现脱机烧写该文件代码了");
    ctx.codeInMemory = 0;
    ctx.memoryRewritten = 0;
    return Made::Written;
}

}  // namespace

void MakeOfflineFile(AppContext& ctx) {
    RecordedRun record(ctx, RecordKind::OfflineFile);
    // As in the automatic sequence, a session that never opens zeroes it.
    ctx.AutoRunMarker = kAutoRunMarkerRunning;
    std::optional<uint32_t> idAddress;
    switch (MakeOfflineFileSteps(ctx, idAddress)) {
    case Made::Written: record.Finish(RecordResult::Good, std::nullopt, idAddress); break;
    case Made::Stopped: record.Finish(RecordResult::Stopped, std::nullopt, idAddress); break;
    case Made::Failed:
        record.Finish(ctx.AutoRunMarker ? RecordResult::Bad : RecordResult::Link, std::nullopt, idAddress);
        break;
    }
}

}  // namespace veldrix
