// veldrix-driver: works the running VELDRIX window from outside, the way an
// operator would: finds it and its controls, clicks with mouse messages,
// types, reads texts and check marks, answers message boxes and file dialogs.
//
//   veldrix-driver COMMAND ARG...    one command
//   veldrix-driver run FILE          one command a line (UTF-8; "quoted" arguments, # comments)
//
// Commands (T = time-out in seconds, ID = control id or IDOK/IDYES/IDNO/IDCANCEL):
//   wait-window T                the main window is shown
//   wait-gone T                  the main window has gone (the program closed it)
//   wait-status TEXT T           the status line reads TEXT
//   wait-status-prefix TEXT T    the status line begins with TEXT
//   wait-status-colour TEXT C T  the status line reads TEXT in colour C (red or blue)
//   wait-text ID TEXT T          control ID reads TEXT
//   text ID                      print the text of control ID
//   expect ID TEXT               control ID reads TEXT now
//   expect-prefix ID TEXT        control ID begins with TEXT now
//   click-taken ID T             click ID until the status line changes, at most T s
//   expect-fits ID               edit field ID shows its whole text, nothing cut off
//   expect-check ID 0|1          check box or radio state
//   expect-enabled ID 0|1
//   expect-visible ID 0|1        visible on the screen (its groups included)
//   click ID                     press and release the left button at the control's centre
//   key ID KEY                   press and release KEY (F2..F12, ENTER, TAB) on the control
//   type ID TEXT                 type TEXT into the control, character by character
//   select-all ID                select the whole text of an edit field
//   select ID TEXT               pick the entry TEXT of a drop-down list
//   wait-box TEXT T              a message box of the main window shows TEXT
//   expect-box-caption TEXT      the open message box has caption TEXT
//   box-text                     print caption and text of the open message box
//   answer ID                    press button ID of the open message box
//   wait-dialog ID T             a dialog of the main window with a control ID is open
//   box-type ID TEXT             type TEXT into control ID of the open dialog (password entry)
//   no-box                       no message box or dialog of the main window is open
//   open-file PATH T             answer the open-file dialog with PATH
//   cancel-file T                cancel the open-file or save-file dialog
//   responsive ID BUSY DONE T    poll control ID with time-limited requests until its text
//                                begins with DONE; every request must be answered, and at
//                                least one must have seen a text beginning with BUSY
//   dialogs                      list the dialogs of the main window and their controls
//   close                        ask the main window to close (WM_CLOSE)
//   wait-frame T                 the screen shows the main window's caption bar, system menu included
//   expect-dpi N                 the screen has N pixels per logical inch
//   expect-on-screen             the main window lies whole inside the desktop's work area
//   expect-scaled ID W H         control ID is W x H pixels of the 96-DPI layout at the screen's DPI (within 1)
//   expect-caption-colour ID R G B   the caption of group box ID is drawn on the screen in this colour
// In TEXT arguments "\n" stands for a line break.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

const wchar_t kCaptionPrefix[] = L"VELDRIX V3.0";
constexpr int kStatusLine = 157;
constexpr UINT kQueryLinkError = WM_USER + 4;  // what paints the status line red
constexpr int kFileNameField = 1148;  // cmb13 / edt1 of the common file dialogs
constexpr int kMessageText = 0xFFFF;  // the text label of a message box
constexpr UINT kAnswerMs = 5000;      // a window that takes longer than this is hung

// --- text -------------------------------------------------------------------

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), n);
    return w;
}

// Message texts hold real line breaks; the scripts write them as \n.
std::wstring Unescape(const std::wstring& in) {
    std::wstring out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == L'\\' && i + 1 < in.size() && in[i + 1] == L'n') {
            out += L'\n';
            ++i;
        } else {
            out += in[i];
        }
    }
    return out;
}

// Shows line breaks as the scripts write them, so a failure line stays one line.
std::string Shown(const std::wstring& w) {
    std::wstring out;
    for (wchar_t c : w) {
        if (c == L'\n') out += L"\\n";
        else if (c != L'\r') out += c;
    }
    std::string quoted(1, '"');
    quoted += Utf8(out);
    quoted += '"';
    return quoted;
}

void Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

struct Failure {
    std::string what;
};

[[noreturn]] void Fail(const std::string& what) { throw Failure{what}; }

// --- finding windows -------------------------------------------------------------

std::wstring ClassOf(HWND h) {
    wchar_t name[64] = {};
    GetClassNameW(h, name, 64);
    return name;
}

// Texts of another process's controls come through a message, with a bound.
bool TryReadText(HWND h, std::wstring& out, UINT limitMs = kAnswerMs) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, limitMs, &length)) return false;
    std::wstring text(size_t(length) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, WPARAM(text.size()), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, limitMs, &got))
        return false;
    text.resize(size_t(got) <= length ? size_t(got) : size_t(length));
    out = text;
    return true;
}

std::wstring ReadText(HWND h) {
    std::wstring text;
    if (!TryReadText(h, text)) Fail("the window did not answer WM_GETTEXT within " + std::to_string(kAnswerMs) + " ms");
    return text;
}

LRESULT Ask(HWND h, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(h, message, wParam, lParam, SMTO_ABORTIFHUNG, kAnswerMs, &result))
        Fail("the window did not answer message " + std::to_string(message) + " within " +
             std::to_string(kAnswerMs) + " ms");
    return LRESULT(result);
}

HWND FindMainWindow() {
    HWND found = nullptr;
    EnumWindows(
        [](HWND h, LPARAM param) CALLBACK -> BOOL {
            if (GetWindow(h, GW_OWNER) || !IsWindowVisible(h)) return TRUE;
            wchar_t caption[128] = {};
            GetWindowTextW(h, caption, 128);
            if (wcsncmp(caption, kCaptionPrefix, wcslen(kCaptionPrefix)) != 0) return TRUE;
            *reinterpret_cast<HWND*>(param) = h;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND MainWindow() {
    HWND main = FindMainWindow();
    if (!main) Fail("no main window (caption beginning \"VELDRIX V3.0\")");
    return main;
}

// Controls sit inside group boxes: search every descendant (of one class, when given).
HWND FindDescendant(HWND root, int id, const wchar_t* cls = nullptr) {
    struct Search {
        int id;
        const wchar_t* cls;
        HWND found;
    } search{id, cls, nullptr};
    EnumChildWindows(
        root,
        [](HWND h, LPARAM param) CALLBACK -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            if (GetDlgCtrlID(h) != s->id || (s->cls && lstrcmpiW(ClassOf(h).c_str(), s->cls) != 0)) return TRUE;
            s->found = h;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A dialog's own push buttons are its direct children; deeper ones may share their ids.
HWND DialogButton(HWND dialog, int id) {
    HWND h = GetDlgItem(dialog, id);
    return h && ClassOf(h) == L"Button" ? h : FindDescendant(dialog, id, L"Button");
}

HWND Control(int id) {
    HWND h = FindDescendant(MainWindow(), id);
    if (!h) Fail("no control with id " + std::to_string(id) + " in the main window");
    return h;
}

// The dialogs the main window owns: message boxes and file dialogs.
std::vector<HWND> OwnedDialogs(HWND main) {
    struct Collect {
        HWND main;
        std::vector<HWND> found;
    } collect{main, {}};
    EnumWindows(
        [](HWND h, LPARAM param) CALLBACK -> BOOL {
            auto* c = reinterpret_cast<Collect*>(param);
            if (GetWindow(h, GW_OWNER) == c->main && IsWindowVisible(h) && ClassOf(h) == L"#32770")
                c->found.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&collect));
    return collect.found;
}

bool IsFileDialog(HWND dialog) { return FindDescendant(dialog, kFileNameField) != nullptr; }

HWND FindBox(HWND main) {
    for (HWND d : OwnedDialogs(main))
        if (!IsFileDialog(d)) return d;
    return nullptr;
}

HWND FindFileDialog(HWND main) {
    for (HWND d : OwnedDialogs(main))
        if (IsFileDialog(d)) return d;
    return nullptr;
}

std::wstring BoxText(HWND box) {
    if (HWND label = FindDescendant(box, kMessageText)) return ReadText(label);
    // Not a standard message box: the longest label says what it is about.
    std::wstring best;
    for (HWND h = GetWindow(box, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
        if (ClassOf(h) == L"Static") {
            std::wstring t = ReadText(h);
            if (t.size() > best.size()) best = t;
        }
    return best;
}

std::wstring Caption(HWND h) {
    wchar_t caption[256] = {};
    GetWindowTextW(h, caption, 256);
    return caption;
}

// What is on the screen besides the main window, for failure lines.
std::string OpenDialogsNote() {
    HWND main = FindMainWindow();
    if (!main) return " (the main window is gone)";
    std::string note;
    for (HWND d : OwnedDialogs(main)) {
        if (IsFileDialog(d)) note += " [a file dialog is open: " + Shown(Caption(d)) + "]";
        else note += " [a message box is open: " + Shown(Caption(d)) + " " + Shown(BoxText(d)) + "]";
    }
    return note;
}

// --- time ------------------------------------------------------------------------

double Seconds(const std::wstring& s) {
    wchar_t* end = nullptr;
    double v = wcstod(s.c_str(), &end);
    if (!end || *end || v < 0) Fail("bad time-out " + Shown(s));
    return v;
}

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

// Polls until the condition holds; false when the time-out passed first.
bool WaitFor(double seconds, const std::function<bool()>& condition) {
    ULONGLONG deadline = GetTickCount64() + ULONGLONG(seconds * 1000);
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(20);
    }
}

// --- acting ----------------------------------------------------------------------

int ParseId(const std::wstring& s) {
    if (s == L"IDOK") return IDOK;
    if (s == L"IDCANCEL") return IDCANCEL;
    if (s == L"IDYES") return IDYES;
    if (s == L"IDNO") return IDNO;
    wchar_t* end = nullptr;
    long v = wcstol(s.c_str(), &end, 10);
    if (!end || *end || s.empty()) Fail("bad control id " + Shown(s));
    return int(v);
}

bool ParseFlag(const std::wstring& s) {
    if (s == L"1") return true;
    if (s == L"0") return false;
    Fail("expected 0 or 1, got " + Shown(s));
}

// Input goes in the order it was given, without waiting for its handling; a
// request sent after it is answered once it has been handled or has opened a
// modal loop (a message box), which is what the operator would see.
void Deliver(HWND h, UINT message, WPARAM wParam, LPARAM lParam) { SendNotifyMessageW(h, message, wParam, lParam); }

void Settle(HWND h) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(h, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &ignored);
}

// Down and up at the centre of the control, as the mouse would.
void ClickAt(HWND h, const std::string& what) {
    if (!IsWindowVisible(h)) Fail("cannot click " + what + ": it is not visible");
    if (!IsWindowEnabled(h)) Fail("cannot click " + what + ": it is disabled");
    RECT rc;
    GetClientRect(h, &rc);
    LPARAM at = MAKELPARAM((rc.right - rc.left) / 2, (rc.bottom - rc.top) / 2);
    Deliver(h, WM_MOUSEMOVE, 0, at);
    Deliver(h, WM_LBUTTONDOWN, MK_LBUTTON, at);
    Deliver(h, WM_LBUTTONUP, 0, at);
    Settle(h);
}

UINT VirtualKey(const std::wstring& name) {
    if (name.size() >= 2 && name[0] == L'F') {
        int n = _wtoi(name.c_str() + 1);
        if (n >= 1 && n <= 24) return VK_F1 + UINT(n - 1);
    }
    if (name == L"ENTER") return VK_RETURN;
    if (name == L"TAB") return VK_TAB;
    if (name == L"ESC") return VK_ESCAPE;
    Fail("unknown key " + Shown(name));
}

void PressKey(HWND h, UINT vk) {
    UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    Deliver(h, WM_KEYDOWN, vk, LPARAM(1 | (scan << 16)));
    Deliver(h, WM_KEYUP, vk, LPARAM(1 | (scan << 16) | (1u << 30) | (1u << 31)));
    Settle(h);
}

void Type(HWND h, const std::wstring& text) {
    for (wchar_t c : text) Deliver(h, WM_CHAR, c, 1);
    Settle(h);
}

HWND WaitBox(double seconds) {
    HWND box = nullptr;
    WaitFor(seconds, [&] {
        HWND main = FindMainWindow();
        box = main ? FindBox(main) : nullptr;
        return box != nullptr;
    });
    return box;
}

HWND OpenBox() {
    HWND box = FindBox(MainWindow());
    if (!box) Fail("no message box is open");
    return box;
}

// --- commands --------------------------------------------------------------------

using Args = std::vector<std::wstring>;

void Need(const Args& a, size_t n, const char* usage) {
    if (a.size() != n + 1) Fail(std::string("usage: ") + usage);
}

void WaitText(int id, const std::wstring& expected, bool prefix, double seconds) {
    std::wstring seen;
    bool answered = true;
    bool ok = WaitFor(seconds, [&] {
        HWND main = FindMainWindow();
        HWND h = main ? FindDescendant(main, id) : nullptr;
        if (!h) return false;
        answered = TryReadText(h, seen);
        if (!answered) return false;
        return prefix ? seen.compare(0, expected.size(), expected) == 0 : seen == expected;
    });
    if (ok) return;
    Fail("control " + std::to_string(id) + " reads " + Shown(seen) + ", expected " + (prefix ? "a text beginning " : "") +
         Shown(expected) + " within " + SecondsText(seconds) +
         (answered ? "" : " (the window stopped answering)") + OpenDialogsNote());
}

// Clicks ID until the status line leaves the text it had: a window that is
// still finishing the last operation ignores the press, as an operator's
// press too soon after the status changed would be.
void ClickTaken(int id, double seconds) {
    HWND button = Control(id);
    std::wstring before = ReadText(Control(kStatusLine)), seen = before;
    ULONGLONG deadline = GetTickCount64() + ULONGLONG(seconds * 1000);
    while (seen == before) {
        if (GetTickCount64() >= deadline)
            Fail("control " + std::to_string(id) + " was pressed for " + SecondsText(seconds) +
                 " and the status line still reads " + Shown(seen));
        ClickAt(button, "control " + std::to_string(id));
        WaitFor(0.5, [&] { return TryReadText(Control(kStatusLine), seen) && seen != before; });
    }
}

// The status line is red while the last step failed, blue otherwise.
void WaitStatusColour(const std::wstring& expected, const std::wstring& colour, double seconds) {
    if (colour != L"red" && colour != L"blue") Fail("the status colour is red or blue, not " + Shown(colour));
    bool wantRed = colour == L"red";
    std::wstring seen;
    bool red = false;
    bool ok = WaitFor(seconds, [&] {
        HWND main = FindMainWindow();
        HWND h = main ? FindDescendant(main, kStatusLine) : nullptr;
        if (!h || !TryReadText(h, seen)) return false;
        DWORD_PTR flag = 0;
        if (!SendMessageTimeoutW(main, kQueryLinkError, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &flag)) return false;
        red = flag == 1;
        return seen == expected && red == wantRed;
    });
    if (!ok)
        Fail("the status line reads " + Shown(seen) + " in " + (red ? "red" : "blue") + ", expected " +
             Shown(expected) + " in " + Utf8(colour) + " within " + SecondsText(seconds) + OpenDialogsNote());
}

// Between two colours channel by channel: a caption bar is one colour or a
// gradient from one to the other.
bool Between(COLORREF c, int from, int to) {
    COLORREF a = GetSysColor(from), b = GetSysColor(to);
    auto in = [](int v, int x, int y) { return v >= (x < y ? x : y) - 8 && v <= (x < y ? y : x) + 8; };
    return in(GetRValue(c), GetRValue(a), GetRValue(b)) && in(GetGValue(c), GetGValue(a), GetGValue(b)) &&
           in(GetBValue(c), GetBValue(a), GetBValue(b));
}

// What the screen shows, not what the window says it has: where nothing
// draws the caption (no window manager, no Wine desktop) the band above the
// client area holds whatever lies behind it.
void WaitFrame(double seconds) {
    HWND main = MainWindow();
    LONG style = GetWindowLongW(main, GWL_STYLE);
    if ((style & WS_CAPTION) != WS_CAPTION || !(style & WS_SYSMENU)) {
        char text[16];
        std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(style));
        Fail(std::string("the main window has no caption bar or no system menu: style ") + text);
    }
    RECT outer;
    GetWindowRect(main, &outer);
    POINT client{0, 0};
    ClientToScreen(main, &client);
    int caption = GetSystemMetrics(SM_CYCAPTION);
    if (client.y - outer.top < caption) Fail("the main window has no room for a caption bar");
    // Between the title and the caption buttons.
    int y = client.y - caption / 2;
    int x = outer.right - GetSystemMetrics(SM_CXFIXEDFRAME) - 3 * GetSystemMetrics(SM_CXSIZE) - 10;
    std::string seen;
    bool ok = WaitFor(seconds, [&] {
        HDC screen = GetDC(nullptr);
        seen.clear();
        bool drawn = true;
        for (int i = 0; i < 5; ++i) {
            COLORREF c = GetPixel(screen, x - 10 * i, y);
            char text[32];
            std::snprintf(text, sizeof text, " %02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
            seen += text;
            drawn = drawn && (Between(c, COLOR_ACTIVECAPTION, COLOR_GRADIENTACTIVECAPTION) ||
                              Between(c, COLOR_INACTIVECAPTION, COLOR_GRADIENTINACTIVECAPTION));
        }
        ReleaseDC(nullptr, screen);
        return drawn;
    });
    if (!ok)
        Fail("the caption bar is not drawn: the screen shows" + seen + " where it should be, after " +
             SecondsText(seconds));
}

int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

void ExpectScaled(int id, int width, int height) {
    RECT r;
    GetWindowRect(Control(id), &r);
    const int dpi = ScreenDpi(), w = MulDiv(width, dpi, 96), h = MulDiv(height, dpi, 96);
    if (std::abs(r.right - r.left - w) > 1 || std::abs(r.bottom - r.top - h) > 1)
        Fail("control " + std::to_string(id) + " is " + std::to_string(r.right - r.left) + " x " +
             std::to_string(r.bottom - r.top) + " pixels, expected " + std::to_string(w) + " x " + std::to_string(h) +
             " at " + std::to_string(dpi) + " DPI");
}

// What the screen shows along the top of a group box, where its caption is
// drawn: enough pixels of the colour laid over the background. Small strokes
// are smoothed, so a pixel is the background moved some way towards the
// text's colour; text of another colour moves it elsewhere (black text on a
// light grey gives greys).
void ExpectCaptionColour(int id, int red, int green, int blue) {
    RECT r;
    GetWindowRect(Control(id), &r);
    const int width = r.right - r.left, height = std::min<int>(r.bottom - r.top, MulDiv(16, ScreenDpi(), 96));
    HDC screen = GetDC(nullptr);
    HDC copy = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(copy, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(copy, bitmap);
    BitBlt(copy, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::map<COLORREF, int> seen;
    const auto* pixel = static_cast<const uint32_t*>(bits);
    for (int i = 0; bits && i < width * height; ++i)
        ++seen[RGB(int(pixel[i] >> 16 & 0xFF), int(pixel[i] >> 8 & 0xFF), int(pixel[i] & 0xFF))];
    COLORREF background = 0;
    int most = 0;
    for (auto [c, n] : seen)
        if (n > most) most = n, background = c;
    const int from[3] = {GetRValue(background), GetGValue(background), GetBValue(background)};
    const int to[3] = {red, green, blue};
    int widest = 0;
    for (int k = 1; k < 3; ++k)
        if (std::abs(to[k] - from[k]) > std::abs(to[widest] - from[widest])) widest = k;
    int hits = 0;
    for (auto [c, n] : seen) {
        const int at[3] = {GetRValue(c), GetGValue(c), GetBValue(c)};
        if (to[widest] == from[widest]) break;
        double t = double(at[widest] - from[widest]) / double(to[widest] - from[widest]);
        if (t < 0.25 || t > 1.1) continue;
        bool along = true;
        for (int k = 0; k < 3; ++k) along = along && std::abs(at[k] - (from[k] + t * (to[k] - from[k]))) <= 16;
        if (along) hits += n;
    }
    SelectObject(copy, old);
    DeleteObject(bitmap);
    DeleteDC(copy);
    ReleaseDC(nullptr, screen);
    if (hits >= 4) return;
    // The colours most seen, to tell what was drawn instead.
    std::vector<std::pair<int, COLORREF>> common;
    for (auto [c, n] : seen) common.push_back({n, c});
    std::sort(common.rbegin(), common.rend());
    std::string list;
    for (size_t i = 0; i < common.size() && i < 6; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, " %02X%02X%02X x%d", GetRValue(common[i].second), GetGValue(common[i].second),
                      GetBValue(common[i].second), common[i].first);
        list += text;
    }
    char want[16];
    std::snprintf(want, sizeof want, "%02X%02X%02X", red, green, blue);
    Fail("the caption of group box " + std::to_string(id) + " shows " + std::to_string(hits) + " pixels of " + want +
         "; the top band holds" + list);
}

void Expect(int id, const std::wstring& expected, bool prefix) {
    std::wstring seen = ReadText(Control(id));
    bool ok = prefix ? seen.compare(0, expected.size(), expected) == 0 : seen == expected;
    if (!ok)
        Fail("control " + std::to_string(id) + " reads " + Shown(seen) + ", expected " +
             (prefix ? "a text beginning " : "") + Shown(expected));
}

// The whole text of an edit field is drawn inside it: not scrolled, and the
// position past its last character within the client area.
void ExpectFits(int id) {
    HWND field = Control(id);
    std::wstring seen = ReadText(field);
    if (seen.empty()) Fail("control " + std::to_string(id) + " is empty: nothing to measure");
    RECT client{};
    GetClientRect(field, &client);
    if (seen.size() < 2) Fail("control " + std::to_string(id) + " needs two characters to be measured");
    LRESULT first = Ask(field, EM_GETFIRSTVISIBLELINE);
    auto x = [&](size_t i) { return int(short(LOWORD(Ask(field, EM_POSFROMCHAR, WPARAM(i))))); };
    // The field has no position past its end: the last character is as wide
    // as the one before it (the values measured are digits).
    int startX = x(0), last = x(seen.size() - 1), endX = last + (last - x(seen.size() - 2));
    if (first != 0 || startX < 0 || endX > client.right)
        Fail("control " + std::to_string(id) + " shows " + Shown(seen) + " from x " + std::to_string(startX) +
             " to " + std::to_string(endX) + " (first visible character " + std::to_string(first) +
             ") in a field " + std::to_string(client.right) + " wide");
}

void SelectEntry(int id, const std::wstring& entry) {
    HWND combo = Control(id);
    LRESULT count = Ask(combo, CB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT n = Ask(combo, CB_GETLBTEXTLEN, WPARAM(i));
        if (n == CB_ERR) continue;
        std::wstring text(size_t(n) + 1, L'\0');
        Ask(combo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text.data()));
        text.resize(size_t(n));
        if (text != entry) continue;
        Ask(combo, CB_SETCURSEL, WPARAM(i));
        // What the list sends its parent when the operator picks an entry.
        Ask(GetParent(combo), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
        return;
    }
    Fail("control " + std::to_string(id) + " has no entry " + Shown(entry));
}

void OpenFile(const std::wstring& path, double seconds) {
    HWND dialog = nullptr;
    if (!WaitFor(seconds, [&] {
            HWND main = FindMainWindow();
            dialog = main ? FindFileDialog(main) : nullptr;
            return dialog != nullptr;
        }))
        Fail("no open-file dialog appeared within the time-out" + OpenDialogsNote());
    // The name field is an edit, or a combo box with an edit inside.
    HWND name = FindDescendant(dialog, kFileNameField, L"Edit");
    if (!name) name = FindDescendant(dialog, kFileNameField);
    // Typed in, as the dialog learns of the name from the keystrokes.
    Ask(name, EM_SETSEL, 0, -1);
    Type(name, path);
    std::wstring typed = ReadText(name);
    if (typed != path) Fail("the file-name field reads " + Shown(typed) + " after typing " + Shown(path));
    HWND ok = DialogButton(dialog, IDOK);
    if (!ok) Fail("the file dialog has no OK button");
    ClickAt(ok, "the OK button of the file dialog");
    if (!WaitFor(10, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }))
        Fail("the file dialog stayed open after OK with " + Shown(path) + OpenDialogsNote());
}

void CancelFile(double seconds) {
    HWND dialog = nullptr;
    if (!WaitFor(seconds, [&] {
            HWND main = FindMainWindow();
            dialog = main ? FindFileDialog(main) : nullptr;
            return dialog != nullptr;
        }))
        Fail("no file dialog appeared within the time-out" + OpenDialogsNote());
    HWND cancel = DialogButton(dialog, IDCANCEL);
    if (!cancel) Fail("the file dialog has no Cancel button");
    ClickAt(cancel, "the Cancel button of the file dialog");
    if (!WaitFor(10, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }))
        Fail("the file dialog stayed open after Cancel" + OpenDialogsNote());
}

void Responsive(int id, const std::wstring& busy, const std::wstring& done, double seconds) {
    constexpr UINT kLimitMs = 2000;
    int answers = 0, busyAnswers = 0;
    DWORD slowest = 0;
    std::wstring seen;
    bool ok = WaitFor(seconds, [&] {
        HWND main = FindMainWindow();
        HWND h = main ? FindDescendant(main, id) : nullptr;
        if (!h) Fail("control " + std::to_string(id) + " went away while watched");
        DWORD start = GetTickCount();
        if (!TryReadText(h, seen, kLimitMs))
            Fail("the window did not answer WM_GETTEXT within " + std::to_string(kLimitMs) + " ms while control " +
                 std::to_string(id) + " read " + Shown(seen));
        DWORD took = GetTickCount() - start;
        if (took > slowest) slowest = took;
        ++answers;
        if (seen.compare(0, busy.size(), busy) == 0) ++busyAnswers;
        return seen.compare(0, done.size(), done) == 0;
    });
    if (!ok)
        Fail("control " + std::to_string(id) + " reads " + Shown(seen) + ", expected a text beginning " + Shown(done) +
             OpenDialogsNote());
    if (busyAnswers == 0)
        Fail("no request was answered while control " + std::to_string(id) + " read a text beginning " +
             Shown(busy) + ": the window answered only once the work was over (or it was too quick to watch)");
    Print("  " + std::to_string(answers) + " answers, " + std::to_string(busyAnswers) + " while busy, slowest " +
          std::to_string(slowest) + " ms");
}

void Run(const Args& a) {
    const std::wstring& c = a[0];
    if (c == L"wait-window") {
        Need(a, 1, "wait-window T");
        if (!WaitFor(Seconds(a[1]), [] { return FindMainWindow() != nullptr; }))
            Fail("no main window (caption beginning \"VELDRIX V3.0\") appeared within " + Utf8(a[1]) + " s");
    } else if (c == L"wait-gone") {
        Need(a, 1, "wait-gone T");
        if (!WaitFor(Seconds(a[1]), [] { return FindMainWindow() == nullptr; }))
            Fail("the main window is still open after " + Utf8(a[1]) + " s" + OpenDialogsNote());
    } else if (c == L"wait-status" || c == L"wait-status-prefix") {
        Need(a, 2, "wait-status TEXT T");
        WaitText(kStatusLine, Unescape(a[1]), c == L"wait-status-prefix", Seconds(a[2]));
    } else if (c == L"wait-status-colour") {
        Need(a, 3, "wait-status-colour TEXT red|blue T");
        WaitStatusColour(Unescape(a[1]), a[2], Seconds(a[3]));
    } else if (c == L"wait-text") {
        Need(a, 3, "wait-text ID TEXT T");
        WaitText(ParseId(a[1]), Unescape(a[2]), false, Seconds(a[3]));
    } else if (c == L"text") {
        Need(a, 1, "text ID");
        Print(Utf8(ReadText(Control(ParseId(a[1])))));
    } else if (c == L"expect" || c == L"expect-prefix") {
        Need(a, 2, "expect ID TEXT");
        Expect(ParseId(a[1]), Unescape(a[2]), c == L"expect-prefix");
    } else if (c == L"expect-fits") {
        Need(a, 1, "expect-fits ID");
        ExpectFits(ParseId(a[1]));
    } else if (c == L"expect-check") {
        Need(a, 2, "expect-check ID 0|1");
        bool want = ParseFlag(a[2]);
        bool checked = Ask(Control(ParseId(a[1])), BM_GETCHECK) == BST_CHECKED;
        if (checked != want) Fail("control " + Utf8(a[1]) + (checked ? " is checked" : " is not checked"));
    } else if (c == L"expect-enabled") {
        Need(a, 2, "expect-enabled ID 0|1");
        bool want = ParseFlag(a[2]);
        bool enabled = IsWindowEnabled(Control(ParseId(a[1]))) != FALSE;
        if (enabled != want) Fail("control " + Utf8(a[1]) + (enabled ? " is enabled" : " is disabled"));
    } else if (c == L"expect-visible") {
        Need(a, 2, "expect-visible ID 0|1");
        bool want = ParseFlag(a[2]);
        bool visible = IsWindowVisible(Control(ParseId(a[1]))) != FALSE;
        if (visible != want) Fail("control " + Utf8(a[1]) + (visible ? " is visible" : " is hidden"));
    } else if (c == L"click") {
        Need(a, 1, "click ID");
        ClickAt(Control(ParseId(a[1])), "control " + Utf8(a[1]));
    } else if (c == L"click-taken") {
        Need(a, 2, "click-taken ID T");
        ClickTaken(ParseId(a[1]), Seconds(a[2]));
    } else if (c == L"key") {
        Need(a, 2, "key ID KEY");
        PressKey(Control(ParseId(a[1])), VirtualKey(a[2]));
    } else if (c == L"type") {
        Need(a, 2, "type ID TEXT");
        Type(Control(ParseId(a[1])), a[2]);
    } else if (c == L"select-all") {
        Need(a, 1, "select-all ID");
        Ask(Control(ParseId(a[1])), EM_SETSEL, 0, -1);
    } else if (c == L"select") {
        Need(a, 2, "select ID TEXT");
        SelectEntry(ParseId(a[1]), a[2]);
    } else if (c == L"wait-box") {
        Need(a, 2, "wait-box TEXT T");
        std::wstring expected = Unescape(a[1]);
        HWND box = WaitBox(Seconds(a[2]));
        if (!box) Fail("no message box appeared within " + Utf8(a[2]) + " s, expected " + Shown(expected));
        std::wstring text = BoxText(box);
        if (text != expected) Fail("the message box reads " + Shown(text) + ", expected " + Shown(expected));
    } else if (c == L"expect-box-caption") {
        Need(a, 1, "expect-box-caption TEXT");
        std::wstring caption = Caption(OpenBox());
        if (caption != Unescape(a[1]))
            Fail("the message box has caption " + Shown(caption) + ", expected " + Shown(Unescape(a[1])));
    } else if (c == L"box-text") {
        Need(a, 0, "box-text");
        HWND box = OpenBox();
        Print(Shown(Caption(box)) + " " + Shown(BoxText(box)));
    } else if (c == L"wait-dialog") {
        Need(a, 2, "wait-dialog ID T");
        int id = ParseId(a[1]);
        if (!WaitFor(Seconds(a[2]), [&] {
                HWND box = FindBox(MainWindow());
                return box && FindDescendant(box, id);
            }))
            Fail("no dialog with control " + Utf8(a[1]) + " opened");
    } else if (c == L"box-type") {
        Need(a, 2, "box-type ID TEXT");
        HWND field = FindDescendant(OpenBox(), ParseId(a[1]));
        if (!field) Fail("the open dialog has no control " + Utf8(a[1]));
        Type(field, a[2]);
    } else if (c == L"answer") {
        Need(a, 1, "answer ID");
        HWND box = OpenBox();
        int id = ParseId(a[1]);
        HWND button = DialogButton(box, id);
        if (!button) Fail("the message box " + Shown(BoxText(box)) + " has no button " + Utf8(a[1]));
        ClickAt(button, "button " + Utf8(a[1]) + " of the message box");
        if (!WaitFor(5, [&] { return !IsWindow(box) || !IsWindowVisible(box); }))
            Fail("the message box stayed open after " + Utf8(a[1]));
    } else if (c == L"expect-dpi") {
        Need(a, 1, "expect-dpi N");
        if (ScreenDpi() != ParseId(a[1]))
            Fail("the screen has " + std::to_string(ScreenDpi()) + " DPI, expected " + Utf8(a[1]));
    } else if (c == L"expect-on-screen") {
        Need(a, 0, "expect-on-screen");
        RECT window, work;
        GetWindowRect(MainWindow(), &window);
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        if (window.left < work.left || window.top < work.top || window.right > work.right || window.bottom > work.bottom)
            Fail("the main window spans " + std::to_string(window.left) + "," + std::to_string(window.top) + " to " +
                 std::to_string(window.right) + "," + std::to_string(window.bottom) + ", the work area " +
                 std::to_string(work.left) + "," + std::to_string(work.top) + " to " + std::to_string(work.right) +
                 "," + std::to_string(work.bottom));
    } else if (c == L"expect-scaled") {
        Need(a, 3, "expect-scaled ID W H");
        ExpectScaled(ParseId(a[1]), ParseId(a[2]), ParseId(a[3]));
    } else if (c == L"expect-caption-colour") {
        Need(a, 4, "expect-caption-colour ID R G B");
        ExpectCaptionColour(ParseId(a[1]), ParseId(a[2]), ParseId(a[3]), ParseId(a[4]));
    } else if (c == L"wait-frame") {
        Need(a, 1, "wait-frame T");
        WaitFrame(Seconds(a[1]));
    } else if (c == L"no-box") {
        Need(a, 0, "no-box");
        if (!OwnedDialogs(MainWindow()).empty()) Fail("a dialog is open:" + OpenDialogsNote());
    } else if (c == L"open-file") {
        Need(a, 2, "open-file PATH T");
        OpenFile(a[1], Seconds(a[2]));
    } else if (c == L"cancel-file") {
        Need(a, 1, "cancel-file T");
        CancelFile(Seconds(a[1]));
    } else if (c == L"responsive") {
        Need(a, 4, "responsive ID BUSY DONE T");
        Responsive(ParseId(a[1]), Unescape(a[2]), Unescape(a[3]), Seconds(a[4]));
    } else if (c == L"dialogs") {
        Need(a, 0, "dialogs");
        for (HWND d : OwnedDialogs(MainWindow())) {
            Print(Shown(Caption(d)) + " " + Utf8(ClassOf(d)));
            EnumChildWindows(
                d,
                [](HWND h, LPARAM) CALLBACK -> BOOL {
                    wchar_t caption[128] = {};
                    GetWindowTextW(h, caption, 128);
                    Print("  id " + std::to_string(GetDlgCtrlID(h)) + " " + Utf8(ClassOf(h)) + " " + Shown(caption) +
                          (IsWindowVisible(h) ? "" : " hidden") + (IsWindowEnabled(h) ? "" : " disabled"));
                    return TRUE;
                },
                0);
        }
    } else if (c == L"close") {
        Need(a, 0, "close");
        PostMessageW(MainWindow(), WM_CLOSE, 0, 0);
    } else {
        Fail("unknown command " + Shown(c));
    }
}

// Words split at blanks; "double quotes" keep blanks, \" is a quote inside them.
Args SplitLine(const std::wstring& line) {
    Args out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
        if (i >= line.size()) break;
        std::wstring word;
        if (line[i] == L'"') {
            ++i;
            while (i < line.size() && line[i] != L'"') {
                if (line[i] == L'\\' && i + 1 < line.size() && line[i + 1] == L'"') ++i;
                word += line[i++];
            }
            if (i >= line.size()) Fail("unterminated quote");
            ++i;
        } else {
            while (i < line.size() && line[i] != L' ' && line[i] != L'\t') word += line[i++];
        }
        out.push_back(word);
    }
    return out;
}

std::string Joined(const Args& a) {
    std::string s;
    for (const std::wstring& w : a) {
        if (!s.empty()) s += ' ';
        s += w.find(L' ') != std::wstring::npos ? Shown(w) : Utf8(w);
    }
    return s;
}

int RunFile(const std::wstring& path) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) {
        Print("FAIL: cannot read " + Utf8(path));
        return 2;
    }
    std::string bytes;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
    std::fclose(f);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);

    std::wstring all = Wide(bytes);
    size_t lineNo = 0, pos = 0;
    while (pos <= all.size()) {
        size_t end = all.find(L'\n', pos);
        if (end == std::wstring::npos) end = all.size();
        std::wstring line = all.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        Args args;
        try {
            args = SplitLine(line);
        } catch (const Failure& f) {
            Print("FAIL: " + Utf8(path) + ":" + std::to_string(lineNo) + ": " + f.what);
            return 1;
        }
        if (args.empty() || args[0][0] == L'#') continue;
        ULONGLONG started = GetTickCount64();
        try {
            Run(args);
        } catch (const Failure& f) {
            Print("FAIL: " + Utf8(path) + ":" + std::to_string(lineNo) + ": " + Joined(args));
            Print("FAIL:   " + f.what);
            return 1;
        }
        char took[32];
        std::snprintf(took, sizeof took, "%.2f s", double(GetTickCount64() - started) / 1000.0);
        Print("  ok " + Joined(args) + " (" + took + ")");
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Pixels as they are on the screen, as the program (DPI aware) has them.
    SetProcessDPIAware();
    if (argc < 2) {
        Print("usage: veldrix-driver COMMAND ARG... | veldrix-driver run FILE");
        return 2;
    }
    Args args(argv + 1, argv + argc);
    if (args[0] == L"run") {
        if (args.size() != 2) {
            Print("usage: veldrix-driver run FILE");
            return 2;
        }
        return RunFile(args[1]);
    }
    try {
        Run(args);
    } catch (const Failure& f) {
        Print("FAIL: " + Joined(args) + ": " + f.what);
        return 1;
    }
    return 0;
}
