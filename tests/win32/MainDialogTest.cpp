// The main window run modally as the program runs it, driven from another
// thread the way a person (or the end-to-end driver) would.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "app/ControlTable.h"
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

class MainWindowRun : public ::testing::Test {
protected:
    Win32Ui ui;
    RealClock clock;
    MemorySettings settings;
    test::NullPort port;
    test::NullPortDirectory ports;
    AppContext ctx{ui, clock, settings, port, ports};
    MainDialog window{ctx, ui};

    std::atomic<int> searches{0}, linkTicks{0}, closings{0};
    std::vector<Clicked> clicks;  // written on the window thread, read after Run

    void SetUp() override {
        settings.values["setup"] = VELDRIX_RESOURCES_DIR;
        window.hooks.onStartSearch = [this] { ++searches; };
        window.hooks.onLinkTick = [this] { ++linkTicks; };
        window.hooks.onClosing = [this] { ++closings; };
        auto quit = window.hooks.onCommand;
        window.hooks.onCommand = [this, quit](int id, int parent) {
            clicks.push_back({id, parent});
            quit(id, parent);
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
    std::string status;
    int ticksWhileBusy = -1, ticksWhenIdle = -1;
    RunWith([&](HWND main) {
        for (int i = 0; i < 300 && searches == 0; ++i) Sleep(10);
        status = ui.GetText(id::kStatusLine);
        ui.RunOnWindowThread([&] { KillTimer(main, kLinkTimerId); });
        int before = linkTicks;
        ctx.BusyFlag = 1;
        Send(main, WM_TIMER, 0);
        ticksWhileBusy = linkTicks - before;
        ctx.BusyFlag = 0;
        Send(main, WM_TIMER, 0);
        ticksWhenIdle = linkTicks - before;
        Send(main, msg::kControlClick, id::kQuit, reinterpret_cast<LPARAM>(main));
    });
    EXPECT_EQ(searches, 1);
    EXPECT_EQ(ctx.FirstTickDone, 1);
    EXPECT_EQ(status, "正在尝试联接VELDRIX,请稍候...");
    EXPECT_EQ(ticksWhileBusy, 0);
    EXPECT_EQ(ticksWhenIdle, 1);
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
    std::wstring about, records;
    LRESULT dragIcon = 0;
    RECT client{};
    std::atomic<int> opened{0};
    window.hooks.openRecords = [&] { ++opened; };
    RunWith([&](HWND main) {
        wchar_t text[256] = {};
        GetMenuStringW(GetSystemMenu(main, FALSE), IDM_ABOUTBOX, text, 256, MF_BYCOMMAND);
        about = text;
        GetMenuStringW(GetSystemMenu(main, FALSE), IDM_RECORDS, text, 256, MF_BYCOMMAND);
        records = text;
        Send(main, WM_SYSCOMMAND, IDM_RECORDS);
        dragIcon = Send(main, WM_QUERYDRAGICON);
        GetClientRect(main, &client);
        ui.SetChecked(id::kDebugMode, true);
        Send(main, WM_CLOSE);
    });
    EXPECT_EQ(Narrow(about), AboutMenuText());
    EXPECT_EQ(Narrow(records), RecordsMenuText());
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(reinterpret_cast<HICON>(dragIcon), window.Icon());
    EXPECT_NE(window.Icon(), nullptr);
    // Every control of the table lies inside the client area, whatever the dialog font made of it.
    for (const ControlDef& def : MainControls())
        if (def.parent == id::kWindow) {
            EXPECT_LE(def.rect.right, client.right) << def.id;
            EXPECT_LE(def.rect.bottom, client.bottom) << def.id;
        }
    EXPECT_EQ(closings, 1);
    EXPECT_TRUE(ctx.stopRequested);
    EXPECT_EQ(settings.values["mode"], "1");
    EXPECT_EQ(settings.values["tx_set"], "3");
}

}  // namespace
}  // namespace veldrix
