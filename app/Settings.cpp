#include "app/Settings.h"

#include <cctype>

#include "state/AppContext.h"
#include "code/ChipCatalogue.h"
#include "state/ControlIds.h"

namespace veldrix {

namespace {
// Read buffers: "com" 8 bytes, "chip" a whole name slot, the flags 2 bytes.
constexpr size_t kPortBytes = 8;
constexpr size_t kChipBytes = 16;
constexpr size_t kFlagBytes = 2;
}  // namespace

void LoadSettings(AppContext& ctx) {
    SettingsStore& store = *ctx.settings;
    Ui& ui = *ctx.ui;
    if (!store.CanRead()) return;

    ctx.rememberedPort = store.Read("com", kPortBytes).value_or("COM1");

    std::string chip = store.Read("chip", kChipBytes).value_or("NOSELEC");
    for (char& c : chip) c = char(std::toupper(static_cast<unsigned char>(c)));
    int entry = FindChipEntryByPrefix(ctx, chip);
    if (entry >= 0) ui.ComboSelect(id::kChipCombo, entry);

    ui.SetChecked(id::kDebugMode, store.Read("mode", kFlagBytes).value_or("") == "1");

    std::string speed = store.Read("tx_set", kFlagBytes).value_or("");
    ui.SetChecked(id::kSpeedFull, speed != "3" && speed != "2");
    ui.SetChecked(id::kSpeedMedium, speed == "2");
    ui.SetChecked(id::kSpeedLow, speed == "3");
}

void SaveSettings(AppContext& ctx) {
    SettingsStore& store = *ctx.settings;
    Ui& ui = *ctx.ui;
    // A failed save loses this run's changes, silently.
    if (!store.Write("com", ctx.rememberedPort.Get().substr(0, kPortBytes))) return;
    store.Write("chip", ctx.catalogue.records[FindSelectedChip(ctx) % ChipCatalogue::kSlots].name);
    store.Write("tx_set", ui.IsChecked(id::kSpeedFull) ? "1" : ui.IsChecked(id::kSpeedMedium) ? "2" : "3");
    store.Write("mode", ui.IsChecked(id::kDebugMode) ? "1" : "0");
}

}  // namespace veldrix
