#include "sim/SimLine.h"

#include <algorithm>
#include <cctype>

namespace veldrix::sim {

namespace {
// Port and device names compare without regard to case, as on Windows.
bool SameName(const std::string& a, const std::string& b) {
    if (a == b) return true;
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}
}  // namespace

SimLine::SimLine(VirtualTime& t) : time(t) {}

void SimLine::Send(std::deque<Timed>& queue, uint64_t& txNanos, const uint8_t* data, size_t count) {
    uint64_t nowNanos = time.Now() * 1000;
    txNanos = std::max(txNanos, nowNanos);
    for (size_t i = 0; i < count; ++i) {
        txNanos += byteNanos;
        queue.push_back({data[i], TxDoneMicros(txNanos)});
    }
}

void SimLine::SendToDevice(const uint8_t* data, size_t count) {
    size_t first = toDevice.size();
    Send(toDevice, hostTxNanos, data, count);
    for (size_t i = first; i < toDevice.size() && pages.left > 0; ++i, --pages.left, ++pages.address)
        if ((pages.address & 0xFF) == 0xFF || pages.left == 1)
            busySpans.push_back({toDevice[i].at, toDevice[i].at + pages.writeMicros});
}

bool SimLine::BusyAt(uint64_t now) {
    while (!busySpans.empty() && busySpans.front().second <= now) busySpans.pop_front();
    return busy || (!busySpans.empty() && busySpans.front().first <= now);
}

void SimLine::EndPages(uint64_t now) {
    pages = Pages{};
    std::erase_if(busySpans, [now](const std::pair<uint64_t, uint64_t>& s) { return s.first > now; });
}

// Device side

bool SimDeviceIo::ReadByte(uint8_t& byte, int timeoutMs) {
    line_.time.Enter(&line_);
    SimLine& l = line_;
    uint64_t deadline = timeoutMs < 0 ? kNever : l.time.Now() + uint64_t(timeoutMs) * 1000;
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
    uint64_t now = l.time.Now();
    if (l.toDevice.empty() || l.toDevice.front().at > now) return false;
    byte = l.toDevice.front().byte;
    l.toDevice.pop_front();
    return true;
}

bool SimDeviceIo::BusyForPages(uint32_t address, uint64_t count, int pageWriteMs) {
    line_.time.Enter(&line_);
    line_.EndPages(line_.time.Now());
    if (count == 0) return true;
    line_.pages = {address, count, uint64_t(std::max(pageWriteMs, 0)) * 1000};
    // Bytes the host has sent already are the first of them.
    auto& q = line_.toDevice;
    for (size_t i = 0; i < q.size() && line_.pages.left > 0; ++i, --line_.pages.left, ++line_.pages.address)
        if ((line_.pages.address & 0xFF) == 0xFF || line_.pages.left == 1)
            line_.busySpans.push_back({q[i].at, q[i].at + line_.pages.writeMicros});
    return true;
}

size_t SimDeviceIo::Read(uint8_t* buffer, size_t count, int gapMs, const std::atomic<bool>& on) {
    line_.time.Enter(&line_);
    if (!on.load()) return 0;
    SimLine& l = line_;
    auto& q = l.toDevice;
    const uint64_t gap = uint64_t(std::max(gapMs, 0)) * 1000;
    const uint64_t from = l.time.Now();
    // The run so far of queued bytes that keep within the gap, taken up
    // where it was left: the host only adds bytes, unless it purges.
    uint64_t last = from;  // arrival of the run's last byte, or the call
    size_t run = 0;
    bool broken = false;  // the byte after the run comes too late
    uint64_t cuts = l.toDeviceCuts;
    auto scan = [&] {
        if (cuts != l.toDeviceCuts) {
            cuts = l.toDeviceCuts;
            last = from;
            run = 0;
            broken = false;
        }
        while (!broken && run < count && run < q.size()) {
            if (q[run].at > last + gap) broken = true;
            else last = q[run].at;
            if (!broken) ++run;
        }
    };
    std::function<bool()> ready = [&] { return l.stopping.load() || !on.load(); };
    std::function<uint64_t()> wake = [&] {
        scan();
        return run == count ? last : last + gap;
    };
    l.time.WaitFor(ready, wake);
    if (l.stopping.load()) return 0;
    scan();
    uint64_t now = l.time.Now();
    size_t n = 0;
    while (n < run && q.front().at <= now) {
        buffer[n++] = q.front().byte;
        q.pop_front();
    }
    return n;
}

void SimDeviceIo::Write(const uint8_t* data, size_t count) {
    line_.time.Enter(&line_);
    line_.Send(line_.toHost, line_.deviceTxNanos, data, count);
    line_.deviceBytesSent += count;
}

void SimDeviceIo::SetBusy(bool busy) {
    line_.time.Enter(&line_);
    line_.busy = busy;
}

void SimDeviceIo::Sleep(int ms) {
    line_.time.Enter(&line_);
    if (ms > 0 && !line_.stopping.load()) line_.time.SleepMicros(uint64_t(ms) * 1000);
}

void SimDeviceIo::SleepWhile(int ms, const std::atomic<bool>& on) {
    line_.time.Enter(&line_);
    if (ms <= 0 || line_.stopping.load() || !on.load()) return;
    const uint64_t until = line_.time.Now() + uint64_t(ms) * 1000;
    std::function<bool()> ready = [&] { return !on.load() || line_.stopping.load(); };
    std::function<uint64_t()> wake = [until] { return until; };
    line_.time.WaitFor(ready, wake);
}

void SimDeviceIo::DiscardInput() {
    line_.time.Enter(&line_);
    uint64_t now = line_.time.Now();
    while (!line_.toDevice.empty() && line_.toDevice.front().at <= now) line_.toDevice.pop_front();
}

// Adapter list

std::optional<std::string> SimAdapters::Lookup(const std::string& valueName) {
    if (!available) return std::nullopt;
    for (const SimAdapter& a : adapters)
        if (a.plugged && SameName(valueName, "\\Device\\ProlificSerial" + std::to_string(a.valueIndex)))
            return a.portName;
    return std::nullopt;
}

SimAdapter* SimAdapters::FindPort(const std::string& portName) {
    for (SimAdapter& a : adapters)
        if (SameName(a.portName, portName)) return &a;
    return nullptr;
}

// Host side

bool SimPort::Usable() {
    if (!open_) return false;
    SimAdapter* a = adapters_.FindPort(name_);
    if (a && a->plugged) return true;
    open_ = false;
    return false;
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
    line_.time.Enter(&line_);
    if (!Usable()) return false;
    ++purges;
    if (Live()) {
        // Bytes still on their way are lost with the driver's queues.
        uint64_t now = line_.time.Now();
        while (!line_.toHost.empty() && line_.toHost.front().at <= now) line_.toHost.pop_front();
        if (std::erase_if(line_.toDevice, [now](const SimLine::Timed& t) { return t.at > now; })) ++line_.toDeviceCuts;
        line_.EndPages(now);
        line_.hostTxNanos = std::min(line_.hostTxNanos, now * 1000);
    }
    return true;
}

bool SimPort::SetLine(const std::string& mode) {
    if (!Usable()) return false;
    mode_ = mode;
    return true;
}

std::optional<uint32_t> SimPort::ModemStatus() {
    line_.time.Enter(&line_);
    if (!Usable()) return std::nullopt;
    if (!Live()) return 0;
    return line_.BusyAt(line_.time.Now()) ? kModemDsr : 0;
}

bool SimPort::ArmTransmitEmpty() { return Usable(); }

bool SimPort::WaitTransmitEmpty(int timeoutMs) {
    line_.time.Enter(&line_);
    if (!Usable()) return false;
    if (!Live()) return true;  // nothing behind the adapter: the bytes are gone at once
    const uint64_t done = line_.TxDoneMicros(line_.hostTxNanos);
    const uint64_t deadline = line_.time.Now() + uint64_t(timeoutMs > 0 ? timeoutMs : 0) * 1000;
    const uint64_t until = std::min(done, deadline);
    std::function<bool()> ready = [] { return false; };
    std::function<uint64_t()> wake = [until] { return until; };
    if (until > line_.time.Now()) line_.time.WaitFor(ready, wake);
    return done <= deadline;
}

size_t SimPort::Read(uint8_t* buffer, size_t count) {
    line_.time.Enter(&line_);
    if (!Usable() || count == 0) return 0;
    uint64_t start = line_.time.Now();
    uint64_t total = start + uint64_t(timeouts_.readTotalConstant + timeouts_.readTotalMultiplier * int(count)) * 1000;
    if (!Live()) {
        // Nothing behind this adapter: the read waits out its time-out.
        line_.time.SleepMicros(total - start);
        return 0;
    }
    size_t got = 0;
    uint64_t lastArrival = 0;
    for (;;) {
        uint64_t now = line_.time.Now();
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
    line_.time.Enter(&line_);
    if (!Usable()) return 0;
    if (line_.onHostWrite) line_.onHostWrite(data, count, line_.time.Now());
    if (Live()) {
        line_.SendToDevice(data, count);
        line_.hostBytesSent += count;
        // A synchronous write returns once the driver's output queue has room
        // for what is still waiting to go out: the host can run at most a
        // queue's length ahead of the line.
        size_t limit = queueSizes.empty() ? 1024 : std::max<size_t>(queueSizes.back().second, 1);
        auto& q = line_.toDevice;
        // Room once all but limit of the queued bytes have gone out; with
        // room already the write returns at once, as a driver's does.
        auto room = [&] { return q.size() <= limit ? uint64_t(0) : q[q.size() - limit - 1].at; };
        if (room() <= line_.time.Now()) return count;
        std::function<bool()> ready = [&] { return line_.stopping.load(); };
        std::function<uint64_t()> wake = room;
        line_.time.WaitFor(ready, wake);
    }
    return count;
}

}  // namespace veldrix::sim
