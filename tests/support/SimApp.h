#pragma once
// The application on the headless window, wired to the in-process simulated
// programmer on virtual time. Every host write, DSR poll and status text lands
// in one ordered record, so tests can check the traffic byte for byte.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/Core.h"
#include "state/AppContext.h"
#include "app/CommandHandler.h"
#include "app/ControlTable.h"
#include "state/ControlIds.h"
#include "app/MainWindow.h"
#include "state/CommandBlock.h"
#include "link/PortDiscovery.h"
#include "link/Worker.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/MemorySettings.h"
#include "sim/InProcessProgrammer.h"

namespace veldrix::test {

struct WireEvent {
    enum Kind { Write, Poll, Status } kind = Write;
    uint64_t at = 0;             // virtual microseconds
    uint64_t doneAt = 0;         // when a write returned
    std::vector<uint8_t> bytes;  // what a write sent
    bool busy = false;           // a poll that found DSR set
    std::string text;            // a status text
};

// The simulated port with its modem-status polls noted; writes are noted by
// the line's own observer. A write returns once its bytes have left, as a
// synchronous write on a real port does; the simulated port alone returns at
// once, which lets a long download run seconds ahead of the line.
class PollNotingPort : public Port {
public:
    PollNotingPort(Port& inner, Clock& clock, std::vector<WireEvent>& events)
        : inner_(inner), clock_(clock), events_(events) {}
    bool Open(const std::string& name) override { return inner_.Open(name); }
    void Close() override { inner_.Close(); }
    bool IsOpen() override { return inner_.IsOpen(); }
    bool SetQueues(size_t in, size_t out) override { return inner_.SetQueues(in, out); }
    bool SetTimeouts(const PortTimeouts& t) override { return inner_.SetTimeouts(t); }
    bool Purge() override { return inner_.Purge(); }
    bool SetLine(const std::string& mode) override { return inner_.SetLine(mode); }
    std::optional<uint32_t> ModemStatus() override {
        std::optional<uint32_t> status = inner_.ModemStatus();
        WireEvent e;
        e.kind = WireEvent::Poll;
        e.at = clock_.NowMicros();
        e.busy = !status || (*status & kModemDsr) != 0;
        events_.push_back(e);
        return status;
    }
    bool ArmTransmitEmpty() override { return inner_.ArmTransmitEmpty(); }
    bool WaitTransmitEmpty(int timeoutMs) override { return inner_.WaitTransmitEmpty(timeoutMs); }
    size_t Read(uint8_t* buffer, size_t count) override { return inner_.Read(buffer, count); }
    size_t Write(const uint8_t* data, size_t count) override {
        size_t n = inner_.Write(data, count);
        if (paced) inner_.WaitTransmitEmpty(60000);
        if (!events_.empty() && events_.back().kind == WireEvent::Write) events_.back().doneAt = clock_.NowMicros();
        return n;
    }
    bool paced = true;

private:
    Port& inner_;
    Clock& clock_;
    std::vector<WireEvent>& events_;
};

struct SimApp {
    sim::VirtualTime time;
    sim::VirtualTime::Participation part{time};
    sim::InProcessProgrammer prog{time};
    HeadlessUi ui;
    MemorySettings settings;
    std::vector<WireEvent> events;
    PollNotingPort port{prog.port, time, events};
    Core core{ui, time, settings, port, prog.adapters, Worker::Mode::Inline};
    AppContext& ctx = core.ctx;
    Worker& worker = core.worker;
    // Sees every transcript line as it is written (boxes, status texts).
    std::function<void(const std::string&)> onLine;

    SimApp() {
        settings.values["setup"] = VELDRIX_SOURCE_DIR "/resources";
        prog.line.onHostWrite = [this](const uint8_t* data, size_t count, uint64_t at) {
            WireEvent e;
            e.at = at;
            e.bytes.assign(data, data + count);
            events.push_back(e);
        };
        ui.onLine = [this](const std::string& line) {
            if (line.rfind("status: ", 0) == 0) {
                WireEvent e;
                e.kind = WireEvent::Status;
                e.at = time.NowMicros();
                e.text = line.substr(8);
                events.push_back(e);
            }
            if (onLine) onLine(line);
        };
    }
    ~SimApp() { prog.line.onHostWrite = nullptr; }

    // The window as the program builds it, and the first programmer search.
    bool Connect() {
        CreateMainControls(ctx);
        ConnectProgrammer(ctx);
        events.clear();
        return ctx.ConnectedFlag != 0;
    }

    // What the worker runs for a button: header filled from the window.
    void Run(int opCode) { worker.StartOperation(opCode); }
    // A click as the window delivers it, through the command handler.
    void Click(int control) {
        const ControlDef* def = FindControl(control);
        if (def) OnMainCommand(ctx, control, def->parent);
    }

    std::string Status() { return ui.GetText(id::kStatusLine); }
    // Status-line texts set since mark (an index into the history).
    std::vector<std::string> StatusSince(size_t mark) {
        std::vector<std::string> all = ui.StatusHistory();
        return std::vector<std::string>(all.begin() + long(std::min(mark, all.size())), all.end());
    }
    size_t StatusMark() { return ui.StatusHistory().size(); }

    void SetRangeFields(const std::string& start, const std::string& end) {
        ui.SetText(id::kStartAddress, start);
        ui.SetText(id::kEndAddress, end);
    }
    void SelectSpeed(int radio) {
        for (int r : {id::kSpeedFull, id::kSpeedMedium, id::kSpeedLow}) ui.SetChecked(r, r == radio);
    }

    static bool IsCommandBlock(const WireEvent& e) {
        return e.kind == WireEvent::Write && e.bytes.size() == size_t(cb::kSize) &&
               std::string(e.bytes.begin(), e.bytes.begin() + 5) == "ZEMKO";
    }

    // The command blocks the host sent, as they went on the wire (bit 6 of
    // the operation code set).
    std::vector<CommandBlock> BlocksSent() const {
        std::vector<CommandBlock> out;
        for (const WireEvent& e : events)
            if (IsCommandBlock(e)) {
                CommandBlock b;
                std::copy(e.bytes.begin(), e.bytes.end(), b.bytes.begin());
                out.push_back(b);
            }
        return out;
    }
    // Operation codes of the sessions opened, in order.
    std::vector<int> SessionsSent() const {
        std::vector<int> out;
        for (const CommandBlock& b : BlocksSent()) out.push_back(b.OpCode() & 0x3F);
        return out;
    }

    // One data write after a session, with what happened since the write before.
    struct DataBlock {
        uint32_t address = 0;
        std::vector<uint8_t> bytes;
        uint64_t at = 0, doneAt = 0;
        int polls = 0, busyPolls = 0;
        uint64_t firstPollAt = 0;
        std::vector<std::string> statusBefore;
    };
    // The writes that followed the last session of opCode, up to the next
    // session, addressed from start.
    std::vector<DataBlock> DataAfter(int opCode, uint32_t start) const {
        size_t from = events.size();
        for (size_t i = 0; i < events.size(); ++i)
            if (IsCommandBlock(events[i]) && (events[i].bytes[cb::kOpCode] & 0x3F) == opCode) from = i + 1;
        std::vector<DataBlock> out;
        DataBlock next;
        next.address = start;
        for (size_t i = from; i < events.size() && !IsCommandBlock(events[i]); ++i) {
            const WireEvent& e = events[i];
            if (e.kind == WireEvent::Poll) {
                if (next.polls++ == 0) next.firstPollAt = e.at;
                next.busyPolls += e.busy;
            } else if (e.kind == WireEvent::Status) {
                next.statusBefore.push_back(e.text);
            } else {
                next.bytes = e.bytes;
                next.at = e.at;
                next.doneAt = e.doneAt;
                out.push_back(next);
                uint32_t following = uint32_t(next.address + e.bytes.size());
                next = DataBlock();
                next.address = following;
            }
        }
        return out;
    }
};

}  // namespace veldrix::test
