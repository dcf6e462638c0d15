#pragma once
// The session opening and the byte-level readers every operation uses.
#include <cstdint>
#include <string>
#include <vector>

namespace veldrix {

struct AppContext;

// A short reply as it lands in its zeroed buffer.
using Reply = std::vector<uint8_t>;
// True when the reply holds exactly token (compared with its terminating zero).
bool ReplyIs(const Reply& reply, const char* token);
// The reply's bytes up to the first zero, as text.
std::string ReplyText(const Reply& reply, size_t offset, size_t length);
// A token the host judged, as the outcome's verdict.
void NoteReply(AppContext& ctx, const Reply& reply);

void FillCommandBlockHeader(AppContext& ctx);
// After a port call: true when the port has closed itself (the adapter was
// pulled or broke). A link that was up is down from here on: the operator is
// told once, and the link monitor searches until the programmer is back.
bool PortLost(AppContext& ctx);
// The busy line as a poll finds it; a port that fails the poll counts as busy.
enum class BusyLine { Ready, Busy, Failed };
BusyLine PollBusyLine(AppContext& ctx);
bool ConfigureLine(AppContext& ctx);
bool OpenSession(AppContext& ctx);
bool WriteBytes(AppContext& ctx, size_t count, const uint8_t* data, size_t& written);
bool ReadBytes(AppContext& ctx, size_t count, uint8_t* buffer, size_t& read);

// How a reply is read: the zeroed buffer it lands in, the bytes it should
// have, and how many waits of 30 ms its first byte gets.
struct ReplyRead {
    size_t buffer;
    size_t length;
    int tries;
};

namespace reply {
// Buffers
constexpr size_t kWordBuffer = 8;
constexpr size_t kShortBuffer = 16;
constexpr size_t kTextBuffer = 32;
constexpr size_t kRecordBuffer = 64;
constexpr size_t kLongBuffer = 128;
// Lengths
constexpr size_t kTokenLength = 2;       // "OK", "NO", "EV"
constexpr size_t kPasswordLength = 5;    // "OKPWD", "NOPWD"
constexpr size_t kClearLength = 5;       // the "OK" of a cleared area, taken with room for five
constexpr size_t kFileLength = 6;        // "OKFILE", "NOFILE"
constexpr size_t kWord16Length = 2;      // a sum
constexpr size_t kWord24Length = 3;      // an address
constexpr size_t kIdentifierLength = 8;  // the programmer's key
constexpr size_t kInfoLength = 24;       // firmware version, a blank, its date
// Waits for the first byte
constexpr int kLockTries = 10;              // 0.3 s: the lock's password answer
constexpr int kIdentifierTries = 20;        // 0.6 s
constexpr int kWordTries = 30;              // 0.9 s: the next number of a stream
constexpr int kPromptTries = 50;            // 1.5 s: what the unit says at once
constexpr int kWorkTries = 100;             // 3 s: what it says after work it does in silence
constexpr int kBlockClearTries = 300;       // 9 s: a directory block erased
constexpr int kChipCopyClearTries = 300;    // 9 s: the memory cleared for a chip's copy
constexpr int kMasterCopyClearTries = 1000; // 30 s: the memory cleared for an offline file's copy
constexpr int kMemoryClearTries = 1500;     // 45 s: the memory cleared for a download, or after an offline file

// The reads most replies take.
constexpr ReplyRead kToken{kShortBuffer, kTokenLength, kPromptTries};
constexpr ReplyRead kLongToken{kLongBuffer, kTokenLength, kPromptTries};
constexpr ReplyRead kVerdict{kShortBuffer, kTokenLength, kWorkTries};
}  // namespace reply

Reply ReadShortReply(AppContext& ctx, const ReplyRead& read);
// The same, with the number of bytes that arrived.
Reply ReadShortReply(AppContext& ctx, const ReplyRead& read, size_t& received);
// A reply that must arrive whole: fewer bytes raise LinkErrorFlag.
Reply ReadWholeReply(AppContext& ctx, const ReplyRead& read);
uint16_t ReadWord16(AppContext& ctx);
uint32_t ReadWord24(AppContext& ctx);
// The progress addresses of one stream over start..end, in the bits of mask
// the unit's counter has. The unit reports as often as it likes and may
// repeat or overshoot; the caller ends the stream at its limit. Only a stream
// with more reports than its range has bytes (and a margin) is stuck: Next
// then returns false with LinkErrorFlag raised, as when none came.
class ProgressStream {
public:
    ProgressStream(uint32_t start, uint32_t end, uint32_t mask = 0xFFFFFF);
    bool Next(AppContext& ctx, uint32_t& address);

private:
    uint32_t mask_;
    uint64_t reportsLeft_;
};
bool ReadDataBlock(AppContext& ctx, uint8_t opCode, uint32_t start, uint32_t end, std::vector<uint8_t>& buffer,
                   size_t capacity, size_t& count);
void ReportVoltageError(AppContext& ctx);
void ShowProgrammerInfo(AppContext& ctx);

// Texts shared by several routines.
extern const char* const kTextConnectionError;  // "编程器连接错误,编程器可能正忙,请稍候再试!"
extern const char* const kTextAborted;          // "操作已中止"
extern const char* const kTextPortGone;         // "USB COM 端口已失效! 请重新连接!"

}  // namespace veldrix
