#pragma once
// The paged hexadecimal view of programmer memory, a chip or a stored file:
// the view itself and the page moves; the pages come from ops/CodePages.
#include <cstdint>
#include <string>

namespace veldrix {

struct AppContext;

void InitCodeView(AppContext& ctx);
// true: the view takes the place of the option and operation groups.
void ShowCodeView(AppContext& ctx, bool open);
// One page of the view: kCodeRows rows of 16 bytes.
constexpr uint32_t kCodePageSize = 256;
constexpr int kCodeRows = 16;
// The page address the code asks for; false when the typed address is not
// hexadecimal text (the page then stays as it is).
bool NextViewAddress(AppContext& ctx, int opCode, uint32_t& address);
// A cell of the list: two hex digits, or the printable character (empty for
// any other byte) in ASCII mode.
std::string CodeCellText(uint8_t byte, bool ascii);

}  // namespace veldrix
