// The chip list: the whole text into the catalogue, and each line into its
// fields.
#include <cctype>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "state/AppContext.h"
#include "code/ChipCatalogue.h"
#include "state/ControlIds.h"
#include "app/ControlTable.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/MemorySettings.h"
#include "platform/headless/VirtualClock.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/TestDoubles.h"

namespace veldrix::fuzz {
namespace {

constexpr std::string_view kSeparators = " ,\t;:";

bool IsSeparator(char c) { return kSeparators.find(c) != std::string_view::npos; }

// A field as the window and the comparisons can use it: no separator, no
// line end, no NUL (a window's list ends a text there, so the entry shown
// would differ from the name the program compares with).
bool CleanField(const std::string& field, size_t max) {
    if (field.size() > max) return false;
    for (char c : field)
        if (IsSeparator(c) || c == '\n' || c == '\0') return false;
    return true;
}

bool UpperCase(const std::string& field) {
    for (char c : field)
        if (std::islower(static_cast<unsigned char>(c))) return false;
    return true;
}

// The runs between separators of a line without its line end, found the
// plain way, to compare SplitFields with.
std::vector<std::string> Runs(std::string_view line, bool& endsWithSeparator) {
    std::vector<std::string> runs;
    std::string current;
    for (char c : line) {
        if (IsSeparator(c)) {
            if (!current.empty()) runs.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) runs.push_back(current);
    endsWithSeparator = !line.empty() && IsSeparator(line.back());
    return runs;
}

void CheckSplit(const std::string& rawLine) {
    std::vector<std::string> fields = SplitFields(rawLine);
    std::string_view line = rawLine;
    line = line.substr(0, line.find('\0'));  // where a C line buffer ends
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    bool trailing = false;
    std::vector<std::string> runs = Runs(line, trailing);
    // Each run, cut to 15 bytes between characters (a cut character loses at
    // most 3); a separator at the end adds an empty field after the last one.
    const size_t expectedCount = runs.size() + (trailing && !runs.empty() ? 1 : 0);
    FUZZ_CHECK(fields.size() == expectedCount);
    for (size_t i = 0; i < runs.size(); ++i) {
        FUZZ_CHECK(runs[i].compare(0, fields[i].size(), fields[i]) == 0 && fields[i].size() <= 15);
        FUZZ_CHECK(fields[i].size() >= (runs[i].size() <= 15 ? runs[i].size() : 12));
    }
    if (expectedCount > runs.size()) FUZZ_CHECK(fields.back().empty());
}

// Nothing here writes the status line or shows a box, so one window serves
// every run without its records growing.
struct Harness {
    Harness() {
        for (const ControlDef& def : MainControls()) ui.CreateControl(def);
    }
    HeadlessUi ui;
    VirtualClock clock;
    MemorySettings settings;
    test::NullPort port;
    test::NullPortDirectory ports;
    AppContext ctx{ui, clock, settings, port, ports};
};

}  // namespace
}  // namespace veldrix::fuzz

using namespace veldrix;
using namespace veldrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness h;
    const std::string text(reinterpret_cast<const char*>(data), size);

    // Each line on its own, as far as the reader would hand it over.
    for (size_t pos = 0; pos < text.size();) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl + 1;
        CheckSplit(text.substr(pos, end - pos));
        pos = end;
    }

    auto catalogue = std::make_unique<ChipCatalogue>();
    const uint32_t count = ParseChipList(text, *catalogue);
    FUZZ_CHECK(count == catalogue->count);
    FUZZ_CHECK(count <= ChipCatalogue::kSlots);
    for (size_t i = 0; i < ChipCatalogue::kSlots; ++i) {
        const ChipRecord& r = catalogue->records[i];
        if (i >= count) {
            FUZZ_CHECK(r.name.empty() && r.memoryType.empty() && r.reserved.empty() && r.vpp.empty() &&
                       r.vdd.empty());
            continue;
        }
        FUZZ_CHECK(CleanField(r.name, 15) && UpperCase(r.name));
        for (const std::string* f : {&r.memoryType, &r.reserved, &r.vpp, &r.vdd})
            FUZZ_CHECK(CleanField(*f, 7) && UpperCase(*f));
    }

    // A catalogue that held other chips before gives the same result.
    auto reused = std::make_unique<ChipCatalogue>();
    for (ChipRecord& r : reused->records) r = {"STALE", "MTP", "X", "12V", "5V"};
    reused->count = ChipCatalogue::kSlots;
    FUZZ_CHECK(ParseChipList(text, *reused) == count);
    for (size_t i = 0; i < ChipCatalogue::kSlots; ++i) {
        const ChipRecord& a = catalogue->records[i];
        const ChipRecord& b = reused->records[i];
        FUZZ_CHECK(a.name == b.name && a.memoryType == b.memoryType && a.reserved == b.reserved && a.vpp == b.vpp &&
                   a.vdd == b.vdd);
    }

    // In the window: each entry, once chosen, is the chip the program finds
    // and applies.
    HeadlessUi& ui = h.ui;
    AppContext* ctx = &h.ctx;
    ctx->catalogue = *catalogue;
    ctx->catalogue.loaded = true;
    FillChipCombo(*ctx);
    FUZZ_CHECK(ui.ComboCount(id::kChipCombo) == int(count));
    for (int i = 0; i < int(count) && i < 16; ++i) {
        ui.ComboSelect(id::kChipCombo, i);
        unsigned found = FindSelectedChip(*ctx);
        FUZZ_CHECK(found < ChipCatalogue::kSlots);
        FUZZ_CHECK(ctx->catalogue.records[found].name == ui.GetText(id::kChipCombo) ||
                   (found == 0 && ui.GetText(id::kChipCombo).empty()));
        ApplyChipSelection(*ctx);
        const std::string end = ui.GetText(id::kEndAddress);
        FUZZ_CHECK(end.size() == 4);
        // One Vpp and one Vdd choice at most stays checked.
        FUZZ_CHECK(int(ui.IsChecked(id::kVpp12)) + ui.IsChecked(id::kVpp11) + ui.IsChecked(id::kVppVcc) == 1);
        FUZZ_CHECK(int(ui.IsChecked(id::kVdd50)) + ui.IsChecked(id::kVdd33) == 1);
    }
    return 0;
}
