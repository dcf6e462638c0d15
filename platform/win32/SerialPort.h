#pragma once
// The programmer's COM port through the Windows serial services, synchronous.
#include <windows.h>

#include "seams/Port.h"

namespace veldrix {

class SerialPort : public Port {
public:
    SerialPort() = default;
    ~SerialPort() override { Close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool Open(const std::string& name) override;
    void Close() override;
    bool IsOpen() override { return handle_ != INVALID_HANDLE_VALUE; }
    bool SetQueues(size_t input, size_t output) override;
    bool SetTimeouts(const PortTimeouts& timeouts) override;
    bool Purge() override;
    bool SetLine(const std::string& mode) override;
    uint32_t ModemStatus() override;
    void WaitTransmitEmpty() override;
    size_t Read(uint8_t* buffer, size_t count) override;
    size_t Write(const uint8_t* data, size_t count) override;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace veldrix
