#include "cli/IdSequence.h"

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

void IdSequence::GiveBack(uint32_t code) {
    std::lock_guard lock(mutex_);
    returned_.insert(code);
}

}  // namespace veldrix::cli
