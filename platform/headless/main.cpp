// veldrix-headless [--port NAME] [--install-dir DIR] [--settings FILE] [--log-dir DIR] SCRIPT
// veldrix-headless --list-ports: the PL2303 adapters' ports, in the order a
// search tries them; exit status 1 when there is none.
#include <fstream>
#include <iostream>

#include "platform/headless/ScriptRunner.h"
#include "platform/posix/LinuxPortDirectory.h"

namespace {
const char* const kUsage =
    "usage: veldrix-headless [--port NAME] [--install-dir DIR] [--settings FILE] [--log-dir DIR] SCRIPT\n";
}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--list-ports") {
        veldrix::LinuxPortDirectory ports;
        bool any = false;
        for (int n = 0; n < 256; ++n)
            if (auto name = ports.Lookup("\\Device\\ProlificSerial" + std::to_string(n))) {
                std::cout << *name << '\n';
                any = true;
            }
        return any ? 0 : 1;
    }
    veldrix::RunnerOptions options;
    std::string script;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        bool ok = true;
        if (a == "--port") ok = value(options.port);
        else if (a == "--install-dir") ok = value(options.installDir);
        else if (a == "--settings") ok = value(options.settingsFile);
        else if (a == "--log-dir") ok = value(options.logDir);
        else if (!a.empty() && a[0] == '-' && a != "-") ok = false;
        else script = a;
        if (!ok) {
            std::cerr << kUsage;
            return 2;
        }
    }
    if (script.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    std::ifstream file;
    std::istream* in = &std::cin;
    if (script != "-") {
        file.open(script);
        if (!file) {
            std::cerr << "veldrix-headless: cannot read " << script << '\n';
            return 2;
        }
        in = &file;
    }
    veldrix::ScriptRunner runner(options, std::cout);
    return runner.Run(*in);
}
