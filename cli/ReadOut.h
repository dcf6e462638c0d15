#pragma once
// read FILE: the programmer's memory over the programming range, saved as
// Intel HEX (with its end-of-file record) or binary, or to standard output.
#include "cli/Commands.h"

namespace veldrix::cli {

int RunRead(Unit& unit, const Options& options, UnitRecord& record);

}  // namespace veldrix::cli
