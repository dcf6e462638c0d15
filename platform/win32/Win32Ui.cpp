#include "platform/win32/Win32Ui.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <uxtheme.h>

#include <optional>
#include <vector>

#include "platform/win32/CustomControls.h"
#include "platform/win32/Dpi.h"
#include "platform/win32/SmallDialogs.h"
#include "platform/win32/Text.h"
#include "platform/win32/WindowMessages.h"

namespace veldrix {

namespace {

DWORD StyleFor(const ControlDef& def, DWORD& exStyle, const wchar_t*& cls) {
    using namespace style;
    DWORD s = WS_CHILD;
    if (!(def.styles & kHidden)) s |= WS_VISIBLE;
    if (def.styles & kDisabled) s |= WS_DISABLED;
    exStyle = 0;
    if (def.styles & kClientEdge) exStyle |= WS_EX_CLIENTEDGE;
    if (def.styles & kStaticEdge) exStyle |= WS_EX_STATICEDGE;
    switch (def.kind) {
    case ControlKind::Group:
        cls = L"BUTTON";
        // Its controls are its children; let dialog navigation reach them.
        exStyle |= WS_EX_CONTROLPARENT;
        return s | BS_GROUPBOX;
    case ControlKind::Push:
        cls = L"BUTTON";
        return s | WS_TABSTOP | BS_PUSHBUTTON | ((def.styles & kMultiLine) ? BS_MULTILINE : 0);
    case ControlKind::Check:
        cls = L"BUTTON";
        return s | WS_TABSTOP | BS_AUTOCHECKBOX;
    case ControlKind::Radio:
        cls = L"BUTTON";
        return s | WS_TABSTOP | BS_AUTORADIOBUTTON | ((def.styles & kStartsGroup) ? WS_GROUP : 0);
    case ControlKind::Static:
        cls = L"STATIC";
        return s | SS_LEFT | ((def.styles & kNotify) ? SS_NOTIFY : 0);
    case ControlKind::Edit:
        cls = L"EDIT";
        s |= WS_TABSTOP;
        if (def.styles & kReadOnly) s |= ES_READONLY;
        if (def.styles & kCentred) s |= ES_CENTER;
        if (def.styles & kUpperCase) s |= ES_UPPERCASE;
        if (def.styles & kAutoScroll) s |= ES_AUTOHSCROLL;
        if (def.styles & kBordered) s |= WS_BORDER;
        if (def.styles & kDigitsOnly) s |= ES_NUMBER;
        return s;
    case ControlKind::Combo:
        cls = L"COMBOBOX";
        s |= WS_TABSTOP | CBS_DROPDOWNLIST;
        if (def.styles & kVScroll) s |= WS_VSCROLL;
        if (def.styles & kUpperCase) s |= CBS_UPPERCASE;
        return s;
    case ControlKind::List:
        cls = WC_LISTVIEWW;
        return s | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
    }
    return s;
}

std::wstring WindowText(HWND h) {
    int n = GetWindowTextLengthW(h);
    std::wstring text(size_t(n) + 1, L'\0');
    n = GetWindowTextW(h, text.data(), n + 1);
    text.resize(size_t(n < 0 ? 0 : n));
    return text;
}

}  // namespace

UINT MessageBoxFlags(const MessageBoxSpec& spec) {
    UINT flags = 0;
    switch (spec.buttons) {
    case MsgButtons::Ok: flags |= MB_OK; break;
    case MsgButtons::OkCancel: flags |= MB_OKCANCEL; break;
    case MsgButtons::YesNo: flags |= MB_YESNO; break;
    case MsgButtons::RetryCancel: flags |= MB_RETRYCANCEL; break;
    }
    switch (spec.icon) {
    case MsgIcon::None: break;
    case MsgIcon::Warning: flags |= MB_ICONWARNING; break;
    case MsgIcon::Error: flags |= MB_ICONERROR; break;
    case MsgIcon::Question: flags |= MB_ICONQUESTION; break;
    case MsgIcon::Information: flags |= MB_ICONINFORMATION; break;
    }
    if (spec.defaultButton == 1 && spec.buttons != MsgButtons::Ok) flags |= MB_DEFBUTTON2;
    return flags;
}

MsgAnswer AnswerFor(MsgButtons buttons, int result) {
    switch (result) {
    case IDOK: return MsgAnswer::Ok;
    case IDYES: return MsgAnswer::Yes;
    case IDNO: return MsgAnswer::No;
    case IDRETRY: return MsgAnswer::Retry;
    case IDCANCEL: return buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
    }
    // A box that never showed is a refusal, never a go-ahead.
    switch (buttons) {
    case MsgButtons::Ok: return MsgAnswer::Ok;
    case MsgButtons::OkCancel: return MsgAnswer::Cancel;
    case MsgButtons::YesNo: return MsgAnswer::No;
    case MsgButtons::RetryCancel: return MsgAnswer::Cancel;
    }
    return MsgAnswer::Cancel;
}

std::wstring FilterString(const std::vector<FileFilter>& filters) {
    std::wstring out;
    for (const FileFilter& f : filters) {
        out += Widen(f.label);
        out += L'\0';
        out += Widen(f.pattern);
        out += L'\0';
    }
    out += L'\0';
    return out;
}

Win32Ui::~Win32Ui() {
    for (auto& [key, font] : fonts_) DeleteObject(font);
}

void Win32Ui::AttachWindow(HWND window) {
    window_ = window;
    windowThread_ = GetCurrentThreadId();
}

HWND Win32Ui::Control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

bool Win32Ui::OnWindowThread() const { return !window_ || GetCurrentThreadId() == windowThread_; }

void Win32Ui::RunOnWindowThread(const std::function<void()>& fn) {
    if (OnWindowThread()) {
        fn();
        return;
    }
    // A window that is already gone simply does not run it.
    SendMessageW(window_, msg::kInvoke, 0, reinterpret_cast<LPARAM>(&fn));
}

void Win32Ui::RunInvoked(LPARAM lParam) {
    if (auto* fn = reinterpret_cast<const std::function<void()>*>(lParam)) (*fn)();
}

template <class R, class F>
R Win32Ui::Call(R fallback, F&& fn) {
    if (OnWindowThread()) return fn();
    std::optional<R> result;
    RunOnWindowThread([&] { result = fn(); });
    return result ? std::move(*result) : fallback;
}

HWND Win32Ui::Owner() const { return window_ && IsWindow(window_) ? window_ : nullptr; }

void Win32Ui::CreateControl(const ControlDef& def) {
    RunOnWindowThread([&] {
        HWND parent = def.parent == 0 ? window_ : Control(def.parent);
        if (!parent) return;
        DWORD exStyle = 0;
        const wchar_t* cls = L"STATIC";
        DWORD s = StyleFor(def, exStyle, cls);
        const RECT r = Scaled(RECT{def.rect.left, def.rect.top, def.rect.right, def.rect.bottom});
        HWND h = CreateWindowExW(exStyle, cls, Widen(def.caption ? def.caption : "").c_str(), s, r.left, r.top,
                                 r.right - r.left, r.bottom - r.top, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(def.id)), GetModuleHandleW(nullptr),
                                 nullptr);
        if (!h) return;
        // A themed group box draws its caption in the theme's colour, not in
        // the one the window answers for it: these captions keep their own.
        // A class list naming no class turns the styles off (an empty one
        // would too on Windows, but not under Wine).
        if (def.kind == ControlKind::Group) SetWindowTheme(h, L" ", L" ");
        controls_[def.id] = h;
        AttachControlClass(h, def);
    });
}

void Win32Ui::SetFont(int id, const FontDef& font) {
    RunOnWindowThread([&] {
        HWND h = Control(id);
        if (!h) return;
        auto key = std::make_tuple(std::string(font.face ? font.face : ""), font.height, font.width, font.weight,
                                   font.italic, font.underline);
        HFONT& f = fonts_[key];
        if (!f) {
            LOGFONTW lf{};
            lf.lfHeight = Scaled(font.height);
            lf.lfWidth = Scaled(font.width);
            lf.lfWeight = font.weight;
            lf.lfItalic = font.italic;
            lf.lfUnderline = font.underline;
            lf.lfCharSet = DEFAULT_CHARSET;
            lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
            lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
            lf.lfQuality = DEFAULT_QUALITY;
            lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
            std::wstring face = Widen(font.face ? font.face : "");
            if (face.empty()) {
                // The system's default face, by name: left unnamed, some font
                // mappers (Wine's) ignore the width, and a field's digits
                // outgrow the field.
                LOGFONTW gui{};
                if (GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof gui, &gui)) face = gui.lfFaceName;
            }
            lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
            f = CreateFontIndirectW(&lf);
        }
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(f), TRUE);
    });
}

std::string Win32Ui::GetText(int id) {
    return Call(std::string(), [&] {
        HWND h = Control(id);
        if (!h) return std::string();
        wchar_t cls[32] = {};
        GetClassNameW(h, cls, 32);
        if (lstrcmpiW(cls, L"ComboBox") == 0) {
            int sel = int(SendMessageW(h, CB_GETCURSEL, 0, 0));
            return sel < 0 ? std::string() : ComboEntry(id, sel);
        }
        return Narrow(WindowText(h));
    });
}

void Win32Ui::SetText(int id, const std::string& text) {
    RunOnWindowThread([&] {
        if (HWND h = Control(id)) SetWindowTextW(h, Widen(text).c_str());
    });
}

bool Win32Ui::IsChecked(int id) {
    return Call(false, [&] {
        HWND h = Control(id);
        return h && SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED;
    });
}

void Win32Ui::SetChecked(int id, bool checked) {
    RunOnWindowThread([&] {
        if (HWND h = Control(id)) SendMessageW(h, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    });
}

bool Win32Ui::IsEnabled(int id) {
    return Call(false, [&] {
        HWND h = Control(id);
        return h && IsWindowEnabled(h);
    });
}

void Win32Ui::SetEnabled(int id, bool enabled) {
    RunOnWindowThread([&] {
        if (HWND h = Control(id)) EnableWindow(h, enabled);
    });
}

bool Win32Ui::IsVisible(int id) {
    // The control's own flag: a control in a hidden group still counts as shown.
    return Call(false, [&] {
        HWND h = Control(id);
        return h && (GetWindowLongPtrW(h, GWL_STYLE) & WS_VISIBLE) != 0;
    });
}

void Win32Ui::SetVisible(int id, bool visible) {
    RunOnWindowThread([&] {
        if (HWND h = Control(id)) ShowWindow(h, visible ? SW_SHOW : SW_HIDE);
    });
}

void Win32Ui::ComboClear(int id) {
    RunOnWindowThread([&] {
        if (HWND h = Control(id)) SendMessageW(h, CB_RESETCONTENT, 0, 0);
    });
}

void Win32Ui::ComboAdd(int id, const std::string& entry) {
    RunOnWindowThread([&] {
        if (HWND h = Control(id)) SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(entry).c_str()));
    });
}

int Win32Ui::ComboCount(int id) {
    return Call(0, [&] {
        HWND h = Control(id);
        return h ? int(SendMessageW(h, CB_GETCOUNT, 0, 0)) : 0;
    });
}

std::string Win32Ui::ComboEntry(int id, int index) {
    return Call(std::string(), [&] {
        HWND h = Control(id);
        if (!h || index < 0) return std::string();
        LRESULT n = SendMessageW(h, CB_GETLBTEXTLEN, WPARAM(index), 0);
        if (n == CB_ERR) return std::string();
        std::wstring text(size_t(n) + 1, L'\0');
        n = SendMessageW(h, CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text.data()));
        text.resize(n == CB_ERR ? 0 : size_t(n));
        return Narrow(text);
    });
}

int Win32Ui::ComboSelection(int id) {
    return Call(-1, [&] {
        HWND h = Control(id);
        if (!h) return -1;
        LRESULT sel = SendMessageW(h, CB_GETCURSEL, 0, 0);
        return sel == CB_ERR ? -1 : int(sel);
    });
}

void Win32Ui::ComboSelect(int id, int index) {
    RunOnWindowThread([&] {
        if (HWND h = Control(id)) SendMessageW(h, CB_SETCURSEL, WPARAM(index), 0);
    });
}

void Win32Ui::ListSetColumns(int id, const std::vector<std::pair<std::string, int>>& columns) {
    RunOnWindowThread([&] {
        HWND h = Control(id);
        if (!h) return;
        ListView_SetExtendedListViewStyle(h, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_TRACKSELECT);
        ListView_SetTextColor(h, RGB(0, 0, 255));
        ListView_DeleteAllItems(h);
        while (ListView_DeleteColumn(h, 0)) {
        }
        // The first column of a list view is always left-aligned: put a
        // placeholder there and remove it, so every column can be centred.
        LVCOLUMNW placeholder{};
        placeholder.mask = LVCF_WIDTH;
        placeholder.cx = 0;
        ListView_InsertColumn(h, 0, &placeholder);
        for (size_t i = 0; i < columns.size(); ++i) {
            std::wstring title = Widen(columns[i].first);
            LVCOLUMNW col{};
            col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
            col.fmt = LVCFMT_CENTER;
            col.cx = Scaled(columns[i].second);
            col.pszText = title.data();
            col.iSubItem = int(i);
            ListView_InsertColumn(h, int(i) + 1, &col);
        }
        ListView_DeleteColumn(h, 0);
        for (int row = 0; row < 16; ++row) {
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = row;
            wchar_t empty[1] = {L'\0'};
            item.pszText = empty;
            ListView_InsertItem(h, &item);
        }
    });
}

void Win32Ui::ListSetCell(int id, int row, int column, const std::string& text) {
    RunOnWindowThread([&] {
        HWND h = Control(id);
        if (!h || row < 0 || column < 0) return;
        while (ListView_GetItemCount(h) <= row) {
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = ListView_GetItemCount(h);
            wchar_t empty[1] = {L'\0'};
            item.pszText = empty;
            if (ListView_InsertItem(h, &item) < 0) return;
        }
        std::wstring w = Widen(text);
        ListView_SetItemText(h, row, column, w.data());
    });
}

std::string Win32Ui::ListCell(int id, int row, int column) {
    return Call(std::string(), [&] {
        HWND h = Control(id);
        if (!h || row < 0 || column < 0 || row >= ListView_GetItemCount(h)) return std::string();
        wchar_t buffer[64] = {};
        ListView_GetItemText(h, row, column, buffer, 64);
        return Narrow(buffer);
    });
}

MsgAnswer Win32Ui::MessageBox(const MessageBoxSpec& spec) {
    MsgAnswer refused = AnswerFor(spec.buttons, 0);
    return Call(refused, [&] {
        int r = ::MessageBoxW(Owner(), Widen(spec.text).c_str(), Widen(spec.caption).c_str(), MessageBoxFlags(spec));
        return AnswerFor(spec.buttons, r);
    });
}

std::optional<std::string> Win32Ui::AskPassword() {
    return Call(std::optional<std::string>(), [&] { return RunPasswordEntryDialog(Owner()); });
}

std::optional<std::string> Win32Ui::AskNewPassword() {
    return Call(std::optional<std::string>(), [&] { return RunSetPasswordDialog(Owner()); });
}

std::optional<std::string> Win32Ui::FileDialog(bool save, const std::vector<FileFilter>& filters) {
    return Call(std::optional<std::string>(), [&]() -> std::optional<std::string> {
        std::wstring filter = FilterString(filters);
        std::vector<wchar_t> path(32768, L'\0');
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = Owner();
        ofn.lpstrFilter = filter.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = path.data();
        ofn.nMaxFile = DWORD(path.size());
        ofn.lpstrDefExt = nullptr;
        // The working folder stays put whatever the operator browses to.
        ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
        if (save) ofn.Flags |= OFN_OVERWRITEPROMPT;
        else ofn.Flags |= OFN_FILEMUSTEXIST;
        BOOL ok = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
        if (!ok) return std::nullopt;
        return Narrow(path.data());
    });
}

std::optional<std::string> Win32Ui::OpenFileDialog(const std::vector<FileFilter>& filters) {
    return FileDialog(false, filters);
}

std::optional<std::string> Win32Ui::SaveFileDialog(const std::vector<FileFilter>& filters) {
    return FileDialog(true, filters);
}

std::optional<std::string> Win32Ui::EditCodeDialog(const std::string& value, const std::string& address) {
    return Call(std::optional<std::string>(), [&] { return RunEditCodeDialog(Owner(), value, address); });
}

void Win32Ui::Tone(int hz, int ms) {
    // On the calling thread: the buzzer sounds from the worker, and the
    // operation is meant to end only after its tone.
    ::Beep(DWORD(hz), DWORD(ms));
}

void Win32Ui::RefreshCursor() {
    RunOnWindowThread([&] {
        if (!Owner()) return;
        POINT pt;
        if (!GetCursorPos(&pt)) return;
        HWND under = WindowFromPoint(pt);
        if (under && GetAncestor(under, GA_ROOT) == window_)
            SendMessageW(window_, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    });
}

void Win32Ui::StartLinkTimer(int timerId, int periodMs) {
    RunOnWindowThread([&] {
        if (Owner()) SetTimer(window_, UINT_PTR(timerId), UINT(periodMs), nullptr);
    });
}

void Win32Ui::OpenWebAddress(const std::string& url) {
    RunOnWindowThread([&] { ShellExecuteW(Owner(), L"open", Widen(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL); });
}

void Win32Ui::SendBusyState(int id, bool busy) {
    RunOnWindowThread([&] {
        if (HWND h = Control(id)) SendMessageW(h, msg::kBusyState, 0, busy ? 1 : 0);
    });
}

void Win32Ui::ServePendingCalls() {
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

void Win32Ui::CloseMainWindow() {
    RunOnWindowThread([&] {
        if (Owner()) EndDialog(window_, 0);
    });
}

}  // namespace veldrix
