#pragma once
// Building and initialising the main window.
#include <string>

namespace veldrix {

struct AppContext;

constexpr int kLinkTimerId = 501;

// The maker's texts; the address is kept scrambled and opened only on a click.
std::string MakerWebAddress();
std::string WindowCaption();
std::string AboutMenuText();
std::string AboutCaption();
std::string AboutText();
std::string GreetingCaption();
std::string GreetingText();
std::string WelcomeText();

// Every control, the chip list and the settings (window creation).
void CreateMainControls(AppContext& ctx);
// Window initialisation after the platform's own: controls, timer at 500 ms,
// welcome text.
void InitMainWindow(AppContext& ctx);

}  // namespace veldrix
