#pragma once
// The ID codes of one call, shared by every unit: each chip is offered the
// smallest code not yet on a good chip, and a chip that fails gives its code
// back, so good chips carry consecutive codes and no code twice. The records
// have the last word: the sequence of a chip takes the offered code from them,
// or the next free one when another run holds it.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace veldrix::cli {

class IdSequence {
public:
    IdSequence(uint32_t first, std::optional<uint32_t> last) : next_(first), last_(last) {}

    // Whether a code is already on a good chip (the records answer). Empty:
    // none is.
    std::function<bool(uint32_t)> alreadyUsed;

    // The code to offer the next chip; nothing once the sequence is used up.
    std::optional<uint32_t> Take();
    // The chip offered `offered` ended: `taken` is the code its sequence took
    // (nothing when it ended before the ID step), good whether it was counted
    // good. A code the chip did not keep is offered again.
    void Settle(uint32_t offered, std::optional<uint32_t> taken, bool good);
    std::optional<uint32_t> Last() const { return last_; }

private:
    std::mutex mutex_;
    uint32_t next_;
    std::optional<uint32_t> last_;
    std::set<uint32_t> returned_;
};

// The one sequence of a call, made when the first chip needs it: from --id,
// else from the ID field a project file set (the code after the field's).
class SharedIds {
public:
    SharedIds(std::optional<uint32_t> first, std::optional<uint32_t> last, std::function<bool(uint32_t)> alreadyUsed)
        : first_(first), last_(last), alreadyUsed_(std::move(alreadyUsed)) {}
    IdSequence& For(uint32_t fieldNext);

private:
    std::mutex mutex_;
    std::optional<uint32_t> first_, last_;
    std::function<bool(uint32_t)> alreadyUsed_;
    std::unique_ptr<IdSequence> sequence_;
};

}  // namespace veldrix::cli
