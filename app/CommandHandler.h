#pragma once
// One handler for every click of the main window.

namespace veldrix {

struct AppContext;

// MSG_CONTROL_CLICK: the control and the group box it sits in.
void OnMainCommand(AppContext& ctx, int controlId, int parentId);

}  // namespace veldrix
