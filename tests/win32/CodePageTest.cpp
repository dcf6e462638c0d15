// Text at the edges in the system's ANSI code page: the password on the wire
// and the chip list. The prefix may run in any locale, so each check holds in
// whatever CP_ACP is, and in GBK (936) names the exact bytes.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "code/ChipCatalogue.h"
#include "link/PasswordCheck.h"
#include "platform/win32/Text.h"
#include "state/ControlIds.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

const bool kGbk = GetACP() == 936;

struct App : test::TestAppOf<> {
    App() { CreateControls(); }
};

TEST(CodePage, GbkBytesAndCharactersCutShortAtTheEnd) {
    EXPECT_EQ(ToCodePage("1密码密码", 936), "1\xC3\xDC\xC2\xEB\xC3\xDC\xC2\xEB");
    EXPECT_EQ(FromCodePage("1\xC3\xDC\xC2\xEB\xC3\xDC\xC2", 936), "1密码密");  // no stray sign for the half
    // The trail byte of 泽 (D4 F3) could lead a character of its own.
    EXPECT_EQ(FromCodePage("\xD4\xF3", 936), "泽");
    EXPECT_EQ(FromCodePage("AB\xD4", 936), "AB");
    EXPECT_EQ(FromCodePage("泽木\xE6\xB3", CP_UTF8), "泽木");
    EXPECT_EQ(FromCodePage("abc", 1252), "abc");
}

TEST(CodePage, PasswordTravelsAsItsFirstEightBytesInTheSystemCodePage) {
    App app;
    app.ui.QueuePassword("1密码密码");
    ASSERT_TRUE(AcquireOperationPassword(app.ctx));
    const auto& b = app.ctx.block.bytes;
    std::string sent(b.begin() + cb::kPassword, b.begin() + cb::kPassword + 8);
    std::string expected = ToCodePage("1密码密码", CP_ACP).substr(0, 8);
    expected.resize(8, '\0');
    EXPECT_EQ(sent, expected);
    // In GBK the eighth byte is half of the last character: it still travels.
    if (kGbk) {
        EXPECT_EQ(sent, "1\xC3\xDC\xC2\xEB\xC3\xDC\xC2");
    }
}

TEST(CodePage, ChipListLineIsMeasuredInTheSystemCodePage) {
    const std::string lines[] = {"泽木芯片S3F9454XYZ", "S3F9454ABCDEFG泽"};
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("veldrix-codepage-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    std::string file = "NOSELEC,-,-,-,-,0\r\n";
    for (const std::string& name : lines) file += name + ",MTP,DIP20,12V,5V,1\r\n";
    std::ofstream(dir / "samlist.txt", std::ios::binary) << ToCodePage(file, CP_ACP);

    App app;
    app.settings.values["setup"] = Narrow(dir.wstring());
    LoadChipCatalogue(app.ctx);
    FillChipCombo(app.ctx);
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(app.ctx.catalogue.loaded);
    ASSERT_EQ(app.ctx.catalogue.count, 3u);
    for (unsigned i = 1; i < 3; ++i) {
        const std::string& name = app.ctx.catalogue.records[i].name;
        // At most 15 bytes in the code page, whole characters of what the
        // file holds, and no character more would have fitted.
        std::wstring held = Widen(FromCodePage(ToCodePage(lines[i - 1], CP_ACP), CP_ACP));
        std::wstring shown = Widen(name);
        EXPECT_LE(ToCodePage(name, CP_ACP).size(), 15u) << name;
        ASSERT_EQ(held.compare(0, shown.size(), shown), 0) << name;
        if (shown.size() < held.size()) {
            EXPECT_GT(ToCodePage(Narrow(held.substr(0, shown.size() + 1)), CP_ACP).size(), 15u) << name;
        }
        // The list shows it and choosing it finds the chip.
        app.ui.ComboSelect(id::kChipCombo, int(i));
        EXPECT_EQ(app.ui.GetText(id::kChipCombo), name);
        EXPECT_EQ(FindSelectedChip(app.ctx), i);
    }
    if (kGbk) {
        EXPECT_EQ(app.ctx.catalogue.records[1].name, "泽木芯片S3F9454");  // 8 + 7 bytes
        EXPECT_EQ(app.ctx.catalogue.records[2].name, "S3F9454ABCDEFG");  // 泽 would be bytes 15 and 16
    }
}

}  // namespace
}  // namespace veldrix
