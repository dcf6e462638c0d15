#include "platform/win32/SmallDialogs.h"

#include "platform/win32/Dpi.h"
#include "platform/win32/Text.h"
#include "resources/resource.h"

namespace veldrix {

namespace {

HWND AddControl(HWND dialog, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, int id,
                RECT at) {
    const RECT r = Scaled(at);
    HWND h = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right - r.left,
                             r.bottom - r.top, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleW(nullptr), nullptr);
    SendMessageW(h, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), FALSE);
    return h;
}

HWND AddPrompt(HWND dialog, const char* text, int id, RECT r) {
    return AddControl(dialog, L"STATIC", Widen(text).c_str(), SS_CENTER, 0, id, r);
}

HWND AddPasswordField(HWND dialog, int id, RECT r) {
    return AddControl(dialog, L"EDIT", L"", ES_PASSWORD | ES_CENTER | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE,
                      id, r);
}

// The field's text, cut to max characters as a fixed buffer would.
std::string FieldText(HWND dialog, int id, int max) {
    std::wstring text(size_t(max) + 1, L'\0');
    int n = GetDlgItemTextW(dialog, id, text.data(), max + 1);
    text.resize(size_t(n < 0 ? 0 : n));
    return Narrow(text);
}

struct DialogResult {
    std::string value;
    std::string address;  // edit-code dialog only
};

template <class Self>
Self* From(HWND dialog, UINT message, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    return reinterpret_cast<Self*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

INT_PTR CALLBACK PasswordEntryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* result = From<DialogResult>(dialog, message, lParam);
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowTextW(dialog, Widen("请输入操作密码").c_str());
        AddPrompt(dialog, "该操作需要操作密码:", IDC_PASSWORD_PROMPT1, {10, 20, 150, 40});
        AddPrompt(dialog, "请输入您的操作密码:", IDC_PASSWORD_PROMPT2, {10, 45, 150, 65});
        HWND field = AddPasswordField(dialog, IDC_PASSWORD_FIELD, {150, 30, 250, 55});
        SetFocus(field);
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            result->value = FieldText(dialog, IDC_PASSWORD_FIELD, 8);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK SetPasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* result = From<DialogResult>(dialog, message, lParam);
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowTextW(dialog, Widen("请输入新密码:").c_str());
        AddPrompt(dialog, "请输入新密码:", IDC_NEW_PROMPT1, {10, 20, 150, 40});
        AddPrompt(dialog, "再次输入新密码:", IDC_NEW_PROMPT2, {10, 45, 150, 65});
        HWND first = AddPasswordField(dialog, IDC_NEW_FIELD1, {160, 20, 260, 40});
        AddPasswordField(dialog, IDC_NEW_FIELD2, {160, 45, 260, 65});
        SetFocus(first);
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            std::string first = FieldText(dialog, IDC_NEW_FIELD1, 8);
            std::string second = FieldText(dialog, IDC_NEW_FIELD2, 8);
            if (first == second) {
                result->value = first;
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            MessageBoxW(dialog, Widen("新密码两次输入不相同,请重新输入!").c_str(), Widen("输入错误").c_str(),
                        MB_OK | MB_ICONWARNING);
            SetDlgItemTextW(dialog, IDC_NEW_FIELD1, L"");
            SetDlgItemTextW(dialog, IDC_NEW_FIELD2, L"");
            SetFocus(GetDlgItem(dialog, IDC_NEW_FIELD1));
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK EditCodeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* result = From<DialogResult>(dialog, message, lParam);
    switch (message) {
    case WM_INITDIALOG: {
        std::string prompt = "请输入新值(地址--" + result->address + "):";
        SetDlgItemTextW(dialog, -1, Widen(prompt).c_str());
        HWND field = AddControl(dialog, L"EDIT", Widen(result->value).c_str(),
                                ES_UPPERCASE | ES_CENTER | ES_AUTOHSCROLL | WS_TABSTOP | WS_BORDER, 0,
                                IDC_EDIT_CODE_VALUE, {30, 60, 170, 85});
        SetFocus(field);
        SendMessageW(field, EM_SETSEL, 0, -1);
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            result->value = FieldText(dialog, IDC_EDIT_CODE_VALUE, 99);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

std::optional<std::string> Run(int templateId, DLGPROC proc, HWND owner, DialogResult& result) {
    INT_PTR r = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), owner, proc,
                                reinterpret_cast<LPARAM>(&result));
    if (r != IDOK) return std::nullopt;
    return result.value;
}

}  // namespace

std::optional<std::string> RunPasswordEntryDialog(HWND owner) {
    DialogResult result;
    return Run(IDD_PASSWORD_ENTRY, PasswordEntryProc, owner, result);
}

std::optional<std::string> RunSetPasswordDialog(HWND owner) {
    DialogResult result;
    return Run(IDD_SET_PASSWORD, SetPasswordProc, owner, result);
}

std::optional<std::string> RunEditCodeDialog(HWND owner, const std::string& value, const std::string& address) {
    DialogResult result{value, address};
    return Run(IDD_EDIT_CODE, EditCodeProc, owner, result);
}

}  // namespace veldrix
