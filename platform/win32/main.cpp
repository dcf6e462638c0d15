// veldrix.exe: one modal main window; the program ends when it closes.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <memory>

#include "app/Core.h"
#include "app/MainWindow.h"
#include "code/DownloadMemo.h"
#include "code/RecordFolder.h"
#include "seams/Platform.h"
#include "platform/win32/MainDialog.h"
#include "platform/win32/RealClock.h"
#include "platform/win32/RecordsFolder.h"
#include "platform/win32/TodayReport.h"
#include "platform/win32/RegistryPortDirectory.h"
#include "platform/win32/RegistrySettings.h"
#include "platform/win32/SerialPort.h"
#include "platform/win32/Text.h"
#include "platform/win32/Win32Ui.h"

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
    // Read once here: the ID codes of good chips, for the whole run.
    CoreStores stores;
    std::unique_ptr<RecordFolder> records;
    const std::string stateFolder = ProgramStateFolder();
    if (std::string folder = RecordsFolderPath(settings); !folder.empty()) {
        records = std::make_unique<RecordFolder>(folder, stateFolder);
        records->Load();
        stores.records = records.get();
    }
    std::unique_ptr<DownloadMemo> downloads;
    if (!stateFolder.empty()) {
        downloads = std::make_unique<DownloadMemo>(JoinPath(stateFolder, "downloads"));
        stores.downloads = downloads.get();
    }
    Core core(ui, clock, settings, port, ports, Worker::Mode::Threads, stores);

    MainDialog window(core.ctx, ui);
    if (records)
        window.hooks.openRecords = [&window, folder = records->Folder()] {
            if (!OpenInFileManager(folder))
                MessageBoxW(window.Handle(), Widen(RecordsNotOpenedText(folder)).c_str(), Widen("错误").c_str(),
                            MB_OK | MB_ICONERROR);
        };
    if (records)
        window.hooks.openReport = [&window, &clock, folder = records->Folder(), stateFolder] {
            // Beside the settings, not in a records folder other PCs may share.
            const std::string into = JoinPath(stateFolder.empty() ? folder : stateFolder, "reports");
            std::string path;
            if (!WriteTodayReport(folder, into, clock.LocalNow(), path) || !OpenInBrowser(path))
                MessageBoxW(window.Handle(), Widen(ReportNotWrittenText(path)).c_str(), Widen("错误").c_str(),
                            MB_OK | MB_ICONERROR);
        };
    window.Run();
    // A thread still inside a driver call must not outlive what it uses: end
    // the process before the context goes (the settings and records are
    // stored already). ExitProcess would run the DLLs' detach code beside it.
    if (!window.ThreadsEnded()) TerminateProcess(GetCurrentProcess(), 0);

    CoUninitialize();
    return 0;
}
