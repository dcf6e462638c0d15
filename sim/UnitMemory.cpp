#include "sim/UnitMemory.h"

#include <algorithm>
#include <cstring>

namespace veldrix::sim {

// Left as the allocator hands it over: no page is touched until it is used.
UnitMemory::UnitMemory() : bytes_(new uint8_t[kSize]) {}

void UnitMemory::SetUp(size_t page) {
    std::memset(bytes_.get() + page * kPage, 0xFF, kPage);
    set_.set(page);
}

uint8_t* UnitMemory::Range(size_t address, size_t count) {
    if (count > 0)
        for (size_t page = address / kPage; page <= (address + count - 1) / kPage && page < set_.size(); ++page)
            Touch(page);
    return bytes_.get() + address;
}

uint8_t* UnitMemory::data() { return Range(0, kSize); }

UnitMemory::operator const std::vector<uint8_t>&() const {
    copy_.resize(kSize);
    for (size_t page = 0; page < set_.size(); ++page) {
        uint8_t* to = copy_.data() + page * kPage;
        if (set_[page]) std::memcpy(to, bytes_.get() + page * kPage, kPage);
        else std::memset(to, 0xFF, kPage);
    }
    return copy_;
}

bool operator==(const UnitMemory& memory, const std::vector<uint8_t>& bytes) {
    if (bytes.size() != UnitMemory::kSize) return false;
    for (size_t a = 0; a < UnitMemory::kSize; ++a)
        if (memory[a] != bytes[a]) return false;
    return true;
}

}  // namespace veldrix::sim
