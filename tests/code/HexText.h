#pragma once
// Intel HEX text for tests, built independently of the loader.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace veldrix::test {

inline std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> rec = {uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address), type};
    rec.insert(rec.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : rec) sum += b;
    rec.push_back(uint8_t(0x100 - (sum & 0xFF)));
    std::string line = ":";
    char pair[3];
    for (uint8_t b : rec) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        line += pair;
    }
    return line;
}

inline std::string DataRecord(uint16_t address, const std::vector<uint8_t>& data) { return HexRecord(0x00, address, data); }
inline std::string EndRecord() { return ":00000001FF"; }

// The bytes first, first + 1, ... (count of them).
inline std::vector<uint8_t> Ramp(uint8_t first, size_t count) {
    std::vector<uint8_t> v(count);
    for (size_t i = 0; i < count; ++i) v[i] = uint8_t(first + i);
    return v;
}

}  // namespace veldrix::test
