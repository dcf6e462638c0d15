#include "sim/Pauses.h"

#include <algorithm>

#include "state/CommandBlock.h"
#include "state/OpCodes.h"

namespace veldrix::sim {

namespace {

constexpr int kStepPauseMs = 200;       // before every step of the sequence after the blank check
constexpr int kDirectPauseMs = 50;      // from the identifier to the streamed programming
constexpr int kAnnouncePauseMs = 200;   // from the cleared memory to the download's announcement
constexpr int kCopyPauseMs = 100;       // from the cleared memory to a copy

// Stand-ins for the steps whose code depends on the mode.
constexpr uint8_t kProgramStep = 0x80, kVerifyStep = 0x81, kSmartStep = 0x82;

// The sequence's steps for these boxes and this chip, in order.
std::vector<uint8_t> Steps(uint8_t flags, bool mtp) {
    std::vector<uint8_t> steps;
    if (flags & autoflag::kBlankCheck) steps.push_back(op::kBlankCheck);
    if (mtp) steps.push_back(op::kEraseMtp);
    steps.push_back(kProgramStep);
    if (flags & autoflag::kVerify) steps.push_back(kVerifyStep);
    if (flags & autoflag::kIdIncrement) steps.push_back(op::kWriteIdCode);
    if ((flags & autoflag::kSmart) && mtp) steps.push_back(kSmartStep);
    if (flags & autoflag::kLdc) steps.push_back(op::kLdcProtect);
    if (flags & autoflag::kReadProtect) steps.push_back(op::kReadProtect);
    if ((flags & autoflag::kHwProtect) && mtp) steps.push_back(op::kHardwareProtect);
    return steps;
}

uint8_t StepOf(uint8_t op) {
    switch (op) {
    case op::kProgram: case op::kProgramDirect: return kProgramStep;
    case op::kVerify: case op::kChipChecksum: return kVerifyStep;
    case op::kSmart: case op::kSmartDebug: return kSmartStep;
    default: return op;
    }
}

bool Contains(const std::vector<uint8_t>& codes, uint8_t op) {
    return std::find(codes.begin(), codes.end(), op) != codes.end();
}

}  // namespace

std::vector<uint8_t> NextSteps(const SessionSeen& seen) {
    // A failed step ends the sequence; LDC and hardware protection end it never.
    const bool ignored = seen.op == op::kLdcProtect || seen.op == op::kHardwareProtect;
    if (seen.op == op::kNone || !(ignored || (seen.clean && seen.passed))) return {};
    const std::vector<uint8_t> steps = Steps(seen.autoFlags, seen.chipType == 2);
    auto at = std::find(steps.begin(), steps.end(), StepOf(seen.op));
    if (at == steps.end() || at + 1 == steps.end()) return {};
    switch (*(at + 1)) {
    // Before the program step the mode does not show; the debug mode's
    // program step opens with the identifier.
    case kProgramStep: return {op::kProgram, op::kReadIdentifier};
    case kVerifyStep: return {seen.mode == 2 ? op::kChipChecksum : op::kVerify};
    case kSmartStep: return {seen.mode == 2 ? op::kSmartDebug : op::kSmart};
    default: return {*(at + 1)};
    }
}

int ModeAfter(const SessionSeen& previous, uint8_t op) {
    if (op == op::kProgram) return 1;
    if (op == op::kProgramDirect) return 2;
    return previous.mode != 0 && Contains(NextSteps(previous), op) ? previous.mode : 0;
}

int PauseBeforeMs(const SessionSeen& seen, uint8_t op) {
    const bool afterClearedMemory = seen.op == op::kClearArea && seen.blockNumber == 0;
    switch (op) {
    // Sent by the sequence alone.
    case op::kProgram: case op::kSmart: case op::kSmartDebug: case op::kWriteIdCode: return kStepPauseMs;
    case op::kProgramDirect: return kDirectPauseMs;
    case op::kDownload: return afterClearedMemory ? kAnnouncePauseMs : 0;
    case op::kCopyChip: case op::kReadFileInfo: return afterClearedMemory ? kCopyPauseMs : 0;
    // Steps with buttons of their own.
    case op::kEraseMtp:
        return seen.op == op::kBlankCheck && Contains(NextSteps(seen), op::kEraseMtp) ? kStepPauseMs : 0;
    case op::kVerify: case op::kChipChecksum: case op::kLdcProtect: case op::kReadProtect: case op::kHardwareProtect:
        return seen.mode != 0 && Contains(NextSteps(seen), op) ? kStepPauseMs : 0;
    default: return 0;
    }
}

bool NeedsProgrammingVoltage(uint8_t op) {
    switch (op) {
    case op::kEraseMtp: case op::kProgram: case op::kSmart: case op::kReadProtect: case op::kLdcProtect:
    case op::kHardwareProtect: case op::kProgramDirect: case op::kSmartDebug: case op::kWriteIdCode: return true;
    default: return false;
    }
}

bool ReadsTheChip(uint8_t op) { return op == op::kVerify || op == op::kChipChecksum || op == op::kBlankCheck; }

}  // namespace veldrix::sim
