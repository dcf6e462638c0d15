#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/CommandHandler.h"
#include "app/ControlTable.h"
#include "app/Core.h"
#include "code/ChipCatalogue.h"
#include "link/Session.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "app/MainWindow.h"
#include "link/Worker.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/MemorySettings.h"
#include "sim/InProcessProgrammer.h"
#include "state/OpCodes.h"

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
    EXPECT_TRUE(app.worker.StartOperation(op::kInfo));
    EXPECT_FALSE(app.worker.StartOperation(op::kInfo));
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
    EXPECT_TRUE(app.worker.StartOperation(op::kInfo));
    const uint64_t start = app.time.NowMicros();
    EXPECT_TRUE(app.worker.Shutdown(5000));  // within its bound
    // Stopped at its next pause, long before its 100 tries of 30 ms would end.
    EXPECT_LT(app.time.NowMicros() - start, 3'000'000u);
    EXPECT_FALSE(app.worker.OperationRunning());
}

// Shutdown or log-off during an automatic run: the step under way finishes,
// no further step starts, the chip is counted as the sequence counts a halted
// one, and the window's settings are saved.
TEST(WorkerThreads, AnEndingSessionLetsTheStepFinishAndCountsTheChip) {
    ThreadedApp app;
    InitMainWindow(app.ctx);
    OnTimerTick(app.ctx);
    ASSERT_TRUE(app.WaitIdle());
    ASSERT_TRUE(app.ui.ApplyComboChoice(id::kChipCombo, "S3F866B"));
    ApplyChipSelection(app.ctx);
    app.ui.SetText(id::kCodeFile, VELDRIX_SOURCE_DIR "/resources/sample.hex");
    OnMainCommand(app.ctx, id::kRefreshMemory, FindControl(id::kRefreshMemory)->parent);
    ASSERT_TRUE(app.WaitIdle());
    ASSERT_EQ(app.ctx.codeInMemory, 1) << app.ui.GetText(id::kStatusLine);
    {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.chip = sim::Chip::Blank(sim::ChipKind::Mtp, 0x10000);
        app.prog.state.log.clear();
    }
    // A search for a missing programmer sets the busy flag too; it holds no end.
    app.ctx.BusyFlag = 1;
    EXPECT_TRUE(SessionMayEnd(app.ctx));
    app.ctx.BusyFlag = 0;
    app.settings.values.erase("tx_set");
    // The sequence's first block waits on the line until the end is asked
    // and the settings are saved: the system may end the process before the
    // step is over.
    std::atomic<bool> held{false}, savedFirst{false};
    app.prog.line.onHostWrite = [&](const uint8_t*, size_t, uint64_t) {
        if (held.exchange(true)) return;
        for (int i = 0; i < 5000 && !(app.ctx.haltRequested && app.settings.Read("tx_set", 16)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        savedFirst = app.settings.Read("tx_set", 16).has_value();
    };
    OnMainCommand(app.ctx, id::kAutoProgram, FindControl(id::kAutoProgram)->parent);
    for (int i = 0; i < 5000 && !held; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(held);
    EXPECT_FALSE(SessionMayEnd(app.ctx));

    EXPECT_TRUE(OnSessionEnd(app.ctx));
    app.prog.line.onHostWrite = nullptr;
    EXPECT_TRUE(SessionMayEnd(app.ctx));
    size_t sessions;
    {
        std::lock_guard lock(app.prog.state.mutex);
        sessions = app.prog.state.log.size();
    }
    EXPECT_EQ(sessions, 1u);  // the step under way, and no other
    EXPECT_EQ(app.ui.GetText(id::kStatusLine), kTextAborted);
    EXPECT_EQ(app.ui.GetText(id::kFailureCount), "1");
    EXPECT_EQ(app.ui.GetText(id::kSuccessCount), "00000");
    EXPECT_EQ(app.ctx.AutoRunActive, 0);
    EXPECT_EQ(app.settings.values.count("tx_set"), 1u);
    EXPECT_TRUE(savedFirst);
}

}  // namespace
}  // namespace veldrix
