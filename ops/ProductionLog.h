#pragma once
// The production record of an automatic sequence or an offline file, and the
// ID code the sequence takes from the records for the chip in the socket.
#include <cstdint>
#include <optional>

#include "seams/ProductionRecords.h"

namespace veldrix {

struct AppContext;

// Started where the run begins; Finish stores what the window shows at its end.
class RecordedRun {
public:
    explicit RecordedRun(AppContext& ctx, RecordKind kind = RecordKind::Chip);
    // Appends the record (Stored when no records are kept). The first record
    // of a run of the program that cannot be stored brings one warning box
    // naming where it should have gone; the status line stays as it is.
    RecordKept Finish(RecordResult result, std::optional<uint32_t> idCode = std::nullopt,
                      std::optional<uint32_t> idAddress = std::nullopt);

private:
    AppContext& ctx_;
    uint64_t startMs_;
    RecordKind kind_;
};

enum class IdTaken {
    Taken,     // code is the chip's, held for it until its record
    Declined,  // a good chip carries it and the operator would not write it again
    UsedUp,    // no free code up to the last one
    NoServer,  // the records' server could not be reached and the operator gave up
};
// From code on, the first ID code the records grant: a code held by another
// run is passed over without a word; one on a good chip is asked about (No is
// the default button), or passed over where the caller asked for that. While
// the records' server cannot be reached the operator is asked to retry or
// cancel. Without records, code as it stands.
IdTaken TakeIdCode(AppContext& ctx, uint32_t& code);
// The chip that took code ended without a good record: the next chip gets it.
void GiveBackIdCode(AppContext& ctx, uint32_t code);

// Before a sequence that writes ID codes: the records that could not be kept
// anywhere are stored now, or the operator is told and the run must not go on.
bool RecordsCanTakeIdCodes(AppContext& ctx);
// Before the chip of a sequence that writes ID codes: the store can hand one
// out, or the operator is asked to retry or cancel until it can; false: cancelled.
bool IdServerAnswers(AppContext& ctx);

}  // namespace veldrix
