#pragma once
// The records of a run that keeps none (the command line on simulated units
// without a records folder): every record is taken as stored, and ID codes
// follow the same rules as in a folder, within this process only.
#include <cstdint>
#include <map>
#include <mutex>
#include <set>

#include "seams/ProductionRecords.h"

namespace veldrix {

class MemoryRecords : public ProductionRecords {
public:
    RecordKept Append(const ProductionRecord& record) override;
    RecordKept FlushPending() override { return RecordKept::Stored; }
    IdGrant TakeIdCode(uint32_t idCode, bool reuse) override;
    void GiveBackIdCode(uint32_t idCode) override;
    std::optional<std::string> IdCodeOnGoodChip(uint32_t idCode) override;
    std::string Location() override { return {}; }

private:
    std::mutex mutex_;
    std::map<uint32_t, int64_t> good_;  // code, the first day (since 1970) a good chip got it
    std::set<uint32_t> held_;
};

}  // namespace veldrix
