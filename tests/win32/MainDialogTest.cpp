// The main window run modally as the program runs it, driven from another
// thread the way a person (or the end-to-end driver) would.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "link/Session.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "app/CommandHandler.h"
#include "app/ControlTable.h"
#include "app/Core.h"
#include "app/MainWindow.h"
#include "platform/headless/MemorySettings.h"
#include "platform/win32/MainDialog.h"
#include "platform/win32/RealClock.h"
#include "platform/win32/Text.h"
#include "platform/win32/Win32Ui.h"
#include "platform/win32/WindowMessages.h"
#include "resources/resource.h"
#include "tests/support/TestDoubles.h"

namespace veldrix {
namespace {

struct Clicked {
    int id, parent;
};

// The window's boxes, noted instead of shown (the worker runs inline, so
// they come on the window thread).
class BoxNotingUi : public Win32Ui {
public:
    std::vector<MessageBoxSpec> boxes;
    MsgAnswer MessageBox(const MessageBoxSpec& spec) override {
        boxes.push_back(spec);
        return MsgAnswer::Ok;
    }
};

// No adapter; every search lists the adapters first, so the lists count the
// searches: the first one, which speaks, and the silent ones of link checks.
class CountingDirectory : public PortDirectory {
public:
    AppContext* ctx = nullptr;
    std::atomic<int> searches{0}, linkChecks{0};
    std::string statusAtFirstSearch;
    bool Available() override {
        if (ctx->SilentSearch) {
            ++linkChecks;
        } else if (searches++ == 0) {
            statusAtFirstSearch = ctx->ui->GetText(id::kStatusLine);
        }
        return false;
    }
    std::optional<std::string> Lookup(const std::string&) override { return std::nullopt; }
};

class MainWindowRun : public ::testing::Test {
protected:
    BoxNotingUi ui;
    RealClock clock;
    MemorySettings settings;
    test::NullPort port;
    CountingDirectory ports;
    // The core as the program wires it; its worker inline, so a tick's link
    // check has run when the tick's message returns.
    Core core{ui, clock, settings, port, ports, Worker::Mode::Inline};
    AppContext& ctx = core.ctx;
    MainDialog window{ctx, ui};

    std::vector<Clicked> clicks;  // written on the window thread, read after Run

    void SetUp() override {
        settings.values["setup"] = VELDRIX_RESOURCES_DIR;
        ports.ctx = &ctx;
        window.hooks.onCommand = [this](int id, int parent) {
            clicks.push_back({id, parent});
            OnMainCommand(ctx, id, parent);
        };
    }

    // Runs the window; person() acts on it from another thread and must close it.
    void RunWith(const std::function<void(HWND)>& person) {
        DWORD windowThread = GetCurrentThreadId();
        std::thread other([&] {
            std::wstring caption = Widen(WindowCaption());
            HWND main = nullptr;
            for (int i = 0; i < 500 && !(main && IsWindowVisible(main)); ++i) {
                main = FindWindowW(nullptr, caption.c_str());
                Sleep(10);
            }
            if (!main) {
                ADD_FAILURE() << "the main window did not show";
                // Whatever holds the window thread, end its loops.
                for (int i = 0; i < 100; ++i, Sleep(50)) PostThreadMessageW(windowThread, WM_QUIT, 0, 0);
                return;
            }
            person(main);
        });
        window.Run();
        other.join();
    }

    static LRESULT Send(HWND main, UINT m, WPARAM wp = 0, LPARAM lp = 0) { return SendMessageW(main, m, wp, lp); }
    HWND C(int id) { return ui.Control(id); }
};

TEST_F(MainWindowRun, FirstTickSearchesThenTicksCheckTheLinkWhenIdle) {
    int ticksWhileBusy = -1, ticksWhenIdle = -1;
    RunWith([&](HWND main) {
        for (int i = 0; i < 300 && ports.searches == 0; ++i) Sleep(10);
        // The failed search started the timer of link failures too.
        ui.RunOnWindowThread([&] {
            KillTimer(main, kLinkTimerId);
            KillTimer(main, 0);
        });
        int before = ports.linkChecks;
        ctx.BusyFlag = 1;
        Send(main, WM_TIMER, 0);
        ticksWhileBusy = ports.linkChecks - before;
        ctx.BusyFlag = 0;
        Send(main, WM_TIMER, 0);
        ticksWhenIdle = ports.linkChecks - before;
        Send(main, msg::kControlClick, id::kQuit, reinterpret_cast<LPARAM>(main));
    });
    EXPECT_EQ(ports.searches, 1);
    EXPECT_EQ(ctx.FirstTickDone, 1);
    EXPECT_EQ(ports.statusAtFirstSearch, "正在尝试联接VELDRIX,请稍候...");
    EXPECT_EQ(ticksWhileBusy, 0);
    EXPECT_EQ(ticksWhenIdle, 1);
}

// The window's timer, keys and close go to the handlers the headless window
// and the tests run: the same boxes, texts and saved settings.
TEST_F(MainWindowRun, TimerKeysAndCloseRunTheSharedHandlers) {
    size_t boxesAfterSearch = 0;
    std::string statusAfterF7, statusAfterF2;
    MessageBoxSpec greeting;
    RunWith([&](HWND main) {
        for (int i = 0; i < 300 && ports.searches == 0; ++i) Sleep(10);
        ui.RunOnWindowThread([&] {
            KillTimer(main, kLinkTimerId);
            KillTimer(main, 0);
        });
        boxesAfterSearch = ui.boxes.size();
        Send(main, msg::kFunctionKey, VK_F5);
        if (ui.boxes.size() == boxesAfterSearch + 1) greeting = ui.boxes.back();
        // The search failed, so the worker finds no programmer behind F7.
        Send(main, msg::kFunctionKey, VK_F7);
        statusAfterF7 = ui.GetText(id::kStatusLine);
        ui.RunOnWindowThread([&] { KillTimer(main, 0); });  // which the failed start set again
        ui.SetText(id::kStatusLine, "-");
        Send(main, msg::kFunctionKey, VK_F2);
        statusAfterF2 = ui.GetText(id::kStatusLine);
        ui.SetChecked(id::kDebugMode, true);
        Send(main, WM_CLOSE);
    });
    // The first search spoke: no adapter.
    ASSERT_EQ(boxesAfterSearch, 1u);
    EXPECT_EQ(ui.boxes[0].text.rfind("未检测到有效的USB连接!", 0), 0u) << ui.boxes[0].text;
    EXPECT_EQ(greeting.caption, GreetingCaption());
    EXPECT_EQ(greeting.text, GreetingText());
    EXPECT_EQ(statusAfterF7, kTextConnectionError);
    EXPECT_EQ(ctx.LinkErrorFlag, 1);
    EXPECT_EQ(statusAfterF2, "-");
    EXPECT_EQ(ui.boxes.size(), 2u);
    EXPECT_TRUE(ctx.stopRequested);
    EXPECT_TRUE(window.ThreadsEnded());
    EXPECT_EQ(settings.values["mode"], "1");
}

// Shutdown asked while the link monitor searches for a missing programmer
// (the busy flag set, no chip under way) is let go, as when idle (the hold
// while a chip is programmed: WorkerThreads in the native tests). Its end
// saves the settings and stops the threads, before any destroy (which may
// never come).
TEST_F(MainWindowRun, AnEndingSessionWaitsForTheChipThenSavesAndStops) {
    LRESULT whileSearching = -1, whenIdle = -1, critical = -1;
    std::string savedAtEnd;
    RunWith([&](HWND main) {
        ctx.BusyFlag = 1;
        whileSearching = Send(main, WM_QUERYENDSESSION, 0, 0);
        critical = Send(main, WM_QUERYENDSESSION, 0, ENDSESSION_CRITICAL);
        ctx.BusyFlag = 0;
        whenIdle = Send(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        ui.SetChecked(id::kDebugMode, true);
        Send(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        savedAtEnd = settings.values["mode"];
        ui.SetChecked(id::kDebugMode, false);
        Send(main, WM_CLOSE);
    });
    EXPECT_EQ(whileSearching, TRUE);
    EXPECT_EQ(critical, TRUE);
    EXPECT_EQ(whenIdle, TRUE);
    EXPECT_EQ(savedAtEnd, "1");
    EXPECT_TRUE(ctx.haltRequested);
    EXPECT_TRUE(ctx.stopRequested);
    EXPECT_TRUE(window.ThreadsEnded());
    // The close after it saved nothing again.
    EXPECT_EQ(settings.values["mode"], "1");
}

TEST_F(MainWindowRun, PrivateMessagesAnswerFromTheFlags) {
    LRESULT linkError = -1, released = -1, releasedAgain = -1;
    int recordsEntry = -1;
    RunWith([&](HWND main) {
        // No records kept, no entry for them.
        recordsEntry = GetMenuStringW(GetSystemMenu(main, FALSE), IDM_RECORDS, nullptr, 0, MF_BYCOMMAND);
        ctx.LinkErrorFlag = 1;
        linkError = Send(main, msg::kQueryLinkError);
        Send(main, msg::kLinkPressed);
        released = Send(main, msg::kLinkReleased);
        releasedAgain = Send(main, msg::kLinkReleased);
        Send(main, msg::kAbortRequest);
        Send(main, WM_CLOSE);
    });
    EXPECT_EQ(recordsEntry, 0);
    EXPECT_EQ(linkError, 1);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(releasedAgain, 0);
    EXPECT_EQ(ctx.AbortFlag, 1);
}

TEST_F(MainWindowRun, ClicksCarryTheirGroupAndEnterActsOnlyOnOperationButtons) {
    RunWith([&](HWND main) {
        Send(main, msg::kControlClick, id::kClearCounts, reinterpret_cast<LPARAM>(C(id::kCountGroup)));
        Send(main, msg::kEnterKey, id::kVerifyChip, reinterpret_cast<LPARAM>(C(id::kOperationsGroup)));
        Send(main, msg::kEnterKey, id::kOpenFile, reinterpret_cast<LPARAM>(C(id::kFileGroup)));
        Send(main, WM_COMMAND, IDCANCEL);  // Esc does not end the program
        Send(main, msg::kControlClick, id::kQuit, reinterpret_cast<LPARAM>(main));
    });
    ASSERT_EQ(clicks.size(), 3u);
    EXPECT_EQ(clicks[0].id, id::kClearCounts);
    EXPECT_EQ(clicks[0].parent, id::kCountGroup);
    EXPECT_EQ(clicks[1].id, id::kVerifyChip);
    EXPECT_EQ(clicks[1].parent, id::kOperationsGroup);
    EXPECT_EQ(clicks[2].id, id::kQuit);
    EXPECT_EQ(clicks[2].parent, id::kWindow);
}

TEST_F(MainWindowRun, FocusFollowsTheOfflineFieldChain) {
    HWND focusAfter309 = nullptr, focusAfter316 = nullptr;
    RunWith([&](HWND main) {
        DWORD thread = GetWindowThreadProcessId(main, nullptr);
        auto focus = [&] {
            GUITHREADINFO gui{};
            gui.cbSize = sizeof gui;
            GetGUIThreadInfo(thread, &gui);
            return gui.hwndFocus;
        };
        Send(main, msg::kFocusNext, id::kOfflineFileName);
        focusAfter309 = focus();
        Send(main, msg::kFocusNext, id::kCounterEnd);
        focusAfter316 = focus();
        Send(main, WM_CLOSE);
    });
    EXPECT_EQ(focusAfter309, C(id::kOfflineChip));
    EXPECT_EQ(focusAfter316, C(id::kSetCounter));
}

TEST_F(MainWindowRun, WindowCarriesIconAboutAndRecordsEntriesAndSavesTheSettingsOnClose) {
    std::wstring about, records, report;
    LRESULT dragIcon = 0;
    RECT client{};
    std::atomic<int> opened{0}, reported{0};
    window.hooks.openRecords = [&] { ++opened; };
    window.hooks.openReport = [&] { ++reported; };
    RunWith([&](HWND main) {
        wchar_t text[256] = {};
        GetMenuStringW(GetSystemMenu(main, FALSE), IDM_ABOUTBOX, text, 256, MF_BYCOMMAND);
        about = text;
        GetMenuStringW(GetSystemMenu(main, FALSE), IDM_RECORDS, text, 256, MF_BYCOMMAND);
        records = text;
        GetMenuStringW(GetSystemMenu(main, FALSE), IDM_REPORT, text, 256, MF_BYCOMMAND);
        report = text;
        Send(main, WM_SYSCOMMAND, IDM_RECORDS);
        // The system adds its own bits to the low four of a command; the entry still answers.
        Send(main, WM_SYSCOMMAND, IDM_REPORT | 0x3);
        dragIcon = Send(main, WM_QUERYDRAGICON);
        GetClientRect(main, &client);
        ui.SetChecked(id::kDebugMode, true);
        Send(main, WM_CLOSE);
    });
    EXPECT_EQ(Narrow(about), AboutMenuText());
    EXPECT_EQ(Narrow(records), RecordsMenuText());
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(Narrow(report), ReportMenuText());
    EXPECT_EQ(reported, 1);
    EXPECT_EQ(reinterpret_cast<HICON>(dragIcon), window.Icon());
    EXPECT_NE(window.Icon(), nullptr);
    // Every control of the table lies inside the client area, whatever the dialog font made of it.
    for (const ControlDef& def : MainControls())
        if (def.parent == id::kWindow) {
            EXPECT_LE(def.rect.right, client.right) << def.id;
            EXPECT_LE(def.rect.bottom, client.bottom) << def.id;
        }
    EXPECT_TRUE(window.ThreadsEnded());
    EXPECT_TRUE(ctx.stopRequested);
    EXPECT_EQ(settings.values["mode"], "1");
    EXPECT_EQ(settings.values["tx_set"], "3");
}

}  // namespace
}  // namespace veldrix
