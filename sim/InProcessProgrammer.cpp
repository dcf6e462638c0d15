#include "sim/InProcessProgrammer.h"

namespace veldrix::sim {

InProcessProgrammer::InProcessProgrammer(VirtualTime& t) : time(t), line(t), port(line, adapters) {
    adapters.adapters.push_back({0, "COM1", true, true});
    thread_ = std::thread([this] {
        time.Join();
        SimDeviceIo io(line);
        Firmware firmware(state);
        firmware.Run(io);
        finished_ = true;
        time.Leave();
    });
    // Counted in at once: a search started right after construction must find the unit.
    time.Expect(thread_.get_id());
}

InProcessProgrammer::~InProcessProgrammer() {
    line.stopping = true;
    time.Poke();
    std::function<bool()> done = [this] { return finished_; };
    std::function<uint64_t()> never = [] { return kNever; };
    time.WaitFor(done, never);
    thread_.join();
}

}  // namespace veldrix::sim
