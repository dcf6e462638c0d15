#pragma once
// The operations on the chip in the socket over programmingRange: program,
// verify, blank check and chip checksum.
#include <cstdint>
#include <string>

namespace veldrix {

struct AppContext;

// Reads progress addresses until one reaches limit, showing each after text.
// position keeps the last address received; false when a read failed first.
bool ReadProgressStream(AppContext& ctx, const std::string& text, uint32_t limit, int pauseMs, uint32_t& position);

void ProgramChip(AppContext& ctx);        // 7: from the programmer's memory
void ProgramChipDirect(AppContext& ctx);  // 26: the code streamed from here
void VerifyChip(AppContext& ctx, int opCode);  // 8, or 19 for an offline file
void VerifyChipByReadBack(AppContext& ctx);    // 8 in debug mode
void ReadChipChecksum(AppContext& ctx);   // 13
void BlankCheck(AppContext& ctx);         // 16

}  // namespace veldrix
