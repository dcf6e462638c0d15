#pragma once
// Choosing the code file and loading it by its extension.
#include <cstdint>
#include <string>

namespace veldrix {

struct AppContext;

// Exactly the last four characters of a file name, lower-cased (".hex");
// shorter names have none. The loader goes by it.
std::string Ending(const std::string& name);
// Open-file dialog; true when a file was chosen (the code-file field then
// holds its full path).
bool ChooseCodeFile(AppContext& ctx);
// Loads the file the code-file field names; on success sets programmingRange
// and the start, end and checksum fields. Failures raise LinkErrorFlag.
void LoadCodeFile(AppContext& ctx);
// Raw image from address 0; the byte count, 0 on failure or for a file that
// does not fit the 1 MB buffer.
uint32_t LoadBinFile(AppContext& ctx, const std::string& path);

// The warning a load gives when data lie above 0xFFFF: the data from
// address to lastAbove are not programmed, the range ends at end.
std::string Above16BitWarning(uint32_t address, uint32_t lastAbove, uint32_t end);
// The range's end for a load of result bytes (one past the highest end):
// below 0x10000 always, at the highest data below it (0 for none), never
// wrapped round.
uint32_t RangeEnd16Bit(uint32_t result, uint32_t endBelow16Bit);

// Whether loading the file may leave code out of what is programmed: a HEX
// file with lines the loader passes over (not blank lines, nor records 01, 03
// and 05) or data above 0xFFFF, a binary file longer than 64 KB, a project
// whose code file is one of those. why then says what and where. A file that
// cannot be read, or that a load refuses as a whole, is false: the load says so.
bool CodeFileMayLoseCode(const std::string& path, std::string& why);

}  // namespace veldrix
