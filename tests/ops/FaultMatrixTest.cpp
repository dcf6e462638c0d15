// Every operation that talks to the programmer, with every fault the unit can
// show at every exchange step of every session the operation opens, and the
// adapter pulled at each session and in the middle of the traffic. Each case
// runs on a fresh program and unit; after the fault is cleared and the link
// is back, the same operation must go through.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "app/MainWindow.h"
#include "link/Session.h"
#include "tests/admin/ProductionApp.h"
#include "state/OpCodes.h"

namespace veldrix {
namespace {

using test::ProductionApp;
using sim::FaultKind;
using sim::FaultStep;

constexpr uint32_t kCodeSize = 0x400;
constexpr int kStoredBlock = 3;
// However a fault strikes, an operation ends within this much of the time it
// takes without one.
// The memory initialisation alone may wait 1500 tries of a 30 ms pause and
// an 82 ms read.
constexpr uint64_t kBoundMicros = 150'000'000;

struct Operation {
    std::string name;
    // Puts the unit and the window in the state the operation needs; runs
    // before the faulted attempt and again before the attempt after it.
    std::function<void(ProductionApp&)> prepare;
    std::function<void(ProductionApp&)> act;
    // Whether an attempt went through, beyond a clear LinkErrorFlag; by
    // default it ends with the status text of an attempt without a fault.
    std::function<bool(ProductionApp&, const std::string& cleanStatus)> succeeded = nullptr;
    std::string writes = "";  // the user's file an attempt that goes through replaces
};

std::vector<uint8_t> Code() { return ProductionApp::Pattern(kCodeSize, 5); }

void Socket(ProductionApp& app, sim::ChipKind kind, bool programmed) {
    app.Device([&](sim::DeviceState& s) {
        s.chip = sim::Chip::Blank(kind);
        if (programmed) std::ranges::copy(Code(), s.chip.cells.begin());
        return 0;
    });
}

void AutoBoxes(ProductionApp& app, bool all) {
    for (int box : {id::kAutoVerify, id::kAutoReadProtect, id::kEnableSmart, id::kAutoBlankCheck, id::kAutoLdc,
                    id::kAutoHwProtect, id::kAutoIdIncrement}) {
        app.ui.SetEnabled(box, true);
        app.ui.SetChecked(box, all && box != id::kEnableSmart);
    }
}

const std::vector<Operation>& Operations() {
    using A = ProductionApp;
    auto click = [](int control) { return [control](A& app) { app.Click(control); }; };
    auto chip = [](sim::ChipKind kind, bool programmed) {
        return [kind, programmed](A& app) { Socket(app, kind, programmed); };
    };
    auto nothing = [](A&) {};
    auto mainView = [](A& app) {
        if (app.ui.IsVisible(id::kViewGroup)) app.Click(id::kViewBack);
    };
    static const std::vector<Operation> ops = {
        {"download", nothing, click(id::kRefreshMemory)},
        {"memory checksum", nothing, click(id::kMemoryChecksum)},
        {"verify", chip(sim::ChipKind::Mtp, true), click(id::kVerifyChip)},
        {"blank check", chip(sim::ChipKind::Mtp, false), click(id::kBlankCheck)},
        {"chip checksum", chip(sim::ChipKind::Mtp, true), click(id::kChipChecksum)},
        {"erase", chip(sim::ChipKind::Mtp, true), click(id::kEraseMtp)},
        {"read protection", chip(sim::ChipKind::Mtp, true), click(id::kReadProtect)},
        {"LDC protection", chip(sim::ChipKind::Mtp, true), click(id::kLdcProtect)},
        {"write protection", chip(sim::ChipKind::Mtp, true), click(id::kHwProtect)},
        {"copy chip to memory", chip(sim::ChipKind::Mtp, true), click(id::kCopyChip)},
        {"save memory as HEX", [](A& app) { app.ui.QueueSave(app.dir.File("saved.hex")); }, click(id::kMakeHex),
         [](A& app, const std::string&) {
             return app.Status() == "代码文件文件已成功保存在: " + app.dir.File("saved.hex");
         },
         "saved.hex"},
        {"code view of memory", mainView, click(id::kShowMemory)},
        {"code view of the chip",
         [mainView](A& app) {
             Socket(app, sim::ChipKind::Mtp, true);
             mainView(app);
             app.Click(id::kShowMemory);
         },
         [](A& app) {
             EXPECT_TRUE(app.ui.ApplyClick(id::kViewChip));
             OnMainCommand(app.ctx, id::kViewChip, id::kViewGroup);
         }},
        {"programmer information", [](A& app) { app.ui.SetText(id::kStatusLine, ""); },
         [](A& app) { OnFunctionKey(app.ctx, kKeyF7); },
         [](A& app, const std::string&) {
             auto box = app.ui.LastBox();
             return box && box->spec.text.find(sim::kFirmwareVersion) != std::string::npos &&
                    app.Status().empty();
         }},
        {"stored file information", nothing, click(id::kReadFileInfo)},
        {"set counter", nothing, click(id::kSetCounter)},
        {"stored file to memory", nothing, click(id::kReadFileToMemory)},
        {"make offline file",
         [](A& app) {
             app.ui.QueueAnswer(MsgAnswer::Yes);  // overwrite the stored file
             app.ui.QueueAnswer(MsgAnswer::Ok);   // start
         },
         click(id::kMakeOfflineFile)},
        {"delete stored file", [](A& app) { app.ui.QueueAnswer(MsgAnswer::Ok); }, click(id::kDeleteFile)},
        {"change password",
         [](A& app) {
             app.ui.QueuePassword(sim::kFactoryPassword);
             app.ui.QueueNewPassword(std::make_pair(std::string("pw2468"), std::string("pw2468")));
         },
         click(id::kSetPassword)},
        {"lock programmer",
         [](A& app) {
             app.ui.SetChecked(id::kLockProgrammer, false);
             app.ui.QueuePassword(sim::kFactoryPassword);
             app.ui.QueueAnswer(MsgAnswer::No);
         },
         [](A& app) { app.Click(id::kLockProgrammer); }},
        {"automatic, MTP chip, every box",
         [](A& app) {
             Socket(app, sim::ChipKind::Mtp, false);
             AutoBoxes(app, true);
         },
         click(id::kAutoProgram)},
        {"automatic, OTP chip",
         [](A& app) {
             app.SelectChip("S3C9454");
             app.Click(id::kRefreshMemory);  // a new chip choice wants a new download
             Socket(app, sim::ChipKind::Otp, false);
             AutoBoxes(app, false);
             app.ui.SetChecked(id::kAutoVerify, true);
         },
         click(id::kAutoProgram)},
        {"automatic, MTP chip",
         [](A& app) {
             Socket(app, sim::ChipKind::Mtp, true);
             AutoBoxes(app, false);
             app.ui.SetChecked(id::kAutoVerify, true);
         },
         click(id::kAutoProgram)},
        {"automatic, debug mode",
         [](A& app) {
             Socket(app, sim::ChipKind::Mtp, true);
             AutoBoxes(app, false);
             app.ui.SetChecked(id::kDebugMode, true);
         },
         click(id::kAutoProgram)},
    };
    return ops;
}

// Faults no host can tell from a real answer: what the acknowledgement and a
// token the host goes past hold, a progress address (the unit may repeat or
// overshoot), a value the unit reports with nothing to hold it against (the
// sum of a chip or of a copy it made, a stored file's record, its firmware
// texts, its identifier), a reply the host never reads (the record behind
// "OKFILE" when only probing, the "OK" behind "OKPWD" of a deletion), and
// whatever befalls LDC or hardware write protection, which the automatic
// sequence passes over. These cases must still end in time, count as the
// sequence counts, keep the user's files, and let the next attempt work; what
// they show may look right.
struct Blind {
    std::string operation;  // a prefix of the operation's name; "" for all
    int session;            // 0 for every session
    FaultStep step;         // Any for every step
    std::set<FaultKind> kinds;
};
const std::vector<Blind>& BlindSpots() {
    const std::set<FaultKind> changed = {FaultKind::Garbage, FaultKind::BadSum};
    const std::set<FaultKind> every = {FaultKind::NoReply, FaultKind::Short, FaultKind::Garbage, FaultKind::Ev,
                                       FaultKind::Busy,    FaultKind::BadSum, FaultKind::Stop};
    static const std::vector<Blind> blind = [&] {
        std::vector<Blind> b = {
            {"", 0, FaultStep::Ack, {FaultKind::Garbage}},
            {"", 0, FaultStep::Progress, {FaultKind::Garbage}},
            {"chip checksum", op::kChipChecksum, FaultStep::Final, changed},
            {"copy chip to memory", op::kCopyChip, FaultStep::Final, changed},
            {"stored file to memory", op::kMemoryChecksum, FaultStep::Final, changed},
            {"programmer information", op::kInfo, FaultStep::First, changed},
            {"programmer information", op::kInfo, FaultStep::Final, changed},
            {"stored file information", op::kReadFileInfo, FaultStep::Final, changed},
            {"stored file to memory", op::kReadFileInfo, FaultStep::Final, changed},
            // A probe that finds no file, or no answer, lets the making go on.
            {"make offline file", op::kReadFileInfo, FaultStep::Any, every},
            {"delete stored file", op::kClearArea, FaultStep::Final, every},
            {"automatic, debug mode", op::kReadIdentifier, FaultStep::First, changed},
            {"automatic, debug mode", op::kReadIdentifier, FaultStep::Final, changed},
            {"automatic", op::kLdcProtect, FaultStep::Any, every},
            {"automatic", op::kHardwareProtect, FaultStep::Any, every},
        };
        // Sessions whose first token the host goes past unless it is "EV".
        for (int session : {op::kMemoryChecksum, op::kReadMemory, op::kProgram, op::kVerify, op::kChipChecksum,
                            op::kReadChip, op::kCopyChip, op::kBlankCheck, op::kOfflineVerify, op::kOfflineRead,
                            op::kProgramDirect, op::kOfflineChecksum, op::kWriteIdCode})
            b.push_back({"", session, FaultStep::First, {FaultKind::Garbage}});
        return b;
    }();
    return blind;
}

bool IsAutomatic(const std::string& operation) { return operation.rfind("automatic", 0) == 0; }

// A fault as the unit shows it, or the adapter pulled.
struct Injection {
    enum Kind { UnitFault, Unplug } kind = UnitFault;
    FaultKind fault = FaultKind::NoReply;
    FaultStep step = FaultStep::Any;
    int opCode = sim::kAnyOperation;
    size_t atWrite = 0;  // Unplug: the host write (counted from 1) that finds the adapter gone
};

std::string Describe(const Injection& in) {
    if (in.kind == Injection::Unplug) return "unplugged at host write " + std::to_string(in.atWrite);
    return std::string(sim::Name(in.fault)) + " at " + sim::Name(in.step) + " of session " + std::to_string(in.opCode);
}

// A fresh program on a fresh unit: the chip chosen, the password remembered,
// a file stored in block 3 and the code downloaded.
struct Rig : ProductionApp {
    sim::DirectoryBlock stored;
    size_t hostWrites = 0;
    size_t unplugAt = 0;

    explicit Rig(bool varied) : ProductionApp(varied) {
        SelectChip("S3F9454");
        ctx.rememberedPassword = sim::kFactoryPassword;
        ctx.passwordRemembered = true;
        ui.ComboSelect(id::kDirectory, kStoredBlock - 1);
        ui.SetText(id::kCounterCurrent, "100");
        ui.SetText(id::kCounterEnd, "5000");
        ui.SetText(id::kIdAddress, "0F00");
        ui.SetText(id::kSuccessCount, "7");
        ui.SetText(id::kFailureCount, "3");
        ctx.successCount = 7;
        ctx.failureCount = 3;
        Download(Code());
        ui.QueueAnswer(MsgAnswer::Ok);
        Click(id::kMakeOfflineFile);
        EXPECT_EQ(Status(), "脱机文件写入成功!您现在即可以实现脱机烧写该文件代码了");
        // Making the file empties the programmer's memory; download again.
        Click(id::kRefreshMemory);
        EXPECT_EQ(ctx.codeInMemory, 1) << Status();
        // Files the operator keeps beside the code: none may suffer.
        dir.Write("saved.hex", ":0100000055AA\r\n");
        dir.Write("notes.pvx", "[main]\r\nchip=S3F9454\r\n");
        prog.line.onHostWrite = [this](const uint8_t*, size_t, uint64_t) {
            if (++hostWrites == unplugAt) SetPlugged(false);
        };
        ui.DropQueuedAnswers();
        stored = Device([](sim::DeviceState& s) { return *s.Block(kStoredBlock); });
    }
    ~Rig() { prog.line.onHostWrite = nullptr; }

    // The unit as the operator keeps it between attempts: unlocked, the
    // factory password, the stored file in its block.
    void ResetUnit() {
        ui.DropQueuedAnswers();
        // A reply taken for a wrong password makes the program forget it.
        ui.QueuePassword(sim::kFactoryPassword);
        Device([&](sim::DeviceState& s) {
            s.locked = false;
            s.password = sim::kFactoryPassword;
            *s.Block(kStoredBlock) = stored;
            return 0;
        });
    }
    std::map<std::string, std::string> Files() {
        std::map<std::string, std::string> out;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            std::ifstream in(entry.path(), std::ios::binary);
            out[entry.path().filename().string()] = std::string(std::istreambuf_iterator<char>(in), {});
        }
        return out;
    }
    // Ticks of the link timer until the programmer is back, at most ten.
    // The operator tries again a couple of seconds later at the earliest.
    bool Reconnect() {
        Tick(2);
        for (int i = 0; i < 10 && !(ctx.ConnectedFlag && ctx.LinkEnabledFlag); ++i) Tick();
        return ctx.ConnectedFlag && ctx.LinkEnabledFlag;
    }
};

// What one operation does without a fault: the sessions it opens, the host
// writes it makes, how long it takes and the text it ends with.
struct Baseline {
    std::vector<int> sessions;
    std::vector<size_t> sessionWrites;  // the host write that carried each session block
    size_t writes = 0;
    uint64_t micros = 0;
    std::string status;
};

Baseline RunClean(const Operation& op, bool varied) {
    Rig rig(varied);
    rig.ResetUnit();
    op.prepare(rig);
    rig.ClearDeviceLog();
    size_t blocks = rig.Mark(), writes = rig.port.writes.size();
    uint64_t t0 = rig.time.NowMicros();
    op.act(rig);
    Baseline b;
    b.micros = rig.time.NowMicros() - t0;
    b.status = rig.Status();
    EXPECT_EQ(rig.ctx.LinkErrorFlag, 0) << op.name << ": " << b.status;
    EXPECT_EQ(rig.ctx.outcome.cls, OutcomeClass::Success) << op.name;
    b.writes = rig.port.writes.size() - writes;
    b.sessions = rig.SessionsSince(blocks);
    for (size_t i = writes; i < rig.port.writes.size(); ++i) {
        const auto& w = rig.port.writes[i].bytes;
        if (w.size() == 38 && w[0] == 'Z' && w[1] == 'E') b.sessionWrites.push_back(i - writes + 1);
    }
    return b;
}

std::vector<Injection> InjectionsFor(const Baseline& base) {
    std::vector<Injection> out;
    std::set<int> sessions(base.sessions.begin(), base.sessions.end());
    for (int op : sessions)
        for (FaultStep step : {FaultStep::Ack, FaultStep::First, FaultStep::Progress, FaultStep::Final})
            for (FaultKind kind : {FaultKind::NoReply, FaultKind::Short, FaultKind::Garbage, FaultKind::Ev,
                                   FaultKind::Busy, FaultKind::BadSum, FaultKind::Stop}) {
                Injection in;
                in.fault = kind;
                in.step = step;
                in.opCode = op;
                out.push_back(in);
            }
    std::set<size_t> points(base.sessionWrites.begin(), base.sessionWrites.end());
    points.insert(std::max<size_t>(base.writes / 2, 1));
    points.insert(base.writes);
    for (size_t at : points) {
        Injection in;
        in.kind = Injection::Unplug;
        in.atWrite = at;
        out.push_back(in);
    }
    return out;
}

struct Outcome {
    bool applied = false;
    bool blind = false;
    std::string status;
    uint64_t micros = 0;
};

// Whether an injection struck where nothing can tell it from a real answer.
bool IsBlind(const Operation& op, const Baseline& base, const Injection& in) {
    if (in.kind == Injection::Unplug) {
        // Pulled for good before the last sessions: blind only when those are
        // all steps the automatic sequence passes over.
        if (!IsAutomatic(op.name)) return false;
        for (size_t i = 0; i < base.sessionWrites.size() && i < base.sessions.size(); ++i)
            if (base.sessionWrites[i] >= in.atWrite && base.sessions[i] != op::kLdcProtect &&
                base.sessions[i] != op::kHardwareProtect)
                return false;
        return base.writes >= in.atWrite;
    }
    return std::ranges::any_of(BlindSpots(), [&](const Blind& b) {
        return op.name.rfind(b.operation, 0) == 0 && (b.session == 0 || b.session == in.opCode) &&
               (b.step == FaultStep::Any || b.step == in.step) && b.kinds.contains(in.fault);
    });
}

// The counting rule of the automatic sequence, whatever struck it: the unit's
// verdict counts, good or bad; only a run that ended on a session that never
// opened (the step's last text is the link's, not its own) counts nothing. A
// chip counts good only when the unit really holds the code in it.
void ExpectCounted(Rig& rig, const std::vector<std::string>& texts, uint32_t goodBefore, uint32_t badBefore) {
    static const std::set<std::string> shut = {kTextConnectionError, "连接烧写器端口硬件错误!",
                                               "编程器已被锁定,请先解除锁定状态!"};
    // The sequence adds its own line after a failed ID code.
    std::string stepText;
    for (const std::string& t : texts)
        if (t != "ID码写入失败! 编程过程已终止!") stepText = t;
    const bool good = !texts.empty() && texts.back() == "自动编程已成功完成";
    const bool bad = !good && !shut.contains(stepText);
    EXPECT_EQ(rig.ctx.successCount, goodBefore + good);
    EXPECT_EQ(rig.ctx.failureCount, badBefore + bad);
    if (good) {
        auto code = Code();
        EXPECT_TRUE(rig.Device([&](sim::DeviceState& s) {
            return s.chip.present && std::equal(code.begin(), code.end(), s.chip.cells.begin());
        }));
    }
}

Outcome RunCase(const Operation& op, const Baseline& base, const Injection& in, bool varied) {
    Outcome result;
    Rig rig(varied);
    rig.ResetUnit();
    op.prepare(rig);
    const int codeBefore = rig.ctx.codeInMemory;
    const AddressRange checkedBefore = rig.ctx.checkedRange;
    const auto filesBefore = rig.Files();
    const size_t textsBefore = rig.ui.StatusHistory().size();
    const std::string goodBefore = rig.ui.GetText(id::kSuccessCount), badBefore = rig.ui.GetText(id::kFailureCount);
    const uint32_t goodCount = rig.ctx.successCount, badCount = rig.ctx.failureCount;

    uint64_t serial = 0;
    if (in.kind == Injection::UnitFault) {
        rig.Device([&](sim::DeviceState& s) {
            // A busy line stays set until cleared; everything else strikes once.
            serial = s.Arm({in.fault, in.opCode, in.step, in.fault != FaultKind::Busy});
            return 0;
        });
    } else {
        rig.unplugAt = rig.hostWrites + in.atWrite;
    }
    const size_t boxesBefore = rig.ui.Boxes().size();
    uint64_t t0 = rig.time.NowMicros();
    op.act(rig);
    result.micros = rig.time.NowMicros() - t0;
    result.status = rig.Status();
    result.applied = in.kind == Injection::Unplug
                         ? rig.hostWrites >= rig.unplugAt
                         : rig.Device([&](sim::DeviceState& s) { return std::ranges::count(s.fired, serial) > 0; });
    if (!result.applied) {
        rig.Device([](sim::DeviceState& s) { s.ClearFaults(); return 0; });
        return result;
    }

    result.blind = IsBlind(op, base, in);
    if (in.kind == Injection::Unplug) {
        // The failed call let the port go (a held handle would keep the
        // adapter from its name) and the link with it; the operator was
        // told once.
        EXPECT_FALSE(rig.port.IsOpen());
        EXPECT_EQ(rig.ctx.ConnectedFlag, 0);
        auto boxes = rig.ui.Boxes();
        EXPECT_EQ(std::count_if(boxes.begin() + long(std::min(boxesBefore, boxes.size())), boxes.end(),
                                [](const HeadlessUi::BoxRecord& b) { return b.spec.text == kTextPortGone; }),
                  1);
    }
    EXPECT_LE(result.micros, base.micros + kBoundMicros);
    if (!result.blind) {
        EXPECT_EQ(rig.ctx.LinkErrorFlag, 1);
        // The outcome says so too; a session that never opened (no whole
        // acknowledgement, the adapter gone with the block) is the link's
        // failure, not the chip's.
        EXPECT_NE(rig.ctx.outcome.cls, OutcomeClass::Success);
        EXPECT_NE(rig.ctx.outcome.cls, OutcomeClass::None);
        const bool sessionShut =
            in.kind == Injection::Unplug
                ? std::ranges::count(base.sessionWrites, in.atWrite) > 0
                : in.step == FaultStep::Ack && (in.fault == FaultKind::NoReply || in.fault == FaultKind::Short);
        if (sessionShut) {
            EXPECT_EQ(rig.ctx.outcome.cls, OutcomeClass::LinkFailed);
        }
        EXPECT_NE(result.status, base.status);
        EXPECT_LE(rig.ctx.codeInMemory, codeBefore);
        EXPECT_EQ(rig.ctx.checkedRange, checkedBefore);
    }
    if (IsAutomatic(op.name)) {
        auto texts = rig.ui.StatusHistory();
        texts.erase(texts.begin(), texts.begin() + long(std::min(textsBefore, texts.size())));
        ExpectCounted(rig, texts, goodCount, badCount);
    } else {
        EXPECT_EQ(rig.ui.GetText(id::kSuccessCount), goodBefore);
        EXPECT_EQ(rig.ui.GetText(id::kFailureCount), badBefore);
    }
    auto filesAfter = rig.Files();
    // A save that went through may replace its own file, nothing else.
    const bool wentThrough = op.succeeded ? op.succeeded(rig, base.status) : result.status == base.status;
    for (const auto& [name, bytes] : filesBefore) {
        if (wentThrough && name == op.writes) continue;
        EXPECT_EQ(filesAfter[name], bytes) << name;
    }
    for (const auto& [name, bytes] : filesAfter) EXPECT_EQ(name.find(".part"), std::string::npos) << name;

    // The fault goes, the adapter is back: the same operation goes through.
    rig.Device([](sim::DeviceState& s) { s.ClearFaults(); return 0; });
    rig.SetPlugged(true);
    rig.unplugAt = 0;
    rig.ui.DropQueuedAnswers();
    EXPECT_TRUE(rig.Reconnect()) << rig.Status();
    if (!rig.ctx.codeInMemory) {
        rig.Click(id::kRefreshMemory);
        EXPECT_EQ(rig.ctx.codeInMemory, 1) << rig.Status();
    }
    rig.ResetUnit();
    op.prepare(rig);
    op.act(rig);
    EXPECT_EQ(rig.ctx.LinkErrorFlag, 0) << rig.Status();
    EXPECT_EQ(rig.ctx.outcome.cls, OutcomeClass::Success);
    if (op.succeeded) EXPECT_TRUE(op.succeeded(rig, base.status)) << rig.Status();
    else EXPECT_EQ(rig.Status(), base.status);
    return result;
}

// Each operation against the unit as it comes and against one that makes
// every open choice differently.
class FaultMatrix : public ::testing::TestWithParam<std::tuple<size_t, bool>> {};

TEST_P(FaultMatrix, EveryFaultEndsTheOperationAsAFailureAndTheNextAttemptWorks) {
    const auto [index, varied] = GetParam();
    const Operation& op = Operations()[index];
    const std::string unit = varied ? "varied unit" : "plain unit";
    const Baseline base = RunClean(op, varied);
    ASSERT_FALSE(base.sessions.empty()) << op.name;
    size_t applied = 0, total = 0, blind = 0;
    uint64_t longest = 0;
    std::map<std::string, int> texts;
    for (const Injection& in : InjectionsFor(base)) {
        SCOPED_TRACE(op.name + ", " + unit + ", " + Describe(in));
        Outcome o = RunCase(op, base, in, varied);
        ++total;
        if (!o.applied) continue;
        ++applied;
        blind += o.blind;
        longest = std::max(longest, o.micros);
        ++texts[o.status];
    }
    std::ostringstream report;
    report << "fault matrix: " << op.name << ", " << unit << ": " << applied << " cases struck of " << total
           << " armed (" << blind << " undetectable), longest " << longest / 1000 << " ms (clean "
           << base.micros / 1000 << " ms)\n";
    for (const auto& [text, n] : texts) report << "    " << n << " x " << text << "\n";
    std::cout << report.str();
    RecordProperty("cases", int(applied));
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultMatrix,
                         ::testing::Combine(::testing::Range<size_t>(0, Operations().size()), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<size_t, bool>>& info) {
                             std::string name;
                             for (char c : Operations()[std::get<0>(info.param)].name)
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name + (std::get<1>(info.param) ? "_varied" : "");
                         });

}  // namespace
}  // namespace veldrix
