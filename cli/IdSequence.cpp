#include "cli/IdSequence.h"

#include <algorithm>

namespace veldrix::cli {

std::optional<uint32_t> IdSequence::Take() {
    std::lock_guard lock(mutex_);
    if (!returned_.empty()) {
        uint32_t code = *returned_.begin();
        returned_.erase(returned_.begin());
        return code;
    }
    for (;;) {
        if (next_ > 0xFFFFFF || (last_ && next_ > *last_)) return std::nullopt;
        uint32_t code = next_++;
        if (alreadyUsed && alreadyUsed(code)) continue;
        return code;
    }
}

void IdSequence::Settle(uint32_t offered, std::optional<uint32_t> taken, bool good) {
    std::lock_guard lock(mutex_);
    if (!taken) {
        returned_.insert(offered);  // the chip ended before its ID step
        return;
    }
    // Codes between were held or used elsewhere: the next chip starts beyond.
    next_ = std::max(next_, *taken + 1);
    if (!good) returned_.insert(*taken);
    // An offered code the sequence passed over belongs to another run now.
}

IdSequence& SharedIds::For(uint32_t fieldNext) {
    std::lock_guard lock(mutex_);
    if (!sequence_) {
        sequence_ = std::make_unique<IdSequence>(first_.value_or(fieldNext), last_);
        sequence_->alreadyUsed = alreadyUsed_;
    }
    return *sequence_;
}

}  // namespace veldrix::cli
