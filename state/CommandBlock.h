#pragma once
// The 38-byte packet that opens every exchange with the programmer.
#include <array>
#include <cstdint>

namespace veldrix {

namespace cb {
constexpr int kSize = 38;
constexpr int kSignature = 0;   // "ZEMKO"
constexpr int kOpCode = 5;
constexpr int kChipType = 6;    // 1 OTP, 2 MTP
constexpr int kDataByte = 7;
constexpr int kPowerSelect = 8;
constexpr int kAutoFlags = 10;
constexpr int kLockState = 11;
constexpr int kChecksum = 12;   // 2 bytes
constexpr int kCounterCurrent = 14;  // 3 bytes
constexpr int kCounterEnd = 17;      // 3 bytes
constexpr int kStartAddress = 20;    // 3 bytes
constexpr int kEndAddress = 23;      // 3 bytes
constexpr int kBlockNumber = 26;
constexpr int kIdAddress = 27;       // 3 bytes
constexpr int kPassword = 30;        // 8 bytes
}  // namespace cb

// AutoFlags bits
namespace autoflag {
constexpr uint8_t kReadProtect = 0x01;
constexpr uint8_t kLdc = 0x02;
constexpr uint8_t kBlankCheck = 0x04;
constexpr uint8_t kHwProtect = 0x08;
constexpr uint8_t kSmart = 0x10;
constexpr uint8_t kVerify = 0x20;
constexpr uint8_t kKeep = 0x40;
constexpr uint8_t kIdIncrement = 0x80;
}  // namespace autoflag

struct CommandBlock {
    std::array<uint8_t, cb::kSize> bytes{};

    uint8_t& operator[](int offset) { return bytes[offset]; }
    uint8_t operator[](int offset) const { return bytes[offset]; }

    uint8_t OpCode() const { return bytes[cb::kOpCode]; }
    void SetOpCode(uint8_t code) { bytes[cb::kOpCode] = code; }
    void Fill(uint8_t value) { bytes.fill(value); }

    void Put16(int offset, uint32_t value) {
        bytes[offset] = uint8_t(value >> 8);
        bytes[offset + 1] = uint8_t(value);
    }
    void Put24(int offset, uint32_t value) {
        bytes[offset] = uint8_t(value >> 16);
        bytes[offset + 1] = uint8_t(value >> 8);
        bytes[offset + 2] = uint8_t(value);
    }
    uint32_t Get16(int offset) const { return uint32_t(bytes[offset]) << 8 | bytes[offset + 1]; }
    uint32_t Get24(int offset) const {
        return uint32_t(bytes[offset]) << 16 | uint32_t(bytes[offset + 1]) << 8 | bytes[offset + 2];
    }
    void SetRange(uint32_t start, uint32_t end) {
        Put24(cb::kStartAddress, start);
        Put24(cb::kEndAddress, end);
    }
};

}  // namespace veldrix
