#pragma once
// The programmer unit's side of the serial line, as its firmware sees it. The
// same firmware runs in-process on virtual time and behind a pseudo-terminal
// on the real clock.
#include <atomic>
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
    // within gapMs of the call); how many came before a gap, the end, or on
    // turning false (the power going off).
    virtual size_t Read(uint8_t* buffer, size_t count, int gapMs, const std::atomic<bool>& on) {
        size_t n = 0;
        while (n < count && on.load() && ReadByte(buffer[n], gapMs)) ++n;
        return n;
    }
    // From now on the busy line goes up for pageWriteMs as the last byte of
    // each 256-byte page of the next count bytes comes in (the first of them
    // is for address), as the unit writes its memory page by page; count 0
    // ends it. False: the line cannot, and the firmware keeps the pace itself.
    virtual bool BusyForPages(uint32_t /*address*/, uint64_t /*count*/, int /*pageWriteMs*/) { return false; }
    // Queues bytes for the host; they leave at the line rate.
    virtual void Write(const uint8_t* data, size_t count) = 0;
    // When the last byte written will have reached the host (microseconds,
    // on the clock of NowMicros).
    virtual uint64_t SentMicros() = 0;
    // The busy line (DSR on the host side): set while the unit works.
    virtual void SetBusy(bool busy) = 0;
    // False where the host cannot see the busy line (a pseudo-terminal).
    virtual bool HasBusyLine() const { return true; }
    virtual void Sleep(int ms) = 0;
    // Sleeps ms, or until on turns false (the power goes off).
    virtual void SleepWhile(int ms, const std::atomic<bool>& on) = 0;
    virtual uint64_t NowMicros() = 0;
    // Everything received and not yet read is dropped.
    virtual void DiscardInput() = 0;
    virtual bool Stopping() = 0;
};

}  // namespace veldrix::sim
