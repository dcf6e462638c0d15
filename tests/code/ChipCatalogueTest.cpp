#include <gtest/gtest.h>

#include <set>

#include "code/ChipCatalogue.h"
#include "state/ControlIds.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

TEST(ChipListParsing, SplitsOnRunsOfSeparatorsAndCutsLongFields) {
    EXPECT_EQ(SplitFields("  S3F9454, MTP;;x\t12V:5V 1\r\n"),
              (std::vector<std::string>{"S3F9454", "MTP", "x", "12V", "5V", "1"}));
    // A separator at the very end gives one further, empty field.
    EXPECT_EQ(SplitFields("a,b,c,d,e,"), (std::vector<std::string>{"a", "b", "c", "d", "e", ""}));
    EXPECT_EQ(SplitFields("a,b,c,d,e,  ;"), (std::vector<std::string>{"a", "b", "c", "d", "e", ""}));
    // More than 15 characters: the rest of the field is dropped, no new field.
    EXPECT_EQ(SplitFields("ABCDEFGHIJKLMNOPQRS,x"), (std::vector<std::string>{"ABCDEFGHIJKLMNO", "x"}));
    // Bytes of the system code page (UTF-8 here), cut between characters.
    EXPECT_EQ(SplitFields("泽木ABCDEFGHI,x"), (std::vector<std::string>{"泽木ABCDEFGHI", "x"}));
    EXPECT_EQ(SplitFields("ABCDEFGHIJKLMN泽,x"), (std::vector<std::string>{"ABCDEFGHIJKLMN", "x"}));
    EXPECT_TRUE(SplitFields(" ,;\r\n").empty());
    EXPECT_TRUE(SplitFields(std::string("\0\0", 2)).empty());
}

TEST(ChipListParsing, AcceptsSixFieldLinesExceptStatusFour) {
    ChipCatalogue c;
    uint32_t n = ParseChipList(
        "NOSELEC,-,-,-,-,0\n"
        "s3f9454,mtp,dip20,12v,5v,1\n"
        "S3C9442,OTP,DIP20,12V,5V,4\n"   // hidden by its status
        "S3C9444,OTP,DIP20,12V,5V,\n"    // trailing comma: six fields
        "S3C9228 OTP DIP 12V 5V\n"       // five fields: skipped
        "S3F8275,MTPLONGERTYPE,QFP44,11V,3V,1,extra\n",
        c);
    ASSERT_EQ(n, 4u);
    EXPECT_EQ(c.records[1].name, "S3F9454");
    EXPECT_EQ(c.records[1].memoryType, "MTP");  // lower case in the file is recognised
    EXPECT_EQ(c.records[1].vpp, "12V");
    EXPECT_EQ(c.records[2].name, "S3C9444");
    EXPECT_EQ(c.records[3].memoryType, "MTPLONG");  // kept to its 7-character slot
    EXPECT_EQ(c.records[4].name, "");               // unused slots stay empty
}

TEST(ChipListParsing, LongPhysicalLinesArriveInPiecesAndTheTableStopsAt256) {
    ChipCatalogue c;
    // 127 characters per read: the second piece of this line is a line of its own.
    std::string longLine = "S3F9454,MTP,DIP20,12V,5V,1" + std::string(101, ' ') + "S3C9454,OTP,DIP20,12V,5V,1\n";
    EXPECT_EQ(ParseChipList(longLine, c), 2u);
    EXPECT_EQ(c.records[1].name, "S3C9454");
    // A character the 127th byte would cut in two begins the next piece whole.
    std::string splitLine = "S3F9454,MTP,DIP20,12V,5V,1" + std::string(100, ' ') + "泽S3C,OTP,DIP20,12V,5V,1\n";
    EXPECT_EQ(ParseChipList(splitLine, c), 2u);
    EXPECT_EQ(c.records[1].name, "泽S3C");

    std::string many;
    for (int i = 0; i < 300; ++i) many += "CHIP" + std::to_string(i) + ",MTP,X,12V,5V,1\n";
    EXPECT_EQ(ParseChipList(many, c), 256u);
    EXPECT_EQ(c.records[255].name, "CHIP255");
}

TEST(ChipRomSize, SeventhCharacterDecides) {
    EXPECT_EQ(MaxRomAddressForName("S3C9442"), 0x07FFu);
    EXPECT_EQ(MaxRomAddressForName("S3F9454"), 0x0FFFu);
    EXPECT_EQ(MaxRomAddressForName("S3C9228"), 0x1FFFu);
    EXPECT_EQ(MaxRomAddressForName("S3F8285"), 0x3FFFu);
    EXPECT_EQ(MaxRomAddressForName("S3C8247"), 0x5FFFu);
    EXPECT_EQ(MaxRomAddressForName("S3C8249"), 0x7FFFu);
    EXPECT_EQ(MaxRomAddressForName("S3F80JA"), 0xBFFFu);
    EXPECT_EQ(MaxRomAddressForName("S3F866B"), 0xFFFFu);
    EXPECT_EQ(MaxRomAddressForName("S3F94"), 0xFFFFu);
    EXPECT_EQ(MaxRomAddressForName("NOSELEC"), 0xFFFFu);
}

class ChipSelection : public ::testing::Test {
protected:
    void SetUp() override {
        app.CreateControls();
        app.UseChips({{"NOSELEC", "", "", "", ""},
                      {"S3F9454", "MTP", "DIP20", "12V", "5V"},
                      {"S3C9228", "OTP", "SOP32", "11V", "5V"},
                      {"S3F80L4", "MTP", "SOP20", "VCC", "3V"}});
    }
    void Choose(const std::string& name) {
        ASSERT_TRUE(app.ui.ApplyComboChoice(id::kChipCombo, name));
        ApplyChipSelection(app.ctx);
    }
    bool On(int id) { return app.ui.IsChecked(id); }
    bool Enabled(int id) { return app.ui.IsEnabled(id); }
    test::TestApp app;
};

TEST_F(ChipSelection, MtpChipAt12VoltsAndFiveVoltSupply) {
    Choose("S3F9454");
    EXPECT_TRUE(On(id::kMtp) && Enabled(id::kMtp));
    EXPECT_FALSE(On(id::kOtp) || Enabled(id::kOtp));
    EXPECT_EQ(app.ui.GetText(id::kVppField), "12.0");
    EXPECT_TRUE(On(id::kVpp12) && Enabled(id::kVpp12));
    EXPECT_FALSE(Enabled(id::kVpp11) || Enabled(id::kVppVcc));
    EXPECT_EQ(app.ui.GetText(id::kVddField), "5.0");
    EXPECT_TRUE(On(id::kVdd50) && Enabled(id::kVdd50) && Enabled(id::kVdd33));
    EXPECT_EQ(app.ui.GetText(id::kEndAddress), "0FFF");
    EXPECT_TRUE(On(id::kEnableSmart) && Enabled(id::kEnableSmart) && Enabled(id::kEraseMtp));
    EXPECT_FALSE(On(id::kAutoBlankCheck) || On(id::kAutoLdc) || On(id::kAutoHwProtect));
    EXPECT_TRUE(On(id::kAutoVerify) && On(id::kAutoReadProtect));
    EXPECT_EQ(FindSelectedChip(app.ctx), 1u);
    EXPECT_EQ(ChipMaxRomAddress(app.ctx), 0x0FFFu);
}

TEST_F(ChipSelection, OtpChipDisablesMtpOnlyOptions) {
    Choose("S3C9228");
    EXPECT_TRUE(On(id::kOtp) && !Enabled(id::kMtp));
    EXPECT_EQ(app.ui.GetText(id::kVppField), "11.0");
    EXPECT_TRUE(On(id::kVpp11) && !On(id::kVpp12));
    EXPECT_FALSE(Enabled(id::kAutoHwProtect) || Enabled(id::kEnableSmart) || Enabled(id::kEraseMtp) ||
                 Enabled(id::kHwProtect));
    EXPECT_TRUE(On(id::kAutoBlankCheck));
    EXPECT_EQ(app.ui.GetText(id::kEndAddress), "1FFF");
}

TEST_F(ChipSelection, VccChipWithThreeVoltSupplyOffersOnlyThreeVolts) {
    Choose("S3F80L4");
    EXPECT_EQ(app.ui.GetText(id::kVppField), "VCC");
    EXPECT_TRUE(On(id::kVppVcc) && Enabled(id::kVppVcc));
    EXPECT_FALSE(Enabled(id::kVpp12) || Enabled(id::kVpp11));
    EXPECT_EQ(app.ui.GetText(id::kVddField), "3.3");
    EXPECT_TRUE(On(id::kVdd33) && !Enabled(id::kVdd50) && !On(id::kVdd50));
}

TEST_F(ChipSelection, FirstEntryRestoresTheDefaults) {
    Choose("S3C9228");
    Choose("NOSELEC");
    EXPECT_TRUE(On(id::kMtp) && Enabled(id::kMtp) && Enabled(id::kOtp) && !On(id::kOtp));
    EXPECT_TRUE(On(id::kVpp12) && On(id::kVdd50));
    EXPECT_TRUE(Enabled(id::kVpp11) && Enabled(id::kVppVcc) && Enabled(id::kVdd33));
    EXPECT_EQ(app.ui.GetText(id::kVppField), "12.0");
    EXPECT_EQ(app.ui.GetText(id::kVddField), "5.0");
    EXPECT_EQ(app.ui.GetText(id::kEndAddress), "0FFF");
}

TEST_F(ChipSelection, NoSelectionCountsAsNoChip) {
    app.ui.ComboSelect(id::kChipCombo, -1);
    EXPECT_EQ(FindSelectedChip(app.ctx), 0u);
}

TEST_F(ChipSelection, ChipTypeOverrideAndVoltageClicks) {
    Choose("S3F9454");
    OnChipTypeClicked(app.ctx, ChipType::Otp);
    EXPECT_FALSE(Enabled(id::kAutoLdc) || Enabled(id::kEnableSmart) || Enabled(id::kLdcProtect) ||
                 Enabled(id::kVdd33) || Enabled(id::kVppVcc));
    EXPECT_TRUE(On(id::kVdd50) && On(id::kVpp12) && Enabled(id::kVpp12));
    EXPECT_EQ(app.ui.GetText(id::kVddField), "5.0");
    OnChipTypeClicked(app.ctx, ChipType::Mtp);
    EXPECT_TRUE(Enabled(id::kAutoLdc) && Enabled(id::kAutoIdIncrement) && Enabled(id::kLdcProtect) &&
                Enabled(id::kVdd33) && Enabled(id::kVppVcc));
    OnVoltageClicked(app.ctx, id::kVppVcc);
    EXPECT_EQ(app.ui.GetText(id::kVppField), "VCC");
    OnVoltageClicked(app.ctx, id::kVpp11);
    EXPECT_EQ(app.ui.GetText(id::kVppField), "11.0");
    OnVoltageClicked(app.ctx, id::kVdd33);
    EXPECT_EQ(app.ui.GetText(id::kVddField), "3.3");
}

TEST_F(ChipSelection, PrefixSearchStartsAfterTheFirstEntryAndFallsBack) {
    EXPECT_EQ(FindChipEntryByPrefix(app.ctx, "s3f9"), 1);
    EXPECT_EQ(FindChipEntryByPrefix(app.ctx, "S3C"), 2);
    EXPECT_EQ(FindChipEntryByPrefix(app.ctx, "NOSE"), 0);  // wraps round to the first entry
    EXPECT_EQ(FindChipEntryByPrefix(app.ctx, "S3X"), 0);   // unknown: "NOSELEC"
    app.UseChips({{"S3F9454", "MTP", "", "12V", "5V"}, {"S3C9228", "OTP", "", "12V", "5V"}});
    EXPECT_EQ(FindChipEntryByPrefix(app.ctx, "S3X"), 0);  // no "NOSELEC" either: the first entry, no endless search
}

TEST(ChipCatalogueLoading, MessagesForMissingKeyAndMissingFile) {
    test::TestApp app;
    app.CreateControls();
    app.settings.present = false;
    LoadChipCatalogue(app.ctx);
    ASSERT_TRUE(app.ui.LastBox());
    EXPECT_EQ(app.ui.LastBox()->spec.text, "调入VELDRIX安装注册信息失败!");
    EXPECT_FALSE(app.ctx.catalogue.loaded);

    app.settings.present = true;
    app.settings.values["setup"] = "/nonexistent/veldrix";
    LoadChipCatalogue(app.ctx);
    EXPECT_EQ(app.ui.LastBox()->spec.text, "调入指定安装路径的烧写器芯片列表文件失败!");
    EXPECT_EQ(app.ui.LastBox()->spec.caption, "警告");
    FillChipCombo(app.ctx);
    EXPECT_EQ(app.ui.ComboCount(id::kChipCombo), 1);
    EXPECT_EQ(app.ui.GetText(id::kChipCombo), "NOSELEC");
}

TEST(ChipCatalogueLoading, ShippedListCoversEveryRomSizeRow) {
    test::TestApp app;
    app.settings.values["setup"] = VELDRIX_SOURCE_DIR "/resources";
    LoadChipCatalogue(app.ctx);
    ASSERT_TRUE(app.ctx.catalogue.loaded);
    EXPECT_EQ(app.ctx.catalogue.records[0].name, "NOSELEC");
    std::set<uint32_t> sizes;
    bool otp = false, mtp = false, threeVolt = false, vcc = false, elevenVolt = false;
    for (uint32_t i = 1; i < app.ctx.catalogue.count; ++i) {
        const ChipRecord& r = app.ctx.catalogue.records[i];
        sizes.insert(MaxRomAddressForName(r.name));
        (r.memoryType == "MTP" ? mtp : otp) = true;
        threeVolt |= r.vdd == "3V";
        vcc |= r.vpp != "12V" && r.vpp != "11V";
        elevenVolt |= r.vpp == "11V";
    }
    EXPECT_EQ(sizes.size(), 8u);
    EXPECT_TRUE(otp && mtp && threeVolt && vcc && elevenVolt);
}

}  // namespace
}  // namespace veldrix
