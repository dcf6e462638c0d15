// Calls from worker threads, message boxes and the small dialogs.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <thread>

#include "TestWindow.h"
#include "state/ControlIds.h"
#include "platform/win32/SmallDialogs.h"
#include "platform/win32/Text.h"
#include "resources/resource.h"

namespace veldrix {
namespace {

using test::TestWindow;

// Waits for a top-level window with this title to be on screen, which a
// dialog is only once its initialisation is over.
HWND WaitForWindow(const char* title, int timeoutMs = 5000) {
    std::wstring w = Widen(title);
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        HWND h = FindWindowW(nullptr, w.c_str());
        if (h && IsWindowVisible(h)) return h;
        Sleep(10);
    }
    return nullptr;
}

// Everything a message box says, whichever control holds its text.
std::string BoxText(HWND box) {
    std::wstring all;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM out) CALLBACK -> BOOL {
            wchar_t buffer[512] = {};
            GetWindowTextW(child, buffer, 512);
            *reinterpret_cast<std::wstring*>(out) += buffer;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return Narrow(all);
}

std::string ItemText(HWND dialog, int id) {
    wchar_t buffer[256] = {};
    GetDlgItemTextW(dialog, id, buffer, 256);
    return Narrow(buffer);
}

TEST(Win32Ui, WorkerCallsRunOnTheWindowThreadAndWaitForIt) {
    TestWindow w;
    w.CreateAllControls();
    DWORD windowThread = GetCurrentThreadId();
    DWORD ranOn = 0;
    std::string seen;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        w.ui.RunOnWindowThread([&] { ranOn = GetCurrentThreadId(); });
        w.ui.SetText(id::kStatusLine, "正在编程,地址: 01F00");
        seen = w.ui.GetText(id::kStatusLine);  // the write has landed before the read
        w.ui.ComboAdd(id::kDirectory, "7");
        done = true;
    });
    ASSERT_TRUE(TestWindow::PumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, windowThread);
    EXPECT_EQ(seen, "正在编程,地址: 01F00");
    EXPECT_EQ(w.ui.ComboCount(id::kDirectory), 1);
}

TEST(Win32Ui, CallsToAWindowThatIsGoneGiveTheRefusal) {
    auto w = std::make_unique<TestWindow>();
    w->CreateAllControls();
    Win32Ui& ui = w->ui;
    DestroyWindow(w->Handle());
    MsgAnswer answer = MsgAnswer::Yes;
    std::string text = "x";
    std::thread worker([&] {
        answer = ui.MessageBox({"继续吗?", "提示:", MsgButtons::YesNo, MsgIcon::Question, 0, {}});
        text = ui.GetText(id::kStatusLine);
    });
    worker.join();
    EXPECT_EQ(answer, MsgAnswer::No);
    EXPECT_EQ(text, "");
}

TEST(Win32Ui, MessageBoxFromAWorkerHasItsButtonsDefaultAndAnswer) {
    TestWindow w;
    std::atomic<bool> done{false};
    MsgAnswer answer = MsgAnswer::Yes;
    std::thread worker([&] {
        answer = w.ui.MessageBox({"芯片电压与所选芯片不符,继续吗?", "警告", MsgButtons::YesNo, MsgIcon::Warning, 1, {}});
        done = true;
    });
    // The box runs its own loop on the window thread; the operator is another thread.
    HWND owner = nullptr, yes = nullptr, ok = nullptr;
    HWND focused = nullptr, no = nullptr;
    std::thread user([&] {
        HWND box = WaitForWindow("警告");
        if (!box) return;
        owner = GetWindow(box, GW_OWNER);
        yes = GetDlgItem(box, IDYES);
        ok = GetDlgItem(box, IDOK);
        if (ok && !IsWindowVisible(ok)) ok = nullptr;  // a box may keep unused buttons hidden
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        if (GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &gui)) focused = gui.hwndFocus;
        no = GetDlgItem(box, IDNO);
        PostMessageW(box, WM_COMMAND, IDNO, 0);
    });
    ASSERT_TRUE(TestWindow::PumpUntil([&] { return done.load(); }));
    worker.join();
    user.join();
    EXPECT_EQ(answer, MsgAnswer::No);
    EXPECT_EQ(owner, w.Handle());
    EXPECT_NE(yes, nullptr);
    EXPECT_EQ(ok, nullptr);
    EXPECT_EQ(focused, no);  // the second button is the default one
}

TEST(Win32Ui, MessageBoxFlagsAndAnswers) {
    EXPECT_EQ(MessageBoxFlags({"", "", MsgButtons::OkCancel, MsgIcon::Question, 1, {}}),
              UINT(MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2));
    EXPECT_EQ(MessageBoxFlags({"", "", MsgButtons::Ok, MsgIcon::Error, 1, {}}), UINT(MB_OK | MB_ICONERROR));
    EXPECT_EQ(AnswerFor(MsgButtons::OkCancel, IDCANCEL), MsgAnswer::Cancel);
    EXPECT_EQ(AnswerFor(MsgButtons::Ok, IDCANCEL), MsgAnswer::Ok);
    EXPECT_EQ(AnswerFor(MsgButtons::OkCancel, 0), MsgAnswer::Cancel);
    std::wstring filter = FilterString({{"hex文件(*.hex)", "*.hex"}, {"BIN文件(*.BIN)", "*.BIN"}});
    EXPECT_EQ(filter, std::wstring(L"hex\u6587\u4ef6(*.hex)\0*.hex\0BIN\u6587\u4ef6(*.BIN)\0*.BIN\0\0", 39));
}

TEST(Win32Ui, CodeListHoldsSixteenRowsOfCentredColumns) {
    TestWindow w;
    w.CreateAllControls();
    std::vector<std::pair<std::string, int>> columns{{"ADDR", 45}};
    for (const char* d : {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "C", "D", "E", "F"})
        columns.push_back({d, 26});
    w.ui.ListSetColumns(id::kCodeList, columns);
    w.ui.ListSetCell(id::kCodeList, 15, 16, "7E");
    w.ui.ListSetCell(id::kCodeList, 0, 0, "00100");
    EXPECT_EQ(w.ui.ListCell(id::kCodeList, 15, 16), "7E");
    EXPECT_EQ(w.ui.ListCell(id::kCodeList, 0, 0), "00100");
    HWND list = w.ui.Control(id::kCodeList);
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 16);
    LVCOLUMNW col{};
    col.mask = LVCF_FMT | LVCF_WIDTH;
    ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&col)));
    EXPECT_EQ(col.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_CENTER);
    EXPECT_EQ(col.cx, 45);
    EXPECT_FALSE(SendMessageW(list, LVM_GETCOLUMNW, 17, reinterpret_cast<LPARAM>(&col)));
}

TEST(SmallDialogs, SetPasswordStaysOpenWithClearedFieldsUntilBothAgree) {
    std::atomic<bool> mismatchShown{false}, clearedAfter{false}, stillOpen{false};
    std::thread user([&] {
        HWND dialog = WaitForWindow("请输入新密码:");
        if (!dialog) return;
        SetDlgItemTextW(dialog, IDC_NEW_FIELD1, L"1234");
        SetDlgItemTextW(dialog, IDC_NEW_FIELD2, L"1235");
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        HWND box = WaitForWindow("输入错误");
        mismatchShown = box != nullptr && BoxText(box).find("新密码两次输入不相同,请重新输入!") != std::string::npos;
        if (box) SendMessageW(box, WM_COMMAND, IDOK, 0);
        for (int i = 0; i < 200 && FindWindowW(nullptr, Widen("输入错误").c_str()); ++i) Sleep(10);
        Sleep(50);
        clearedAfter = ItemText(dialog, IDC_NEW_FIELD1).empty() && ItemText(dialog, IDC_NEW_FIELD2).empty();
        stillOpen = IsWindow(dialog) && IsWindowVisible(dialog);
        SetDlgItemTextW(dialog, IDC_NEW_FIELD1, L"abcdefghij");
        SetDlgItemTextW(dialog, IDC_NEW_FIELD2, L"abcdefghXY");  // equal in the first 8 characters
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    auto result = RunSetPasswordDialog(nullptr);
    user.join();
    EXPECT_TRUE(mismatchShown);
    EXPECT_TRUE(clearedAfter);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(result, std::optional<std::string>("abcdefgh"));
}

TEST(SmallDialogs, PasswordEntryShowsItsPromptsAndCutsTheEntry) {
    std::string prompt;
    std::thread user([&] {
        HWND dialog = WaitForWindow("请输入操作密码");
        if (!dialog) return;
        prompt = ItemText(dialog, IDC_PASSWORD_PROMPT2);
        LONG_PTR style = GetWindowLongPtrW(GetDlgItem(dialog, IDC_PASSWORD_FIELD), GWL_STYLE);
        if (!(style & ES_PASSWORD)) prompt += " (not hidden)";
        SetDlgItemTextW(dialog, IDC_PASSWORD_FIELD, L"123456789");
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    auto result = RunPasswordEntryDialog(nullptr);
    user.join();
    EXPECT_EQ(prompt, "请输入您的操作密码:");
    EXPECT_EQ(result, std::optional<std::string>("12345678"));

    std::thread cancel([&] {
        if (HWND dialog = WaitForWindow("请输入操作密码")) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(RunPasswordEntryDialog(nullptr), std::nullopt);
    cancel.join();
}

TEST(SmallDialogs, EditCodeNamesTheAddressAndReturnsTheValue) {
    std::string prompt, initial;
    std::thread user([&] {
        HWND dialog = WaitForWindow("编辑代码数据");
        if (!dialog) return;
        prompt = ItemText(dialog, -1);
        initial = ItemText(dialog, IDC_EDIT_CODE_VALUE);
        SendDlgItemMessageW(dialog, IDC_EDIT_CODE_VALUE, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"5"));
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    auto result = RunEditCodeDialog(nullptr, "FF", "0012A");
    user.join();
    EXPECT_EQ(prompt, "请输入新值(地址--0012A):");
    EXPECT_EQ(initial, "FF");
    EXPECT_EQ(result, std::optional<std::string>("5"));
}

}  // namespace
}  // namespace veldrix
