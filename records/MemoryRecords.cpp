#include "records/MemoryRecords.h"

#include "records/RecordFolder.h"

namespace veldrix {

RecordKept MemoryRecords::Append(const ProductionRecord& record) {
    std::lock_guard lock(mutex_);
    if (record.result == RecordResult::Good && record.idCode) {
        int64_t day = DaysFromCivil(record.time.year, record.time.month, record.time.day);
        auto [at, added] = good_.emplace(*record.idCode, day);
        if (!added && day < at->second) at->second = day;
        held_.erase(*record.idCode);
    }
    return RecordKept::Stored;
}

IdGrant MemoryRecords::TakeIdCode(uint32_t idCode, bool reuse) {
    std::lock_guard lock(mutex_);
    if (held_.count(idCode)) return {IdGrant::Answer::HeldElsewhere, {}, {}};
    auto good = good_.find(idCode);
    if (!reuse && good != good_.end()) return {IdGrant::Answer::OnGoodChip, DateText(good->second), {}};
    held_.insert(idCode);
    return {};
}

void MemoryRecords::GiveBackIdCode(uint32_t idCode) {
    std::lock_guard lock(mutex_);
    held_.erase(idCode);
}

std::optional<std::string> MemoryRecords::IdCodeOnGoodChip(uint32_t idCode) {
    std::lock_guard lock(mutex_);
    auto good = good_.find(idCode);
    return good == good_.end() ? std::nullopt : std::optional<std::string>(DateText(good->second));
}

}  // namespace veldrix
