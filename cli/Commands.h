#pragma once
// The subcommands, as steps on one unit.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/IdSequence.h"
#include "cli/Options.h"
#include "cli/Unit.h"

namespace veldrix::cli {

// What one unit did in this call.
struct UnitRecord {
    int exit = kExitOk;  // the worst so far
    int chips = 0;
    std::vector<uint32_t> ids;  // ID codes of good chips
    bool stopped = false;       // no further chips: a usage error, or the codes are used up
    bool codeReady = false;     // connected, and the code is in the programmer's memory
    Json extra = Json::object();  // the command's own result fields
};

inline int Worse(int a, int b) { return a > b ? a : b; }

// Window and options, the simulated chip, the link: kExitOk or what stopped it.
int PrepareUnit(Unit& unit, const Options& options);
// The subcommand's steps (Subcommands.h): on a prepared unit, for auto the
// code and the first chip; for load and chips the window alone.
int RunCommand(Unit& unit, const Options& options, SharedIds* ids, UnitRecord& record);
// The next chip of a repeat run; a unit that lost its link or never had the
// code first connects and downloads again.
int RunChip(Unit& unit, const Options& options, SharedIds* ids, UnitRecord& record);
// A chip of the sequence whose unit found no programmer: counted and recorded.
void RecordChipWithoutLink(Unit& unit, UnitRecord& record);
// load FILE: the window's loading and what it makes of the file, no programmer.
int RunLoad(Unit& unit, const Options& options, UnitRecord& record);
// chips: the chip list as the window loaded it.
int RunChips(Unit& unit);
// The result line of a unit.
void ReportUnit(Unit& unit, const Options& options, const UnitRecord& record);

// A blank chip of the selected type into a simulated unit's socket, as a
// handler puts the next chip in.
void FreshSimChip(Unit& unit);
// A sim command for one unit ("chip otp blank", "fault noreply any"); false
// with error when it is not one.
bool SimDo(Unit& unit, const std::string& command, std::string& error);
// [N:]COMMAND: whether it is meant for the unit numbered number.
bool SimCommandFor(const std::string& spec, int number, std::string& command);

const char* OutcomeText(int exit);
std::string IdList(const std::vector<uint32_t>& ids);

}  // namespace veldrix::cli
