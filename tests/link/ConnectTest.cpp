#include <gtest/gtest.h>

#include "state/ControlIds.h"
#include "link/PortDiscovery.h"
#include "link/Session.h"
#include "tests/support/LinkedApp.h"
#include "state/OpCodes.h"

namespace veldrix {
namespace {

const char* const kNoAdapter =
    "未检测到有效的USB连接!\n可能USB驱动软件安装不正确或USB端口工作异常!\n"
    "请确保烧写器与主机USB已联接并打开电源!\n或尝试重新安装PL2303-USB驱动软件!";

TEST(ProgrammerSearch, FirstTickFindsTheProgrammerOnTheRememberedPort) {
    test::LinkedApp app;
    app.Start();
    EXPECT_EQ(app.Status(), "OK, 已检测到 VELDRIX 连接在端口 USB TO COM1");
    EXPECT_EQ(app.ctx.ConnectedFlag, 1);
    EXPECT_EQ(app.ctx.LinkEnabledFlag, 1);
    EXPECT_EQ(app.ctx.BusyFlag, 0);
    EXPECT_EQ(app.port.opened, (std::vector<std::string>{"COM1"}));
    EXPECT_EQ(app.prog.port.lineMode(), "baud=38400 parity=E data=8 stop=1");
    // The search message came first, then the timer went to one second.
    auto history = app.ui.StatusHistory();
    ASSERT_GE(history.size(), 3u);
    EXPECT_EQ(history[history.size() - 2], "正在尝试联接VELDRIX,请稍候...");
    EXPECT_EQ(app.ui.TimersStarted().back(), (std::pair<int, int>{501, 1000}));
}

TEST(ProgrammerSearch, OtherwiseTheFirstAnsweringPortInOrderAfterOneRetry) {
    test::LinkedApp app;
    app.settings.values["com"] = "COM9";
    app.prog.adapters.adapters = {{5, "COM7", true, true}, {0, "COM3", true, false}};
    app.Start();
    EXPECT_EQ(app.Status(), "OK, 已检测到 VELDRIX 连接在端口 USB TO COM7");
    // Value names are tried by number: ProlificSerial0 (COM3) before ProlificSerial5 (COM7).
    EXPECT_EQ(app.port.opened, (std::vector<std::string>{"COM9", "COM3", "COM3", "COM7"}));
    EXPECT_EQ(app.ctx.rememberedPort.Get(), "COM7");
    EXPECT_EQ(app.ctx.portList, (std::vector<std::string>{"COM3", "COM7"}));
}

TEST(ProgrammerSearch, ARememberedPortThatAnswersIsUsedEvenInLowerCase) {
    test::LinkedApp app;
    app.settings.values["com"] = "com7";
    app.prog.adapters.adapters = {{0, "COM3", true, false}, {1, "COM7", true, true}};
    app.Start();
    EXPECT_EQ(app.port.opened, (std::vector<std::string>{"com7"}));
    EXPECT_EQ(app.Status(), "OK, 已检测到 VELDRIX 连接在端口 USB TO COM7");
    EXPECT_TRUE(IsPortStillPresent(app.ctx));  // matches COM7 of the device map
}

TEST(ProgrammerSearch, OnlyTheFirstEightAdaptersAreKept) {
    test::LinkedApp app;
    app.prog.adapters.adapters.clear();
    for (int n = 0; n < 9; ++n)
        app.prog.adapters.adapters.push_back({n * 3, "COM" + std::to_string(10 + n), true, false});
    app.ctx.SilentSearch = 1;
    EXPECT_EQ(DiscoverPorts(app.ctx), 8);
    EXPECT_EQ(app.ctx.portValueNames.back(), "\\Device\\ProlificSerial21");
}

TEST(ProgrammerSearch, NoAdapterGivesOneBoxThenSilentSearches) {
    test::LinkedApp app;
    app.prog.adapters.adapters.clear();
    app.Start();
    ASSERT_EQ(app.BoxCount(), 1u);
    EXPECT_EQ(app.ui.LastBox()->spec.text, kNoAdapter);
    EXPECT_EQ(app.ui.LastBox()->spec.icon, MsgIcon::Error);
    EXPECT_EQ(app.ui.LastBox()->spec.caption, "");
    EXPECT_EQ(app.Status(), kTextConnectionError);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    app.Tick(3);
    EXPECT_EQ(app.BoxCount(), 1u);
    // Plugging the adapter in: a later tick connects.
    app.prog.adapters.adapters = {{0, "COM1", true, true}};
    app.Tick();
    EXPECT_EQ(app.Status(), "OK, 已检测到 VELDRIX 连接在端口 USB TO COM1");
}

TEST(ProgrammerSearch, UnpluggingWhileIdleWarnsRefusesAndReconnects) {
    test::LinkedApp app;
    app.Start();
    app.prog.adapters.adapters[0].plugged = false;
    app.Tick();
    ASSERT_TRUE(app.ui.LastBox());
    EXPECT_EQ(app.ui.LastBox()->spec.text, "检测到USB连接错误,该端口可能已被退出或被其它软件所占用!");
    EXPECT_EQ(app.ui.LastBox()->spec.caption, "警告");
    EXPECT_EQ(app.Status(), "正在尝试重新联接到VELDRIX,请稍候......");
    EXPECT_EQ(app.ctx.LinkEnabledFlag, 0);
    EXPECT_EQ(app.ctx.ConnectedFlag, 0);
    // Held, the handle would keep the adapter from its name when it is back.
    EXPECT_FALSE(app.port.IsOpen());

    app.Click(id::kBlankCheck);
    EXPECT_EQ(app.Status(), "请先行启动编程器USB连接");
    size_t boxes = app.BoxCount();
    app.Tick(2);  // silent searches while it stays away
    EXPECT_EQ(app.BoxCount(), boxes);
    EXPECT_EQ(app.Status(), kTextConnectionError);

    app.prog.adapters.adapters[0].plugged = true;
    app.Tick();
    EXPECT_EQ(app.Status(), "OK, 已检测到 VELDRIX 连接在端口 USB TO COM1");
    EXPECT_EQ(app.ctx.LinkEnabledFlag, 1);
}

// The window closed: the port is let go at once, so a program started
// again before this one has ended can open it.
TEST(ProgrammerSearch, AClosedWindowLetsThePortGo) {
    test::LinkedApp app;
    app.Start();
    ASSERT_TRUE(app.port.IsOpen());
    EXPECT_TRUE(OnWindowDestroy(app.ctx));
    EXPECT_FALSE(app.port.IsOpen());
}

// Plugged in again, the adapter's port may answer before the driver lists
// its value: the link is kept, and no box says it was lost. A pulled
// adapter whose value the driver still lists is noticed on its handle.
TEST(ProgrammerSearch, ALinkBackBeforeItsValueIsListedShowsNoBoxAndAPulledHandleIsNoticed) {
    test::LinkedApp app;
    app.Start();
    app.prog.adapters.adapters[0].plugged = false;
    app.Tick();
    ASSERT_EQ(app.ctx.ConnectedFlag, 0);
    const size_t boxes = app.BoxCount();
    app.prog.adapters.available = false;  // the device is back, its value not yet
    app.prog.adapters.adapters[0].plugged = true;
    app.Tick();
    EXPECT_EQ(app.Status(), "OK, 已检测到 VELDRIX 连接在端口 USB TO COM1");
    app.Tick(2);
    EXPECT_EQ(app.BoxCount(), boxes);
    EXPECT_EQ(app.ctx.ConnectedFlag, 1);
    app.prog.adapters.available = true;
    app.Tick(2);
    EXPECT_EQ(app.BoxCount(), boxes);
    EXPECT_EQ(app.ctx.ConnectedFlag, 1);
    EXPECT_EQ(app.ctx.portList, (std::vector<std::string>{"COM1"}));

    // Pulled while the driver still lists its value (here under another
    // adapter's entry): the open handle fails at the next tick.
    app.prog.adapters.adapters[0].plugged = false;
    app.prog.adapters.adapters.push_back({0, "COM1", true, false});
    app.prog.adapters.adapters.back().portName = "COM9";
    app.Tick();
    ASSERT_EQ(app.BoxCount(), boxes + 1);
    EXPECT_EQ(app.ui.LastBox()->spec.text, "检测到USB连接错误,该端口可能已被退出或被其它软件所占用!");
    EXPECT_EQ(app.ctx.ConnectedFlag, 0);
}

// Pulled before the link check noticed: the operation's first port call (the
// session's queue sizes) fails, the port is let go there and then, the
// operator is told once what failed, and the link monitor searches until
// the adapter is back.
TEST(ProgrammerSearch, AnOperationOnAPulledAdapterLetsThePortGoAndTheMonitorReconnects) {
    test::LinkedApp app;
    app.Start();
    const size_t boxes = app.BoxCount();
    app.prog.adapters.adapters[0].plugged = false;
    OnFunctionKey(app.ctx, kKeyF7);
    // The information box comes whatever the link did; the session's own box first.
    ASSERT_EQ(app.BoxCount(), boxes + 2);
    EXPECT_EQ(app.ui.Boxes()[boxes].spec.text, "读取串口错误,该端口可能不存在或被其它软件占用!");
    EXPECT_EQ(app.ui.Boxes()[boxes].spec.caption, "警告");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.ConnectedFlag, 0);
    EXPECT_EQ(app.ctx.LinkEnabledFlag, 0);
    EXPECT_FALSE(app.port.IsOpen());
    EXPECT_EQ(app.port.Blocks().size(), 1u) << "a block went out on the pulled adapter";

    app.Click(id::kBlankCheck);
    EXPECT_EQ(app.Status(), "请先行启动编程器USB连接");
    app.Tick(2);  // silent searches while it stays away
    EXPECT_EQ(app.BoxCount(), boxes + 2);
    EXPECT_EQ(app.Status(), kTextConnectionError);

    app.prog.adapters.adapters[0].plugged = true;
    app.Tick();
    EXPECT_EQ(app.Status(), "OK, 已检测到 VELDRIX 连接在端口 USB TO COM1");
    OnFunctionKey(app.ctx, kKeyF7);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    EXPECT_EQ(app.BoxCount(), boxes + 3);
    EXPECT_EQ(app.ui.LastBox()->spec.caption, "软件版本");
}

TEST(SessionOpening, ProbeBlockOnTheWire) {
    test::LinkedApp app;
    app.Start();
    auto blocks = app.port.Blocks();
    ASSERT_EQ(blocks.size(), 1u);
    const std::vector<uint8_t>& b = blocks[0];
    EXPECT_EQ(std::string(b.begin(), b.begin() + 5), "ZEMKO");
    EXPECT_EQ(b[5], 0x41);  // probe with bit 6 set on the wire
    EXPECT_EQ(b[6], 2);     // MTP, the defaults of "NOSELEC"
    EXPECT_EQ(b[7], 1);
    EXPECT_EQ(b[8], 0x41);  // 5.0 V supply, 12 V programming voltage
    EXPECT_EQ(b[9], 0x55);  // never written: the fill after a port open
    // Auto verify, read protection and SMART, plus bit 6 kept from the fill.
    EXPECT_EQ(b[10], 0x20 | 0x01 | 0x10 | 0x40);
    EXPECT_EQ(b[12], 0);  // empty checksum field
    EXPECT_EQ(b[13], 0);
    for (int i = 14; i < 38; ++i) EXPECT_EQ(b[size_t(i)], 0x55) << i;
    EXPECT_EQ(app.ctx.block.OpCode(), op::kProbe);  // both top bits cleared again
}

TEST(SessionOpening, HeaderCountsDisabledOptionsAsUnchecked) {
    test::LinkedApp app;
    app.Start();
    app.ui.SetChecked(id::kAutoHwProtect, true);
    app.ui.SetEnabled(id::kAutoHwProtect, false);
    app.ui.SetChecked(id::kVppVcc, true);
    app.ui.SetEnabled(id::kVpp12, false);
    app.ui.SetChecked(id::kVdd50, false);
    app.ui.SetChecked(id::kVdd33, false);
    app.ui.SetText(id::kChecksum, "1A2B");
    app.ctx.block[cb::kPowerSelect] = 0x42;
    FillCommandBlockHeader(app.ctx);
    EXPECT_EQ(app.ctx.block[cb::kAutoFlags] & autoflag::kHwProtect, 0);
    // Vcc bit on top; with neither supply radio checked the old low nibble stays.
    EXPECT_EQ(app.ctx.block[cb::kPowerSelect], 0x82);
    EXPECT_EQ(app.ctx.block.Get16(cb::kChecksum), 0x1A2Bu);
}

TEST(SessionOpening, StatusLineShowsTheFirmwareInformationOnF7) {
    test::LinkedApp app;
    app.Start();
    OnFunctionKey(app.ctx, kKeyF7);
    ASSERT_TRUE(app.ui.LastBox());
    MessageBoxSpec box = app.ui.LastBox()->spec;
    EXPECT_EQ(box.caption, "软件版本");
    EXPECT_EQ(box.text.rfind("多文件型编程器VELDRIX\n主机软件最后更新时间: 2014-01-10\n编程器内置软件版本: ", 0), 0u);
    EXPECT_NE(box.text.find("\n编程器内置软件最后更新时间: "), std::string::npos);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    // F5 greets, other keys do nothing.
    size_t boxes = app.BoxCount();
    OnFunctionKey(app.ctx, 0x71);
    EXPECT_EQ(app.BoxCount(), boxes);
    OnFunctionKey(app.ctx, kKeyF5);
    EXPECT_EQ(app.ui.LastBox()->spec.caption, "尊敬的用户");
}

TEST(SessionOpening, NoProgrammerBehindThePortFailsWithTheConnectionText) {
    test::LinkedApp app;
    app.prog.adapters.adapters[0].hasProgrammer = false;
    app.Start();
    EXPECT_EQ(app.Status(), kTextConnectionError);
    EXPECT_EQ(app.ctx.ConnectedFlag, 0);
    EXPECT_EQ(app.ctx.AutoRunMarker, 0);
    EXPECT_EQ(app.ctx.outcome.cls, OutcomeClass::LinkFailed);
    // The failure re-armed the one-second timer with id 0.
    bool timerZero = false;
    for (auto [timer, period] : app.ui.TimersStarted()) timerZero |= timer == 0 && period == 1000;
    EXPECT_TRUE(timerZero);
}

}  // namespace
}  // namespace veldrix
