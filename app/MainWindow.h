#pragma once
// Building and initialising the main window.
#include <string>

#include "state/ControlIds.h"  // kLinkTimerId

namespace veldrix {

struct AppContext;

// The maker's texts; the address is kept scrambled and opened only on a click.
std::string MakerWebAddress();
std::string WindowCaption();
std::string AboutMenuText();
std::string AboutCaption();
std::string AboutText();
// The system-menu entry beside About that opens the production records' folder.
std::string RecordsMenuText();
std::string RecordsNotOpenedText(const std::string& folder);
std::string GreetingCaption();
std::string GreetingText();
std::string WelcomeText();

// Every control, the chip list and the settings (window creation).
void CreateMainControls(AppContext& ctx);
// Window initialisation after the platform's own: controls, timer at 500 ms,
// welcome text.
void InitMainWindow(AppContext& ctx);

constexpr int kKeyF5 = 0x74;
constexpr int kKeyF7 = 0x76;
// MSG_FUNCTION_KEY: F5 greets, F7 shows the programmer's information.
void OnFunctionKey(AppContext& ctx, int virtualKey);
// MSG_ABORT_REQUEST from a double-click on the status line.
void OnAbortRequest(AppContext& ctx);
// Destroy: the settings are saved first, then the threads are stopped.
void OnWindowDestroy(AppContext& ctx);

}  // namespace veldrix
