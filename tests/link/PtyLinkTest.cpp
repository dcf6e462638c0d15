#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/Core.h"
#include "state/ControlIds.h"
#include "state/AppContext.h"
#include "app/MainWindow.h"
#include "link/PortDiscovery.h"
#include "link/Worker.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/MemorySettings.h"
#include "platform/posix/LinuxPortDirectory.h"
#include "platform/posix/PosixPort.h"
#include "platform/posix/RealClock.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

// veldrix-sim started as its own process; its first output line is the
// pseudo-terminal to open. Type() writes to its standard input.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args = {}) {
        int out[2], in[2];
        if (pipe(out) != 0 || pipe(in) != 0) return;
        args.insert(args.begin(), {"veldrix-sim", "--fast"});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(out[1], 2);
            dup2(in[0], 0);
            close(out[0]);
            close(in[1]);
            execv(VELDRIX_BINARY_DIR "/veldrix-sim", argv.data());
            _exit(127);
        }
        close(out[1]);
        close(in[0]);
        input_ = in[1];
        FILE* f = fdopen(out[0], "r");
        char line[256] = {};
        if (f && std::fgets(line, sizeof line, f)) path_ = line;
        while (!path_.empty() && (path_.back() == '\n' || path_.back() == '\r')) path_.pop_back();
        output_ = f;
    }
    ~SimProcess() {
        if (input_ >= 0) close(input_);
        if (output_) std::fclose(output_);
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    const std::string& Path() const { return path_; }
    // One command line on the standard input; the line it answers with.
    std::string Type(const std::string& command) {
        std::string text = command + "\n";
        if (write(input_, text.data(), text.size()) != ssize_t(text.size())) return "(not written)";
        char line[256] = {};
        if (!output_ || !std::fgets(line, sizeof line, output_)) return "(no answer)";
        std::string answer = line;
        while (!answer.empty() && answer.back() == '\n') answer.pop_back();
        return answer;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    FILE* output_ = nullptr;
    std::string path_;
};

// The window on the real clock and a real port, finding its adapter at path.
struct LinkedWindow {
    explicit LinkedWindow(const std::string& path) : ports(path) {
        settings.values["setup"] = VELDRIX_SOURCE_DIR "/resources";
        InitMainWindow(ctx);
    }
    HeadlessUi ui;
    RealClock clock;
    MemorySettings settings;
    PosixPort port;
    LinuxPortDirectory ports;
    Core core{ui, clock, settings, port, ports, Worker::Mode::Inline};
    AppContext& ctx = core.ctx;
    Worker& worker = core.worker;
};

TEST(PseudoTerminalLink, PosixPortFindsTheSimulatorAndReadsItsInformation) {
    SimProcess sim;
    ASSERT_FALSE(sim.Path().empty()) << "veldrix-sim printed no path";
    LinkedWindow w(sim.Path());
    HeadlessUi& ui = w.ui;
    AppContext& ctx = w.ctx;
    OnTimerTick(ctx);

    EXPECT_EQ(ui.GetText(id::kStatusLine), "OK, 已检测到 VELDRIX 连接在端口 USB TO " + [&] {
        std::string up = sim.Path();
        for (char& c : up) c = char(std::toupper(static_cast<unsigned char>(c)));
        return up;
    }());
    ASSERT_EQ(ctx.ConnectedFlag, 1);
    EXPECT_TRUE(IsPortStillPresent(ctx));

    OnFunctionKey(ctx, kKeyF7);
    ASSERT_TRUE(ui.LastBox());
    EXPECT_EQ(ctx.LinkErrorFlag, 0);
    EXPECT_NE(ui.LastBox()->spec.text.find("编程器内置软件版本: VELDRIX"), std::string::npos) << ui.LastBox()->spec.text;
}

TEST(PseudoTerminalLink, LineModeParsing) {
    LineMode m;
    ASSERT_TRUE(ParseLineMode("baud=38400 parity=E data=8 stop=1", m));
    EXPECT_EQ(m.baud, 38400);
    EXPECT_EQ(m.parity, 'E');
    EXPECT_FALSE(ParseLineMode("baud=38401 parity=E data=8 stop=1", m));
    EXPECT_FALSE(ParseLineMode("baud=38400 parity=X", m));
    EXPECT_FALSE(ParseLineMode("speed=38400", m));
}

// The unit takes the runner's sim commands from a script before it serves and
// from its standard input while it serves; unplugged, it is silent and its
// link is gone, as a pulled adapter's device is.
TEST(PseudoTerminalLink, TheUnitTakesCommandsWhileItServes) {
    test::TempDir dir;
    std::string link = dir.File("com1");
    SimProcess sim({"--link", link, "--script", dir.Write("unit.vdx", "# switched off\nsim off\n")});
    ASSERT_FALSE(sim.Path().empty()) << "veldrix-sim printed no path";
    LinkedWindow w(link);
    HeadlessUi& ui = w.ui;
    AppContext& ctx = w.ctx;

    ConnectProgrammer(ctx);
    EXPECT_EQ(ctx.ConnectedFlag, 0) << "a unit switched off by the script answered";
    EXPECT_EQ(sim.Type("bogus"), "veldrix-sim: unknown sim command bogus");
    EXPECT_EQ(sim.Type("on"), "ok");
    ConnectProgrammer(ctx);
    ASSERT_EQ(ctx.ConnectedFlag, 1) << ui.GetText(id::kStatusLine);

    EXPECT_EQ(sim.Type("sim unplug"), "ok");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_FALSE(IsPortStillPresent(ctx));
    OnFunctionKey(ctx, kKeyF7);  // on the port the host still holds open
    EXPECT_EQ(ctx.LinkErrorFlag, 1) << "an unplugged unit answered";

    EXPECT_EQ(sim.Type("plug"), "ok");
    EXPECT_TRUE(IsPortStillPresent(ctx));
    ConnectProgrammer(ctx);
    EXPECT_EQ(ctx.ConnectedFlag, 1) << ui.GetText(id::kStatusLine);
    OnFunctionKey(ctx, kKeyF7);
    EXPECT_EQ(ctx.LinkErrorFlag, 0);
}

}  // namespace
}  // namespace veldrix
