#include "link/Worker.h"

#include <chrono>

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"
#include "link/PortDiscovery.h"
#include "link/Session.h"
#include "seams/Platform.h"

namespace veldrix {

namespace {
constexpr int kViewSelectors[] = {id::kViewAscii, id::kViewMemory, id::kViewChip};
}  // namespace

void RunOperation(AppContext& ctx) {
    Ui& ui = *ctx.ui;
    ctx.BusyFlag = 1;
    ctx.LinkErrorFlag = 0;
    ui.RefreshCursor();
    ui.SendBusyState(id::kSetPassword, true);

    int op = ctx.block.OpCode();
    if (!ctx.ConnectedFlag) {
        ctx.AutoRunMarker = 0;
        ui.StartLinkTimer(0, 1000);
        ctx.LinkErrorFlag = 1;
        NoteOutcome(ctx, OutcomeClass::LinkFailed);
        SetStatus(ctx, kTextConnectionError);
    } else {
        if (op >= op::kFirstView)
            for (int selector : kViewSelectors) ui.SendBusyState(selector, true);
        if (ctx.dispatch) ctx.dispatch(ctx, op);
    }

    if (ctx.AutoRunActive) return;
    ctx.BusyFlag = 0;
    ui.RefreshCursor();
    for (int selector : kViewSelectors) ui.SendBusyState(selector, false);
    ui.SendBusyState(id::kSetPassword, false);
}

void RunOperationNow(AppContext& ctx, int opCode) {
    ctx.block.SetOpCode(uint8_t(opCode));
    RunOperation(ctx);
}

namespace {

// The adapter of the open link is still there. A port the driver lists is
// gone once its value is; a port the last search did not find listed (it
// answered before the driver listed it) is listed again first, and judged
// by its handle while it is not. Either way the handle itself must still
// answer: a pulled adapter fails it before its value is removed.
bool LinkStillThere(AppContext& ctx) {
    if (!RememberedPortListed(ctx)) {
        const int silent = ctx.SilentSearch.exchange(1);
        DiscoverPorts(ctx);
        ctx.SilentSearch = silent;
    }
    if (RememberedPortListed(ctx) && !IsPortStillPresent(ctx)) return false;
    return ctx.port->IsOpen() && ctx.port->ModemStatus().has_value();
}

}  // namespace

void MonitorLink(AppContext& ctx) {
    if (ctx.ConnectedFlag) {
        if (LinkStillThere(ctx)) return;
        ctx.LinkErrorFlag = 1;
        ctx.ConnectedFlag = 0;
        ctx.LinkEnabledFlag = 0;
        // Windows keeps a removed adapter's device while a handle is open:
        // held, the adapter plugged in again would not get its name back.
        ctx.port->Close();
        ShowBox(ctx, "检测到USB连接错误,该端口可能已被退出或被其它软件所占用!", "警告", MsgButtons::Ok,
                MsgIcon::Warning);
        SetStatus(ctx, "正在尝试重新联接到VELDRIX,请稍候......");
        return;
    }
    ctx.SilentSearch = 1;
    ConnectProgrammer(ctx);
}

Worker::Worker(AppContext& ctx, Mode mode) : ctx_(ctx), mode_(mode) {}

Worker::~Worker() { Shutdown(10000); }

bool Worker::StartOperation(int opCode) {
    if (!ctx_.LinkEnabledFlag) {
        // Nothing starts, so nothing resets the outcome: this is what it says.
        // A thread still at work on the port (an operation whose session
        // failed it, a search) has the outcome to itself.
        if (!workerActive_ && !monitorActive_) NoteOutcome(ctx_, OutcomeClass::LinkFailed);
        SetStatus(ctx_, "请先行启动编程器USB连接");
        return false;
    }
    if (workerActive_.exchange(true)) return false;  // never two workers on the port
    auto body = [this, opCode] {
        StartOutcome(ctx_);
        ctx_.block.SetOpCode(uint8_t(opCode));
        FillCommandBlockHeader(ctx_);
        RunOperation(ctx_);
        // The automatic sequence runs RunOperation again for each step; the
        // outcome ends here, once.
        SettleOutcome(ctx_);
        workerActive_ = false;
    };
    if (mode_ == Mode::Inline) {
        body();
        return true;
    }
    std::lock_guard lock(threadsMutex_);
    if (worker_.joinable()) worker_.join();  // it has finished: workerActive_ was clear
    worker_ = std::thread([this, body] {
        RaiseCurrentThreadToTimeCritical();
        // A link check still in progress finishes before this thread touches the port.
        JoinMonitor();
        ctx_.clock->ThreadStarted();
        body();
        ctx_.clock->ThreadEnded();
    });
    return true;
}

void Worker::LaunchMonitor(std::function<void()> body) {
    if (monitorActive_.exchange(true)) return;
    auto run = [this, body] {
        body();
        monitorActive_ = false;
    };
    if (mode_ == Mode::Inline) {
        run();
        return;
    }
    std::lock_guard lock(threadsMutex_);
    if (monitor_.joinable()) monitor_.join();
    monitor_ = std::thread([this, run] {
        ctx_.clock->ThreadStarted();
        run();
        ctx_.clock->ThreadEnded();
    });
}

void Worker::JoinMonitor() {
    if (mode_ == Mode::Inline) return;
    std::thread finished;
    {
        std::lock_guard lock(threadsMutex_);
        finished = std::move(monitor_);
    }
    if (finished.joinable()) finished.join();
}

void Worker::CheckLink() {
    if (!ctx_.BusyFlag && !workerActive_) LaunchMonitor([this] { MonitorLink(ctx_); });
}

void Worker::StartSearch() {
    // Off the window thread, so the window keeps painting; the search's
    // messages still reach the window.
    LaunchMonitor([this] { ConnectProgrammer(ctx_); });
}

void Worker::WaitForLinkCheck() {
    while (monitorActive_) {
        ctx_.ui->ServePendingCalls();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    JoinMonitor();
}

bool Worker::WaitIdle(int timeoutMs, const std::function<void()>& pump) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while ((workerActive_ || monitorActive_) && std::chrono::steady_clock::now() < until) {
        if (pump) pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return !workerActive_ && !monitorActive_;
}

bool Worker::Shutdown(int timeoutMs, const std::function<void()>& pump) {
    ctx_.stopRequested = true;
    const bool ended = WaitIdle(timeoutMs, pump);
    std::lock_guard lock(threadsMutex_);
    for (std::thread* t : {&worker_, &monitor_}) {
        if (!t->joinable()) continue;
        if (ended) t->join();
        else t->detach();  // bounded wait over; the process is ending anyway
    }
    return ended;
}

}  // namespace veldrix
