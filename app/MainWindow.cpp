#include "app/MainWindow.h"

#include <algorithm>

#include "state/AppContext.h"
#include "code/ChipCatalogue.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"
#include "app/ControlTable.h"
#include "app/Settings.h"
#include "link/Worker.h"

namespace veldrix {

namespace {
// "http://zemko.example", each character stored three code points higher.
constexpr char kScrambledAddress[] = "kwws=22}hpnr1h{dpsoh";
}  // namespace

std::string MakerWebAddress() {
    std::string address = kScrambledAddress;
    for (char& c : address) c = char(c - 3);
    return address;
}

std::string WindowCaption() { return "VELDRIX V3.0" + std::string(10, ' ') + MakerWebAddress(); }
std::string AboutMenuText() { return "关于VELDRIX V3.10(" + MakerWebAddress() + ")"; }
std::string AboutCaption() { return "关于VELDRIX V3.10"; }
std::string AboutText() {
    return "VELDRIX V3.10 多文件型S3C/S3F系列单片机批量编程器\n"
           "泽木科技(ZEMKO) 版权所有\n"
           "网址: " + MakerWebAddress() + "\n"
           "技术支持: support@zemko.example";
}
std::string RecordsMenuText() { return "打开生产记录文件夹"; }
std::string RecordsNotOpenedText(const std::string& folder) { return "无法打开生产记录文件夹!\n" + folder; }
std::string ReportMenuText() { return "生成今日生产报表"; }
std::string ReportNotWrittenText(const std::string& path) { return "无法生成生产报表!\n" + path; }
std::string GreetingCaption() { return "尊敬的用户"; }
std::string GreetingText() {
    return "感谢您选用泽木科技VELDRIX批量编程器!\n"
           "如有任何问题, 请联系我们:\n"
           "网址: " + MakerWebAddress() + "\n"
           "邮箱: support@zemko.example";
}
std::string WelcomeText() { return "欢迎使用泽木科技(ZEMKO)VELDRIX商用批量编程器!"; }

void CreateMainControls(AppContext& ctx) {
    Ui& ui = *ctx.ui;
    LoadChipCatalogue(ctx);

    auto controls = MainControls();
    auto isChipGroup = [](const ControlDef& d) { return d.id == id::kChipGroup || d.id == id::kChipCombo; };
    for (const ControlDef& def : controls)
        if (isChipGroup(def)) ui.CreateControl(def);
    FillChipCombo(ctx);

    for (const ControlDef& def : controls) {
        if (isChipGroup(def)) continue;
        if (def.id == id::kLinkLabel) {
            ControlDef label = def;
            std::string address = MakerWebAddress();
            label.caption = address.c_str();
            ui.CreateControl(label);
        } else {
            ui.CreateControl(def);
        }
    }

    ui.ComboClear(id::kDirectory);
    for (int n = 1; n <= 15; ++n) ui.ComboAdd(id::kDirectory, std::to_string(n));
    ui.SetEnabled(id::kDirectory, true);
    ui.ComboSelect(id::kDirectory, 0);

    for (const ControlDef& def : controls) ui.SetFont(def.id, kBaseFont);
    ui.SetFont(id::kStatusLine, kStatusFont);
    for (int field : FieldFontControls()) ui.SetFont(field, kFieldFont);
    ui.SetFont(id::kLinkLabel, kLinkFont);
    ui.SetFont(id::kCodeList, kListFont);

    ui.SetText(id::kSuccessCount, "00000");
    ui.SetText(id::kFailureCount, "00000");
    ui.SetText(id::kCounterCurrent, "0000");
    ui.SetText(id::kCounterEnd, "0000");

    ui.SetVisible(id::kViewGroup, false);
    ui.SetVisible(id::kCodeList, false);
    ui.SetVisible(id::kViewBack, false);

    std::fill(ctx.codeBuffer.begin(), ctx.codeBuffer.end(), 0xFF);
    std::fill(ctx.sendBuffer.begin(), ctx.sendBuffer.end(), 0xFF);
    std::fill(ctx.viewBuffer.begin(), ctx.viewBuffer.end(), 0xFF);

    ui.StartLinkTimer(kLinkTimerId, 1000);

    LoadSettings(ctx);

    ui.SetText(id::kStartAddress, "0000");
    ui.SetText(id::kEndAddress, "1FFF");
    ui.SetText(id::kVppField, "12.0");
    ui.SetEnabled(id::kVddField, false);
    ui.SetEnabled(id::kVppField, false);
    ctx.programmingRange = {0x0000, 0x1FFF};

    ui.SetChecked(id::kBuzzer, true);

    ApplyChipSelection(ctx);

    ui.SetChecked(id::kSpeedFull, false);
    ui.SetChecked(id::kSpeedMedium, false);
    ui.SetChecked(id::kSpeedLow, true);
}

void InitMainWindow(AppContext& ctx) {
    CreateMainControls(ctx);
    ctx.ui->StartLinkTimer(kLinkTimerId, 500);
    ctx.FirstTickDone = 0;
    SetStatus(ctx, WelcomeText());
}

void OnTimerTick(AppContext& ctx) {
    if (!ctx.FirstTickDone) {
        ctx.FirstTickDone = 1;
        OnStartSearch(ctx);
        ctx.ui->StartLinkTimer(kLinkTimerId, 1000);
        return;
    }
    if (!ctx.BusyFlag && ctx.worker) ctx.worker->CheckLink();
}

void OnStartSearch(AppContext& ctx) {
    SetStatus(ctx, "正在尝试联接VELDRIX,请稍候...");
    ctx.SilentSearch = 0;
    if (ctx.worker) ctx.worker->StartSearch();
}

void OnFunctionKey(AppContext& ctx, int virtualKey) {
    if (virtualKey == kKeyF5) ShowBox(ctx, GreetingText(), GreetingCaption());
    else if (virtualKey == kKeyF7 && ctx.worker) ctx.worker->StartOperation(op::kInfo);
}

void OnAbortRequest(AppContext& ctx) { ctx.AbortFlag = 1; }

bool OnWindowDestroy(AppContext& ctx) {
    SaveSettings(ctx);
    ctx.stopRequested = true;
    // The window's own calls from those threads are served while it waits.
    const bool ended = !ctx.worker || ctx.worker->Shutdown(kShutdownWaitMs, [&ctx] { ctx.ui->ServePendingCalls(); });
    // Let go at once, not at the process's end: a program started again
    // while the records are still being stored can open it. A thread still
    // inside a driver call keeps it until the process ends.
    if (ended && ctx.port->IsOpen()) ctx.port->Close();
    return ended;
}

// A search for a missing programmer sets BusyFlag too: only an operation holds the session.
bool SessionMayEnd(AppContext& ctx) { return !(ctx.worker && ctx.worker->OperationRunning()); }

std::string SessionBlockedText() { return "VELDRIX正在编程, 请等待当前芯片完成"; }

bool OnSessionEnd(AppContext& ctx) {
    ctx.haltRequested = true;
    // Saved before the wait: the system may end the process before it is over.
    SaveSettings(ctx);
    if (ctx.worker && !SessionMayEnd(ctx)) {
        SetStatus(ctx, "系统即将关闭, 当前步骤完成后停止操作...");
        ctx.worker->WaitIdle(kSessionEndWaitMs, [&ctx] { ctx.ui->ServePendingCalls(); });
    }
    return OnWindowDestroy(ctx);
}

}  // namespace veldrix
