#pragma once
// The checks that run before an operation may start.

namespace veldrix {

struct AppContext;

// Supply voltage and ROM size against the selected chip; false to abort.
bool CheckChipFit(AppContext& ctx);
void RefuseInDebugMode(AppContext& ctx);
void RefuseRewrittenMemory(AppContext& ctx);
void RefuseNoCode(AppContext& ctx);

}  // namespace veldrix
