#pragma once
// A port that writes down every call it passes on, and every byte each way,
// in the wire trace's text (code/WireTrace.h): a conversation with a unit
// can be read far from the line, and replayed as a test.
#include <cstdint>
#include <memory>
#include <string>

#include "seams/Clock.h"
#include "seams/Files.h"
#include "seams/Port.h"

namespace veldrix {

// Where the lines go: written out in pieces (a port call must not wait for
// the disk), and whole at the end.
class TraceFile {
public:
    static constexpr uint64_t kDailyCap = 64ull << 20;

    // One file, begun anew.
    static std::unique_ptr<TraceFile> Single(std::string path);
    // A file a day and port in folder (veldrix-YYYY-MM-DD-PORT.trace), that
    // stops growing at kDailyCap with a last line that says so.
    static std::unique_ptr<TraceFile> Daily(std::string folder, Clock& clock);
    ~TraceFile();

    // The port is opened under that name: the file to write (daily: its day's).
    void Begin(const std::string& portName);
    void Add(const std::string& line, uint64_t micros);
    void Flush();
    const std::string& Path() const { return path_; }
    bool Capped() const { return capped_; }
    // Tests: the cap, and so the last line, comes sooner.
    void SetCap(uint64_t bytes) { cap_ = bytes; }

private:
    TraceFile() = default;
    void OpenFile(const std::string& path, bool fresh);

    std::string single_, folder_;
    Clock* clock_ = nullptr;
    std::string path_;
    AppendFile file_;
    std::string pending_;
    uint64_t flushedAt_ = 0;
    uint64_t cap_ = kDailyCap;
    bool capped_ = false;
    bool open_ = false;
};

class TracingPort : public Port {
public:
    TracingPort(Port& inner, Clock& clock, std::unique_ptr<TraceFile> file);
    ~TracingPort() override;

    bool Open(const std::string& name) override;
    std::string OpenError() override { return inner_.OpenError(); }
    void Close() override;
    bool IsOpen() override { return inner_.IsOpen(); }
    bool SetQueues(size_t input, size_t output) override;
    bool SetTimeouts(const PortTimeouts& timeouts) override;
    bool Purge() override;
    bool SetLine(const std::string& mode) override;
    std::string LineReadBack() override { return inner_.LineReadBack(); }
    std::optional<uint32_t> ModemStatus() override;
    bool ArmTransmitEmpty() override;
    bool WaitTransmitEmpty(int timeoutMs) override;
    size_t Read(uint8_t* buffer, size_t count) override;
    size_t Write(const uint8_t* data, size_t count) override;

    TraceFile& File() { return *file_; }

private:
    void Put(const char* call, const std::string& argument, const std::string& result, const uint8_t* bytes = nullptr,
             size_t count = 0, const bool* mask = nullptr);
    // Which of count bytes at position `at` of a command block hold a
    // password; at moves on, to -1 past the block.
    void MaskBlock(int& at, const uint8_t* bytes, size_t count, bool* mask, bool learnOp);

    Port& inner_;
    Clock& clock_;
    std::unique_ptr<TraceFile> file_;
    uint64_t epoch_;
    int blockAt_ = -1;  // bytes of the command block written since the arm
    int echoAt_ = -1;   // bytes of its acknowledgement read
    uint8_t op_ = 0;    // the block's operation code
};

}  // namespace veldrix
