#pragma once
// The simulated programmer on its own thread, on virtual time, and the host
// steps its tests need, done the way the program does them: purge, wait for
// DSR clear, block with bit 6 in the code, 100 ms, acknowledgement, status
// word in tries of 30 ms; short replies in tries of 30 ms.
#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "state/CommandBlock.h"
#include "sim/DeviceState.h"
#include "sim/Firmware.h"
#include "sim/SimLine.h"
#include "sim/VirtualTime.h"

namespace veldrix::test {

class SimHost {
public:
    SimHost() {
        adapters.adapters.push_back({0, "COM1", true, true});
        port.Open("COM1");
        part_.emplace(time);
        thread_ = std::thread([this] {
            time.Join();
            joined_ = true;
            sim::SimDeviceIo io(line);
            sim::Firmware(state).Run(io);
            done_ = true;
            time.Leave();
        });
        // Time must not move on before the unit takes part in it.
        std::function<bool()> joined = [this] { return joined_.load(); };
        std::function<uint64_t()> never = [] { return sim::kNever; };
        time.WaitFor(joined, never);
    }
    ~SimHost() {
        line.stopping = true;
        time.Poke();
        std::function<bool()> finished = [this] { return done_.load(); };
        std::function<uint64_t()> never = [] { return sim::kNever; };
        time.WaitFor(finished, never);
        thread_.join();
        part_.reset();
    }

    sim::VirtualTime time;
    sim::SimLine line{time};
    sim::SimAdapters adapters;
    sim::SimPort port{line, adapters};
    sim::DeviceState state;

    // A block as the program sends it: unused bytes 0x55, header filled.
    static CommandBlock Block(uint8_t op, uint32_t start = 0, uint32_t end = 0) {
        CommandBlock b;
        b.Fill(0x55);
        std::memcpy(b.bytes.data(), "ZEMKO", 5);
        b.SetOpCode(op);
        b[cb::kChipType] = 1;
        b[cb::kDataByte] = 1;
        b[cb::kPowerSelect] = 1;
        b.SetRange(start, end);
        return b;
    }
    static void SetPassword(CommandBlock& b, const std::string& password) {
        for (int i = 0; i < 8; ++i) b[cb::kPassword + i] = i < int(password.size()) ? uint8_t(password[i]) : 0;
    }

    struct Session {
        bool opened = false;  // the acknowledgement block came whole
        std::vector<uint8_t> ack;
        std::string status;
    };
    Session Open(CommandBlock block) {
        Session s;
        port.SetQueues(1024, 1024);
        port.Purge();
        bool ready = false;
        for (int i = 0; i < 1000 && !ready; ++i) {
            Sleep(1);
            ready = !(port.ModemStatus().value_or(kModemDsr) & kModemDsr);
        }
        if (!ready) return s;
        block[cb::kOpCode] |= 0x40;
        port.ArmTransmitEmpty();
        port.Write(block.bytes.data(), block.bytes.size());
        port.WaitTransmitEmpty(1000);
        Sleep(100);
        s.ack = Read(cb::kSize);
        std::vector<uint8_t> status = Reply(4, 10);
        s.status.assign(status.begin(), status.end());
        s.opened = s.ack.size() == size_t(cb::kSize);
        return s;
    }

    // ReadShortReply: the first byte in tries of 30 ms, the rest 20 ms later in one read.
    std::vector<uint8_t> Reply(size_t length, int tries) {
        std::vector<uint8_t> got(length);
        for (int i = 0; i < tries; ++i) {
            Sleep(30);
            if (port.Read(got.data(), 1) == 1) {
                Sleep(20);
                size_t more = length > 1 ? port.Read(got.data() + 1, length - 1) : 0;
                got.resize(1 + more);
                return got;
            }
        }
        return {};
    }
    std::string Text(size_t length, int tries = 50) {
        std::vector<uint8_t> r = Reply(length, tries);
        return std::string(r.begin(), r.end());
    }
    // ReadWord16 / ReadWord24: big-endian, in 30 tries.
    std::optional<uint32_t> Word(size_t bytes) {
        std::vector<uint8_t> r = Reply(bytes, 30);
        if (r.size() != bytes) return std::nullopt;
        uint32_t v = 0;
        for (uint8_t b : r) v = v << 8 | b;
        return v;
    }
    std::optional<uint32_t> Word24() { return Word(3); }
    std::optional<uint32_t> Word16() { return Word(2); }
    // Progress addresses until one reaches limit or none comes.
    std::vector<uint32_t> Progress(uint32_t limit) {
        std::vector<uint32_t> seen;
        while (auto a = Word24()) {
            seen.push_back(*a);
            if (*a >= limit) break;
        }
        return seen;
    }
    // ReadBytes: chunks of 16, stopping at a chunk that brings nothing.
    std::vector<uint8_t> Read(size_t count) {
        std::vector<uint8_t> got(count);
        size_t have = 0;
        while (have < count) {
            size_t n = port.Read(got.data() + have, std::min<size_t>(16, count - have));
            if (n == 0) break;
            have += n;
        }
        got.resize(have);
        return got;
    }
    // A real port's write returns once the bytes have left.
    void Write(const std::vector<uint8_t>& bytes) {
        port.Write(bytes.data(), bytes.size());
        port.WaitTransmitEmpty(60000);
    }
    bool Busy() { return port.ModemStatus().value_or(kModemDsr) & kModemDsr; }
    void Sleep(int ms) { time.Sleep(ms); }

    static std::vector<uint8_t> Scramble(const std::vector<uint8_t>& plain, const std::string& id) {
        std::vector<uint8_t> out(plain);
        for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(out[i] ^ uint8_t(id[i % 8]));
        return out;
    }

private:
    std::optional<sim::VirtualTime::Participation> part_;
    std::thread thread_;
    std::atomic<bool> joined_{false}, done_{false};
};

}  // namespace veldrix::test
