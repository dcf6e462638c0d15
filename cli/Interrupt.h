#pragma once
// Ctrl-C on the command line. The first lets the step running finish and
// starts nothing more; the run then ends with its summary and exit 130. The
// second ends the program at once, the terminal put back as it was. SIGTERM
// and SIGHUP (Windows: closing the console, logging off, shutting down) end a
// run as the first Ctrl-C does.
#include <atomic>

namespace veldrix::cli {

// The program's own handler (main only; tests raise the flag themselves).
void InstallInterruptHandler();
// Raised by the first Ctrl-C.
const std::atomic<bool>& InterruptFlag();
inline bool Interrupted() { return InterruptFlag().load(); }
// As a first Ctrl-C would; false clears it again (tests).
void SetInterrupted(bool interrupted);

// While a hidden prompt has turned echo off: what the second Ctrl-C must put
// back before the program ends. Ended by the prompt whatever happens.
class TerminalHold {
public:
#ifdef _WIN32
    TerminalHold(void* console, unsigned long mode);
#else
    TerminalHold(int fd, const void* savedTermios);
#endif
    ~TerminalHold();
    TerminalHold(const TerminalHold&) = delete;
    TerminalHold& operator=(const TerminalHold&) = delete;
};

}  // namespace veldrix::cli
