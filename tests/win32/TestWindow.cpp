#include "TestWindow.h"

#include "app/ControlTable.h"
#include "platform/win32/WindowMessages.h"

namespace veldrix::test {

namespace {
constexpr wchar_t kClass[] = L"VeldrixTestWindow";
}

TestWindow::TestWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RegisterClassW(&wc);
    window_ = CreateWindowExW(0, kClass, L"test", WS_OVERLAPPEDWINDOW, 0, 0, 660, 660, nullptr, nullptr,
                              GetModuleHandleW(nullptr), this);
    ui.AttachWindow(window_);
}

TestWindow::~TestWindow() { DestroyWindow(window_); }

std::vector<Received> TestWindow::Of(UINT message) const {
    std::vector<Received> out;
    for (const Received& r : received)
        if (r.message == message) out.push_back(r);
    return out;
}

void TestWindow::CreateAllControls() {
    for (const ControlDef& def : MainControls()) ui.CreateControl(def);
}

bool TestWindow::PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > DWORD(timeoutMs)) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }
    return true;
}

LRESULT CALLBACK TestWindow::Proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_NCCREATE)
        SetWindowLongPtrW(h, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
    auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (!self) return DefWindowProcW(h, m, wp, lp);
    if (m == msg::kInvoke) {
        Win32Ui::RunInvoked(lp);
        return 0;
    }
    if (m >= msg::kControlClick && m <= msg::kStartSearch) {
        if (m == msg::kControlClick && self->onClick) self->onClick(int(wp));
        self->received.push_back({m, wp, lp});
        if (m == msg::kQueryLinkError) return self->linkError;
        return 0;
    }
    return DefWindowProcW(h, m, wp, lp);
}

void Press(HWND control, int x, int y) { SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y)); }
void Release(HWND control, int x, int y) { SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }
void DoubleClick(HWND control, int x, int y) {
    SendMessageW(control, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}
void TypeChars(HWND control, const wchar_t* text) {
    for (const wchar_t* p = text; *p; ++p) SendMessageW(control, WM_CHAR, *p, 1);
}

}  // namespace veldrix::test
