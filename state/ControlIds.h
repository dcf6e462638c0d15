#pragma once
// Control ids of the main window: the program's vocabulary.

namespace veldrix::id {

// Left column, top
constexpr int kChipGroup = 110;
constexpr int kChipCombo = 1000;
constexpr int kAuxGroup = 176;
constexpr int kDebugMode = 30003;
constexpr int kBuzzer = 182;
constexpr int kLockProgrammer = 10020;
constexpr int kChipTypeGroup = 102;
constexpr int kOtp = 114;
constexpr int kMtp = 115;
constexpr int kCommGroup = 222;
constexpr int kSpeedFull = 223;
constexpr int kSpeedMedium = 224;
constexpr int kSpeedLow = 225;
constexpr int kVppGroup = 30000;
constexpr int kVpp12 = 30001;
constexpr int kVppVcc = 112;
constexpr int kVpp11 = 113;
constexpr int kVddGroup = 103;
constexpr int kVdd50 = 116;
constexpr int kVdd33 = 117;
constexpr int kSystemGroup = 105;
constexpr int kAutoVerify = 121;
constexpr int kAutoReadProtect = 123;
constexpr int kEnableSmart = 127;
constexpr int kAutoBlankCheck = 122;
constexpr int kAutoLdc = 125;
constexpr int kAutoHwProtect = 124;
constexpr int kAutoIdIncrement = 126;
constexpr int kDataGroup = 106;
constexpr int kStartLabel = 128;
constexpr int kEndLabel = 130;
constexpr int kVppLabel = 132;
constexpr int kVddLabel = 134;
constexpr int kStartAddress = 129;
constexpr int kEndAddress = 131;
constexpr int kVppField = 133;
constexpr int kVddField = 135;

// Operations
constexpr int kOperationsGroup = 107;
constexpr int kAutoProgram = 136;
constexpr int kVerifyChip = 137;
constexpr int kBlankCheck = 138;
constexpr int kShowMemory = 139;
constexpr int kChipChecksum = 140;
constexpr int kMemoryChecksum = 141;
constexpr int kReadProtect = 142;
constexpr int kEraseMtp = 143;
constexpr int kLdcProtect = 144;
constexpr int kHwProtect = 145;
constexpr int kFileGroup = 108;
constexpr int kOpenFile = 146;
constexpr int kCodeFile = 147;
constexpr int kCopyChip = 149;
constexpr int kSaveProject = 221;
constexpr int kRefreshMemory = 148;
constexpr int kMakeHex = 151;
constexpr int kChecksumLabel = 152;
constexpr int kChecksum = 153;
constexpr int kQuit = 154;
constexpr int kLinkLabel = 156;

// Code view
constexpr int kViewGroup = 158;
constexpr int kCodeList = 159;
constexpr int kPrevPage = 160;
constexpr int kNextPage = 161;
constexpr int kViewAddressLabel = 164;
constexpr int kViewAddress = 162;
constexpr int kViewSet = 163;
constexpr int kViewMemory = 165;
constexpr int kViewChip = 166;
constexpr int kViewMaster = 10026;
constexpr int kViewAscii = 167;
constexpr int kViewBack = 168;

// Status and counters
constexpr int kStatusGroup = 109;
constexpr int kStatusLine = 157;
constexpr int kCountGroup = 170;
constexpr int kSuccessLabel = 177;
constexpr int kSuccessCount = 179;
constexpr int kFailureLabel = 178;
constexpr int kFailureCount = 180;
constexpr int kClearCounts = 172;
constexpr int kPauseCounting = 174;
constexpr int kSetPassword = 10011;

// Offline files
constexpr int kOfflineGroup = 313;
constexpr int kDirectoryLabel = 303;
constexpr int kDirectory = 308;
constexpr int kReadFileInfo = 314;
constexpr int kDeleteFile = 300;
constexpr int kReadFileToMemory = 301;
constexpr int kMakeOfflineFile = 302;
constexpr int kFileNameLabel = 304;
constexpr int kOfflineFileName = 309;
constexpr int kOfflineChipLabel = 305;
constexpr int kOfflineChip = 310;
constexpr int kOfflineChecksumLabel = 306;
constexpr int kOfflineChecksum = 311;
constexpr int kCounterCurrentLabel = 307;
constexpr int kCounterCurrent = 315;
constexpr int kCounterEndLabel = 317;
constexpr int kCounterEnd = 316;
constexpr int kIdAddressLabel = 30005;
constexpr int kIdAddress = 30004;
constexpr int kSetCounter = 173;

// The main window itself (parent of the top-level controls).
constexpr int kWindow = 0;

}  // namespace veldrix::id

namespace veldrix {

// The main window's timer for the link checks.
constexpr int kLinkTimerId = 501;

}  // namespace veldrix
