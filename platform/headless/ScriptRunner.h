#pragma once
// veldrix-headless: the application core on the in-memory window, driven by a
// line script, against the in-process simulated programmer on virtual time or
// a real serial port on the real clock.
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "state/AppContext.h"
#include "platform/headless/HeadlessUi.h"
#include "link/TracingPort.h"

namespace veldrix {

namespace sim {
class InProcessProgrammer;
class VirtualTime;
}  // namespace sim
class Core;
class ProductionRecords;

struct RunnerOptions {
    std::string port;          // empty: the simulated programmer
    std::string installDir;    // holds samlist.txt
    std::string settingsFile;  // empty: settings in memory
    std::string logDir;        // the production records' folder; empty: none kept
    // Or the records on a database server: its connection string (a secret)
    // and the name texts give it.
    std::string recordsConnection, recordsName;
    std::string trace;  // the wire trace's file; empty: none
};

class ScriptRunner {
public:
    ScriptRunner(const RunnerOptions& options, std::ostream& out);
    ~ScriptRunner();

    // 0 when every expectation held, 1 at the first that failed, 2 for a
    // script error.
    int Run(std::istream& script);
    // One line; -1 to go on, else the exit status.
    int RunLine(const std::string& line, int lineNo);

    AppContext& Context() { return *ctx_; }
    HeadlessUi& Window() { return ui_; }
    sim::InProcessProgrammer* Programmer() { return programmer_.get(); }
    Clock& Time() { return *clock_; }

private:
    int Fail(int lineNo, const std::string& what);
    int ScriptError(int lineNo, const std::string& what);
    // One script command: its row of the table below.
    int Command(const std::string& verb, const std::string& rest, int lineNo);
    struct Verb;
    struct Args;
    // The script commands, one row each.
    static const std::vector<Verb>& Verbs();
    void Click(int id);
    void Key(int id, const std::string& key);
    void DoubleClick(int id);

    std::ostream& out_;
    HeadlessUi ui_;
    std::unique_ptr<sim::VirtualTime> virtualTime_;
    std::unique_ptr<sim::InProcessProgrammer> programmer_;
    std::unique_ptr<Clock> realClock_;
    std::unique_ptr<Port> realPort_;
    std::unique_ptr<TracingPort> tracingPort_;
    std::unique_ptr<PortDirectory> realDirectory_;
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<ProductionRecords> records_;
    Clock* clock_ = nullptr;
    std::unique_ptr<Core> core_;
    AppContext* ctx_ = nullptr;  // the core's
    bool closed_ = false;
};

}  // namespace veldrix
