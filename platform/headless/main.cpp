// veldrix-headless [--port NAME] [--install-dir DIR] [--settings FILE] [--trace FILE]
//                  [--log-dir DIR | --records-dsn NAME | --records-odbc-file FILE] SCRIPT
// veldrix-headless --list-ports: the PL2303 adapters' ports, in the order a
// search tries them; exit status 1 when there is none.
#include <fstream>
#include <iostream>

#include "platform/headless/ScriptRunner.h"
#include "platform/odbc/Odbc.h"
#include "seams/Files.h"
#include "platform/posix/LinuxPortDirectory.h"

namespace {
const char* const kUsage =
    "usage: veldrix-headless [--port NAME] [--install-dir DIR] [--settings FILE] [--trace FILE]\n"
    "                        [--log-dir DIR | --records-dsn NAME | --records-odbc-file FILE] SCRIPT\n";
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
    std::string script, dsn, odbcFile;
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
        else if (a == "--trace") ok = value(options.trace);
        else if (a == "--records-dsn") ok = value(dsn);
        else if (a == "--records-odbc-file") ok = value(odbcFile);
        else if (!a.empty() && a[0] == '-' && a != "-") ok = false;
        else script = a;
        if (!ok) {
            std::cerr << kUsage;
            return 2;
        }
    }
    if (script.empty() || int(!options.logDir.empty()) + int(!dsn.empty()) + int(!odbcFile.empty()) > 1) {
        std::cerr << kUsage;
        return 2;
    }
    if (!dsn.empty()) {
        options.recordsConnection = veldrix::odbc::DsnConnection(dsn);
        options.recordsName = dsn;
    } else if (!odbcFile.empty()) {
        // The connection string on the file's first line; texts name the file, never the string.
        std::string text;
        if (!veldrix::ReadFileBytes(odbcFile, text) || text.substr(0, text.find_first_of("\r\n")).empty()) {
            std::cerr << "veldrix-headless: cannot read a connection string from " << odbcFile << '\n';
            return 2;
        }
        options.recordsConnection = text.substr(0, text.find_first_of("\r\n"));
        options.recordsName = odbcFile;
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
