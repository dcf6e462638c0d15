// The "sim" lines of a headless script.
#include <gtest/gtest.h>

#include "sim/SimCommands.h"
#include "tests/support/TestApp.h"
#include "state/OpCodes.h"

namespace veldrix::test {
namespace {

class SimCommands : public ::testing::Test {
protected:
    sim::DeviceState state;
    sim::SimAdapters adapters;
    std::string output, error;

    void SetUp() override { adapters.adapters.push_back({0, "COM1", true, true}); }
    bool Run(const std::string& line) { return sim::RunSimCommand(state, adapters, line, output, error); }
};

TEST_F(SimCommands, UnplugTakesOnlyTheProgrammersAdapter) {
    adapters.adapters.push_back({1, "COM4", true, false});
    EXPECT_TRUE(Run("sim unplug"));
    EXPECT_FALSE(adapters.adapters[0].plugged);
    EXPECT_TRUE(adapters.adapters[1].plugged);
    adapters.adapters.erase(adapters.adapters.begin());
    EXPECT_FALSE(Run("plug"));
}

TEST_F(SimCommands, BadCommandsAreScriptErrors) {
    for (const char* line : {"password 123456789", "id 1234567", "fault", "fault ev 99", "chip eprom",
                             "expect-chip 10", "expect-memory 10 ABC", "expect-id 10", "log everything", "on now",
                             "vary", "vary loud", "vary ack loud"}) {
        EXPECT_FALSE(Run(line)) << line;
        EXPECT_EQ(error.rfind("usage", 0), 0u) << line << ": " << error;
    }
    for (const char* line : {"reboot", "fault smoke", "fault ev 7 middle"}) {
        EXPECT_FALSE(Run(line)) << line;
        EXPECT_EQ(error.rfind("unknown", 0), 0u) << line << ": " << error;
    }
    // The usage line is the command's own, whatever was wrong with its words.
    for (auto [line, usage] : {std::pair{"ON now", "usage: on takes no argument"},
                               {"expect-memory 10 ABC", "usage: expect-memory ADDR HEXBYTES"},
                               {"expect-chip 10", "usage: expect-chip ADDR HEXBYTES"},
                               {"chip otp blank 0", "usage: chip otp|mtp [blank|FILE] [ROMSIZE] | chip none"},
                               {"expect-block 99 none", "usage: expect-block N NAME CHIP CHECKSUM | expect-block N none"},
                               {"log everything", "usage: log [clear]"}}) {
        EXPECT_FALSE(Run(line)) << line;
        EXPECT_EQ(error, usage) << line;
    }
}

TEST_F(SimCommands, FaultsAreAimedAndCleared) {
    EXPECT_TRUE(Run("fault busy 7 progress once"));
    EXPECT_TRUE(Run("fault garbage any final"));
    EXPECT_TRUE(Run("fault stop"));
    ASSERT_EQ(state.faults.size(), 3u);
    const sim::Fault& a = state.faults[0];
    EXPECT_EQ(a.kind, sim::FaultKind::Busy);
    EXPECT_EQ(a.opCode, op::kProgram);
    EXPECT_EQ(a.step, sim::FaultStep::Progress);
    EXPECT_TRUE(a.once);
    EXPECT_EQ(state.faults[1].opCode, sim::kAnyOperation);
    EXPECT_EQ(state.faults[1].step, sim::FaultStep::Final);
    EXPECT_FALSE(state.faults[2].once);
    EXPECT_TRUE(Run("fault none"));
    EXPECT_TRUE(state.faults.empty());
}

TEST_F(SimCommands, VariationsAddUpUntilNone) {
    auto flags = [&] {
        const sim::Variations& v = state.vary;
        return std::vector<bool>{v.ack, v.status, v.tokens, v.progress, v.nofile, v.slow, v.pauses, v.busy};
    };
    EXPECT_TRUE(Run("sim vary ack"));
    EXPECT_TRUE(Run("vary TOKENS slow"));
    EXPECT_EQ(flags(), (std::vector<bool>{true, false, true, false, false, true, false, false}));
    EXPECT_TRUE(Run("vary status progress nofile pauses busy"));
    EXPECT_EQ(flags(), std::vector<bool>(8, true));
    EXPECT_TRUE(Run("vary none"));
    EXPECT_EQ(flags(), std::vector<bool>(8, false));
    // The busy stretches only with their own word.
    EXPECT_TRUE(Run("vary all"));
    EXPECT_EQ(flags(), (std::vector<bool>{true, true, true, true, true, true, true, false}));
    // Words count in order; a bad one changes nothing.
    EXPECT_TRUE(Run("vary none progress"));
    EXPECT_EQ(flags(), (std::vector<bool>{false, false, false, true, false, false, false, false}));
    EXPECT_FALSE(Run("vary nofile sometimes"));
    EXPECT_EQ(error, "usage: vary ack|status|tokens|progress|nofile|slow|pauses|busy|all|none ...");
    EXPECT_EQ(flags(), (std::vector<bool>{false, false, false, true, false, false, false, false}));
}

TEST_F(SimCommands, ChipComesBlankFromBinaryOrFromHex) {
    TempDir dir;
    EXPECT_TRUE(Run("chip mtp"));
    EXPECT_EQ(state.chip.kind, sim::ChipKind::Mtp);
    EXPECT_EQ(state.chip.RomSize(), sim::kDefaultRomSize);
    EXPECT_TRUE(Run("expect-chip FFF0 FFFFFFFF"));

    std::string bin = dir.Write("code.bin", std::string("\x12\x34\x00\x56", 4));
    EXPECT_TRUE(Run("chip otp " + bin + " 1000"));
    EXPECT_EQ(state.chip.RomSize(), 0x1000u);
    EXPECT_TRUE(Run("expect-chip 0 1234 0056 FF"));
    EXPECT_FALSE(Run("expect-chip 0 1234 0057"));
    EXPECT_EQ(error, "chip byte at 00003 is 56, expected 57");

    std::string hex = dir.Write("code.HEX", ":0400100001020304E2\r\n");
    EXPECT_TRUE(Run("chip otp " + hex));
    EXPECT_TRUE(Run("expect-chip 0F FF01020304FF"));

    EXPECT_FALSE(Run("chip otp " + dir.File("missing.bin")));
    EXPECT_FALSE(Run("chip otp " + dir.Write("big.bin", std::string(0x101, 'x')) + " 100"));
    EXPECT_TRUE(Run("chip none"));
    EXPECT_FALSE(state.chip.present);
    EXPECT_FALSE(Run("expect-chip 0 FF"));
    EXPECT_EQ(error, "no chip in the socket");
}

TEST_F(SimCommands, ExpectationsNameWhatDiffers) {
    state.memory[0xFFFFF] = 0x5A;
    EXPECT_TRUE(Run("expect-memory FFFFE FF5A"));
    EXPECT_FALSE(Run("expect-memory FFFFE FF5B"));
    EXPECT_EQ(error, "memory byte at FFFFF is 5A, expected 5B");
    EXPECT_FALSE(Run("expect-memory FFFFF 5A00"));
    EXPECT_EQ(error, "memory has no byte at 100000");

    state.chip = sim::Chip::Blank(sim::ChipKind::Otp);
    state.chip.cells[0x0FFD] = 0x01;
    state.chip.cells[0x0FFE] = 0x00;
    state.chip.cells[0x0FFF] = 0x2A;
    EXPECT_TRUE(Run("expect-id FFD 65578"));
    EXPECT_TRUE(Run("expect-id 0x0FFD 0x01002A"));
    EXPECT_FALSE(Run("expect-id FFD 42"));
    EXPECT_EQ(error, "ID code at 00FFD is 65578, expected 42");

    sim::DirectoryBlock& b = state.blocks[4];
    EXPECT_TRUE(Run("expect-block 5 none"));
    b.holdsFile = true;
    b.code = {0x01, 0x02};
    std::string name = "app.hex", chip = "S3F9454";
    std::copy(name.begin(), name.end(), b.config.begin());
    std::copy(chip.begin(), chip.end(), b.config.begin() + 16);
    EXPECT_TRUE(Run("expect-block 5 app.hex S3F9454 0003"));
    EXPECT_FALSE(Run("expect-block 5 app.hex S3F9454 0004"));
    EXPECT_EQ(error, "block 5 checksum is 0003, expected 0004");
    EXPECT_FALSE(Run("expect-block 5 main.hex S3F9454 0003"));
    EXPECT_EQ(error, "block 5 file name is \"app.hex\", expected \"main.hex\"");
    EXPECT_FALSE(Run("expect-block 5 none"));
    EXPECT_FALSE(Run("expect-block 6 app.hex S3F9454 0003"));
    EXPECT_EQ(error, "block 6 holds no file");
}

TEST_F(SimCommands, LogPrintsOneLinePerSession) {
    state.log.push_back({op::kProgram, 0, 0, 0x1FFF});
    state.log.push_back({op::kReadFileInfo, 15, 0x10, 0xFFFFF});
    EXPECT_TRUE(Run("log"));
    EXPECT_EQ(output, "op 7 block 0 00000-01FFF\nop 21 block 15 00010-FFFFF");
}

}  // namespace
}  // namespace veldrix::test
