#include "sim/Pauses.h"

#include <algorithm>

#include "state/CommandBlock.h"

namespace veldrix::sim {

namespace {

constexpr int kStepPauseMs = 200;       // before every step of the sequence after the blank check
constexpr int kDirectPauseMs = 50;      // from the identifier to the streamed programming
constexpr int kAnnouncePauseMs = 200;   // from the cleared memory to the download's announcement
constexpr int kCopyPauseMs = 100;       // from the cleared memory to a copy

// Stand-ins for the steps whose code depends on the mode.
constexpr uint8_t kProgram = 0x80, kVerifyStep = 0x81, kSmartStep = 0x82;

// The sequence's steps for these boxes and this chip, in order.
std::vector<uint8_t> Steps(uint8_t flags, bool mtp) {
    std::vector<uint8_t> steps;
    if (flags & autoflag::kBlankCheck) steps.push_back(16);
    if (mtp) steps.push_back(6);
    steps.push_back(kProgram);
    if (flags & autoflag::kVerify) steps.push_back(kVerifyStep);
    if (flags & autoflag::kIdIncrement) steps.push_back(31);
    if ((flags & autoflag::kSmart) && mtp) steps.push_back(kSmartStep);
    if (flags & autoflag::kLdc) steps.push_back(11);
    if (flags & autoflag::kReadProtect) steps.push_back(10);
    if ((flags & autoflag::kHwProtect) && mtp) steps.push_back(12);
    return steps;
}

uint8_t StepOf(uint8_t op) {
    switch (op) {
    case 7: case 26: return kProgram;
    case 8: case 13: return kVerifyStep;
    case 9: case 27: return kSmartStep;
    default: return op;
    }
}

bool Contains(const std::vector<uint8_t>& codes, uint8_t op) {
    return std::find(codes.begin(), codes.end(), op) != codes.end();
}

}  // namespace

std::vector<uint8_t> NextSteps(const SessionSeen& seen) {
    // A failed step ends the sequence; LDC and hardware protection end it never.
    const bool ignored = seen.op == 11 || seen.op == 12;
    if (seen.op == 0 || !(ignored || (seen.clean && seen.passed))) return {};
    const std::vector<uint8_t> steps = Steps(seen.autoFlags, seen.chipType == 2);
    auto at = std::find(steps.begin(), steps.end(), StepOf(seen.op));
    if (at == steps.end() || at + 1 == steps.end()) return {};
    switch (*(at + 1)) {
    // Before the program step the mode does not show; the debug mode's
    // program step opens with the identifier.
    case kProgram: return {7, 29};
    case kVerifyStep: return {uint8_t(seen.mode == 2 ? 13 : 8)};
    case kSmartStep: return {uint8_t(seen.mode == 2 ? 27 : 9)};
    default: return {*(at + 1)};
    }
}

int ModeAfter(const SessionSeen& previous, uint8_t op) {
    if (op == 7) return 1;
    if (op == 26) return 2;
    return previous.mode != 0 && Contains(NextSteps(previous), op) ? previous.mode : 0;
}

int PauseBeforeMs(const SessionSeen& seen, uint8_t op) {
    const bool afterClearedMemory = seen.op == 2 && seen.blockNumber == 0;
    switch (op) {
    // Sent by the sequence alone.
    case 7: case 9: case 27: case 31: return kStepPauseMs;
    case 26: return kDirectPauseMs;
    case 3: return afterClearedMemory ? kAnnouncePauseMs : 0;
    case 15: case 21: return afterClearedMemory ? kCopyPauseMs : 0;
    // Steps with buttons of their own.
    case 6: return seen.op == 16 && Contains(NextSteps(seen), 6) ? kStepPauseMs : 0;
    case 8: case 13: case 11: case 10: case 12:
        return seen.mode != 0 && Contains(NextSteps(seen), op) ? kStepPauseMs : 0;
    default: return 0;
    }
}

bool NeedsProgrammingVoltage(uint8_t op) {
    switch (op) {
    case 6: case 7: case 9: case 10: case 11: case 12: case 26: case 27: case 31: return true;
    default: return false;
    }
}

bool ReadsTheChip(uint8_t op) { return op == 8 || op == 13 || op == 16; }

}  // namespace veldrix::sim
