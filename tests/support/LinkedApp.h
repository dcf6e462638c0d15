#pragma once
// The application core on the headless window, wired to the in-process
// simulated programmer on virtual time through a recording port. The test
// thread takes part in the virtual time for the fixture's lifetime.
#include <memory>

#include "app/Core.h"
#include "state/AppContext.h"
#include "app/CommandHandler.h"
#include "app/ControlTable.h"
#include "app/MainWindow.h"
#include "link/Worker.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/MemorySettings.h"
#include "sim/InProcessProgrammer.h"
#include "tests/support/RecordingPort.h"

namespace veldrix::test {

struct LinkedApp {
    sim::VirtualTime time;
    sim::VirtualTime::Participation part{time};
    sim::InProcessProgrammer prog{time};
    HeadlessUi ui;
    MemorySettings settings;
    RecordingPort port{prog.port, time};
    Core core{ui, time, settings, port, prog.adapters, Worker::Mode::Inline};
    AppContext& ctx = core.ctx;
    Worker& worker = core.worker;

    LinkedApp() {
        settings.values["setup"] = VELDRIX_SOURCE_DIR "/resources";
    }

    // Window creation and the first timer tick (the programmer search).
    void Start() {
        InitMainWindow(ctx);
        OnTimerTick(ctx);
    }
    void Tick(int n = 1) {
        for (int i = 0; i < n; ++i) {
            time.Sleep(1000);
            OnTimerTick(ctx);
        }
    }
    // A click as on screen: check boxes and radios change first.
    void Click(int id) {
        if (ui.ApplyClick(id)) OnMainCommand(ctx, id, FindControl(id)->parent);
    }
    std::string Status() { return ui.GetText(157); }
    size_t BoxCount() { return ui.Boxes().size(); }
};

}  // namespace veldrix::test
