#include "cli/Interrupt.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <termios.h>
#include <unistd.h>
#endif

namespace veldrix::cli {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<int> g_presses{0};

// Written from the handler: no allocation, one write each; on a terminal the
// progress line is cleared first.
const char kFirst[] = "\r\033[K已收到 Ctrl-C: 当前步骤完成后停止, 再按一次 Ctrl-C 立即退出\n";
// Asked to end by the system (a service stop, the terminal closed, a log-off):
// the same orderly end as the first Ctrl-C.
const char kEnd[] = "\r\033[K已收到结束信号: 当前步骤完成后停止\n";
const char kSecond[] = "\r\033[K已中断\n";
constexpr size_t kClear = 4;  // "\r\033[K"
std::atomic<bool> g_terminal{false};

const char* Shown(const char* text) { return g_terminal.load() ? text : text + kClear; }

#ifdef _WIN32
std::atomic<HANDLE> g_console{nullptr};
DWORD g_mode = 0;

void WriteErr(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, DWORD(std::strlen(text)), &written, nullptr);
}

BOOL WINAPI OnControl(DWORD type) {
    const bool ending = type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && !ending) return FALSE;
    if (g_presses.fetch_add(1) == 0) {
        g_interrupted = true;
        WriteErr(Shown(ending ? kEnd : kFirst));
        // The system ends the process once this returns: the run ends its step
        // and leaves through main meanwhile, within the 5 s it is given.
        if (ending) Sleep(4500);
        return TRUE;
    }
    if (ending) {
        Sleep(4500);
        return TRUE;
    }
    if (HANDLE console = g_console.load()) SetConsoleMode(console, g_mode);
    WriteErr(Shown(kSecond));
    ExitProcess(130);
    return TRUE;
}
#else
std::atomic<int> g_ttyFd{-1};
termios g_saved{};

void OnSignal(int signal) {
    if (g_presses.fetch_add(1) == 0) {
        g_interrupted = true;
        const char* text = Shown(signal == SIGINT ? kFirst : kEnd);
        [[maybe_unused]] ssize_t n = ::write(2, text, std::strlen(text));
        return;
    }
    int fd = g_ttyFd.load();
    if (fd >= 0) ::tcsetattr(fd, TCSANOW, &g_saved);
    [[maybe_unused]] ssize_t n = ::write(2, Shown(kSecond), std::strlen(Shown(kSecond)));
    ::_exit(130);
}
#endif

}  // namespace

const std::atomic<bool>& InterruptFlag() { return g_interrupted; }

void SetInterrupted(bool interrupted) {
    g_interrupted = interrupted;
    g_presses = interrupted ? 1 : 0;
}

#ifdef _WIN32
void InstallInterruptHandler() {
    DWORD mode = 0;
    g_terminal = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
    SetConsoleCtrlHandler(OnControl, TRUE);
}

TerminalHold::TerminalHold(void* console, unsigned long mode) {
    g_mode = mode;
    g_console = static_cast<HANDLE>(console);
}

TerminalHold::~TerminalHold() { g_console = nullptr; }
#else
void InstallInterruptHandler() {
    g_terminal = ::isatty(2) != 0;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read waiting for the next chip's line or a password
    // gives up, and the run goes on to its end.
    action.sa_flags = 0;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

TerminalHold::TerminalHold(int fd, const void* savedTermios) {
    std::memcpy(&g_saved, savedTermios, sizeof g_saved);
    g_ttyFd = fd;
}

TerminalHold::~TerminalHold() { g_ttyFd = -1; }
#endif

}  // namespace veldrix::cli
