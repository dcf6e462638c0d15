// Binary code files of any content and size. Input: one byte choosing how the
// size is made, then the file's first bytes. Large sizes are holes made with
// truncate, so no run writes more than its own input to disk; a loader that
// read such a file before judging its size would trip the memory limit.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "app/ControlTable.h"
#include "code/CodeFile.h"
#include "code/Fields.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/MemorySettings.h"
#include "platform/headless/VirtualClock.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/TestDoubles.h"

namespace veldrix::fuzz {
namespace {

// Sizes round the limits that matter: 64 KB (the end address keeps 16 bits),
// the 1 MB buffer, and beyond 32 bits.
constexpr uint64_t kSizes[] = {0,
                               1,
                               0xFFFF,
                               0x10000,
                               0x10001,
                               kImageSize - 1,
                               kImageSize,
                               kImageSize + 1,
                               2 * kImageSize,
                               uint64_t(1) << 31,
                               uint64_t(1) << 32,
                               (uint64_t(1) << 32) + 1,
                               uint64_t(1) << 40};

struct Harness {
    HeadlessUi quiet;
    VirtualClock clock;
    MemorySettings settings;
    test::NullPort port;
    test::NullPortDirectory ports;
    AppContext ctx{quiet, clock, settings, port, ports};
};

std::unique_ptr<HeadlessUi> FreshWindow() {
    auto ui = std::make_unique<HeadlessUi>();
    for (int id : {id::kStatusLine, id::kCodeFile, id::kStartAddress, id::kEndAddress, id::kChecksum})
        ui->CreateControl(*FindControl(id));
    ui->SetText(id::kStatusLine, "before");
    return ui;
}

}  // namespace
}  // namespace veldrix::fuzz

using namespace veldrix;
using namespace veldrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness h;
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    std::string_view content(reinterpret_cast<const char*>(data + 1), size - 1);

    // Low bit clear: the file is the content as it stands. Otherwise the
    // content is cut or extended to a size from the table, or to a 1 MB
    // neighbour picked by the content's length.
    uint64_t fileSize = content.size();
    if (mode & 1) {
        unsigned pick = mode >> 1;
        fileSize = pick < std::size(kSizes) ? kSizes[pick] : kImageSize - 64 + (pick - std::size(kSizes)) % 128;
    }
    const std::string path = PrivateDir::Get().Write((mode & 0x80) ? "程序.BIN" : "code.bin", content);
    if (fileSize != content.size() && truncate(path.c_str(), off_t(fileSize)) != 0) return 0;  // no room for holes here
    std::string expected(content.substr(0, size_t(std::min<uint64_t>(fileSize, content.size()))));
    const bool fits = fileSize <= kImageSize;
    if (fits) expected.resize(size_t(fileSize), '\0');

    auto ui = FreshWindow();
    h.ctx.ui = ui.get();
    std::fill(h.ctx.codeBuffer.begin(), h.ctx.codeBuffer.end(), uint8_t(0x5A));
    uint32_t loaded = LoadBinFile(h.ctx, path);
    FUZZ_CHECK(h.ctx.codeBuffer.size() == kImageSize);
    FUZZ_CHECK(loaded == (fits ? fileSize : 0));
    // The file's bytes from address 0, 0xFF behind them; a refused file
    // leaves the buffer filled with 0xFF.
    FUZZ_CHECK(std::memcmp(expected.data(), h.ctx.codeBuffer.data(), loaded) == 0);
    FUZZ_CHECK(AllErased(h.ctx.codeBuffer.data() + loaded, kImageSize - loaded));
    FUZZ_CHECK(ui->GetText(id::kStatusLine) == "before");  // the file was there: no open failure

    // The same file through the code-file field.
    h.ctx.LinkErrorFlag = 0;
    h.ctx.programmingRange = {0x100, 0x200};
    ui->SetText(id::kCodeFile, path);
    LoadCodeFile(h.ctx);
    if (loaded > 0) {
        // Beyond 64 KB the range ends at FFFF: it never wraps.
        const uint32_t end = std::min<uint32_t>(loaded - 1, 0xFFFF);
        FUZZ_CHECK(h.ctx.LinkErrorFlag == 0);
        FUZZ_CHECK(h.ctx.programmingRange == (AddressRange{0, end}));
        FUZZ_CHECK(ui->GetText(id::kEndAddress) == Hex(end, 4));
        FUZZ_CHECK(ui->GetText(id::kStatusLine) == "调入代码成功!");
    } else {
        FUZZ_CHECK(h.ctx.LinkErrorFlag == 1);
        FUZZ_CHECK(h.ctx.programmingRange == (AddressRange{0x100, 0x200}));
        FUZZ_CHECK(ui->GetText(id::kStatusLine) == "代码文件有错误!");
    }
    h.ctx.ui = &h.quiet;
    return 0;
}
