#pragma once
// The production sequence of "自动编程": every enabled step in its fixed
// order, the counts, the ID code and the buzzer.

namespace veldrix {

struct AppContext;

// Questions about switched-off automatic options (worker thread); false to abort.
bool AutoOptionWarnings(AppContext& ctx);

// op::kAutoProgram; debug mode streams the code and checks the chip's sum instead
// of programming from and verifying against programmer memory.
void RunAutoSequence(AppContext& ctx);
// op::kWriteIdCode: the three bytes of idValue at idAddress; result in LinkErrorFlag.
void WriteIdCode(AppContext& ctx);

// AutoRunMarker while a sequence runs. A session that would not open, a worker
// without a programmer, a port search, a broken download stream or a direct
// programming that could not start zero it: a chip that never got its
// command is not counted against. Every verdict the unit gave is counted.
constexpr int kAutoRunMarkerRunning = 30;

// The status (and the record's) of a chip the window's close cut short.
extern const char* const kTextWindowClosed;

}  // namespace veldrix
