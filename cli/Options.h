#pragma once
// What one call of veldrix-cli asks for.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veldrix::cli {

struct IdRange {
    uint32_t address = 0;  // where the three bytes go
    uint32_t first = 1;    // the ID code of the first chip
    std::optional<uint32_t> last;
};

struct Options {
    // The subcommand and what it works on.
    std::string command;  // a name of the subcommands' table (Subcommands.h)
    std::string what;     // checksum chip|memory, protect read|ldc|hw|smart, offline list|info|make|delete|load
    std::string file;     // a code file; for read, the file to write ("-": standard output)
    std::string format;   // read: hex or bin (empty: from the file's ending)
    int block = 0;        // offline N, counter N

    // Which programmers.
    std::vector<std::string> ports;
    bool sim = false;
    int simUnits = 0;
    std::vector<std::string> simDo;  // [N:]COMMAND for the simulated units
    std::string settingsFile;
    std::string installDir;

    // The window's options; 0 leaves a box as the window sets it, +1 on, -1 off.
    std::string chip;
    std::string chipType;  // otp, mtp
    std::string vpp;       // 12, 11, vcc
    std::string vdd;       // 5, 3.3
    std::string speed;     // full, medium, low
    int debug = 0;
    int blank = 0, verify = 0, readProtect = 0, smart = 0, ldc = 0, hwProtect = 0;
    std::optional<IdRange> id;
    std::optional<std::pair<uint32_t, uint32_t>> range;
    bool noDownload = false;

    // How.
    bool yes = false;                // every question
    std::vector<std::string> yesTo;  // only these (--yes=NAME)
    bool allowLostCode = false;  // a code file some of whose data would not be programmed
    bool json = false;
    bool verbose = false;
    bool quiet = false;
    bool repeat = false;
    std::string passwordFile;
    std::string newPasswordFile;
    std::string logDir;
    std::string trace;  // the wire trace's file (several units: FILE.2, FILE.3, ...)

    // report: the local dates of the period ("YYYY-MM-DD", empty: open) and the page to write.
    std::string from, to;
    std::string output;
    // The records on a database server: a data source name, or a file whose
    // first line is a connection string (never the string itself here).
    std::string recordsDsn;
    std::string recordsOdbcFile;
    int dbWait = 60;  // seconds the ID step waits for that server
};

// The names of the window's questions, as --yes=NAME takes them.
inline constexpr const char* kQuestionNames[] = {
    "rom-size",       "voltage",         "id-on-good-chip", "id-over-code",     "no-verify",
    "no-read-protect", "no-smart",       "memory-change",   "counter-reset",    "delete-offline-file",
    "overwrite-offline-file", "make-offline-file", "records-server", "remember-password"};

struct ParseResult {
    int exit = -1;  // -1: go on; else the exit status (help, version, or a usage error)
    std::string message;  // what to print: on standard output for exit 0, else on standard error
    Options options;
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);

// Every subcommand and option the command line knows (shell completion).
struct CommandLineNames {
    std::vector<std::string> subcommands, options;
};
CommandLineNames KnownNames();

}  // namespace veldrix::cli
