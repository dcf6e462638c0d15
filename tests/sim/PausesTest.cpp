// The unit that minds the pauses: which block needs which pause after which
// session, and the program's own automatic sequence against such a unit.
#include <gtest/gtest.h>

#include "link/Session.h"
#include "sim/Pauses.h"
#include "state/CommandBlock.h"
#include "tests/admin/ProductionApp.h"
#include "tests/support/RecordingPort.h"

namespace veldrix {
namespace {

using sim::SessionSeen;

constexpr uint8_t kAllBoxes = autoflag::kBlankCheck | autoflag::kVerify | autoflag::kIdIncrement | autoflag::kSmart |
                              autoflag::kLdc | autoflag::kReadProtect | autoflag::kHwProtect;

SessionSeen Seen(uint8_t op, bool passed, uint8_t flags = kAllBoxes, uint8_t chipType = 2, int mode = 0) {
    SessionSeen s;
    s.op = op;
    s.passed = passed;
    s.autoFlags = flags;
    s.chipType = chipType;
    s.mode = mode;
    return s;
}

TEST(Pauses, EachBlockNeedsThePauseTheHostPutsBeforeItThere) {
    SessionSeen fault = Seen(7, true, kAllBoxes, 2, 1);
    fault.clean = false;
    SessionSeen memoryCleared = Seen(2, true);
    SessionSeen blockDeleted = Seen(2, true);
    blockDeleted.blockNumber = 3;
    const struct {
        const char* what;
        SessionSeen before;
        uint8_t op;
        int pauseMs;
    } cases[] = {
        // Codes only the sequence sends, whatever came before.
        {"program step", {}, 7, 200},
        {"ID code", Seen(1, false), 31, 200},
        {"SMART", Seen(4, true), 9, 200},
        {"streamed programming after the identifier", Seen(29, false), 26, 50},
        {"blank check", Seen(37, false), 16, 0},
        {"probe", Seen(7, true), 1, 0},
        // The memory cleared: the download's announcement, the copies.
        {"announcement", memoryCleared, 3, 200},
        {"chip copy", memoryCleared, 15, 100},
        {"master copy's file information", memoryCleared, 21, 100},
        {"announcement after a block was deleted", blockDeleted, 3, 0},
        // Erase: the sequence's after a blank chip on an MTP socket, a button's otherwise.
        {"erase after a blank chip", Seen(16, true), 6, 200},
        {"erase after a chip that is not blank", Seen(16, false), 6, 0},
        {"erase after a blank OTP chip", Seen(16, true, kAllBoxes, 1), 6, 0},
        {"erase without the blank check box", Seen(16, true, kAllBoxes & ~autoflag::kBlankCheck), 6, 0},
        {"erase after a probe", Seen(1, false), 6, 0},
        // After the program step the sequence is plainly under way.
        {"verify after programming", Seen(7, true, kAllBoxes, 2, 1), 8, 200},
        {"read-back sum after streamed programming", Seen(26, true, kAllBoxes, 2, 2), 13, 200},
        {"verify after streamed programming", Seen(26, true, kAllBoxes, 2, 2), 8, 0},
        {"verify after programming that failed", Seen(7, false, kAllBoxes, 2, 1), 8, 0},
        {"verify after programming a fault broke into", fault, 8, 0},
        {"read protection after LDC that failed", Seen(11, false, kAllBoxes, 2, 1), 10, 200},
        {"hardware protection after read protection", Seen(10, true, kAllBoxes, 2, 1), 12, 200},
        {"hardware protection on an OTP chip", Seen(10, true, kAllBoxes, 1, 1), 12, 0},
        {"LDC when SMART is off", Seen(31, true, kAllBoxes & ~autoflag::kSmart, 2, 1), 11, 200},
        {"LDC when SMART is on", Seen(31, true, kAllBoxes, 2, 1), 11, 0},
        // The same steps by their buttons: no sequence under way.
        {"verify button after the blank check button", Seen(16, true), 8, 0},
        {"read protection button after the LDC button", Seen(11, true), 10, 0},
        {"hardware protection button after verify", Seen(8, true), 12, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(sim::PauseBeforeMs(c.before, c.op), c.pauseMs) << c.what;
}

TEST(Pauses, TheSequenceGoesOnUntilItsLastStepOrAFailure) {
    EXPECT_EQ(sim::NextSteps(Seen(16, true)), (std::vector<uint8_t>{6}));
    EXPECT_EQ(sim::NextSteps(Seen(16, true, kAllBoxes, 1)), (std::vector<uint8_t>{7, 29}));
    EXPECT_EQ(sim::NextSteps(Seen(7, true, kAllBoxes, 2, 1)), (std::vector<uint8_t>{8}));
    EXPECT_EQ(sim::NextSteps(Seen(13, true, kAllBoxes, 2, 2)), (std::vector<uint8_t>{31}));
    EXPECT_EQ(sim::NextSteps(Seen(31, true, kAllBoxes, 2, 2)), (std::vector<uint8_t>{27}));
    EXPECT_EQ(sim::NextSteps(Seen(12, false, kAllBoxes, 2, 1)), (std::vector<uint8_t>{}));
    EXPECT_EQ(sim::NextSteps(Seen(10, true, kAllBoxes, 1, 1)), (std::vector<uint8_t>{}));
    EXPECT_EQ(sim::NextSteps(Seen(8, false, kAllBoxes, 2, 1)), (std::vector<uint8_t>{}));
    EXPECT_EQ(sim::NextSteps(Seen(4, true)), (std::vector<uint8_t>{}));
    // The mode holds from the program step as long as each step is the next.
    EXPECT_EQ(sim::ModeAfter(Seen(6, true), 26), 2);
    EXPECT_EQ(sim::ModeAfter(Seen(26, true, kAllBoxes, 2, 2), 13), 2);
    EXPECT_EQ(sim::ModeAfter(Seen(13, true, kAllBoxes, 2, 2), 31), 2);
    EXPECT_EQ(sim::ModeAfter(Seen(13, true, kAllBoxes, 2, 2), 11), 0);
    EXPECT_EQ(sim::ModeAfter(Seen(8, true), 31), 0);
}

// The program's automatic sequence in every set-up of its steps, chip after
// chip, against a unit that needs every pause and takes real times: every
// step reaches the unit, none comes sooner than the unit can take it, and
// the next chip waits until the socket is powered down. A host that shortened
// a step's pause, or the session opening's DSR polls or status-word tries,
// fails here.
TEST(Pauses, TheAutomaticSequenceGivesTheUnitEveryPauseItNeeds) {
    const struct {
        const char* chip;
        sim::ChipKind kind;
        bool debug;
        std::vector<int> steps;
    } setups[] = {
        {"S3C9454", sim::ChipKind::Otp, false, {16, 7, 8, 31, 11, 10}},
        {"S3F9454", sim::ChipKind::Mtp, false, {16, 6, 7, 8, 31, 9, 11, 10, 12}},
        {"S3F9454", sim::ChipKind::Mtp, true, {16, 6, 29, 26, 13, 31, 27, 11, 10, 12}},
    };
    const int boxes[] = {id::kAutoVerify, id::kAutoReadProtect, id::kEnableSmart, id::kAutoBlankCheck,
                         id::kAutoLdc,    id::kAutoHwProtect,   id::kAutoIdIncrement};
    for (const auto& s : setups) {
        SCOPED_TRACE(std::string(s.chip) + (s.debug ? ", debug mode" : ""));
        test::ProductionApp app;
        app.Device([](sim::DeviceState& d) { return d.vary.pauses = true; });
        app.SelectChip(s.chip);
        app.ui.SetChecked(id::kDebugMode, s.debug);
        app.Download(test::ProductionApp::Pattern(0x300));
        for (int box : boxes) {
            app.ui.SetEnabled(box, true);
            app.ui.SetChecked(box, true);
        }
        app.ui.SetText(id::kCounterCurrent, "500");
        app.ui.SetText(id::kIdAddress, "0FF0");
        for (int chip = 0; chip < 2; ++chip) {
            SCOPED_TRACE(chip);
            app.PutChip(s.kind);
            app.ClearDeviceLog();
            app.Click(id::kAutoProgram);
            EXPECT_EQ(app.Status(), "自动编程已成功完成");
            EXPECT_EQ(app.DeviceLog(), s.steps);
            EXPECT_EQ(app.Device([](sim::DeviceState& d) { return d.tooSoon; }), std::vector<uint8_t>{});
            EXPECT_EQ(app.ui.GetText(id::kCounterCurrent), std::to_string(501 + chip));
        }
    }
}

// A unit busy for stretches, deaf while its busy line is up: after every
// session and while it writes each downloaded page. The program waits the
// stretches out through a download and whole sequences; a host that never
// reads the line as set sends its next block into a stretch and loses it.
TEST(Pauses, BusyStretchesAreWaitedOutAndHearNothing) {
    class BlindToTheBusyLine : public test::ForwardingPort {
    public:
        using ForwardingPort::ForwardingPort;
        std::optional<uint32_t> ModemStatus() override {
            std::optional<uint32_t> status = inner_.ModemStatus();
            return status ? std::optional<uint32_t>(0) : status;
        }
    };
    test::ProductionApp app;
    app.Device([](sim::DeviceState& d) { return d.vary.busy = true; });
    app.SelectChip("S3F9454");
    app.Download(test::ProductionApp::Pattern(0x600));
    EXPECT_EQ(app.Status().rfind("编程内存检查和 =  ", 0), 0u);
    for (int chip = 0; chip < 2; ++chip) {
        app.PutChip(sim::ChipKind::Mtp);
        app.Click(id::kAutoProgram);
        EXPECT_EQ(app.Status(), "自动编程已成功完成") << chip;
    }

    BlindToTheBusyLine blind(app.port);
    app.ctx.port = &blind;
    app.PutChip(sim::ChipKind::Mtp);
    app.time.Sleep(1000);
    app.ClearDeviceLog();
    app.Click(id::kAutoProgram);
    EXPECT_EQ(app.Status(), kTextConnectionError);
    // The first step's block came long after the last stretch; the next came into one.
    EXPECT_EQ(app.DeviceLog().size(), 1u);
}

}  // namespace
}  // namespace veldrix
