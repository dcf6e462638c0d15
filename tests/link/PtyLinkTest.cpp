#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "app/Dispatch.h"
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

namespace veldrix {
namespace {

// veldrix-sim started as its own process; its first output line is the
// pseudo-terminal to open.
class SimProcess {
public:
    SimProcess() {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            execl(VELDRIX_BINARY_DIR "/veldrix-sim", "veldrix-sim", "--fast", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        FILE* f = fdopen(out[0], "r");
        char line[256] = {};
        if (f && std::fgets(line, sizeof line, f)) path_ = line;
        while (!path_.empty() && (path_.back() == '\n' || path_.back() == '\r')) path_.pop_back();
        if (f) std::fclose(f);
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    const std::string& Path() const { return path_; }

private:
    pid_t pid_ = -1;
    std::string path_;
};

TEST(PseudoTerminalLink, PosixPortFindsTheSimulatorAndReadsItsInformation) {
    SimProcess sim;
    ASSERT_FALSE(sim.Path().empty()) << "veldrix-sim printed no path";
    HeadlessUi ui;
    RealClock clock;
    MemorySettings settings;
    settings.values["setup"] = VELDRIX_SOURCE_DIR "/resources";
    PosixPort port;
    LinuxPortDirectory ports(sim.Path());
    AppContext ctx(ui, clock, settings, port, ports);
    Worker worker(ctx, Worker::Mode::Inline);
    ctx.worker = &worker;
    ctx.dispatch = DispatchOperation;
    InitMainWindow(ctx);
    worker.OnTimerTick();

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

}  // namespace
}  // namespace veldrix
