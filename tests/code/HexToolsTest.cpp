// HEX files written by other tools load into the same image as the binary.
#include <gtest/gtest.h>

#include <cstdlib>

#include "state/ControlIds.h"
#include "code/CodeBuffer.h"
#include "code/CodeFile.h"
#include "code/Fields.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

bool RunTool(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

class HexTools : public ::testing::TestWithParam<size_t> {
protected:
    void SetUp() override {
        app.CreateControls();
        image.resize(GetParam());
        uint32_t seed = uint32_t(GetParam());
        for (auto& b : image) b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
        binPath = dir.Write("image.bin", std::string(image.begin(), image.end()));
    }

    // Loads a HEX file through the dispatcher and checks it against the binary.
    void ExpectSameAsBinary(const std::string& hexPath) {
        app.ui.SetText(id::kCodeFile, hexPath);
        LoadCodeFile(app.ctx);
        ASSERT_EQ(app.ctx.LinkErrorFlag, 0) << app.ui.GetText(id::kStatusLine);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), app.ctx.codeBuffer.begin()));
        EXPECT_TRUE(std::all_of(app.ctx.codeBuffer.begin() + long(image.size()), app.ctx.codeBuffer.end(),
                                [](uint8_t b) { return b == 0xFF; }));
        // Never wrapped round: a file over 64 KB programs up to 0xFFFF.
        uint32_t end = uint32_t(std::min<size_t>(image.size(), 0x10000) - 1);
        EXPECT_EQ(app.ctx.programmingRange, (AddressRange{0, end}));
        EXPECT_EQ(app.ui.GetText(id::kEndAddress), Hex(end, 4));
        EXPECT_EQ(app.ui.GetText(id::kChecksum), Hex(CodeChecksum(image, 0, end), 4));
        auto hexImage = app.ctx.codeBuffer;

        // The binary itself gives the same result.
        app.ui.SetText(id::kCodeFile, binPath);
        LoadCodeFile(app.ctx);
        ASSERT_EQ(app.ctx.LinkErrorFlag, 0);
        EXPECT_TRUE(app.ctx.codeBuffer == hexImage);
        EXPECT_EQ(app.ctx.programmingRange, (AddressRange{0, end}));
    }

    test::TestApp app;
    test::TempDir dir;
    std::vector<uint8_t> image;
    std::string binPath;
};

TEST_P(HexTools, Objcopy) {
    if (!HaveTool("objcopy")) GTEST_SKIP() << "objcopy (GNU binutils) is not installed";
    std::string hex = dir.File("objcopy.hex");
    ASSERT_TRUE(RunTool("objcopy -I binary -O ihex '" + binPath + "' '" + hex + "'"));
    ExpectSameAsBinary(hex);
}

TEST_P(HexTools, SrecCat) {
    if (!HaveTool("srec_cat")) GTEST_SKIP() << "srec_cat (srecord) is not installed";
    std::string hex = dir.File("srec.hex");
    ASSERT_TRUE(RunTool("srec_cat '" + binPath + "' -binary -o '" + hex + "' -intel"));
    ExpectSameAsBinary(hex);
}

// 8 KB in one segment; 96 KB crosses into linear-address records.
INSTANTIATE_TEST_SUITE_P(Sizes, HexTools, ::testing::Values(size_t(0x2000), size_t(0x18000)));

}  // namespace
}  // namespace veldrix
