#pragma once
// One chip of the chip list, and the list as the program holds it.
#include <array>
#include <cstdint>
#include <string>

namespace veldrix {

struct ChipRecord {
    std::string name;        // at most 15 characters, upper case
    std::string memoryType;  // "MTP", else OTP
    std::string reserved;
    std::string vpp;         // "12V", "11V", else VCC
    std::string vdd;         // "5V" or "3V"
};

struct ChipCatalogue {
    static constexpr size_t kSlots = 256;
    std::array<ChipRecord, kSlots> records{};
    uint32_t count = 0;
    bool loaded = false;
};

enum class ChipType { Otp, Mtp };

}  // namespace veldrix
