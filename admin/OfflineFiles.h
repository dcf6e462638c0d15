#pragma once
// The programmer's fifteen directory blocks: reading a block's information
// record, deleting a block, and making an offline file from the code in the
// programmer's memory.
#include <array>
#include <cstdint>
#include <string>

namespace veldrix {

struct AppContext;

constexpr size_t kOfflineInfoSize = 43;
constexpr size_t kOfflineConfigSize = 26;

// op::kReadFileInfo. With ctx.probeOnly set it only asks whether the block holds a
// file: the flag stays set when it does and is cleared when it does not.
void ReadFileInfo(AppContext& ctx);
// Dispatched as op::kDeleteFile; sends op::kClearArea with the block number.
void DeleteDirectoryBlock(AppContext& ctx);
// Dispatched as op::kMakeOffline.
void MakeOfflineFile(AppContext& ctx);
// Steps of MakeOfflineFile (op::kOfflineCode and op::kOfflineChecksum); false when they failed.
bool WriteMasterCode(AppContext& ctx);
bool CheckMasterChecksum(AppContext& ctx);

// The 26-byte configuration record: file name in 16 bytes, chip name (at most
// 7 characters) in 10, both in the file-text encoding and zero-padded.
std::array<uint8_t, kOfflineConfigSize> MakeConfigRecord(const std::string& fileName, const std::string& chipName);
// The panel of an empty block.
void ShowNoFile(AppContext& ctx);

}  // namespace veldrix
