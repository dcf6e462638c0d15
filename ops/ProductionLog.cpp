#include "ops/ProductionLog.h"

#include "code/Fields.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"

namespace veldrix {

namespace {

Clock& RecordsClock(AppContext& ctx) { return ctx.recordsClock ? *ctx.recordsClock : *ctx.clock; }

bool AskAboutIdOnGoodChip(AppContext& ctx, uint32_t idCode, const std::string& day) {
    return Ask(ctx, "id-on-good-chip",
                   "ID码 " + Dec(idCode) + " 已于" + day +
                       "写入过一块合格芯片,\n再次写入将使两块芯片具有相同的ID码!\n\n"
                       "是否继续进行当前操作?",
                   "提示:", MsgButtons::YesNo, MsgIcon::Warning, 1) == MsgAnswer::Yes;
}

// The store that hands out ID codes cannot be reached: Retry asks it again.
bool AskToRetryServer(AppContext& ctx, const std::string& problem) {
    const std::string text =
        ctx.records->OnServer()
            ? "无法连接生产记录数据库 " + ctx.records->Location() + ": " + problem +
                  "\n没有数据库分配的ID码,芯片将不写入ID码!\n\n请检查网络及数据库服务器后重试."
            : "无法使用生产记录文件夹 " + ctx.records->Location() + ": " + problem +
                  "\n没有记录文件夹分配的ID码,芯片将不写入ID码!\n\n请检查网络及记录文件夹后重试.";
    return Ask(ctx, "records-server", text, "错误", MsgButtons::RetryCancel, MsgIcon::Error) == MsgAnswer::Retry;
}

}  // namespace

RecordedRun::RecordedRun(AppContext& ctx, RecordKind kind) : ctx_(ctx), startMs_(ctx.clock->NowMs()), kind_(kind) {}

RecordKept RecordedRun::Finish(RecordResult result, std::optional<uint32_t> idCode, std::optional<uint32_t> idAddress) {
    ++ctx_.recordedRuns;
    if (!ctx_.records) return RecordKept::Stored;
    Ui& ui = *ctx_.ui;
    ProductionRecord r;
    r.time = RecordsClock(ctx_).LocalNow();
    r.result = result;
    r.status = ui.GetText(id::kStatusLine);
    r.chip = ui.GetText(id::kChipCombo);
    r.codeFile = ui.GetText(id::kCodeFile);
    std::string sum = ui.GetText(id::kChecksum).substr(0, 4);
    if (!sum.empty() && OnlyCharsFrom(HexCharset, sum)) r.checksum = uint16_t(ParseDigits(sum, 16));
    r.rangeStart = ctx_.programmingRange.start;
    r.rangeEnd = ctx_.programmingRange.end;
    r.idCode = idCode;
    r.idAddress = idAddress;
    r.successCount = ctx_.successCount;
    r.failureCount = ctx_.failureCount;
    r.durationMs = ctx_.clock->NowMs() - startMs_;
    r.port = ctx_.rememberedPort.Get() + ctx_.recordsPortNote;
    r.kind = kind_;
    RecordKept kept = ctx_.records->Append(r);
    // A code on a good chip that only memory remembers: the next chip must
    // not be numbered until it is kept.
    if (kept == RecordKept::Lost && idCode) ctx_.recordsUnkept = true;
    if (kept == RecordKept::Stored || ctx_.recordsWarned) return kept;
    ctx_.recordsWarned = true;
    const std::string why =
        ctx_.records->OnServer()
            ? "生产记录写入数据库失败,数据库服务器可能无法连接!记录暂存在本机,服务器恢复后将按顺序写入.\n"
            : "生产记录写入失败,记录文件夹可能无法建立,磁盘空间可能不足或记录文件被其它软件(如电子表格)占用!\n";
    ShowBox(ctx_, why + ctx_.records->Location() + "\n编程操作将继续进行,本次运行期间不再提示.", "警告", MsgButtons::Ok,
            MsgIcon::Warning);
    return kept;
}

IdTaken TakeIdCode(AppContext& ctx, uint32_t& code) {
    if (!ctx.records) return IdTaken::Taken;
    bool reuse = false;
    while (code <= ctx.idLastCode) {
        IdGrant grant = ctx.records->TakeIdCode(code, reuse);
        switch (grant.answer) {
        case IdGrant::Answer::Granted: return IdTaken::Taken;
        case IdGrant::Answer::OnGoodChip:
            if (!ctx.idPassOverGood) {
                if (!AskAboutIdOnGoodChip(ctx, code, grant.date)) return IdTaken::Declined;
                reuse = true;  // a deliberate rework: ask for it again, now to be written twice
                continue;
            }
            break;
        case IdGrant::Answer::HeldElsewhere: break;
        case IdGrant::Answer::Unreachable:
            if (!AskToRetryServer(ctx, grant.problem)) return IdTaken::NoServer;
            continue;
        }
        ++code;
        reuse = false;
    }
    return IdTaken::UsedUp;
}

void GiveBackIdCode(AppContext& ctx, uint32_t code) {
    if (ctx.records) ctx.records->GiveBackIdCode(code);
}

bool RecordsCanTakeIdCodes(AppContext& ctx) {
    if (!ctx.records || !ctx.recordsUnkept) return true;
    // Waiting in a pending file is kept: only memory alone is not.
    if (ctx.records->FlushPending() != RecordKept::Lost) {
        ctx.recordsUnkept = false;
        return true;
    }
    ShowBox(ctx,
            "生产记录无法保存,已写入合格芯片的ID码未能记录!\n" + ctx.records->Location() +
                "\n为避免两块芯片具有相同的ID码,自动编程已停止,请检查记录文件夹及磁盘空间后重试.",
            "错误", MsgButtons::Ok, MsgIcon::Error);
    return false;
}

bool IdServerAnswers(AppContext& ctx) {
    if (!ctx.records) return true;
    while (std::optional<std::string> problem = ctx.records->IdServerProblem())
        if (!AskToRetryServer(ctx, *problem)) return false;
    return true;
}

}  // namespace veldrix
