#include "app/ControlTable.h"

#include "state/ControlIds.h"

namespace veldrix {

namespace {

using K = ControlKind;
using F = CharFilter;
using namespace style;

constexpr uint32_t kEdit = kClientEdge | kAutoScroll;
constexpr uint32_t kField = kEdit | kCentred | kUpperCase;

// clang-format off
const ControlDef kControls[] = {
    // Left column, top
    {id::kChipGroup, K::Group, id::kWindow, "芯片型号", {5, 3, 98, 53}, 0, F::None},
    {id::kChipCombo, K::Combo, id::kChipGroup, "", {5, 20, 88, 170}, kVScroll | kUpperCase, F::None},
    {id::kAuxGroup, K::Group, id::kWindow, "辅助功能", {5, 58, 98, 140}, 0, F::None},
    {id::kDebugMode, K::Check, id::kAuxGroup, "调试模式", {8, 18, 90, 38}, 0, F::None},
    {id::kBuzzer, K::Check, id::kAuxGroup, "开启蜂鸣器", {8, 38, 90, 58}, 0, F::None},
    {id::kLockProgrammer, K::Check, id::kAuxGroup, "锁定编程器", {8, 58, 90, 78}, 0, F::None},
    {id::kChipTypeGroup, K::Group, id::kWindow, "芯片类型", {103, 5, 208, 70}, 0, F::None},
    {id::kOtp, K::Radio, id::kChipTypeGroup, "串行OTP芯片", {8, 20, 100, 40}, 0, F::None},
    {id::kMtp, K::Radio, id::kChipTypeGroup, "串行MTP芯片", {8, 40, 100, 60}, 0, F::None},
    {id::kCommGroup, K::Group, id::kWindow, "通信设置", {103, 75, 208, 140}, 0, F::None},
    {id::kSpeedFull, K::Radio, id::kCommGroup, "全速", {5, 20, 50, 40}, 0, F::None},
    {id::kSpeedMedium, K::Radio, id::kCommGroup, "中速", {50, 20, 95, 40}, 0, F::None},
    {id::kSpeedLow, K::Radio, id::kCommGroup, "低速", {5, 40, 50, 60}, 0, F::None},
    {id::kVppGroup, K::Group, id::kWindow, "芯片Vpp选择", {213, 5, 320, 75}, 0, F::None},
    {id::kVpp12, K::Radio, id::kVppGroup, "12V", {7, 20, 55, 40}, 0, F::None},
    {id::kVppVcc, K::Radio, id::kVppGroup, "Vcc", {57, 20, 105, 40}, 0, F::None},
    {id::kVpp11, K::Radio, id::kVppGroup, "11V", {7, 45, 55, 65}, 0, F::None},
    {id::kVddGroup, K::Group, id::kWindow, "芯片Vdd选择", {213, 85, 320, 140}, 0, F::None},
    {id::kVdd50, K::Radio, id::kVddGroup, "5.0V", {7, 20, 55, 45}, 0, F::None},
    {id::kVdd33, K::Radio, id::kVddGroup, "3.3V", {57, 20, 105, 45}, 0, F::None},
    {id::kSystemGroup, K::Group, id::kWindow, "编程系统", {325, 5, 455, 140}, 0, F::None},
    {id::kAutoVerify, K::Check, id::kSystemGroup, "自动校验", {10, 17, 120, 32}, 0, F::None},
    {id::kAutoReadProtect, K::Check, id::kSystemGroup, "自动读保护", {10, 33, 120, 48}, 0, F::None},
    {id::kEnableSmart, K::Check, id::kSystemGroup, "使能SMART", {10, 49, 120, 64}, 0, F::None},
    {id::kAutoBlankCheck, K::Check, id::kSystemGroup, "自动空检查", {10, 65, 120, 80}, 0, F::None},
    {id::kAutoLdc, K::Check, id::kSystemGroup, "自动LDC保护", {10, 81, 120, 96}, 0, F::None},
    {id::kAutoHwProtect, K::Check, id::kSystemGroup, "自动硬件写保护", {10, 97, 120, 112}, 0, F::None},
    {id::kAutoIdIncrement, K::Check, id::kSystemGroup, "自动ID码增量", {10, 113, 120, 128}, 0, F::None},
    {id::kDataGroup, K::Group, id::kWindow, "控制数据", {460, 5, 623, 140}, 0, F::None},
    {id::kStartLabel, K::Static, id::kDataGroup, "起始地址(HEX):", {5, 20, 100, 40}, 0, F::None},
    {id::kEndLabel, K::Static, id::kDataGroup, "终止地址(HEX):", {5, 49, 100, 69}, 0, F::None},
    {id::kVppLabel, K::Static, id::kDataGroup, "编程电压[V]:", {5, 78, 100, 98}, 0, F::None},
    {id::kVddLabel, K::Static, id::kDataGroup, "芯片电压[V]:", {5, 107, 100, 127}, 0, F::None},
    {id::kStartAddress, K::Edit, id::kDataGroup, "0000", {95, 15, 155, 40}, kField, F::Hex},
    {id::kEndAddress, K::Edit, id::kDataGroup, "1FFF", {95, 45, 155, 70}, kField, F::Hex},
    {id::kVppField, K::Edit, id::kDataGroup, "12.0", {95, 75, 155, 100}, kField | kReadOnly | kDisabled, F::Hex},
    {id::kVddField, K::Edit, id::kDataGroup, "", {95, 105, 155, 130}, kField | kReadOnly | kDisabled, F::Hex},

    // Operations
    {id::kOperationsGroup, K::Group, id::kWindow, "编程操作", {5, 145, 320, 360}, 0, F::None},
    {id::kAutoProgram, K::Push, id::kOperationsGroup, "自动编程", {10, 20, 130, 45}, 0, F::None},
    {id::kVerifyChip, K::Push, id::kOperationsGroup, "校验芯片", {180, 20, 290, 45}, 0, F::None},
    {id::kBlankCheck, K::Push, id::kOperationsGroup, "芯片空检查", {10, 60, 130, 85}, 0, F::None},
    {id::kShowMemory, K::Push, id::kOperationsGroup, "显示内存数据", {180, 60, 290, 85}, 0, F::None},
    {id::kChipChecksum, K::Push, id::kOperationsGroup, "芯片检查和", {10, 100, 130, 125}, 0, F::None},
    {id::kMemoryChecksum, K::Push, id::kOperationsGroup, "内存检查和", {180, 100, 290, 125}, 0, F::None},
    {id::kReadProtect, K::Push, id::kOperationsGroup, "芯片读保护", {10, 140, 130, 165}, 0, F::None},
    {id::kEraseMtp, K::Push, id::kOperationsGroup, "擦除MTP", {180, 140, 290, 165}, 0, F::None},
    {id::kLdcProtect, K::Push, id::kOperationsGroup, "芯片LDC保护", {10, 180, 130, 205}, 0, F::None},
    {id::kHwProtect, K::Push, id::kOperationsGroup, "芯片硬件写保护", {180, 180, 290, 205}, 0, F::None},
    {id::kFileGroup, K::Group, id::kWindow, "文件操作", {325, 145, 623, 310}, 0, F::None},
    {id::kOpenFile, K::Push, id::kFileGroup, "打开文件", {10, 20, 100, 45}, 0, F::None},
    {id::kCodeFile, K::Edit, id::kFileGroup, "", {110, 20, 290, 45}, kEdit | kBordered | kCentred, F::Any},
    {id::kCopyChip, K::Push, id::kFileGroup, "拷贝芯片代码到内存", {10, 60, 160, 85}, 0, F::None},
    {id::kSaveProject, K::Push, id::kFileGroup, "保存工程", {90, 95, 160, 120}, 0, F::None},
    {id::kRefreshMemory, K::Push, id::kFileGroup, "刷新内存代码", {170, 60, 285, 85}, 0, F::None},
    {id::kMakeHex, K::Push, id::kFileGroup, "内存制作HEX文件", {170, 95, 285, 120}, 0, F::None},
    {id::kChecksumLabel, K::Static, id::kFileGroup, "检查和:", {170, 135, 215, 150}, 0, F::None},
    {id::kChecksum, K::Edit, id::kFileGroup, "", {220, 130, 285, 155}, kField | kReadOnly, F::Hex},
    {id::kQuit, K::Push, id::kWindow, "退出编程", {500, 320, 600, 360}, 0, F::None},
    {id::kLinkLabel, K::Static, id::kWindow, "http://zemko.example", {320, 340, 490, 360}, kNotify, F::None},

    // Code view (hidden at start)
    {id::kViewGroup, K::Group, id::kWindow, "编程代码视图", {10, 5, 623, 305}, kHidden, F::None},
    {id::kCodeList, K::List, id::kWindow, "", {20, 25, 483, 270}, kClientEdge | kStaticEdge | kHidden, F::None},
    {id::kPrevPage, K::Push, id::kViewGroup, "上一页", {490, 25, 590, 50}, 0, F::None},
    {id::kNextPage, K::Push, id::kViewGroup, "下一页", {490, 70, 590, 95}, 0, F::None},
    {id::kViewAddressLabel, K::Static, id::kViewGroup, "显示地址:", {490, 130, 580, 150}, 0, F::None},
    {id::kViewAddress, K::Edit, id::kViewGroup, "", {490, 150, 545, 175}, kField, F::Hex},
    {id::kViewSet, K::Push, id::kViewGroup, "设 置", {550, 150, 590, 175}, 0, F::None},
    {id::kViewMemory, K::Radio, id::kViewGroup, "编程内存代码视图", {490, 190, 600, 210}, kStartsGroup, F::None},
    {id::kViewChip, K::Radio, id::kViewGroup, "芯片代码视图", {490, 210, 590, 230}, 0, F::None},
    {id::kViewMaster, K::Radio, id::kViewGroup, "母片代码视图", {490, 230, 590, 250}, 0, F::None},
    {id::kViewAscii, K::Check, id::kViewGroup, "ASCII格式显示", {490, 250, 590, 270}, 0, F::None},
    {id::kViewBack, K::Push, id::kWindow, "返 回", {500, 320, 600, 350}, kHidden, F::None},

    // Status and counters
    {id::kStatusGroup, K::Group, id::kWindow, "编程状态", {10, 365, 623, 415}, 0, F::None},
    {id::kStatusLine, K::Edit, id::kStatusGroup, "", {10, 15, 595, 40}, kEdit | kReadOnly, F::Hex},
    {id::kCountGroup, K::Group, id::kWindow, "联机编程计数", {5, 420, 623, 470}, 0, F::None},
    {id::kSuccessLabel, K::Static, id::kCountGroup, "成功计数:", {10, 20, 70, 42}, 0, F::None},
    {id::kSuccessCount, K::Edit, id::kCountGroup, "00000", {75, 15, 170, 40}, kEdit | kCentred | kDigitsOnly, F::Hex},
    {id::kFailureLabel, K::Static, id::kCountGroup, "失败计数:", {190, 20, 250, 42}, 0, F::None},
    {id::kFailureCount, K::Edit, id::kCountGroup, "00000", {255, 15, 330, 40}, kEdit | kCentred | kDigitsOnly, F::Hex},
    {id::kClearCounts, K::Push, id::kCountGroup, "清零", {350, 16, 400, 40}, 0, F::None},
    {id::kPauseCounting, K::Push, id::kCountGroup, "暂停计数", {415, 16, 490, 40}, 0, F::None},
    {id::kSetPassword, K::Push, id::kCountGroup, "设置密码", {505, 16, 590, 40}, 0, F::None},

    // Offline files
    {id::kOfflineGroup, K::Group, id::kWindow, "脱机文件操作", {5, 475, 623, 600}, 0, F::None},
    {id::kDirectoryLabel, K::Static, id::kOfflineGroup, "选择目录:", {10, 25, 70, 45}, 0, F::None},
    {id::kDirectory, K::Combo, id::kOfflineGroup, "", {70, 20, 115, 150}, kVScroll | kUpperCase, F::None},
    {id::kReadFileInfo, K::Push, id::kOfflineGroup, "读取文件信息", {130, 17, 230, 42}, 0, F::None},
    {id::kDeleteFile, K::Push, id::kOfflineGroup, "删除文件", {245, 17, 320, 42}, 0, F::None},
    {id::kReadFileToMemory, K::Push, id::kOfflineGroup, "读取文件到内存", {335, 17, 435, 42}, 0, F::None},
    {id::kMakeOfflineFile, K::Push, id::kOfflineGroup, "内存代码制作脱机文件", {450, 17, 590, 42}, 0, F::None},
    {id::kFileNameLabel, K::Static, id::kOfflineGroup, "文件名:", {10, 60, 60, 85}, 0, F::None},
    {id::kOfflineFileName, K::Edit, id::kOfflineGroup, "", {60, 55, 210, 80}, kEdit | kCentred | kTabStop, F::Any},
    {id::kOfflineChipLabel, K::Static, id::kOfflineGroup, "芯片型号:", {248, 60, 310, 85}, 0, F::None},
    {id::kOfflineChip, K::Edit, id::kOfflineGroup, "", {310, 55, 400, 80}, kEdit | kCentred, F::Any},
    {id::kOfflineChecksumLabel, K::Static, id::kOfflineGroup, "检查和:", {420, 60, 470, 85}, 0, F::None},
    {id::kOfflineChecksum, K::Edit, id::kOfflineGroup, "", {480, 55, 540, 80}, kEdit | kCentred, F::Hex},
    {id::kCounterCurrentLabel, K::Static, id::kOfflineGroup, "计数器当前值:", {10, 95, 95, 115}, 0, F::None},
    {id::kCounterCurrent, K::Edit, id::kOfflineGroup, "0000", {100, 90, 210, 115}, kEdit | kCentred, F::Digits},
    {id::kCounterEndLabel, K::Static, id::kOfflineGroup, "计数器终止值:", {225, 95, 310, 115}, 0, F::None},
    {id::kCounterEnd, K::Edit, id::kOfflineGroup, "0000", {310, 90, 400, 115}, kEdit | kCentred, F::Digits},
    {id::kIdAddressLabel, K::Static, id::kOfflineGroup, "ID码地址:", {420, 95, 480, 115}, 0, F::None},
    {id::kIdAddress, K::Edit, id::kOfflineGroup, "", {480, 90, 540, 115}, kEdit | kCentred, F::Hex},
    {id::kSetCounter, K::Push, id::kOfflineGroup, "  设置  计数器", {550, 65, 610, 110}, kMultiLine, F::None},
};
// clang-format on

const int kFieldFontIds[] = {id::kStartAddress, id::kEndAddress, id::kVppField, id::kVddField,
                             id::kChecksum, id::kViewAddress, id::kSuccessCount, id::kFailureCount,
                             id::kOfflineFileName, id::kOfflineChip, id::kOfflineChecksum,
                             id::kCounterCurrent, id::kCounterEnd, id::kIdAddress};

}  // namespace

const FontDef kBaseFont = {"MS Shell Dlg", 12, 6, 400, false, false};
const FontDef kStatusFont = {"", 14, 8, 500, false, false};
const FontDef kFieldFont = {"", 16, 8, 580, false, false};
const FontDef kLinkFont = {"MS Shell Dlg", 18, 7, 600, true, true};
const FontDef kListFont = {"MS Shell Dlg", 12, 5, 500, false, false};

std::span<const ControlDef> MainControls() { return kControls; }

const ControlDef* FindControl(int id) {
    for (const ControlDef& def : kControls)
        if (def.id == id) return &def;
    return nullptr;
}

std::span<const int> FieldFontControls() { return kFieldFontIds; }

bool ControlTextColour(int id, bool linkPressed, Rgb& colour) {
    switch (id) {
    case id::kChipTypeGroup: case id::kSystemGroup: case id::kDataGroup: case id::kStatusGroup:
    case id::kViewGroup: case id::kCountGroup: case id::kAuxGroup: case id::kCommGroup:
        colour = {0, 100, 100};
        return true;
    case id::kVddGroup: case id::kVppGroup:
        colour = {255, 50, 50};
        return true;
    case id::kOperationsGroup: case id::kFileGroup: case id::kOfflineGroup:
        colour = {0, 100, 255};
        return true;
    case id::kLinkLabel:
        colour = linkPressed ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
        return true;
    default:
        return false;
    }
}

}  // namespace veldrix
