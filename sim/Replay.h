#pragma once
// A unit that plays back its side of a recorded wire trace: it takes the
// host's bytes and checks them against what the host sent then (the command
// block's password bytes and the time stamps aside), answers with what the
// unit answered then, at the recorded pace, and shows the busy line as the
// host read it. At the first difference it stops answering and says where.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/DeviceIo.h"

namespace veldrix::sim {

class Replay {
public:
    // False with why when the text is no trace.
    bool Load(const std::string& text, std::string& error);
    // Plays the trace on io until its end (then watches for more host
    // bytes), a difference, or the device stopping.
    void Run(DeviceIo& io);

    // What the host has done so far, for another thread.
    bool Differed() const { return differed_.load(); }
    bool Finished() const { return finished_.load(); }
    std::string Difference() const;
    int Exchanges() const { return exchanges_; }
    // Nanoseconds a byte takes on the recorded line (11 bits at 38400 baud).
    uint64_t byteNanos = 11ull * 1000000000ull / 38400ull;

private:
    struct Step {
        enum Kind { Expect, Send, Busy } kind;
        uint64_t at;             // microseconds in the trace
        std::vector<int> bytes;  // 0..255 or masked
        int line;                // in the trace
        int exchange = 0;        // Expect: from 1
        int blockOp = -1;        // Expect: the command block's operation code
        int echoAt = -1;         // Send: the block position of bytes[0] in the acknowledgement
        bool busy = false;
    };
    void Differ(const std::string& what);
    // Sleeps until the device's clock reads micros.
    void WaitUntil(DeviceIo& io, uint64_t micros);

    std::vector<Step> steps_;
    int exchanges_ = 0;
    std::atomic<bool> differed_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;
    std::string difference_;
};

}  // namespace veldrix::sim
