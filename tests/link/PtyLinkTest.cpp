#include <gtest/gtest.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

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
// from its standard input while it serves. Unplugged, its pseudo-terminal is
// closed under the host and its link is gone, as a pulled adapter's device
// is: the host's next call fails and lets the port go; plugged in again, it
// is a new terminal behind the link.
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
    // No modem lines on a pseudo-terminal: the busy line reads clear, the port stays.
    EXPECT_EQ(w.port.ModemStatus(), std::optional<uint32_t>(0));

    EXPECT_EQ(sim.Type("sim unplug"), "ok");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_FALSE(IsPortStillPresent(ctx));
    size_t boxes = ui.Boxes().size();
    OnFunctionKey(ctx, kKeyF7);  // on the port the host still holds open
    EXPECT_EQ(ctx.LinkErrorFlag, 1) << "an unplugged unit answered";
    EXPECT_FALSE(w.port.IsOpen());
    EXPECT_EQ(ctx.ConnectedFlag, 0);
    ASSERT_GT(ui.Boxes().size(), boxes);
    EXPECT_EQ(ui.Boxes()[boxes].spec.text, "USB COM 端口已失效! 请重新连接!");

    EXPECT_EQ(sim.Type("plug"), "ok");
    EXPECT_TRUE(std::filesystem::exists(link));
    ConnectProgrammer(ctx);
    EXPECT_EQ(ctx.ConnectedFlag, 1) << ui.GetText(id::kStatusLine);
    EXPECT_TRUE(IsPortStillPresent(ctx));
    OnFunctionKey(ctx, kKeyF7);
    EXPECT_EQ(ctx.LinkErrorFlag, 0);
}

// What the preloaded library answers Wine's request for a terminal's modem
// lines: DSR from the file the simulator keeps for that terminal; the
// terminal's own refusal where there is none; the failure of a terminal
// whose other end has gone.
TEST(PseudoTerminalLink, ThePreloadedLibraryShowsTheBusyLineTheSimulatorKeeps) {
    void* library = dlopen(VELDRIX_BINARY_DIR "/libveldrix-ptyparity.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(library) << dlerror();
    auto preloaded = reinterpret_cast<int (*)(int, unsigned long, ...)>(dlsym(library, "ioctl"));
    ASSERT_TRUE(preloaded);
    // 1 DSR set, 0 clear, minus the errno of a failed request.
    auto dsr = [&](int fd) {
        int bits = 0;
        if (preloaded(fd, TIOCMGET, &bits) != 0) return -errno;
        return (bits & TIOCM_DSR) ? 1 : 0;
    };

    test::TempDir dir;
    std::string link = dir.File("com1");
    SimProcess sim({"--link", link, "--modem", dir.Path().string()});
    ASSERT_FALSE(sim.Path().empty()) << "veldrix-sim printed no path";
    int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    std::string shown = dir.File("pts-" + sim.Path().substr(sim.Path().rfind('/') + 1));
    ::unsetenv("VELDRIX_PTY_MODEM");
    EXPECT_EQ(dsr(fd), -ENOTTY);
    ::setenv("VELDRIX_PTY_MODEM", dir.Path().c_str(), 1);
    EXPECT_EQ(dsr(fd), 0);

    // A unit that hangs busy until the fault is cleared.
    EXPECT_EQ(sim.Type("fault busy 37 ack"), "ok");
    {
        LinkedWindow w(link);
        ConnectProgrammer(w.ctx);
        ASSERT_EQ(w.ctx.ConnectedFlag, 1) << w.ui.GetText(id::kStatusLine);
        OnFunctionKey(w.ctx, kKeyF7);
        EXPECT_EQ(w.ctx.LinkErrorFlag, 1);
        EXPECT_EQ(dsr(fd), 1);
        test::TempDir other;
        ::setenv("VELDRIX_PTY_MODEM", other.Path().c_str(), 1);
        EXPECT_EQ(dsr(fd), -ENOTTY) << "a busy line shown for no such terminal";
        ::setenv("VELDRIX_PTY_MODEM", dir.Path().c_str(), 1);
        EXPECT_EQ(sim.Type("fault none"), "ok");
        for (int i = 0; i < 200 && dsr(fd) != 0; ++i) usleep(10000);
        EXPECT_EQ(dsr(fd), 0);
    }

    EXPECT_TRUE(std::filesystem::exists(shown));
    EXPECT_EQ(sim.Type("unplug"), "ok");
    EXPECT_FALSE(std::filesystem::exists(shown));
    EXPECT_EQ(dsr(fd), -EIO);
    ::close(fd);
    ::unsetenv("VELDRIX_PTY_MODEM");
    dlclose(library);
}

}  // namespace
}  // namespace veldrix
