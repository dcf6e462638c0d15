#include "link/TracingPort.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "code/WireTrace.h"
#include "seams/Platform.h"
#include "state/CommandBlock.h"
#include "state/OpCodes.h"

namespace veldrix {

namespace {
// Written out when this much waits, or this long after the last write: a
// port call costs a copy, and a crash loses at most the last moments.
constexpr size_t kPieceBytes = 64 * 1024;
constexpr uint64_t kPieceMicros = 200000;

std::string Ok(bool ok) { return ok ? "ok" : "fail"; }

// "COM3", "ttyUSB0" from "/dev/ttyUSB0": a name a file can carry.
std::string FileNamePart(const std::string& port) {
    std::string name = port.substr(port.find_last_of("/\\") + 1);
    for (char& c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.')) c = '_';
    return name.empty() ? "port" : name;
}
}  // namespace

std::unique_ptr<TraceFile> TraceFile::Single(std::string path) {
    std::unique_ptr<TraceFile> file(new TraceFile);
    file->single_ = std::move(path);
    file->OpenFile(file->single_, true);
    return file;
}

std::unique_ptr<TraceFile> TraceFile::Daily(std::string folder, Clock& clock) {
    std::unique_ptr<TraceFile> file(new TraceFile);
    file->folder_ = std::move(folder);
    file->clock_ = &clock;
    return file;
}

TraceFile::~TraceFile() { Flush(); }

void TraceFile::OpenFile(const std::string& path, bool fresh) {
    Flush();
    file_.Close();
    path_ = path;
    if (fresh) RemoveFile(path);
    open_ = file_.Open(path);
    capped_ = open_ && file_.Size() >= cap_;
    if (open_ && file_.Size() == 0) pending_ = std::string(trace::kFirstLine) + "\n";
}

void TraceFile::Begin(const std::string& portName) {
    if (folder_.empty()) return;
    LocalTime t = clock_->LocalNow();
    char day[16];
    std::snprintf(day, sizeof day, "%04d-%02d-%02d", t.year, t.month, t.day);
    std::string path = JoinPath(folder_, std::string("veldrix-") + day + "-" + FileNamePart(portName) + ".trace");
    if (path != path_) {
        MakeFolders(folder_);
        OpenFile(path, false);
    }
}

void TraceFile::Add(const std::string& line, uint64_t micros) {
    if (!open_ || capped_) return;
    if (file_.Size() + pending_.size() + line.size() + 1 > cap_) {
        pending_ += "# the trace stops here: " + std::to_string(cap_ >> 20) + " MB today\n";
        capped_ = true;
        Flush();
        return;
    }
    pending_ += line;
    pending_ += '\n';
    if (pending_.size() >= kPieceBytes || micros - flushedAt_ >= kPieceMicros) {
        flushedAt_ = micros;
        Flush();
    }
}

void TraceFile::Flush() {
    if (!open_ || pending_.empty()) return;
    file_.Append(pending_, false);
    pending_.clear();
}

TracingPort::TracingPort(Port& inner, Clock& clock, std::unique_ptr<TraceFile> file)
    : inner_(inner), clock_(clock), file_(std::move(file)), epoch_(clock.NowMicros()) {}

TracingPort::~TracingPort() { file_->Flush(); }

void TracingPort::Put(const char* call, const std::string& argument, const std::string& result, const uint8_t* bytes,
                      size_t count, const bool* mask) {
    uint64_t micros = clock_.NowMicros() - epoch_;
    file_->Add(trace::FormatLine(micros, call, argument, result, bytes, count, mask), micros);
}

void TracingPort::MaskBlock(int& at, const uint8_t* bytes, size_t count, bool* mask, bool learnOp) {
    for (size_t i = 0; i < count; ++i) {
        if (at < 0) {
            mask[i] = false;
            continue;
        }
        if (learnOp && at == cb::kOpCode) op_ = uint8_t(bytes[i] & 0x3F);
        bool password = at >= cb::kPassword && at < cb::kPassword + 8;
        // A new password travels in the range and sum fields of its block.
        if (op_ == op::kSetPassword)
            password = password || (at >= cb::kStartAddress && at < cb::kStartAddress + 6) ||
                       (at >= cb::kChecksum && at < cb::kChecksum + 2);
        mask[i] = password;
        if (++at == cb::kSize) at = -1;
    }
}

bool TracingPort::Open(const std::string& name) {
    file_->Begin(name);
    bool ok = inner_.Open(name);
    std::string why = ok ? std::string() : inner_.OpenError();
    Put("open", name, ok ? "ok" : why.empty() ? "fail" : "fail: " + why);
    blockAt_ = echoAt_ = -1;
    return ok;
}

void TracingPort::Close() {
    inner_.Close();
    Put("close", "", "");
    file_->Flush();
}

bool TracingPort::SetQueues(size_t input, size_t output) {
    bool ok = inner_.SetQueues(input, output);
    Put("queues", std::to_string(input) + "," + std::to_string(output), Ok(ok));
    return ok;
}

bool TracingPort::SetTimeouts(const PortTimeouts& t) {
    bool ok = inner_.SetTimeouts(t);
    Put("timeouts",
        std::to_string(t.readInterval) + "," + std::to_string(t.readTotalMultiplier) + "," +
            std::to_string(t.readTotalConstant) + "," + std::to_string(t.writeTotalMultiplier) + "," +
            std::to_string(t.writeTotalConstant),
        Ok(ok));
    return ok;
}

bool TracingPort::Purge() {
    bool ok = inner_.Purge();
    Put("purge", "", Ok(ok));
    return ok;
}

bool TracingPort::SetLine(const std::string& mode) {
    bool ok = inner_.SetLine(mode);
    std::string back = inner_.LineReadBack();
    Put("line", mode, back.empty() ? Ok(ok) : Ok(ok) + ": " + back);
    return ok;
}

std::optional<uint32_t> TracingPort::ModemStatus() {
    std::optional<uint32_t> bits = inner_.ModemStatus();
    char text[16];
    if (bits) std::snprintf(text, sizeof text, "0x%02x", unsigned(*bits));
    Put("modem", "", bits ? text : "fail");
    return bits;
}

bool TracingPort::ArmTransmitEmpty() {
    bool ok = inner_.ArmTransmitEmpty();
    Put("arm", "", Ok(ok));
    // The session opening arms the wait just before it writes its block.
    blockAt_ = 0;
    echoAt_ = -1;
    op_ = 0;
    return ok;
}

bool TracingPort::WaitTransmitEmpty(int timeoutMs) {
    bool ok = inner_.WaitTransmitEmpty(timeoutMs);
    Put("txempty", std::to_string(timeoutMs), Ok(ok));
    return ok;
}

size_t TracingPort::Read(uint8_t* buffer, size_t count) {
    size_t n = inner_.Read(buffer, count);
    if (echoAt_ >= 0) {
        std::unique_ptr<bool[]> mask(new bool[n + 1]);
        MaskBlock(echoAt_, buffer, n, mask.get(), false);
        Put("read", std::to_string(count), std::to_string(n), buffer, n, mask.get());
    } else {
        Put("read", std::to_string(count), std::to_string(n), buffer, n);
    }
    return n;
}

size_t TracingPort::Write(const uint8_t* data, size_t count) {
    size_t n = inner_.Write(data, count);
    if (blockAt_ >= 0) {
        std::unique_ptr<bool[]> mask(new bool[n + 1]);
        MaskBlock(blockAt_, data, n, mask.get(), true);
        Put("write", std::to_string(count), std::to_string(n), data, n, mask.get());
        // The acknowledgement echoes the block: its password bytes are kept out too.
        if (blockAt_ < 0) echoAt_ = 0;
    } else {
        blockAt_ = -1;
        Put("write", std::to_string(count), std::to_string(n), data, n);
    }
    return n;
}

}  // namespace veldrix
