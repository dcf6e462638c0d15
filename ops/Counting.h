#pragma once
// What the automatic sequence counts: whether the counts run, and the ID code
// it writes into the next chip.
#include <cstdint>

namespace veldrix {

struct AppContext;

constexpr uint32_t kMaxCounter = 0xFFFFFF;  // the unit keeps 24 bits
// The pause button's caption while the counts run, and while they pause.
constexpr const char* kCountingCaption = "暂停计数";
constexpr const char* kPausedCaption = "开始计数";

// True while the pause button offers to pause, i.e. the counts run.
bool CountingOn(AppContext& ctx);
// Checks the ID address and the current value and prepares idValue (current
// value + 1) and idAddress, also into the block; raises LinkErrorFlag after
// showing its error box when either is unusable.
void PrepareIdIncrement(AppContext& ctx);

}  // namespace veldrix
