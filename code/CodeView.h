#pragma once
// The paged hexadecimal view of programmer memory, a chip or a stored file.

namespace veldrix {

struct AppContext;

void InitCodeView(AppContext& ctx);
// true: the view takes the place of the option and operation groups.
void ShowCodeView(AppContext& ctx, bool open);

}  // namespace veldrix
