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

void ProgramChip(AppContext& ctx);        // op::kProgram: from the programmer's memory
void ProgramChipDirect(AppContext& ctx);  // op::kProgramDirect: the code streamed from here
void VerifyChip(AppContext& ctx, int opCode);  // op::kVerify, or op::kOfflineVerify for an offline file
void VerifyChipByReadBack(AppContext& ctx);    // op::kVerify in debug mode
void ReadChipChecksum(AppContext& ctx);   // op::kChipChecksum
void BlankCheck(AppContext& ctx);         // op::kBlankCheck

}  // namespace veldrix
