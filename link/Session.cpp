#include "link/Session.h"

#include <cstring>

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"
#include "link/PasswordCheck.h"
#include "code/Fields.h"

namespace veldrix {

const char* const kTextConnectionError = "编程器连接错误,编程器可能正忙,请稍候再试!";
const char* const kTextAborted = "操作已中止";
const char* const kTextPortGone = "USB COM 端口已失效! 请重新连接!";

namespace {

constexpr int kDsrPolls = 1000;
constexpr int kPurgeTries = 100;
constexpr size_t kWriteChunk = 256;
constexpr size_t kReadChunk = 16;
constexpr int kTransmitDrainMs = 1000;
// Reports a stream may bring beyond one per byte of its range.
constexpr uint64_t kProgressMargin = 16;

bool Checked(Ui& ui, int id) { return ui.IsEnabled(id) && ui.IsChecked(id); }

void MarkLinkFailure(AppContext& ctx) {
    ctx.AutoRunMarker = 0;
    ctx.ui->StartLinkTimer(0, 1000);
    ctx.LinkErrorFlag = 1;
    NoteOutcome(ctx, OutcomeClass::LinkFailed);
    SetStatus(ctx, kTextConnectionError);
}

// Reads up to count bytes in one port read (the port's time-outs apply).
size_t ReadOnce(AppContext& ctx, uint8_t* buffer, size_t count) {
    if (ctx.stopRequested.load()) return 0;
    size_t n = ctx.port->IsOpen() ? ctx.port->Read(buffer, count) : 0;
    if (n == 0) PortLost(ctx);
    return n;
}

// Nothing came: a pulled adapter may give its reads nothing without failing
// them (a pseudo-terminal whose other end went does), so the port is asked
// for its modem lines, which such a port fails.
void ProbeSilentPort(AppContext& ctx) {
    if (!ctx.stopRequested.load() && ctx.port->IsOpen()) PollBusyLine(ctx);
}

// Up to tries of (sleep 30 ms, read 1 byte); true when a byte came.
bool WaitFirstByte(AppContext& ctx, uint8_t& byte, int tries) {
    for (int i = 0; i < tries; ++i) {
        ctx.Sleep(30);
        if (ReadOnce(ctx, &byte, 1) == 1) return true;
        // Nothing more comes through a port that has gone.
        if (ctx.stopRequested.load() || !ctx.port->IsOpen()) return false;
    }
    ProbeSilentPort(ctx);
    return false;
}

enum class Exchange { Opened, Locked, Failed };

Exchange BlockExchange(AppContext& ctx) {
    CommandBlock& b = ctx.block;
    ctx.LinkErrorFlag = 0;
    b.SetOpCode(uint8_t(b.OpCode() | 0x40));
    size_t moved = 0;
    std::array<uint8_t, cb::kSize> ack{};
    // Armed before the write, or a queue that drains at once goes unseen.
    bool sent = ctx.port->ArmTransmitEmpty() || !PortLost(ctx);
    sent = sent && WriteBytes(ctx, cb::kSize, b.bytes.data(), moved) && !ctx.LinkErrorFlag;
    // The block needs about 11 ms on the wire; a queue that has not drained
    // long after is a port that has stopped.
    if (sent && !ctx.port->WaitTransmitEmpty(kTransmitDrainMs)) {
        PortLost(ctx);
        sent = false;
    }
    if (sent) ctx.Sleep(100);
    // What the acknowledgement holds is the unit's own business: 38 bytes of
    // anything will do.
    if (!sent || !ReadBytes(ctx, cb::kSize, ack.data(), moved) || ctx.LinkErrorFlag) {
        b.SetOpCode(uint8_t(b.OpCode() & 0x3F));
        MarkLinkFailure(ctx);
        return Exchange::Failed;
    }
    b.SetOpCode(uint8_t(b.OpCode() & 0x3F));

    uint8_t status[4] = {0, 0, 0, 0};
    if (WaitFirstByte(ctx, status[0], 10)) {
        ctx.Sleep(20);
        ReadOnce(ctx, status + 1, 3);
    } else {
        std::memset(status, 0, sizeof status);
        ctx.LinkErrorFlag = 1;
    }

    uint8_t op = b.OpCode();
    if (op == op::kProbe || op == op::kSetPassword || op == op::kLock) return Exchange::Opened;
    if (std::memcmp(status, "LOCK", 4) == 0) {
        ctx.LinkErrorFlag = 1;
        NoteOutcome(ctx, OutcomeClass::Refused);
        NoteVerdict(ctx, "LOCK");
        SetStatus(ctx, "编程器已被锁定,请先解除锁定状态!");
        b[cb::kLockState] = 1;
        return Exchange::Locked;
    }
    return Exchange::Opened;
}

}  // namespace

bool ReplyIs(const Reply& reply, const char* token) {
    size_t n = std::strlen(token) + 1;
    return reply.size() >= n && std::memcmp(reply.data(), token, n) == 0;
}

std::string ReplyText(const Reply& reply, size_t offset, size_t length) {
    std::string out;
    for (size_t i = offset; i < offset + length && i < reply.size() && reply[i] != 0; ++i) out += char(reply[i]);
    return out;
}

void NoteReply(AppContext& ctx, const Reply& reply) { NoteVerdict(ctx, ReplyText(reply, 0, 8)); }

void FillCommandBlockHeader(AppContext& ctx) {
    Ui& ui = *ctx.ui;
    CommandBlock& b = ctx.block;
    b[cb::kDataByte] = 1;
    if (Checked(ui, id::kOtp)) b[cb::kChipType] = 1;
    if (Checked(ui, id::kMtp)) b[cb::kChipType] = 2;
    auto vppBits = [&] {
        uint8_t p = uint8_t(b[cb::kPowerSelect] & 0x0F);
        if (Checked(ui, id::kVppVcc)) p |= 0x80;
        if (Checked(ui, id::kVpp12)) p |= 0x40;
        b[cb::kPowerSelect] = p;
    };
    vppBits();
    if (Checked(ui, id::kVdd50)) b[cb::kPowerSelect] = 1;
    if (Checked(ui, id::kVdd33)) b[cb::kPowerSelect] = 2;
    vppBits();

    uint8_t flags = uint8_t(b[cb::kAutoFlags] & autoflag::kKeep);
    const std::pair<int, uint8_t> boxes[] = {
        {id::kAutoReadProtect, autoflag::kReadProtect}, {id::kAutoLdc, autoflag::kLdc},
        {id::kAutoBlankCheck, autoflag::kBlankCheck},   {id::kAutoHwProtect, autoflag::kHwProtect},
        {id::kEnableSmart, autoflag::kSmart},           {id::kAutoVerify, autoflag::kVerify},
        {id::kAutoIdIncrement, autoflag::kIdIncrement}};
    for (auto [box, bit] : boxes)
        if (Checked(ui, box)) flags |= bit;
    b[cb::kAutoFlags] = flags;

    std::memcpy(&b[cb::kSignature], "ZEMKO", 5);
    std::string sum = ui.GetText(id::kChecksum).substr(0, 9);
    b.Put16(cb::kChecksum, uint32_t(ParseDigits(sum, 16)));
}

bool PortLost(AppContext& ctx) {
    if (ctx.port->IsOpen()) return false;
    ctx.LinkErrorFlag = 1;
    if (ctx.ConnectedFlag.exchange(0)) {
        ctx.LinkEnabledFlag = 0;
        ctx.ui->StartLinkTimer(0, 1000);
        ShowBox(ctx, kTextPortGone, "警告", MsgButtons::Ok, MsgIcon::Warning);
    }
    return true;
}

BusyLine PollBusyLine(AppContext& ctx) {
    std::optional<uint32_t> status = ctx.port->ModemStatus();
    if (!status) {
        PortLost(ctx);
        return BusyLine::Failed;
    }
    return (*status & kModemDsr) ? BusyLine::Busy : BusyLine::Ready;
}

bool ConfigureLine(AppContext& ctx) {
    // A refused purge is tried again; a port that never accepts it must not
    // hang the search, and after the last try it counts as lost.
    bool purged = false;
    for (int i = 0; i < kPurgeTries && ctx.port->IsOpen(); ++i) {
        if ((purged = ctx.port->Purge())) break;
        ctx.Sleep(1);
    }
    if (!purged) ctx.port->Close();
    return ctx.port->IsOpen() && ctx.port->SetLine("baud=38400 parity=E data=8 stop=1");
}

bool OpenSession(AppContext& ctx) {
    if (!ctx.port->SetQueues(1024, 1024)) {
        // The port that failed it may have been closed with it: the link is
        // searched for again, but the operator reads what went wrong here.
        ctx.LinkErrorFlag = 1;
        ctx.AutoRunMarker = 0;
        ctx.ConnectedFlag = 0;
        ctx.LinkEnabledFlag = 0;
        if (!ctx.port->IsOpen()) ctx.ui->StartLinkTimer(0, 1000);
        ShowBox(ctx, "读取串口错误,该端口可能不存在或被其它软件占用!", "警告", MsgButtons::Ok, MsgIcon::Warning);
        NoteOutcome(ctx, OutcomeClass::LinkFailed);
        SetStatus(ctx, "连接烧写器端口硬件错误!");
        return false;
    }
    // A line left at another speed or parity would only garble the block.
    if (!ConfigureLine(ctx)) {
        PortLost(ctx);
        MarkLinkFailure(ctx);
        return false;
    }
    ctx.LinkErrorFlag = 0;
    Exchange result = Exchange::Failed;
    for (int i = 0; i < kDsrPolls && !ctx.stopRequested.load(); ++i) {
        ctx.Sleep(1);
        // A poll the port fails ends the wait as a busy line that stays set.
        BusyLine line = PollBusyLine(ctx);
        if (line == BusyLine::Failed) break;
        if (line == BusyLine::Ready) {
            result = BlockExchange(ctx);
            if (result == Exchange::Opened) return true;
            break;
        }
    }
    // Whatever kept the session shut, nothing of the operation reached the
    // unit: the step fails, and no chip is judged on it. Only this session's
    // own "LOCK" keeps its text; a lock byte left from earlier says nothing
    // about a unit that stays busy now.
    ctx.LinkErrorFlag = 1;
    ctx.AutoRunMarker = 0;
    if (result != Exchange::Locked) {
        NoteOutcome(ctx, OutcomeClass::LinkFailed);
        SetStatus(ctx, kTextConnectionError);
    }
    return false;
}

bool WriteBytes(AppContext& ctx, size_t count, const uint8_t* data, size_t& written) {
    written = 0;
    while (written < count) {
        if (PortLost(ctx)) {
            NoteOutcome(ctx, OutcomeClass::LinkFailed);
            return false;
        }
        size_t chunk = std::min(kWriteChunk, count - written);
        size_t n = ctx.stopRequested.load() ? 0 : ctx.port->Write(data + written, chunk);
        if (n == 0) {
            // A port that takes nothing: whatever the unit got, it is not the command.
            PortLost(ctx);
            ctx.LinkErrorFlag = 1;
            NoteOutcome(ctx, OutcomeClass::LinkFailed);
            return false;
        }
        written += n;
    }
    return true;
}

bool ReadBytes(AppContext& ctx, size_t count, uint8_t* buffer, size_t& read) {
    read = 0;
    while (read < count) {
        size_t n = ReadOnce(ctx, buffer + read, std::min(kReadChunk, count - read));
        if (n == 0) {
            ProbeSilentPort(ctx);
            ctx.LinkErrorFlag = 1;
            return false;
        }
        read += n;
    }
    return true;
}

Reply ReadShortReply(AppContext& ctx, const ReplyRead& read) {
    size_t received = 0;
    return ReadShortReply(ctx, read, received);
}

Reply ReadShortReply(AppContext& ctx, const ReplyRead& read, size_t& received) {
    Reply reply(std::max(read.buffer, read.length), 0);
    received = 0;
    if (!WaitFirstByte(ctx, reply[0], read.tries)) {
        ctx.LinkErrorFlag = 1;
        return reply;
    }
    received = 1;
    if (read.length >= 2) {
        ctx.Sleep(20);
        received += ReadOnce(ctx, reply.data() + 1, read.length - 1);
    }
    return reply;
}

Reply ReadWholeReply(AppContext& ctx, const ReplyRead& read) {
    size_t received = 0;
    Reply reply = ReadShortReply(ctx, read, received);
    if (received < read.length) ctx.LinkErrorFlag = 1;
    return reply;
}

// A number cut short would read as a different number: it counts as missing.
uint16_t ReadWord16(AppContext& ctx) {
    Reply r = ReadWholeReply(ctx, {reply::kWordBuffer, reply::kWord16Length, reply::kWordTries});
    if (ctx.LinkErrorFlag) return 0;
    return uint16_t(r[0] << 8 | r[1]);
}

uint32_t ReadWord24(AppContext& ctx) {
    Reply r = ReadWholeReply(ctx, {reply::kWordBuffer, reply::kWord24Length, reply::kWordTries});
    if (ctx.LinkErrorFlag) return 0;
    return uint32_t(r[0]) << 16 | uint32_t(r[1]) << 8 | r[2];
}

ProgressStream::ProgressStream(uint32_t start, uint32_t end, uint32_t mask)
    : mask_(mask), reportsLeft_(uint64_t(end >= start ? end - start : 0) + 1 + kProgressMargin) {}

bool ProgressStream::Next(AppContext& ctx, uint32_t& address) {
    address = ReadWord24(ctx) & mask_;
    if (ctx.LinkErrorFlag) return false;
    if (reportsLeft_ == 0) {
        ctx.LinkErrorFlag = 1;
        return false;
    }
    --reportsLeft_;
    return true;
}

bool ReadDataBlock(AppContext& ctx, uint8_t opCode, uint32_t start, uint32_t end, std::vector<uint8_t>& buffer,
                   size_t capacity, size_t& count) {
    count = 0;
    size_t length = size_t(end) - size_t(start) + 1;
    if (end < start || capacity < length) {
        ShowBox(ctx, "指定的缓冲区不足以容纳要读取的数据,操作将中止!", "", MsgButtons::Ok, MsgIcon::Warning);
        NoteOutcome(ctx, OutcomeClass::Aborted);
        SetStatus(ctx, kTextAborted);
        return false;
    }
    if (buffer.size() < length) buffer.resize(capacity);
    if (opCode == op::kOfflineRead && !AcquireOperationPassword(ctx)) return false;
    ctx.block.SetRange(start, end);
    ctx.LinkErrorFlag = 0;
    ctx.block.SetOpCode(opCode);
    if (!OpenSession(ctx)) return false;
    if (opCode == op::kOfflineRead && !CheckPasswordReply(ctx)) return false;
    // Only "EV" is judged here; any other token, or none, goes on.
    Reply token = ReadShortReply(ctx, reply::kToken);
    if (ReplyIs(token, "EV")) {
        ReportVoltageError(ctx);
        return false;
    }
    ctx.Sleep(200);
    ReadBytes(ctx, length, buffer.data(), count);
    if (!ctx.LinkErrorFlag) {
        uint16_t sum = 0;
        for (size_t i = 0; i < length; ++i) sum = uint16_t(sum + buffer[i]);
        uint16_t theirs = ReadWord16(ctx);
        if (!ctx.LinkErrorFlag && sum == theirs) return true;
    }
    SetStatus(ctx, "读取数据错误");
    ctx.LinkErrorFlag = 1;
    return false;
}

void ReportVoltageError(AppContext& ctx) {
    ctx.LinkErrorFlag = 1;
    NoteVerdict(ctx, "EV");
    ShowBox(ctx, "检测到Vdd或Vpp错误!请检查烧写适配座或\n芯片引脚或PCB板是否有短路故障!", "警告", MsgButtons::Ok,
            MsgIcon::Warning);
    SetStatus(ctx, "编程电压错误,编程失败");
}

void ShowProgrammerInfo(AppContext& ctx) {
    ctx.block.SetOpCode(op::kInfo);
    OpenSession(ctx);
    Reply r = ReadWholeReply(ctx, {reply::kTextBuffer, reply::kInfoLength, reply::kWorkTries});
    std::string text = "多文件型编程器VELDRIX\n主机软件最后更新时间: 2014-01-10";
    text += "\n编程器内置软件版本: " + ReplyText(r, 0, 13);
    text += "\n编程器内置软件最后更新时间: " + ReplyText(r, 14, 10);
    bool failed = ctx.LinkErrorFlag != 0;
    ShowBox(ctx, text, "软件版本");
    if (failed) SetStatus(ctx, "获取编程器信息失败");
}

}  // namespace veldrix
