// veldrix-cli against the window on virtual time, with the simulated unit's
// own timings: the automatic sequence through the command line and through
// the window's button, and four programmers at once against one.
//
//   veldrix-cli-bench
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/CommandHandler.h"
#include "app/ControlTable.h"
#include "app/Core.h"
#include "app/MainWindow.h"
#include "cli/Cli.h"
#include "code/ChipCatalogue.h"
#include "link/PortDiscovery.h"
#include "link/Worker.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/MemorySettings.h"
#include "sim/InProcessProgrammer.h"
#include "sim/SimCommands.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"

using namespace veldrix;
using Json = nlohmann::json;

namespace {

constexpr const char* kChip = "S3F866B";  // 64 KB of ROM
constexpr long kIdAddress = 0xFF00;

std::string WriteImage() {
    std::vector<char> bytes(0x10000);
    std::mt19937 rng(7);
    for (char& c : bytes) c = char(rng() & 0xFF);
    // Blank where the ID code goes, or the window asks before it writes over code.
    std::fill(bytes.begin() + kIdAddress, bytes.begin() + kIdAddress + 3, char(0xFF));
    std::string path = "/tmp/veldrix-cli-bench-64k.bin";
    std::ofstream(path, std::ios::binary).write(bytes.data(), long(bytes.size()));
    return path;
}

void Click(AppContext& ctx, int id) {
    if (const ControlDef* def = FindControl(id)) OnMainCommand(ctx, id, def->parent);
}

// The window: download by its button, then the automatic sequence by its
// button with the ID code on, as the command line's --id has it; the time of
// the sequence alone, in ms.
double WindowAuto(const std::string& image, std::string& status) {
    sim::VirtualTime time;
    sim::VirtualTime::Participation part{time};
    sim::InProcessProgrammer prog{time};
    HeadlessUi ui;
    MemorySettings settings;
    settings.values["setup"] = VELDRIX_SOURCE_DIR "/resources";
    Core core{ui, time, settings, prog.port, prog.adapters, Worker::Mode::Inline};
    AppContext& ctx = core.ctx;
    Worker& worker = core.worker;
    CreateMainControls(ctx);
    ConnectProgrammer(ctx);
    ui.ApplyComboChoice(id::kChipCombo, kChip);
    ApplyChipSelection(ctx);
    std::string out, error;
    sim::RunSimCommand(prog.state, prog.adapters, "chip mtp blank 10000", out, error);
    ui.SetText(id::kCodeFile, image);
    ui.SetChecked(id::kAutoIdIncrement, true);
    ui.SetText(id::kIdAddress, "FF00");
    Click(ctx, id::kRefreshMemory);
    uint64_t t0 = time.NowMicros();
    Click(ctx, id::kAutoProgram);
    uint64_t t1 = time.NowMicros();
    status = ui.GetText(id::kStatusLine);
    worker.Shutdown(1000);
    return double(t1 - t0) / 1000.0;
}

std::vector<Json> Cli(const std::vector<std::string>& args) {
    // A settings file that is not there: the window's defaults. The command
    // line keeps its downloads beside it, so the folder is a scratch one.
    std::vector<std::string> all = {"--json", "--settings", "/tmp/veldrix-cli-bench/settings", "--install-dir",
                                    VELDRIX_SOURCE_DIR "/resources", "--chip", kChip};
    all.insert(all.end(), args.begin(), args.end());
    std::istringstream in;
    std::ostringstream out, err;
    cli::RunCli(all, in, out, err, false);
    std::vector<Json> events;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) events.push_back(Json::parse(line));
    return events;
}

Json Last(const std::vector<Json>& events, const std::string& kind, const std::string& step = "") {
    Json found;
    for (const Json& e : events)
        if (e["event"] == kind && (step.empty() || e["step"] == step)) found = e;
    return found;
}

}  // namespace

int main() {
    std::string image = WriteImage();
    std::printf("Virtual time, the simulated unit's own timings, 64 KB image (0000-FFFF), chip %s; ms\n", kChip);

    std::string windowStatus;
    double window = WindowAuto(image, windowStatus);
    auto one = Cli({"--sim", "auto", image, "--id", "FF00:1"});
    Json autoStep = Last(one, "step", "auto");
    double cli = autoStep["took_ms"].get<double>();
    std::printf("%-44s %10.1f  %s\n", "window: automatic sequence (button)", window, windowStatus.c_str());
    std::printf("%-44s %10.1f  %s\n", "veldrix-cli --sim auto: the sequence step", cli,
                autoStep["status"].get<std::string>().c_str());
    std::printf("%-44s %10.3f\n", "ratio cli / window", cli / window);

    // Download and sequence, whole calls: one unit against four at once.
    double single = Last(one, "result")["ms"].get<double>();
    auto four = Cli({"--sim-units", "4", "auto", image, "--id", "FF00:1"});
    Json summary = Last(four, "summary");
    double gang = summary["ms"].get<double>();
    std::printf("%-44s %10.1f  exit %d\n", "one unit: download + auto", single, Last(one, "result")["exit"].get<int>());
    std::printf("%-44s %10.1f  exit %d\n", "four units at once: download + auto", gang, summary["exit"].get<int>());
    std::printf("%-44s %10.3f\n", "ratio four / one", gang / single);
    bool ok = cli / window <= 1.01 && gang / single <= 1.05 && summary["exit"] == 0;
    std::printf("%s\n", ok ? "within bounds (auto <= 1.01, four units <= 1.05)" : "OUT OF BOUNDS");
    return ok ? 0 : 1;
}
