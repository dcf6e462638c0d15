#pragma once
// The paged hexadecimal view of programmer memory, a chip or a stored file.

namespace veldrix {

struct AppContext;

void InitCodeView(AppContext& ctx);
// true: the view takes the place of the option and operation groups.
void ShowCodeView(AppContext& ctx, bool open);
// Worker routine of the view's operation codes (60 and above): moves the
// page as the code says and shows it from the selected source.
void ShowCodePage(AppContext& ctx, int opCode);
// A double-click on a cell of the list (window thread): edits one byte of
// the code buffer in debug mode.
void EditCodeByte(AppContext& ctx, int row, int column);

}  // namespace veldrix
