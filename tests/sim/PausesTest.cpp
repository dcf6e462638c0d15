// The unit that minds the pauses: which block needs which pause after which
// session, and the program's own automatic sequence against such a unit.
#include <gtest/gtest.h>

#include "link/Session.h"
#include "sim/Pauses.h"
#include "state/CommandBlock.h"
#include "tests/admin/ProductionApp.h"
#include "state/OpCodes.h"
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
    SessionSeen fault = Seen(op::kProgram, true, kAllBoxes, 2, 1);
    fault.clean = false;
    SessionSeen memoryCleared = Seen(op::kClearArea, true);
    SessionSeen blockDeleted = Seen(op::kClearArea, true);
    blockDeleted.blockNumber = 3;
    const struct {
        const char* what;
        SessionSeen before;
        uint8_t op;
        int pauseMs;
    } cases[] = {
        // Codes only the sequence sends, whatever came before.
        {"program step", {}, op::kProgram, 200},
        {"ID code", Seen(op::kProbe, false), op::kWriteIdCode, 200},
        {"SMART", Seen(op::kMemoryChecksum, true), op::kSmart, 200},
        {"streamed programming after the identifier", Seen(op::kReadIdentifier, false), op::kProgramDirect, 50},
        {"blank check", Seen(op::kInfo, false), op::kBlankCheck, 0},
        {"probe", Seen(op::kProgram, true), op::kProbe, 0},
        // The memory cleared: the download's announcement, the copies.
        {"announcement", memoryCleared, op::kDownload, 200},
        {"chip copy", memoryCleared, op::kCopyChip, 100},
        {"master copy's file information", memoryCleared, op::kReadFileInfo, 100},
        {"announcement after a block was deleted", blockDeleted, op::kDownload, 0},
        // Erase: the sequence's after a blank chip on an MTP socket, a button's otherwise.
        {"erase after a blank chip", Seen(op::kBlankCheck, true), op::kEraseMtp, 200},
        {"erase after a chip that is not blank", Seen(op::kBlankCheck, false), op::kEraseMtp, 0},
        {"erase after a blank OTP chip", Seen(op::kBlankCheck, true, kAllBoxes, 1), op::kEraseMtp, 0},
        {"erase without the blank check box", Seen(op::kBlankCheck, true, kAllBoxes & ~autoflag::kBlankCheck),
         op::kEraseMtp, 0},
        {"erase after a probe", Seen(op::kProbe, false), op::kEraseMtp, 0},
        // After the program step the sequence is plainly under way.
        {"verify after programming", Seen(op::kProgram, true, kAllBoxes, 2, 1), op::kVerify, 200},
        {"read-back sum after streamed programming", Seen(op::kProgramDirect, true, kAllBoxes, 2, 2),
         op::kChipChecksum, 200},
        {"verify after streamed programming", Seen(op::kProgramDirect, true, kAllBoxes, 2, 2), op::kVerify, 0},
        {"verify after programming that failed", Seen(op::kProgram, false, kAllBoxes, 2, 1), op::kVerify, 0},
        {"verify after programming a fault broke into", fault, op::kVerify, 0},
        {"read protection after LDC that failed", Seen(op::kLdcProtect, false, kAllBoxes, 2, 1), op::kReadProtect, 200},
        {"hardware protection after read protection", Seen(op::kReadProtect, true, kAllBoxes, 2, 1),
         op::kHardwareProtect, 200},
        {"hardware protection on an OTP chip", Seen(op::kReadProtect, true, kAllBoxes, 1, 1), op::kHardwareProtect, 0},
        {"LDC when SMART is off", Seen(op::kWriteIdCode, true, kAllBoxes & ~autoflag::kSmart, 2, 1), op::kLdcProtect,
         200},
        {"LDC when SMART is on", Seen(op::kWriteIdCode, true, kAllBoxes, 2, 1), op::kLdcProtect, 0},
        // The same steps by their buttons: no sequence under way.
        {"verify button after the blank check button", Seen(op::kBlankCheck, true), op::kVerify, 0},
        {"read protection button after the LDC button", Seen(op::kLdcProtect, true), op::kReadProtect, 0},
        {"hardware protection button after verify", Seen(op::kVerify, true), op::kHardwareProtect, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(sim::PauseBeforeMs(c.before, c.op), c.pauseMs) << c.what;
}

TEST(Pauses, TheSequenceGoesOnUntilItsLastStepOrAFailure) {
    EXPECT_EQ(sim::NextSteps(Seen(op::kBlankCheck, true)), (std::vector<uint8_t>{op::kEraseMtp}));
    EXPECT_EQ(sim::NextSteps(Seen(op::kBlankCheck, true, kAllBoxes, 1)),
              (std::vector<uint8_t>{op::kProgram, op::kReadIdentifier}));
    EXPECT_EQ(sim::NextSteps(Seen(op::kProgram, true, kAllBoxes, 2, 1)), (std::vector<uint8_t>{op::kVerify}));
    EXPECT_EQ(sim::NextSteps(Seen(op::kChipChecksum, true, kAllBoxes, 2, 2)), (std::vector<uint8_t>{op::kWriteIdCode}));
    EXPECT_EQ(sim::NextSteps(Seen(op::kWriteIdCode, true, kAllBoxes, 2, 2)), (std::vector<uint8_t>{op::kSmartDebug}));
    EXPECT_EQ(sim::NextSteps(Seen(op::kHardwareProtect, false, kAllBoxes, 2, 1)), (std::vector<uint8_t>{}));
    EXPECT_EQ(sim::NextSteps(Seen(op::kReadProtect, true, kAllBoxes, 1, 1)), (std::vector<uint8_t>{}));
    EXPECT_EQ(sim::NextSteps(Seen(op::kVerify, false, kAllBoxes, 2, 1)), (std::vector<uint8_t>{}));
    EXPECT_EQ(sim::NextSteps(Seen(op::kMemoryChecksum, true)), (std::vector<uint8_t>{}));
    // The mode holds from the program step as long as each step is the next.
    EXPECT_EQ(sim::ModeAfter(Seen(op::kEraseMtp, true), op::kProgramDirect), 2);
    EXPECT_EQ(sim::ModeAfter(Seen(op::kProgramDirect, true, kAllBoxes, 2, 2), op::kChipChecksum), 2);
    EXPECT_EQ(sim::ModeAfter(Seen(op::kChipChecksum, true, kAllBoxes, 2, 2), op::kWriteIdCode), 2);
    EXPECT_EQ(sim::ModeAfter(Seen(op::kChipChecksum, true, kAllBoxes, 2, 2), op::kLdcProtect), 0);
    EXPECT_EQ(sim::ModeAfter(Seen(op::kVerify, true), op::kWriteIdCode), 0);
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
        {"S3C9454", sim::ChipKind::Otp, false,
         {op::kBlankCheck, op::kProgram, op::kVerify, op::kWriteIdCode, op::kLdcProtect, op::kReadProtect}},
        {"S3F9454", sim::ChipKind::Mtp, false,
         {op::kBlankCheck, op::kEraseMtp, op::kProgram, op::kVerify, op::kWriteIdCode, op::kSmart, op::kLdcProtect,
          op::kReadProtect, op::kHardwareProtect}},
        {"S3F9454", sim::ChipKind::Mtp, true,
         {op::kBlankCheck, op::kEraseMtp, op::kReadIdentifier, op::kProgramDirect, op::kChipChecksum, op::kWriteIdCode,
          op::kSmartDebug, op::kLdcProtect, op::kReadProtect, op::kHardwareProtect}},
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
