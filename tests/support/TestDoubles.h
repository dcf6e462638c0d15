#pragma once
// Stand-ins for the seams a test does not exercise.
#include "seams/Port.h"
#include "seams/PortDirectory.h"

namespace veldrix::test {

// A port that never opens and moves nothing.
class NullPort : public Port {
public:
    bool Open(const std::string&) override { return false; }
    void Close() override {}
    bool IsOpen() override { return false; }
    bool SetQueues(size_t, size_t) override { return false; }
    bool SetTimeouts(const PortTimeouts&) override { return false; }
    bool Purge() override { return false; }
    bool SetLine(const std::string&) override { return false; }
    std::optional<uint32_t> ModemStatus() override { return std::nullopt; }
    bool ArmTransmitEmpty() override { return false; }
    bool WaitTransmitEmpty(int) override { return false; }
    size_t Read(uint8_t*, size_t) override { return 0; }
    size_t Write(const uint8_t*, size_t) override { return 0; }
};

// No adapter present.
class NullPortDirectory : public PortDirectory {
public:
    bool Available() override { return false; }
    std::optional<std::string> Lookup(const std::string&) override { return std::nullopt; }
};

}  // namespace veldrix::test
