#pragma once
// The production record of an automatic sequence or an offline file, and the
// question before an ID code that a good chip already has goes into another.
#include <cstdint>
#include <optional>

#include "seams/ProductionRecords.h"

namespace veldrix {

struct AppContext;

// Started where the run begins; Finish stores what the window shows at its end.
class RecordedRun {
public:
    explicit RecordedRun(AppContext& ctx);
    // Appends the record (nothing when no records are kept). The first record
    // of a run of the program that cannot be stored brings one warning box
    // naming where it should have gone; the status line stays as it is.
    void Finish(RecordResult result, std::optional<uint32_t> idCode = std::nullopt,
                std::optional<uint32_t> idAddress = std::nullopt);

private:
    AppContext& ctx_;
    uint64_t startMs_;
};

// True when no good chip has the ID code yet, or the operator goes on
// anyway (No is the default button).
bool IdCodeUnusedOrAccepted(AppContext& ctx, uint32_t idCode);

}  // namespace veldrix
