#include "sim/Replay.h"

#include <cstdio>
#include <cstdlib>

#include "code/WireTrace.h"
#include "state/CommandBlock.h"

namespace veldrix::sim {

namespace {
// How much longer than in the trace the host may take for its next byte.
constexpr int kHostSlackMs = 5000;

std::string Hex(int byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", byte & 0xFF);
    return text;
}

size_t Count(const std::string& number) { return size_t(std::strtoul(number.c_str(), nullptr, 10)); }
}  // namespace

bool Replay::Load(const std::string& text, std::string& error) {
    std::vector<trace::Line> lines;
    if (!trace::ParseTrace(text, lines, error)) return false;
    steps_.clear();
    exchanges_ = 0;
    int blockAt = -1, echoAt = -1;
    bool busy = false, known = false;
    uint64_t lastModem = 0;  // the last answer that showed the line as it was
    for (const trace::Line& l : lines) {
        if (l.call == "arm") {
            blockAt = 0;
            echoAt = -1;
        } else if (l.call == "write") {
            size_t taken = std::min(Count(l.result), l.bytes.size());
            if (taken == 0) continue;
            Step s{Step::Expect, l.micros, {l.bytes.begin(), l.bytes.begin() + long(taken)}, l.number};
            s.exchange = ++exchanges_;
            if (blockAt >= 0) {
                if (blockAt <= cb::kOpCode && blockAt + int(taken) > cb::kOpCode)
                    s.blockOp = s.bytes[size_t(cb::kOpCode - blockAt)] & 0x3F;
                blockAt += int(taken);
                if (blockAt >= cb::kSize) {
                    blockAt = -1;
                    echoAt = 0;
                }
            }
            steps_.push_back(std::move(s));
        } else if (l.call == "read") {
            size_t got = std::min(Count(l.result), l.bytes.size());
            if (got == 0) continue;
            Step s{Step::Send, l.micros, {l.bytes.begin(), l.bytes.begin() + long(got)}, l.number};
            if (echoAt >= 0) {
                s.echoAt = echoAt;
                echoAt += int(got);
                if (echoAt >= cb::kSize) echoAt = -1;
            }
            steps_.push_back(std::move(s));
        } else if (l.call == "modem" && l.result.rfind("0x", 0) == 0) {
            bool now = (std::strtoul(l.result.c_str() + 2, nullptr, 16) & 0x20) != 0;
            if (!known || now != busy) {
                // The line went up some time after the last answer that read
                // it clear, and down by the first that read it clear: up as
                // early, down as late as the trace allows.
                Step s{Step::Busy, now && known ? lastModem : l.micros, {}, l.number};
                s.busy = now;
                steps_.push_back(std::move(s));
            }
            busy = now;
            known = true;
            lastModem = l.micros;
        }
    }
    return true;
}

std::string Replay::Difference() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return difference_;
}

void Replay::Differ(const std::string& what) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        difference_ = what;
    }
    differed_ = true;
}

void Replay::WaitUntil(DeviceIo& io, uint64_t micros) {
    for (uint64_t now = io.NowMicros(); now < micros && !io.Stopping(); now = io.NowMicros())
        io.Sleep(int(std::max<uint64_t>(1, (micros - now) / 1000)));
}

void Replay::Run(DeviceIo& io) {
    // The trace's moment that `anchorNow` stands for on this device's clock.
    uint64_t anchorTrace = steps_.empty() ? 0 : steps_.front().at, anchorNow = io.NowMicros();
    uint64_t lastTrace = anchorTrace;
    uint8_t block[cb::kSize] = {};
    int blockAt = -1;
    auto due = [&](uint64_t at) { return at > anchorTrace ? anchorNow + (at - anchorTrace) : anchorNow; };
    for (const Step& s : steps_) {
        if (io.Stopping()) return;
        if (s.kind == Step::Busy) {
            WaitUntil(io, due(s.at));
            io.SetBusy(s.busy);
        } else if (s.kind == Step::Send) {
            std::vector<uint8_t> bytes;
            for (size_t i = 0; i < s.bytes.size(); ++i) {
                int b = s.bytes[i];
                // A password byte of the acknowledgement: the host's own, as echoed.
                if (b == trace::kMasked) b = s.echoAt >= 0 && s.echoAt + i < cb::kSize ? block[s.echoAt + i] : 0;
                bytes.push_back(uint8_t(b));
            }
            // Read at s.at: on the line the time its bytes take before.
            uint64_t transit = bytes.size() * byteNanos / 1000, at = due(s.at);
            WaitUntil(io, at > anchorNow + transit ? at - transit : anchorNow);
            io.Write(bytes.data(), bytes.size());
        } else {
            if (s.blockOp >= 0) blockAt = 0;
            // The host's first byte may take as long as it likes: its clock
            // may not even run yet.
            int waitMs = s.exchange == 1 ? -1 : int((s.at > lastTrace ? s.at - lastTrace : 0) / 1000) + kHostSlackMs;
            std::string name = "exchange " + std::to_string(s.exchange) + " (trace line " + std::to_string(s.line) +
                               (s.blockOp >= 0 ? ", the command block of operation " + Hex(s.blockOp) : "") + ")";
            for (size_t i = 0; i < s.bytes.size(); ++i) {
                uint8_t got = 0;
                if (!io.ReadByte(got, i == 0 ? waitMs : kHostSlackMs)) {
                    if (io.Stopping()) return;
                    Differ(name + ", byte " + std::to_string(i) + ": expected " +
                           (s.bytes[i] == trace::kMasked ? "a password byte" : Hex(s.bytes[i])) + ", got nothing");
                    return;
                }
                if (blockAt >= 0 && blockAt < cb::kSize) block[blockAt++] = got;
                if (s.bytes[i] != trace::kMasked && s.bytes[i] != got) {
                    Differ(name + ", byte " + std::to_string(i) + ": expected " + Hex(s.bytes[i]) + ", got " + Hex(got));
                    return;
                }
            }
            if (blockAt >= cb::kSize) blockAt = -1;
            // The host's write returned as its bytes went into the queue; the
            // last of them is in now.
            uint64_t transit = s.bytes.size() * byteNanos / 1000, now = io.NowMicros();
            anchorTrace = s.at;
            anchorNow = now > transit ? now - transit : 0;
            lastTrace = s.at;
        }
    }
    finished_ = true;
    // Anything more the host sends was not in the conversation.
    uint8_t more = 0;
    while (!io.Stopping()) {
        if (io.ReadByte(more, -1)) {
            Differ("after the last exchange (" + std::to_string(exchanges_) + "), byte 0: expected nothing, got " +
                   Hex(more));
            return;
        }
    }
}

}  // namespace veldrix::sim
