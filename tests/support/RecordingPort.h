#pragma once
// Ports that wrap another: every call passes through, but for what a test
// wants to see or change.
#include <vector>

#include "seams/Clock.h"
#include "seams/Port.h"

namespace veldrix::test {

class ForwardingPort : public Port {
public:
    explicit ForwardingPort(Port& inner) : inner_(inner) {}
    bool Open(const std::string& name) override { return inner_.Open(name); }
    void Close() override { inner_.Close(); }
    bool IsOpen() override { return inner_.IsOpen(); }
    bool SetQueues(size_t i, size_t o) override { return inner_.SetQueues(i, o); }
    bool SetTimeouts(const PortTimeouts& t) override { return inner_.SetTimeouts(t); }
    bool Purge() override { return inner_.Purge(); }
    bool SetLine(const std::string& mode) override { return inner_.SetLine(mode); }
    std::optional<uint32_t> ModemStatus() override { return inner_.ModemStatus(); }
    bool ArmTransmitEmpty() override { return inner_.ArmTransmitEmpty(); }
    bool WaitTransmitEmpty(int timeoutMs) override { return inner_.WaitTransmitEmpty(timeoutMs); }
    size_t Read(uint8_t* b, size_t n) override { return inner_.Read(b, n); }
    size_t Write(const uint8_t* d, size_t n) override { return inner_.Write(d, n); }

protected:
    Port& inner_;
};

// Keeps every write with the time it was made.
class RecordingPort : public ForwardingPort {
public:
    struct Write {
        uint64_t atMicros;
        std::vector<uint8_t> bytes;
    };
    RecordingPort(Port& inner, Clock& clock) : ForwardingPort(inner), clock_(clock) {}

    std::vector<Write> writes;
    std::vector<std::string> opened;

    bool Open(const std::string& name) override {
        opened.push_back(name);
        return inner_.Open(name);
    }
    size_t Write(const uint8_t* d, size_t n) override {
        writes.push_back({clock_.NowMicros(), std::vector<uint8_t>(d, d + n)});
        return inner_.Write(d, n);
    }
    // The 38-byte command blocks among the writes.
    std::vector<std::vector<uint8_t>> Blocks() const {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& w : writes)
            if (w.bytes.size() == 38 && w.bytes[0] == 'Z' && w.bytes[1] == 'E') out.push_back(w.bytes);
        return out;
    }

private:
    Clock& clock_;
};

}  // namespace veldrix::test
