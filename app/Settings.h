#pragma once
// The choices that survive from one run to the next.

namespace veldrix {

struct AppContext;

// Remembered port, chip, debug mode and speed; called while the window is
// built, after the chip list was filled.
void LoadSettings(AppContext& ctx);
// Called when the main window is destroyed.
void SaveSettings(AppContext& ctx);
// 1 full, 2 medium, 3 low speed; 1 when none is checked.
int SelectedSpeed(AppContext& ctx);

}  // namespace veldrix
