#pragma once
// The "sim COMMAND" lines of a headless script: plug, power, lock, faults, variations,
// the chip in the socket, and expectations on what the unit now holds.
#include <string>

#include "sim/DeviceState.h"
#include "sim/SimLine.h"

namespace veldrix::sim {

// line is the command without the leading "sim" (a leading "sim" is skipped).
// False with error for a bad command (the error starts with "usage" or
// "unknown") or a failed expectation (it names what differs). output holds
// what the command prints, one line per entry.
bool RunSimCommand(DeviceState& state, SimAdapters& adapters, const std::string& line, std::string& output,
                   std::string& error);

}  // namespace veldrix::sim
