// veldrix.exe: one modal main window; the program ends when it closes.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "app/AppContext.h"
#include "app/ControlIds.h"
#include "platform/win32/MainDialog.h"
#include "platform/win32/RealClock.h"
#include "platform/win32/RegistryPortDirectory.h"
#include "platform/win32/RegistrySettings.h"
#include "platform/win32/SerialPort.h"
#include "platform/win32/Win32Ui.h"

#if __has_include("app/CommandHandler.h")
#include "app/CommandHandler.h"
#define VELDRIX_HAS_COMMAND_HANDLER 1
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace veldrix;
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    // The shell's "open" of the maker's page wants an apartment on this thread.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    Win32Ui ui;
    RealClock clock;
    RegistrySettings settings;
    SerialPort port;
    RegistryPortDirectory ports;
    AppContext ctx(ui, clock, settings, port, ports);

    MainDialog window(ctx, ui);
#ifdef VELDRIX_HAS_COMMAND_HANDLER
    window.hooks.onCommand = [&ctx](int id, int parentId) { OnMainCommand(ctx, id, parentId); };
#endif
    window.Run();

    CoUninitialize();
    return 0;
}
