#include "code/CodeBuffer.h"

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "code/Fields.h"

namespace veldrix {

uint16_t CodeChecksum(std::span<const uint8_t> image, uint32_t start, uint32_t end) {
    if (start > end || image.empty()) return 0;
    if (end >= image.size()) end = uint32_t(image.size() - 1);
    uint16_t sum = 0;
    for (size_t a = start; a <= end; ++a) sum = uint16_t(sum + image[a]);
    return sum;
}

uint16_t CodeChecksum(const AppContext& ctx, uint32_t start, uint32_t end) {
    return CodeChecksum(std::span<const uint8_t>(ctx.codeBuffer), start, end);
}

namespace {
// The field's text as a 128-byte read buffer would hold it.
std::string FieldText(AppContext& ctx, int id) {
    std::string text = ctx.ui->GetText(id);
    if (text.size() > 127) text.resize(127);
    return text;
}

bool ReadAddressField(AppContext& ctx, int id, uint32_t& value) {
    std::string text = FieldText(ctx, id);
    if (text.empty()) {
        text = "00000";
        ctx.ui->SetText(id, text);
    }
    std::string padded;
    PadLeftZeros(text, 5, padded);
    if (!OnlyCharsFrom(HexCharset, padded)) return false;
    value = uint32_t(ParseDigits(padded, 16)) & 0xFFFF;
    return true;
}
}  // namespace

int ReadProgrammingRange(AppContext& ctx) {
    if (!ReadAddressField(ctx, id::kStartAddress, ctx.programmingRange.start)) return -1;
    if (!ReadAddressField(ctx, id::kEndAddress, ctx.programmingRange.end)) return -1;
    if (ctx.programmingRange.start >= ctx.programmingRange.end) {
        ctx.programmingRange.end = ctx.programmingRange.start;
        ctx.ui->SetText(id::kEndAddress, Hex(ctx.programmingRange.start, 5));
    }
    return 0;
}

}  // namespace veldrix
