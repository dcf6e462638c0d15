#include "link/PortDiscovery.h"

#include <cctype>

#include "state/AppContext.h"
#include "state/OpCodes.h"
#include "link/Session.h"

namespace veldrix {

namespace {
constexpr size_t kMaxPorts = 8;

std::string Upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}
}  // namespace

int DiscoverPorts(AppContext& ctx) {
    ctx.portList.clear();
    ctx.portValueNames.clear();
    if (ctx.portDirectory->Available()) {
        for (int n = 0; n <= 255 && ctx.portList.size() < kMaxPorts; ++n) {
            std::string valueName = "\\Device\\ProlificSerial" + std::to_string(n);
            std::optional<std::string> port = ctx.portDirectory->Lookup(valueName);
            if (!port || port->empty()) continue;
            ctx.portList.push_back(*port);
            ctx.portValueNames.push_back(valueName);
        }
    }
    if (ctx.portList.empty() && !ctx.SilentSearch)
        ShowBox(ctx,
                "未检测到有效的USB连接!\n可能USB驱动软件安装不正确或USB端口工作异常!\n"
                "请确保烧写器与主机USB已联接并打开电源!\n或尝试重新安装PL2303-USB驱动软件!",
                "", MsgButtons::Ok, MsgIcon::Error);
    return int(ctx.portList.size());
}

bool OpenPort(AppContext& ctx, const std::string& name) {
    if (ctx.port->IsOpen()) ctx.port->Close();
    if (!ctx.port->Open(name)) return false;
    ctx.port->SetQueues(32768, 32768);
    // Without these time-outs a read that gets nothing would wait for ever.
    if (!ctx.port->SetTimeouts(PortTimeouts{})) {
        ctx.port->Close();
        return false;
    }
    ctx.block.Fill(0x55);
    FillCommandBlockHeader(ctx);
    ctx.block.SetOpCode(op::kProbe);
    return OpenSession(ctx);
}

void ConnectProgrammer(AppContext& ctx) {
    ctx.BusyFlag = 1;
    ctx.ui->RefreshCursor();
    ctx.LinkEnabledFlag = 1;
    ctx.ConnectedFlag = 0;
    ctx.LinkErrorFlag = 0;
    DiscoverPorts(ctx);

    std::string candidate = ctx.rememberedPort.Get();
    if (OpenPort(ctx, candidate)) {
        ctx.ConnectedFlag = 1;
    } else {
        for (const std::string& name : std::vector<std::string>(ctx.portList)) {
            if (name.empty() || ctx.stopRequested.load()) break;
            candidate = name;
            ctx.LinkErrorFlag = 0;
            bool ok = OpenPort(ctx, candidate);
            if (!ok) {
                ctx.Sleep(100);
                ok = OpenPort(ctx, candidate);
            }
            if (ok) {
                ctx.ConnectedFlag = 1;
                break;
            }
        }
    }
    ctx.BusyFlag = 0;
    ctx.ui->RefreshCursor();

    if (!ctx.ConnectedFlag) {
        ctx.AutoRunMarker = 0;
        ctx.ui->StartLinkTimer(0, 1000);
        ctx.LinkErrorFlag = 1;
        NoteOutcome(ctx, OutcomeClass::LinkFailed);
        SetStatus(ctx, kTextConnectionError);
    } else {
        // Ports that failed before this one no longer matter.
        NoteOutcome(ctx, OutcomeClass::Success);
        SetStatus(ctx, "OK, 已检测到 VELDRIX 连接在端口 USB TO " + Upper(candidate));
    }
    ctx.rememberedPort = candidate;
}

bool RememberedPortListed(AppContext& ctx) {
    const std::string wanted = Upper(ctx.rememberedPort.Get());
    for (const std::string& name : ctx.portList)
        if (Upper(name) == wanted) return true;
    return false;
}

bool IsPortStillPresent(AppContext& ctx) {
    if (ctx.portValueNames.empty()) return false;
    std::string wanted = Upper(ctx.rememberedPort.Get());
    for (size_t i = 0; i < ctx.portList.size(); ++i) {
        // Registry names are upper case already; device paths elsewhere are not.
        if (Upper(ctx.portList[i]) != wanted) continue;
        if (!ctx.portDirectory->Available()) return false;
        return ctx.portDirectory->Lookup(Upper(ctx.portValueNames[i])).has_value();
    }
    return false;
}

}  // namespace veldrix
