// Two thousand chips through the automatic sequence, each one drawn from a
// mix of good and bad chips, some runs with the link failing somewhere. The
// simulated unit records its own verdicts; the counters, the ID field and the
// chips themselves are held against them. The ID codes come from a records
// folder that another station shares, and whose disk fills up and frees
// again twice during the run.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include <filesystem>

#include "code/Fields.h"
#include "link/Session.h"
#include "tests/admin/ProductionApp.h"
#include "state/OpCodes.h"

namespace veldrix {
namespace {

using test::ProductionApp;
using sim::FaultKind;
using sim::FaultStep;

constexpr int kRuns = 2000;
constexpr uint32_t kIdAddress = 0x0F00;
constexpr uint32_t kCodeSize = 0x300;
// Longest a run may take on virtual time: the slowest sequence, a busy line
// that never clears, and every retry.
constexpr uint64_t kRunBoundMicros = 120'000'000;

enum class Socket { Blank, Programmed, Empty, Weak, Refusing };
const char* Name(Socket s) {
    switch (s) {
    case Socket::Blank: return "blank chip";
    case Socket::Programmed: return "programmed chip";
    case Socket::Empty: return "empty socket";
    case Socket::Weak: return "chip that fails verification";
    case Socket::Refusing: return "chip that cannot be programmed";
    }
    return "";
}

// What the unit makes of each chip, as the counting rule sees it: only a
// blank chip that takes the code and keeps it is good.
bool GoodChip(Socket s) { return s == Socket::Blank; }

// A link fault at some step of the sequence, or none. A damaged byte is not
// among them: nothing guards a progress address, so a verification the unit
// stopped could read as one that ran to its end (see the fault matrix).
struct LinkFault {
    bool any = false;
    bool unplug = false;
    bool lockByte = false;  // a lock state left in the block from earlier
    bool busyBefore = false;  // the unit hung on an earlier operation and stays busy
    sim::Fault fault;
};

struct Station : ProductionApp {
    explicit Station(bool varied) : ProductionApp(varied) {
        KeepRecords(dir.File("logs"), dir.File("state"));
        SelectChip("S3F9454");
        Download(Code());
        for (int box : {id::kAutoVerify, id::kAutoReadProtect, id::kEnableSmart, id::kAutoBlankCheck, id::kAutoLdc,
                        id::kAutoHwProtect, id::kAutoIdIncrement})
            ui.SetChecked(box, box != id::kEnableSmart && box != id::kAutoHwProtect);
        ui.SetText(id::kCounterCurrent, "5000");
        ui.SetText(id::kIdAddress, Hex(kIdAddress, 5));
        ui.DropQueuedAnswers();
    }
    static std::vector<uint8_t> Code() { return Pattern(kCodeSize, 9); }

    void Insert(Socket s, std::mt19937& rng) {
        Device([&](sim::DeviceState& d) {
            d.chip = s == Socket::Empty ? sim::Chip{} : sim::Chip::Blank(sim::ChipKind::Mtp);
            if (s == Socket::Programmed) {
                auto other = Pattern(kCodeSize, uint8_t(rng()));
                std::copy(other.begin(), other.end(), d.chip.cells.begin());
            }
            // A cell that will not hold a programmed 0 in bit 0, under a code
            // byte that has one.
            if (s == Socket::Weak) {
                auto code = Code();
                uint32_t at;
                do at = uint32_t(rng() % kCodeSize);
                while (code[at] & 1);
                d.chip.weakCell = at;
            }
            d.chip.refusesProgramming = s == Socket::Refusing;
            d.verdicts.clear();
            return 0;
        });
    }
    uint32_t ChipId() {
        return Device([](sim::DeviceState& d) {
            const auto& c = d.chip.cells;
            return uint32_t(c[kIdAddress]) << 16 | uint32_t(c[kIdAddress + 1]) << 8 | c[kIdAddress + 2];
        });
    }
    bool ChipHoldsCode() {
        auto code = Code();
        return Device([&](sim::DeviceState& d) {
            return d.chip.present && std::equal(code.begin(), code.end(), d.chip.cells.begin());
        });
    }
    // The unit's own word on the steps that decide a chip: it programmed it
    // and verified it, and wrote the ID code.
    bool UnitPassed(int op) {
        return Device([&](sim::DeviceState& d) {
            for (const sim::Verdict& v : d.verdicts)
                if (v.opCode == op) return v.passed;
            return false;
        });
    }
};

LinkFault DrawFault(std::mt19937& rng) {
    LinkFault f;
    if (rng() % 4 != 0) return f;  // three runs in four have a sound link
    f.any = true;
    static const int steps[] = {op::kBlankCheck,   op::kEraseMtp,     op::kProgram,
                                op::kVerify,       op::kWriteIdCode,  op::kLdcProtect};
    int op = steps[rng() % std::size(steps)];
    switch (rng() % 7) {
    case 0: f.fault = {FaultKind::NoReply, op, FaultStep::Any, true}; break;
    case 1: f.fault = {FaultKind::Short, op, FaultStep::Any, true}; break;
    case 2: f.fault = {FaultKind::Stop, op, FaultStep::Progress, true}; break;
    case 3: f.fault = {FaultKind::NoReply, op, FaultStep::Ack, true}; break;
    case 4:
        // A busy line that stays set until the operator sees to the unit.
        f.fault = {FaultKind::Busy, op, rng() % 2 ? FaultStep::Ack : FaultStep::Any, false};
        f.lockByte = rng() % 2;
        break;
    case 5: f.unplug = true; break;
    case 6:
        f.fault = {FaultKind::Busy, op::kMemoryChecksum, FaultStep::Any, false};
        f.busyBefore = true;
        f.lockByte = rng() % 2;
        break;
    }
    return f;
}

class ProductionRun : public ::testing::TestWithParam<bool> {};

// The records' disk, full or not: both the folder and the one beside the
// settings become files, so no record and no pending file can be written.
void SetDiskFull(ProductionApp& app, bool full) {
    for (const char* name : {"logs", "state"}) {
        const std::string path = app.dir.File(name), away = path + ".away";
        if (full) {
            std::filesystem::create_directories(path);
            std::filesystem::rename(path, away);
            app.dir.Write(name, "full");
        } else if (std::filesystem::exists(away)) {
            std::filesystem::remove(path);
            std::filesystem::rename(away, path);
        }
    }
}

// Another station on the same records: it holds a code in the sequence's way
// now and then, and confirms or gives it back once the sequence has passed it.
struct OtherStation {
    RecordFolder records;
    std::set<uint32_t> held, good;
    explicit OtherStation(const std::string& folder) : records(folder) { records.Load(); }
    void Confirm(uint32_t code, int n) {
        ProductionRecord r;
        r.time = LocalTimeAt(DaysFromCivil(2025, 3, 3) * 86400000 + n, 480);
        r.result = RecordResult::Good;
        r.idCode = code;
        r.port = "COM9";
        ASSERT_EQ(records.Append(r), RecordKept::Stored);
        held.erase(code);
        good.insert(code);
    }
};

TEST_P(ProductionRun, CountsFollowTheUnitsVerdictsAndNoIdCodeIsGivenTwice) {
    Station app(GetParam());
    OtherStation other(app.dir.File("logs"));
    std::mt19937 rng(20261207u + GetParam());
    std::map<Socket, int> drawn;
    std::set<uint32_t> goodIds;
    uint32_t lastGoodId = 5000;
    int soundRuns = 0, faultedRuns = 0, goodCount = 0, diskFullRuns = 0, heldByOther = 0;

    for (int run = 0; run < kRuns; ++run) {
        const Socket socket = Socket(std::discrete_distribution<int>({50, 12, 10, 14, 14})(rng));
        ++drawn[socket];
        const LinkFault link = DrawFault(rng);
        const bool diskFull = (run >= 600 && run < 610) || (run >= 1300 && run < 1320);
        SCOPED_TRACE("run " + std::to_string(run) + ": " + Name(socket) + (diskFull ? ", disk full" : "") +
                     (!link.any      ? ""
                      : link.unplug ? ", adapter pulled"
                                    : ", " + std::string(sim::Name(link.fault.kind)) + " in " +
                                          std::to_string(link.fault.opCode) + (link.lockByte ? ", lock byte" : "")));
        if (run == 600 || run == 1300) SetDiskFull(app, true);
        if (run == 610 || run == 1320) SetDiskFull(app, false);
        // The other station takes the next code or the one after it.
        if (!diskFull && rng() % 8 == 0) {
            uint32_t code = lastGoodId + 1 + rng() % 2;
            if (other.records.TakeIdCode(code, false).answer == IdGrant::Answer::Granted) other.held.insert(code);
        }
        app.Insert(socket, rng);
        if (link.any && !link.unplug) app.Device([&](sim::DeviceState& d) { return d.Arm(link.fault); });
        if (link.busyBefore) app.Click(id::kMemoryChecksum);
        if (link.lockByte) app.ctx.block[cb::kLockState] = 1;
        if (link.unplug) {
            const size_t at = 1 + rng() % 6;
            app.prog.line.onHostWrite = [&app, at, writes = size_t(0)](const uint8_t*, size_t, uint64_t) mutable {
                if (++writes == at) app.SetPlugged(false);
            };
        }
        const uint32_t good = app.ctx.successCount, bad = app.ctx.failureCount;
        const std::string idField = app.ui.GetText(id::kCounterCurrent);
        const uint64_t t0 = app.time.NowMicros();
        const size_t boxes = app.BoxCount();
        const uint32_t recorded = app.ctx.recordedRuns;

        app.Click(id::kAutoProgram);
        const std::string status = app.Status();
        EXPECT_LE(app.time.NowMicros() - t0, kRunBoundMicros);
        const bool countedGood = app.ctx.successCount == good + 1;
        // Every run leaves its record, whatever the disk does.
        EXPECT_EQ(app.ctx.recordedRuns, recorded + 1);
        // A folder that cannot hold a code's hold hands out none: the box
        // asks to retry, and the run ends uncounted, nothing sent.
        const auto newBoxes = app.Boxes();
        const bool heldBack = std::any_of(newBoxes.begin() + long(boxes), newBoxes.end(), [](const std::string& t) {
            return t.find("自动编程已停止") != std::string::npos || t.find("无法使用生产记录文件夹") == 0;
        });
        if (heldBack) {
            ++diskFullRuns;
            EXPECT_TRUE(diskFull);
            EXPECT_EQ(status, kTextAborted);
            EXPECT_TRUE(app.Device([](sim::DeviceState& d) { return d.verdicts.empty(); }));
        }

        // Over every run: a chip counted good is one the unit programmed,
        // verified and gave the next free number, and it holds the code.
        if (countedGood) {
            ++goodCount;
            EXPECT_EQ(status, "自动编程已成功完成");
            EXPECT_EQ(app.ctx.failureCount, bad);
            EXPECT_TRUE(app.UnitPassed(op::kProgram) && app.UnitPassed(op::kVerify) &&
                        app.UnitPassed(op::kWriteIdCode));
            EXPECT_TRUE(app.ChipHoldsCode());
            uint32_t next = lastGoodId + 1;
            while (other.held.count(next) || other.good.count(next)) ++next;
            heldByOther += next != lastGoodId + 1;
            const uint32_t chipId = app.ChipId();
            EXPECT_EQ(chipId, next);
            EXPECT_TRUE(goodIds.insert(chipId).second) << chipId;
            EXPECT_EQ(app.ui.GetText(id::kCounterCurrent), std::to_string(chipId));
            lastGoodId = chipId;
        } else {
            EXPECT_EQ(app.ctx.successCount, good);
            EXPECT_LE(app.ctx.failureCount, bad + 1);
            EXPECT_EQ(app.ui.GetText(id::kCounterCurrent), idField);
        }
        // Over the runs with a sound link: exactly the unit's verdict counts.
        if (!link.any && !heldBack) {
            ++soundRuns;
            EXPECT_EQ(countedGood, GoodChip(socket)) << status;
            EXPECT_EQ(app.ctx.failureCount, bad + (GoodChip(socket) ? 0 : 1)) << status;
        } else if (!heldBack) {
            ++faultedRuns;
        }
        // The other station lets go of the codes the sequence has passed.
        for (auto it = other.held.begin(); !diskFull && it != other.held.end();) {
            uint32_t code = *it++;
            if (code > lastGoodId) continue;
            if (rng() % 2) {
                other.Confirm(code, run);
            } else {
                other.records.GiveBackIdCode(code);
                other.held.erase(code);
            }
        }

        // The operator sees to the unit before the next chip.
        app.prog.line.onHostWrite = nullptr;
        app.Device([](sim::DeviceState& d) {
            d.ClearFaults();
            return 0;
        });
        app.ctx.block[cb::kLockState] = 0;
        app.SetPlugged(true);
        for (int i = 0; i < 10 && !(app.ctx.ConnectedFlag && app.ctx.LinkEnabledFlag); ++i) app.Tick();
        ASSERT_TRUE(app.ctx.ConnectedFlag && app.ctx.LinkEnabledFlag) << app.Status();
        app.ui.DropQueuedAnswers();
        if (::testing::Test::HasFailure()) break;
    }
    // Every chip has its one record in the folder, and no code is on two good chips.
    ASSERT_EQ(app.records->FlushPending(), RecordKept::Stored);
    size_t ours = 0, theirs = 0;
    std::set<std::string> goodCodes;
    for (const auto& day : std::filesystem::directory_iterator(app.dir.File("logs"))) {
        if (day.path().extension() != ".csv" || day.path().filename().string().rfind("20", 0) != 0) continue;
        auto rows = test::ReadRecords(day.path().string());
        for (size_t i = 1; i < rows.size(); ++i) {
            (rows[i][column::kPort] == "COM9" ? theirs : ours) += 1;
            if (rows[i][column::kResult] == "good") {
                EXPECT_TRUE(goodCodes.insert(rows[i][column::kIdCode]).second) << rows[i][column::kIdCode];
            }
        }
    }
    EXPECT_EQ(ours, size_t(kRuns));
    EXPECT_EQ(theirs, other.good.size());
    std::cout << "production run, " << (GetParam() ? "varied unit" : "plain unit") << ": " << kRuns << " chips, "
              << soundRuns << " with a sound link, " << faultedRuns << " with a link fault, " << diskFullRuns
              << " held back by a full disk; " << goodCount << " good (ID codes "
              << (goodIds.empty() ? 0 : *goodIds.begin()) << "-" << lastGoodId << ", " << heldByOther
              << " times past a code the other station held), " << app.ctx.failureCount << " failed; "
              << ours + theirs << " records\n";
    for (const auto& [socket, n] : drawn) EXPECT_GT(n, 0) << Name(socket);
    EXPECT_GT(diskFullRuns, 0);
    EXPECT_GT(heldByOther, 0);
}

INSTANTIATE_TEST_SUITE_P(Units, ProductionRun, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Varied" : "Plain"; });

}  // namespace
}  // namespace veldrix
