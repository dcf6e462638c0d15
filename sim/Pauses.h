#pragma once
// The pauses the host puts before its session blocks, as a unit that needs
// them (sim vary pauses) can tell them from the sessions it took up: the
// automatic sequence's steps, the announcement after the memory is cleared,
// the copies. A unit knows nothing of buttons, so a step that has a button
// too (verify, the protections) counts as the sequence's only while the
// sequence is plainly under way (its program step was seen and every session
// since was the step that comes next); the erase, the only step before the
// program step that needs a pause, counts as the sequence's right after a
// blank check that said the chip is blank.
#include <cstdint>
#include <vector>

#include "state/OpCodes.h"

namespace veldrix::sim {

// A session the unit took up, and how it ended.
struct SessionSeen {
    uint8_t op = op::kNone;  // none yet
    bool passed = false;    // the unit's verdict was good
    bool clean = true;      // no fault broke into it
    uint8_t autoFlags = 0;  // of its block
    uint8_t chipType = 0;
    uint8_t blockNumber = 0;  // byte 26
    // From the program step on: 1 normal mode, 2 debug mode; 0 not in a
    // sequence under way.
    int mode = 0;
};

// The step codes that may come next in the automatic sequence after seen;
// empty when none does (the last step, a step that failed, no sequence).
std::vector<uint8_t> NextSteps(const SessionSeen& seen);

// The pause the host puts before a block of op after the session seen, in
// milliseconds; 0 where it puts none.
int PauseBeforeMs(const SessionSeen& seen, uint8_t op);

// What the unit knows after taking up op when the session before it was
// previous: the sequence's mode if op is its next step.
int ModeAfter(const SessionSeen& previous, uint8_t op);

// Steps that switch the programming voltage on, and off again at the end.
bool NeedsProgrammingVoltage(uint8_t op);
// Sequence steps that only read the chip: its supply is switched on for them.
bool ReadsTheChip(uint8_t op);

}  // namespace veldrix::sim
