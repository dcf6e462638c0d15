#include "sim/SimLine.h"

#include <algorithm>
#include <cctype>

namespace veldrix::sim {

namespace {
std::string Upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}
}  // namespace

SimLine::SimLine(VirtualTime& t) : time(t) {}

void SimLine::Send(std::deque<Timed>& queue, uint64_t& txNanos, const uint8_t* data, size_t count) {
    uint64_t nowNanos = time.NowMicros() * 1000;
    txNanos = std::max(txNanos, nowNanos);
    for (size_t i = 0; i < count; ++i) {
        txNanos += byteNanos;
        queue.push_back({data[i], TxDoneMicros(txNanos)});
    }
}

size_t SimLine::Arrived(const std::deque<Timed>& queue, uint64_t now) {
    size_t n = 0;
    while (n < queue.size() && queue[n].at <= now) ++n;
    return n;
}

// Device side

bool SimDeviceIo::ReadByte(uint8_t& byte, int timeoutMs) {
    SimLine& l = line_;
    uint64_t deadline = timeoutMs < 0 ? kNever : l.time.NowMicros() + uint64_t(timeoutMs) * 1000;
    std::function<bool()> ready = [&] {
        return l.stopping.load() || (!l.toDevice.empty() && l.toDevice.front().at <= l.time.NowMicrosUnlocked());
    };
    std::function<uint64_t()> wake = [&] {
        uint64_t t = deadline;
        if (!l.toDevice.empty()) t = std::min(t, l.toDevice.front().at);
        return t;
    };
    l.time.WaitFor(ready, wake);
    if (l.stopping.load()) return false;
    uint64_t now = l.time.NowMicros();
    if (l.toDevice.empty() || l.toDevice.front().at > now) return false;
    byte = l.toDevice.front().byte;
    l.toDevice.pop_front();
    return true;
}

void SimDeviceIo::Write(const uint8_t* data, size_t count) {
    line_.Send(line_.toHost, line_.deviceTxNanos, data, count);
    line_.deviceBytesSent += count;
}

void SimDeviceIo::SetBusy(bool busy) { line_.busy = busy; }

void SimDeviceIo::Sleep(int ms) {
    if (ms > 0 && !line_.stopping.load()) line_.time.SleepMicros(uint64_t(ms) * 1000);
}

void SimDeviceIo::DiscardInput() {
    uint64_t now = line_.time.NowMicros();
    while (!line_.toDevice.empty() && line_.toDevice.front().at <= now) line_.toDevice.pop_front();
}

// Adapter list

std::optional<std::string> SimAdapters::Lookup(const std::string& valueName) {
    if (!available) return std::nullopt;
    for (const SimAdapter& a : adapters)
        if (a.plugged && Upper(valueName) == Upper("\\Device\\ProlificSerial" + std::to_string(a.valueIndex)))
            return a.portName;
    return std::nullopt;
}

SimAdapter* SimAdapters::FindPort(const std::string& portName) {
    for (SimAdapter& a : adapters)
        if (Upper(a.portName) == Upper(portName)) return &a;
    return nullptr;
}

// Host side

bool SimPort::Usable() {
    if (!open_) return false;
    SimAdapter* a = adapters_.FindPort(name_);
    return a && a->plugged;
}

bool SimPort::Live() {
    if (!Usable()) return false;
    return adapters_.FindPort(name_)->hasProgrammer;
}

bool SimPort::Open(const std::string& name) {
    Close();
    SimAdapter* a = adapters_.FindPort(name);
    if (!a || !a->plugged) return false;
    name_ = name;
    open_ = true;
    return true;
}

void SimPort::Close() { open_ = false; }
bool SimPort::IsOpen() { return open_; }

bool SimPort::SetQueues(size_t input, size_t output) {
    if (!Usable()) return false;
    queueSizes.push_back({input, output});
    return true;
}

bool SimPort::SetTimeouts(const PortTimeouts& timeouts) {
    if (!Usable()) return false;
    timeouts_ = timeouts;
    return true;
}

bool SimPort::Purge() {
    if (!Usable()) return false;
    ++purges;
    if (Live()) {
        // Bytes still on their way are lost with the driver's queues.
        uint64_t now = line_.time.NowMicros();
        while (!line_.toHost.empty() && line_.toHost.front().at <= now) line_.toHost.pop_front();
        std::erase_if(line_.toDevice, [now](const SimLine::Timed& t) { return t.at > now; });
        line_.hostTxNanos = std::min(line_.hostTxNanos, now * 1000);
    }
    return true;
}

bool SimPort::SetLine(const std::string& mode) {
    if (!Usable()) return false;
    mode_ = mode;
    return true;
}

uint32_t SimPort::ModemStatus() {
    if (!Live()) return 0;
    return line_.busy ? kModemDsr : 0;
}

bool SimPort::ArmTransmitEmpty() { return Usable(); }

bool SimPort::WaitTransmitEmpty(int timeoutMs) {
    if (!Usable()) return false;
    if (!Live()) return true;  // nothing behind the adapter: the bytes are gone at once
    const uint64_t done = line_.TxDoneMicros(line_.hostTxNanos);
    const uint64_t deadline = line_.time.NowMicros() + uint64_t(timeoutMs > 0 ? timeoutMs : 0) * 1000;
    const uint64_t until = std::min(done, deadline);
    std::function<bool()> ready = [] { return false; };
    std::function<uint64_t()> wake = [until] { return until; };
    if (until > line_.time.NowMicros()) line_.time.WaitFor(ready, wake);
    return done <= deadline;
}

size_t SimPort::Read(uint8_t* buffer, size_t count) {
    if (!Usable() || count == 0) return 0;
    uint64_t start = line_.time.NowMicros();
    uint64_t total = start + uint64_t(timeouts_.readTotalConstant + timeouts_.readTotalMultiplier * int(count)) * 1000;
    if (!Live()) {
        // Nothing behind this adapter: the read waits out its time-out.
        line_.time.SleepMicros(total - start);
        return 0;
    }
    size_t got = 0;
    uint64_t lastArrival = 0;
    for (;;) {
        uint64_t now = line_.time.NowMicros();
        while (got < count && !line_.toHost.empty() && line_.toHost.front().at <= now) {
            lastArrival = line_.toHost.front().at;
            buffer[got++] = line_.toHost.front().byte;
            line_.toHost.pop_front();
        }
        if (got == count) return got;
        uint64_t deadline = total;
        if (got > 0 && timeouts_.readInterval > 0)
            deadline = std::min(deadline, lastArrival + uint64_t(timeouts_.readInterval) * 1000);
        if (now >= deadline) return got;
        auto& q = line_.toHost;
        std::function<bool()> ready = [&] { return line_.stopping.load(); };
        std::function<uint64_t()> wake = [&] { return q.empty() ? deadline : std::min(deadline, q.front().at); };
        line_.time.WaitFor(ready, wake);
        if (line_.stopping.load()) return got;
    }
}

size_t SimPort::Write(const uint8_t* data, size_t count) {
    if (!Usable()) return 0;
    if (line_.onHostWrite) line_.onHostWrite(data, count, line_.time.NowMicros());
    if (Live()) {
        line_.Send(line_.toDevice, line_.hostTxNanos, data, count);
        line_.hostBytesSent += count;
        // A synchronous write returns once the driver's output queue has room
        // for what is still waiting to go out: the host can run at most a
        // queue's length ahead of the line.
        size_t limit = queueSizes.empty() ? 1024 : std::max<size_t>(queueSizes.back().second, 1);
        auto& q = line_.toDevice;
        std::function<bool()> ready = [&] { return line_.stopping.load(); };
        std::function<uint64_t()> wake = [&] {
            size_t pending = q.size() - SimLine::Arrived(q, line_.time.NowMicrosUnlocked());
            if (pending <= limit) return uint64_t(0);
            return q[q.size() - limit - 1].at;  // when enough has gone out
        };
        line_.time.WaitFor(ready, wake);
    }
    return count;
}

}  // namespace veldrix::sim
