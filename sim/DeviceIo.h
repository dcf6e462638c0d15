#pragma once
// The programmer unit's side of the serial line, as its firmware sees it. The
// same firmware runs in-process on virtual time and behind a pseudo-terminal
// on the real clock.
#include <cstddef>
#include <cstdint>

namespace veldrix::sim {

class DeviceIo {
public:
    virtual ~DeviceIo() = default;
    // One received byte; false after timeoutMs (negative: no time limit) or
    // when the device is being shut down.
    virtual bool ReadByte(uint8_t& byte, int timeoutMs) = 0;
    // Up to count bytes, each within gapMs of the one before (the first
    // within gapMs of the call); how many came before a gap or the end.
    virtual size_t Read(uint8_t* buffer, size_t count, int gapMs) {
        size_t n = 0;
        while (n < count && ReadByte(buffer[n], gapMs)) ++n;
        return n;
    }
    // Queues bytes for the host; they leave at the line rate.
    virtual void Write(const uint8_t* data, size_t count) = 0;
    // The busy line (DSR on the host side): set while the unit works.
    virtual void SetBusy(bool busy) = 0;
    virtual void Sleep(int ms) = 0;
    virtual uint64_t NowMicros() = 0;
    // Everything received and not yet read is dropped.
    virtual void DiscardInput() = 0;
    virtual bool Stopping() = 0;
};

}  // namespace veldrix::sim
