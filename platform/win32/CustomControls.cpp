#include "platform/win32/CustomControls.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include "state/ControlIds.h"
#include "app/MainWindow.h"
#include "platform/win32/Dpi.h"
#include "platform/win32/Text.h"
#include "platform/win32/WindowMessages.h"

namespace veldrix {

namespace {

constexpr UINT_PTR kSubclassId = 0x5644;
// The state is also reachable from outside the subclass procedure.
constexpr wchar_t kStateProperty[] = L"VeldrixControlState";

struct ControlState {
    int id = 0;
    ControlKind kind = ControlKind::Static;
    CharFilter filter = CharFilter::Hex;
    bool pressed = false;
    bool locked = false;
};

HWND MainWindowOf(HWND control) { return GetAncestor(control, GA_ROOT); }

LRESULT SendToMain(HWND control, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageW(MainWindowOf(control), message, wParam, lParam);
}

LPARAM ParentParam(HWND control) { return reinterpret_cast<LPARAM>(GetParent(control)); }

bool InsideClient(HWND control, LPARAM lParam) {
    RECT rc;
    GetClientRect(control, &rc);
    POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    return PtInRect(&rc, pt) != FALSE;
}

bool IsCodeViewSelector(int id) { return id == id::kViewMemory || id == id::kViewChip || id == id::kViewAscii; }

// CMybtn
LRESULT ButtonProc(HWND h, UINT m, WPARAM wp, LPARAM lp, ControlState& st) {
    switch (m) {
    case WM_LBUTTONDOWN:
        // While the page is read, the view selectors must not change under the worker.
        if (st.locked && IsCodeViewSelector(st.id)) return 0;
        st.pressed = true;
        break;
    case WM_LBUTTONUP: {
        LRESULT r = DefSubclassProc(h, m, wp, lp);
        if (st.pressed) {
            st.pressed = false;
            if (InsideClient(h, lp)) SendToMain(h, msg::kControlClick, WPARAM(st.id), ParentParam(h));
        }
        return r;
    }
    case WM_KILLFOCUS: {
        LRESULT r = DefSubclassProc(h, m, wp, lp);
        LONG_PTR style = GetWindowLongPtrW(h, GWL_STYLE);
        LONG_PTR type = style & BS_TYPEMASK;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)
            SendMessageW(h, BM_SETSTYLE, WPARAM((style & 0xFFFF & ~BS_TYPEMASK) | BS_PUSHBUTTON), TRUE);
        return r;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: {
        LRESULT r = DefSubclassProc(h, m, wp, lp);
        if (wp == VK_RETURN) {
            SendToMain(h, msg::kEnterKey, WPARAM(st.id), ParentParam(h));
            st.locked = true;
        } else if (wp >= VK_F2 && wp <= VK_F12) {
            SendToMain(h, msg::kFunctionKey, wp);
        }
        return r;
    }
    case msg::kBusyState:
        st.locked = lp != 0;
        return 0;
    }
    return DefSubclassProc(h, m, wp, lp);
}

// CMygrp
LRESULT GroupProc(HWND h, UINT m, WPARAM wp, LPARAM lp, ControlState&) {
    switch (m) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
        LRESULT brush = DefSubclassProc(h, m, wp, lp);
        HDC dc = reinterpret_cast<HDC>(wp);
        int child = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
        if (child == id::kChecksum) {
            SetTextColor(dc, RGB(0, 0, 255));
        } else if (child == id::kStatusLine) {
            bool failed = SendToMain(h, msg::kQueryLinkError) == 1;
            SetTextColor(dc, failed ? RGB(255, 0, 0) : RGB(0, 0, 255));
        }
        return brush;
    }
    case WM_COMMAND:
        // Children report to the group; the combo box wants its own notifications back.
        if (lp) SendMessageW(reinterpret_cast<HWND>(lp), msg::kReflectedCommand, wp, lp);
        break;
    }
    return DefSubclassProc(h, m, wp, lp);
}

// CMyComboBox
LRESULT ComboProc(HWND h, UINT m, WPARAM wp, LPARAM lp, ControlState&) {
    if (m == msg::kReflectedCommand) {
        if (HIWORD(wp) == CBN_SELCHANGE) SendToMain(h, msg::kChipChanged);
        return 0;
    }
    return DefSubclassProc(h, m, wp, lp);
}

// CMyedit
LRESULT EditProc(HWND h, UINT m, WPARAM wp, LPARAM lp, ControlState& st) {
    switch (m) {
    case WM_GETDLGCODE:
        // Tab is ours: it moves along the fields in the program's own order.
        return DefSubclassProc(h, m, wp, lp) | DLGC_WANTTAB;
    case WM_CHAR:
        if (wp == L'\t') return 0;
        if (!AcceptsChar(st.filter, wchar_t(wp))) return 0;
        break;
    case WM_KEYDOWN:
        if (wp == VK_TAB) SendToMain(h, msg::kFocusNext, WPARAM(st.id), ParentParam(h));
        break;
    case WM_KEYUP: {
        LRESULT r = DefSubclassProc(h, m, wp, lp);
        if (wp == VK_RETURN) {
            SendToMain(h, msg::kFocusNext, WPARAM(st.id), ParentParam(h));
            if (st.id == id::kViewAddress) SendToMain(h, msg::kControlClick, WPARAM(id::kViewSet), ParentParam(h));
        }
        return r;
    }
    case WM_LBUTTONDBLCLK: {
        LRESULT r = DefSubclassProc(h, m, wp, lp);
        if (st.id == id::kCodeFile) {
            SendToMain(h, msg::kControlClick, WPARAM(id::kOpenFile), ParentParam(h));
        } else if (st.id == id::kStatusLine) {
            RECT rc{};
            SendMessageW(h, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&rc));
            int x = GET_X_LPARAM(lp), y = GET_Y_LPARAM(lp);
            if (x >= rc.left && x < rc.left + Scaled(140) && y >= rc.top && y < rc.bottom) SendToMain(h, msg::kAbortRequest);
        } else if (st.id == id::kChecksum) {
            MessageBoxW(MainWindowOf(h), Widen(GreetingText()).c_str(), Widen(GreetingCaption()).c_str(),
                        MB_OK | MB_ICONINFORMATION);
        }
        return r;
    }
    }
    return DefSubclassProc(h, m, wp, lp);
}

// CMystatic: only the maker-link label does more than a label.
LRESULT StaticProc(HWND h, UINT m, WPARAM wp, LPARAM lp, ControlState& st) {
    if (st.id != id::kLinkLabel) return DefSubclassProc(h, m, wp, lp);
    switch (m) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        SendToMain(h, msg::kLinkPressed);
        SetCapture(h);
        InvalidateRect(h, nullptr, TRUE);
        break;
    case WM_LBUTTONUP:
        if (SendToMain(h, msg::kLinkReleased) == 1) {
            InvalidateRect(h, nullptr, TRUE);
            ReleaseCapture();
            if (InsideClient(h, lp))
                ShellExecuteW(nullptr, L"open", Widen(MakerWebAddress()).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        }
        break;
    }
    return DefSubclassProc(h, m, wp, lp);
}

LRESULT CALLBACK ClassProc(HWND h, UINT m, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
    auto* st = reinterpret_cast<ControlState*>(ref);
    if (m == WM_NCDESTROY) {
        RemoveWindowSubclass(h, ClassProc, kSubclassId);
        RemovePropW(h, kStateProperty);
        delete st;
        return DefSubclassProc(h, m, wp, lp);
    }
    switch (st->kind) {
    case ControlKind::Push:
    case ControlKind::Check:
    case ControlKind::Radio: return ButtonProc(h, m, wp, lp, *st);
    case ControlKind::Group: return GroupProc(h, m, wp, lp, *st);
    case ControlKind::Combo: return ComboProc(h, m, wp, lp, *st);
    case ControlKind::Edit: return EditProc(h, m, wp, lp, *st);
    case ControlKind::Static: return StaticProc(h, m, wp, lp, *st);
    case ControlKind::List: break;
    }
    return DefSubclassProc(h, m, wp, lp);
}

}  // namespace

bool AcceptsChar(CharFilter filter, wchar_t ch) {
    if (ch == L'\b') return true;
    bool digit = ch >= L'0' && ch <= L'9';
    switch (filter) {
    case CharFilter::Any: return true;
    case CharFilter::Digits: return digit;
    case CharFilter::None:
    case CharFilter::Hex: return digit || (ch >= L'A' && ch <= L'F') || (ch >= L'a' && ch <= L'f');
    }
    return false;
}

int FocusSuccessor(int id) {
    switch (id) {
    case id::kOfflineFileName: return id::kOfflineChip;
    case id::kOfflineChip: return id::kOfflineChecksum;
    case id::kOfflineChecksum: return id::kCounterCurrent;
    case id::kCounterCurrent: return id::kCounterEnd;
    case id::kCounterEnd: return id::kSetCounter;
    default: return 0;
    }
}

void AttachControlClass(HWND control, const ControlDef& def) {
    if (def.kind == ControlKind::List) return;
    // Only the chip list is a CMyComboBox; the directory list is a plain one.
    if (def.kind == ControlKind::Combo && def.id != id::kChipCombo) return;
    auto* st = new ControlState;
    st->id = def.id;
    st->kind = def.kind;
    st->filter = def.filter;
    if (!SetWindowSubclass(control, ClassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(st))) {
        delete st;
        return;
    }
    SetPropW(control, kStateProperty, st);
}

bool IsButtonLocked(HWND button) {
    auto* st = static_cast<ControlState*>(GetPropW(button, kStateProperty));
    return st && st->locked;
}

}  // namespace veldrix
