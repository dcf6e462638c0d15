#pragma once
// One programmer as veldrix-cli drives it: its own context, window and
// worker, as the window program has them, and the steps a subcommand takes
// through them. Each step ends with an exit status judged from the outcome
// the operation left in the context.
#include <cstdint>
#include <memory>
#include <string>

#include "cli/CliUi.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/Secrets.h"
#include "app/Core.h"

namespace veldrix::sim {
class InProcessProgrammer;
}

namespace veldrix::cli {

// What a unit talks through; owned by whoever runs the units.
struct UnitLinks {
    std::string label;   // the port as the unit's lines name it
    int number = 1;      // from 1, as --sim-do N: names the unit
    bool fixedPort = false;  // only this port: the search must not go on to another
    Clock* clock = nullptr;
    Port* port = nullptr;
    PortDirectory* directory = nullptr;
    SettingsStore* settings = nullptr;
    sim::InProcessProgrammer* sim = nullptr;
    Secrets* secrets = nullptr;
    ProductionRecords* records = nullptr;  // none: no production log
    DownloadMemo* downloads = nullptr;     // what this PC last downloaded, per port
    Clock* recordsClock = nullptr;         // the records' time; null: clock
    std::string recordsPortNote;           // after the port in the records
    uint64_t epochMicros = 0;  // times are reported from here
};

class Unit {
public:
    Unit(const UnitLinks& links, const Options& options, Output& output);
    ~Unit();
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    const std::string& Label() const { return links_.label; }
    int Number() const { return links_.number; }
    AppContext& Context() { return *ctx_; }
    CliUi& Window() { return ui_; }
    sim::InProcessProgrammer* Sim() { return links_.sim; }
    Output& Out() { return output_; }
    double NowMs();

    // The window as the program builds it (settings, chip list), then the
    // options of the command line as clicks on it. kExitOk or kExitUsage.
    int BuildWindow();
    // The command line's options as clicks on the window; again after a
    // project file set it. kExitOk or kExitUsage.
    int ApplyOptions(bool again);
    // A code file with data that would not be programmed: refused without
    // --allow-lost-code (kExitUsage), a warning with it; --yes never passes it.
    int CheckCodeFile(const std::string& path);
    // A file with data that will not be programmed was used, as allowed.
    bool LostCodeAllowed() const { return lostCodeAllowed_; }
    // The options that name a range; again after a file set the fields.
    void ApplyRange();
    // The programmer search of the window's first tick; kExitOk or kExitLink.
    // A unit without a port of its own is named after the port that answered.
    int Connect();
    // The last box's text (info shows the firmware's in one).
    const std::string& LastBox() const { return lastBox_; }
    // The window's link check between chips: searches again after a failure.
    void CheckLink();

    // Steps. Each reports its end and returns its exit status.
    // quiet: the step's line only in JSON; the caller reports.
    int Operation(int opCode, const std::string& step, bool quiet = false);
    int Button(int controlId, const std::string& step, bool quiet = false);
    // The file into the code buffer only, as the window's loading does.
    int LoadFile(const std::string& path, const std::string& step);
    // The file into the programmer's memory (op::kDownload), or with --no-download,
    // loaded here and checked against the memory's sum.
    int PutCodeInMemory(const std::string& path);

    void Emit(const std::string& kind, Json fields, const std::string& text);
    // The end of a step: its name, exit status and status text, and how long
    // it took since BeginStep.
    void EmitStep(const std::string& step, int exit, const std::string& status, const std::string& text);
    void BeginStep();
    // Text in the unit's name, not an event (listings in text mode).
    void Line(const std::string& text, Stream stream) { output_.Line(Label(), text, stream); }
    // A Ctrl-C came: the step is not started, and says so. True then.
    bool Halted(const std::string& step);
    // A code file that cannot be read: the step fails naming the path and the reason.
    int FileProblem(const std::string& path, const std::string& step);
    // The status line's last text, as the window's hook reported it.
    const std::string& Status() const { return lastStatus_; }

private:
    void OnStatus(const std::string& text, bool changed);
    void OnProgress(const ProgressReport& report);
    void OnBox(const MessageBoxSpec& spec, MsgAnswer answer, bool refused);
    int EndStep(const std::string& step, bool quiet = false);
    int Judge();
    bool Click(int controlId);
    std::string SetBox(int controlId, int value, const char* option);

    UnitLinks links_;
    const Options& options_;
    Output& output_;
    CliUi ui_;
    std::unique_ptr<Core> core_;
    AppContext* ctx_ = nullptr;  // the core's
    std::string lastStatus_;
    std::string printedStatus_;  // the last status change shown (verbose)
    bool progressText_ = false;  // the next status text shows the progress just reported
    std::string lastBox_;
    double stepStartMs_ = 0;
    bool lostCodeAllowed_ = false;
};

}  // namespace veldrix::cli
