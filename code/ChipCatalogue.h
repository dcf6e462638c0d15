#pragma once
// The chips the program knows, from samlist.txt in the installation directory.
#include <cstdint>
#include <string>
#include <vector>

#include "state/ChipRecord.h"

namespace veldrix {

struct AppContext;

// The fields of one line of the chip list, each kept to 15 bytes of the
// system code page.
std::vector<std::string> SplitFields(const std::string& line);
// Parses the whole chip list, as text read from the file's code page, into the
// catalogue; returns the count.
uint32_t ParseChipList(const std::string& text, ChipCatalogue& catalogue);
uint32_t MaxRomAddressForName(const std::string& name);

void LoadChipCatalogue(AppContext& ctx);
// Fills the chip drop-down list from the catalogue and selects the first entry.
void FillChipCombo(AppContext& ctx);
unsigned FindSelectedChip(AppContext& ctx);
uint32_t ChipMaxRomAddress(AppContext& ctx);
void ApplyChipSelection(AppContext& ctx);
void ApplyChipTypeDefaults(AppContext& ctx, ChipType type);
void OnChipTypeClicked(AppContext& ctx, ChipType type);
// The Vpp and Vdd radio clicks (30001, 113, 112, 116, 117).
void OnVoltageClicked(AppContext& ctx, int controlId);
// Prefix search of the chip list used by the settings and the project file:
// first entry after entry 0 beginning with prefix (case-insensitive), wrapping
// round to entry 0; falls back to "NOSELEC", then to entry 0.
int FindChipEntryByPrefix(AppContext& ctx, const std::string& prefix);

}  // namespace veldrix
