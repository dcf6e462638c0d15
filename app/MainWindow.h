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
// The entry below it that writes today's production report and opens it in the browser.
std::string ReportMenuText();
std::string ReportNotWrittenText(const std::string& path);
std::string GreetingCaption();
std::string GreetingText();
std::string WelcomeText();

// Every control, the chip list and the settings (window creation).
void CreateMainControls(AppContext& ctx);
// Window initialisation after the platform's own: controls, timer at 500 ms,
// welcome text.
void InitMainWindow(AppContext& ctx);

// The window's events, once for every program: the real window forwards its
// messages here, as the in-memory windows do.

// The timer (any id): the first tick starts the programmer search and sets
// the one-second period; later ticks check the link while nothing is busy.
void OnTimerTick(AppContext& ctx);
// MSG_START_SEARCH: the status text, then a search that may show the
// no-adapter box. It runs on the worker's link thread, so the window keeps
// painting through the probes of every port.
void OnStartSearch(AppContext& ctx);

constexpr int kKeyF5 = 0x74;
constexpr int kKeyF7 = 0x76;
// MSG_FUNCTION_KEY: F5 greets, F7 shows the programmer's information.
void OnFunctionKey(AppContext& ctx, int virtualKey);
// MSG_ABORT_REQUEST from a double-click on the status line.
void OnAbortRequest(AppContext& ctx);

// How long a closing window waits for the worker and the link check.
constexpr int kShutdownWaitMs = 3000;
// Destroy: the settings are saved first, then the threads are asked to stop
// and waited for at most kShutdownWaitMs. False when one is still running
// (inside a driver call): the program must end without the context.
bool OnWindowDestroy(AppContext& ctx);

// Shutdown or log-off. Asked first: false while an operation (not a link
// search) runs, and the
// window asks the system to wait, giving this reason.
bool SessionMayEnd(AppContext& ctx);
std::string SessionBlockedText();
// How long an ending session waits for the step under way: the system may
// end the process 5 s after it told the window.
constexpr int kSessionEndWaitMs = 4000;
// The session ends with the window open: the step running finishes and no
// further step starts (the chip counted and recorded as any chip), then
// everything the window's destroy does. False as for OnWindowDestroy.
bool OnSessionEnd(AppContext& ctx);

}  // namespace veldrix
