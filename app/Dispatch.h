#pragma once
// The table of operations: the routine of each operation code.

namespace veldrix {

struct AppContext;

// The routine of one operation code (the worker's step 3); whoever runs the
// window sets AppContext::dispatch to it.
void DispatchOperation(AppContext& ctx, int opCode);

}  // namespace veldrix
