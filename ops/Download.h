#pragma once
// The download of the code buffer into the programmer's memory and the
// memory checksum that confirms it.
#include <cstdint>

namespace veldrix {

struct AppContext;

// op::kReadIdentifier: fills programmerId. False (LinkErrorFlag raised, status set)
// when no whole key arrived; the old one stays.
bool ReadProgrammerId(AppContext& ctx);
// Copies codeBuffer start..end into sendBuffer and XORs it with programmerId,
// the key restarting at start.
void ScrambleIntoSendBuffer(AppContext& ctx, uint32_t start, uint32_t end);
// op::kDownload (also the second half of op::kOpenFile).
void DownloadToProgrammer(AppContext& ctx);
// The data phase of the download, paced by DSR at page changes.
void StreamCode(AppContext& ctx, uint32_t start, uint32_t end);
// op::kMemoryChecksum. sourceOperation op::kCopyMaster: the memory was filled from an offline
// file, so the programmer's sum is adopted without comparing it.
void CheckProgrammerMemory(AppContext& ctx, int sourceOperation);
// The port's programmer memory is being changed by something other than a
// download of the code buffer: what this PC downloaded there is no longer known.
void ForgetDownload(AppContext& ctx);

}  // namespace veldrix
