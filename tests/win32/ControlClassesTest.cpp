// The control classes on real Win32 controls built from the control table.
#include <gtest/gtest.h>

#include "TestWindow.h"
#include "state/ControlIds.h"
#include "platform/win32/CustomControls.h"
#include "platform/win32/Text.h"
#include "platform/win32/WindowMessages.h"

namespace veldrix {
namespace {

using test::Press;
using test::Release;
using test::TestWindow;

class ControlClasses : public ::testing::Test {
protected:
    void SetUp() override { w.CreateAllControls(); }
    HWND C(int id) { return w.ui.Control(id); }
    std::string Typed(int id, const wchar_t* text) {
        SetWindowTextW(C(id), L"");
        test::TypeChars(C(id), text);
        return w.ui.GetText(id);
    }
    TestWindow w;
};

TEST_F(ControlClasses, EveryControlOfTheTableExistsInsideItsGroup) {
    for (const ControlDef& def : MainControls()) {
        HWND h = C(def.id);
        ASSERT_NE(h, nullptr) << def.id;
        HWND expected = def.parent == id::kWindow ? w.Handle() : C(def.parent);
        EXPECT_EQ(GetParent(h), expected) << def.id;
        RECT rc;
        GetWindowRect(h, &rc);
        MapWindowPoints(nullptr, GetParent(h), reinterpret_cast<POINT*>(&rc), 2);
        EXPECT_EQ(rc.left, def.rect.left) << def.id;
        EXPECT_EQ(rc.top, def.rect.top) << def.id;
        EXPECT_EQ(rc.right - rc.left, def.rect.right - def.rect.left) << def.id;
    }
    EXPECT_FALSE(w.ui.IsVisible(id::kViewGroup));
    EXPECT_FALSE(w.ui.IsEnabled(id::kVppField));
    EXPECT_EQ(w.ui.GetText(id::kStartAddress), "0000");
    EXPECT_EQ(w.ui.GetText(id::kCopyChip), "拷贝芯片代码到内存");
}

TEST_F(ControlClasses, FieldsFilterTypedCharactersByTheirId) {
    EXPECT_EQ(Typed(id::kStartAddress, L"G1a-f"), "1AF");  // hex, upper-cased by the field
    EXPECT_EQ(Typed(id::kCounterCurrent, L"12ab3"), "123");
    EXPECT_EQ(Typed(id::kCounterEnd, L"x9"), "9");
    EXPECT_EQ(Typed(id::kOfflineFileName, L"名称 v1.hex"), "名称 v1.hex");
    EXPECT_EQ(Typed(id::kOfflineChip, L"s3f9454"), "s3f9454");
    EXPECT_EQ(Typed(id::kIdAddress, L"zz7E"), "7E");
    EXPECT_EQ(Typed(id::kStartAddress, L"12\b3"), "13");  // Backspace always gets through
    EXPECT_EQ(Typed(id::kCodeFile, L"\t"), "");           // Tab moves on, never types
}

TEST_F(ControlClasses, ButtonReportsAClickOnlyWhenReleasedInside) {
    HWND verify = C(id::kVerifyChip);
    Press(verify, 5, 5);
    Release(verify, 6, 6);
    auto clicks = w.Of(msg::kControlClick);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].wParam, WPARAM(id::kVerifyChip));
    EXPECT_EQ(reinterpret_cast<HWND>(clicks[0].lParam), C(id::kOperationsGroup));

    Press(verify, 5, 5);
    Release(verify, -20, 5);
    Release(verify, 5, 5);  // a stray release without a press issues nothing either
    EXPECT_EQ(w.Of(msg::kControlClick).size(), 1u);
}

TEST_F(ControlClasses, CheckBoxHasChangedWhenItsClickArrives) {
    bool seen = false;
    w.onClick = [&](int id) {
        if (id == id::kDebugMode) seen = w.ui.IsChecked(id::kDebugMode);
    };
    Press(C(id::kDebugMode), 3, 3);
    Release(C(id::kDebugMode), 3, 3);
    EXPECT_TRUE(seen);
}

TEST_F(ControlClasses, LockedViewSelectorsIgnorePressesOtherButtonsDoNot) {
    w.ui.SetChecked(id::kViewMemory, true);
    for (int id : {id::kViewChip, id::kPrevPage}) w.ui.SendBusyState(id, true);
    EXPECT_TRUE(IsButtonLocked(C(id::kViewChip)));
    Press(C(id::kViewChip), 3, 3);
    Release(C(id::kViewChip), 3, 3);
    Press(C(id::kPrevPage), 3, 3);
    Release(C(id::kPrevPage), 3, 3);
    auto clicks = w.Of(msg::kControlClick);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].wParam, WPARAM(id::kPrevPage));
    EXPECT_FALSE(w.ui.IsChecked(id::kViewChip));

    w.ui.SendBusyState(id::kViewChip, false);
    Press(C(id::kViewChip), 3, 3);
    Release(C(id::kViewChip), 3, 3);
    EXPECT_TRUE(w.ui.IsChecked(id::kViewChip));
    EXPECT_EQ(w.Of(msg::kControlClick).size(), 2u);
}

TEST_F(ControlClasses, KeysOnAButtonBecomeEnterAndFunctionKeyMessages) {
    HWND button = C(id::kAutoProgram);
    SendMessageW(button, WM_KEYUP, VK_F7, 0);
    SendMessageW(button, WM_KEYUP, VK_F1, 0);
    SendMessageW(button, WM_KEYUP, VK_RETURN, 0);
    auto keys = w.Of(msg::kFunctionKey);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].wParam, WPARAM(VK_F7));
    auto enters = w.Of(msg::kEnterKey);
    ASSERT_EQ(enters.size(), 1u);
    EXPECT_EQ(enters[0].wParam, WPARAM(id::kAutoProgram));
    EXPECT_EQ(reinterpret_cast<HWND>(enters[0].lParam), C(id::kOperationsGroup));
    EXPECT_TRUE(IsButtonLocked(button));
}

TEST_F(ControlClasses, PushButtonLosesTheDefaultFrameWithTheFocus) {
    HWND button = C(id::kBlankCheck);
    SendMessageW(button, BM_SETSTYLE, BS_DEFPUSHBUTTON, FALSE);
    SendMessageW(button, WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
}

TEST_F(ControlClasses, StatusLineDoubleClickAbortsOnlyOnItsLeftPart) {
    HWND status = C(id::kStatusLine);
    RECT rc{};
    SendMessageW(status, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&rc));
    int y = (rc.top + rc.bottom) / 2;
    test::DoubleClick(status, rc.left + 139, y);
    EXPECT_EQ(w.Of(msg::kAbortRequest).size(), 1u);
    test::DoubleClick(status, rc.left + 140, y);
    test::DoubleClick(status, rc.left + 400, y);
    EXPECT_EQ(w.Of(msg::kAbortRequest).size(), 1u);
}

TEST_F(ControlClasses, DoubleClickOnTheCodeFileFieldOpensAFile) {
    test::DoubleClick(C(id::kCodeFile), 10, 10);
    auto clicks = w.Of(msg::kControlClick);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].wParam, WPARAM(id::kOpenFile));
    EXPECT_EQ(reinterpret_cast<HWND>(clicks[0].lParam), C(id::kFileGroup));
}

TEST_F(ControlClasses, EnterAndTabInFieldsAskForTheNextField) {
    SendMessageW(C(id::kViewAddress), WM_KEYUP, VK_RETURN, 0);
    SendMessageW(C(id::kOfflineChip), WM_KEYDOWN, VK_TAB, 0);
    auto next = w.Of(msg::kFocusNext);
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0].wParam, WPARAM(id::kViewAddress));
    EXPECT_EQ(next[1].wParam, WPARAM(id::kOfflineChip));
    EXPECT_EQ(reinterpret_cast<HWND>(next[1].lParam), C(id::kOfflineGroup));
    auto clicks = w.Of(msg::kControlClick);
    ASSERT_EQ(clicks.size(), 1u);  // Enter in the display address also presses "设 置"
    EXPECT_EQ(clicks[0].wParam, WPARAM(id::kViewSet));
    EXPECT_EQ(SendMessageW(C(id::kOfflineChip), WM_GETDLGCODE, VK_TAB, 0) & DLGC_WANTTAB, DLGC_WANTTAB);
}

TEST_F(ControlClasses, FocusChainOfTheOfflineFields) {
    int id = id::kOfflineFileName;
    std::vector<int> chain;
    while (int next = FocusSuccessor(id)) chain.push_back(id = next);
    EXPECT_EQ(chain, (std::vector<int>{id::kOfflineChip, id::kOfflineChecksum, id::kCounterCurrent, id::kCounterEnd,
                                       id::kSetCounter}));
    EXPECT_EQ(FocusSuccessor(id::kStartAddress), 0);
}

TEST_F(ControlClasses, ChipListSelectionChangeReachesTheWindowThroughItsGroup) {
    w.ui.ComboAdd(id::kChipCombo, "s3f9454");
    EXPECT_EQ(w.ui.ComboEntry(id::kChipCombo, 0), "S3F9454");  // upper-case list
    HWND combo = C(id::kChipCombo);
    SendMessageW(C(id::kChipGroup), WM_COMMAND, MAKEWPARAM(id::kChipCombo, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
    EXPECT_EQ(w.Of(msg::kChipChanged).size(), 1u);
    // The directory list is a plain one.
    SendMessageW(C(id::kOfflineGroup), WM_COMMAND, MAKEWPARAM(id::kDirectory, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(C(id::kDirectory)));
    EXPECT_EQ(w.Of(msg::kChipChanged).size(), 1u);
}

TEST_F(ControlClasses, StatusLineIsRedOnlyWhileTheLinkHasFailed) {
    HDC dc = GetDC(C(id::kStatusLine));
    auto colourOf = [&](int id) {
        SetTextColor(dc, RGB(1, 2, 3));
        SendMessageW(GetParent(C(id)), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(C(id)));
        return GetTextColor(dc);
    };
    w.linkError = 0;
    EXPECT_EQ(colourOf(id::kStatusLine), RGB(0, 0, 255));
    w.linkError = 1;
    EXPECT_EQ(colourOf(id::kStatusLine), RGB(255, 0, 0));
    EXPECT_EQ(colourOf(id::kChecksum), RGB(0, 0, 255));
    EXPECT_NE(colourOf(id::kVppField), RGB(0, 0, 255));
    ReleaseDC(C(id::kStatusLine), dc);
}

TEST_F(ControlClasses, LinkLabelPressAndReleaseTalkToTheWindow) {
    HWND label = C(id::kLinkLabel);
    Press(label, 2, 2);
    EXPECT_EQ(GetCapture(), label);
    Release(label, -50, 2);  // the window answers 0 here: nothing opens
    EXPECT_EQ(w.Of(msg::kLinkPressed).size(), 1u);
    EXPECT_EQ(w.Of(msg::kLinkReleased).size(), 1u);
    ReleaseCapture();
}

}  // namespace
}  // namespace veldrix
