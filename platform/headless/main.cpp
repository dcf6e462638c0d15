// veldrix-headless [--port NAME] [--install-dir DIR] [--settings FILE] [--log-dir DIR] SCRIPT
#include <fstream>
#include <iostream>

#include "platform/headless/ScriptRunner.h"

namespace {
const char* const kUsage =
    "usage: veldrix-headless [--port NAME] [--install-dir DIR] [--settings FILE] [--log-dir DIR] SCRIPT\n";
}  // namespace

int main(int argc, char** argv) {
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
