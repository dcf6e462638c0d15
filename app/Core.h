#pragma once
// The program's core, wired in one place for every program (the window, the
// headless runner, the command line, the benchmarks, the tests): the context
// on the platform's seams, the worker that runs its operations, the table of
// operations, and where records, downloads and progress go.
#include <string>

#include "link/Worker.h"
#include "state/AppContext.h"

namespace veldrix {

// What a program keeps beside the core; none of it is owned by the core.
struct CoreStores {
    ProductionRecords* records = nullptr;  // none: no records kept
    DownloadMemo* downloads = nullptr;     // none: every download is forgotten
    // The records' wall clock and port note (simulated units on virtual
    // time record the real time); null: the core's clock.
    Clock* recordsClock = nullptr;
    std::string recordsPortNote;
    ProgressSink progress;  // the operations' progress as numbers, if wanted
};

class Core {
public:
    Core(Ui& ui, Clock& clock, SettingsStore& settings, Port& port, PortDirectory& ports, Worker::Mode mode,
         CoreStores stores = {});
    // The threads are stopped (briefly waited for) before the context goes.
    ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    AppContext ctx;
    Worker worker;
};

}  // namespace veldrix
