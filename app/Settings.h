#pragma once
// The choices that survive from one run to the next.

namespace veldrix {

struct AppContext;

// Remembered port, chip, debug mode and speed; called while the window is
// built, after the chip list was filled.
void LoadSettings(AppContext& ctx);
// Called when the main window is destroyed.
void SaveSettings(AppContext& ctx);

}  // namespace veldrix
