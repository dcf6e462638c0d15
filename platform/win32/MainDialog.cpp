#include "platform/win32/MainDialog.h"

#include <commctrl.h>

#include <algorithm>

#include "state/AppContext.h"
#include "code/ChipCatalogue.h"
#include "state/ControlIds.h"
#include "app/ControlTable.h"
#include "app/CommandHandler.h"
#include "app/MainWindow.h"
#include "app/Settings.h"
#include "ops/CodePages.h"
#include "platform/win32/CustomControls.h"
#include "platform/win32/Dpi.h"
#include "platform/win32/Text.h"
#include "platform/win32/Win32Ui.h"
#include "platform/win32/WindowMessages.h"
#include "resources/resource.h"

namespace veldrix {

namespace {

int ParentId(HWND parent, HWND window) { return parent == window || !parent ? id::kWindow : GetDlgCtrlID(parent); }

// The template's size follows its dialog font; where that font is smaller than
// the one the layout was made with, grow the window so no control is cut off.
void FitClientToControls(HWND window) {
    RECT need{0, 0, 0, 0};
    for (const ControlDef& def : MainControls())
        if (def.parent == id::kWindow) {
            need.right = std::max<LONG>(need.right, Scaled(def.rect.right + 5));
            need.bottom = std::max<LONG>(need.bottom, Scaled(def.rect.bottom + 5));
        }
    RECT client;
    GetClientRect(window, &client);
    if (client.right >= need.right && client.bottom >= need.bottom) return;
    need.right = std::max(need.right, client.right);
    need.bottom = std::max(need.bottom, client.bottom);
    AdjustWindowRectEx(&need, DWORD(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                       DWORD(GetWindowLongPtrW(window, GWL_EXSTYLE)));
    SetWindowPos(window, nullptr, 0, 0, need.right - need.left, need.bottom - need.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CentreOnScreen(HWND window) {
    RECT rc;
    GetWindowRect(window, &rc);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    int x = work.left + ((work.right - work.left) - w) / 2;
    int y = work.top + ((work.bottom - work.top) - h) / 2;
    SetWindowPos(window, nullptr, x < work.left ? work.left : x, y < work.top ? work.top : y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

MainDialog::MainDialog(AppContext& ctx, Win32Ui& ui) : ctx_(ctx), ui_(ui) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    icon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VELDRIX), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VELDRIX), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

MainDialog::~MainDialog() {
    if (icon_) DestroyIcon(icon_);
    if (smallIcon_) DestroyIcon(smallIcon_);
}

INT_PTR MainDialog::Run() {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_VELDRIX_DIALOG), nullptr, Proc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainDialog::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<MainDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
    }
    auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    return self ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR MainDialog::Result(LRESULT value) {
    SetWindowLongPtrW(window_, DWLP_MSGRESULT, value);
    return TRUE;
}

void MainDialog::Close() { EndDialog(window_, 0); }

INT_PTR MainDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInit();
        return TRUE;
    case msg::kInvoke:
        Win32Ui::RunInvoked(lParam);
        return Result(0);
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            MessageBoxW(window_, Widen(AboutText()).c_str(), Widen(AboutCaption()).c_str(), MB_OK);
            return TRUE;
        }
        if ((wParam & 0xFFF0) == IDM_RECORDS && hooks.openRecords) {
            hooks.openRecords();
            return TRUE;
        }
        if ((wParam & 0xFFF0) == IDM_REPORT && hooks.openReport) {
            hooks.openReport();
            return TRUE;
        }
        return FALSE;
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(icon_);
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
        return OnControlColour(message, wParam, lParam);
    case WM_TIMER:
        OnTimerTick(ctx_);
        return TRUE;
    case WM_SETCURSOR:
        SetCursor(LoadCursorW(nullptr, ctx_.BusyFlag ? IDC_WAIT : IDC_ARROW));
        return Result(TRUE);
    case WM_NOTIFY:
        OnListNotify(lParam);
        return FALSE;
    case WM_COMMAND:
        // Clicks arrive as MSG_CONTROL_CLICK; Enter and Esc must not end the program.
        return TRUE;
    case WM_CLOSE:
        Close();
        return TRUE;
    case WM_QUERYENDSESSION:
        // A chip under way: the system is asked to wait, with the reason
        // shown; a critical end cannot be held.
        if (SessionMayEnd(ctx_) || (lParam & ENDSESSION_CRITICAL)) {
            ShutdownBlockReasonDestroy(window_);
            return Result(TRUE);
        }
        ShutdownBlockReasonCreate(window_, Widen(SessionBlockedText()).c_str());
        return Result(FALSE);
    case WM_ENDSESSION:
        // The process may end as soon as this returns: no destroy follows.
        if (wParam && !sessionEnded_) {
            sessionEnded_ = true;
            KillTimer(window_, kLinkTimerId);
            KillTimer(window_, 0);
            threadsEnded_ = OnSessionEnd(ctx_);
            ShutdownBlockReasonDestroy(window_);
        } else if (!wParam) {
            ShutdownBlockReasonDestroy(window_);  // the end was called off
        }
        return Result(0);
    case WM_DESTROY:
        KillTimer(window_, kLinkTimerId);
        KillTimer(window_, 0);
        if (!sessionEnded_) threadsEnded_ = OnWindowDestroy(ctx_);
        return FALSE;

    case msg::kControlClick:
        OnClick(int(wParam), reinterpret_cast<HWND>(lParam));
        return Result(0);
    case msg::kQueryLinkError:
        return Result(ctx_.LinkErrorFlag ? 1 : 0);
    case msg::kLinkPressed:
        ctx_.LinkLabelPressed = 1;
        return Result(0);
    case msg::kLinkReleased:
        return Result(ctx_.LinkLabelPressed.exchange(0) ? 1 : 0);
    case msg::kAbortRequest:
        OnAbortRequest(ctx_);
        return Result(0);
    case msg::kFunctionKey:
        OnFunctionKey(ctx_, int(wParam));
        return Result(0);
    case msg::kChipChanged:
        ApplyChipSelection(ctx_);
        return Result(0);
    case msg::kEnterKey: {
        HWND parent = reinterpret_cast<HWND>(lParam);
        if (ParentId(parent, window_) == id::kOperationsGroup) OnClick(int(wParam), parent);
        return Result(0);
    }
    case msg::kFocusNext:
        OnFocusNext(int(wParam));
        return Result(0);
    case msg::kStartSearch:
        OnStartSearch(ctx_);
        return Result(0);
    }
    return FALSE;
}

void MainDialog::OnInit() {
    ui_.AttachWindow(window_);
    std::string about = AboutMenuText();
    if (HMENU menu = GetSystemMenu(window_, FALSE); menu && !about.empty()) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, Widen(about).c_str());
        if (hooks.openRecords) AppendMenuW(menu, MF_STRING, IDM_RECORDS, Widen(RecordsMenuText()).c_str());
        if (hooks.openReport) AppendMenuW(menu, MF_STRING, IDM_REPORT, Widen(ReportMenuText()).c_str());
    }
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_ ? smallIcon_ : icon_));
    SetWindowTextW(window_, Widen(WindowCaption()).c_str());
    InitMainWindow(ctx_);
    FitClientToControls(window_);
    CentreOnScreen(window_);
}

void MainDialog::OnClick(int id, HWND parent) {
    if (hooks.onCommand) hooks.onCommand(id, ParentId(parent, window_));
    else OnMainCommand(ctx_, id, ParentId(parent, window_));
}

void MainDialog::OnFocusNext(int id) {
    if (int next = FocusSuccessor(id)) {
        if (HWND target = ui_.Control(next)) SetFocus(target);
        return;
    }
    // Tab in a field outside the offline chain still moves on in the usual order.
    if (GetKeyState(VK_TAB) < 0) {
        HWND from = ui_.Control(id);
        if (HWND target = GetNextDlgTabItem(window_, from, GetKeyState(VK_SHIFT) < 0)) SetFocus(target);
    }
}

bool MainDialog::OnPaint() {
    if (!IsIconic(window_)) return false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window_, &ps);
    SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    RECT rc;
    GetClientRect(window_, &rc);
    int x = (rc.right - rc.left - cx + 1) / 2;
    int y = (rc.bottom - rc.top - cy + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(window_, &ps);
    return true;
}

INT_PTR MainDialog::OnControlColour(UINT message, WPARAM wParam, LPARAM lParam) {
    // The default colours and brush first; only the text colour changes.
    LRESULT brush = DefWindowProcW(window_, message, wParam, lParam);
    Rgb colour{};
    int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
    if (ControlTextColour(id, ctx_.LinkLabelPressed != 0, colour))
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(colour.r, colour.g, colour.b));
    return static_cast<INT_PTR>(brush);
}

void MainDialog::OnListNotify(LPARAM lParam) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (!header || header->idFrom != UINT_PTR(id::kCodeList) || header->code != NM_DBLCLK) return;
    auto* activate = reinterpret_cast<NMITEMACTIVATE*>(lParam);
    LVHITTESTINFO hit{};
    hit.pt = activate->ptAction;
    int row = int(SendMessageW(header->hwndFrom, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    int column = row < 0 ? -1 : hit.iSubItem;
    if (row < 0) row = -1;
    EditCodeByte(ctx_, row, column);
}

}  // namespace veldrix
