#include "code/ChipCatalogue.h"

#include <cctype>

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "code/Fields.h"
#include "seams/Files.h"
#include "seams/Platform.h"

namespace veldrix {

namespace {

// Sizes in bytes of the system code page, as the file holds its text.
constexpr size_t kFieldBytes = 15;
constexpr size_t kShortFieldBytes = 7;
constexpr size_t kLineBytes = 127;  // one read of the chip list
const char* const kSeparators = " ,\t;:";

std::string Upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool IsSeparator(char c) { return std::string_view(kSeparators).find(c) != std::string_view::npos; }

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (prefix.size() > text.size()) return false;
    return Upper(text.substr(0, prefix.size())) == Upper(prefix);
}

const ChipRecord& SelectedRecord(AppContext& ctx) {
    return ctx.catalogue.records[FindSelectedChip(ctx) % ChipCatalogue::kSlots];
}

}  // namespace

std::vector<std::string> SplitFields(const std::string& rawLine) {
    // The line ends at its first NUL, as it does in the read buffer: a NUL
    // kept inside a name would cut the entry the chip list shows short of
    // the name the selection is compared with.
    std::string line = rawLine.substr(0, rawLine.find('\0'));
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    std::vector<std::string> fields;
    size_t i = 0;
    while (i < line.size() && IsSeparator(line[i])) ++i;
    while (i < line.size()) {
        size_t start = i;
        while (i < line.size() && !IsSeparator(line[i])) ++i;
        fields.push_back(CutToCodePage(std::string_view(line).substr(start, i - start), kFieldBytes));
        if (i == line.size()) break;
        while (i < line.size() && IsSeparator(line[i])) ++i;
        if (i == line.size()) fields.emplace_back();  // a separator ends the line
    }
    return fields;
}

uint32_t ParseChipList(const std::string& text, ChipCatalogue& catalogue) {
    catalogue.records = {};
    catalogue.count = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        // One read: up to the line end or 127 bytes, whichever comes first; a
        // character the read would cut in two starts the next one.
        size_t nl = text.find('\n', pos);
        size_t lineEnd = nl == std::string::npos ? text.size() : nl + 1;
        std::string piece = CutToCodePage(std::string_view(text).substr(pos, lineEnd - pos), kLineBytes);
        if (piece.empty()) piece = text.substr(pos, 1);
        pos += piece.size();

        std::vector<std::string> f = SplitFields(piece);
        if (f.size() < 6 || f[5] == "4") continue;
        // The table has 256 slots; further chips are not offered.
        if (catalogue.count >= ChipCatalogue::kSlots) continue;
        ChipRecord& r = catalogue.records[catalogue.count++];
        r.name = Upper(f[0]);
        r.memoryType = Upper(CutToCodePage(f[1], kShortFieldBytes));
        r.reserved = Upper(CutToCodePage(f[2], kShortFieldBytes));
        r.vpp = Upper(CutToCodePage(f[3], kShortFieldBytes));
        r.vdd = Upper(CutToCodePage(f[4], kShortFieldBytes));
    }
    return catalogue.count;
}

uint32_t MaxRomAddressForName(const std::string& name) {
    if (name.size() < 7) return 0xFFFF;
    switch (name[6]) {
    case '2': return 0x07FF;
    case '4': return 0x0FFF;
    case '8': return 0x1FFF;
    case '5': return 0x3FFF;
    case '7': return 0x5FFF;
    case '9': return 0x7FFF;
    case 'A': return 0xBFFF;
    default: return 0xFFFF;
    }
}

void LoadChipCatalogue(AppContext& ctx) {
    ctx.catalogue = ChipCatalogue{};
    if (!ctx.settings->CanRead()) {
        ShowBox(ctx, "调入VELDRIX安装注册信息失败!", "VELDRIX");
        return;
    }
    std::optional<std::string> dir = ctx.settings->Read("setup", 260);
    std::string text;
    if (!dir || !ReadFileBytes(JoinPath(*dir, "samlist.txt"), text)) {
        ctx.catalogue.loaded = false;
        ShowBox(ctx, "调入指定安装路径的烧写器芯片列表文件失败!", "警告");
        return;
    }
    ctx.catalogue.loaded = true;
    ParseChipList(FromFileText(text), ctx.catalogue);
}

void FillChipCombo(AppContext& ctx) {
    if (!ctx.catalogue.loaded) {
        ctx.catalogue.records = {};
        ctx.catalogue.records[0].name = "NOSELEC";
        ctx.catalogue.count = 1;
    }
    ctx.ui->ComboClear(id::kChipCombo);
    for (uint32_t i = 0; i < ctx.catalogue.count; ++i) ctx.ui->ComboAdd(id::kChipCombo, ctx.catalogue.records[i].name);
    ctx.ui->ComboSelect(id::kChipCombo, 0);
}

unsigned FindSelectedChip(AppContext& ctx) {
    std::string text = ctx.ui->GetText(id::kChipCombo);
    // With no selection the text is empty; that names no chip.
    if (text.empty()) return 0;
    for (unsigned i = 0; i < ChipCatalogue::kSlots; ++i)
        if (ctx.catalogue.records[i].name == text) return i;
    return 0;
}

uint32_t ChipMaxRomAddress(AppContext& ctx) { return MaxRomAddressForName(SelectedRecord(ctx).name); }

int FindChipEntryByPrefix(AppContext& ctx, const std::string& prefix) {
    Ui& ui = *ctx.ui;
    int n = ui.ComboCount(id::kChipCombo);
    auto search = [&](const std::string& p) {
        for (int k = 1; k <= n; ++k) {
            int i = k % n;  // after the first entry, wrapping round to it
            if (StartsWithNoCase(ui.ComboEntry(id::kChipCombo, i), p)) return i;
        }
        return -1;
    };
    if (n == 0) return -1;
    int found = search(prefix);
    if (found < 0) found = search("NOSELEC");
    return found < 0 ? 0 : found;
}

void ApplyChipTypeDefaults(AppContext& ctx, ChipType type) {
    Ui& ui = *ctx.ui;
    ui.SetChecked(id::kAutoVerify, true);
    ui.SetChecked(id::kAutoReadProtect, true);
    if (type == ChipType::Otp) {
        for (int c : {id::kAutoHwProtect, id::kEnableSmart, id::kEraseMtp, id::kHwProtect}) ui.SetEnabled(c, false);
        ui.SetChecked(id::kAutoBlankCheck, true);
    } else {
        for (int c : {id::kAutoLdc, id::kAutoHwProtect, id::kEnableSmart, id::kEraseMtp, id::kHwProtect})
            ui.SetEnabled(c, true);
        ui.SetChecked(id::kEnableSmart, true);
        for (int c : {id::kAutoLdc, id::kAutoHwProtect, id::kAutoBlankCheck}) ui.SetChecked(c, false);
    }
}

void ApplyChipSelection(AppContext& ctx) {
    Ui& ui = *ctx.ui;
    unsigned index = FindSelectedChip(ctx);
    if (index == 0 || index >= ctx.catalogue.count || !ctx.catalogue.loaded) {
        ui.SetEnabled(id::kOtp, true);
        ui.SetEnabled(id::kMtp, true);
        ui.SetChecked(id::kMtp, true);
        ui.SetChecked(id::kOtp, false);
        ApplyChipTypeDefaults(ctx, ChipType::Mtp);
        for (int c : {id::kVpp12, id::kVpp11, id::kVppVcc, id::kVdd50, id::kVdd33}) ui.SetEnabled(c, true);
        for (int c : {id::kVpp11, id::kVppVcc, id::kVdd33}) ui.SetChecked(c, false);
        ui.SetChecked(id::kVpp12, true);
        ui.SetChecked(id::kVdd50, true);
        ui.SetText(id::kVppField, "12.0");
        ui.SetText(id::kVddField, "5.0");
        ui.SetText(id::kEndAddress, "0FFF");
        return;
    }
    const ChipRecord& chip = ctx.catalogue.records[index];

    ChipType type = chip.memoryType == "MTP" ? ChipType::Mtp : ChipType::Otp;
    int own = type == ChipType::Mtp ? id::kMtp : id::kOtp;
    int other = type == ChipType::Mtp ? id::kOtp : id::kMtp;
    ui.SetChecked(own, true);
    ui.SetChecked(other, false);
    ui.SetEnabled(own, true);
    ui.SetEnabled(other, false);
    ApplyChipTypeDefaults(ctx, type);

    int vpp = chip.vpp == "12V" ? id::kVpp12 : chip.vpp == "11V" ? id::kVpp11 : id::kVppVcc;
    for (int c : {id::kVpp12, id::kVpp11, id::kVppVcc}) {
        ui.SetChecked(c, c == vpp);
        ui.SetEnabled(c, c == vpp);
    }
    ui.SetText(id::kVppField, vpp == id::kVpp12 ? "12.0" : vpp == id::kVpp11 ? "11.0" : "VCC");

    ui.SetChecked(id::kVdd50, false);
    ui.SetChecked(id::kVdd33, false);
    ui.SetEnabled(id::kVdd50, false);
    ui.SetEnabled(id::kVdd33, true);
    if (chip.vdd == "5V") {
        ui.SetChecked(id::kVdd50, true);
        ui.SetEnabled(id::kVdd50, true);
        ui.SetText(id::kVddField, "5.0");
    } else {
        ui.SetChecked(id::kVdd33, true);
        ui.SetText(id::kVddField, "3.3");
    }

    ui.SetText(id::kEndAddress, Hex(MaxRomAddressForName(chip.name), 4));
}

void OnChipTypeClicked(AppContext& ctx, ChipType type) {
    Ui& ui = *ctx.ui;
    for (int c : {id::kAutoLdc, id::kAutoHwProtect, id::kEnableSmart, id::kEraseMtp, id::kHwProtect, id::kLdcProtect,
                  id::kVdd33, id::kVppVcc})
        ui.SetEnabled(c, false);
    ui.SetEnabled(id::kVpp12, true);
    if (type == ChipType::Otp) {
        ui.SetChecked(id::kVdd50, true);
        ui.SetChecked(id::kVdd33, false);
        ui.SetText(id::kVddField, "5.0");
        ui.SetChecked(id::kVpp12, true);
        ui.SetChecked(id::kVppVcc, false);
        ui.SetText(id::kVppField, "12.0");
    } else {
        for (int c : {id::kAutoLdc, id::kAutoHwProtect, id::kEnableSmart, id::kAutoIdIncrement, id::kEraseMtp,
                      id::kHwProtect, id::kLdcProtect, id::kVdd33, id::kVppVcc})
            ui.SetEnabled(c, true);
    }
}

void OnVoltageClicked(AppContext& ctx, int controlId) {
    Ui& ui = *ctx.ui;
    switch (controlId) {
    case id::kVpp12: ui.SetText(id::kVppField, "12.0"); break;
    case id::kVpp11: ui.SetText(id::kVppField, "11.0"); break;
    case id::kVppVcc: ui.SetText(id::kVppField, "VCC"); break;
    case id::kVdd50: ui.SetText(id::kVddField, "5.0"); break;
    case id::kVdd33: ui.SetText(id::kVddField, "3.3"); break;
    default: break;
    }
}

}  // namespace veldrix
