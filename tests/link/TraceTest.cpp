// The wire trace and the unit that replays it: what the trace holds (and
// keeps out), its cap, and recorded conversations played back against
// today's host, in-process on virtual time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/Cli.h"
#include "code/WireTrace.h"
#include "link/TracingPort.h"
#include "seams/Files.h"
#include "sim/InProcessProgrammer.h"
#include "sim/Replay.h"
#include "tests/support/TestApp.h"

namespace veldrix::test {
namespace {

std::string ReadAll(const std::string& path) {
    std::string text;
    ReadFileBytes(path, text);
    return text;
}

// "58 79 37" for "Xy7": how bytes stand in a trace.
std::string AsTraceBytes(const std::string& text) {
    std::vector<int> bytes(text.begin(), text.end());
    return trace::BytesText(bytes);
}

struct CliCall {
    int exit = -1;
    std::string out, err;
};

// veldrix-cli on simulated units (virtual time); side: each unit's side in
// place of the firmware.
CliCall RunCliSim(std::vector<std::string> args, const TempDir& dir,
                  std::function<void(sim::DeviceIo&)> side = {}, std::vector<std::string> simDo = {}) {
    std::vector<std::string> all = {"--sim", "--settings", dir.File("no-settings"), "--yes"};
    for (const std::string& d : simDo) all.insert(all.end(), {"--sim-do", d});
    all.insert(all.end(), args.begin(), args.end());
    cli::CliHooks hooks;
    if (side) hooks.unitSide = [side](int) { return side; };
    std::istringstream in;
    std::ostringstream out, err;
    CliCall call;
    call.exit = cli::RunCli(all, in, out, err, false, hooks);
    call.out = out.str();
    call.err = err.str();
    return call;
}

// The host replayed against a trace; the replay's verdict.
struct Replayed {
    CliCall host;
    bool finished = false;
    std::string difference;
};
Replayed ReplayCli(const std::string& traceText, std::vector<std::string> args, const TempDir& dir) {
    auto replay = std::make_shared<sim::Replay>();
    std::string error;
    Replayed r;
    if (!replay->Load(traceText, error)) {
        r.difference = "not loaded: " + error;
        return r;
    }
    r.host = RunCliSim(args, dir, [replay](sim::DeviceIo& io) { replay->Run(io); });
    r.finished = replay->Finished();
    r.difference = replay->Difference();
    return r;
}

std::vector<std::string> AutoArgs(const std::string& trace) {
    return {"--trace", trace, "auto", VELDRIX_SOURCE_DIR "/resources/sample.hex", "--id", "3FF0:101"};
}

// The trace's text with one byte of the nth line of call `call` (from 1) replaced.
std::string ChangeByte(const std::string& text, const std::string& call, int nth, size_t byte, int value) {
    std::vector<trace::Line> lines;
    std::string error;
    EXPECT_TRUE(trace::ParseTrace(text, lines, error)) << error;
    int seen = 0;
    for (const trace::Line& l : lines) {
        if (l.call != call || l.bytes.size() <= byte || ++seen != nth) continue;
        std::vector<int> changed = l.bytes;
        changed[byte] = value;
        std::string was = "\t" + trace::BytesText(l.bytes), now = "\t" + trace::BytesText(changed);
        // The line by its number: the same bytes may stand on others.
        size_t at = 0;
        for (int n = 1; n < l.number; ++n) at = text.find('\n', at) + 1;
        std::string copy = text;
        size_t pos = copy.find(was, at);
        copy.replace(pos, was.size(), now);
        return copy;
    }
    ADD_FAILURE() << "no " << call << " line " << nth;
    return text;
}

TEST(WireTraceFormat, LinesRoundTripAndBadTextIsNamed) {
    const uint8_t bytes[] = {0x5a, 0x00, 0xff};
    const bool mask[] = {false, true, false};
    std::string text = std::string(trace::kFirstLine) + "\n" + trace::FormatLine(12, "write", "3", "3", bytes, 3, mask) +
                       "\n# a remark\n" + trace::FormatLine(40, "modem", "", "0x20") + "\n";
    std::vector<trace::Line> lines;
    std::string error;
    ASSERT_TRUE(trace::ParseTrace(text, lines, error)) << error;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].number, 2);
    EXPECT_EQ(lines[0].micros, 12u);
    EXPECT_EQ(lines[0].bytes, (std::vector<int>{0x5a, trace::kMasked, 0xff}));
    EXPECT_EQ(lines[1].number, 4);
    EXPECT_EQ(lines[1].result, "0x20");

    struct Bad {
        std::string text, says;
    } bad[] = {
        {"# veldrix-trace 2\n", "line 1"},
        {"", "line 1"},
        {std::string(trace::kFirstLine) + "\nx\twrite\t1\t1\t00\n", "line 2: five fields"},
        {std::string(trace::kFirstLine) + "\n5\twrite\t1\t1\n", "line 2: five fields"},
        {std::string(trace::kFirstLine) + "\n5\twrite\t2\t2\t0g 11\n", "line 2: \"0g\""},
        {std::string(trace::kFirstLine) + "\n5\twrite\t2\t2\t001\n", "line 2: bytes"},
    };
    for (const Bad& b : bad) {
        EXPECT_FALSE(trace::ParseTrace(b.text, lines, error)) << b.text;
        EXPECT_NE(error.find(b.says), std::string::npos) << error;
    }
}

// Every call, and the password kept out of both the block and its echo.
TEST(WireTrace, HoldsEveryCallAndNoPasswordByte) {
    TempDir dir;
    const std::string old = "Xy7#Qz", fresh = "Kq9!Lm";
    dir.Write("pw", old + "\n");
    dir.Write("pw-new", fresh + "\n");
    const std::string file = dir.File("password.trace");
    CliCall call = RunCliSim({"--trace", file, "password", "--password-file", dir.File("pw"), "--new-password-file",
                              dir.File("pw-new")},
                             dir, {}, {"password " + old});
    ASSERT_EQ(call.exit, 0) << call.out << call.err;
    std::string text = ReadAll(file);
    ASSERT_EQ(text.rfind(std::string(trace::kFirstLine) + "\n", 0), 0u) << text.substr(0, 80);
    for (const std::string& secret : {old, fresh}) {
        EXPECT_EQ(text.find(AsTraceBytes(secret)), std::string::npos) << secret;
        EXPECT_EQ(text.find(AsTraceBytes(secret.substr(0, 3))), std::string::npos) << secret;
        EXPECT_EQ(text.find(secret), std::string::npos) << secret;
    }
    EXPECT_NE(text.find("** ** ** ** ** ** ** **"), std::string::npos);
    for (const char* call : {"\topen\tCOM1\tok", "\tqueues\t1024,1024\tok", "\ttimeouts\t", "\tpurge\t\tok",
                             "\tline\tbaud=38400 parity=E data=8 stop=1\tok: baud=38400", "\tmodem\t\t0x00", "\tarm\t",
                             "\ttxempty\t1000\tok", "\twrite\t38\t38\t5a 45 4d 4b 4f", "\tread\t16\t"})
        EXPECT_NE(text.find(call), std::string::npos) << call;

    // The unit replayed from it takes the same exchange, passwords and all.
    Replayed r = ReplayCli(text, {"--trace", dir.File("replayed.trace"), "password", "--password-file", dir.File("pw"),
                                  "--new-password-file", dir.File("pw-new")},
                           dir);
    EXPECT_EQ(r.host.exit, 0) << r.host.out << r.host.err << ReadAll(dir.File("replayed.trace"));
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.difference, "");
}

TEST(WireTrace, StopsAtItsCapWithALastLine) {
    TempDir dir;
    sim::VirtualTime time;
    sim::VirtualTime::Participation part(time);
    sim::InProcessProgrammer unit(time);
    auto file = TraceFile::Daily(dir.File("traces"), time);
    file->SetCap(4096);
    TracingPort port(unit.port, time, std::move(file));
    ASSERT_TRUE(port.Open("COM1"));
    for (int i = 0; i < 400 && !port.File().Capped(); ++i) port.ModemStatus();
    EXPECT_TRUE(port.File().Capped());
    const std::string path = port.File().Path();
    port.Close();
    EXPECT_NE(path.find("veldrix-2025-03-03-COM1.trace"), std::string::npos) << path;
    std::string text = ReadAll(path);
    EXPECT_LE(text.size(), 4096u + 80);
    EXPECT_EQ(text.substr(text.rfind('#')), "# the trace stops here: 0 MB today\n");
    // The same day again: the file stays as it is.
    auto again = TraceFile::Daily(dir.File("traces"), time);
    again->SetCap(4096);
    TracingPort second(unit.port, time, std::move(again));
    second.Open("COM1");
    second.Close();
    EXPECT_EQ(ReadAll(path), text);
}

// A recorded automatic sequence (download, ID code) played back against the
// host: the same host passes; one byte of the host's changed is named where
// it stands; one of the unit's changed fails the host as such a unit would.
TEST(TraceReplay, AutomaticSequenceReplaysAndDifferencesAreNamed) {
    TempDir dir;
    const std::string recorded = dir.File("auto.trace");
    CliCall first = RunCliSim(AutoArgs(recorded), dir);
    ASSERT_EQ(first.exit, 0) << first.out << first.err;
    const std::string text = ReadAll(recorded);

    Replayed same = ReplayCli(text, AutoArgs(dir.File("again.trace")), dir);
    EXPECT_EQ(same.host.exit, 0) << same.host.out << same.host.err;
    EXPECT_TRUE(same.finished);
    EXPECT_EQ(same.difference, "");
    // What the host said the second time is what it said the first.
    std::vector<trace::Line> a, b;
    std::string error;
    ASSERT_TRUE(trace::ParseTrace(text, a, error));
    ASSERT_TRUE(trace::ParseTrace(ReadAll(dir.File("again.trace")), b, error));
    std::vector<std::vector<int>> writesA, writesB;
    for (auto& l : a)
        if (l.call == "write") writesA.push_back(l.bytes);
    for (auto& l : b)
        if (l.call == "write") writesB.push_back(l.bytes);
    EXPECT_EQ(writesA, writesB);

    // The first write that is no command block is code going down; its byte 5 as the host never sends it.
    std::vector<trace::Line> lines;
    trace::ParseTrace(text, lines, error);
    int nth = 0, exchange = 0, line = 0, expected = 0;
    for (const trace::Line& l : lines)
        if (l.call == "write" && l.bytes.size() != 38 && l.bytes.size() > 5 && ++exchange && !nth) {
            nth = exchange;
            line = l.number;
            expected = l.bytes[5];
        } else if (l.call == "write" && !nth) {
            ++exchange;
        }
    ASSERT_GT(nth, 0);
    Replayed host = ReplayCli(ChangeByte(text, "write", nth, 5, expected ^ 0xFF), AutoArgs(dir.File("h.trace")), dir);
    char got[8];
    std::snprintf(got, sizeof got, "0x%02x", expected);
    EXPECT_NE(host.difference.find("exchange " + std::to_string(nth) + " (trace line " + std::to_string(line) +
                                   "), byte 5: expected "),
              std::string::npos)
        << host.difference;
    EXPECT_NE(host.difference.find(std::string("got ") + got), std::string::npos) << host.difference;
    EXPECT_FALSE(host.finished);
    EXPECT_NE(host.host.exit, 0);

    // The unit's last word of its last reply changed: the host does not call that chip good.
    int reads = 0;
    for (const trace::Line& l : lines) reads += l.call == "read" && !l.bytes.empty();
    std::string lastRead;
    for (const trace::Line& l : lines)
        if (l.call == "read" && !l.bytes.empty()) lastRead = trace::BytesText(l.bytes);
    Replayed unit = ReplayCli(ChangeByte(text, "read", reads, 0, 'X'), AutoArgs(dir.File("u.trace")), dir);
    EXPECT_EQ(unit.difference, "") << lastRead;
    EXPECT_NE(unit.host.exit, 0) << lastRead << "\n" << unit.host.out;
}

// The conversations kept in tests/traces, recorded against the simulated
// units, replayed against today's host.
TEST(TraceReplay, KeptTracesReplayAgainstTodaysHost) {
    struct Kept {
        const char* file;
        std::vector<std::string> args;
    } kept[] = {
        {"auto-sim.trace", {"auto", VELDRIX_SOURCE_DIR "/resources/sample.hex", "--id", "3FF0:101"}},
        {"auto-pty-paced.trace", {"auto", VELDRIX_SOURCE_DIR "/resources/sample.hex", "--id", "3FF0:101"}},
        {"info-sim.trace", {"info"}},
    };
    for (const Kept& k : kept) {
        SCOPED_TRACE(k.file);
        TempDir dir;
        std::string text = ReadAll(std::string(VELDRIX_SOURCE_DIR "/tests/traces/") + k.file);
        ASSERT_FALSE(text.empty());
        Replayed r = ReplayCli(text, k.args, dir);
        EXPECT_EQ(r.host.exit, 0) << r.host.out << r.host.err;
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.difference, "");
    }
}

}  // namespace
}  // namespace veldrix::test
