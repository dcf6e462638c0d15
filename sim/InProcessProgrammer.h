#pragma once
// The simulated programmer behind an in-process port, on virtual time: one
// adapter "COM1" (value \Device\ProlificSerial0) with the unit behind it, its
// firmware on a thread of its own that takes part in the virtual time.
#include <functional>
#include <memory>
#include <thread>

#include "sim/DeviceState.h"
#include "sim/Firmware.h"
#include "sim/SimLine.h"
#include "sim/VirtualTime.h"

namespace veldrix::sim {

class InProcessProgrammer {
public:
    explicit InProcessProgrammer(VirtualTime& time);
    // Another unit's side behind the same adapter (a replayed trace).
    InProcessProgrammer(VirtualTime& time, std::function<void(DeviceIo&)> serve);
    ~InProcessProgrammer();
    InProcessProgrammer(const InProcessProgrammer&) = delete;
    InProcessProgrammer& operator=(const InProcessProgrammer&) = delete;

    VirtualTime& time;
    SimLine line;
    SimAdapters adapters;
    SimPort port;
    DeviceState state;

private:
    std::thread thread_;
    bool finished_ = false;  // guarded by the virtual time's turns
};

}  // namespace veldrix::sim
