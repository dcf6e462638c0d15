#include "sim/InProcessProgrammer.h"

namespace veldrix::sim {

InProcessProgrammer::InProcessProgrammer(VirtualTime& t)
    : InProcessProgrammer(t, [this](DeviceIo& io) { Firmware(state).Run(io); }) {}

InProcessProgrammer::InProcessProgrammer(VirtualTime& t, std::function<void(DeviceIo&)> serve)
    : time(t), line(t), port(line, adapters) {
    adapters.adapters.push_back({0, "COM1", true, true});
    thread_ = std::thread([this, serve = std::move(serve)] {
        time.Join();
        SimDeviceIo io(line);
        serve(io);
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
