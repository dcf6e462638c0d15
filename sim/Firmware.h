#pragma once
// The programmer unit's firmware: finds command blocks in the byte stream,
// acknowledges them and runs each operation's traffic against DeviceState.
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "state/CommandBlock.h"
#include "sim/DeviceIo.h"
#include "sim/DeviceState.h"
#include "sim/Pauses.h"

namespace veldrix::sim {

class Firmware {
public:
    explicit Firmware(DeviceState& state);
    // Serves the line until io.Stopping().
    void Run(DeviceIo& io);

private:
    // Which step of an operation a reply is; a fault aimed at a step acts there.
    enum Step : unsigned { kAck = 1, kFirst = 2, kProgress = 4, kFinal = 8 };
    struct Reply {
        unsigned steps = 0;
        bool verdict = false;    // a text reply that "EV" can stand in for
        bool sum = false;        // ends in a 16-bit sum
        bool data = false;       // a data block: a stop sends its first half
        bool pastMiddle = true;  // in a stream: where a stop cuts it
    };
    enum class Walked { Done, Failed, Ended };

    bool ReceiveBlock();
    void Serve();
    void Dispatch();
    // The unit that minds the pauses: a block sooner than its pause after
    // the last reply is ignored; after a session, what the next may need.
    bool TooSoon() const;
    void EndSession();

    // The line, with the state unlocked while waiting on it.
    bool Alive();
    bool Receive(uint8_t& byte, int timeoutMs);
    size_t Receive(uint8_t* buffer, size_t count, int gapMs);  // how many came
    void Put(const std::vector<uint8_t>& bytes);
    void Busy(bool busy);
    bool Pause(uint64_t micros);  // false once power is gone or the unit stops
    bool PauseMs(int ms) { return Pause(uint64_t(ms > 0 ? ms : 0) * 1000); }

    // Replies; false means the operation is over (a fault acted, power gone).
    // splitAfter bytes go out first, the rest splitMs later (the status
    // word behind the acknowledgement, once the voltage stands).
    bool Send(std::vector<uint8_t> bytes, const Reply& reply, size_t splitAfter = 0, int splitMs = 0);
    bool Token(const char* text, unsigned steps);
    bool Progress(uint32_t address, bool pastMiddle);
    // The "OK" of a token the host goes past without examining it.
    const char* UnexaminedOk() const;
    // The address that ends a stream the host follows up to limit.
    uint32_t LastAddress(uint32_t limit) const;
    bool SendSum(uint32_t sum);
    bool Checkpoint(bool pastMiddle);  // a silent point of a stream
    const Fault* FaultFor(const std::vector<uint8_t>& bytes, const Reply& reply) const;
    static unsigned StepsOf(FaultStep step);
    bool FaultMayStrike(unsigned steps) const;  // an armed fault could act at such a step
    void Hang(const Fault& fault);
    // The busy line up for ms, the unit deaf meanwhile.
    void StayBusy(int ms);

    Walked Walk(uint32_t start, uint32_t end, bool stream, uint32_t limit, int microsPerByte,
                const std::function<bool(uint32_t)>& visit);
    void Judge(bool passed);  // notes the unit's own verdict on the chip
    // The unit's times; a unit that minds the pauses takes those of real work.
    int EraseMs() const;
    int ProtectMs() const;
    int ProgramMicrosPerByte() const;
    int PageWriteMs() const;
    bool CheckPassword();  // answers the refusal itself
    bool ChipReady(uint32_t start, uint32_t end) const;
    uint8_t Key(uint64_t offset) const;
    uint32_t Start() const { return block_.Get24(cb::kStartAddress); }
    uint32_t End() const { return block_.Get24(cb::kEndAddress); }

    void ClearArea();
    void Download();
    void MemoryChecksum();
    void ReadData();
    void Erase();
    void Protect();
    void ProgramFromMemory();
    void Verify();
    void ChipChecksum();
    void CopyChip();
    void BlankCheck();
    void WriteConfig();
    void WriteMasterCode();
    void FileInfo();
    void SetCounter();
    void ChangePassword();
    void CopyMaster();
    void Lock();
    void ProgramStreamed();
    void SendIdentifier();
    void MasterChecksum();
    void WriteIdCode();
    void SendInfo();

    DeviceState& state_;
    DeviceIo* io_ = nullptr;
    std::unique_lock<std::mutex>* lock_ = nullptr;
    CommandBlock block_;
    uint8_t op_ = 0;
    std::vector<uint64_t> fired_;  // faults that already acted in this session
    uint64_t pendingMicros_ = 0;   // work time not yet slept
    uint64_t sessionMicros_ = 0;   // when the block was taken
    bool firstReplyDue_ = false;   // no reply has followed the acknowledgement yet
    bool passed_ = false;          // the session's verdict on the chip was good
    uint64_t blockMicros_ = 0;     // when the block's first byte came
    uint64_t repliedMicros_ = 0;   // when the last reply reached the host
    SessionSeen seen_;             // the session before this one
};

}  // namespace veldrix::sim
