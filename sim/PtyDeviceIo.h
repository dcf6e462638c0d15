#pragma once
// The simulated programmer's end of a Linux pseudo-terminal, on the real
// clock. A pseudo-terminal has no modem lines, so the busy line cannot be
// shown: the unit's firmware keeps its timing and the host reads DSR as clear.
#include <atomic>
#include <string>

#include "sim/DeviceIo.h"

namespace veldrix::sim {

class PtyDeviceIo : public DeviceIo {
public:
    // pace: hold written bytes to 38400 baud with 11 bits a byte.
    explicit PtyDeviceIo(bool pace);
    ~PtyDeviceIo() override;
    PtyDeviceIo(const PtyDeviceIo&) = delete;
    PtyDeviceIo& operator=(const PtyDeviceIo&) = delete;

    bool Ok() const { return master_ >= 0; }
    // The path the host opens.
    const std::string& SlavePath() const { return slavePath_; }
    void RequestStop() { stop_ = true; }
    // Unplugged, the line carries nothing either way: what the host sends is
    // lost and the unit's answers never arrive.
    void SetPlugged(bool plugged) { plugged_ = plugged; }

    bool ReadByte(uint8_t& byte, int timeoutMs) override;
    void Write(const uint8_t* data, size_t count) override;
    uint64_t SentMicros() override;
    void SetBusy(bool) override {}
    void Sleep(int ms) override;
    void SleepWhile(int ms, const std::atomic<bool>& on) override;
    uint64_t NowMicros() override;
    void DiscardInput() override;
    bool Stopping() override { return stop_.load(); }

private:
    int master_ = -1;
    int slave_ = -1;  // kept open so the line survives the host closing it
    std::string slavePath_;
    bool pace_;
    uint64_t txFreeNanos_ = 0;
    uint64_t lastWriteNanos_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> plugged_{true};
};

}  // namespace veldrix::sim
