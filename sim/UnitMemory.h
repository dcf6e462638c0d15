#pragma once
// The unit's programming memory: 1 MiB that reads 0xFF until written. Its
// 4 KiB pages are set up as they are first touched and cleared by forgetting
// them, so a unit that takes a small download costs the pages it uses, not
// a fresh mebibyte each (with sixteen simulated units those faults cost
// more than their downloads). Indexing touches one page; begin(), end(),
// data() and the view as a vector touch them all, for code that wants the
// whole memory.
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace veldrix::sim {

class UnitMemory {
public:
    static constexpr size_t kSize = 0x100000;
    static constexpr size_t kPage = 0x1000;

    UnitMemory();
    UnitMemory(const UnitMemory&) = delete;
    UnitMemory& operator=(const UnitMemory&) = delete;

    size_t size() const { return kSize; }
    uint8_t& operator[](size_t address) {
        Touch(address / kPage);
        return bytes_[address];
    }
    uint8_t operator[](size_t address) const {
        return set_[address / kPage] ? bytes_[address] : uint8_t(0xFF);
    }
    // count bytes from address, set up, for reading and writing.
    uint8_t* Range(size_t address, size_t count);
    // Every byte back to 0xFF.
    void Clear() { set_.reset(); }

    uint8_t* data();
    uint8_t* begin() { return data(); }
    uint8_t* end() { return data() + kSize; }
    operator const std::vector<uint8_t>&() const;  // a copy, for comparing and keeping
    friend bool operator==(const UnitMemory& memory, const std::vector<uint8_t>& bytes);

private:
    void Touch(size_t page) {
        if (!set_[page]) SetUp(page);
    }
    void SetUp(size_t page);

    std::unique_ptr<uint8_t[]> bytes_;  // pages not yet set up hold anything
    std::bitset<kSize / kPage> set_;
    mutable std::vector<uint8_t> copy_;
};

}  // namespace veldrix::sim
