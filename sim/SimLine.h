#pragma once
// The serial line between the host and the simulated programmer on virtual
// time: bytes take their 11 bit times at 38400 baud in each direction, the
// busy line is the unit's DSR, and the adapter can be unplugged.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "seams/Port.h"
#include "seams/PortDirectory.h"
#include "sim/DeviceIo.h"
#include "sim/VirtualTime.h"

namespace veldrix::sim {

// Nanoseconds one byte takes at 38400 baud, 8 data bits, even parity, 1 stop bit.
constexpr uint64_t kByteNanos = 11ull * 1000000000ull / 38400ull;

class SimLine {
public:
    explicit SimLine(VirtualTime& time);

    struct Timed {
        uint8_t byte;
        uint64_t at;  // microseconds
    };

    VirtualTime& time;
    std::deque<Timed> toDevice, toHost;
    uint64_t hostTxNanos = 0, deviceTxNanos = 0;  // when each transmitter is free
    bool busy = false;                            // DSR as the host reads it
    std::atomic<bool> stopping{false};
    uint64_t byteNanos = kByteNanos;              // 0: an instant line
    uint64_t hostBytesSent = 0, deviceBytesSent = 0;
    uint64_t toDeviceCuts = 0;  // purges that took bytes still on their way to the unit
    // Optional: sees every host write as it is accepted, with the virtual
    // time in microseconds (tests record the traffic with it).
    std::function<void(const uint8_t* data, size_t count, uint64_t atMicros)> onHostWrite;

    // A download's pages as the unit writes them (BusyForPages): the busy
    // line is up from the arrival of each page's last byte for writeMicros.
    struct Pages {
        uint32_t address = 0;  // of the next byte the host sends
        uint64_t left = 0;     // bytes still to come
        uint64_t writeMicros = 0;
    };
    Pages pages;
    std::deque<std::pair<uint64_t, uint64_t>> busySpans;  // microseconds, [from, to)

    // Called by whoever holds the turn.
    void Send(std::deque<Timed>& queue, uint64_t& txNanos, const uint8_t* data, size_t count);
    // The host's bytes on their way, with the page writes they set off.
    void SendToDevice(const uint8_t* data, size_t count);
    // DSR at now; spans that are over are dropped.
    bool BusyAt(uint64_t now);
    // The page writes not begun by now are off (the host purged, the unit gave up).
    void EndPages(uint64_t now);
    uint64_t TxDoneMicros(uint64_t txNanos) const { return (txNanos + 999) / 1000; }
};

// The device's end of the line.
class SimDeviceIo : public DeviceIo {
public:
    explicit SimDeviceIo(SimLine& line) : line_(line) {}
    bool ReadByte(uint8_t& byte, int timeoutMs) override;
    // One wait for the whole run: a download costs a turn, not one a byte.
    size_t Read(uint8_t* buffer, size_t count, int gapMs, const std::atomic<bool>& on) override;
    bool BusyForPages(uint32_t address, uint64_t count, int pageWriteMs) override;
    void Write(const uint8_t* data, size_t count) override;
    uint64_t SentMicros() override { return line_.TxDoneMicros(line_.deviceTxNanos); }
    void SetBusy(bool busy) override;
    void Sleep(int ms) override;
    void SleepWhile(int ms, const std::atomic<bool>& on) override;
    uint64_t NowMicros() override {
        line_.time.Enter(&line_);
        return line_.time.Now();
    }
    void DiscardInput() override;
    bool Stopping() override { return line_.stopping.load(); }

private:
    SimLine& line_;
};

// One adapter as the operating system lists it.
struct SimAdapter {
    int valueIndex;         // "\Device\ProlificSerial<n>"
    std::string portName;   // "COM3"
    bool plugged = true;
    bool hasProgrammer;     // false: an adapter with nothing answering behind it
};

class SimAdapters : public PortDirectory {
public:
    std::vector<SimAdapter> adapters;
    bool available = true;

    bool Available() override { return available; }
    std::optional<std::string> Lookup(const std::string& valueName) override;
    SimAdapter* FindPort(const std::string& portName);
};

// The host's end: a Port that reaches the programmer through the adapter list.
class SimPort : public Port {
public:
    SimPort(SimLine& line, SimAdapters& adapters) : line_(line), adapters_(adapters) {}

    bool Open(const std::string& name) override;
    void Close() override;
    bool IsOpen() override;
    bool SetQueues(size_t input, size_t output) override;
    bool SetTimeouts(const PortTimeouts& timeouts) override;
    bool Purge() override;
    bool SetLine(const std::string& mode) override;
    std::string LineReadBack() override { return open_ ? mode_ : std::string(); }
    std::optional<uint32_t> ModemStatus() override;
    bool ArmTransmitEmpty() override;
    bool WaitTransmitEmpty(int timeoutMs) override;
    size_t Read(uint8_t* buffer, size_t count) override;
    size_t Write(const uint8_t* data, size_t count) override;

    std::string openName() const { return name_; }
    std::string lineMode() const { return mode_; }
    int purges = 0;
    std::vector<std::pair<size_t, size_t>> queueSizes;

private:
    bool Live();  // open, still plugged, and wired to the programmer
    // Open and still plugged; a port whose adapter was pulled fails the
    // call and is closed, as a driver's handle to a removed device is.
    bool Usable();

    SimLine& line_;
    SimAdapters& adapters_;
    std::string name_;
    bool open_ = false;
    PortTimeouts timeouts_;
    std::string mode_;
};

}  // namespace veldrix::sim
