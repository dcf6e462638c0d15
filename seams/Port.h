#pragma once
// One serial port, as the link layer uses it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace veldrix {

struct PortTimeouts {
    int readInterval = 2;
    int readTotalMultiplier = 2;
    int readTotalConstant = 50;
    int writeTotalMultiplier = 2;
    int writeTotalConstant = 50;
};

constexpr uint32_t kModemDsr = 0x20;

// A call that fails on an open port closes it, all but a read that times
// out with nothing and a refused purge (the caller tries it again): the
// adapter has been pulled or has broken, and a handle kept open would keep
// the adapter, plugged in again, from its name. The caller sees it in IsOpen().
class Port {
public:
    virtual ~Port() = default;
    virtual bool Open(const std::string& name) = 0;
    // Why the last Open failed, in the system's words; empty where unknown.
    virtual std::string OpenError() { return {}; }
    virtual void Close() = 0;
    virtual bool IsOpen() = 0;
    virtual bool SetQueues(size_t input, size_t output) = 0;
    virtual bool SetTimeouts(const PortTimeouts& timeouts) = 0;
    // Abort and clear both directions.
    virtual bool Purge() = 0;
    // "baud=38400 parity=E data=8 stop=1"
    virtual bool SetLine(const std::string& mode) = 0;
    // The line as the driver holds it now, in the mode text's words; empty
    // where the port cannot tell.
    virtual std::string LineReadBack() { return {}; }
    // Modem status bits (kModemDsr); 0 where the line has no modem lines at
    // all (a pseudo-terminal); nullopt when the call failed.
    virtual std::optional<uint32_t> ModemStatus() = 0;
    // Arms the transmit-empty wait; the session opening calls it before it
    // writes its block, so a queue that drains at once is still seen drained.
    virtual bool ArmTransmitEmpty() = 0;
    // Waits until everything written has left the transmitter, at most
    // timeoutMs: no driver may hold the caller for ever. False when the
    // queue did not drain in time or the port failed.
    virtual bool WaitTransmitEmpty(int timeoutMs) = 0;
    // Synchronous transfers under the time-outs; the count moved.
    virtual size_t Read(uint8_t* buffer, size_t count) = 0;
    virtual size_t Write(const uint8_t* data, size_t count) = 0;
};

}  // namespace veldrix
