#pragma once
// The command line's help and version texts, laid out by display width.
#include <map>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace veldrix::cli {

struct HelpModel {
    // The subcommands an option serves; an option not named serves all.
    std::map<const CLI::Option*, std::vector<std::string>> serves;
};

// The whole command line's help, or one subcommand's with every option
// that applies to it.
std::string HelpText(const CLI::App& app, const CLI::App* sub, const HelpModel& model);
// "veldrix-cli 3.10" and the commit and date it was built from.
std::string VersionText();

}  // namespace veldrix::cli
