// veldrix-cli: the programmer from the command line (see README "Command line").
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Interrupt.h"

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include "platform/win32/Text.h"

int wmain(int argc, wchar_t** argv) {
    // Texts are UTF-8 inside; the console shows them as such.
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(veldrix::Narrow(argv[i]));
    bool terminal = _isatty(_fileno(stderr)) != 0;
    veldrix::cli::InstallInterruptHandler();
    return veldrix::cli::RunCli(args, std::cin, std::cout, std::cerr, terminal);
}
#else
#include <unistd.h>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    veldrix::cli::InstallInterruptHandler();
    return veldrix::cli::RunCli(args, std::cin, std::cout, std::cerr, isatty(2) != 0);
}
#endif
