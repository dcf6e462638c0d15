// HEX text into the 1 MB image: straight from memory, and through a file into
// the application's code buffer.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "app/ControlTable.h"
#include "code/HexFile.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/MemorySettings.h"
#include "platform/headless/VirtualClock.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/TestDoubles.h"

namespace veldrix::fuzz {
namespace {

struct Harness {
    HeadlessUi quiet;  // stands in between runs; each run gets a fresh window
    VirtualClock clock;
    MemorySettings settings;
    test::NullPort port;
    test::NullPortDirectory ports;
    AppContext ctx{quiet, clock, settings, port, ports};
    // Exactly the image size, so a write past it lands in ASan's red zone.
    std::vector<uint8_t> first = std::vector<uint8_t>(kImageSize);
    std::vector<uint8_t> second = std::vector<uint8_t>(kImageSize);
};

// Leaves a pattern in the stack below the caller, so a parser that reads
// something it never wrote gives different results on the two runs below.
__attribute__((noinline)) void ScribbleStack(uint8_t pattern) {
    uint8_t area[16384];
    std::memset(area, pattern, sizeof area);
    asm volatile("" : : "r"(area) : "memory");  // the stores must stay
}

__attribute__((noinline)) HexStatus ParseAfterScribble(std::string_view text, std::vector<uint8_t>& image,
                                                       uint32_t& end, uint8_t pattern) {
    std::fill(image.begin(), image.end(), uint8_t(0xFF));
    ScribbleStack(pattern);
    end = 0xDEADBEEF;
    return ParseHexText(text, image.data(), end);
}


// The text with every record's checksum pair made right, so mutations of the
// digits reach the record handling instead of stopping at the first sum.
std::string WithChecksumsFixed(std::string_view text) {
    auto value = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out(text);
    size_t lineStart = 0;
    while (lineStart < out.size()) {
        size_t lineEnd = out.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = out.size();
        size_t colon = out.rfind(':', lineEnd == 0 ? 0 : lineEnd - 1);
        if (colon != std::string::npos && colon >= lineStart) {
            size_t p = colon + 1;
            auto pair = [&](size_t at) {
                if (at + 1 >= lineEnd) return -1;
                int h = value(out[at]), l = value(out[at + 1]);
                return h < 0 || l < 0 ? -1 : h * 16 + l;
            };
            int length = pair(p);
            if (length >= 0) {
                unsigned sum = 0;
                bool whole = true;
                for (int i = 0; i < length + 4 && whole; ++i) {
                    int v = pair(p + 2 * size_t(i));
                    whole = v >= 0;
                    sum += unsigned(v);
                }
                size_t at = p + 2 * size_t(length + 4);
                if (whole && at + 1 < lineEnd) {
                    const char* digits = "0123456789ABCDEF";
                    unsigned check = (0x100 - (sum & 0xFF)) & 0xFF;
                    out[at] = digits[check >> 4];
                    out[at + 1] = digits[check & 0xF];
                }
            }
        }
        lineStart = lineEnd + 1;
    }
    return out;
}

void CheckText(Harness& h, std::string_view text) {
    uint32_t end = 0, again = 0;
    HexStatus status = ParseAfterScribble(text, h.first, end, 0x00);
    // The image is 1 MB; an end beyond it would send readers of the image
    // past its last byte.
    if (status == HexStatus::Ok) FUZZ_CHECK(end <= kImageSize);
    else FUZZ_CHECK(end == 0);

    // The same text always gives the same image and end.
    HexStatus repeated = ParseAfterScribble(text, h.second, again, 0xA5);
    FUZZ_CHECK(repeated == status);
    FUZZ_CHECK(again == end);
    FUZZ_CHECK(h.first == h.second);

    // Through a file into the code buffer: the same verdict and bytes.
    auto ui = std::make_unique<HeadlessUi>();
    ui->CreateControl(*FindControl(id::kStatusLine));
    h.ctx.ui = ui.get();
    h.ctx.LinkErrorFlag = 0;
    std::fill(h.ctx.codeBuffer.begin(), h.ctx.codeBuffer.end(), uint8_t(0x00));
    uint32_t loaded = LoadHexFile(h.ctx, PrivateDir::Get().Write("input.hex", text));
    FUZZ_CHECK(h.ctx.codeBuffer.size() == kImageSize);
    FUZZ_CHECK(loaded == (status == HexStatus::Ok ? end : 0u));
    FUZZ_CHECK(h.ctx.LinkErrorFlag == (status == HexStatus::Ok ? 0 : 1));
    FUZZ_CHECK(h.ctx.codeBuffer == h.first);
    const std::string line = ui->GetText(id::kStatusLine);
    if (status == HexStatus::LineChecksum) FUZZ_CHECK(line == "代码文件错误[行检查和错误]");
    else FUZZ_CHECK(line == "调入代码文件.....");
    h.ctx.ui = &h.quiet;
}

}  // namespace
}  // namespace veldrix::fuzz

using namespace veldrix;
using namespace veldrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness h;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckText(h, text);
    const std::string fixed = WithChecksumsFixed(text);
    if (fixed != text) CheckText(h, fixed);
    return 0;
}
