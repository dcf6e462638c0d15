// veldrix.exe: one modal main window; the program ends when it closes.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <memory>
#include <optional>
#include <thread>

#include "app/Core.h"
#include "app/MainWindow.h"
#include "code/DownloadMemo.h"
#include "link/TracingPort.h"
#include "platform/odbc/Odbc.h"
#include "platform/odbc/OdbcRecords.h"
#include "platform/odbc/RecordsFactory.h"
#include "platform/odbc/OdbcSource.h"
#include "report/FolderSource.h"
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
    CoreStores stores;
    std::unique_ptr<ProductionRecords> records;
    std::unique_ptr<RecordSource> reportSource;
    std::string recordsFolder;
    std::thread opening;
    const std::string stateFolder = ProgramStateFolder();
    if (std::optional<std::string> odbcValue = settings.ReadMachineOnly("records_odbc");
        odbcValue && !odbcValue->empty()) {
        // A line's database, named by the administrator in the machine key only.
        const std::string connection = odbc::ConnectionOf(*odbcValue), name = odbc::SourceName(*odbcValue);
        BuiltRecords built =
            MakeRecords({connection, name, "", stateFolder, ComputerName(), VELDRIX_VERSION}, false);
        // Tables and the records of runs that are gone, off the window's
        // thread: a server that does not answer takes seconds to say so.
        opening = std::thread([store = built.server] { store->Open(); });
        reportSource = std::make_unique<OdbcSource>(connection, name);
        records = std::move(built.store);
    } else if (std::string folder = RecordsFolderPath(settings); !folder.empty()) {
        records = MakeRecords({"", "", folder, stateFolder, ComputerName(), VELDRIX_VERSION}).store;
        reportSource = std::make_unique<FolderSource>(folder);
        recordsFolder = folder;
    }
    stores.records = records.get();
    std::unique_ptr<DownloadMemo> downloads;
    if (!stateFolder.empty()) {
        downloads = std::make_unique<DownloadMemo>(JoinPath(stateFolder, "downloads"));
        stores.downloads = downloads.get();
    }
    // With `trace_dir` set, every port call and byte goes into a file a day and port there.
    std::unique_ptr<TracingPort> tracing;
    Port* line = &port;
    if (std::optional<std::string> traceDir = settings.Read("trace_dir", 4096); traceDir && !traceDir->empty()) {
        tracing = std::make_unique<TracingPort>(port, clock, TraceFile::Daily(*traceDir, clock));
        line = tracing.get();
    }
    Core core(ui, clock, settings, *line, ports, Worker::Mode::Threads, stores);

    MainDialog window(core.ctx, ui);
    if (!recordsFolder.empty())
        window.hooks.openRecords = [&window, folder = recordsFolder] {
            if (!OpenInFileManager(folder))
                MessageBoxW(window.Handle(), Widen(RecordsNotOpenedText(folder)).c_str(), Widen("错误").c_str(),
                            MB_OK | MB_ICONERROR);
        };
    if (reportSource && !(stateFolder.empty() && recordsFolder.empty()))
        window.hooks.openReport = [&window, &clock, &reportSource, folder = recordsFolder, stateFolder] {
            // Beside the settings, not in a records folder other PCs may share.
            const std::string into = JoinPath(stateFolder.empty() ? folder : stateFolder, "reports");
            std::string path;
            if (!WriteTodayReport(*reportSource, into, clock.LocalNow(), path) || !OpenInBrowser(path))
                MessageBoxW(window.Handle(), Widen(ReportNotWrittenText(path)).c_str(), Widen("错误").c_str(),
                            MB_OK | MB_ICONERROR);
        };
    window.Run();
    // A thread still inside a driver call must not outlive what it uses: end
    // the process before the context goes (the settings and records are
    // stored already). ExitProcess would run the DLLs' detach code beside it.
    if (!window.ThreadsEnded()) TerminateProcess(GetCurrentProcess(), 0);
    if (opening.joinable()) opening.join();

    CoUninitialize();
    return 0;
}
