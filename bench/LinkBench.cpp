// Measures operations against the simulated programmer and compares each
// with what the wire and the prescribed pauses alone would take.
//
//   veldrix-bench                  virtual time, zero-latency unit, 64 KB image
//   veldrix-bench --port PATH      8 KB and 64 KB, virtual time beside the real
//                                  clock against veldrix-sim --pace --fast on a pty
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "app/Core.h"
#include "state/AppContext.h"
#include "code/ChipCatalogue.h"
#include "app/CommandHandler.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"
#include "app/ControlTable.h"
#include "app/MainWindow.h"
#include "link/PortDiscovery.h"
#include "link/Worker.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/MemorySettings.h"
#include "platform/posix/LinuxPortDirectory.h"
#include "platform/posix/PosixPort.h"
#include "platform/posix/RealClock.h"
#include "sim/InProcessProgrammer.h"

using namespace veldrix;

namespace {

using Span = std::pair<uint64_t, uint64_t>;  // nanoseconds, [from, to)

uint64_t Covered(std::vector<Span> spans, uint64_t from, uint64_t to) {
    std::sort(spans.begin(), spans.end());
    uint64_t total = 0, reach = from;
    for (auto [a, b] : spans) {
        a = std::max(a, reach);
        b = std::min(b, to);
        if (b > a) {
            total += b - a;
            reach = b;
        }
    }
    return total;
}

// Both transmitters, sampled before and after every host action and sleep:
// the unit only runs while the host waits, so each batch of new bytes is
// placed in the wait that produced it, ending where its transmitter is free.
struct Meter {
    sim::SimLine* line = nullptr;  // virtual time: exact transmitter state
    uint64_t host = 0, device = 0, hostTx = 0, deviceTx = 0;
    std::vector<Span> wire, sleeps;
    uint64_t byteNanos = sim::kByteNanos;

    void Observe() {
        if (!line) return;
        Take(line->hostBytesSent, line->hostTxNanos, host, hostTx);
        Take(line->deviceBytesSent, line->deviceTxNanos, device, deviceTx);
    }
    void Take(uint64_t count, uint64_t tx, uint64_t& seen, uint64_t& seenTx) {
        if (count > seen && tx >= (count - seen) * byteNanos) wire.push_back({tx - (count - seen) * byteNanos, tx});
        seen = count;
        seenTx = tx;
    }
    // Real time: bytes counted by the port wrapper, spans modelled at 38400.
    void Host(size_t n, uint64_t nowNanos) {
        uint64_t from = std::max(hostTx, nowNanos);
        hostTx = from + n * byteNanos;
        host += n;
        wire.push_back({from, hostTx});
    }
    void Device(size_t n, uint64_t nowNanos) {
        device += n;
        if (n) wire.push_back({nowNanos - std::min(nowNanos, n * byteNanos), nowNanos});
    }
};

class MeteredClock : public Clock {
public:
    MeteredClock(Clock& inner, Meter& meter) : inner_(inner), meter_(meter) {}
    void Sleep(int ms, const std::atomic<bool>* stop) override {
        meter_.Observe();
        uint64_t from = inner_.NowMicros();
        inner_.Sleep(ms, stop);
        meter_.sleeps.push_back({from * 1000, inner_.NowMicros() * 1000});
        meter_.Observe();
    }
    uint64_t NowMicros() override { return inner_.NowMicros(); }
    void ThreadStarted() override { inner_.ThreadStarted(); }
    void ThreadEnded() override { inner_.ThreadEnded(); }

private:
    Clock& inner_;
    Meter& meter_;
};

class MeteredPort : public Port {
public:
    MeteredPort(Port& inner, Clock& clock, Meter& meter, bool counting)
        : inner_(inner), clock_(clock), meter_(meter), counting_(counting) {}
    template <class F>
    auto Around(F f) -> decltype(f()) {
        meter_.Observe();
        auto r = f();
        meter_.Observe();
        return r;
    }
    bool Open(const std::string& name) override { return inner_.Open(name); }
    void Close() override { inner_.Close(); }
    bool IsOpen() override { return inner_.IsOpen(); }
    bool SetQueues(size_t in, size_t out) override { return inner_.SetQueues(in, out); }
    bool SetTimeouts(const PortTimeouts& t) override { return inner_.SetTimeouts(t); }
    bool Purge() override { return Around([&] { return inner_.Purge(); }); }
    bool SetLine(const std::string& mode) override { return inner_.SetLine(mode); }
    std::optional<uint32_t> ModemStatus() override { return inner_.ModemStatus(); }
    bool ArmTransmitEmpty() override { return inner_.ArmTransmitEmpty(); }
    bool WaitTransmitEmpty(int timeoutMs) override {
        return Around([&] { return inner_.WaitTransmitEmpty(timeoutMs); });
    }
    size_t Read(uint8_t* buffer, size_t count) override {
        size_t n = Around([&] { return inner_.Read(buffer, count); });
        if (counting_) meter_.Device(n, clock_.NowMicros() * 1000);
        return n;
    }
    size_t Write(const uint8_t* data, size_t count) override {
        if (counting_) meter_.Host(count, clock_.NowMicros() * 1000);
        return Around([&] { return inner_.Write(data, count); });
    }

private:
    Port& inner_;
    Clock& clock_;
    Meter& meter_;
    bool counting_;
};

struct Row {
    std::string name;
    uint64_t measured = 0, wire = 0, sleeps = 0, bound = 0, hostBytes = 0, deviceBytes = 0;
    std::string status;
};

void PrintHeader() {
    std::printf("%-28s %10s %10s %10s %10s %10s %6s  %s\n", "operation", "measured", "wire", "sleeps", "bound",
                "other", "ratio", "bytes host/unit");
}
void Print(const Row& r) {
    auto ms = [](uint64_t ns) { return double(ns) / 1e6; };
    std::printf("%-28s %10.1f %10.1f %10.1f %10.1f %10.1f %6.2f  %llu/%llu\n", r.name.c_str(), ms(r.measured),
                ms(r.wire), ms(r.sleeps), ms(r.bound), ms(r.measured - std::min(r.measured, r.bound)),
                r.bound ? double(r.measured) / double(r.bound) : 0.0, (unsigned long long)r.hostBytes,
                (unsigned long long)r.deviceBytes);
    if (!r.status.empty()) std::printf("    status: %s\n", r.status.c_str());
}

std::string WriteImage(size_t size, const std::string& name) {
    std::vector<char> bytes(size);
    std::mt19937 rng(7);
    for (char& c : bytes) c = char(rng() & 0xFF);
    std::string path = "/tmp/" + name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), long(bytes.size()));
    return path;
}

void SelectSpeed(HeadlessUi& ui, int radio) {
    for (int r : {id::kSpeedFull, id::kSpeedMedium, id::kSpeedLow}) ui.SetChecked(r, r == radio);
}

// One run: marks the meter, runs body, returns the row.
template <class F>
Row Measure(const std::string& name, Clock& clock, Meter& meter, HeadlessUi& ui, F body) {
    meter.Observe();
    meter.wire.clear();
    meter.sleeps.clear();
    uint64_t h0 = meter.host, d0 = meter.device;
    uint64_t t0 = clock.NowMicros() * 1000;
    body();
    meter.Observe();
    uint64_t t1 = clock.NowMicros() * 1000;
    Row r;
    r.name = name;
    r.measured = t1 - t0;
    r.wire = Covered(meter.wire, t0, t1);
    r.sleeps = Covered(meter.sleeps, t0, t1);
    std::vector<Span> all = meter.wire;
    all.insert(all.end(), meter.sleeps.begin(), meter.sleeps.end());
    r.bound = Covered(all, t0, t1);
    r.hostBytes = meter.host - h0;
    r.deviceBytes = meter.device - d0;
    r.status = ui.GetText(id::kStatusLine);
    return r;
}

// The window's core on a zero-latency in-process unit on virtual time, its
// clock and port metered.
struct VirtualUnit {
    sim::VirtualTime time;
    sim::VirtualTime::Participation part{time};
    sim::InProcessProgrammer prog{time};
    Meter meter;
    MeteredClock clock{time, meter};
    HeadlessUi ui;
    MemorySettings settings;
    MeteredPort port{prog.port, clock, meter, false};
    Core core{ui, clock, settings, port, prog.adapters, Worker::Mode::Inline};

    VirtualUnit() {
        std::lock_guard lock(prog.state.mutex);
        prog.state.timing = sim::Timing::Instant();
        prog.state.chip = sim::Chip::Blank(sim::ChipKind::Mtp, 0x10000);
        meter.line = &prog.line;
        meter.byteNanos = prog.line.byteNanos;
    }
};

// The window built, the programmer found, the benchmark's chip chosen.
bool ConnectForBench(Core& core, HeadlessUi& ui, MemorySettings& settings) {
    settings.values["setup"] = VELDRIX_SOURCE_DIR "/resources";
    CreateMainControls(core.ctx);
    ConnectProgrammer(core.ctx);
    if (!core.ctx.ConnectedFlag) return false;
    ui.ApplyComboChoice(id::kChipCombo, "S3F866B");
    ApplyChipSelection(core.ctx);
    return true;
}

int VirtualBench() {
    VirtualUnit unit;
    sim::VirtualTime& time = unit.time;
    sim::InProcessProgrammer& prog = unit.prog;
    HeadlessUi& ui = unit.ui;
    AppContext& ctx = unit.core.ctx;
    Worker& worker = unit.core.worker;
    MeteredClock& clock = unit.clock;
    Meter& meter = unit.meter;

    // The unit's thread must be running before time moves.
    prog.line.toDevice.push_back({0x00, time.NowMicros()});
    std::function<bool()> running = [&] { return prog.line.toDevice.empty(); };
    std::function<uint64_t()> never = [] { return sim::kNever; };
    time.WaitFor(running, never);

    if (!ConnectForBench(unit.core, ui, unit.settings)) {
        std::fprintf(stderr, "no programmer\n");
        return 1;
    }
    auto blankChip = [&] {
        std::lock_guard lock(prog.state.mutex);
        prog.state.chip = sim::Chip::Blank(sim::ChipKind::Mtp, 0x10000);
    };
    blankChip();
    ui.SetText(id::kCodeFile, WriteImage(0x10000, "veldrix-bench-64k.bin"));

    std::printf("Virtual time, zero-latency unit, 64 KB image (0000-FFFF); times in ms\n");
    PrintHeader();
    const std::pair<int, const char*> speeds[] = {
        {id::kSpeedFull, "download, full speed"}, {id::kSpeedMedium, "download, medium speed"},
        {id::kSpeedLow, "download, low speed"}};
    for (auto [radio, name] : speeds) {
        SelectSpeed(ui, radio);
        Print(Measure(name, clock, meter, ui, [&] { worker.StartOperation(op::kDownload); }));
    }
    Print(Measure("program chip (7)", clock, meter, ui, [&] { worker.StartOperation(op::kProgram); }));
    Print(Measure("verify chip (8)", clock, meter, ui, [&] { worker.StartOperation(op::kVerify); }));
    Print(Measure("memory checksum (4)", clock, meter, ui, [&] { worker.StartOperation(op::kMemoryChecksum); }));
    blankChip();
    size_t boxes = ui.Boxes().size();
    Print(Measure("automatic sequence (46)", clock, meter, ui, [&] {
        if (const ControlDef* def = FindControl(id::kAutoProgram)) OnMainCommand(ctx, id::kAutoProgram, def->parent);
    }));
    auto shown = ui.Boxes();
    for (size_t i = boxes; i < shown.size(); ++i) std::printf("    box: %s\n", shown[i].spec.text.c_str());
    worker.Shutdown(1000);
    return 0;
}

// Download, program, verify and the automatic sequence of a kb image, each
// on a chip erased beforehand (not measured). With the zero-latency unit the
// steps take what the wire and the host's pauses take.
std::vector<Row> OperationSet(AppContext& ctx, Worker& worker, HeadlessUi& ui, Clock& clock, Meter& meter, size_t kb) {
    ui.SetText(id::kCodeFile, WriteImage(kb * 1024, "veldrix-bench-" + std::to_string(kb) + "k.bin"));
    SelectSpeed(ui, id::kSpeedFull);
    std::vector<Row> rows;
    worker.StartOperation(op::kEraseMtp);
    rows.push_back(Measure("download, full speed", clock, meter, ui, [&] { worker.StartOperation(op::kDownload); }));
    rows.push_back(Measure("program chip (7)", clock, meter, ui, [&] { worker.StartOperation(op::kProgram); }));
    rows.push_back(Measure("verify chip (8)", clock, meter, ui, [&] { worker.StartOperation(op::kVerify); }));
    worker.StartOperation(op::kEraseMtp);
    rows.push_back(Measure("automatic sequence (46)", clock, meter, ui, [&] {
        if (const ControlDef* def = FindControl(id::kAutoProgram)) OnMainCommand(ctx, id::kAutoProgram, def->parent);
    }));
    return rows;
}

// The same set on virtual time, against the in-process unit.
std::vector<Row> VirtualSet(size_t kb) {
    VirtualUnit unit;
    if (!ConnectForBench(unit.core, unit.ui, unit.settings)) return {};
    return OperationSet(unit.core.ctx, unit.core.worker, unit.ui, unit.clock, unit.meter, kb);
}

// The same set on the real clock, against veldrix-sim on the pty at path.
std::vector<Row> RealSet(const std::string& path, size_t kb) {
    RealClock real;
    Meter meter;
    MeteredClock clock(real, meter);
    PosixPort posix;
    MeteredPort port(posix, clock, meter, true);
    LinuxPortDirectory directory(path);
    HeadlessUi ui;
    MemorySettings settings;
    Core core{ui, clock, settings, port, directory, Worker::Mode::Inline};
    if (!ConnectForBench(core, ui, settings)) return {};
    return OperationSet(core.ctx, core.worker, ui, clock, meter, kb);
}

int Compare(const std::string& path) {
    auto ms = [](uint64_t ns) { return double(ns) / 1e6; };
    auto ratio = [](const Row& r) { return r.bound ? double(r.measured) / double(r.bound) : 0.0; };
    std::printf("Virtual time against the in-process unit, real clock against veldrix-sim --pace --fast on %s;\n",
                path.c_str());
    std::printf("zero-latency unit, chip S3F866B, full speed; times in ms\n");
    std::printf("%-34s %10s %10s %6s %10s %10s %6s\n", "operation", "virtual", "bound", "ratio", "real", "bound",
                "ratio");
    bool ok = true;
    for (size_t kb : {size_t(8), size_t(64)}) {
        std::vector<Row> virt = VirtualSet(kb), real = RealSet(path, kb);
        if (virt.empty() || real.size() != virt.size()) {
            std::fprintf(stderr, "no programmer (%zu KB)\n", kb);
            return 1;
        }
        for (size_t i = 0; i < virt.size(); ++i) {
            const Row& v = virt[i];
            const Row& r = real[i];
            std::string name = v.name + ", " + std::to_string(kb) + " KB";
            std::printf("%-34s %10.1f %10.1f %6.2f %10.1f %10.1f %6.2f\n", name.c_str(), ms(v.measured), ms(v.bound),
                        ratio(v), ms(r.measured), ms(r.bound), ratio(r));
            if (r.status != v.status) {
                std::printf("    status: virtual %s, real %s\n", v.status.c_str(), r.status.c_str());
                ok = false;
            }
        }
    }
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--port") return Compare(argv[2]);
    return VirtualBench();
}
