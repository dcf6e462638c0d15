#pragma once
// veldrix-cli: one job on one or several programmers, through the same core
// as the window. Exit status 0 success, 1 the chip failed, 2 link failure,
// 3 bad usage or file, 4 refused by the programmer, 5 ID codes used up, 130
// interrupted (Ctrl-C); with several units the worst of them.
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/Output.h"

namespace veldrix::sim {
class DeviceIo;
class InProcessProgrammer;
}

namespace veldrix::cli {

struct CliHooks {
    // Each simulated unit (numbered from 1) before the job.
    std::function<void(int number, sim::InProcessProgrammer& unit)> beforeRun;
    // Each simulated unit (numbered from 1) after the job, before it goes.
    std::function<void(int number, sim::InProcessProgrammer& unit)> afterRun;
    // The side of simulated unit `number` in place of its firmware (a replayed trace); empty: the firmware.
    std::function<std::function<void(sim::DeviceIo&)>(int number)> unitSide;
    // Every event as it is reported, from the unit's own thread.
    std::function<void(const std::string& kind, const Json& fields)> onEvent;
};

// args without the program name. in: the lines between chips of a repeat
// run. terminal: standard error is a terminal (progress bar, prompts).
int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
           bool terminal, const CliHooks& hooks = {});

}  // namespace veldrix::cli
