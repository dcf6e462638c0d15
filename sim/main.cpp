// veldrix-sim: the simulated programmer on a pseudo-terminal.
//   veldrix-sim [--link PATH] [--pace] [--fast] [--chip otp|mtp] [--script FILE] [--modem DIR]
// Prints the pseudo-terminal's path on the first line, then serves until
// interrupted. --link makes PATH a symbolic link to it (for Wine's COM1);
// --pace makes it a serial line both ways, at the baud rate and frame the
// host sets (11 bits a byte at 38400 baud for 8E1); --fast uses the
// zero-latency timing; --chip puts a blank chip of that kind in the socket;
// --script runs the sim commands of FILE (a headless script's "sim" lines,
// with or without the "sim") before serving. Lines on the standard input are
// the same commands, taken while the unit serves: "chip mtp" puts a new chip
// in the socket, "fault noreply" breaks the link, "unplug" pulls the adapter:
// the pseudo-terminal is closed under the host, and the link goes as Linux
// takes a pulled adapter's device; "plug" opens a new one behind the link.
// --modem shows the unit's busy line in DIR to hosts that preload
// libveldrix-ptyparity with VELDRIX_PTY_MODEM=DIR (a pseudo-terminal has no
// modem lines of its own).
// --replay TRACE plays the unit's side of a recorded wire trace instead of the
// firmware (sim/Replay.h); at the first difference it says where on the
// standard error and stops answering; interrupted, it exits with status 0
// when the host said all it said then and nothing more, else 1.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "sim/DeviceState.h"
#include "sim/Firmware.h"
#include "sim/PtyDeviceIo.h"
#include "sim/Replay.h"
#include "sim/SimCommands.h"
#include "sim/SimLine.h"

namespace {
veldrix::sim::PtyDeviceIo* g_io = nullptr;
void OnSignal(int) {
    if (g_io) g_io->RequestStop();
}

using veldrix::sim::DeviceState;
using veldrix::sim::PtyDeviceIo;
using veldrix::sim::SimAdapters;

// The unit, its one adapter, and the link the host opens.
struct Unit {
    DeviceState& state;
    PtyDeviceIo& io;
    SimAdapters adapters;
    std::string link;
    bool serving = false;  // the link exists only from then on
    bool linked = false;

    // The adapter's plug state reaches the line and the link.
    void ApplyPlug() {
        bool plugged = adapters.adapters[0].plugged;
        if (!io.SetPlugged(plugged)) std::perror("veldrix-sim: cannot open a new pseudo-terminal");
        if (!serving || link.empty() || plugged == linked) return;
        if (plugged) {
            ::unlink(link.c_str());
            if (::symlink(io.SlavePath().c_str(), link.c_str()) != 0) {
                std::perror("veldrix-sim: cannot create the link");
                return;
            }
        } else {
            ::unlink(link.c_str());
        }
        linked = plugged;
    }

    // 0 done, 1 a failed expectation, 2 a bad command; prints what the
    // command says, or "ok" when asked to confirm.
    int Run(std::string line, bool confirm) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos || line[first] == '#') return 0;
        std::string output, error;
        bool ok = veldrix::sim::RunSimCommand(state, adapters, line, output, error);
        ApplyPlug();
        if (!output.empty()) std::printf("%s\n", output.c_str());
        if (ok && confirm && output.empty()) std::printf("ok\n");
        std::fflush(stdout);
        if (ok) return 0;
        std::fprintf(stderr, "veldrix-sim: %s\n", error.c_str());
        return error.rfind("usage", 0) == 0 || error.rfind("unknown", 0) == 0 ? 2 : 1;
    }
};

// Commands from the standard input until it ends or the unit stops; each gets
// an answer, and a bad one is reported and the next one taken.
void TakeCommands(Unit& unit) {
    std::string pending;
    char buffer[512];
    while (!unit.io.Stopping()) {
        pollfd p{0, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, size_t(n));
        for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            unit.Run(pending.substr(0, nl), true);
            pending.erase(0, nl + 1);
        }
    }
}

// The recorded conversation on the terminal, until interrupted.
int ServeReplay(veldrix::sim::Replay& replay, PtyDeviceIo& io, const std::string& link) {
    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(io.SlavePath().c_str(), link.c_str()) != 0) {
            std::perror("veldrix-sim: cannot create the link");
            return 1;
        }
    }
    std::printf("%s\n", io.SlavePath().c_str());
    std::fflush(stdout);
    g_io = &io;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    replay.Run(io);
    if (replay.Differed()) std::fprintf(stderr, "veldrix-sim: replay: %s\n", replay.Difference().c_str());
    while (!io.Stopping()) io.Sleep(50);
    if (!link.empty()) ::unlink(link.c_str());
    if (replay.Differed()) return 1;
    if (!replay.Finished()) {
        std::fprintf(stderr, "veldrix-sim: replay: the host stopped before the end of the trace\n");
        return 1;
    }
    std::printf("replay: %d exchanges as recorded\n", replay.Exchanges());
    return 0;
}

const char kUsage[] =
    "usage: veldrix-sim [--link PATH] [--pace] [--fast] [--chip otp|mtp] [--script FILE] [--modem DIR]\n"
    "       veldrix-sim --replay TRACE [--link PATH] [--pace] [--modem DIR]\n";
}  // namespace

int main(int argc, char** argv) {
    std::string link, script, modem, replayFile;
    bool pace = false, fast = false;
    std::string chip;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--link" && i + 1 < argc) link = argv[++i];
        else if (a == "--script" && i + 1 < argc) script = argv[++i];
        else if (a == "--modem" && i + 1 < argc) modem = argv[++i];
        else if (a == "--replay" && i + 1 < argc) replayFile = argv[++i];
        else if (a == "--pace") pace = true;
        else if (a == "--fast") fast = true;
        else if (a == "--chip" && i + 1 < argc && (std::string(argv[i + 1]) == "otp" || std::string(argv[i + 1]) == "mtp"))
            chip = argv[++i];
        else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    veldrix::sim::Replay replay;
    if (!replayFile.empty()) {
        std::string text, error;
        std::ifstream in(replayFile, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) text.clear();
        if (!replay.Load(text, error)) {
            std::fprintf(stderr, "veldrix-sim: %s: %s\n", replayFile.c_str(), error.c_str());
            return 2;
        }
    }
    PtyDeviceIo io(pace, modem);
    if (!io.Ok()) {
        std::perror("veldrix-sim: cannot open a pseudo-terminal");
        return 1;
    }
    if (!replayFile.empty()) return ServeReplay(replay, io, link);

    DeviceState state;
    if (fast) state.timing = veldrix::sim::Timing::Instant();
    if (!chip.empty())
        state.chip = veldrix::sim::Chip::Blank(chip == "mtp" ? veldrix::sim::ChipKind::Mtp : veldrix::sim::ChipKind::Otp);
    // One adapter with the unit behind it, as a host sees it on COM1.
    Unit unit{state, io, {}, link};
    unit.adapters.adapters.push_back({0, "COM1", true, true});

    // The script sets the unit up before any host can reach it.
    if (!script.empty()) {
        std::ifstream file(script);
        if (!file) {
            std::fprintf(stderr, "veldrix-sim: cannot read %s\n", script.c_str());
            return 2;
        }
        std::string line;
        for (int lineNo = 1; std::getline(file, line); ++lineNo) {
            if (int status = unit.Run(line, false)) {
                std::fprintf(stderr, "veldrix-sim: %s line %d\n", script.c_str(), lineNo);
                return status;
            }
        }
    }
    unit.serving = true;
    unit.ApplyPlug();
    if (!link.empty() && unit.adapters.adapters[0].plugged && !unit.linked) return 1;
    std::printf("%s\n", io.SlavePath().c_str());
    std::fflush(stdout);
    g_io = &io;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    // Started in the background of a terminal, reading it would stop the
    // whole unit; ignored, the read fails and only the commands end.
    std::signal(SIGTTIN, SIG_IGN);

    std::thread commands(TakeCommands, std::ref(unit));
    veldrix::sim::Firmware firmware(state);
    firmware.Run(io);
    commands.join();
    if (unit.linked) ::unlink(link.c_str());
    return 0;
}
