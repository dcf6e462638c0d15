#pragma once
// The ID codes of one call, shared by every unit: each chip takes the
// smallest code not yet on a good chip, and a chip that fails gives its code
// back, so good chips carry consecutive codes and no code twice.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>

namespace veldrix::cli {

class IdSequence {
public:
    IdSequence(uint32_t first, std::optional<uint32_t> last) : next_(first), last_(last) {}

    // Whether a code is already on a good chip from an earlier run (the
    // production log answers). Empty: none is.
    std::function<bool(uint32_t)> alreadyUsed;

    // The code for the next chip; nothing once the sequence is used up.
    std::optional<uint32_t> Take();
    // The chip that took it failed: the next chip gets it.
    void GiveBack(uint32_t code);

private:
    std::mutex mutex_;
    uint32_t next_;
    std::optional<uint32_t> last_;
    std::set<uint32_t> returned_;
};

}  // namespace veldrix::cli
