#pragma once
// The simulated programmer's end of a Linux pseudo-terminal, on the real
// clock. A pseudo-terminal has no modem lines, so the busy line cannot be
// shown: the unit's firmware keeps its timing and the host reads DSR as clear.
//
// Paced, it is a serial line both ways: the host's bytes reach the unit no
// faster than the line carries them, and the unit's leave at the same rate,
// at the baud rate and frame the host set on its end (11 bits a byte at
// 38400 baud for 8E1). As a driver's transmit queue, the host's writes run
// about kHostQueue bytes ahead of the line; then they wait (never so long
// that a write gives up).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "sim/DeviceIo.h"

namespace veldrix::sim {

class PtyDeviceIo : public DeviceIo {
public:
    static constexpr size_t kHostQueue = 1024;  // what the host asks its port for
    static constexpr uint64_t kLongestHoldNanos = 40000000;  // the host's write of a byte waits 52 ms

    // pace: hold both directions to the line rate.
    explicit PtyDeviceIo(bool pace);
    ~PtyDeviceIo() override;
    PtyDeviceIo(const PtyDeviceIo&) = delete;
    PtyDeviceIo& operator=(const PtyDeviceIo&) = delete;

    bool Ok() const { return master_ >= 0; }
    // The path the host opens.
    const std::string& SlavePath() const { return slavePath_; }
    void RequestStop();
    // Unplugged, the line carries nothing either way: what the host sends is
    // lost and the unit's answers never arrive.
    void SetPlugged(bool plugged) { plugged_ = plugged; }
    // Nanoseconds a byte takes on the line as the host set it up.
    uint64_t ByteNanos();

    bool ReadByte(uint8_t& byte, int timeoutMs) override;
    void Write(const uint8_t* data, size_t count) override;
    uint64_t SentMicros() override;
    void SetBusy(bool) override {}
    bool HasBusyLine() const override { return false; }
    void Sleep(int ms) override;
    void SleepWhile(int ms, const std::atomic<bool>& on) override;
    uint64_t NowMicros() override;
    void DiscardInput() override;
    bool Stopping() override { return stop_.load(); }

private:
    struct Came {
        uint8_t byte;
        uint64_t at;  // nanoseconds: when its last bit is in
    };
    void Receive();  // the receiving thread: takes the host's bytes off the terminal
    void HoldHost(bool hold);  // with mutex_ held

    int master_ = -1;
    int slave_ = -1;  // kept open so the line survives the host closing it
    std::string slavePath_;
    const bool pace_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> plugged_{true};

    std::mutex mutex_;
    std::condition_variable came_;
    std::deque<Came> in_;       // the host's bytes, on the line or in
    uint64_t rxFreeNanos_ = 0;  // when the host's side of the line is free
    bool hostHeld_ = false;     // the host's writes wait
    uint64_t heldSinceNanos_ = 0;
    uint64_t txFreeNanos_ = 0;  // when the unit's side is free (the last byte's arrival)
    std::thread receiver_;
};

}  // namespace veldrix::sim
