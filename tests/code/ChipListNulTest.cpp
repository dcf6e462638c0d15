#include <gtest/gtest.h>

#include <string>

#include "code/ChipCatalogue.h"
#include "state/ControlIds.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

using namespace std::string_literals;

TEST(ChipListNul, LineEndsAtItsFirstNul) {
    EXPECT_EQ(SplitFields("S3F9454,MTP\0,DIP20,12V,5V,1\r\n"s), (std::vector<std::string>{"S3F9454", "MTP"}));
    EXPECT_TRUE(SplitFields("\0S3F9454,MTP,DIP20,12V,5V,1"s).empty());
    // Trailing NULs, as a fixed-size line leaves them, still change nothing.
    EXPECT_EQ(SplitFields("a,b\r\n\0\0"s), (std::vector<std::string>{"a", "b"}));
}

TEST(ChipListNul, NoChipNameHoldsANul) {
    ChipCatalogue c;
    // The first line would make a chip whose list entry reads "" while its
    // name is three bytes long: it could be shown but never selected.
    uint32_t n = ParseChipList("\0`\x04 \xa0 \xff \xa0 \xff \xff \n"
                               "S3F9\0" "454,MTP,DIP20,12V,5V,1\n"
                               "S3C9442,OTP,DIP20,12V,5V,1\0junk\n"s,
                               c);
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(c.records[0].name, "S3C9442");
    EXPECT_EQ(c.records[0].vdd, "5V");
}

TEST(ChipListNul, EveryEntryShownSelectsItsOwnChip) {
    test::TestApp app;
    app.CreateControls();
    ParseChipList("NOSELEC,-,-,-,-,0\nS3F9454,MTP,DIP20,12V,5V,1\nS3C\0" "9442,OTP,DIP20,12V,5V,1\n"
                  "S3C8275,OTP,QFP44,12V,3V,1\n"s,
                  app.ctx.catalogue);
    app.ctx.catalogue.loaded = true;
    FillChipCombo(app.ctx);
    ASSERT_EQ(app.ui.ComboCount(id::kChipCombo), 3);
    for (int i = 0; i < 3; ++i) {
        app.ui.ComboSelect(id::kChipCombo, i);
        // The entry as a window list would hold it: up to a NUL.
        std::string shown = app.ui.ComboEntry(id::kChipCombo, i);
        shown = shown.substr(0, shown.find('\0'));
        EXPECT_EQ(app.ctx.catalogue.records[unsigned(i)].name, shown);
        EXPECT_EQ(FindSelectedChip(app.ctx), unsigned(i));
    }
}

}  // namespace
}  // namespace veldrix
