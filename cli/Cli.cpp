#include "cli/Cli.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <streambuf>
#include <thread>

#include "cli/Commands.h"
#include "cli/Host.h"
#include "cli/IdSequence.h"
#include "cli/Interrupt.h"
#include "cli/Text.h"
#include "cli/Options.h"
#include "cli/Report.h"
#include "cli/Output.h"
#include "cli/Secrets.h"
#include "cli/Subcommands.h"
#include "cli/Unit.h"
#include "code/DownloadMemo.h"
#include "platform/odbc/Odbc.h"
#include "platform/odbc/RecordsFactory.h"
#include "cli/BuildInfo.h"
#include "seams/Platform.h"
#include "link/PortDiscovery.h"
#include "link/TracingPort.h"
#include "sim/InProcessProgrammer.h"
#include "sim/VirtualTime.h"

namespace veldrix::cli {

namespace {

// Every unit's part at once, each on a thread of its own. On virtual time the
// threads are counted in before any of them runs, so none starts late.
void RunParallel(sim::VirtualTime* time, const std::vector<size_t>& which, const std::function<void(size_t)>& part) {
    std::vector<std::thread> threads;
    {
        std::optional<sim::VirtualTime::Participation> hold;
        if (time) hold.emplace(*time);
        for (size_t i : which) {
            threads.emplace_back([time, i, &part] {
                // Counted in already (Expect below): Join, not a Participation.
                if (time) time->Join();
                part(i);
                if (time) time->Leave();
            });
            if (time) time->Expect(threads.back().get_id());
        }
    }
    for (std::thread& t : threads) t.join();
}

int RunPorts(const Options& o, Output& output, std::vector<std::unique_ptr<sim::InProcessProgrammer>>& sims,
             sim::VirtualTime* time, Clock& clock, SettingsStore& settings) {
    struct Entry {
        HostAdapter adapter;
        Port* port;
        PortDirectory* directory;
    };
    std::vector<Entry> entries;
    std::vector<std::unique_ptr<Port>> ports;
    std::vector<std::unique_ptr<PortDirectory>> directories;
    if (!sims.empty()) {
        for (auto& s : sims)
            for (const sim::SimAdapter& a : s->adapters.adapters)
                entries.push_back({{a.portName, "\\Device\\ProlificSerial" + std::to_string(a.valueIndex), "067B:2303", true},
                                   &s->port, &s->adapters});
    } else {
        for (const HostAdapter& a : ListHostAdapters()) {
            ports.push_back(MakeHostPort());
            directories.push_back(MakeHostDirectory(a.port));
            entries.push_back({a, ports.back().get(), directories.back().get()});
        }
    }
    if (entries.empty()) output.Line("", "未找到USB转串口适配器", Stream::Message);
    int answered = 0;
    std::optional<sim::VirtualTime::Participation> part;
    if (time) part.emplace(*time);
    for (const Entry& e : entries) {
        UnitLinks links;
        links.label = e.adapter.port;
        links.fixedPort = true;
        links.clock = &clock;
        links.port = e.port;
        links.directory = e.directory;
        links.settings = &settings;
        Unit probe(links, o, output);
        bool programmer = OpenPort(probe.Context(), e.adapter.port);
        e.port->Close();
        answered += programmer;
        output.Emit("port", "", 0,
                    Json{{"port", e.adapter.port},
                         {"device", e.adapter.device},
                         {"usb", e.adapter.usb.empty() ? Json(nullptr) : Json(e.adapter.usb)},
                         {"pl2303", e.adapter.pl2303},
                         {"programmer", programmer}},
                    Padded(e.adapter.port, 16) + Padded(e.adapter.device, 28) + Padded(e.adapter.usb, 11) +
                        Padded(e.adapter.pl2303 ? "PL2303" : "", 8) + (programmer ? "编程器已应答" : "无应答"));
    }
    const int exit = answered > 0 ? kExitOk : kExitLink;
    const std::string status = entries.empty() ? "未找到USB转串口适配器" : answered > 0 ? "" : "没有编程器应答";
    output.Emit("result", "", 0,
                Json{{"command", "ports"}, {"exit", exit}, {"outcome", ExitWord(exit)}, {"status", status},
                     {"ports", entries.size()}, {"programmers", answered}},
                std::string("结果: ") + OutcomeText(exit));
    return exit;
}

// A --port that names a real device cannot stand for a simulated unit: a
// path, or COMn of an adapter that is present.
std::string DeviceNamedForSim(const Options& o) {
    if (!o.sim) return {};
    std::vector<HostAdapter> present;
    bool listed = false;
    for (const std::string& p : o.ports) {
        if (p.find('/') != std::string::npos || p.find('\\') != std::string::npos) return p;
        if (!listed) {
            present = ListHostAdapters();
            listed = true;
        }
        for (const HostAdapter& a : present)
            if (a.port == p) return p;
    }
    return {};
}

// The names of the simulated units: the ports given, then COM1, COM2, ...
std::vector<std::string> SimNames(const Options& o) {
    size_t count = size_t(std::max<int>({o.simUnits, int(o.ports.size()), 1}));
    std::vector<std::string> names = o.ports;
    for (int n = 1; names.size() < count; ++n) {
        std::string name = "COM" + std::to_string(n);
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    return names;
}

void Summary(Output& output, const Options& o, std::vector<std::unique_ptr<Unit>>& units,
             const std::vector<UnitRecord>& records, int worst, double ms) {
    Json list = Json::array();
    // The port column as wide as its widest name, whatever the port is called.
    size_t portColumn = 12;
    for (const auto& unit : units) portColumn = std::max(portColumn, DisplayWidth(unit->Label()) + 2);
    std::string table = Padded("端口", portColumn) + Padded("结果", 16) + Padded("片数", 6) + Padded("良品", 6) +
                        Padded("不良品", 8) + "ID码\n";
    for (size_t i = 0; i < units.size(); ++i) {
        AppContext& ctx = units[i]->Context();
        const UnitRecord& r = records[i];
        Json entry{{"unit", units[i]->Label()}, {"exit", r.exit}, {"outcome", ExitWord(r.exit)}};
        if (o.command == "auto") {
            entry["chips"] = r.chips;
            entry["good"] = ctx.successCount;
            entry["bad"] = ctx.failureCount;
            if (o.id) entry["ids"] = r.ids;
        }
        list.push_back(entry);
        table += Padded(units[i]->Label(), portColumn) + Padded(OutcomeText(r.exit), 16);
        if (o.command == "auto")
            table += Padded(std::to_string(r.chips), 6) + Padded(std::to_string(ctx.successCount), 6) +
                     Padded(std::to_string(ctx.failureCount), 8) + IdList(r.ids);
        table += "\n";
    }
    table += "退出状态: " + std::to_string(worst);
    output.Emit("summary", "", ms, Json{{"exit", worst}, {"outcome", ExitWord(worst)}, {"units", list}}, table);
}

// Standard output as the call writes it, remembering the system's words for
// the first write that failed: data that did not arrive is no success.
class CheckedOut : public std::streambuf {
public:
    explicit CheckedOut(std::streambuf* target) : target_(target) {}
    const std::string& Problem() const { return problem_; }
    bool PipeClosed() const { return pipeClosed_; }

protected:
    int overflow(int c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        char ch = char(c);
        return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        errno = 0;
        std::streamsize done = target_ ? target_->sputn(s, n) : 0;
        if (done != n) Failed();
        return done;
    }
    int sync() override {
        errno = 0;
        if (target_ && target_->pubsync() == 0) return 0;
        Failed();
        return -1;
    }

private:
    void Failed() {
        if (!problem_.empty()) return;
#ifdef EPIPE
        pipeClosed_ = errno == EPIPE;
#endif
        problem_ = errno != 0 ? std::strerror(errno) : "写入失败";
    }
    std::streambuf* target_;
    std::string problem_;
    bool pipeClosed_ = false;
};

int RunCall(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
            bool terminal, const CliHooks& hooks);

}  // namespace

int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
           bool terminal, const CliHooks& hooks) {
    CheckedOut checked(out.rdbuf());
    std::ostream data(&checked);
    int exit = RunCall(args, in, data, err, terminal, hooks);
    data.flush();
    // A reader that went away wanted no more; any other failure lost data.
    if (!checked.Problem().empty() && !checked.PipeClosed()) {
        err << "veldrix-cli: 无法写入标准输出: " << checked.Problem() << '\n' << std::flush;
        return kExitUsage;
    }
    return exit;
}

namespace {

int RunCall(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
            bool terminal, const CliHooks& hooks) {
    ParseResult parsed = ParseCommandLine(args);
    if (parsed.exit >= 0) {
        (parsed.exit == kExitOk ? out : err) << parsed.message << std::flush;
        return parsed.exit;
    }
    const Options& o = parsed.options;
    const Subcommand& sub = *FindSubcommand(o.command);  // the parser takes only names of the table
    if (std::string device = DeviceNamedForSim(o); !device.empty()) {
        err << "veldrix-cli: --port " << device
            << " 是真实的端口, 不能用作模拟编程器的名称 (--sim 时 --port 只给模拟编程器命名, 如 COM7)\n";
        return kExitUsage;
    }

    // A numbered --sim-do for a unit the call does not have would be lost without a word.
    if (o.sim) {
        const size_t count = SimNames(o).size();
        for (const std::string& spec : o.simDo) {
            size_t colon = spec.find(':');
            if (colon == std::string::npos || colon == 0 || spec.find_first_not_of("0123456789") != colon) continue;
            if (std::stoul(spec.substr(0, std::min<size_t>(colon, 6))) <= count) continue;
            err << "veldrix-cli: --sim-do " << spec << ": 没有第 " << spec.substr(0, colon) << " 台模拟编程器 (共 "
                << count << " 台, 见 --sim-units)\n";
            return kExitUsage;
        }
    }
    std::string error;
    std::unique_ptr<SettingsStore> settings = MakeHostSettings(o.settingsFile, o.installDir, error);
    if (!settings) {
        err << "veldrix-cli: " << error << '\n';
        return kExitUsage;
    }
    if (sub.scope == Scope::Records) {
        OutputStyle style;
        style.json = o.json;
        style.quiet = o.quiet;
        Output output(out, err, style);
        if (hooks.onEvent) output.Observe(hooks.onEvent);
        return RunReport(o, *settings, output);
    }
    // The window's records, shared by every unit; a simulated run keeps none
    // unless asked, so its chips never count as produced ones. Without a
    // folder the codes of this call still come from one authority.
    std::unique_ptr<ProductionRecords> store;
    error.clear();
    std::optional<RecordsDatabase> database = RecordsDatabaseOf(o, error);
    if (!error.empty()) {
        err << "veldrix-cli: " << error << '\n';
        return kExitUsage;
    }
    RecordsPlace place;
    if (database) {
        place.connection = database->connection;
        place.sourceName = database->name;
    } else {
        place.folder = !o.logDir.empty() ? o.logDir : o.sim ? "" : DefaultRecordsFolder(*settings);
    }
    place.waitFolder = ProgramStateFolder(o.settingsFile);
    place.station = ComputerName();
    place.version = kBuildVersion;
    BuiltRecords built = MakeRecords(place);
    store = std::move(built.store);
    const bool keepsRecords = built.kept;
    // Simulated units keep a list of their own: theirs must never vouch for a real unit's memory.
    DownloadMemo downloads(JoinPath(ProgramStateFolder(o.settingsFile), o.sim ? "downloads-sim" : "downloads"));
    Secrets secrets(o.passwordFile, o.newPasswordFile, terminal);

    // The programmers: simulated on virtual time, or the ports given (none:
    // the window's own search).
    std::vector<std::string> names = o.sim ? SimNames(o) : o.ports;
    if (names.empty()) names.push_back("");
    if (sub.scope == Scope::Window) names.resize(1);
    std::unique_ptr<sim::VirtualTime> time;
    std::vector<std::unique_ptr<sim::InProcessProgrammer>> sims;
    std::unique_ptr<Clock> hostClock;
    std::unique_ptr<Clock> wallClock;  // the records' time on simulated units
    std::vector<std::unique_ptr<Port>> ports;
    std::vector<std::unique_ptr<PortDirectory>> directories;
    Clock* clock;
    if (o.sim) {
        time = std::make_unique<sim::VirtualTime>();
        clock = time.get();
        wallClock = MakeHostClock();
        for (size_t i = 0; i < names.size(); ++i) {
            if (hooks.unitSide)
                sims.push_back(std::make_unique<sim::InProcessProgrammer>(*time, hooks.unitSide(int(i) + 1)));
            else
                sims.push_back(std::make_unique<sim::InProcessProgrammer>(*time));
            sims.back()->adapters.adapters[0].portName = names[i];
        }
    } else {
        hostClock = MakeHostClock();
        clock = hostClock.get();
        for (const std::string& name : names) {
            ports.push_back(MakeHostPort());
            directories.push_back(MakeHostDirectory(name));
        }
    }

    OutputStyle style;
    style.json = o.json;
    style.verbose = o.verbose;
    style.quiet = o.quiet;
    style.progressBar = terminal;
    style.prefix = names.size() > 1;
    style.dataOnStdout = o.command == "read" && o.file == "-";
    Output output(out, err, style);
    if (hooks.onEvent) output.Observe(hooks.onEvent);
    if (sub.scope == Scope::Adapters) return RunPorts(o, output, sims, time.get(), *clock, *settings);

    if (hooks.beforeRun)
        for (size_t i = 0; i < sims.size(); ++i) hooks.beforeRun(int(i) + 1, *sims[i]);
    const uint64_t epoch = clock->NowMicros();
    std::vector<std::unique_ptr<TracingPort>> traces;
    std::vector<std::unique_ptr<Unit>> units;
    for (size_t i = 0; i < names.size(); ++i) {
        UnitLinks links;
        links.label = names[i];
        links.number = int(i) + 1;
        links.fixedPort = !names[i].empty();
        links.clock = clock;
        links.port = o.sim ? static_cast<Port*>(&sims[i]->port) : ports[i].get();
        if (!o.trace.empty()) {
            std::string path = i == 0 ? o.trace : o.trace + "." + std::to_string(i + 1);
            traces.push_back(std::make_unique<TracingPort>(*links.port, *clock, TraceFile::Single(path)));
            links.port = traces.back().get();
        }
        links.directory = o.sim ? static_cast<PortDirectory*>(&sims[i]->adapters) : directories[i].get();
        links.settings = settings.get();
        links.sim = o.sim ? sims[i].get() : nullptr;
        links.secrets = &secrets;
        links.records = store.get();
        links.downloads = &downloads;
        if (o.sim && keepsRecords) {
            links.recordsClock = wallClock.get();
            links.recordsPortNote = "(模拟)";
        }
        links.epochMicros = epoch;
        units.push_back(std::make_unique<Unit>(links, o, output));
    }
    std::vector<UnitRecord> records(units.size());
    std::unique_ptr<SharedIds> ids;
    if (o.command == "auto")
        ids = std::make_unique<SharedIds>(o.id ? std::optional<uint32_t>(o.id->first) : std::nullopt,
                                          o.id ? o.id->last : std::nullopt, [&store](uint32_t code) {
                                              return store->IdCodeOnGoodChip(code).has_value();
                                          });

    std::vector<size_t> all;
    for (size_t i = 0; i < units.size(); ++i) all.push_back(i);
    RunParallel(time.get(), all, [&](size_t i) {
        Unit& unit = *units[i];
        UnitRecord& record = records[i];
        if (sub.scope == Scope::Window) {
            record.exit = RunCommand(unit, o, ids.get(), record);
            return;
        }
        if ((record.exit = PrepareUnit(unit, o))) {
            // A unit without a link tries again with the next chip; for the
            // sequence that was a chip tried.
            if (record.exit == kExitUsage) record.stopped = true;
            else if (o.command == "auto") RecordChipWithoutLink(unit, record);
            return;
        }
        record.exit = RunCommand(unit, o, ids.get(), record);
    });

    // Chip after chip: each line of standard input starts the next one on
    // every unit still running.
    while (o.repeat) {
        std::vector<size_t> running;
        for (size_t i = 0; i < units.size(); ++i)
            if (!records[i].stopped) running.push_back(i);
        if (running.empty() || Interrupted()) break;
        if (terminal) output.Note("放入下一片芯片后按回车继续, 输入 q 结束");
        std::string line;
        // A Ctrl-C while waiting ends the wait (the read is not restarted).
        if (!std::getline(in, line) || Interrupted()) break;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "q" || line == "quit") break;
        if (o.sim) {
            // A handler's next chip; "sim COMMAND" lines change it.
            for (size_t i : running) FreshSimChip(*units[i]);
            if (line.rfind("sim ", 0) == 0) {
                for (size_t i : running) {
                    std::string command, problem;
                    if (SimCommandFor(line.substr(4), units[i]->Number(), command) && !SimDo(*units[i], command, problem))
                        output.Note("sim: " + problem);
                }
            }
        }
        RunParallel(time.get(), running, [&](size_t i) {
            records[i].exit = Worse(records[i].exit, RunChip(*units[i], o, ids.get(), records[i]));
        });
    }

    output.Finish();
    // Interrupted: whatever the units did, the call ends as interrupted.
    if (Interrupted())
        for (UnitRecord& r : records) r.exit = Worse(r.exit, kExitInterrupted);
    int worst = kExitOk;
    for (size_t i = 0; i < units.size(); ++i) {
        ReportUnit(*units[i], o, records[i]);
        worst = Worse(worst, records[i].exit);
    }
    if (units.size() > 1) Summary(output, o, units, records, worst, double(clock->NowMicros() - epoch) / 1000.0);
    if (hooks.afterRun)
        for (size_t i = 0; i < sims.size(); ++i) hooks.afterRun(int(i) + 1, *sims[i]);
    units.clear();
    return worst;
}

}  // namespace

}  // namespace veldrix::cli
