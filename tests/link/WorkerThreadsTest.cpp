#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/Core.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "app/MainWindow.h"
#include "link/Worker.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/MemorySettings.h"
#include "sim/InProcessProgrammer.h"

namespace veldrix {
namespace {

// The worker and the link monitor on real threads, as the window uses them;
// the test thread plays the window thread and never takes part in the
// virtual time itself.
struct ThreadedApp {
    sim::VirtualTime time;
    sim::InProcessProgrammer prog{time};
    HeadlessUi ui;
    MemorySettings settings;
    Core core{ui, time, settings, prog.port, prog.adapters, Worker::Mode::Threads};
    AppContext& ctx = core.ctx;
    Worker& worker = core.worker;

    ThreadedApp() {
        settings.values["setup"] = VELDRIX_SOURCE_DIR "/resources";
    }
    // Waits in real time (the threads run on virtual time, so this is short).
    bool WaitIdle(int ms = 5000) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (worker.OperationRunning() || worker.MonitorRunning()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
};

TEST(WorkerThreads, SearchRunsOffTheWindowThreadAndConnects) {
    ThreadedApp app;
    InitMainWindow(app.ctx);
    OnTimerTick(app.ctx);
    ASSERT_TRUE(app.WaitIdle());
    EXPECT_EQ(app.ui.GetText(id::kStatusLine), "OK, 已检测到 VELDRIX 连接在端口 USB TO COM1");
    EXPECT_EQ(app.ctx.BusyFlag, 0);
}

TEST(WorkerThreads, ASecondStartWhileOneRunsIsRefused) {
    ThreadedApp app;
    InitMainWindow(app.ctx);
    OnTimerTick(app.ctx);
    ASSERT_TRUE(app.WaitIdle());
    size_t boxes = app.ui.Boxes().size();
    EXPECT_TRUE(app.worker.StartOperation(37));
    EXPECT_FALSE(app.worker.StartOperation(37));
    ASSERT_TRUE(app.WaitIdle());
    EXPECT_EQ(app.ui.Boxes().size(), boxes + 1);  // one information box, not two
    EXPECT_EQ(app.ctx.BusyFlag, 0);
    EXPECT_FALSE(app.ui.Locked(id::kSetPassword));
    // Ticks while idle run the link check, which finds the adapter still there.
    OnTimerTick(app.ctx);
    ASSERT_TRUE(app.WaitIdle());
    EXPECT_EQ(app.ctx.ConnectedFlag, 1);
}

TEST(WorkerThreads, ClosingDuringAnOperationStopsItPromptly) {
    ThreadedApp app;
    InitMainWindow(app.ctx);
    OnTimerTick(app.ctx);
    ASSERT_TRUE(app.WaitIdle());
    // A unit that stops answering: the information read would try for seconds.
    {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.powered = false;
    }
    EXPECT_TRUE(app.worker.StartOperation(37));
    const uint64_t start = app.time.NowMicros();
    EXPECT_TRUE(app.worker.Shutdown(5000));  // within its bound
    // Stopped at its next pause, long before its 100 tries of 30 ms would end.
    EXPECT_LT(app.time.NowMicros() - start, 3'000'000u);
    EXPECT_FALSE(app.worker.OperationRunning());
}

}  // namespace
}  // namespace veldrix
