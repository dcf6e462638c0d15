#pragma once
// The programmer's COM port through the Windows serial services, synchronous.
#include <windows.h>

#include "seams/Port.h"

namespace veldrix {

// The line settings of a mode text such as "baud=38400 parity=E data=8
// stop=1", built from an all-zero record: no flow control of any kind.
bool MakeLineSettings(const std::string& mode, DCB& dcb);

class SerialPort : public Port {
public:
    SerialPort() = default;
    ~SerialPort() override { Close(); }
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool Open(const std::string& name) override;
    std::string OpenError() override { return openError_; }
    void Close() override;
    bool IsOpen() override { return handle_ != INVALID_HANDLE_VALUE; }
    bool SetQueues(size_t input, size_t output) override;
    bool SetTimeouts(const PortTimeouts& timeouts) override;
    bool Purge() override;
    bool SetLine(const std::string& mode) override;
    std::string LineReadBack() override;
    std::optional<uint32_t> ModemStatus() override;
    bool ArmTransmitEmpty() override;
    bool WaitTransmitEmpty(int timeoutMs) override;
    size_t Read(uint8_t* buffer, size_t count) override;
    size_t Write(const uint8_t* data, size_t count) override;

private:
    // A call that failed: the handle goes, so that a pulled adapter's device
    // can be removed and comes back under its name.
    bool Lost();

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::string openError_;
};

}  // namespace veldrix
