// Project files applied to a freshly created main window, then the code file
// the project names loaded as the open button would. Every file a run can
// reach lies in the private directory: the named file is looked up there by
// its last path component.
#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <string>

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "app/MainWindow.h"
#include "code/CodeFile.h"
#include "code/Fields.h"
#include "code/ProjectFile.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/MemorySettings.h"
#include "platform/headless/VirtualClock.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/TestDoubles.h"

namespace veldrix::fuzz {
namespace {

constexpr std::string_view kMagic = "THIS-IS-VDX-PROJECT-FILE";

struct Harness {
    Harness() {
        settings.values["setup"] = VELDRIX_SOURCE_DIR "/resources";
        PrivateDir& dir = PrivateDir::Get();
        dir.Write("code.hex", ":0400000001020304F2\n:02001000AA55EF\n:00000001FF\n");
        dir.Write("bad.hex", ":0400000001020304F3\n");
        dir.Write("code.bin", std::string(300, '\x42'));
        dir.Write("nested.pvx", std::string(kMagic) + "\r\nFile=" + dir.File("code.hex") + "\r\nChip=S3C9454\r\n");
        dir.Write("loop.pvx", std::string(kMagic) + "\r\nFile=" + dir.File("loop.pvx") + "\r\n");
    }
    HeadlessUi quiet;
    VirtualClock clock;
    MemorySettings settings;
    test::NullPort port;
    test::NullPortDirectory ports;
    // One context for every run: creating the window below refills its code
    // buffer, range and chip list, all a project touches, and a fresh
    // context's three 1 MB buffers cost more than the rest of a run.
    AppContext ctx{quiet, clock, settings, port, ports};
};

bool EndsWithNoCase(const std::string& name, std::string_view tail) {
    if (name.size() < tail.size()) return false;
    for (size_t i = 0; i < tail.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - tail.size() + i])) != tail[i]) return false;
    return true;
}

// The file the field names, taken from the private directory. Projects are
// the two made above, so a fuzzed name never reaches a file elsewhere.
std::string PrivateName(const std::string& field) {
    std::string base = field.substr(std::min(field.size(), field.find_last_of("/\\") + 1));
    std::replace(base.begin(), base.end(), '\0', '_');
    if (EndsWithNoCase(base, ".pvx")) return PrivateDir::Get().File(base == "loop.pvx" ? "loop.pvx" : "nested.pvx");
    if (base.empty() || base == "." || base == "..") base = "none";
    return PrivateDir::Get().File(base);
}

// The run's window for the shared context, the stand-in again afterwards.
struct WindowInUse {
    WindowInUse(AppContext& ctx, Ui& window, Ui& standIn) : ctx(ctx), standIn(standIn) { ctx.ui = &window; }
    ~WindowInUse() { ctx.ui = &standIn; }
    AppContext& ctx;
    Ui& standIn;
};

int CheckedCount(HeadlessUi& ui, std::initializer_list<int> group) {
    int n = 0;
    for (int id : group) n += ui.IsChecked(id) ? 1 : 0;
    return n;
}

bool OneLineOfAtMost(const std::string& text, size_t max) {
    return text.size() <= max && text.find_first_of("\r\n") == std::string::npos;
}

}  // namespace
}  // namespace veldrix::fuzz

using namespace veldrix;
using namespace veldrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness h;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string path = PrivateDir::Get().Write("project.pvx", input);

    HeadlessUi ui;
    AppContext* ctx = &h.ctx;
    WindowInUse inUse(*ctx, ui, h.quiet);
    InitMainWindow(*ctx);
    FUZZ_CHECK(ctx->catalogue.loaded && ctx->catalogue.count > 1);

    ctx->LinkErrorFlag = 0;
    const bool applied = LoadProject(*ctx, path);
    // Only the first line decides whether this is a project file.
    FUZZ_CHECK(applied == input.starts_with(kMagic));
    if (!applied) {
        FUZZ_CHECK(ctx->LinkErrorFlag == 1);
        FUZZ_CHECK(ui.GetText(id::kStatusLine) == "无法识别的文件,操作中止");
        return 0;
    }

    // Whatever the lines said, every radio group keeps exactly one choice and
    // the chip list a valid selection.
    FUZZ_CHECK(CheckedCount(ui, {id::kSpeedFull, id::kSpeedMedium, id::kSpeedLow}) == 1);
    FUZZ_CHECK(CheckedCount(ui, {id::kOtp, id::kMtp}) == 1);
    FUZZ_CHECK(CheckedCount(ui, {id::kVpp12, id::kVpp11, id::kVppVcc}) == 1);
    FUZZ_CHECK(CheckedCount(ui, {id::kVdd50, id::kVdd33}) == 1);
    const int chip = ui.ComboSelection(id::kChipCombo);
    FUZZ_CHECK(chip >= 0 && chip < ui.ComboCount(id::kChipCombo));
    // Values arrive one line each, cut to what a field takes.
    for (int field : {id::kCodeFile, id::kSuccessCount, id::kFailureCount, id::kCounterCurrent, id::kCounterEnd,
                      id::kIdAddress})
        FUZZ_CHECK(OneLineOfAtMost(ui.GetText(field), 128));

    // The code file it names, from the private directory.
    const std::string named = ui.GetText(id::kCodeFile);
    if (named.empty()) return 0;
    ui.SetText(id::kCodeFile, PrivateName(named));
    ctx->programmingRange = {0x10, 0x20};
    LoadCodeFile(*ctx);
    FUZZ_CHECK(!ui.GetText(id::kStatusLine).empty());
    if (ui.GetText(id::kStatusLine) == "调入代码成功!") {
        FUZZ_CHECK(ctx->LinkErrorFlag == 0);
        FUZZ_CHECK(ctx->programmingRange.start == 0 && ctx->programmingRange.end <= 0xFFFF);
        FUZZ_CHECK(ui.GetText(id::kEndAddress) == Hex(ctx->programmingRange.end, 4));
    } else {
        // A failed load keeps the range; a name of no known kind is said in a box.
        FUZZ_CHECK(ctx->programmingRange == (AddressRange{0x10, 0x20}));
        if (ctx->LinkErrorFlag == 0) {
            auto box = ui.LastBox();
            FUZZ_CHECK(box && box->spec.caption == "无法识别的文件,操作中止");
        }
    }
    return 0;
}
