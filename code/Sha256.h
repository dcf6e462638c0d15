#pragma once
// SHA-256, to tell two code images apart where a 16-bit byte sum cannot.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace veldrix {

class Sha256 {
public:
    Sha256();
    void Add(const uint8_t* data, size_t size);
    // The digest as 64 lower-case hexadecimal digits; the object is spent.
    std::string HexDigest();

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> pending_{};
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

}  // namespace veldrix
