// veldrix-cli against the simulated programmer: every subcommand's outcome
// and exit status, the JSON events, the HEX diagnosis, several units at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/Host.h"
#include "cli/Interrupt.h"
#include "cli/Options.h"
#include "cli/Text.h"
#include "cli/Output.h"
#include "code/Csv.h"
#include "code/HexText.h"
#include "link/Session.h"
#include "seams/Files.h"
#include "sim/InProcessProgrammer.h"
#include "tests/admin/ProductionApp.h"
#include "state/OpCodes.h"

extern char** environ;

namespace veldrix::test {
namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

struct Files {
    fs::path dir = fs::temp_directory_path() / ("veldrix-cli-test-" + std::to_string(::getpid()));
    std::vector<uint8_t> code = Ramp(0x11, 0x1000);  // 0000-0FFF
    Files() {
        fs::create_directories(dir);
        std::string hex;
        for (uint16_t a = 0; a < code.size(); a += 16)
            hex += DataRecord(a, std::vector<uint8_t>(code.begin() + a, code.begin() + a + 16)) + "\n";
        Write("code.hex", hex + EndRecord() + "\n");
        // Line 3 with a wrong sum, line 5 with a letter that is no hex digit,
        // line 6 a remark, line 7 a record type of no meaning, lines 9 and 10
        // data above 0xFFFF; the window only says the file has errors.
        std::string bad = DataRecord(0, {1, 2}) + "\n" + DataRecord(2, {3}) + "\n" + ":0100040005F5\n" +
                          DataRecord(5, {6}) + "\n" + ":01000600X7F2\n" + "remark\n" + HexRecord(0x06, 0, {9}) +
                          "\n:020000021000EC\n" + DataRecord(0x0100, {7}) + "\n" + DataRecord(0x0101, {8}) + "\n" +
                          EndRecord() + "\n";
        Write("bad.hex", bad);
        // Loads, but its last line lies above 0xFFFF.
        Write("high.hex", hex + ":020000021000EC\n" + DataRecord(0x0100, {7, 8}) + "\n" + EndRecord() + "\n");
        // The code, then a linear address record and 16 bytes at 0x10000.
        Write("mixed04.hex", hex + HexRecord(0x04, 0, {0x00, 0x01}) + "\n" + DataRecord(0, Ramp(1, 16)) + "\n" +
                                 EndRecord() + "\n");
        Write("big.bin", std::string(0x10001, '\x5A'));  // one byte above 64 KB
        Write("cross.hex", DataRecord(0xFFF8, Ramp(1, 16)) + "\n" + EndRecord() + "\n");  // across 0xFFFF
        // A line longer than the loader reads at once still counts as one.
        Write("long.hex", std::string(3000, 'A') + "\n" + ":0100040005F5\n" + EndRecord() + "\n");
        // Projects: one naming a code file that is not there, one naming its code file beside it.
        Write("lost.pvx", "THIS-IS-VDX-PROJECT-FILE\r\nFile=" + Path("gone.hex") + "\r\n");
        Write("beside.pvx", "THIS-IS-VDX-PROJECT-FILE\r\nFile=code.hex\r\n");
        Write("pw", "000000\n");
        Write("pw-wrong", "999999\n");
        Write("pw-new", "4321\n");
    }
    ~Files() { fs::remove_all(dir); }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    void Write(const std::string& name, const std::string& text) { std::ofstream(dir / name) << text; }
    uint16_t Sum() const {
        unsigned s = 0;
        for (uint8_t b : code) s += b;
        return uint16_t(s);
    }
};

Files& TestFiles() {
    static Files files;
    return files;
}

struct CliRun {
    int exit = -1;
    std::vector<Json> events;
    std::string errors;
    std::vector<Json> Of(const std::string& kind) const {
        std::vector<Json> out;
        for (const Json& e : events)
            if (e["event"] == kind) out.push_back(e);
        return out;
    }
    Json Result() const {
        auto r = Of("result");
        return r.empty() ? Json() : r.back();
    }
};

// One call with --json, on virtual time; the simulated units as the hooks see them.
CliRun Cli(std::vector<std::string> args, const std::string& input = "", cli::CliHooks hooks = {}) {
    if (std::find(args.begin(), args.end(), "--settings") == args.end())
        args.insert(args.begin(), {"--settings", TestFiles().Path("no-settings")});
    args.insert(args.begin(), "--json");
    if (std::find(args.begin(), args.end(), "--sim-units") == args.end()) args.insert(args.begin(), "--sim");
    std::istringstream in(input);
    std::ostringstream out, err;
    CliRun run;
    run.exit = cli::RunCli(args, in, out, err, false, hooks);
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) run.events.push_back(Json::parse(line));
    run.errors = err.str();
    return run;
}

// A unit's state after the call.
using Check = std::function<void(sim::DeviceState&)>;
cli::CliHooks After(Check check) {
    cli::CliHooks hooks;
    hooks.afterRun = [check](int, sim::InProcessProgrammer& p) {
        std::lock_guard lock(p.state.mutex);
        check(p.state);
    };
    return hooks;
}

void BlockWithFile(sim::DeviceState& s, int number) {
    sim::DirectoryBlock* b = s.Block(number);
    b->holdsFile = true;
    b->start = 0;
    b->end = 0x0FFF;
    b->code = TestFiles().code;
    std::string name = "code.hex";
    std::copy(name.begin(), name.end(), b->config.begin());
}

cli::CliHooks Before(std::function<void(sim::DeviceState&)> setUp, Check check = {}) {
    cli::CliHooks hooks = check ? After(check) : cli::CliHooks{};
    hooks.beforeRun = [setUp](int, sim::InProcessProgrammer& p) {
        std::lock_guard lock(p.state.mutex);
        setUp(p.state);
    };
    return hooks;
}

std::string Hex4(unsigned v) {
    char s[8];
    std::snprintf(s, sizeof s, "%04X", v);
    return s;
}

TEST(Cli, EverySubcommandEndsWithItsOutcome) {
    Files& f = TestFiles();
    const std::string code = f.Path("code.hex"), pw = "--password-file=" + f.Path("pw");
    const std::string chipWithCode = "chip mtp " + code;
    auto programmed = [&](sim::DeviceState& s) {
        EXPECT_TRUE(std::equal(f.code.begin(), f.code.end(), s.chip.cells.begin()));
    };
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string status;  // the last step's status line ("" not checked)
        cli::CliHooks hooks = {};
    };
    const Case cases[] = {
        {{"info"}, 0, ""},
        {{"download", code}, 0, "编程内存检查和 =  " + Hex4(f.Sum())},
        {{"download", f.Path("missing.hex")}, 3, "文件不存在"},  // the reason, not the window's "代码文件有错误!"
        {{"program", code}, 0, "编程成功", After(programmed)},
        {{"verify", code, "--sim-do", chipWithCode}, 0, "校验芯片成功!"},
        {{"verify", code}, 1, "校验芯片失败! 在地址: 00000"},
        {{"verify"}, 3, "操作已中止"},  // nothing known to be in the memory
        {{"blank"}, 0, "芯片是空的, 在地址空间: 00000~~00FFF"},
        {{"blank", "--sim-do", chipWithCode}, 1, "芯片不空, 在地址: 00000"},
        {{"checksum", "chip", "--sim-do", chipWithCode}, 0, "芯片检查和 = " + Hex4(f.Sum())},
        {{"checksum", "memory", code}, 1, "编程内存检查和 =  XXXX"},
        {{"checksum", "memory", code}, 0, "编程内存检查和 =  " + Hex4(f.Sum()),
         Before([&](sim::DeviceState& s) { std::copy(f.code.begin(), f.code.end(), s.memory.begin()); })},
        {{"auto", code, "--no-download"}, 0, "自动编程已成功完成",
         Before([&](sim::DeviceState& s) { std::copy(f.code.begin(), f.code.end(), s.memory.begin()); })},
        {{"erase", "--sim-do", chipWithCode}, 0, "芯片已擦除!",
         After([](sim::DeviceState& s) { EXPECT_EQ(s.chip.cells[0], 0xFF); })},
        {{"erase", "--type", "otp"}, 3, ""},  // the button is off for OTP chips
        // Values as chips prints them.
        {{"blank", "--type", "OTP"}, 0, "芯片是空的, 在地址空间: 00000~~00FFF"},
        {{"blank", "--vdd", "3V", "--vpp", "12V"}, 0, "芯片是空的, 在地址空间: 00000~~00FFF"},
        {{"protect", "read"}, 0, "芯片读保护已使能!", After([](sim::DeviceState& s) { EXPECT_TRUE(s.chip.readProtected); })},
        {{"protect", "ldc"}, 0, "芯片LDC保护已使能!", After([](sim::DeviceState& s) { EXPECT_TRUE(s.chip.ldcProtected); })},
        {{"protect", "hw"}, 0, "芯片硬件写保护成功!", After([](sim::DeviceState& s) { EXPECT_TRUE(s.chip.writeProtected); })},
        {{"protect", "smart"}, 0, "芯片SMART系统已使能!", After([](sim::DeviceState& s) { EXPECT_TRUE(s.chip.smart); })},
        {{"protect", "read", "--sim-do", "chip none"}, 1, "芯片读保护失败!"},
        {{"read", f.Path("out.hex")}, 0, "编程内存 0000~0FFF 已保存到 " + f.Path("out.hex") + " (Intel HEX)"},
        {{"read", "/nonexistent/x.hex"}, 3, "无法写入 /nonexistent/x.hex: 所在的文件夹不存在"},
        {{"auto", code}, 0, "自动编程已成功完成", After(programmed)},
        {{"auto", code, "--sim-do", "fault ev 7"}, 1, "编程电压错误,编程失败"},
        {{"auto", code, "--sim-do", "fault noreply 7 ack"}, 2, "编程器连接错误,编程器可能正忙,请稍候再试!"},
        {{"auto", code, "--no-verify"}, 3, "操作已中止"},  // the window asks; no --yes
        {{"auto", code, "--no-verify", "--yes"}, 0, "自动编程已成功完成"},
        // A question answered by its name, and only that one.
        {{"auto", code, "--no-verify", "--yes=no-verify"}, 0, "自动编程已成功完成"},
        {{"auto", code, "--no-verify", "--yes=rom-size,voltage"}, 3, "操作已中止"},
        {{"auto", code, "--sim-do", "lock"}, 4, "编程器已被锁定,请先解除锁定状态!"},
        {{"auto", code, "--sim-do", "unplug"}, 2, "编程器连接错误,编程器可能正忙,请稍候再试!"},
        {{"auto"}, 3, ""},  // no code: the window's check stops it before it starts
        {{"offline", "info", "3"}, 0, "读取文件信息错误,指定的目录下没有文件."},  // an empty block is an answer
        {{"offline", "info", "3"}, 0, "读取目录文件信息成功!", Before([](sim::DeviceState& s) { BlockWithFile(s, 3); })},
        {{"offline", "make", "2", code, "--yes", pw}, 0, "脱机文件写入成功!您现在即可以实现脱机烧写该文件代码了",
         After([&](sim::DeviceState& s) {
             EXPECT_TRUE(s.Block(2)->holdsFile);
             EXPECT_EQ(s.Block(2)->Checksum(), f.Sum());
         })},
        {{"offline", "make", "2", code, pw}, 3, "操作已中止"},
        {{"offline", "delete", "4", "--yes", pw}, 0, "指定的目录文件块已删除",
         Before([](sim::DeviceState& s) { BlockWithFile(s, 4); },
                [](sim::DeviceState& s) { EXPECT_FALSE(s.Block(4)->holdsFile); })},
        {{"offline", "load", "5", "--yes", pw}, 0, "拷贝母片数据检查和 =  " + Hex4(f.Sum()),
         Before([](sim::DeviceState& s) { BlockWithFile(s, 5); },
                [&](sim::DeviceState& s) { EXPECT_TRUE(std::equal(f.code.begin(), f.code.end(), s.memory.begin())); })},
        {{"counter", "6", "--id", "3FF0:101:900", pw}, 0, "设置计数器成功",
         Before([](sim::DeviceState& s) { BlockWithFile(s, 6); },
                [](sim::DeviceState& s) {
                    EXPECT_EQ(s.Block(6)->counterCurrent, 100u);
                    EXPECT_EQ(s.Block(6)->counterEnd, 900u);
                    EXPECT_EQ(s.Block(6)->idAddress, 0x3FF0u);
                })},
        {{"counter", "6", "--id", "3FF0:101:900", pw}, 3, "目录块 6 中没有脱机文件, 无法设置计数器"},  // no file there
        {{"password", pw, "--new-password-file", f.Path("pw-new")}, 0, "密码修改成功! 请您牢记新密码!",
         After([](sim::DeviceState& s) { EXPECT_EQ(s.password, "4321"); })},
        {{"password", "--password-file", f.Path("pw-wrong"), "--new-password-file", f.Path("pw-new")}, 4,
         "密码错误! 操作失败!"},
        {{"lock", pw}, 0, "已设定编程器为锁定状态", After([](sim::DeviceState& s) { EXPECT_TRUE(s.locked); })},
        {{"unlock", pw, "--sim-do", "lock"}, 0, "已解除编程器锁定状态",
         After([](sim::DeviceState& s) { EXPECT_FALSE(s.locked); })},
        {{"lock", "--password-file", f.Path("pw-wrong")}, 4, "密码错误! 操作失败!"},
        {{"lock"}, 3, "操作已中止"},  // no password file and no terminal
        {{"load", code}, 0, "调入代码成功!"},
        {{"load", f.Path("bad.hex")}, 3, "代码文件有错误!"},
    };
    for (const Case& c : cases) {
        std::string name;
        for (const std::string& a : c.args) name += a.substr(a.rfind('/') == std::string::npos ? 0 : a.rfind('/') + 1) + " ";
        SCOPED_TRACE(name);
        CliRun run = Cli(c.args, "", c.hooks);
        EXPECT_EQ(run.exit, c.exit) << run.errors;
        Json result = run.Result();
        ASSERT_TRUE(result.is_object());
        EXPECT_EQ(result["exit"], c.exit);
        if (!c.status.empty()) {
            auto steps = run.Of("step");
            ASSERT_FALSE(steps.empty());
            EXPECT_EQ(steps.back()["status"], c.status);
        }
    }
}

TEST(Cli, ResultsCarryWhatTheUnitSaid) {
    Files& f = TestFiles();
    CliRun info = Cli({"info"});
    EXPECT_NE(info.Result()["text"].get<std::string>().find("编程器内置软件版本: VELDRIX V2.31"), std::string::npos);

    CliRun sum = Cli({"checksum", "chip"});  // a blank chip over 0000-0FFF
    EXPECT_EQ(sum.Result()["checksum"], "F000");
    EXPECT_EQ(Cli({"checksum", "memory", f.Path("code.hex")}).Result()["checksum"], nullptr);  // none found

    // Progress as the unit reports it: each address with its share of the
    // range, and no status line of its own.
    CliRun blank = Cli({"blank"});
    std::vector<std::pair<std::string, int>> progress;
    for (const Json& p : blank.Of("progress")) {
        EXPECT_EQ(p["text"], "请稍候,芯片空检查");
        progress.emplace_back(p["address"], p["percent"]);
    }
    EXPECT_EQ(progress, (std::vector<std::pair<std::string, int>>{
                            {"00400", 25}, {"00800", 50}, {"00C00", 75}, {"01000", 100}}));
    for (const Json& s : blank.Of("status")) EXPECT_EQ(s["text"].get<std::string>().find("地址:"), std::string::npos);

    CliRun list = Cli({"offline", "list"}, "", Before([](sim::DeviceState& s) { BlockWithFile(s, 7); }));
    ASSERT_EQ(list.Of("block").size(), 15u);
    EXPECT_EQ(list.Of("block")[6]["name"], "code.hex");
    EXPECT_EQ(list.Of("block")[5]["file"], false);
    EXPECT_EQ(list.Result()["blocks_with_file"], Json::array({7}));

    CliRun ports = Cli({"ports", "--sim-units", "2"});
    ASSERT_EQ(ports.Of("port").size(), 2u);
    for (const Json& p : ports.Of("port")) EXPECT_EQ(p["programmer"], true);

    CliRun load = Cli({"load", f.Path("code.hex"), "--chip", "S3F9454"});
    Json file = load.Of("file").at(0);
    EXPECT_EQ(file["end"], "0FFF");
    EXPECT_EQ(file["checksum"], Hex4(f.Sum()));
    EXPECT_EQ(file["fits_chip"], true);
    CliRun tooBig = Cli({"load", f.Path("code.hex"), "--chip", "S3C9442"});
    EXPECT_EQ(tooBig.Of("file").at(0)["fits_chip"], false);
}

TEST(Cli, BadHexFileNamesEachLineAndWhy) {
    CliRun run = Cli({"load", TestFiles().Path("bad.hex")});
    EXPECT_EQ(run.exit, 3);
    std::vector<std::tuple<int, std::string, bool>> seen;
    for (const Json& issue : run.Of("hex-issue"))
        seen.emplace_back(issue["line"].get<int>(), issue["kind"].get<std::string>(), issue["refused"].get<bool>());
    const std::vector<std::tuple<int, std::string, bool>> expected = {
        {3, "checksum", true},          {5, "bad-character", false}, {6, "no-record-mark", false},
        {7, "unknown-type", false},     {9, "above-16-bit", false}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(run.Of("hex-issue")[0]["text"], "行检查和错误: 该行检查和为 F5, 应为 F6");
    EXPECT_EQ(run.Of("hex-issue")[3]["text"], "无法识别的记录类型 06, 该行被忽略");
    EXPECT_EQ(run.Of("hex-issue")[4]["text"], "数据地址 10100 超出16位编程地址范围, 从该地址开始的数据将不会被编程");
    EXPECT_EQ(run.Result()["hex_may_lose_code"], true);
    EXPECT_TRUE(run.Of("box").empty());  // a refused file warns of nothing more

    // A file that loads says once, as the window does, where the code it
    // will not program begins; the line comes with the diagnosis.
    CliRun high = Cli({"load", TestFiles().Path("high.hex")});
    EXPECT_EQ(high.exit, 3);  // as the programming commands take it, its report all the same
    EXPECT_EQ(Cli({"load", TestFiles().Path("high.hex"), "--allow-lost-code"}).exit, 0);
    ASSERT_EQ(high.Of("box").size(), 1u);
    EXPECT_EQ(high.Of("box")[0]["caption"], "警告");
    // The range ends at the code below 0x10000, not at the data above's end wrapped round.
    EXPECT_EQ(high.Of("box")[0]["text"], "加载的代码文件中有超出16位编程地址(FFFFH)的数据!\n从地址: 10100 "
                                         "开始的数据将不会被编程!\n不会被编程的数据: 10100~10101\n"
                                         "注: 本次编程地址范围是: 0000~0FFF");
    EXPECT_EQ(high.Of("file").at(0)["end"], "0FFF");
    ASSERT_EQ(high.Of("hex-issue").size(), 1u);
    EXPECT_EQ(high.Of("hex-issue")[0]["line"], 258);
    EXPECT_EQ(high.Of("hex-issue")[0]["kind"], "above-16-bit");
    EXPECT_EQ(high.Result()["hex_may_lose_code"], true);
    EXPECT_EQ(Cli({"load", TestFiles().Path("code.hex")}).Result()["hex_may_lose_code"], false);

    CliRun afterLong = Cli({"load", TestFiles().Path("long.hex")});
    ASSERT_EQ(afterLong.Of("hex-issue").size(), 2u);  // once for the long line, however many pieces
    EXPECT_EQ(afterLong.Of("hex-issue")[0]["line"], 1);
    EXPECT_EQ(afterLong.Of("hex-issue")[1]["line"], 2);
    EXPECT_EQ(afterLong.Of("hex-issue")[1]["kind"], "checksum");

    // The same in text, as a person reads it.
    std::istringstream in;
    std::ostringstream out, err;
    cli::RunCli({"--settings", TestFiles().Path("none"), "load", TestFiles().Path("bad.hex")}, in, out, err, false);
    EXPECT_NE(out.str().find("第3行: 行检查和错误: 该行检查和为 F5, 应为 F6"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("第7行: 无法识别的记录类型 06, 该行被忽略"), std::string::npos) << out.str();
    out.str("");
    cli::RunCli({"--settings", TestFiles().Path("none"), "load", TestFiles().Path("high.hex")}, in, out, err, false);
    // The box is a warning, on standard error; the diagnosis is the result.
    EXPECT_NE(err.str().find("警告: 加载的代码文件中有超出16位编程地址(FFFFH)的数据!\n    从地址: 10100 "),
              std::string::npos)
        << err.str();
}

// Every event: its kind, its unit, its time, and the fields of its kind.
TEST(Cli, JsonEventsFollowOneShape) {
    Files& f = TestFiles();
    const std::map<std::string, std::vector<std::string>> fields = {
        {"status", {"text"}},
        {"progress", {"text", "address", "percent"}},
        {"box", {"caption", "question", "text", "buttons", "answer", "refused"}},
        {"step", {"step", "exit", "outcome", "status", "took_ms"}},
        {"chip", {"chip", "exit", "outcome", "good", "bad", "id"}},
        {"result", {"command", "exit", "outcome", "status"}},
        {"summary", {"exit", "outcome", "units"}},
        {"file", {"file", "format"}},
        {"hex-issue", {"line", "kind", "refused", "text"}},
        {"block", {"block", "file"}},
        {"port", {"port", "device", "usb", "pl2303", "programmer"}},
    };
    std::set<std::string> kinds;
    for (auto args : std::vector<std::vector<std::string>>{
             {"auto", f.Path("code.hex"), "--no-verify"},
             {"--sim-units", "2", "auto", f.Path("code.hex"), "--id", "3FF0:1"},
             {"load", f.Path("bad.hex")},
             {"offline", "list"},
             {"ports"}}) {
        CliRun run = Cli(args);
        double last = 0;
        for (const Json& e : run.events) {
            SCOPED_TRACE(e.dump());
            ASSERT_TRUE(e["event"].is_string());
            std::string kind = e["event"];
            kinds.insert(kind);
            ASSERT_TRUE(fields.count(kind));
            EXPECT_TRUE(e["unit"].is_string() || e["unit"].is_null());
            ASSERT_TRUE(e["ms"].is_number());
            if (kind != "port") {
                EXPECT_GE(e["ms"].get<double>(), last);  // in the order they happened
            }
            last = std::max(last, e["ms"].get<double>());
            for (const std::string& field : fields.at(kind)) EXPECT_TRUE(e.contains(field)) << field;
            if (e.contains("exit")) {
                EXPECT_EQ(e["outcome"], cli::ExitWord(e["exit"].get<int>()));
            }
        }
    }
    EXPECT_EQ(kinds.size(), fields.size());
}

TEST(Cli, FourUnitsWriteFourConsecutiveIdCodes) {
    const uint32_t address = 0x3FF0;
    std::map<int, uint32_t> written;
    cli::CliHooks hooks;
    hooks.afterRun = [&](int unit, sim::InProcessProgrammer& p) {
        std::lock_guard lock(p.state.mutex);
        const auto& c = p.state.chip.cells;
        written[unit] = uint32_t(c[address]) << 16 | uint32_t(c[address + 1]) << 8 | c[address + 2];
    };
    const std::string logs = TestFiles().Path("logs");
    fs::remove_all(logs);
    auto codesOf = [&] {
        std::set<uint32_t> codes;
        for (auto [unit, code] : written) codes.insert(code);
        return codes;
    };
    std::vector<std::string> args{"--sim-units", "4", "--log-dir", logs, "auto", TestFiles().Path("code.hex"),
                                  "--id", "3FF0:5001"};
    CliRun run = Cli(args, "", hooks);
    EXPECT_EQ(run.exit, 0);
    EXPECT_EQ(codesOf(), (std::set<uint32_t>{5001, 5002, 5003, 5004}));
    // Each unit reports the code its chip holds.
    for (const Json& chip : run.Of("chip")) {
        int unit = std::stoi(chip["unit"].get<std::string>().substr(3));
        EXPECT_EQ(chip["id"], written[unit]);
    }
    EXPECT_EQ(run.Of("summary").at(0)["exit"], 0);

    // The same sequence again, with the records of the first: the codes on
    // good chips are passed over, and every chip has a record.
    written.clear();
    CliRun again = Cli(args, "", hooks);
    EXPECT_EQ(again.exit, 0);
    EXPECT_EQ(codesOf(), (std::set<uint32_t>{5005, 5006, 5007, 5008}));
    size_t goodRecords = 0;
    for (const auto& day : fs::directory_iterator(logs)) {
        std::ifstream in(day.path());
        for (std::string line; std::getline(in, line);) goodRecords += line.find(",good,") != std::string::npos;
    }
    EXPECT_EQ(goodRecords, 8u);
}

TEST(Cli, LinkFaultOnOneUnitLeavesTheOthers) {
    // Two chips on each unit; the second unit's link fails at its first. A
    // code taken by a chip that failed goes to the next chip, so the good
    // chips carry 1..n.
    const struct {
        std::string fault;
        int good;  // chips with their code over all units
    } cases[] = {{"2:unplug", 6}, {"2:fault noreply 7 ack once", 7}, {"2:fault busy 29 ack once", 7}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::map<int, bool> holdsCode;
        cli::CliHooks hooks;
        hooks.afterRun = [&](int unit, sim::InProcessProgrammer& p) {
            std::lock_guard lock(p.state.mutex);
            holdsCode[unit] = std::equal(TestFiles().code.begin(), TestFiles().code.end(), p.state.chip.cells.begin());
        };
        CliRun run = Cli({"--sim-units", "4", "--sim-do", c.fault, "auto", TestFiles().Path("code.hex"), "--id",
                          "3FF0:1", "--repeat"},
                         "\n", hooks);
        EXPECT_EQ(run.exit, 2);
        std::map<std::string, Json> results;
        for (const Json& r : run.Of("result")) results[r["unit"]] = r;
        EXPECT_EQ(results["COM2"]["exit"], 2);
        std::set<uint32_t> ids;
        size_t good = 0;
        for (auto& [unit, r] : results) {
            if (unit != "COM2") {
                EXPECT_EQ(r["exit"], 0) << unit;
                EXPECT_EQ(r["good"], 2) << unit;
            }
            EXPECT_EQ(r["bad"], 0) << unit;  // the chip never got its command: not counted
            for (uint32_t id : r["ids"]) ids.insert(id);
            good += r["ids"].size();
        }
        EXPECT_EQ(good, size_t(c.good));
        EXPECT_EQ(ids.size(), good);
        EXPECT_EQ(*ids.rbegin(), uint32_t(c.good));
        for (int unit : {1, 3, 4}) EXPECT_TRUE(holdsCode[unit]) << unit;
        EXPECT_EQ(run.Of("summary").at(0)["exit"], 2);
    }
}

TEST(Cli, RepeatRunsChipAfterChipKeepingCounts) {
    // Two more chips after the first: an empty socket, then a good one; a
    // failed chip gives its ID code to the next.
    CliRun run = Cli({"auto", TestFiles().Path("code.hex"), "--repeat", "--id", "3FF0:71"}, "sim chip none\n\nq\n");
    auto chips = run.Of("chip");
    ASSERT_EQ(chips.size(), 3u);
    EXPECT_EQ(chips[0]["id"], 71);
    EXPECT_EQ(chips[1]["exit"], 1);
    EXPECT_EQ(chips[2]["id"], 72);
    EXPECT_EQ(chips[2]["good"], 2);
    EXPECT_EQ(chips[2]["bad"], 1);
    EXPECT_EQ(run.Result()["ids"], Json::array({71, 72}));
    EXPECT_EQ(run.exit, 1);  // the worst chip

    // The end of the sequence stops the run; end of input ends it too.
    CliRun used = Cli({"auto", TestFiles().Path("code.hex"), "--repeat", "--id", "3FF0:8:9"}, "\n\n\n");
    EXPECT_EQ(used.Result()["ids"], Json::array({8, 9}));
    EXPECT_EQ(used.exit, 5);  // ID codes used up
    CliRun three = Cli({"--sim-units", "2", "auto", TestFiles().Path("code.hex"), "--repeat"}, "\n\n");
    EXPECT_EQ(three.Of("chip").size(), 6u);
    EXPECT_EQ(three.exit, 0);
}

// What the window keeps (chip, debug mode, the chip list's folder) is what a
// call starts from; a call changes none of it.
TEST(Cli, DefaultsComeFromTheWindowsSettings) {
    Files& f = TestFiles();
    const std::string settings = "setup=" VELDRIX_SOURCE_DIR "/resources\nchip=S3C9442\nmode=1\ncom=COM1\ntx_set=1\n";
    f.Write("settings", settings);
    auto with = [&](std::vector<std::string> args, cli::CliHooks hooks = {}) {
        args.insert(args.begin(), {"--settings", f.Path("settings")});
        return Cli(args, "", hooks);
    };
    EXPECT_EQ(with({"load", f.Path("code.hex")}).Of("file").at(0)["chip"], "S3C9442");
    EXPECT_EQ(with({"erase"}).exit, 3);  // an OTP chip: the window has the button off
    EXPECT_EQ(with({"erase", "--chip", "S3F9454"}).exit, 0);
    // Debug mode: the code stays here, the unit's memory is not written.
    CliRun debug = with({"download", f.Path("code.hex")}, After([](sim::DeviceState& s) { EXPECT_EQ(s.memory[0], 0xFF); }));
    EXPECT_EQ(debug.exit, 0);
    CliRun normal = with({"download", f.Path("code.hex"), "--no-debug"},
                         After([&](sim::DeviceState& s) { EXPECT_EQ(s.memory[0], f.code[0]); }));
    EXPECT_EQ(normal.exit, 0);
    std::ifstream in(f.Path("settings"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), settings);
}

// The adapters as Linux lists them: ttyUSB<n> under its USB interface, the
// vendor and product ids two levels up, the driver beside it.
TEST(Cli, PortsFromSysfs) {
    fs::path root = TestFiles().dir / "sys";
    auto adapter = [&](const std::string& tty, const std::string& usb, const std::string& driver, const char* vendor,
                       const char* product) {
        fs::path device = root / "devices" / usb / (usb + ":1.0") / tty;
        fs::create_directories(device);
        fs::create_directories(root / "drivers" / driver);
        fs::create_symlink(fs::relative(root / "drivers" / driver, device), device / "driver");
        std::ofstream(root / "devices" / usb / "idVendor") << vendor << "\n";
        std::ofstream(root / "devices" / usb / "idProduct") << product << "\n";
        fs::create_directories(root / "class" / "tty" / tty);
        fs::create_symlink(fs::relative(device, root / "class" / "tty" / tty), root / "class" / "tty" / tty / "device");
    };
    adapter("ttyUSB10", "1-3", "pl2303", "067b", "23a3");  // a newer PL2303 (GC)
    adapter("ttyUSB2", "1-1", "pl2303", "067b", "2303");
    adapter("ttyUSB3", "1-2", "ftdi_sio", "0403", "6001");
    auto list = cli::ListHostAdapters(root.string());
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].port, "/dev/ttyUSB2");
    EXPECT_EQ(list[0].usb, "067B:2303");
    EXPECT_EQ(list[0].device, "\\Device\\ProlificSerial2");
    EXPECT_TRUE(list[0].pl2303);
    EXPECT_EQ(list[1].usb, "0403:6001");
    EXPECT_FALSE(list[1].pl2303);
    EXPECT_EQ(list[2].port, "/dev/ttyUSB10");
    EXPECT_TRUE(list[2].pl2303);
    EXPECT_TRUE(cli::IsPl2303("067b:23F3"));
    EXPECT_FALSE(cli::IsPl2303("067B:2304"));
    fs::remove_all(root);
}

// Every usage error in the program's words on standard error, with the
// nearest name for a typo, and nothing on standard output.
TEST(Cli, UsageErrorsSayWhatWasMeant) {
    const std::string code = TestFiles().Path("code.hex");
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"autoo"}, "veldrix-cli: 未知子命令 autoo, 是否要用 auto?"},
        {{"frobnicate"}, "未知子命令 frobnicate\n"},
        {{}, "需要一个子命令: ports, info, chips,"},
        {{"--chpi", "X", "auto"}, "未知选项 --chpi, 是否要用 --chip?"},
        {{"auto", "--repaet"}, "未知选项 --repaet, 是否要用 --repeat?"},
        {{"auto", "--id"}, "选项 --id 需要一个值"},
        {{"auto", "--id", "3FF0"}, "--id 应为 地址:起始值[:终止值]"},
        {{"auto", "--id", "3FF0:9:8"}, "ID码终止值不能小于起始值"},
        {{"--type", "mpt", "blank"}, "--type: 不能是 mpt, 应为 otp 或 mtp (是否要用 mtp?)"},
        {{"--sim-units", "99", "blank"}, "--sim-units: 应为 1 到 64 之间的整数, 不能是 99"},
        {{"--sim-units", "two", "blank"}, "--sim-units: 应为 1 到 64 之间的整数, 不能是 two"},
        {{"load"}, "load 需要参数 FILE"},
        {{"blank", "extra"}, "多余的参数: extra"},
        {{"offline", "info", "20"}, "N: 应为 1 到 15 之间的整数, 不能是 20"},
        {{"offline", "lst"}, "WHAT: 不能是 lst, 应为 list, info, make, delete 或 load (是否要用 list?)"},
        {{"checksum", "memory"}, "checksum memory 需要代码文件, 以核对编程内存"},
        {{"offline", "info", "3", code}, "只有 offline make 需要代码文件"},
        {{"counter", "3", "--id", "3FF0:1"}, "counter 需要 --id 地址:起始值:终止值"},
        {{"blank", "--repeat"}, "选项 --repeat 只用于 auto"},
        {{"offline", "info"}, "offline info 需要目录块号 N"},
        {{"-q", "-v", "blank"}, "-q 与 -v 不能同时使用"},
        {{"--format", "bin", "blank"}, "--format 只用于 read"},
        {{"--chip", "S3F944", "blank"}, "芯片列表中没有 S3F944, 是否要用 S3F9444"},
        {{"--chip", "NOSUCHCHIP", "blank"}, "芯片列表中没有 NOSUCHCHIP (veldrix-cli chips 列出全部)"},
        {{"--port", "/dev/ttyUSB0", "blank"}, "--port /dev/ttyUSB0 是真实的端口, 不能用作模拟编程器的名称"},
        {{"read", TestFiles().dir.string()}, "无法写入 " + TestFiles().dir.string() + ": 这是一个文件夹, 不是文件"},
        {{"read", TestFiles().Path("x.dat")}, "请用 .hex 或 .bin 结尾, 或给出 --format hex|bin"},
        {{"download", TestFiles().dir.string()}, "无法读取代码文件 " + TestFiles().dir.string() + ": 这是一个文件夹, 不是文件"},
        {{"load", TestFiles().Path("missing.hex")}, "无法读取代码文件 " + TestFiles().Path("missing.hex") + ": 文件不存在"},
        {{"lock", "--password-file", TestFiles().Path("nosuch")}, "(无法读取密码文件 " + TestFiles().Path("nosuch") + ": 文件不存在)"},
        {{"auto", "--yes=rom-sise"}, "--yes: 没有名为 rom-sise 的问题, 是否要用 rom-size?"},
        {{"--sim-do", "5:unplug", "blank"}, "--sim-do 5:unplug: 没有第 5 台模拟编程器 (共 1 台, 见 --sim-units)"},
        {{"--sim-do", "bogus", "blank"}, "--sim-do bogus: 模拟编程器无法执行该命令"},
        {{"--install-dir", "/nonexistent", "chips"}, "无法读取芯片列表 /nonexistent/samlist.txt: 文件不存在"},
        {{"load", TestFiles().Path("lost.pvx")},
         "无法读取代码文件 " + TestFiles().Path("gone.hex") + " (工程文件 " + TestFiles().Path("lost.pvx") + "): 文件不存在"},
        {{"report", "--from", "2025-3-1", "--json"}, "日期应为 YYYY-MM-DD, 不能是 2025-3-1"},
        {{"report", "--from", "2025-03-05", "--to", "2025-03-04", "--json"}, "起始日期不能晚于终止日期"},
        {{"report", "--log-dir", TestFiles().dir.string()}, "report 需要 -o 文件 (HTML 页面) 或 --json"},
        {{"blank", "--to", "2025-03-04"}, "--from, --to 和 -o 只用于 report"},
        {{"report", "--json"}, "report 需要 --log-dir 目录 (生产记录文件夹)"},
        {{"report", "--json", "--log-dir", TestFiles().Path("no-records")},
         "无法读取生产记录文件夹 " + TestFiles().Path("no-records") + ": 文件不存在"},
        {{"report", "--log-dir", TestFiles().dir.string(), "-o", TestFiles().dir.string()},
         "无法写入报表 " + TestFiles().dir.string() + ": 这是一个文件夹, 不是文件"},
        {{"auto", "--log-dir", TestFiles().dir.string(), "--records-dsn", "线体1"},
         "--log-dir, --records-dsn 和 --records-odbc-file 只能给出一个"},
        {{"auto", "--records-odbc-file", TestFiles().Path("no-odbc")},
         "无法读取数据库连接文件 " + TestFiles().Path("no-odbc") + ": 文件不存在"},
        {{"report", "--json", "--records-odbc-file", TestFiles().Path("no-odbc")},
         "无法读取数据库连接文件 " + TestFiles().Path("no-odbc") + ": 文件不存在"},
        {{"auto", "--db-wait", "-1"}, "--db-wait: 应为 0 到 86400 之间的整数, 不能是 -1"},
        {{"blank", "--db-wait", "5"}, "--db-wait 只用于 auto"},
        {{"blank", "--records-dsn", "线体1"}, "--records-dsn 和 --records-odbc-file 只用于 auto 和 report"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--sim", "--settings", TestFiles().Path("no-settings")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.says);
        std::istringstream in;
        std::ostringstream out, err;
        EXPECT_EQ(cli::RunCli(args, in, out, err, false), 3);
        EXPECT_NE(err.str().find(c.says), std::string::npos) << err.str();
        // Only a subcommand that ran has a result line to give.
        EXPECT_EQ(out.str().find("veldrix-cli:"), std::string::npos) << out.str();
        EXPECT_EQ(err.str().find("required"), std::string::npos);
    }
}

// A run in text: what goes to standard output (results) and what to
// standard error (steps, status texts, boxes, errors), and its exit status.
TEST(Cli, EachLineGoesToItsStream) {
    Files& f = TestFiles();
    const std::string code = f.Path("code.hex");
    std::string hexText;
    ASSERT_TRUE(ReadFileBytes(code, hexText));
    const struct {
        std::vector<std::string> args;
        int exit;
        std::vector<std::string> out, err;  // each found in that stream
        std::vector<std::string> notOut;    // none of these in standard output
        size_t errLines = size_t(-1);       // how many lines on standard error (-1: not checked)
    } cases[] = {
        // Standard output holds data only: the "结果:" line is a message.
        {{"auto", code}, 0, {"第1片: 成功  良品 1  不良品 0\n"}, {"自动编程已成功完成\n", "结果: 成功  良品 1  不良品 0\n"},
         {"自动编程已成功完成", "编程内存检查和", "结果"}},
        {{"-q", "auto", code}, 0, {"第1片: 成功"}, {"结果: 成功"}, {}, 1},
        {{"-q", "auto", code, "--sim-do", "fault ev 7"}, 1, {"第1片: 芯片失败"}, {"结果: 芯片失败", "编程电压错误,编程失败", "警告: 检测到Vdd或Vpp错误!"}, {}},
        {{"-v", "auto", code}, 0, {"第1片: 成功"}, {"下载代码到编程器内存\n请稍候,得到编程内存检查和\n编程内存检查和 =  ", "校验芯片成功!\n", "结果: 成功"},
         {"校验芯片成功"}},
        // The values asked for, also with -q; the texts around them on standard error.
        {{"info"}, 0, {"编程器内置软件版本: VELDRIX V2.31"}, {"结果: 成功"}, {"结果"}},
        {{"-q", "info"}, 0, {"编程器内置软件版本: VELDRIX V2.31"}, {"结果: 成功"}, {"结果"}, 1},
        {{"-q", "checksum", "chip"}, 0, {"F000\n"}, {"结果: 成功"}, {"结果", "芯片检查和"}, 1},
        // 1 KB, then data at 0x10000: the range keeps the code below it.
        {{"load", f.Path("mixed04.hex"), "--allow-lost-code"}, 0, {"地址范围: 0000-0FFF"}, {"不会被编程的数据: 10000~1000F"}, {}},
        {{"load", f.Path("big.bin"), "--allow-lost-code"}, 0, {"地址范围: 0000-FFFF"}, {"不会被编程的数据: 10000~10000"}, {}},
        {{"load", f.Path("cross.hex"), "--allow-lost-code"}, 0, {"地址范围: 0000-FFFF"}, {"不会被编程的数据: 10000~10007"}, {}},
        {{"--range", "0000:0100", "auto", code}, 0, {"第1片: 成功"}, {"自动编程已成功完成"}, {}},
        {{"download", f.Path("missing.hex")}, 3, {}, {"结果: 用法或文件错误\n", "无法读取代码文件 " + f.Path("missing.hex") + ": 文件不存在\n"},
         {"格式", "代码文件有错误", "结果"}},
        {{"load", code}, 0, {"文件: " + code + "\n格式: Intel HEX\n地址范围: 0000-0FFF"}, {}, {}},
        // A relative File= from the project's folder, wherever the call is made.
        {{"load", f.Path("beside.pvx")}, 0, {"(代码文件: " + code + ")\n地址范围: 0000-0FFF"}, {}, {}},
        {{"offline", "info", "3"}, 0, {"目录块 3: 无文件\n"}, {"结果: 成功\n"}, {"结果"}},
        // Each refusal its own cause: no new password is no missing operation password.
        {{"password", "--password-file", f.Path("pw")}, 3, {}, {"(没有新密码: --new-password-file 或在终端输入)"}, {},
         size_t(-1)},
        {{"--sim-units", "2", "--id", "3FF0:5001:5001", "auto", code}, 5, {"ID码 5001"},
         {"ID码已用完: 到终止值 5001 为止的ID码都已写入良品芯片, 不再编程芯片", "结果: ID码已用完"}, {}},
        // Every line a chip: a pipe to awk finds nothing else.
        {{"chips"}, 0, {"型号            类型  封装      Vpp   Vdd   ROM最大地址\n", "S3F9444         MTP   DIP20     12V   5V    0FFF\n"}, {"结果: 成功"}, {"结果"}, 1},
        {{"--version"}, 0, {"veldrix-cli 3.10\n提交: ", "\n构建日期: "}, {}, {}, 0},
        {{"auto", "--help"}, 0, {"用法: veldrix-cli [选项] auto [FILE]\n", "--id ID", "--repeat", "--log-dir 目录"}, {},
         {"--new-password-file", "--format"}, 0},
        {{"checksum", "--help"}, 0, {"用法: veldrix-cli [选项] checksum WHAT [FILE]\n\n参数:\n  WHAT  chip 或 memory\n  FILE  代码文件 (memory)\n"},
         {}, {"--repeat"}, 0},
        {{"read", "-"}, 0, {":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00\r\n"}, {"结果: 成功\n"},
         {"结果", "编程内存"}},
        {{"read", "-", "--json"}, 0, {":00000001FF\r\n"}, {"{\"event\":\"result\""}, {"{"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--sim", "--settings", f.Path("no-settings")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::string name;
        for (const std::string& a : c.args) name += a.substr(a.rfind('/') == std::string::npos ? 0 : a.rfind('/') + 1) + " ";
        SCOPED_TRACE(name);
        std::istringstream in;
        std::ostringstream out, err;
        EXPECT_EQ(cli::RunCli(args, in, out, err, false), c.exit) << err.str();
        for (const std::string& s : c.out) EXPECT_NE(out.str().find(s), std::string::npos) << s << "\n--\n" << out.str();
        for (const std::string& s : c.err) EXPECT_NE(err.str().find(s), std::string::npos) << s << "\n--\n" << err.str();
        for (const std::string& s : c.notOut) EXPECT_EQ(out.str().find(s), std::string::npos) << s << "\n--\n" << out.str();
        const std::string errors = err.str();
        if (c.errLines != size_t(-1))
            EXPECT_EQ(size_t(std::count(errors.begin(), errors.end(), '\n')), c.errLines) << errors;
    }
    // Data that could not be written is no success: the system's words, exit 3.
    for (std::vector<std::string> args : {std::vector<std::string>{"chips"}, {"read", "-"}, {"--json", "info"}}) {
        SCOPED_TRACE(args[0]);
        std::ofstream full("/dev/full");
        ASSERT_TRUE(full.is_open());
        std::istringstream in;
        std::ostringstream err;
        args.insert(args.begin(), {"--sim", "--settings", f.Path("no-settings")});
        EXPECT_EQ(cli::RunCli(args, in, full, err, false), 3) << err.str();
        EXPECT_NE(err.str().find("veldrix-cli: 无法写入标准输出: " + std::string(std::strerror(ENOSPC))), std::string::npos)
            << err.str();
    }
    // ports ends with its result too, adapters or none.
    {
        std::istringstream in;
        std::ostringstream out, err;
        int exit = cli::RunCli({"--json", "--settings", f.Path("no-settings"), "ports"}, in, out, err, false);
        std::string last, line;
        for (std::istringstream lines(out.str()); std::getline(lines, line);) last = line;
        ASSERT_FALSE(last.empty()) << err.str();
        Json result = Json::parse(last);
        EXPECT_EQ(result["event"], "result");
        EXPECT_EQ(result["exit"], exit);
    }
    // Verbose: each status text once, however often the window set it.
    std::istringstream in;
    std::ostringstream out, err;
    cli::RunCli({"--sim", "--settings", f.Path("no-settings"), "-v", "auto", code}, in, out, err, false);
    std::set<std::string> seen;
    std::istringstream lines(err.str());
    for (std::string line; std::getline(lines, line);) {
        if (line == "调入代码成功!" || line == "调入代码文件.....") continue;  // the load, then the download's own
        EXPECT_TRUE(seen.insert(line).second) << "twice: " << line;
    }
}

// The shell completion knows exactly the names the parser knows, and the
// help's columns line up however wide the Chinese before them.
TEST(Cli, CompletionAndHelpKnowEveryName) {
    std::string script;
    ASSERT_TRUE(ReadFileBytes(VELDRIX_SOURCE_DIR "/resources/completion/veldrix-cli", script));
    auto listed = [&](const std::string& variable) {
        size_t at = script.find("local " + variable + "=\"");
        EXPECT_NE(at, std::string::npos) << variable;
        at = script.find('"', at) + 1;
        std::istringstream words(script.substr(at, script.find('"', at) - at));
        std::set<std::string> out;
        for (std::string w; words >> w;) out.insert(w);
        return out;
    };
    cli::CommandLineNames names = cli::KnownNames();
    EXPECT_EQ(listed("subcommands"), std::set<std::string>(names.subcommands.begin(), names.subcommands.end()));
    EXPECT_EQ(listed("options"), std::set<std::string>(names.options.begin(), names.options.end()));

    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"offline", "--help"}}) {
        std::istringstream in;
        std::ostringstream out, err;
        ASSERT_EQ(cli::RunCli(args, in, out, err, false), 0);
        // Within a block of rows, each description starts at the same column.
        std::istringstream lines(out.str());
        size_t column = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("  ", 0) != 0 || line.size() < 3 || line[2] == ' ') {
                column = 0;
                continue;
            }
            size_t gap = line.find("  ", 2);
            if (gap == std::string::npos) continue;
            size_t at = cli::DisplayWidth(line.substr(0, line.find_first_not_of(' ', gap)));
            if (column == 0) column = at;
            EXPECT_EQ(at, column) << line;
        }
    }
    EXPECT_EQ(cli::DisplayWidth("编程器 COM1"), 11u);
    EXPECT_EQ(cli::DisplayWidth("→ 是"), 4u);
    EXPECT_EQ(cli::IdList({1082, 1001, 1002, 1003, 1090, 1083}), "1001–1003, 1082–1083, 1090");
    // The summary's columns line up however long a port's name.
    {
        std::istringstream in;
        std::ostringstream out, err;
        cli::RunCli({"--sim", "--settings", TestFiles().Path("no-settings"), "--port", "模拟一号", "--port",
                     "COM-OF-A-LONG-NAME", "blank"},
                    in, out, err, false);
        std::vector<size_t> columns;
        std::istringstream lines(out.str());
        for (std::string line; std::getline(lines, line);)
            if (size_t at = line.find("成功"); at != std::string::npos)
                columns.push_back(cli::DisplayWidth(line.substr(0, at)));
        ASSERT_EQ(columns.size(), 2u) << out.str();
        EXPECT_EQ(columns[0], columns[1]) << out.str();
    }
    EXPECT_EQ(cli::Nearest("verfy", {"verify", "erase", "very-long"}), std::vector<std::string>({"verify"}));
    EXPECT_TRUE(cli::Nearest("zzzzzz", {"verify", "erase"}).empty());
}

// The progress bar on a terminal: the stage's words, percent, the time since
// the stage began and the rate; a new stage starts its clock again; the end
// clears the line.
TEST(Cli, ProgressBarShowsTimeAndRate) {
    std::ostringstream out, err;
    cli::OutputStyle style;
    style.progressBar = true;
    cli::Output output(out, err, style);
    output.Progress("COM1", 1000, "下载代码到编程器内存", 0, 0, 0);
    output.Progress("COM1", 3000, "下载代码到编程器内存", 0x1000, 50, 4096);
    EXPECT_NE(err.str().find("[##########----------] 50% 2.0s 2.0KB/s 下载代码到编程器内存"), std::string::npos) << err.str();
    output.Progress("COM1", 3500, "请稍候,校验芯片", 0, 0, 0);
    output.Progress("COM1", 4000, "请稍候,校验芯片", 0x100, 10, 256);
    EXPECT_NE(err.str().find("10% 0.5s 512B/s 请稍候,校验芯片"), std::string::npos) << err.str();
    output.Finish();
    EXPECT_EQ(err.str().substr(err.str().size() - 4), "\r\033[K");
    EXPECT_TRUE(out.str().empty());
}

// Reading the programmer's memory to a file: the format from its ending or
// --format, a HEX file with its end record, the binary exactly the range.
TEST(Cli, ReadWritesTheFormatAsked) {
    Files& f = TestFiles();
    const std::string chip = "chip mtp " + f.Path("code.hex");
    auto memoryHoldsCode = Before([&](sim::DeviceState& s) { std::copy(f.code.begin(), f.code.end(), s.memory.begin()); });
    for (const std::string& name : {"m.hex", "m.bin", "m.data"}) {
        SCOPED_TRACE(name);
        std::vector<std::string> args = {"read", f.Path(name)};
        if (name == "m.data") args.insert(args.end(), {"--format", "bin"});
        CliRun run = Cli(args, "", memoryHoldsCode);
        ASSERT_EQ(run.exit, 0) << run.errors;
        std::string written;
        ASSERT_TRUE(ReadFileBytes(f.Path(name), written));
        if (name == "m.hex") {
            EXPECT_EQ(written.substr(0, 13), DataRecord(0, std::vector<uint8_t>(f.code.begin(), f.code.begin() + 16)).substr(0, 13));
            EXPECT_EQ(written.substr(written.size() - 13), ":00000001FF\r\n");
            EXPECT_EQ(run.Result()["format"], "hex");
        } else {
            EXPECT_EQ(written, std::string(f.code.begin(), f.code.end()));
            EXPECT_EQ(run.Result()["format"], "bin");
            EXPECT_EQ(run.Result()["bytes"], 0x1000);
        }
        EXPECT_FALSE(fs::exists(f.Path(name) + ".hex"));
    }
}

namespace trusted {

std::vector<std::vector<std::string>> Records(const std::string& folder) {
    std::vector<std::vector<std::string>> out;
    std::vector<fs::path> days;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".csv" && e.path().filename().string().size() == 14) days.push_back(e.path());
    std::sort(days.begin(), days.end());
    for (const fs::path& day : days) {
        std::ifstream in(day, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bool header = true;
        CsvReader([&](const std::vector<std::string_view>& f) {
            if (!header) out.emplace_back(f.begin(), f.end());
            header = false;
            return true;
        }).Feed(text);
    }
    return out;
}

uint32_t ChipId(const sim::DeviceState& s, uint32_t address) {
    const auto& c = s.chip.cells;
    return uint32_t(c[address]) << 16 | uint32_t(c[address + 1]) << 8 | c[address + 2];
}

std::string Project(const std::string& name, const std::string& autoBits) {
    Files& f = TestFiles();
    f.Write(name, "THIS-IS-VDX-PROJECT-FILE\r\nFile=" + f.Path("code.hex") + "\r\nAuto=" + autoBits +
                      "\r\nFcts=5000\r\nIncr=3FF0\r\n");
    return f.Path(name);
}

}  // namespace trusted

// Ctrl-C: the step running finishes, none starts after it; the chip is
// counted as the sequence counts it; the result says so; exit 130.
TEST(Cli, CtrlCLetsTheStepFinishAndStartsNoOther) {
    Files& f = TestFiles();
    struct Reset {
        ~Reset() { cli::SetInterrupted(false); }
    } reset;
    // At a step's status text, as the operator presses Ctrl-C then.
    auto pressAt = [](const std::string& status) {
        cli::CliHooks hooks;
        hooks.onEvent = [status](const std::string& kind, const Json& fields) {
            if (kind == "status" && fields.value("text", "") == status) cli::SetInterrupted(true);
        };
        return hooks;
    };
    const struct {
        std::string pressedAt;
        std::vector<std::string> extra;
        std::string record;  // the chip's record ("" none)
        int bad;
        bool programmed;
    } cases[] = {
        // Programming finishes; verification does not start: a chip a step reached is bad.
        {"请稍候,正在编程芯片", {}, "bad", 1, true},
        // The download finishes; the sequence never starts: the chip is stopped, uncounted.
        {"初始化编程内存 OK,正在准备下载编程代码.....", {}, "stopped", 0, false},
        // After the first chip of a repeat run nothing more starts, lines or not.
        {"自动编程已成功完成", {"--repeat"}, "good", 0, true},
        // At the ID step: the code is written, the steps after it are not; the
        // chip is bad, in its line as in its record, and its code goes to the next.
        {"正在写入目标芯片ID码....", {"--repeat"}, "bad", 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pressedAt);
        cli::SetInterrupted(false);
        const std::string folder = f.Path("ctrl-c-records");
        fs::remove_all(folder);
        std::vector<std::string> args = {"auto", f.Path("code.hex"), "--log-dir", folder, "--id", "3FF0:1022"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        cli::CliHooks hooks = pressAt(c.pressedAt);
        bool programmed = false;
        hooks.afterRun = [&](int, sim::InProcessProgrammer& p) {
            std::lock_guard lock(p.state.mutex);
            programmed = std::equal(f.code.begin(), f.code.end(), p.state.chip.cells.begin());
        };
        CliRun run = Cli(args, "\n\n\n", hooks);
        EXPECT_EQ(run.exit, 130);
        EXPECT_EQ(run.Result()["outcome"], "interrupted");
        EXPECT_EQ(run.Result()["bad"], c.bad);
        EXPECT_EQ(programmed, c.programmed);
        // The sequences that ran; one not started says so.
        int sequences = 0;
        for (const Json& s : run.Of("step"))
            if (s["step"] == "auto") sequences += s["outcome"] == "interrupted" && s["status"] == "" ? 0 : 1;
        EXPECT_EQ(sequences, c.bad || c.record == "good" ? 1 : 0);
        auto records = trusted::Records(folder);
        ASSERT_EQ(records.size(), 1u);  // one chip, also in a repeat run
        EXPECT_EQ(records[0][1], c.record);
        // The chip's line says what its record says, with its code.
        ASSERT_EQ(run.Of("chip").size(), 1u);
        const Json chip = run.Of("chip")[0];
        if (c.record == "good") {
            EXPECT_EQ(chip["exit"], 0) << chip;
            EXPECT_EQ(chip["id"], 1022) << chip;
            EXPECT_EQ(records[0][column::kIdCode], "1022");
            EXPECT_EQ(run.Result()["ids"], Json::array({1022}));
        } else {
            EXPECT_EQ(chip["exit"], c.record == "bad" ? 1 : 130) << chip;
            EXPECT_TRUE(chip["id"].is_null()) << chip;
        }
        EXPECT_EQ(run.Result()["good"], c.record == "good" ? 1 : 0);
    }
}


// What the command line reports, writes and records comes from what the
// units did, whatever a project file or a records folder says.
TEST(Cli, ProductionOutputCanBeTrusted) {
    using trusted::ChipId;
    using trusted::Records;
    Files& f = TestFiles();
    const std::string logs = f.Path("trusted-logs");
    fs::remove_all(logs);

    {
        SCOPED_TRACE("a project turns the ID code on for two units: one sequence, one record a chip");
        std::map<int, std::vector<uint32_t>> written;
        cli::CliHooks hooks;
        CliRun run = Cli({"--sim-units", "2", "--log-dir", logs, "auto", trusted::Project("id.pvx", "01000111"),
                          "--repeat"},
                         "\n\n", hooks);
        EXPECT_EQ(run.exit, 0);
        std::set<uint32_t> ids;
        for (const Json& chip : run.Of("chip")) {
            ASSERT_TRUE(chip["id"].is_number());
            EXPECT_TRUE(ids.insert(chip["id"].get<uint32_t>()).second) << chip;
        }
        EXPECT_EQ(ids, (std::set<uint32_t>{5001, 5002, 5003, 5004, 5005, 5006}));
        auto records = Records(logs);
        ASSERT_EQ(records.size(), 6u);
        std::set<std::string> recorded;
        for (const auto& r : records) {
            EXPECT_EQ(r[1], "good");
            EXPECT_TRUE(recorded.insert(r[8]).second) << r[8];
            // A simulated unit is marked, and its time is the real one.
            EXPECT_EQ(r[13].substr(r[13].size() - std::string("(模拟)").size()), "(模拟)");
            EXPECT_NE(r[0].substr(0, 10), "2025-03-03");
        }
    }
    {
        SCOPED_TRACE("--id over a project whose ID bit is off: the option holds, the codes are the chips'");
        std::map<int, uint32_t> chipIds;
        cli::CliHooks hooks;
        hooks.afterRun = [&](int unit, sim::InProcessProgrammer& p) {
            std::lock_guard lock(p.state.mutex);
            chipIds[unit] = ChipId(p.state, 0x3FF0);
        };
        CliRun run = Cli({"--sim-units", "2", "auto", trusted::Project("noid.pvx", "00000111"), "--id", "3FF0:7001"},
                         "", hooks);
        EXPECT_EQ(run.exit, 0);
        std::set<uint32_t> reported;
        for (const Json& chip : run.Of("chip")) reported.insert(chip["id"].get<uint32_t>());
        EXPECT_EQ(reported, (std::set<uint32_t>{7001, 7002}));
        EXPECT_EQ((std::set<uint32_t>{chipIds[1], chipIds[2]}), (std::set<uint32_t>{7001, 7002}));
    }
    {
        SCOPED_TRACE("--verify --yes over a project that turns verification off: the chip is verified");
        std::vector<int> log;
        CliRun run = Cli({"--yes", "--verify", "auto", trusted::Project("noverify.pvx", "00000110")}, "",
                         After([&](sim::DeviceState& s) {
                             for (const sim::LogEntry& e : s.log) log.push_back(e.opCode);
                         }));
        EXPECT_EQ(run.exit, 0);
        EXPECT_NE(std::find(log.begin(), log.end(), op::kVerify), log.end());
        for (const Json& box : run.Of("box")) EXPECT_EQ(box["text"].get<std::string>().find("[自动校验]"), std::string::npos);
    }
    {
        SCOPED_TRACE("--no-download trusts only the code this PC last downloaded there");
        std::vector<uint8_t> swapped = f.code;
        std::swap(swapped[0], swapped[1]);  // the same 16-bit sum
        std::string hex;
        for (uint16_t a = 0; a < swapped.size(); a += 16)
            hex += DataRecord(a, std::vector<uint8_t>(swapped.begin() + a, swapped.begin() + a + 16)) + "\n";
        f.Write("swapped.hex", hex + EndRecord() + "\n");
        auto holding = [](const std::vector<uint8_t>& code) {
            return [code](sim::DeviceState& s) { std::copy(code.begin(), code.end(), s.memory.begin()); };
        };
        bool programmed = true;
        auto untouched = [&](sim::DeviceState& s) { programmed = s.chip.cells[0] != 0xFF; };
        ASSERT_EQ(Cli({"download", f.Path("swapped.hex")}).exit, 0);
        CliRun other = Cli({"auto", f.Path("code.hex"), "--no-download"}, "", Before(holding(swapped), untouched));
        EXPECT_EQ(other.exit, 3);
        EXPECT_FALSE(programmed);
        CliRun same = Cli({"auto", f.Path("swapped.hex"), "--no-download"}, "", Before(holding(swapped), untouched));
        EXPECT_EQ(same.exit, 0);
        EXPECT_TRUE(programmed);
    }
    {
        SCOPED_TRACE("code that would not be programmed, or ID bytes over code: refused without --yes");
        struct Row {
            std::vector<std::string> args;
            int exit;
        };
        const Row rows[] = {
            {{"auto", f.Path("high.hex")}, 3},
            {{"download", f.Path("high.hex")}, 3},
            {{"checksum", "memory", f.Path("high.hex")}, 3},
            // Lost code is no question: --yes answers questions only.
            {{"auto", f.Path("high.hex"), "--yes"}, 3},
            {{"-y", "load", f.Path("high.hex")}, 3},
            {{"auto", f.Path("high.hex"), "--allow-lost-code"}, 0},
            {{"auto", f.Path("code.hex"), "--id", "0000:1"}, 3},
            {{"auto", f.Path("code.hex"), "--id", "0000:1", "--yes"}, 0},  // as asked: 000001 over the code
            {{"auto", f.Path("code.hex"), "--id", "0000:1", "--yes=id-over-code"}, 0},
            {{"auto", f.Path("code.hex"), "--id", "0000:1", "--yes=id-on-good-chip"}, 3},
            {{"auto", f.Path("high.hex"), "--yes=rom-size"}, 3},
        };
        for (const Row& row : rows) {
            bool programmed = false, toTheEnd = false;
            CliRun run = Cli(row.args, "", After([&](sim::DeviceState& s) {
                                 if (s.chip.cells.size() < f.code.size()) return;  // load: no chip
                                 programmed = s.chip.cells[0] != 0xFF;
                                 toTheEnd = s.chip.cells[0x0FFF] == f.code[0x0FFF];
                             }));
            EXPECT_EQ(run.exit, row.exit) << row.args[1];
            if (row.args[1] == "load") continue;
            EXPECT_EQ(programmed, row.exit != 3) << row.args[1];
            // All the code below 0x10000, and the call says some was left out.
            EXPECT_EQ(toTheEnd, row.exit != 3) << row.args[1];
            EXPECT_EQ(run.Result().value("lost_code_allowed", false),
                      std::find(row.args.begin(), row.args.end(), "--allow-lost-code") != row.args.end());
        }
    }
    {
        SCOPED_TRACE("every chip attempt leaves one record: a declined ROM question, a unit without its link");
        fs::remove_all(logs);
        CliRun declined = Cli({"--log-dir", logs, "--chip", "S3C9442", "auto", f.Path("code.hex")});
        EXPECT_EQ(declined.exit, 3);
        CliRun pulled = Cli({"--log-dir", logs, "auto", f.Path("code.hex"), "--repeat"}, "sim unplug\nsim plug\n");
        auto chips = pulled.Of("chip");
        ASSERT_EQ(chips.size(), 3u);
        EXPECT_EQ(chips[1]["exit"], 2);
        auto records = Records(logs);
        std::vector<std::string> results;
        for (const auto& r : records) results.push_back(r[1]);
        EXPECT_EQ(results, (std::vector<std::string>{"stopped", "good", "link", "good"}));
    }
}

namespace shared {

// A veldrix-cli of its own: its standard input a pipe, its standard output
// and error files.
class CliProcess {
public:
    CliProcess(std::vector<std::string> args, const std::string& out) : out_(out) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        const std::string err = out + ".err";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        args.insert(args.begin(), VELDRIX_BINARY_DIR "/veldrix-cli");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[0]);
        in_ = fds[1];
    }
    ~CliProcess() { Finish(); }
    bool Started() const { return pid_ > 0; }
    bool Send(std::string line) {
        line += "\n";
        for (size_t at = 0; at < line.size();) {
            ssize_t n = ::write(in_, line.data() + at, line.size() - at);
            if (n <= 0) return false;
            at += size_t(n);
        }
        return true;
    }
    // "q", the end of its input, and its exit status (-1: killed by a signal).
    int Finish() {
        if (in_ >= 0) {
            Send("q");
            ::close(in_);
            in_ = -1;
        }
        if (pid_ > 0) {
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            pid_ = -1;
            exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return exit_;
    }
    // A signal, as the terminal sends Ctrl-C; its input stays open.
    void Signal(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }
    // Its exit status without a further line (-1: killed by a signal, or
    // still running after the time-out, then killed).
    int Wait(int seconds) {
        for (int i = 0; i < seconds * 20 && pid_ > 0; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return exit_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (pid_ > 0) ::kill(pid_, SIGKILL);
        return -1;
    }
    std::vector<Json> Events() const {
        std::vector<Json> events;
        std::ifstream in(out_);
        for (std::string line; std::getline(in, line);) events.push_back(Json::parse(line));
        return events;
    }
    std::string Errors() const {
        std::ifstream in(out_ + ".err");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string out_;
    pid_t pid_ = -1;
    int in_ = -1;
    int exit_ = -1;
};

// A process gone early must fail the test, not kill it with SIGPIPE.
struct BrokenPipeIgnored {
    struct sigaction old = {};
    BrokenPipeIgnored() {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &old);
    }
    ~BrokenPipeIgnored() { sigaction(SIGPIPE, &old, nullptr); }
};

const char* ResultOfExit(int exit) {
    return exit == 0 ? "good" : exit == 1 ? "bad" : exit == 2 ? "link" : "stopped";
}

}  // namespace shared

// Two veldrix-cli processes and the window's core at the same time on one
// records folder, all three numbering from the same ID field, 200 chips in
// all with bad chips, chips that took a code and failed after it was written,
// sessions that never opened and runs stopped before any step. However their
// chips interleave: no ID code on two good chips, exactly one record a chip,
// each good chip's code the one its unit holds, and each program's counts
// what its records say.
TEST(Cli, TwoProcessesAndTheWindowShareOneRecordsFolder) {
    using shared::CliProcess;
    Files& f = TestFiles();
    const fs::path dir = f.dir / "shared";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string logs = (dir / "logs").string();
    // ID increment, SMART, read protection and verification; ID field 5000 at 3FF0.
    const std::string project = trusted::Project("shared.pvx", "01000111");
    shared::BrokenPipeIgnored brokenPipe;
    const auto started = std::chrono::steady_clock::now();

    // Each line is the next chip on both units of a process; some arm a fault
    // for one unit's chip first.
    constexpr int kLines = 39;  // 40 chips a unit
    auto lineOf = [](int process, int n) -> std::string {
        switch ((n + process) % 10) {
        case 3: return "sim 2:fault refuse 7 once";       // programming fails: bad, no ID code
        case 6: return "sim 1:fault noreply 7 ack once";  // a session that never opens: link
        case 8: return "sim 1:fault refuse 10 once";      // read protection fails after the ID code: bad
        case 9: return "sim 2:fault noreply 7 ack once";
        }
        return "";
    };
    // How each chip of a unit must end, by the lines above (chip 1 had none):
    // its result and whether it holds an ID code.
    auto planned = [&](int process, int unit) {
        std::vector<std::pair<std::string, bool>> chips{{"good", true}};
        for (int n = 1; n <= kLines; ++n) {
            std::string line = lineOf(process, n);
            if (line.rfind("sim " + std::to_string(unit) + ":", 0) != 0)
                chips.emplace_back("good", true);
            else if (line.find("noreply") != std::string::npos)
                chips.emplace_back("link", false);
            else
                chips.emplace_back("bad", line.find("refuse 10") != std::string::npos);
        }
        return chips;
    };
    const std::string settings = (dir / "settings").string();  // one PC: one settings folder
    auto processArgs = [&](const std::string& first, const std::string& second) {
        return std::vector<std::string>{"--sim",     "--sim-units", "2",  "--port", first,   "--port",
                                        second,      "--settings",  settings, "--log-dir", logs, "--json",
                                        "auto",      project,       "--repeat"};
    };
    std::vector<std::unique_ptr<CliProcess>> processes;
    processes.push_back(std::make_unique<CliProcess>(processArgs("COM11", "COM12"), (dir / "a.json").string()));
    processes.push_back(std::make_unique<CliProcess>(processArgs("COM21", "COM22"), (dir / "b.json").string()));
    for (auto& p : processes) ASSERT_TRUE(p->Started());

    // The window: its own chips, one after another, while the processes run.
    struct WindowRun {
        std::string result;
        std::string idCode;  // the code the chip holds, "" when none was written
    };
    std::vector<WindowRun> windowRuns;
    std::string windowPort;
    unsigned windowGood = 0, windowBad = 0, idQuestions = 0;
    {
        // Its records on the wall clock, in the day file the processes write.
        std::unique_ptr<Clock> wallClock = cli::MakeHostClock();
        ProductionApp app;
        app.ctx.recordsClock = wallClock.get();
        app.KeepRecords(logs);
        app.SelectChip("S3F9454");
        app.PutChip(sim::ChipKind::Mtp);
        app.Download(ProductionApp::Pattern(0x100));
        for (int box : {id::kAutoVerify, id::kAutoReadProtect, id::kEnableSmart, id::kAutoIdIncrement}) {
            app.ui.SetEnabled(box, true);
            app.ui.SetChecked(box, true);
        }
        for (int box : {id::kAutoBlankCheck, id::kAutoLdc, id::kAutoHwProtect}) app.ui.SetChecked(box, false);
        app.ui.SetChecked(id::kBuzzer, false);
        app.ui.SetText(id::kCounterCurrent, "5000");
        app.ui.SetText(id::kIdAddress, "0F00");
        windowPort = app.ctx.rememberedPort.Get();
        auto chipId = [&] {
            return app.Device([](sim::DeviceState& s) {
                const auto& c = s.chip.cells;
                return uint32_t(c[0x0F00]) << 16 | uint32_t(c[0x0F01]) << 8 | c[0x0F02];
            });
        };

        // The processes' records so far: the window keeps pace with them, so
        // that its chips are programmed while theirs are.
        auto processRecords = [&] {
            size_t count = 0;
            for (const auto& r : trusted::Records(logs)) count += r.back() != windowPort;
            return count;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (int n = 0; n < 40; ++n) {
            SCOPED_TRACE("window chip " + std::to_string(n + 1));
            // Each line is one chip on every process unit: four a round.
            while (processRecords() < size_t(4 * n) && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ASSERT_LT(std::chrono::steady_clock::now(), deadline)
                << "the processes stopped:\n" << processes[0]->Errors() << processes[1]->Errors();
            if (n < kLines) {
                for (int p = 0; p < 2; ++p) ASSERT_TRUE(processes[p]->Send(lineOf(p, n + 1))) << processes[p]->Errors();
            }
            app.PutChip(sim::ChipKind::Mtp);
            std::string expected = "good";
            switch (n % 10) {
            case 2:
                app.Device([](sim::DeviceState& s) { return s.Arm({sim::FaultKind::Refuse, 7}); });
                expected = "bad";
                break;
            case 5:
                app.Device([](sim::DeviceState& s) { return s.Arm({sim::FaultKind::NoReply, 7, sim::FaultStep::Ack}); });
                expected = "link";
                break;
            case 7:
                app.Device([](sim::DeviceState& s) { return s.Arm({sim::FaultKind::Refuse, 10}); });
                expected = "bad";
                break;
            case 9:  // the question about a switched-off option, declined
                app.ui.SetChecked(id::kAutoVerify, false);
                app.ui.QueueAnswer(MsgAnswer::No);
                expected = "stopped";
                break;
            }
            const size_t boxes = app.BoxCount();
            const std::string good = app.ui.GetText(id::kSuccessCount), bad = app.ui.GetText(id::kFailureCount);
            app.Click(id::kAutoProgram);
            app.Device([](sim::DeviceState& s) { return s.ClearFaults(), 0; });
            app.ui.SetChecked(id::kAutoVerify, true);
            EXPECT_EQ(app.ui.PendingAnswers(), 0);

            // A code another program put on a good chip meanwhile is asked
            // about; No (the default) stops the run, and the operator moves
            // the field past it.
            std::optional<uint32_t> askedAbout;
            const auto shown = app.ui.Boxes();
            for (size_t b = boxes; b < shown.size(); ++b) {
                const auto& box = shown[b];
                if (box.spec.text.find("已于") == std::string::npos) continue;
                EXPECT_EQ(box.answer, MsgAnswer::No);
                askedAbout = uint32_t(std::stoul(box.spec.text.substr(std::string("ID码 ").size())));
            }
            if (askedAbout) {
                ++idQuestions;
                // Only a chip that reached its ID step is asked about.
                EXPECT_TRUE(expected == "good" || n % 10 == 7) << expected;
                expected = "stopped";
                app.ui.SetText(id::kCounterCurrent, std::to_string(*askedAbout + 9));
            }
            const uint32_t held = chipId();
            WindowRun run{expected, held == 0xFFFFFF ? "" : std::to_string(held)};
            if (expected == "good") {
                EXPECT_EQ(app.Status(), "自动编程已成功完成");
                EXPECT_EQ(app.ui.GetText(id::kSuccessCount), std::to_string(++windowGood));
                EXPECT_EQ(app.ui.GetText(id::kCounterCurrent), run.idCode);
            } else if (expected == "bad") {
                EXPECT_EQ(app.ui.GetText(id::kFailureCount), std::to_string(++windowBad));
                EXPECT_EQ(run.idCode.empty(), n % 10 == 2);
            } else {
                EXPECT_EQ(app.Status(), expected == "link" ? kTextConnectionError : kTextAborted);
                EXPECT_EQ(run.idCode, "");
            }
            if (expected != "good") {
                EXPECT_EQ(app.ui.GetText(id::kSuccessCount), good);
            }
            if (expected != "bad") {
                EXPECT_EQ(app.ui.GetText(id::kFailureCount), bad);
            }
            windowRuns.push_back(run);
        }
    }
    std::vector<int> exits;
    for (auto& p : processes) exits.push_back(p->Finish());
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);

    // What each unit says it did, chip by chip, and its counts at the end.
    struct UnitSeen {
        std::vector<Json> chips;
        Json result;
    };
    std::map<std::string, UnitSeen> units;  // by record port
    size_t processChips = 0;
    for (int p = 0; p < 2; ++p) {
        SCOPED_TRACE("process " + std::to_string(p + 1));
        EXPECT_EQ(exits[size_t(p)], 2) << processes[size_t(p)]->Errors();  // the worst chip: a link failure
        std::vector<Json> events = processes[size_t(p)]->Events();
        std::vector<Json> summaries;
        for (const Json& e : events) {
            if (e["event"] == "chip") units[e["unit"].get<std::string>() + "(模拟)"].chips.push_back(e);
            if (e["event"] == "result") units[e["unit"].get<std::string>() + "(模拟)"].result = e;
            if (e["event"] == "summary") summaries.push_back(e);
            processChips += e["event"] == "chip";
        }
        ASSERT_EQ(summaries.size(), 1u);
        EXPECT_EQ(summaries[0]["exit"], exits[size_t(p)]);
        for (int u = 1; u <= 2; ++u) {
            const std::string name = "COM" + std::to_string(p + 1) + std::to_string(u);
            SCOPED_TRACE(name);
            const UnitSeen& seen = units[name + "(模拟)"];
            std::vector<std::string> results;
            for (const Json& chip : seen.chips) results.push_back(shared::ResultOfExit(chip.at("exit").get<int>()));
            std::vector<std::string> wanted;
            for (const auto& chip : planned(p, u)) wanted.push_back(chip.first);
            EXPECT_EQ(results, wanted);
            const Json& entry = summaries[0]["units"].at(size_t(u - 1));
            EXPECT_EQ(entry.at("unit"), name);
            for (const char* key : {"chips", "good", "bad"}) EXPECT_EQ(entry.at(key), seen.result.at(key)) << key;
        }
    }

    // Every record in the folder, by the unit that made it.
    const auto records = trusted::Records(logs);
    EXPECT_EQ(records.size(), windowRuns.size() + processChips);
    EXPECT_EQ(records.size(), 200u);
    std::map<std::string, std::vector<std::vector<std::string>>> byPort;
    std::map<uint32_t, std::string> goodCodes;  // code, the port of its chip
    for (const auto& r : records) {
        ASSERT_EQ(r.size(), size_t(column::kCount));
        byPort[r[column::kPort]].push_back(r);
        if (r[column::kResult] != "good") continue;
        ASSERT_FALSE(r[column::kIdCode].empty()) << r[column::kPort];
        const uint32_t code = uint32_t(std::stoul(r[column::kIdCode]));
        auto [at, fresh] = goodCodes.emplace(code, r[column::kPort]);
        EXPECT_TRUE(fresh) << "ID code " << code << " on good chips of " << at->second << " and " << r[column::kPort];
    }
    EXPECT_EQ(byPort.size(), 5u);
    {
        SCOPED_TRACE("the window");
        const auto& mine = byPort[windowPort];
        ASSERT_EQ(mine.size(), windowRuns.size());
        for (size_t i = 0; i < mine.size(); ++i) {
            EXPECT_EQ(mine[i][column::kResult], windowRuns[i].result) << "chip " << i + 1;
            EXPECT_EQ(mine[i][column::kIdCode], windowRuns[i].idCode) << "chip " << i + 1;
        }
        EXPECT_EQ(mine.back()[column::kSuccess], std::to_string(windowGood));
        EXPECT_EQ(mine.back()[column::kFailure], std::to_string(windowBad));
    }
    for (const auto& [port, seen] : units) {
        SCOPED_TRACE(port);
        const auto& mine = byPort[port];
        ASSERT_EQ(mine.size(), seen.chips.size());
        EXPECT_EQ(seen.result.at("chips"), seen.chips.size());
        const auto plan = planned(port[3] - '1', port[4] - '0');
        std::map<std::string, int> counts;
        for (size_t i = 0; i < mine.size(); ++i) {
            SCOPED_TRACE("chip " + std::to_string(i + 1));
            const Json& chip = seen.chips[i];
            const std::string& result = mine[i][column::kResult];
            ++counts[result];
            EXPECT_EQ(result, shared::ResultOfExit(chip.at("exit").get<int>()));
            // The code of a good chip is the one the unit wrote; a bad chip's record names the code it holds.
            if (result == "good") {
                EXPECT_EQ(mine[i][column::kIdCode], std::to_string(chip.at("id").get<uint32_t>()));
            }
            if (i < plan.size()) {
                EXPECT_EQ(!mine[i][column::kIdCode].empty(), plan[i].second);
            }
            EXPECT_EQ(mine[i][column::kSuccess], std::to_string(chip.at("good").get<int>()));
            EXPECT_EQ(mine[i][column::kFailure], std::to_string(chip.at("bad").get<int>()));
        }
        EXPECT_EQ(counts["good"] + counts["bad"] + counts["link"] + counts["stopped"], int(mine.size()));
        EXPECT_EQ(seen.result.at("good"), counts["good"]);
        EXPECT_EQ(seen.result.at("bad"), counts["bad"]);
        EXPECT_EQ(counts["stopped"], 0);
    }

    // Nothing waits and nothing stays held: a later start finds every good
    // chip's code taken and every other code free.
    for (const auto& e : fs::directory_iterator(logs))
        EXPECT_NE(e.path().filename().string().rfind("pending-", 0), 0u) << e.path();
    ASSERT_FALSE(goodCodes.empty());
    EXPECT_GE(goodCodes.begin()->first, 5001u);
    RecordFolder later(logs);
    EXPECT_EQ(later.Load().goodIdCodes, goodCodes.size());
    auto answer = [](IdGrant::Answer a) {
        return a == IdGrant::Answer::Granted ? "granted" : a == IdGrant::Answer::OnGoodChip ? "on a good chip" : "held";
    };
    for (uint32_t code = 5001; code <= goodCodes.rbegin()->first + 1; ++code) {
        IdGrant grant = later.TakeIdCode(code, false);
        EXPECT_STREQ(answer(grant.answer), goodCodes.count(code) ? "on a good chip" : "granted") << code;
        if (grant.answer == IdGrant::Answer::Granted) later.GiveBackIdCode(code);
    }
    std::cout << "[ shared   ] " << records.size() << " records, " << goodCodes.size() << " good chips (ID codes "
              << goodCodes.begin()->first << "-" << goodCodes.rbegin()->first << "), window asked about " << idQuestions
              << " codes, " << took.count() << " ms\n";
}

// The real Ctrl-C, SIGTERM (a service stopped) and SIGHUP (the terminal
// closed), to a program of a repeat run with ID codes, waiting for the next
// chip or in the middle of one: the chip ends by its rule, the summary comes,
// the exit status is 130; its line, its record and the counts agree, and no
// code stays held.
TEST(Cli, SignalsEndARepeatRunWithItsSummary) {
    shared::BrokenPipeIgnored noSigpipe;
    Files& f = TestFiles();
    const std::string out = f.Path("signal.out"), logs = f.Path("signal-logs");
    const struct {
        int signal;
        const char* says;
        bool midChip;  // sent while the second chip is programmed, not while waiting
    } cases[] = {{SIGINT, "已收到 Ctrl-C: 当前步骤完成后停止", false},
                 {SIGTERM, "已收到结束信号: 当前步骤完成后停止", false},
                 {SIGHUP, "已收到结束信号: 当前步骤完成后停止", false},
                 {SIGTERM, "已收到结束信号: 当前步骤完成后停止", true},
                 {SIGINT, "已收到 Ctrl-C: 当前步骤完成后停止", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(strsignal(c.signal)) + (c.midChip ? " during a chip" : " between chips"));
        fs::remove_all(logs);
        shared::CliProcess cli({"--sim", "--json", "--settings", f.Path("no-settings"), "--log-dir", logs, "auto",
                                f.Path("code.hex"), "--repeat", "--id", "3FF0:1001"},
                               out);
        ASSERT_TRUE(cli.Started());
        auto chips = [&] {
            int n = 0;
            std::ifstream in(out);
            for (std::string line; std::getline(in, line);) n += line.find("\"event\":\"chip\"") != std::string::npos;
            return n;
        };
        auto programming = [&] {
            std::ifstream in(out);
            int n = 0;
            for (std::string line; std::getline(in, line);) n += line.find("请稍候,正在编程芯片") != std::string::npos;
            return n;
        };
        for (int i = 0; i < 200 && chips() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(chips(), 1);
        if (c.midChip) {
            ASSERT_TRUE(cli.Send(""));
            for (int i = 0; i < 400 && programming() < 2 && chips() < 2; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        cli.Signal(c.signal);
        EXPECT_EQ(cli.Wait(10), 130) << cli.Errors();
        std::vector<Json> events = cli.Events();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back()["event"], "result");
        EXPECT_EQ(events.back()["outcome"], "interrupted");
        EXPECT_NE(cli.Errors().find(c.says), std::string::npos) << cli.Errors();
        // One outcome a chip: its line, its record and the counts.
        std::vector<Json> chipEvents;
        for (const Json& e : events)
            if (e["event"] == "chip") chipEvents.push_back(e);
        auto records = trusted::Records(logs);
        ASSERT_EQ(records.size(), chipEvents.size());
        int good = 0;
        for (size_t i = 0; i < records.size(); ++i) {
            const Json& chip = chipEvents[i];
            const std::string result = records[i][column::kResult];
            EXPECT_EQ(result, shared::ResultOfExit(chip["exit"].get<int>())) << chip;
            if (result == "good") {
                ++good;
                EXPECT_EQ(records[i][column::kIdCode], std::to_string(chip["id"].get<uint32_t>()));
            } else {
                EXPECT_TRUE(chip["id"].is_null()) << chip;
            }
        }
        EXPECT_EQ(events.back()["good"], good);
        EXPECT_EQ(events.back()["ids"].size(), size_t(good));
        // Nothing held: the next code after the good ones is free.
        RecordFolder later(logs);
        later.Load();
        IdGrant next = later.TakeIdCode(uint32_t(1001 + good), false);
        EXPECT_EQ(next.answer, IdGrant::Answer::Granted) << 1001 + good;
        if (next.answer == IdGrant::Answer::Granted) later.GiveBackIdCode(uint32_t(1001 + good));
    }
    fs::remove_all(logs);
}

}  // namespace
}  // namespace veldrix::test
