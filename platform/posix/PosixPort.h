#pragma once
// A termios serial port (real adapters and pseudo-terminals alike).
#include "seams/Port.h"

namespace veldrix {

class PosixPort : public Port {
public:
    ~PosixPort() override;
    bool Open(const std::string& name) override;
    std::string OpenError() override { return openError_; }
    void Close() override;
    bool IsOpen() override { return fd_ >= 0; }
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
    // A call that failed: the device goes with it (a pulled adapter's does).
    bool Lost();

    int fd_ = -1;
    std::string openError_;
    PortTimeouts timeouts_;
};

// Parses "baud=38400 parity=E data=8 stop=1"; false for anything else.
struct LineMode {
    int baud = 0;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
};
bool ParseLineMode(const std::string& mode, LineMode& out);

}  // namespace veldrix
