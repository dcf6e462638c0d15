// veldrix-sim: the simulated programmer on a pseudo-terminal.
//   veldrix-sim [--link PATH] [--pace] [--fast] [--chip otp|mtp]
// Prints the pseudo-terminal's path on the first line, then serves until
// interrupted. --link makes PATH a symbolic link to it (for Wine's COM1);
// --pace holds the unit's output to the real 38400 baud; --fast uses the
// zero-latency timing; --chip puts a blank chip of that kind in the socket.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "sim/DeviceState.h"
#include "sim/Firmware.h"
#include "sim/PtyDeviceIo.h"

namespace {
veldrix::sim::PtyDeviceIo* g_io = nullptr;
void OnSignal(int) {
    if (g_io) g_io->RequestStop();
}
}  // namespace

int main(int argc, char** argv) {
    std::string link;
    bool pace = false, fast = false;
    std::string chip;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--link" && i + 1 < argc) link = argv[++i];
        else if (a == "--pace") pace = true;
        else if (a == "--fast") fast = true;
        else if (a == "--chip" && i + 1 < argc && (std::string(argv[i + 1]) == "otp" || std::string(argv[i + 1]) == "mtp"))
            chip = argv[++i];
        else {
            std::fprintf(stderr, "usage: veldrix-sim [--link PATH] [--pace] [--fast] [--chip otp|mtp]\n");
            return 2;
        }
    }
    veldrix::sim::PtyDeviceIo io(pace);
    if (!io.Ok()) {
        std::perror("veldrix-sim: cannot open a pseudo-terminal");
        return 1;
    }
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

    veldrix::sim::DeviceState state;
    if (fast) state.timing = veldrix::sim::Timing::Instant();
    if (!chip.empty())
        state.chip = veldrix::sim::Chip::Blank(chip == "mtp" ? veldrix::sim::ChipKind::Mtp : veldrix::sim::ChipKind::Otp);
    veldrix::sim::Firmware firmware(state);
    firmware.Run(io);
    if (!link.empty()) ::unlink(link.c_str());
    return 0;
}
