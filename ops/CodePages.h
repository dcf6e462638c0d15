#pragma once
// The pages of the code view as the programmer delivers them, and the edits
// made in it.

namespace veldrix {

struct AppContext;

// Worker routine of the view's operation codes (op::kFirstView on): moves the
// page as the code says and shows it from the selected source.
void ShowCodePage(AppContext& ctx, int opCode);
// A double-click on a cell of the list (window thread): edits one byte of
// the code buffer in debug mode.
void EditCodeByte(AppContext& ctx, int row, int column);

}  // namespace veldrix
