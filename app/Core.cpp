#include "app/Core.h"

#include "app/Dispatch.h"

namespace veldrix {

Core::Core(Ui& ui, Clock& clock, SettingsStore& settings, Port& port, PortDirectory& ports, Worker::Mode mode,
           CoreStores stores)
    : ctx(ui, clock, settings, port, ports), worker(ctx, mode) {
    ctx.worker = &worker;
    ctx.dispatch = DispatchOperation;
    ctx.records = stores.records;
    ctx.downloads = stores.downloads;
    ctx.recordsClock = stores.recordsClock;
    ctx.recordsPortNote = std::move(stores.recordsPortNote);
    ctx.progress = std::move(stores.progress);
}

Core::~Core() {
    worker.Shutdown(1000);
    ctx.worker = nullptr;
}

}  // namespace veldrix
