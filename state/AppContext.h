#pragma once
// The program's process-wide state: created once by the program and once per
// test. Shared flags are atomics because the worker, the link monitor and the
// window thread all read them.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "seams/Clock.h"
#include "seams/Port.h"
#include "seams/PortDirectory.h"
#include "seams/ProductionRecords.h"
#include "seams/SettingsStore.h"
#include "seams/Ui.h"
#include "state/ChipRecord.h"
#include "state/CommandBlock.h"
#include "state/Outcome.h"

namespace veldrix {

class Worker;
class DownloadMemo;

constexpr size_t kImageSize = 0x100000;  // 1 MiB code images

struct AddressRange {
    uint32_t start = 0;
    uint32_t end = 0;
    bool operator==(const AddressRange&) const = default;
};

// A text one thread may write while another reads it: the remembered port is
// set by a search on the link-monitor thread and saved by the window thread.
class GuardedText {
public:
    explicit GuardedText(std::string value) : value_(std::move(value)) {}
    std::string Get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    GuardedText& operator=(std::string value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
        return *this;
    }
    bool operator==(const std::string& other) const { return Get() == other; }

private:
    mutable std::mutex mutex_;
    std::string value_;
};

struct AppContext {
    AppContext(Ui& ui, Clock& clock, SettingsStore& settings, Port& port, PortDirectory& ports)
        : ui(&ui), clock(&clock), settings(&settings), port(&port), portDirectory(&ports) {}
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    Ui* ui;
    Clock* clock;
    SettingsStore* settings;
    Port* port;
    PortDirectory* portDirectory;
    Worker* worker = nullptr;  // set by whoever runs the window
    // The routine of each operation code (DispatchOperation of the window
    // logic); the worker calls it, so the link stays below the operations.
    // Set by whoever runs the window, with worker.
    void (*dispatch)(AppContext& ctx, int opCode) = nullptr;
    // The production records of the automatic sequence and the offline
    // files; none kept when null. Set by whoever runs the window.
    ProductionRecords* records = nullptr;
    bool recordsWarned = false;  // the warning about records that could not be stored, once a run
    // A record with an ID code could be kept neither in the records nor in a
    // pending file: no further ID code is written until it is.
    bool recordsUnkept = false;
    uint32_t recordedRuns = 0;  // records finished (kept or not), so a caller can tell a run left one
    // The records' wall clock and port note: the command line on simulated
    // units records the real time and marks its ports; null: the clock above.
    Clock* recordsClock = nullptr;
    std::string recordsPortNote;
    // What the last operation found; reset when an operation starts, read
    // once it has ended.
    OperationOutcome outcome;
    // Progress of a running operation as numbers (the command line's bar);
    // none when empty. Called on the worker thread.
    ProgressSink progress;
    // What this PC last downloaded on each port (code/DownloadMemo.h); none kept when null.
    DownloadMemo* downloads = nullptr;

    CommandBlock block;
    std::vector<uint8_t> codeBuffer = std::vector<uint8_t>(kImageSize, 0xFF);
    std::vector<uint8_t> sendBuffer = std::vector<uint8_t>(kImageSize, 0xFF);
    std::vector<uint8_t> viewBuffer = std::vector<uint8_t>(kImageSize, 0xFF);
    AddressRange programmingRange{0, 0};
    AddressRange checkedRange{0, 0x1FFF};
    ChipCatalogue catalogue;

    // Link and run state
    std::atomic<int> LinkErrorFlag{0};
    std::atomic<int> ConnectedFlag{0};
    std::atomic<int> LinkEnabledFlag{0};
    std::atomic<int> BusyFlag{0};
    std::atomic<int> AbortFlag{0};
    std::atomic<int> AutoRunActive{0};
    std::atomic<int> AutoRunMarker{0};
    std::atomic<int> SilentSearch{0};
    std::atomic<int> FirstTickDone{0};
    std::atomic<int> LinkLabelPressed{0};
    // Programmer-memory state
    std::atomic<int> codeInMemory{0};
    std::atomic<int> memoryRewritten{0};
    std::array<uint8_t, 8> programmerId{};

    // Port discovery
    std::vector<std::string> portList;        // at most 8
    std::vector<std::string> portValueNames;  // registry value name of each entry
    GuardedText rememberedPort{"COM1"};

    // Operation password (for this run only)
    std::string rememberedPassword;  // as the unit gets it (PasswordBytes)
    bool passwordRemembered = false;

    // Counters and ID code
    uint32_t successCount = 0;
    uint32_t failureCount = 0;
    uint32_t idValue = 0;
    uint32_t idAddress = 0;
    // How the sequence takes its ID code from the records: a code on a good
    // chip is asked about (the window) or passed over (the command line), and
    // no code beyond the last is taken.
    bool idPassOverGood = false;
    uint32_t idLastCode = 0xFFFFFF;
    // An ID code over code bytes the operator accepted: not asked again for
    // the same code, ID address and range until the next download.
    struct IdOverCode {
        uint32_t idAddress = 0;
        AddressRange range;
        uint16_t codeSum = 0;
        bool operator==(const IdOverCode&) const = default;
    };
    std::optional<IdOverCode> idOverCodeAccepted;
    bool probeOnly = false;

    // Code view
    uint32_t viewAddress = 0;
    bool codeViewInitialised = false;

    // Set at close: every sleep and port transfer gives up at once.
    std::atomic<bool> stopRequested{false};
    // The step running finishes, no further step starts: the window sets
    // its own flag when the session ends, the command line points at its
    // Ctrl-C flag.
    std::atomic<bool> haltRequested{false};
    const std::atomic<bool>* haltAfterStep = nullptr;
    bool HaltAsked() const { return haltRequested.load() || (haltAfterStep && haltAfterStep->load()); }

    void Sleep(int ms) { clock->Sleep(ms, &stopRequested); }
};

// Replaces the whole status line.
void SetStatus(AppContext& ctx, const std::string& text);

// The outcome of the operation under way. The worker starts each operation
// afresh; a caller that runs a routine itself (loading a file, the search)
// starts it first.
void StartOutcome(AppContext& ctx);
// What the routine found out about the end; the latest note wins.
void NoteOutcome(AppContext& ctx, OutcomeClass cls);
// The unit's judged reply, kept beside the class.
void NoteVerdict(AppContext& ctx, const std::string& verdict);
// At the end: an operation that noted no class ends as LinkErrorFlag says.
void SettleOutcome(AppContext& ctx);
// The numbers behind a status text that shows an address reached. Called
// right before that text is set, so a listener may take the next text as the
// progress's own.
void ReportProgress(AppContext& ctx, const std::string& stage, uint32_t address, uint32_t start, uint32_t end);
// Message box owned by the main window.
MsgAnswer ShowBox(AppContext& ctx, const std::string& text, const std::string& caption,
                  MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::None,
                  int defaultButton = 0);
// A question box, by its name (listed in README "Command line").
MsgAnswer Ask(AppContext& ctx, const std::string& question, const std::string& text, const std::string& caption,
              MsgButtons buttons, MsgIcon icon = MsgIcon::None, int defaultButton = 0);

}  // namespace veldrix
