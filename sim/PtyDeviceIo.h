#pragma once
// The simulated programmer's end of a Linux pseudo-terminal, on the real
// clock. A pseudo-terminal has no modem lines: unless a folder is given for
// it, the busy line cannot be shown, the unit's firmware keeps its timing and
// the host reads DSR as clear. With the folder, the busy line is a one-byte
// file there named after the terminal ("pts-7" for /dev/pts/7: '1' busy,
// '0' ready), which the preloaded library (sim/preload/PtyParity.cpp) hands
// to a host that asks the terminal for its modem lines.
//
// Pulled, the terminal is closed as a removed adapter's device goes: the
// host's writes and modem-status requests fail and its reads end. Plugged in
// again, it is a new terminal.
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

    // pace: hold both directions to the line rate; modemFolder: where the
    // busy line is shown (empty: nowhere).
    explicit PtyDeviceIo(bool pace, std::string modemFolder = {});
    ~PtyDeviceIo() override;
    PtyDeviceIo(const PtyDeviceIo&) = delete;
    PtyDeviceIo& operator=(const PtyDeviceIo&) = delete;

    bool Ok() const { return master_ >= 0; }
    // The path the host opens; a new one after each pull.
    std::string SlavePath();
    void RequestStop();
    // Pulled, the terminal is closed and the line carries nothing either way:
    // what the host sends is lost and the unit's answers never arrive.
    // Plugged in again, a new terminal is opened. False when it cannot be.
    bool SetPlugged(bool plugged);
    // Nanoseconds a byte takes on the line as the host set it up.
    uint64_t ByteNanos();
    // Bytes the host got onto the line beyond a queue's length: held writes
    // let through so as not to give up (a loaded machine makes more of them).
    size_t PastTheQueue() const { return pastQueue_; }

    bool ReadByte(uint8_t& byte, int timeoutMs) override;
    void Write(const uint8_t* data, size_t count) override;
    uint64_t SentMicros() override;
    void SetBusy(bool busy) override;
    bool HasBusyLine() const override { return !modemFolder_.empty(); }
    void Sleep(int ms) override;
    void SleepWhile(int ms, const std::atomic<bool>& on) override;
    uint64_t NowMicros() override;
    void DiscardInput() override;
    bool Stopping() override { return stop_.load(); }

private:
    bool OpenTerminal();   // a new pair in master_ and slave_, with its busy-line file
    void CloseTerminal();  // both ends go; the descriptors stay, on /dev/null
    void ShowBusy();       // the busy line into its file

    struct Came {
        uint8_t byte;
        uint64_t at;  // nanoseconds: when its last bit is in
    };
    void Receive();  // the receiving thread: takes the host's bytes off the terminal
    void HoldHost(bool hold);  // with mutex_ held

    // The descriptors keep their numbers for the whole run: a pull puts
    // /dev/null in their place, so no thread ever uses a number that went.
    int master_ = -1;
    int slave_ = -1;  // kept open so the line survives the host closing it
    const bool pace_;
    const std::string modemFolder_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> plugged_{true};
    // The receiver saw the pull and waits outside the terminal: the old one
    // has no poll of its left holding it open.
    std::atomic<bool> receiverOut_{false};

    std::mutex plugMutex_;  // the terminal's path and busy-line file
    std::string slavePath_;
    std::string busyFile_;
    bool busy_ = false;

    std::mutex mutex_;
    std::condition_variable came_;
    std::deque<Came> in_;       // the host's bytes, on the line or in
    uint64_t rxFreeNanos_ = 0;  // when the host's side of the line is free
    std::atomic<size_t> pastQueue_{0};
    bool escaping_ = false;  // the queue is full and has been held as long as a write may wait
    bool hostHeld_ = false;     // the host's writes wait
    uint64_t heldSinceNanos_ = 0;
    uint64_t txFreeNanos_ = 0;  // when the unit's side is free (the last byte's arrival)
    std::thread receiver_;
};

}  // namespace veldrix::sim
