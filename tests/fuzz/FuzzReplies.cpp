// The host's side of every exchange against a programmer that answers with
// the fuzz input. One or two buttons of the main window run inline on virtual
// time; once the input is used up every read times out, so each operation
// has to come to an end by itself.
//
// Input: eight header bytes, then the DSR runs, then the replies.
//   0  the operation (kOps below)
//   1  options: debug mode, speed (2 bits), buzzer, code in memory,
//      memory rewritten, password remembered, code file is binary
//   2  the chip (entry of the chip list)
//   3  the automatic-sequence boxes (bits 0-6)
//   4  low nibble: address fields (kRanges); high nibble: view address (kViewAddresses)
//   5  answers to the first eight questions and password prompts (1 = refuse)
//   6  a second operation after the first (0 = none)
//   7  low nibble: bytes per port read - 1 (15: as many as asked for);
//      high nibble: number of DSR runs
//   then one byte per DSR run: bit 7 the line (1 = busy), bits 0-6 the length
//   in polls / 16; the line reads ready after the last run;
//   then the replies as the unit sends them, in bursts: a length byte and
//   that many bytes. After a burst the unit pauses: the next read finds
//   nothing unless the host has slept or written since. A length of 255 runs
//   on into the next burst without a pause; 254 stands for the last command
//   block written, echoed as the unit acknowledges it, also running on (into
//   the status word).
#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "app/Core.h"
#include "state/AppContext.h"
#include "app/CommandHandler.h"
#include "state/ControlIds.h"
#include "app/ControlTable.h"
#include "app/MainWindow.h"
#include "code/CodeBuffer.h"
#include "code/ChipCatalogue.h"
#include "code/CodeFile.h"
#include "code/CodeView.h"
#include "state/CommandBlock.h"
#include "link/Session.h"
#include "link/Worker.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/MemorySettings.h"
#include "tests/fuzz/FuzzSupport.h"
#include "state/OpCodes.h"

namespace veldrix::fuzz {
namespace {

// Far beyond anything an operation waits for (the longest single wait is
// 1500 tries of 30 ms), yet reached in seconds by a loop that only sleeps.
constexpr uint64_t kVirtualLimitMicros = uint64_t(6) * 3600 * 1000 * 1000;
// Reads and modem polls once the input has run out: an operation that needs
// more than this keeps going without an answer.
constexpr uint64_t kIdleLimit = 1'000'000;
// More than 16 times the 1 MB image.
constexpr uint64_t kWriteLimit = uint64_t(16) << 20;

class FuzzClock : public Clock {
public:
    void Sleep(int ms, const std::atomic<bool>* stop = nullptr) override {
        if (stop && stop->load()) return;
        if (ms > 0) now_ += uint64_t(ms) * 1000;
        if (now_ > kVirtualLimitMicros) {
            std::fprintf(stderr, "operation still running after %llu s of virtual time\n",
                         static_cast<unsigned long long>(now_ / 1000000));
            std::abort();
        }
    }
    uint64_t NowMicros() override { return now_; }

private:
    uint64_t now_ = 0;
};

// Opens, takes every write, and answers reads with the input.
class FuzzPort : public Port {
public:
    FuzzPort(Clock& clock, std::span<const uint8_t> replies, size_t chunk, std::span<const uint8_t> dsrRuns)
        : clock_(clock), replies_(replies), chunk_(chunk), runs_(dsrRuns) {}

    bool Open(const std::string&) override {
        open_ = true;
        return true;
    }
    void Close() override { open_ = false; }
    bool IsOpen() override { return open_; }
    bool SetQueues(size_t, size_t) override { return true; }
    bool SetTimeouts(const PortTimeouts&) override { return true; }
    bool Purge() override { return true; }
    bool SetLine(const std::string&) override { return true; }
    std::optional<uint32_t> ModemStatus() override {
        while (run_ < runs_.size() && polls_ == 0) {
            polls_ = size_t(runs_[run_] & 0x7F) * 16;
            busy_ = runs_[run_] & 0x80;
            ++run_;
        }
        if (polls_ > 0) {
            --polls_;
            return busy_ ? kModemDsr : 0;
        }
        Idle("modem polls");
        return 0;
    }
    bool ArmTransmitEmpty() override { return true; }
    bool WaitTransmitEmpty(int) override { return true; }
    size_t Read(uint8_t* buffer, size_t count) override {
        while (burst_ == 0 && echo_ == 0) {
            if (pause_) {
                pause_ = false;
                if (clock_.NowMicros() == pauseFrom_) return 0;
            }
            if (pos_ >= replies_.size()) {
                Idle("reads");
                return 0;
            }
            const uint8_t length = replies_[pos_++];
            if (length == kEcho) {
                echo_ = block_.size();
                pause_ = false;
                continue;
            }
            burst_ = std::min<size_t>(length, replies_.size() - pos_);
            pause_ = length != kRunOn;
        }
        if (echo_ > 0) {
            size_t n = std::min({count, chunk_, echo_});
            std::copy_n(block_.end() - long(echo_), n, buffer);
            echo_ -= n;
            return n;
        }
        size_t n = std::min({count, chunk_, burst_});
        std::copy_n(replies_.begin() + long(pos_), n, buffer);
        pos_ += n;
        burst_ -= n;
        if (burst_ == 0) pauseFrom_ = clock_.NowMicros();
        return n;
    }
    size_t Write(const uint8_t* data, size_t count) override {
        if (count == block_.size()) std::copy_n(data, count, block_.begin());
        pause_ = false;  // the pause went by while the host was sending
        written_ += count;
        if (written_ > kWriteLimit) {
            std::fprintf(stderr, "more than %llu bytes written\n", static_cast<unsigned long long>(kWriteLimit));
            std::abort();
        }
        return count;
    }

private:
    static constexpr uint8_t kRunOn = 255, kEcho = 254;

    void Idle(const char* what) {
        if (pos_ < replies_.size() || burst_ > 0 || echo_ > 0) return;
        if (++idle_ > kIdleLimit) {
            std::fprintf(stderr, "still polling after the replies ran out (%s)\n", what);
            std::abort();
        }
    }

    Clock& clock_;
    std::span<const uint8_t> replies_;
    size_t chunk_;
    std::span<const uint8_t> runs_;
    std::array<uint8_t, cb::kSize> block_{};
    size_t pos_ = 0, burst_ = 0, echo_ = 0, run_ = 0, polls_ = 0;
    bool pause_ = false, busy_ = false, open_ = false;
    uint64_t written_ = 0, idle_ = 0, pauseFrom_ = 0;
};

// One adapter on COM1.
class OneAdapter : public PortDirectory {
public:
    bool Available() override { return true; }
    std::optional<std::string> Lookup(const std::string& valueName) override {
        if (valueName == "\\Device\\ProlificSerial0" || valueName == "\\DEVICE\\PROLIFICSERIAL0") return "COM1";
        return std::nullopt;
    }
};

// Questions and password prompts answered from a byte of the input, the
// first eight yes or no, the rest yes.
class FuzzUi : public HeadlessUi {
public:
    explicit FuzzUi(uint8_t refusals) : refusals_(refusals) {}
    MsgAnswer MessageBox(const MessageBoxSpec& spec) override {
        if (spec.buttons != MsgButtons::Ok) {
            bool refuse = Refuse();
            if (spec.buttons == MsgButtons::YesNo) QueueAnswer(refuse ? MsgAnswer::No : MsgAnswer::Yes);
            else QueueAnswer(refuse ? MsgAnswer::Cancel : MsgAnswer::Ok);
        }
        return HeadlessUi::MessageBox(spec);
    }
    std::optional<std::string> AskPassword() override {
        if (Refuse()) return std::nullopt;
        return std::string("000000");
    }
    std::optional<std::string> AskNewPassword() override {
        if (Refuse()) return std::nullopt;
        return std::string("123456");
    }

private:
    bool Refuse() {
        bool refuse = asked_ < 8 && (refusals_ >> asked_ & 1);
        ++asked_;
        return refuse;
    }
    uint8_t refusals_;
    int asked_ = 0;
};

enum class How { Click, InView, F7, Search, Tick, Direct };
struct Op {
    How how;
    int code;  // control id, or operation code for Direct
};
constexpr Op kOps[] = {
    {How::Click, id::kAutoProgram},      {How::Click, id::kVerifyChip},      {How::Click, id::kBlankCheck},
    {How::Click, id::kShowMemory},       {How::Click, id::kChipChecksum},    {How::Click, id::kMemoryChecksum},
    {How::Click, id::kReadProtect},      {How::Click, id::kEraseMtp},        {How::Click, id::kLdcProtect},
    {How::Click, id::kHwProtect},        {How::Click, id::kOpenFile},        {How::Click, id::kRefreshMemory},
    {How::Click, id::kCopyChip},         {How::Click, id::kMakeHex},         {How::InView, id::kPrevPage},
    {How::InView, id::kNextPage},        {How::InView, id::kViewSet},        {How::InView, id::kViewMemory},
    {How::InView, id::kViewChip},        {How::InView, id::kViewMaster},     {How::InView, id::kViewAscii},
    {How::Click, id::kClearCounts},      {How::Click, id::kSetCounter},      {How::Click, id::kPauseCounting},
    {How::Click, id::kDeleteFile},       {How::Click, id::kReadFileToMemory}, {How::Click, id::kMakeOfflineFile},
    {How::Click, id::kReadFileInfo},     {How::Click, id::kSetPassword},     {How::Click, id::kLockProgrammer},
    {How::F7, 0},                        {How::Search, 0},                   {How::Tick, 0},
    // Codes the automatic sequence runs as its steps, started on their own.
    {How::Direct, op::kProgram},         {How::Direct, op::kProgramDirect},  {How::Direct, op::kWriteIdCode},
    {How::Direct, op::kSmart},           {How::Direct, op::kSmartDebug},     {How::Direct, op::kChipChecksum},
};
constexpr size_t kOpCount = std::size(kOps);

struct Range {
    const char* start;
    const char* end;
};
constexpr Range kRanges[] = {{nullptr, nullptr}, {"0000", "0000"}, {"0000", "FFFF"}, {"0000", "1FFF"},
                             {"0010", "0011"},   {"FFFF", "FFFF"}, {"1000", "0FFF"}, {"FFFFF", "FFFFF"},
                             {"0000", "zz"},     {"", ""},         {"0100", "01FF"}, {"03FF", "0400"}};
constexpr const char* kViewAddresses[] = {"00000", "FFFFF", "FFF00", "xyz"};

constexpr const char* kSmallHex = ":10000000101112131415161718191A1B1C1D1E1F78\n:02001000AA55EF\n:00000001FF\n";

struct Files {
    Files() {
        PrivateDir& dir = PrivateDir::Get();
        hex = dir.Write("code.hex", kSmallHex);
        bin = dir.Write("code.bin", std::string(0x300, '\x3C'));
        saved = dir.File("saved.hex");
    }
    std::string hex, bin, saved;
};

void Run(AppContext& ctx, FuzzUi& ui, Worker& worker, const Op& op) {
    switch (op.how) {
    case How::Click:
        if (ui.ApplyClick(op.code)) OnMainCommand(ctx, op.code, FindControl(op.code)->parent);
        return;
    case How::InView:
        ShowCodeView(ctx, true);
        if (!ctx.codeViewInitialised) InitCodeView(ctx);
        if (ui.ApplyClick(op.code)) OnMainCommand(ctx, op.code, FindControl(op.code)->parent);
        return;
    case How::F7: return OnFunctionKey(ctx, kKeyF7);
    case How::Search:
        // The first tick of a window that has not found its programmer yet.
        ctx.FirstTickDone = 0;
        return OnTimerTick(ctx);
    case How::Tick: return OnTimerTick(ctx);
    case How::Direct:
        // As the automatic sequence starts them: on the range of the fields.
        ReadProgrammingRange(ctx);
        worker.StartOperation(op.code);
        return;
    }
}

}  // namespace
}  // namespace veldrix::fuzz

using namespace veldrix;
using namespace veldrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Files files;
    constexpr size_t kHeader = 8;
    if (size < kHeader) return 0;
    const uint8_t options = data[1];
    const size_t runs = std::min<size_t>(data[7] >> 4, size - kHeader);
    std::span<const uint8_t> dsr(data + kHeader, runs);
    std::span<const uint8_t> replies(data + kHeader + runs, size - kHeader - runs);

    FuzzClock clock;
    FuzzUi ui(data[5]);
    MemorySettings settings;
    settings.values["setup"] = VELDRIX_SOURCE_DIR "/resources";
    const size_t chunk = (data[7] & 0x0F) == 0x0F ? SIZE_MAX : size_t(data[7] & 0x0F) + 1;
    FuzzPort port(clock, replies, chunk, dsr);
    OneAdapter adapters;
    // On the heap: the context is large.
    auto core = std::make_unique<Core>(ui, clock, settings, port, adapters, Worker::Mode::Inline);
    AppContext* ctx = &core->ctx;
    Worker& worker = core->worker;
    InitMainWindow(*ctx);
    FUZZ_CHECK(ctx->catalogue.count > 1);

    // The window as the operator left it: a chip, a code file loaded, options.
    ui.ComboSelect(id::kChipCombo, data[2] % ui.ComboCount(id::kChipCombo));
    ApplyChipSelection(*ctx);
    ui.SetText(id::kCodeFile, (options & 0x80) ? files.bin : files.hex);
    LoadCodeFile(*ctx);
    FUZZ_CHECK(ctx->LinkErrorFlag == 0);
    const Range& range = kRanges[(data[4] & 0x0F) % std::size(kRanges)];
    if (range.start) {
        ui.SetText(id::kStartAddress, range.start);
        ui.SetText(id::kEndAddress, range.end);
    }
    ui.SetText(id::kViewAddress, kViewAddresses[(data[4] >> 4) % std::size(kViewAddresses)]);
    ui.SetChecked(id::kDebugMode, options & 0x01);
    const int speeds[] = {id::kSpeedFull, id::kSpeedMedium, id::kSpeedLow};
    for (int i = 0; i < 3; ++i) ui.SetChecked(speeds[i], ((options >> 1) & 3) == i);
    ui.SetChecked(id::kBuzzer, options & 0x08);
    const int autoBoxes[] = {id::kAutoVerify, id::kAutoReadProtect, id::kEnableSmart, id::kAutoBlankCheck,
                             id::kAutoLdc,    id::kAutoHwProtect,    id::kAutoIdIncrement};
    for (int i = 0; i < 7; ++i) ui.SetChecked(autoBoxes[i], data[3] >> i & 1);
    if (options & 0x10) {
        ctx->codeInMemory = 1;
        ctx->checkedRange = ctx->programmingRange;
    }
    ctx->memoryRewritten = (options & 0x20) ? 1 : 0;
    if (options & 0x40) {
        ctx->rememberedPassword = "000000";
        ctx->passwordRemembered = true;
    }
    ui.QueueOpen(files.hex);
    ui.QueueSave(files.saved);

    const Op& first = kOps[data[0] % kOpCount];
    if (first.how != How::Search) {
        // Connected as a search that found the unit leaves it.
        port.Open("COM1");
        ctx->portList = {"COM1"};
        ctx->portValueNames = {"\\Device\\ProlificSerial0"};
        ctx->FirstTickDone = 1;
        ctx->LinkEnabledFlag = 1;
        ctx->ConnectedFlag = 1;
        ctx->block.Fill(0x55);
        FillCommandBlockHeader(*ctx);
    }
    Run(*ctx, ui, worker, first);
    if (data[6] != 0) Run(*ctx, ui, worker, kOps[(data[6] - 1) % kOpCount]);

    // Every operation ran to its end on this thread and left the window free.
    FUZZ_CHECK(!worker.OperationRunning());
    FUZZ_CHECK(!worker.MonitorRunning());
    FUZZ_CHECK(ctx->BusyFlag == 0);
    FUZZ_CHECK(ctx->AutoRunActive == 0);
    FUZZ_CHECK(ctx->LinkErrorFlag == 0 || ctx->LinkErrorFlag == 1);
    FUZZ_CHECK(!ui.GetText(id::kStatusLine).empty());
    FUZZ_CHECK(ctx->codeBuffer.size() == kImageSize && ctx->sendBuffer.size() == kImageSize);
    FUZZ_CHECK(ctx->rememberedPassword.size() <= 8);
    worker.Shutdown(0);
    // For reading what a reproducer did: VELDRIX_FUZZ_VERBOSE=1 fuzz-replies FILE
    if (std::getenv("VELDRIX_FUZZ_VERBOSE"))
        for (const std::string& line : ui.Transcript()) std::fprintf(stderr, "%s\n", line.c_str());
    return 0;
}
