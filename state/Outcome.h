#pragma once
// What an operation found, as data beside the texts the window shows: the
// command line, its JSON, its exit status and the production records read
// this; nothing outside the window reads the status line.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace veldrix {

enum class OutcomeClass {
    None,         // nothing ended yet
    Success,
    ChipFailed,   // the unit's verdict, or a failure after the session opened
    LinkFailed,   // the programmer never got the command (no session, no link)
    Refused,      // the programmer refused: locked, wrong password
    UsageOrFile,  // a check of the window, a file that could not be read or written
    Aborted,      // a question answered No, the operator stopped it
};

struct OperationOutcome {
    OutcomeClass cls = OutcomeClass::None;
    std::string verdict;                  // the unit's last judged reply ("OK", "NO", "EV", "LOCK", ...)
    std::optional<uint16_t> checksum;     // the sum the operation found (memory, chip, code)
    std::optional<uint32_t> failAddress;  // where a verification or blank check stopped
    std::optional<uint32_t> idTaken;      // the ID code the sequence took for the chip
    std::optional<uint32_t> idWritten;    // the ID code the unit confirmed in the chip
    std::string fileWritten;              // the file a save wrote
    bool blockEmpty = false;              // a file-information read found no file in the block
};

// A running operation's progress, as numbers: its stage (the status text
// without the address), the address reached and the span it runs over.
struct ProgressReport {
    std::string stage;
    uint32_t address = 0;
    uint32_t start = 0, end = 0;
};
using ProgressSink = std::function<void(const ProgressReport&)>;

}  // namespace veldrix
