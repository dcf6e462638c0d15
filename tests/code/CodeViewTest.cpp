// The paged code view and the single-byte edit, against the simulated programmer.
#include <gtest/gtest.h>

#include <functional>

#include "state/ControlIds.h"
#include "code/CodeView.h"
#include "ops/CodePages.h"
#include "code/Fields.h"
#include "link/Session.h"
#include "link/Worker.h"
#include "tests/support/LinkedApp.h"
#include "tests/support/TestApp.h"
#include "state/OpCodes.h"

namespace veldrix {
namespace {

const char* const kRefusedChip = "不能改变芯片代码数据!";
const char* const kRefusedAscii = "不能在ASCII码方式改变代码!";

uint8_t Pattern(uint32_t a) { return uint8_t(a ^ (a >> 8) ^ (a >> 16) ^ 0x3C); }

std::string Section(const std::string& from, const std::string& to) { return "当前显示代码区段:  " + from + "~" + to; }

class CodeView : public ::testing::Test {
protected:
    void SetUp() override {
        app.Start();
        ASSERT_EQ(app.ctx.ConnectedFlag, 1);
        {
            std::lock_guard lock(app.prog.state.mutex);
            for (uint32_t a = 0; a < sim::kMemorySize; ++a) app.prog.state.memory[a] = Pattern(a);
        }
        ClearLog();
        app.Click(id::kShowMemory);
    }

    void ClearLog() {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.log.clear();
    }
    // The data reads the unit took up, as "op start-end".
    std::vector<std::string> Reads() {
        std::lock_guard lock(app.prog.state.mutex);
        std::vector<std::string> out;
        for (const sim::LogEntry& e : app.prog.state.log)
            if (e.opCode == op::kReadMemory || e.opCode == op::kReadChip || e.opCode == op::kOfflineRead)
                out.push_back(std::to_string(e.opCode) + " " + Hex(e.start, 5) + "-" + Hex(e.end, 5));
        return out;
    }
    std::string Cell(int row, int column) { return app.ui.ListCell(id::kCodeList, row, column); }
    void GoTo(const std::string& typed) {
        app.ui.SetText(id::kViewAddress, typed);
        app.Click(id::kViewSet);
    }
    // Row labels from first on, and every cell as byteAt gives it.
    void ExpectPage(uint32_t first, const std::function<std::string(uint32_t)>& cellAt) {
        for (int r = 0; r < 16; ++r) {
            ASSERT_EQ(Cell(r, 0), Hex(first + 16 * uint32_t(r), 5)) << "row " << r;
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(Cell(r, x + 1), cellAt(first + 16 * uint32_t(r) + uint32_t(x))) << "row " << r << " col " << x;
        }
    }
    void ExpectMemoryPage(uint32_t first) {
        ExpectPage(first, [](uint32_t a) { return Hex(Pattern(a), 2); });
    }
    bool StatusSeen(const std::string& text) {
        for (const std::string& s : app.ui.StatusHistory())
            if (s == text) return true;
        return false;
    }

    test::LinkedApp app;
};

TEST_F(CodeView, OpeningShowsTheFirstPageOfProgrammerMemory) {
    EXPECT_TRUE(app.ui.IsVisible(id::kCodeList));
    EXPECT_FALSE(app.ui.IsVisible(id::kOperationsGroup));
    ExpectMemoryPage(0);
    EXPECT_EQ(Reads(), (std::vector<std::string>{"5 00000-000FF"}));
    EXPECT_EQ(app.Status(), Section("00000", "000FF"));
    EXPECT_TRUE(StatusSeen("调入代码......"));
    EXPECT_EQ(app.ui.GetText(id::kViewAddress), "00000");
    EXPECT_EQ(app.ctx.BusyFlag, 0);
    EXPECT_FALSE(app.ui.Locked(id::kViewChip));
}

TEST_F(CodeView, PagesWrapBelowZeroAndStopAtTheLastPage) {
    app.Click(id::kPrevPage);
    ExpectMemoryPage(0xFFF00);
    EXPECT_EQ(app.Status(), Section("FFF00", "FFFFF"));
    EXPECT_EQ(app.ui.GetText(id::kViewAddress), "FFF00");

    ClearLog();
    app.Click(id::kNextPage);
    ExpectMemoryPage(0xFFF00);
    EXPECT_EQ(app.Status(), Section("FFF00", "FFFFF"));
    EXPECT_EQ(Reads(), (std::vector<std::string>{"5 FFF00-FFFFF"}));

    GoTo("00100");
    app.Click(id::kNextPage);
    ExpectMemoryPage(0x200);
    app.Click(id::kPrevPage);
    app.Click(id::kPrevPage);
    ExpectMemoryPage(0);
}

TEST_F(CodeView, ATypedAddressIsAlignedToSixteenBytesAndEmptyMeansZero) {
    GoTo("1FFF5");
    ExpectMemoryPage(0x1FFF0);
    EXPECT_EQ(app.Status(), Section("1FFF0", "200EF"));
    EXPECT_EQ(app.ui.GetText(id::kViewAddress), "1FFF0");
    EXPECT_EQ(Reads().back(), "5 1FFF0-200EF");

    GoTo("12345");
    EXPECT_EQ(app.Status(), Section("12340", "1243F"));
    GoTo("fffff");
    EXPECT_EQ(app.Status(), Section("FFF00", "FFFFF"));
    GoTo("abcd");
    EXPECT_EQ(app.ui.GetText(id::kViewAddress), "0ABC0");
    // Longer than five digits: the last five count.
    GoTo("7000120");
    EXPECT_EQ(app.Status(), Section("00120", "0021F"));
    // An empty field and one of more than 40 characters both mean 0.
    GoTo(std::string(41, '1'));
    EXPECT_EQ(app.Status(), Section("00000", "000FF"));
    GoTo("00500");
    GoTo("");
    EXPECT_EQ(app.Status(), Section("00000", "000FF"));
    EXPECT_EQ(app.ui.GetText(id::kViewAddress), "00000");
}

TEST_F(CodeView, AnAddressThatIsNotHexLeavesThePageAsItWas) {
    GoTo("00300");
    ClearLog();
    GoTo("12G45");
    EXPECT_EQ(app.Status(), "显示代码设置地址错误.");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.viewAddress, 0x300u);
    EXPECT_TRUE(Reads().empty());
    ExpectMemoryPage(0x300);
    // The next page goes on from where the view was.
    app.Click(id::kNextPage);
    EXPECT_EQ(app.Status(), Section("00400", "004FF"));
}

TEST_F(CodeView, AsciiModeShowsOnlyPrintableCharacters) {
    {
        std::lock_guard lock(app.prog.state.mutex);
        const uint8_t bytes[] = {0x41, 0x20, 0x7F, 0x21, 0x7E, 0x00, 0x80, 0x30};
        std::copy(std::begin(bytes), std::end(bytes), app.prog.state.memory.begin() + 0x40);
    }
    GoTo("00040");
    app.Click(id::kViewAscii);
    const char* const want[] = {"A", "", "", "!", "~", "", "", "0"};
    for (int x = 0; x < 8; ++x) EXPECT_EQ(Cell(0, x + 1), want[x]) << x;
    EXPECT_EQ(Cell(0, 0), "00040");
    EXPECT_EQ(app.Status(), Section("00040", "0013F"));

    app.Click(id::kViewAscii);  // off again
    EXPECT_EQ(Cell(0, 1), "41");
    EXPECT_EQ(Cell(0, 2), "20");
    EXPECT_EQ(Cell(0, 3), "7F");
}

TEST_F(CodeView, TheChipViewReadsTheSocketAndAFailedReadShowsEmptyCells) {
    {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.chip = sim::Chip::Blank(sim::ChipKind::Otp, 0x1000);
        for (uint32_t a = 0; a < 0x1000; ++a) app.prog.state.chip.cells[a] = uint8_t(~Pattern(a));
    }
    GoTo("00800");
    ClearLog();
    app.Click(id::kViewChip);
    EXPECT_EQ(app.ui.GetText(id::kViewGroup), "芯片代码视图");
    ExpectPage(0x800, [](uint32_t a) { return Hex(uint8_t(~Pattern(a)), 2); });
    EXPECT_EQ(Reads(), (std::vector<std::string>{"14 00800-008FF"}));

    {
        std::lock_guard lock(app.prog.state.mutex);
        app.prog.state.chip = sim::Chip{};
    }
    app.Click(id::kNextPage);
    // The status line keeps what went wrong, not the page it could not show.
    EXPECT_EQ(app.Status(), "读取数据错误");
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    ExpectPage(0x900, [](uint32_t) { return std::string(); });

    app.Click(id::kViewMemory);
    EXPECT_EQ(app.ui.GetText(id::kViewGroup), "编程内存代码视图");
    ExpectMemoryPage(0x900);
}

TEST_F(CodeView, TheMasterViewReadsTheSelectedDirectoryBlock) {
    {
        std::lock_guard lock(app.prog.state.mutex);
        sim::DirectoryBlock& block = app.prog.state.blocks[2];
        block.holdsFile = true;
        block.start = 0;
        block.end = 0x1FF;
        block.code.assign(0x200, 0);
        for (uint32_t a = 0; a < 0x200; ++a) block.code[a] = uint8_t(a * 3);
    }
    ASSERT_GE(app.ui.ComboCount(id::kDirectory), 3);
    app.ui.ComboSelect(id::kDirectory, 2);
    app.ui.QueuePassword(std::string(sim::kFactoryPassword));
    app.ui.QueueAnswer(MsgAnswer::No);  // do not remember the password
    GoTo("00100");
    ClearLog();
    app.Click(id::kViewMaster);
    EXPECT_EQ(app.ui.GetText(id::kViewGroup), "母片代码视图");
    EXPECT_EQ(Reads(), (std::vector<std::string>{"20 00100-001FF"}));
    {
        std::lock_guard lock(app.prog.state.mutex);
        EXPECT_EQ(app.prog.state.log.back().block, 3);  // the third entry of "选择目录:"
    }
    ExpectPage(0x100, [](uint32_t a) { return Hex(uint8_t(a * 3), 2); });
    EXPECT_EQ(app.Status(), Section("00100", "001FF"));
}

TEST_F(CodeView, DebugModeShowsTheCodeBufferInsteadOfProgrammerMemory) {
    app.ui.SetChecked(id::kDebugMode, true);
    for (uint32_t a = 0x100; a < 0x200; ++a) app.ctx.codeBuffer[a] = uint8_t(a * 5);
    ClearLog();
    GoTo("00100");
    ExpectPage(0x100, [](uint32_t a) { return Hex(uint8_t(a * 5), 2); });
    EXPECT_TRUE(Reads().empty());
    EXPECT_EQ(app.Status(), Section("00100", "001FF"));
}

TEST_F(CodeView, EveryOtherViewCodeShowsTheSamePageAgain) {
    GoTo("00700");
    for (int code : std::initializer_list<int>{op::kShowMemory, op::kViewAscii, op::kViewMemory, 68, 200, 255}) {
        SCOPED_TRACE(code);
        ClearLog();
        app.worker.StartOperation(code);
        EXPECT_EQ(Reads().size(), 1u);
        EXPECT_EQ(app.Status(), Section("00700", "007FF"));
    }
    // Without a programmer the routine leaves the view alone.
    app.ctx.ConnectedFlag = 0;
    ClearLog();
    std::string before = app.Status();
    ShowCodePage(app.ctx, op::kNextPage);
    EXPECT_EQ(app.ctx.viewAddress, 0x700u);
    EXPECT_EQ(app.Status(), before);
    EXPECT_TRUE(Reads().empty());
}

// The edit dialog as the user fills it in, remembering what it was shown.
class EditUi : public HeadlessUi {
public:
    std::vector<std::pair<std::string, std::string>> shown;  // value, address
    const std::atomic<int>* busyFlag = nullptr;
    std::vector<int> busyWhileShown;  // no link check may start under the dialog
    std::optional<std::string> EditCodeDialog(const std::string& value, const std::string& address) override {
        shown.push_back({value, address});
        if (busyFlag) busyWhileShown.push_back(busyFlag->load());
        return HeadlessUi::EditCodeDialog(value, address);
    }
};

class CodeViewEdit : public ::testing::Test {
protected:
    void SetUp() override {
        app.CreateControls();
        app.ui.busyFlag = &app.ctx.BusyFlag;
        InitCodeView(app.ctx);
        app.ctx.ConnectedFlag = 1;
        app.ui.SetChecked(id::kDebugMode, true);
        for (uint32_t a = 0x120; a < 0x220; ++a) app.ctx.codeBuffer[a] = uint8_t(a);
        app.ui.SetText(id::kViewAddress, "00120");
        ShowCodePage(app.ctx, op::kViewSet);
        ASSERT_EQ(Cell(0, 0), "00120");
    }
    std::string Cell(int row, int column) { return app.ui.ListCell(id::kCodeList, row, column); }
    // The dialog answers with entry (nothing: Cancel) for the cell.
    void Edit(int row, int column, std::optional<std::string> entry) {
        app.ui.QueueEdit(entry);
        EditCodeByte(app.ctx, row, column);
    }

    test::TestAppOf<EditUi> app;
};

TEST_F(CodeViewEdit, AnEnteredValueGoesIntoTheCodeBufferAndTheCell) {
    Edit(0, 11, "5");  // row 00120, column A
    ASSERT_EQ(app.ui.shown.size(), 1u);
    EXPECT_EQ(app.ui.shown[0], (std::pair<std::string, std::string>{"2A", "0012A"}));
    EXPECT_EQ(app.ui.busyWhileShown, std::vector<int>{1});
    EXPECT_EQ(app.ctx.codeBuffer[0x12A], 0x05);
    EXPECT_EQ(Cell(0, 11), "05");
    EXPECT_EQ(app.ctx.codeBuffer[0x129], 0x29);
    EXPECT_EQ(app.ctx.codeBuffer[0x12B], 0x2B);
    EXPECT_EQ(app.ctx.block[cb::kDataByte], 0x05);
    EXPECT_EQ(app.ctx.block.Get24(cb::kStartAddress), 0x12Au);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
    EXPECT_EQ(app.ctx.BusyFlag, 0);
    EXPECT_EQ(app.ui.Boxes().size(), 0u);

    // Shown again from the buffer, the change is there.
    ShowCodePage(app.ctx, op::kShowMemory);
    EXPECT_EQ(Cell(0, 11), "05");

    Edit(15, 16, "c3");  // the last cell of the page
    EXPECT_EQ(app.ui.shown.back().second, "0021F");
    EXPECT_EQ(app.ctx.codeBuffer[0x21F], 0xC3);
    EXPECT_EQ(Cell(15, 16), "C3");
}

TEST_F(CodeViewEdit, EntriesArePaddedOrCutToTwoDigits) {
    const std::pair<std::string, std::string> entries[] = {
        {"", "00"}, {"1234", "34"}, {"abc", "BC"}, {"F", "0F"}, {std::string(44, '1') + "7e", "7E"}};
    for (const auto& [entry, cell] : entries) {
        SCOPED_TRACE(entry);
        Edit(1, 1, entry);
        EXPECT_EQ(Cell(1, 1), cell);
        EXPECT_EQ(app.ctx.codeBuffer[0x130], uint8_t(ParseDigits(cell, 16)));
    }
}

TEST_F(CodeViewEdit, AnEntryThatIsNotHexChangesNothing) {
    Edit(0, 1, "5G");
    ASSERT_EQ(app.ui.Boxes().size(), 1u);
    EXPECT_EQ(app.ui.LastBox()->spec.text, "代码输入错误!");
    EXPECT_EQ(app.ui.LastBox()->spec.caption, "VELDRIX");
    EXPECT_EQ(app.ui.LastBox()->spec.icon, MsgIcon::Warning);
    EXPECT_EQ(app.ctx.codeBuffer[0x120], 0x20);
    EXPECT_EQ(Cell(0, 1), "20");

    Edit(0, 1, std::nullopt);  // Cancel
    EXPECT_EQ(app.ui.Boxes().size(), 1u);
    EXPECT_EQ(app.ctx.codeBuffer[0x120], 0x20);
}

TEST_F(CodeViewEdit, TheChipAndMasterViewsAndAsciiModeRefuseEdits) {
    struct Case {
        int checked;
        const char* text;
    };
    for (Case c : {Case{id::kViewChip, kRefusedChip}, Case{id::kViewMaster, kRefusedChip},
                   Case{id::kViewAscii, kRefusedAscii}}) {
        SCOPED_TRACE(c.text);
        app.ui.SetChecked(id::kViewMemory, c.checked == id::kViewAscii);
        app.ui.SetChecked(id::kViewChip, c.checked == id::kViewChip);
        app.ui.SetChecked(id::kViewMaster, c.checked == id::kViewMaster);
        app.ui.SetChecked(id::kViewAscii, c.checked == id::kViewAscii);
        app.ctx.LinkErrorFlag = 1;
        size_t boxes = app.ui.Boxes().size();
        Edit(2, 3, "11");
        ASSERT_EQ(app.ui.Boxes().size(), boxes + 1);
        EXPECT_EQ(app.ui.LastBox()->spec.text, c.text);
        EXPECT_EQ(app.ui.LastBox()->spec.caption, "错误");
        EXPECT_EQ(app.ui.LastBox()->spec.icon, MsgIcon::Warning);
        EXPECT_EQ(app.ctx.LinkErrorFlag, 0);
        EXPECT_EQ(app.ctx.codeBuffer[0x142], 0x42);
    }
    // The chip refusal comes first when ASCII mode is on as well.
    app.ui.SetChecked(id::kViewChip, true);
    Edit(2, 3, "11");
    EXPECT_EQ(app.ui.LastBox()->spec.text, kRefusedChip);
    EXPECT_TRUE(app.ui.shown.empty());
}

TEST_F(CodeViewEdit, DoubleClicksOutsideDebugModeOrTheDataCellsAreIgnored) {
    auto expectIgnored = [&](int row, int column) {
        Edit(row, column, "11");
        EXPECT_TRUE(app.ui.shown.empty()) << row << "," << column;
        EXPECT_TRUE(app.ui.Boxes().empty());
    };
    expectIgnored(-1, 5);
    expectIgnored(3, 0);  // the address column
    expectIgnored(3, -1);
    app.ctx.BusyFlag = 1;
    expectIgnored(3, 5);
    app.ctx.BusyFlag = 0;
    app.ui.SetChecked(id::kViewChip, true);  // no refusal either: debug mode is off
    app.ui.SetChecked(id::kDebugMode, false);
    expectIgnored(3, 5);
    EXPECT_EQ(app.ctx.codeBuffer[0x154], 0x54);

    // Before the first page the list has no rows to hit.
    test::TestAppOf<EditUi> fresh;
    fresh.CreateControls();
    InitCodeView(fresh.ctx);
    fresh.ctx.ConnectedFlag = 1;
    fresh.ui.SetChecked(id::kDebugMode, true);
    fresh.ui.QueueEdit("11");
    EditCodeByte(fresh.ctx, 0, 1);
    EXPECT_TRUE(fresh.ui.shown.empty());
    EXPECT_EQ(fresh.ctx.codeBuffer[0], 0xFF);
}


TEST_F(CodeViewEdit, WithoutAProgrammerTheByteIsStoredAndTheWorkerReportsTheLink) {
    app.ctx.ConnectedFlag = 0;
    Edit(0, 2, "99");
    EXPECT_EQ(app.ctx.codeBuffer[0x121], 0x99);
    EXPECT_EQ(app.ui.GetText(id::kStatusLine), kTextConnectionError);
    EXPECT_EQ(app.ctx.LinkErrorFlag, 1);
    EXPECT_EQ(app.ctx.BusyFlag, 0);
    EXPECT_EQ(app.ui.TimersStarted().back(), (std::pair<int, int>{0, 1000}));
}

TEST(CodeViewEditLinked, TheEditSendsNothingToTheProgrammer) {
    test::LinkedApp app;
    app.Start();
    app.ui.SetChecked(id::kDebugMode, true);
    app.Click(id::kShowMemory);
    std::vector<uint8_t> memoryBefore;
    {
        std::lock_guard lock(app.prog.state.mutex);
        memoryBefore = app.prog.state.memory;
    }
    size_t writes = app.port.writes.size();
    std::string status = app.Status();
    app.ui.QueueEdit("5A");
    EditCodeByte(app.ctx, 0, 1);
    EXPECT_EQ(app.ctx.codeBuffer[0], 0x5A);
    EXPECT_EQ(app.port.writes.size(), writes);
    EXPECT_EQ(app.Status(), status);
    std::lock_guard lock(app.prog.state.mutex);
    EXPECT_TRUE(app.prog.state.memory == memoryBefore);
}

}  // namespace
}  // namespace veldrix
