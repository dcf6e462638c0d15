#include "sim/Firmware.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "state/OpCodes.h"

namespace veldrix::sim {

namespace {

constexpr char kSignature[] = "ZEMKO";
constexpr size_t kSignatureLength = 5;
constexpr uint32_t kMaxAddress = 0xFFFFFF;
constexpr int kHangSliceMs = 10;

// The leading bytes of the window could still begin a block.
bool CouldStart(const std::vector<uint8_t>& window) {
    size_t n = std::min(window.size(), kSignatureLength);
    for (size_t i = 0; i < n; ++i)
        if (window[i] != uint8_t(kSignature[i])) return false;
    return true;
}

std::vector<uint8_t> Bytes(const char* text) {
    return std::vector<uint8_t>(text, text + std::strlen(text));
}

std::vector<uint8_t> Word24(uint32_t value) {
    return {uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}

// A text of fixed width: cut, or padded with blanks.
void AppendFixed(std::vector<uint8_t>& out, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i) out.push_back(i < text.size() ? uint8_t(text[i]) : uint8_t(' '));
}

std::string TextAt(const CommandBlock& block, int offset, int width) {
    std::string text;
    for (int i = 0; i < width && block[offset + i] != 0; ++i) text.push_back(char(block[offset + i]));
    return text;
}

}  // namespace

Firmware::Firmware(DeviceState& state) : state_(state) {}

void Firmware::Run(DeviceIo& io) {
    io_ = &io;
    std::unique_lock lock(state_.mutex);
    lock_ = &lock;
    io.SetBusy(false);
    while (!io.Stopping()) {
        if (!ReceiveBlock()) continue;
        Serve();
        // Whatever ended the operation, an idle unit shows ready.
        io.SetBusy(false);
    }
    lock_ = nullptr;
    io_ = nullptr;
}

// The line

bool Firmware::Alive() { return state_.powered && !io_->Stopping(); }

bool Firmware::Receive(uint8_t& byte, int timeoutMs) {
    lock_->unlock();
    bool got = io_->ReadByte(byte, timeoutMs);
    lock_->lock();
    // Bytes reaching a unit without power are lost.
    return got && state_.powered;
}

size_t Firmware::Receive(uint8_t* buffer, size_t count, int gapMs) {
    lock_->unlock();
    // What came before the power went is taken; the rest is lost.
    size_t got = io_->Read(buffer, count, gapMs, state_.powered);
    lock_->lock();
    return got;
}

void Firmware::Put(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;
    lock_->unlock();
    io_->Write(bytes.data(), bytes.size());
    repliedMicros_ = io_->SentMicros();
    lock_->lock();
}

void Firmware::Busy(bool busy) { io_->SetBusy(busy); }

bool Firmware::Pause(uint64_t micros) {
    pendingMicros_ += micros;
    uint64_t ms = pendingMicros_ / 1000;
    pendingMicros_ %= 1000;
    if (ms > 0 && Alive()) {
        lock_->unlock();
        io_->SleepWhile(int(ms), state_.powered);
        lock_->lock();
    }
    return Alive();
}

// Finding the block

bool Firmware::ReceiveBlock() {
    std::vector<uint8_t> window;
    std::vector<uint64_t> came;  // when each byte of the window came
    auto drop = [&] {
        window.erase(window.begin());
        came.erase(came.begin());
    };
    while (!io_->Stopping()) {
        uint8_t byte;
        // A block comes in one piece: after a gap, what was gathered is stray.
        if (!Receive(byte, window.empty() ? -1 : state_.timing.blockGapMs)) {
            window.clear();
            came.clear();
            continue;
        }
        window.push_back(byte);
        came.push_back(io_->NowMicros());
        for (;;) {
            while (!window.empty() && !CouldStart(window)) drop();
            if (window.size() < size_t(cb::kSize)) break;
            // The host marks the code of a session opening with bit 6.
            if ((window[cb::kOpCode] & 0xC0) == 0x40) {
                std::copy_n(window.begin(), cb::kSize, block_.bytes.begin());
                blockMicros_ = came.front();
                return true;
            }
            drop();
        }
    }
    return false;
}

void Firmware::Serve() {
    op_ = block_.OpCode() & 0x3F;
    sessionMicros_ = io_->NowMicros();
    fired_.clear();
    pendingMicros_ = 0;
    firstReplyDue_ = true;
    passed_ = false;
    if (TooSoon()) {
        // Not ready for it: the block goes unanswered, as if it never came.
        state_.tooSoon.push_back(op_);
        seen_ = SessionSeen{};
        return;
    }
    // A locked unit still lets its owner in to unlock it or change the password.
    bool refused = state_.locked && op_ != op::kProbe && op_ != op::kSetPassword && op_ != op::kLock;

    // The acknowledgement echoes the block as received, then the status word.
    std::vector<uint8_t> ack(block_.bytes.begin(), block_.bytes.end());
    if (state_.vary.ack) {
        // A unit may instead answer with a block of its own: the code without
        // the session mark, its version where the padding was.
        ack[cb::kOpCode] &= uint8_t(~0x40);
        ack.resize(cb::kSize - 8);
        AppendFixed(ack, state_.version, 8);
    }
    const char* status = state_.locked ? "LOCK" : state_.vary.status ? kVariedStatus : kReadyStatus;
    ack.insert(ack.end(), status, status + 4);
    if (!refused)
        state_.log.push_back({op_, block_[cb::kBlockNumber], Start(), End()});
    // A unit that switches the chip's supply or programming voltage for the
    // step reports its status once it stands.
    const int switchMs = !state_.vary.pauses || refused   ? 0
                         : NeedsProgrammingVoltage(op_) ? kVppSwitchMs
                         : ReadsTheChip(op_)            ? kSupplySwitchMs
                                                        : 0;
    const size_t statusAt = ack.size() - 4;
    if (Send(std::move(ack), Reply{kAck}, switchMs ? statusAt : 0, switchMs) && !refused) Dispatch();
    EndSession();
}

bool Firmware::TooSoon() const {
    if (!state_.vary.pauses) return false;
    const int pauseMs = PauseBeforeMs(seen_, op_);
    return pauseMs > 0 && blockMicros_ < repliedMicros_ + uint64_t(pauseMs) * 1000;
}

void Firmware::EndSession() {
    SessionSeen now;
    now.op = op_;
    now.passed = passed_;
    now.clean = fired_.empty();
    now.autoFlags = block_[cb::kAutoFlags];
    now.chipType = block_[cb::kChipType];
    now.blockNumber = block_[cb::kBlockNumber];
    now.mode = ModeAfter(seen_, op_);
    seen_ = now;
    // Where no step of the sequence follows, the programming voltage goes
    // off; the busy line stays up until the socket is down. A host that
    // cannot see the busy line could not wait for it.
    if (state_.vary.pauses && io_->HasBusyLine() && NeedsProgrammingVoltage(op_) && NextSteps(now).empty() &&
        Alive()) {
        Busy(true);
        PauseMs(kPowerDownMs);
        Busy(false);
    }
    // A unit that tidies up after every session: a block that comes before
    // its busy line drops is not heard.
    if (state_.vary.busy && Alive()) StayBusy(kBusyStretchMs);
}

void Firmware::Dispatch() {
    switch (op_) {
    case op::kProbe: return;  // the acknowledgement is the answer
    case op::kClearArea: return ClearArea();
    case op::kDownload: return Download();
    case op::kMemoryChecksum: return MemoryChecksum();
    case op::kReadMemory: case op::kReadChip: case op::kOfflineRead: return ReadData();
    case op::kEraseMtp: return Erase();
    case op::kProgram: return ProgramFromMemory();
    case op::kVerify: case op::kOfflineVerify: return Verify();
    case op::kSmart: case op::kReadProtect: case op::kLdcProtect: case op::kHardwareProtect: case op::kSmartDebug:
        return Protect();
    case op::kChipChecksum: return ChipChecksum();
    case op::kCopyChip: return CopyChip();
    case op::kBlankCheck: return BlankCheck();
    case op::kOfflineConfig: return WriteConfig();
    case op::kOfflineCode: return WriteMasterCode();
    case op::kReadFileInfo: return FileInfo();
    case op::kSetCounter: return SetCounter();
    case op::kSetPassword: return ChangePassword();
    case op::kCopyMaster: return CopyMaster();
    case op::kLock: return Lock();
    case op::kProgramDirect: return ProgramStreamed();
    case op::kReadIdentifier: return SendIdentifier();
    case op::kOfflineChecksum: return MasterChecksum();
    case op::kWriteIdCode: return WriteIdCode();
    case op::kInfo: return SendInfo();
    default: return;  // a code this firmware does not know: acknowledged, nothing more
    }
}

// Replies and faults

unsigned Firmware::StepsOf(FaultStep step) {
    // "Any" means the operation's own traffic; the opening is hit only when named.
    return step == FaultStep::Ack        ? kAck
           : step == FaultStep::First    ? kFirst
           : step == FaultStep::Progress ? kProgress
           : step == FaultStep::Final    ? kFinal
                                         : (kFirst | kProgress | kFinal);
}

bool Firmware::FaultMayStrike(unsigned steps) const {
    return std::any_of(state_.faults.begin(), state_.faults.end(), [&](const Fault& f) {
        return (f.opCode == kAnyOperation || f.opCode == op_) && (StepsOf(f.step) & steps);
    });
}

const Fault* Firmware::FaultFor(const std::vector<uint8_t>& bytes, const Reply& reply) const {
    for (const Fault& f : state_.faults) {
        if (std::find(fired_.begin(), fired_.end(), f.serial) != fired_.end()) continue;
        if (f.opCode != kAnyOperation && f.opCode != op_) continue;
        if (!(StepsOf(f.step) & reply.steps)) continue;
        bool applies = false;
        switch (f.kind) {
        case FaultKind::Ev: applies = reply.verdict; break;
        case FaultKind::NoReply: applies = true; break;
        case FaultKind::Short: applies = bytes.size() >= 2; break;
        case FaultKind::Garbage: applies = !bytes.empty(); break;
        case FaultKind::Busy: applies = true; break;
        case FaultKind::BadSum: applies = reply.sum; break;
        case FaultKind::Stop: applies = (reply.steps & kProgress) && reply.pastMiddle; break;
        case FaultKind::Refuse: applies = reply.verdict; break;
        }
        if (applies) return &f;
    }
    return nullptr;
}

bool Firmware::Send(std::vector<uint8_t> bytes, const Reply& reply, size_t splitAfter, int splitMs) {
    if (!Alive()) return false;
    if (state_.timing.replyDelayMs > 0 && !PauseMs(state_.timing.replyDelayMs)) return false;
    if (firstReplyDue_ && !(reply.steps & kAck) && !bytes.empty()) {
        // Only the first reply is late: what follows it comes at its usual time.
        firstReplyDue_ = false;
        if (state_.vary.slow && !PauseMs(kSlowFirstReplyMs)) return false;
    }
    const Fault* found = FaultFor(bytes, reply);
    if (!found && splitAfter > 0 && splitAfter < bytes.size()) {
        Put(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(splitAfter)));
        if (!PauseMs(splitMs)) return false;
        Put(std::vector<uint8_t>(bytes.begin() + long(splitAfter), bytes.end()));
        return true;
    }
    if (!found) {
        Put(bytes);
        return true;
    }
    Fault fault = *found;
    fired_.push_back(fault.serial);
    state_.fired.push_back(fault.serial);
    if (fault.once)
        std::erase_if(state_.faults, [&](const Fault& f) { return f.serial == fault.serial; });
    switch (fault.kind) {
    case FaultKind::Ev:
        Put(Bytes("EV"));
        return false;
    case FaultKind::Refuse:
        Put(Bytes("NO"));
        return false;
    case FaultKind::NoReply:
        return false;
    case FaultKind::Short:
        bytes.resize(bytes.size() / 2);
        Put(bytes);
        return false;
    case FaultKind::Garbage:
        // Every byte changes, so the corruption cannot go unnoticed by chance.
        for (uint8_t& b : bytes) b = uint8_t(b ^ (state_.NextGarbage() | 1));
        Put(bytes);
        return true;
    case FaultKind::Busy:
        Hang(fault);
        return false;
    case FaultKind::BadSum: {
        size_t n = bytes.size();
        uint16_t sum = uint16_t((bytes[n - 2] << 8 | bytes[n - 1]) + 1);
        bytes[n - 2] = uint8_t(sum >> 8);
        bytes[n - 1] = uint8_t(sum);
        Put(bytes);
        return true;
    }
    case FaultKind::Stop:
        if (reply.data) {
            bytes.resize(bytes.size() / 2);
            Put(bytes);
        }
        return false;
    }
    return false;
}

void Firmware::StayBusy(int ms) {
    Busy(true);
    const uint64_t until = io_->NowMicros() + uint64_t(std::max(ms, 0)) * 1000;
    while (Alive() && io_->NowMicros() < until) {
        lock_->unlock();
        io_->DiscardInput();
        io_->Sleep(1);
        lock_->lock();
    }
    lock_->unlock();
    io_->DiscardInput();
    lock_->lock();
    Busy(false);
}

void Firmware::Hang(const Fault& fault) {
    Busy(true);
    uint64_t until = io_->NowMicros() + uint64_t(std::max(state_.timing.busyHangMs, 0)) * 1000;
    while (Alive()) {
        if (fault.once ? io_->NowMicros() >= until : !state_.Armed(fault.serial)) break;
        // A hung unit takes in nothing.
        lock_->unlock();
        io_->DiscardInput();
        io_->Sleep(kHangSliceMs);
        lock_->lock();
    }
    Busy(false);
}

bool Firmware::Token(const char* text, unsigned steps) {
    Reply reply{steps};
    reply.verdict = true;
    return Send(Bytes(text), reply);
}

bool Firmware::Progress(uint32_t address, bool pastMiddle) {
    Reply reply{kProgress};
    reply.pastMiddle = pastMiddle;
    return Send(Word24(address), reply);
}

const char* Firmware::UnexaminedOk() const { return state_.vary.tokens ? kVariedOk : "OK"; }

uint32_t Firmware::LastAddress(uint32_t limit) const {
    if (!state_.vary.progress) return limit;
    uint32_t rounded = (limit + kVariedProgressInterval - 1) & ~(kVariedProgressInterval - 1);
    // A unit counting in 16 bits would wrap to 0 there.
    return (rounded >> 16) == (limit >> 16) ? rounded : limit;
}

bool Firmware::SendSum(uint32_t sum) {
    Reply reply{kFinal};
    reply.sum = true;
    return Send({uint8_t(sum >> 8), uint8_t(sum)}, reply);
}

bool Firmware::Checkpoint(bool pastMiddle) {
    Reply reply{kProgress};
    reply.pastMiddle = pastMiddle;
    return Send({}, reply);
}

// Goes over start..end, visit() once per address and microsPerByte each.
// With stream, the next address goes out every progress interval and
// LastAddress(limit) at the end; at the first address visit() refuses, that
// address goes out and the walk stops there.
Firmware::Walked Firmware::Walk(uint32_t start, uint32_t end, bool stream, uint32_t limit, int microsPerByte,
                                const std::function<bool(uint32_t)>& visit) {
    uint64_t total = uint64_t(end) - start + 1;
    bool varied = state_.vary.progress;
    uint64_t interval = varied ? kVariedProgressInterval : std::max<uint32_t>(state_.timing.progressInterval, 1);
    uint64_t perByte = uint64_t(std::max(microsPerByte, 0));
    auto pastMiddle = [&](uint64_t address) { return (address - start) * 2 >= total; };
    uint64_t since = 0, reports = 0;
    uint64_t lastSent = ~uint64_t(0);
    int copies = 0;  // of lastSent
    auto report = [&](uint64_t address) {
        copies = address == lastSent ? copies + 1 : 1;
        lastSent = address;
        return Progress(uint32_t(address), pastMiddle(address));
    };
    for (uint64_t a = start; a <= end; ++a) {
        if (!visit(uint32_t(a))) {
            if (!Pause(since * perByte)) return Walked::Ended;
            // Named twice already, it stands last on the line; a third copy
            // would look like a counter that is stuck.
            if (stream && !(a == lastSent && copies >= 2) && !report(a)) return Walked::Ended;
            return Walked::Failed;
        }
        // The host stops at the first address that reaches its limit: only
        // the last report may do so, or a second one would stay on the line.
        if (++since >= interval && a + 1 < limit) {
            if (!Pause(since * perByte)) return Walked::Ended;
            since = 0;
            if (stream && !report(a + 1)) return Walked::Ended;
            if (stream && varied && ++reports % 3 == 0 && !report(a + 1)) return Walked::Ended;
        }
    }
    if (!Pause(since * perByte)) return Walked::Ended;
    if (stream && !Progress(LastAddress(limit), true)) return Walked::Ended;
    return Walked::Done;
}

void Firmware::Judge(bool passed) {
    passed_ = passed;
    state_.verdicts.push_back({op_, passed});
}

int Firmware::EraseMs() const { return state_.vary.pauses ? kPausesEraseMs : state_.timing.eraseMs; }
int Firmware::ProtectMs() const { return state_.vary.pauses ? kPausesProtectMs : state_.timing.protectMs; }
int Firmware::ProgramMicrosPerByte() const {
    return state_.vary.pauses ? kPausesProgramMicrosPerByte : state_.timing.programMicrosPerByte;
}
int Firmware::PageWriteMs() const {
    return state_.vary.pauses || state_.vary.busy ? kPausesPageWriteMs : state_.timing.pageWriteMs;
}

bool Firmware::CheckPassword() {
    if (TextAt(block_, cb::kPassword, 8) == state_.password) return true;
    // A refused password gets its own five letters, so the host never mistakes it.
    Token("NOPWD", kFirst | kFinal);
    return false;
}

bool Firmware::ChipReady(uint32_t start, uint32_t end) const {
    return state_.chip.present && (start > end || state_.chip.Holds(start, end));
}

uint8_t Firmware::Key(uint64_t offset) const {
    size_t i = size_t(offset % 8);
    return i < state_.identifier.size() ? uint8_t(state_.identifier[i]) : 0;
}

// Operations

void Firmware::ClearArea() {
    int number = block_[cb::kBlockNumber];
    if (number == 0) {
        Busy(true);
        if (!PauseMs(state_.vary.slow ? kSlowMemoryInitMs : state_.timing.memoryInitMs)) return;
        state_.memory.Clear();
        Busy(false);
        Token("OK", kFirst | kFinal);
        return;
    }
    if (!CheckPassword()) return;
    // The block is erased before the password is confirmed: a host that only
    // reads "OKPWD" (deleting a block) must find the "OK" behind it already
    // there, or its next session would read it as the acknowledgement.
    DirectoryBlock* block = state_.Block(number);
    if (block) {
        Busy(true);
        if (!PauseMs(state_.timing.blockEraseMs)) return;
        block->Clear();
        Busy(false);
    }
    if (!Token("OKPWD", kFirst)) return;
    Token(block ? "OK" : "NO", kFinal);
}

void Firmware::Download() {
    uint32_t start = Start(), end = End();
    if (start > end || end >= kMemorySize) return;
    uint64_t total = uint64_t(end) - start + 1;
    // Bytes the host sends past the end are left to the block search.
    if (!FaultMayStrike(kProgress) && io_->BusyForPages(start, total, PageWriteMs())) {
        // The line raises the busy line for each page as it comes in, so the
        // stream is taken in large pieces.
        std::array<uint8_t, 0x1000> piece;
        for (uint64_t a = start; a <= end;) {
            size_t want = size_t(std::min<uint64_t>(end - a + 1, piece.size()));
            size_t got = Receive(piece.data(), want, state_.timing.dataTimeoutMs);
            for (size_t i = 0; i < got; ++i, ++a) state_.memory[a] = uint8_t(piece[i] ^ Key(a - start));
            if (got != want) {
                io_->BusyForPages(0, 0, 0);  // the host gave up, or the power went
                return;
            }
        }
        PauseMs(PageWriteMs());  // the last page
        return;
    }
    std::array<uint8_t, 0x100> page;
    for (uint64_t a = start; a <= end;) {
        // The rest of the 256-byte page, taken in as it comes.
        uint64_t last = std::min<uint64_t>(end, a | 0xFF);
        size_t want = size_t(last - a + 1);
        size_t got = Receive(page.data(), want, state_.timing.dataTimeoutMs);
        for (size_t i = 0; i < got; ++i, ++a) state_.memory[a] = uint8_t(page[i] ^ Key(a - start));
        if (got != want) return;  // the host gave up
        // The page goes to memory; DSR holds the host off meanwhile.
        Busy(true);
        if (!PauseMs(PageWriteMs())) return;
        if (!Checkpoint((last - start + 1) * 2 >= total)) return;
        Busy(false);
    }
}

void Firmware::MemoryChecksum() {
    uint32_t start = Start(), end = End();
    if (!Token(UnexaminedOk(), kFirst)) return;
    uint32_t sum = 0;
    if (start <= end) {
        auto add = [&](uint32_t a) {
            sum += state_.memory[a & kAddressMask];
            return true;
        };
        if (Walk(start, end, start < end, end, state_.timing.memoryMicrosPerByte, add) != Walked::Done) return;
        // With start = end the host still reads one address.
        if (start == end && !Progress(LastAddress(end), true)) return;
    }
    SendSum(sum);
}

void Firmware::ReadData() {
    if (op_ == op::kOfflineRead && (!CheckPassword() || !Token("OKPWD", kFirst))) return;
    uint32_t start = Start(), end = End();
    DirectoryBlock* block = state_.Block(block_[cb::kBlockNumber]);
    bool ok = start <= end && end - start < kMemorySize;
    if (op_ == op::kReadChip) ok = ok && state_.chip.present;
    if (op_ == op::kOfflineRead) ok = ok && block && block->holdsFile;
    if (!ok) {
        Token("NO", kFirst);
        return;
    }
    if (!Token(UnexaminedOk(), kFirst)) return;
    std::vector<uint8_t> data;
    data.reserve(end - start + 1);
    for (uint64_t a = start; a <= end; ++a) {
        uint32_t at = uint32_t(a);
        data.push_back(op_ == op::kReadChip      ? state_.chip.Read(at)
                       : op_ == op::kOfflineRead ? block->At(at)
                                                 : state_.memory[at & kAddressMask]);
    }
    // The bytes wait until the host has taken the token and paused, so they
    // never pile up in its 1024-byte input queue; reading the chip overlaps that wait.
    int perByte = op_ == op::kReadChip ? state_.timing.readMicrosPerByte : state_.timing.memoryMicrosPerByte;
    uint64_t ready = io_->NowMicros() + uint64_t(std::max(perByte, 0)) * data.size();
    ready = std::max(ready, sessionMicros_ + uint64_t(std::max(state_.timing.dataDelayMs, 0)) * 1000);
    if (!Pause(ready - io_->NowMicros())) return;
    uint32_t sum = Sum16(data.data(), data.size());
    Reply reply{kProgress};
    reply.data = true;
    if (!Send(std::move(data), reply)) return;
    SendSum(sum);
}

void Firmware::Erase() {
    Chip& chip = state_.chip;
    if (!chip.present || chip.kind != ChipKind::Mtp) {
        Token("NO", kFirst | kFinal);
        return;
    }
    Busy(true);
    if (!PauseMs(EraseMs())) return;
    state_.chip.Erase();
    Busy(false);
    passed_ = true;
    Token("OK", kFirst | kFinal);
}

void Firmware::Protect() {
    Chip& chip = state_.chip;
    bool mtpOnly = op_ == op::kSmart || op_ == op::kSmartDebug || op_ == op::kHardwareProtect;  // SMART and hardware protection exist on MTP chips only
    if (!chip.present || (mtpOnly && chip.kind != ChipKind::Mtp)) {
        Token("NO", kFirst | kFinal);
        return;
    }
    Busy(true);
    if (!PauseMs(ProtectMs())) return;
    if (op_ == op::kReadProtect) chip.readProtected = true;
    else if (op_ == op::kLdcProtect) chip.ldcProtected = true;
    else if (op_ == op::kHardwareProtect) chip.writeProtected = true;
    else chip.smart = true;
    Busy(false);
    passed_ = true;
    Token("OK", kFirst | kFinal);
}

void Firmware::ProgramFromMemory() {
    uint32_t start = Start(), end = End();
    if (!ChipReady(start, end)) {
        Judge(false);
        Token("NO", kFirst);
        return;
    }
    if (!Token(UnexaminedOk(), kFirst)) return;
    Busy(true);
    // A protected chip takes no programming; the verdict says so at the end.
    bool writable = !state_.chip.readProtected && !state_.chip.writeProtected;
    bool ok = writable;
    if (start <= end) {
        auto program = [&](uint32_t a) {
            if (writable) ok = state_.chip.Program(a, state_.memory[a & kAddressMask]) && ok;
            return true;
        };
        if (Walk(start, end, start < end, end, ProgramMicrosPerByte(), program) != Walked::Done) return;
    }
    Busy(false);
    Judge(ok);
    Token(ok ? "OK" : "NO", kFinal);
}

void Firmware::Verify() {
    uint32_t start = Start(), end = End();
    DirectoryBlock* block = state_.Block(block_[cb::kBlockNumber]);
    bool ready = op_ == op::kOfflineVerify ? block && block->holdsFile : ChipReady(start, end);
    if (!ready) {
        Judge(false);
        Token("NO", kFirst);
        return;
    }
    if (!Token(UnexaminedOk(), kFirst)) return;
    if (start > end) return;
    auto same = [&](uint32_t a) {
        uint8_t have = op_ == op::kOfflineVerify ? block->At(a) : state_.chip.Read(a);
        return have == state_.memory[a & kAddressMask];
    };
    int perByte = op_ == op::kOfflineVerify ? state_.timing.memoryMicrosPerByte : state_.timing.readMicrosPerByte;
    Walked walked = Walk(start, end, true, std::min(end + 1, kMaxAddress), perByte, same);
    if (walked != Walked::Ended) Judge(walked == Walked::Done);
}

void Firmware::ChipChecksum() {
    uint32_t start = Start(), end = End();
    if (!ChipReady(start, end)) {
        Token("NO", kFirst);
        return;
    }
    if (!Token(UnexaminedOk(), kFirst)) return;
    uint32_t sum = 0;
    if (start <= end) {
        auto add = [&](uint32_t a) {
            sum += state_.chip.Read(a);
            return true;
        };
        if (Walk(start, end, start < end, end, state_.timing.readMicrosPerByte, add) != Walked::Done) return;
    }
    // The host holds the sum against the code's, which the block carries.
    passed_ = uint16_t(sum) == block_.Get16(cb::kChecksum);
    SendSum(sum);
}

void Firmware::CopyChip() {
    uint32_t start = Start(), end = End();
    if (!ChipReady(start, end)) {
        Token("NO", kFirst);
        return;
    }
    if (!Token(UnexaminedOk(), kFirst)) return;
    uint32_t sum = 0;
    if (start <= end) {
        auto copy = [&](uint32_t a) {
            uint8_t byte = state_.chip.Read(a);
            state_.memory[a & kAddressMask] = byte;
            sum += byte;
            return true;
        };
        if (Walk(start, end, start < end, end, state_.timing.readMicrosPerByte, copy) != Walked::Done) return;
    }
    SendSum(sum);
}

void Firmware::BlankCheck() {
    uint32_t start = Start(), end = End();
    if (!ChipReady(start, end)) {
        Token("NO", kFirst);
        return;
    }
    if (!Token(UnexaminedOk(), kFirst)) return;
    if (start > end) return;
    auto blank = [&](uint32_t a) { return state_.chip.Read(a) == 0xFF; };
    Walked walked = Walk(start, end, true, std::min(end + 1, kMaxAddress), state_.timing.readMicrosPerByte, blank);
    if (walked != Walked::Ended) Judge(walked == Walked::Done);
}

void Firmware::WriteConfig() {
    DirectoryBlock* block = state_.Block(block_[cb::kBlockNumber]);
    if (!block) {
        // The host waits for the second verdict even after the first said no.
        if (Token("NO", kFirst)) Token("NO", kFinal);
        return;
    }
    if (!Token("OK", kFirst)) return;
    std::array<uint8_t, kConfigRecordSize> record{};
    for (uint8_t& byte : record)
        if (!Receive(byte, state_.timing.dataTimeoutMs)) {
            Token("NO", kFinal);
            return;
        }
    Busy(true);
    if (!PauseMs(state_.timing.recordWriteMs)) return;
    block = state_.Block(block_[cb::kBlockNumber]);
    block->config = record;
    block->counterCurrent = block_.Get24(cb::kCounterCurrent);
    block->counterEnd = block_.Get24(cb::kCounterEnd);
    block->idAddress = block_.Get24(cb::kIdAddress);
    block->chipType = block_[cb::kChipType];
    block->powerSelect = block_[cb::kPowerSelect];
    block->autoFlags = block_[cb::kAutoFlags];
    Busy(false);
    Token("OK", kFinal);
}

void Firmware::WriteMasterCode() {
    uint32_t start = Start(), end = End();
    DirectoryBlock* block = state_.Block(block_[cb::kBlockNumber]);
    if (!block || start > end || end >= kMemorySize) {
        Token("NO", kFirst);
        return;
    }
    if (!Token("OK", kFirst)) return;
    Busy(true);
    auto none = [](uint32_t) { return true; };
    if (Walk(start, end, start < end, end, state_.timing.flashMicrosPerByte, none) != Walked::Done) return;
    // Only a complete write makes the block hold a file.
    block->start = start;
    block->end = end;
    const uint8_t* code = state_.memory.Range(start, size_t(end - start) + 1);
    block->code.assign(code, code + (end - start) + 1);
    block->holdsFile = true;
    Busy(false);
}

void Firmware::FileInfo() {
    DirectoryBlock* block = state_.Block(block_[cb::kBlockNumber]);
    if (!block || !block->holdsFile) {
        Token(state_.vary.nofile ? "NO" : "NOFILE", kFirst | kFinal);
        return;
    }
    if (!Token("OKFILE", kFirst)) return;
    auto record = block->InfoRecord();
    Send(std::vector<uint8_t>(record.begin(), record.end()), Reply{kFinal});
}

void Firmware::SetCounter() {
    if (!CheckPassword()) return;
    DirectoryBlock* block = state_.Block(block_[cb::kBlockNumber]);
    bool ok = block && block->holdsFile;
    if (ok) {
        Busy(true);
        if (!PauseMs(state_.timing.recordWriteMs)) return;
        block->counterCurrent = block_.Get24(cb::kCounterCurrent);
        block->counterEnd = block_.Get24(cb::kCounterEnd);
        block->idAddress = block_.Get24(cb::kIdAddress);
        Busy(false);
    }
    if (!Token("OKPWD", kFirst)) return;
    Token(ok ? "OK" : "NO", kFinal);
}

void Firmware::ChangePassword() {
    if (!CheckPassword()) return;
    // Characters 1-6 travel in the range bytes, 7-8 in the checksum bytes.
    std::string fresh = TextAt(block_, cb::kStartAddress, 6);
    if (fresh.size() == 6) fresh += TextAt(block_, cb::kChecksum, 2);
    if (!PauseMs(state_.timing.recordWriteMs)) return;
    state_.password = fresh;
    Token("OKPWD", kFirst | kFinal);
}

void Firmware::CopyMaster() {
    if (!CheckPassword() || !Token("OKPWD", kFirst)) return;
    DirectoryBlock* block = state_.Block(block_[cb::kBlockNumber]);
    if (!block || !block->holdsFile) {
        Token("NO", kFirst);
        return;
    }
    if (!Token("OK", kFirst) || !Send(Word24(block->end), Reply{kFirst})) return;
    Busy(true);
    auto copy = [&](uint32_t a) {
        state_.memory[a & kAddressMask] = block->At(a);
        return true;
    };
    // The host follows the progress whenever the file does not end at 0.
    Walk(block->start, block->end, block->end != 0, block->end, state_.timing.memoryMicrosPerByte, copy);
    Busy(false);
}

void Firmware::Lock() {
    if (!CheckPassword()) return;
    if (!PauseMs(state_.timing.recordWriteMs)) return;
    state_.locked = block_[cb::kLockState] == 1;
    if (!Token("OKPWD", kFirst)) return;
    Token("OK", kFinal);
}

void Firmware::ProgramStreamed() {
    uint32_t start = Start(), end = End();
    bool ready = ChipReady(start, end) && end < kMemorySize;
    if (!Token(ready ? UnexaminedOk() : "NO", kFirst)) return;
    Busy(true);
    bool writable = ready && !state_.chip.readProtected && !state_.chip.writeProtected;
    bool ok = writable;
    uint32_t sum = 0;
    if (start <= end) {
        uint64_t total = uint64_t(end) - start + 1;
        for (uint64_t i = 0; i < total; ++i) {
            uint8_t byte;
            if (!Receive(byte, state_.timing.dataTimeoutMs)) return;  // the host gave up
            uint8_t plain = uint8_t(byte ^ Key(i));
            sum += plain;
            if (writable) ok = state_.chip.Program(uint32_t(start + i), plain) && ok;
            if (!Pause(uint64_t(std::max(ProgramMicrosPerByte(), 0)))) return;
            if (i == total / 2 && !Checkpoint(true)) return;
        }
    }
    // Whatever the host sends past the end is left to the block search.
    Busy(false);
    bool sumOk = uint16_t(sum) == block_.Get16(cb::kChecksum);
    Judge(ok && sumOk);
    Token(ok && sumOk ? "OK" : "NO", kFinal);
}

void Firmware::SendIdentifier() {
    std::vector<uint8_t> id;
    for (int i = 0; i < 8; ++i) id.push_back(Key(uint64_t(i)));
    Send(std::move(id), Reply{kFirst | kFinal});
}

void Firmware::MasterChecksum() {
    uint32_t start = Start(), end = End();
    DirectoryBlock* block = state_.Block(block_[cb::kBlockNumber]);
    if (!block || !block->holdsFile) {
        Token("NO", kFirst);
        return;
    }
    if (!Token(UnexaminedOk(), kFirst)) return;
    uint32_t sum = 0;
    if (start <= end) {
        auto add = [&](uint32_t a) {
            sum += block->At(a);
            return true;
        };
        // The host keeps only the low 16 bits of each address, so the last
        // one is the end itself, never end + 1.
        if (Walk(start, end, start < end, end, state_.timing.memoryMicrosPerByte, add) != Walked::Done) return;
        if (start == end && !Progress(LastAddress(end), true)) return;
    }
    SendSum(sum);
}

void Firmware::WriteIdCode() {
    Chip& chip = state_.chip;
    uint32_t address = block_.Get24(cb::kIdAddress);
    uint32_t value = block_.Get24(cb::kCounterCurrent);
    if (!chip.present) {
        Judge(false);
        if (Token("NO", kFirst)) Token("NO", kFinal);
        return;
    }
    if (!Token(UnexaminedOk(), kFirst)) return;
    Busy(true);
    if (!Pause(3 * uint64_t(std::max(ProgramMicrosPerByte(), 0)))) return;
    bool ok = chip.Holds(address, address + 2) && !chip.readProtected && !chip.writeProtected;
    if (ok) {
        // Most significant byte first, at the ID address.
        bool a = chip.Program(address, uint8_t(value >> 16));
        bool b = chip.Program(address + 1, uint8_t(value >> 8));
        bool c = chip.Program(address + 2, uint8_t(value));
        ok = a && b && c;
    }
    Busy(false);
    Judge(ok);
    Token(ok ? "OK" : "NO", kFinal);
}

void Firmware::SendInfo() {
    std::vector<uint8_t> info;
    AppendFixed(info, state_.version, 13);
    info.push_back(' ');
    AppendFixed(info, state_.date, 10);
    Send(std::move(info), Reply{kFirst | kFinal});
}

}  // namespace veldrix::sim
