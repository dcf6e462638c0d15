#pragma once
// The on-line success and failure counts, and the ID-code counter fields of
// the offline-file panel.

namespace veldrix {

struct AppContext;

// op::kResetCounts, op::kToggleCounting and op::kSetCounter.
void ResetCounts(AppContext& ctx);
void ToggleCounting(AppContext& ctx);
void SetCounter(AppContext& ctx);

// Current value, end value and ID address into block bytes 14-19 and 27-29,
// out-of-range or unreadable values clamped.
void LoadCounterFields(AppContext& ctx);
// The directory block chosen in "选择目录:" (1 to 15).
int SelectedBlockNumber(AppContext& ctx);

}  // namespace veldrix
