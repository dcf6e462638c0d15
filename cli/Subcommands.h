#pragma once
// The subcommands of veldrix-cli, one row each: its name and help line, the
// arguments after it, where it runs and its steps. The parser and the help
// make the command line of the rows, the call runs the steps of one; the
// table itself is in Commands.cpp, beside the steps.
#include <string>
#include <vector>

namespace veldrix::cli {

class Unit;
class SharedIds;
struct Options;
struct UnitRecord;

// A subcommand's steps on one unit; its exit status.
using UnitSteps = int (*)(Unit& unit, const Options& options, SharedIds* ids, UnitRecord& record);

// A word WHAT may be, with the steps it names.
struct SubWord {
    const char* word;
    UnitSteps steps;
};

// An argument after the subcommand's name; the usage line names them in the
// order of the row.
struct SubArgument {
    enum class Kind {
        What,    // one of words; the help lists them
        Block,   // N, a directory block 1-15
        File,    // FILE
        Repeat,  // the flag --repeat
    };
    Kind kind;
    const char* help = "";  // WHAT: the words make it
    bool required = false;
    std::vector<SubWord> words = {};
};

enum class Scope {
    Adapters,    // every adapter, each asked whether a programmer answers; no unit of its own
    Window,      // one unit, its window alone: no programmer
    Programmer,  // every unit, with its window built and its programmer found
    Records,     // the production records alone: no unit, no programmer
};

struct Subcommand {
    const char* name;
    const char* help;
    Scope scope;
    std::vector<SubArgument> arguments;
    UnitSteps steps;  // null: the WHAT word's (Adapters: none)
    // What the arguments let through but the subcommand refuses: the usage
    // error, or empty.
    std::string (*check)(const Options& options) = nullptr;

    // The steps for the WHAT word given; null when there are none.
    UnitSteps StepsFor(const std::string& what) const;
};

// In the order the help lists them.
const std::vector<Subcommand>& Subcommands();
const Subcommand* FindSubcommand(const std::string& name);

}  // namespace veldrix::cli
