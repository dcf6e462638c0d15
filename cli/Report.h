#pragma once
// veldrix-cli report: the production report of a records folder.
#include "cli/Options.h"
#include "cli/Output.h"

namespace veldrix {
class SettingsStore;
}

namespace veldrix::cli {

// Writes the page (-o) and, with --json, the figures as one "report" event;
// the exit status.
int RunReport(const Options& options, SettingsStore& settings, Output& output);

}  // namespace veldrix::cli
