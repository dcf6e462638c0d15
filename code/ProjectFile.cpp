#include "code/ProjectFile.h"

#include <cctype>
#include <initializer_list>
#include <string_view>

#include "state/AppContext.h"
#include "code/ChipCatalogue.h"
#include "state/ControlIds.h"
#include "code/TextLines.h"
#include "seams/Files.h"

namespace veldrix {

int SelectedSpeed(AppContext& ctx) {
    if (ctx.ui->IsChecked(id::kSpeedFull)) return 1;
    if (ctx.ui->IsChecked(id::kSpeedMedium)) return 2;
    if (ctx.ui->IsChecked(id::kSpeedLow)) return 3;
    return 1;
}

namespace {

constexpr std::string_view kMagic = "THIS-IS-VDX-PROJECT-FILE";
constexpr size_t kLineChars = 511;   // a 512-byte line buffer
constexpr size_t kFieldChars = 128;  // what a field takes from a value

// The seven automatic steps, by digit position 1 to 7 of "Auto=".
constexpr int kAutoBoxes[7] = {id::kAutoIdIncrement, id::kAutoHwProtect, id::kAutoLdc, id::kAutoBlankCheck,
                               id::kEnableSmart, id::kAutoReadProtect, id::kAutoVerify};

// Field text as the file stores it, cut to a fixed buffer.
std::string FieldForFile(AppContext& ctx, int id, size_t maxBytes) {
    std::string text = ToFileText(ctx.ui->GetText(id));
    if (text.size() > maxBytes) text.resize(maxBytes);
    return text;
}

bool CheckedAndEnabled(AppContext& ctx, int id) { return ctx.ui->IsEnabled(id) && ctx.ui->IsChecked(id); }

bool EndsWithPvx(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".pvx";
}

std::string BuildProjectText(AppContext& ctx, const std::string& codeFile) {
    Ui& ui = *ctx.ui;
    auto bit = [&](bool on) { return on ? '1' : '0'; };
    std::string text;
    auto line = [&](std::string_view key, std::string_view value) {
        text.append(key).append(value).append("\r\n");
    };
    text.append(kMagic).append("\r\n");
    line("File=", codeFile);
    unsigned chip = FindSelectedChip(ctx);
    line("Chip=", chip < ctx.catalogue.records.size() ? ToFileText(ctx.catalogue.records[chip].name) : "");
    line("Mode=", std::string(1, bit(ui.IsChecked(id::kDebugMode))));
    line("Txsp=", std::string(1, char('0' + SelectedSpeed(ctx))));
    line("Buzz=", std::string(1, bit(ui.IsChecked(id::kBuzzer))));
    // Neither type checked is recorded as MTP, the type of the no-chip defaults.
    line("Type=", ui.IsChecked(id::kOtp) ? "0" : "1");
    char vpp = CheckedAndEnabled(ctx, id::kVppVcc) ? '0' : CheckedAndEnabled(ctx, id::kVpp12) ? '1' : '2';
    line("Vpps=", std::string(1, vpp));
    line("Vdds=", CheckedAndEnabled(ctx, id::kVdd50) ? "0" : "1");
    std::string autoBits = "0";
    for (int box : kAutoBoxes) autoBits += bit(CheckedAndEnabled(ctx, box));
    line("Auto=", autoBits);
    line("Lcts=", FieldForFile(ctx, id::kSuccessCount, 7));
    line("Lctf=", FieldForFile(ctx, id::kFailureCount, 7));
    line("Fcts=", FieldForFile(ctx, id::kCounterCurrent, 7));
    line("Fcte=", FieldForFile(ctx, id::kCounterEnd, 7));
    line("Incr=", FieldForFile(ctx, id::kIdAddress, 4));
    return text;
}

// The value up to its line end, as a field shows it.
std::string FieldValue(std::string_view value) {
    size_t end = value.find_first_of("\r\n");
    if (end != std::string_view::npos) value = value.substr(0, end);
    if (value.size() > kFieldChars) value = value.substr(0, kFieldChars);
    return FromFileText(value);
}

void CheckOne(AppContext& ctx, std::initializer_list<int> group, int chosen) {
    for (int id : group) ctx.ui->SetChecked(id, false);
    ctx.ui->SetChecked(chosen, true);
}

void SelectChip(AppContext& ctx, std::string_view value) {
    // The value keeps its line end, so a name shorter than seven characters
    // matches nothing and the fallback "NOSELEC" is chosen.
    std::string prefix(value.substr(0, 7));
    for (char& c : prefix) c = char(std::toupper(static_cast<unsigned char>(c)));
    int entry = FindChipEntryByPrefix(ctx, FromFileText(prefix));
    if (entry >= 0) ctx.ui->ComboSelect(id::kChipCombo, entry);
    ApplyChipSelection(ctx);
}

void ApplyLine(AppContext& ctx, std::string_view line) {
    if (line.size() < 5) return;
    std::string_view key = line.substr(0, 5), value = line.substr(5);
    // An empty value reads as the terminator of the line buffer.
    char first = value.empty() ? '\0' : value[0];
    Ui& ui = *ctx.ui;
    if (key == "File=") {
        ui.SetText(id::kCodeFile, FieldValue(value));
    } else if (key == "Chip=") {
        SelectChip(ctx, value);
    } else if (key == "Mode=") {
        ui.SetChecked(id::kDebugMode, first != '0');
    } else if (key == "Txsp=") {
        CheckOne(ctx, {id::kSpeedFull, id::kSpeedMedium, id::kSpeedLow},
                 first == '1' ? id::kSpeedFull : first == '2' ? id::kSpeedMedium : id::kSpeedLow);
    } else if (key == "Buzz=") {
        ui.SetChecked(id::kBuzzer, first != '0');
    } else if (key == "Type=") {
        CheckOne(ctx, {id::kOtp, id::kMtp}, first == '0' ? id::kOtp : id::kMtp);
    } else if (key == "Vpps=") {
        CheckOne(ctx, {id::kVppVcc, id::kVpp12, id::kVpp11},
                 first == '0' ? id::kVppVcc : first == '1' ? id::kVpp12 : id::kVpp11);
    } else if (key == "Vdds=") {
        CheckOne(ctx, {id::kVdd50, id::kVdd33}, first == '0' ? id::kVdd50 : id::kVdd33);
    } else if (key == "Auto=") {
        for (size_t i = 0; i < 7; ++i) {
            size_t pos = i + 1;  // position 0 is the unused bit 7
            ui.SetChecked(kAutoBoxes[i], pos < value.size() && value[pos] == '1');
        }
    } else if (key == "Lcts=") {
        ui.SetText(id::kSuccessCount, FieldValue(value));
    } else if (key == "Lctf=") {
        ui.SetText(id::kFailureCount, FieldValue(value));
    } else if (key == "Fcts=") {
        ui.SetText(id::kCounterCurrent, FieldValue(value));
    } else if (key == "Fcte=") {
        ui.SetText(id::kCounterEnd, FieldValue(value));
    } else if (key == "Incr=") {
        ui.SetText(id::kIdAddress, FieldValue(value));
    }
}

}  // namespace

void SaveProject(AppContext& ctx) {
    ctx.LinkErrorFlag = 0;
    std::string codeFile = FieldForFile(ctx, id::kCodeFile, 511);
    if (codeFile.empty()) {
        ctx.LinkErrorFlag = 1;
        SetStatus(ctx, "请指定一个代码文件");
        return;
    }
    auto chosen = ctx.ui->SaveFileDialog({{"工程文件(*.pvx)", "*.pvx"}});
    if (!chosen) return;
    std::string name = *chosen;
    if (!EndsWithPvx(name)) name += ".pvx";

    if (!WriteFileReplacing(name, BuildProjectText(ctx, codeFile))) {
        SetStatus(ctx, "保存文件错误!");
        return;
    }
    ctx.LinkErrorFlag = 0;
    SetStatus(ctx, "工程文件已保存在: " + name);
}

bool LoadProject(AppContext& ctx, const std::string& path) {
    std::string data;
    if (!ReadFileBytes(path, data)) {
        ctx.LinkErrorFlag = 1;
        SetStatus(ctx, "打开文件错误,操作失败");
        return false;
    }
    TextLineReader reader(data, kLineChars);
    TextPiece piece;
    if (!reader.Next(piece) || !piece.text.starts_with(kMagic)) {
        ctx.LinkErrorFlag = 1;
        SetStatus(ctx, "无法识别的文件,操作中止");
        return false;
    }
    std::string line;
    while (reader.Next(piece)) {
        line.assign(piece.text);
        if (piece.lineEnd) line += '\n';
        ApplyLine(ctx, line);
    }
    const std::string named = ctx.ui->GetText(id::kCodeFile);
    if (std::string found = ProjectRelative(path, named); found != named) ctx.ui->SetText(id::kCodeFile, found);
    return true;
}

std::string ProjectRelative(const std::string& projectPath, const std::string& codeFile) {
    const bool absolute = codeFile.empty() || codeFile[0] == '/' || codeFile[0] == '\\' ||
                          (codeFile.size() > 1 && codeFile[1] == ':');
    const size_t slash = projectPath.find_last_of("/\\");
    if (absolute || slash == std::string::npos) return codeFile;
    const std::string beside = projectPath.substr(0, slash + 1) + codeFile;
    return FileReadProblem(beside).empty() ? beside : codeFile;
}

}  // namespace veldrix
