#pragma once
// Everything the programmer unit keeps: programming memory, identity,
// password and lock, the chip in the socket, the fifteen directory blocks,
// timing, the faults a test arms and the log of sessions taken up.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/UnitMemory.h"

namespace veldrix::sim {

constexpr uint32_t kMemorySize = UnitMemory::kSize;  // 1 MiB programming memory
constexpr uint32_t kAddressMask = kMemorySize - 1;
constexpr uint32_t kDefaultRomSize = 0x10000;
constexpr int kBlockCount = 15;
constexpr size_t kInfoRecordSize = 43;
constexpr size_t kConfigRecordSize = 26;

// Factory state of a unit fresh from the box.
inline constexpr char kDefaultIdentifier[] = "S3VX0427";  // 8 characters, the download key
inline constexpr char kFactoryPassword[] = "000000";
inline constexpr char kFirmwareVersion[] = "VELDRIX V2.31";  // 13 characters
inline constexpr char kFirmwareDate[] = "2013-12-16";        // 10 characters
inline constexpr char kReadyStatus[] = "REDY";               // status word when not locked

enum class ChipKind { Otp, Mtp };

struct Chip {
    bool present = false;
    ChipKind kind = ChipKind::Otp;
    std::vector<uint8_t> cells;  // the ROM, as the silicon holds it
    bool readProtected = false;
    bool ldcProtected = false;
    bool writeProtected = false;  // hardware write protection (MTP)
    bool smart = false;
    // Faulty silicon: a cell whose bit 0 reads back set once programmed, and
    // a chip that takes no programming at all.
    std::optional<uint32_t> weakCell;
    bool refusesProgramming = false;

    static Chip Blank(ChipKind kind, uint32_t romSize = kDefaultRomSize);
    uint32_t RomSize() const { return uint32_t(cells.size()); }
    bool Holds(uint32_t start, uint32_t end) const { return start <= end && end < RomSize(); }
    // What the programming interface reads back: nothing but zeros once
    // read-protected, 0xFF outside the ROM.
    uint8_t Read(uint32_t address) const;
    // Programming only clears bits. False when the value would need a 0 to
    // become 1; the cell then keeps what programming could do (old AND new).
    bool Program(uint32_t address, uint8_t value);
    // MTP erase: every cell back to 0xFF, every protection and option off.
    void Erase();
};

struct DirectoryBlock {
    bool holdsFile = false;
    uint32_t start = 0, end = 0;
    std::vector<uint8_t> code;  // the bytes start..end
    std::array<uint8_t, kConfigRecordSize> config{};  // file name (16) + chip name (10)
    uint32_t counterCurrent = 0, counterEnd = 0, idAddress = 0;
    // Header bytes the file is to be programmed with when the unit runs offline.
    uint8_t chipType = 0, powerSelect = 0, autoFlags = 0;

    uint8_t At(uint32_t address) const;  // 0xFF outside the stored range
    uint16_t Checksum() const;
    std::string FileName() const;
    std::string ChipName() const;
    std::array<uint8_t, kInfoRecordSize> InfoRecord() const;
    void Clear();
};

// All times of the unit. Latencies are what a real unit plausibly takes;
// Instant() drops them for benchmarks of the host's own cost.
struct Timing {
    int memoryInitMs = 1500;      // op::kClearArea on the programming memory
    int blockEraseMs = 300;       // op::kClearArea on a directory block
    int pageWriteMs = 8;          // one downloaded 256-byte page; the host polls DSR for at most 50 ms
    int programMicrosPerByte = 60;
    int readMicrosPerByte = 8;    // verify, blank check, chip checksum, chip copy
    int memoryMicrosPerByte = 1;  // sums and copies inside the unit's own memory
    int flashMicrosPerByte = 20;  // writing a directory block's code
    int eraseMs = 800;            // MTP erase
    int protectMs = 200;          // protections and SMART
    int recordWriteMs = 20;       // password, lock, counter, configuration
    // From the block to a data block's bytes: the host takes the token about
    // 200 ms after its block and reads the bytes 200 ms later.
    int dataDelayMs = 300;
    int replyDelayMs = 0;         // extra delay before every reply, for a slow unit
    uint32_t progressInterval = 0x400;  // bytes between progress addresses
    // Not latencies, so Instant() keeps them:
    int busyHangMs = 2000;        // how long a one-off stuck busy line lasts
    // A data phase is abandoned after this long without a byte; inside a
    // stream the host leaves at most about 70 ms (a 20 ms pause and 50 polls).
    int dataTimeoutMs = 400;
    int blockGapMs = 50;          // a command block arrives in one piece; a longer gap restarts it

    static Timing Instant();
};

// Choices the host must not depend on: a real unit may make any of them.
// Off, the unit answers as documented; each flag makes it answer the other way.
struct Variations {
    bool ack = false;       // an acknowledgement of the unit's own making, not an echo
    bool status = false;    // another ready status word than REDY
    bool tokens = false;    // "AK" for each "OK" the host goes past without examining
    bool progress = false;  // progress every 0x100, some addresses twice, the last rounded up
    bool nofile = false;    // an empty directory block answers 21 with "NO"
    bool slow = false;      // long initialisation, a late first reply in every session
    // Needs the pauses the host puts before its blocks (ignores a block that
    // comes sooner), and takes the times of real work: switching the
    // programming voltage, powering the socket down, erasing, pages.
    bool pauses = false;
    // Busy for a stretch after every session, hearing nothing meanwhile, and
    // while it writes each downloaded page. Not in "all": the host's waits
    // for the busy line are what it tests, on a line that shows it.
    bool busy = false;

    void SetAll(bool on) {
        ack = status = tokens = progress = nofile = slow = pauses = on;
        if (!on) busy = false;
    }
    // The flag a "sim vary" word names; nullptr when none.
    bool* Named(const std::string& word);
};
inline constexpr char kVariedStatus[] = "IDLE";
inline constexpr char kVariedOk[] = "AK";
constexpr uint32_t kVariedProgressInterval = 0x100;
constexpr int kSlowMemoryInitMs = 8000;
constexpr int kSlowFirstReplyMs = 25;
// The unit that minds the pauses; each stays within what the host waits for.
// Before the status word (the host tries 10 x 30 ms plus read time-outs), so
// that whatever follows reaches a host that is already waiting for it.
constexpr int kVppSwitchMs = 600;          // the programming voltage
constexpr int kSupplySwitchMs = 300;       // the chip's supply, to read it
constexpr int kPowerDownMs = 700;          // DSR after the last step; the host polls 1000 x 1 ms
constexpr int kPausesEraseMs = 2500;       // the host tries 100 times
constexpr int kPausesProtectMs = 600;
constexpr int kPausesProgramMicrosPerByte = 150;  // 154 ms a progress report; the host tries 30 times
constexpr int kPausesPageWriteMs = 20;     // a download's page; the host polls 50 x 1 ms
constexpr int kBusyStretchMs = 400;        // vary busy, after a session; the host polls 1000 x 1 ms

enum class FaultKind {
    Ev,       // "EV" in place of a token, then silence
    NoReply,  // the reply is not sent, the operation ends
    Short,    // half of the reply, then silence
    Garbage,  // every byte of the reply corrupted, the operation goes on
    Busy,     // DSR set and left set; the unit hangs
    BadSum,   // a 16-bit sum off by one
    Stop,     // a stream breaks off halfway
    Refuse,   // "NO" in place of a token: the chip's verdict, not a line fault
};
enum class FaultStep { Any, Ack, First, Progress, Final };
constexpr int kAnyOperation = -1;

// The names the sim commands use ("noreply", "final", ...); nullopt when none.
const char* Name(FaultKind kind);
const char* Name(FaultStep step);
std::optional<FaultKind> FaultKindNamed(const std::string& name);
std::optional<FaultStep> FaultStepNamed(const std::string& name);

struct Fault {
    FaultKind kind = FaultKind::NoReply;
    int opCode = kAnyOperation;
    FaultStep step = FaultStep::Any;
    bool once = false;    // false: until cleared
    uint64_t serial = 0;  // set by Arm
};

// What the unit itself concluded about the chip in a step, whatever became of
// the reply that should have told the host.
struct Verdict {
    uint8_t opCode;
    bool passed;
};

struct LogEntry {
    uint8_t opCode;
    uint8_t block;  // command block byte 26
    uint32_t start, end;
};

class DeviceState {
public:
    DeviceState();
    DeviceState(const DeviceState&) = delete;
    DeviceState& operator=(const DeviceState&) = delete;

    // The firmware holds this except while it waits on the line; sim commands
    // take it, so a command never lands in the middle of a step.
    std::mutex mutex;

    UnitMemory memory;  // programming memory (flash: survives power-off)
    std::string identifier = kDefaultIdentifier;
    std::string version = kFirmwareVersion;
    std::string date = kFirmwareDate;
    std::string password = kFactoryPassword;  // at most 8 characters
    bool locked = false;
    // Off: the unit answers nothing and DSR reads clear, as an adapter
    // with nothing powered behind it does.
    std::atomic<bool> powered{true};  // the unit's work ends the moment it goes
    Chip chip;
    std::array<DirectoryBlock, kBlockCount> blocks;  // blocks[0] is block 1
    Timing timing;
    Variations vary;
    std::vector<Fault> faults;
    std::vector<uint64_t> fired;  // serials of the faults that acted, in order
    std::vector<LogEntry> log;
    std::vector<Verdict> verdicts;  // of programming, verification, blank check and ID code
    std::vector<uint8_t> tooSoon;   // codes of the blocks ignored for coming before their pause (vary pauses)

    DirectoryBlock* Block(int number);  // 1..15, else nullptr
    uint64_t Arm(Fault fault);          // returns the serial
    bool Armed(uint64_t serial) const;
    void ClearFaults() { faults.clear(); }
    uint8_t NextGarbage();  // deterministic noise

private:
    uint64_t nextSerial_ = 1;
    uint32_t noise_ = 0x2545F491;  // fixed seed
};

uint16_t Sum16(const uint8_t* data, size_t count);

}  // namespace veldrix::sim
