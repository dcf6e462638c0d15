// Registry settings, the serial-device list and the clock.
#include <gtest/gtest.h>

#include <thread>

#include "app/ControlTable.h"
#include "code/ChipCatalogue.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/VirtualClock.h"
#include "platform/win32/RealClock.h"
#include "platform/win32/RegistryPortDirectory.h"
#include "platform/win32/RegistrySettings.h"
#include "platform/win32/Text.h"
#include "state/AppContext.h"
#include "tests/support/TestDoubles.h"

namespace veldrix {
namespace {

const wchar_t kRoot[] = L"Software\\VeldrixTest";
const wchar_t kMachine32[] = L"Software\\VeldrixTest32";  // a machine key in the 32-bit view (and the native one)

class Registry : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kMachine32, KEY_WOW64_32KEY, 0);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kMachine32, KEY_WOW64_64KEY, 0);
    }
    static void Put(const std::wstring& path, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value.data()),
                       DWORD(value.size() * sizeof(wchar_t)));  // stored without its terminator
        RegCloseKey(key);
    }
    std::wstring user = std::wstring(kRoot) + L"\\User";
    std::wstring machine = std::wstring(kRoot) + L"\\Machine";
    RegistrySettings settings{{HKEY_CURRENT_USER, user}, {HKEY_CURRENT_USER, machine}};
};

TEST_F(Registry, NothingToReadWithoutEitherKey) {
    EXPECT_FALSE(settings.CanRead());
    EXPECT_EQ(settings.Read("com", 8), std::nullopt);
}

TEST_F(Registry, UserValuesComeFirstThenTheMachineKey) {
    Put(machine, L"com", L"COM7");
    Put(machine, L"chip", L"S3F9454");
    Put(user, L"chip", L"S3C9228");
    EXPECT_TRUE(settings.CanRead());
    EXPECT_EQ(settings.Read("chip", 10), "S3C9228");
    EXPECT_EQ(settings.Read("com", 8), "COM7");
    EXPECT_EQ(settings.Read("mode", 2), std::nullopt);
    // A value only an administrator may set is never taken from the user's key.
    Put(user, L"records_odbc", L"DSN=mine");
    EXPECT_EQ(settings.ReadMachineOnly("records_odbc"), std::nullopt);
    Put(machine, L"records_odbc", L"DSN=line;UID=veldrix;PWD=x");
    EXPECT_EQ(settings.ReadMachineOnly("records_odbc"), "DSN=line;UID=veldrix;PWD=x");
}

TEST_F(Registry, InstallationDirectoryIsLookedUpLikeEveryOtherValue) {
    Put(machine, L"setup", L"C:\\Program Files\\泽木\\VELDRIX");
    EXPECT_EQ(settings.Read("setup", 260), "C:\\Program Files\\泽木\\VELDRIX");
    Put(user, L"setup", L"C:\\Users\\op\\veldrix");
    EXPECT_EQ(settings.Read("setup", 260), "C:\\Users\\op\\veldrix");
    // An installer may write it with the environment's names in it.
    SetEnvironmentVariableW(L"VELDRIX_TEST_PROGRAMS", L"D:\\产线\\程序");
    Put(user, L"setup", L"%VELDRIX_TEST_PROGRAMS%\\VELDRIX", REG_EXPAND_SZ);
    EXPECT_EQ(settings.Read("setup", 260), "D:\\产线\\程序\\VELDRIX");
    Put(user, L"setup", L"%VELDRIX_TEST_PROGRAMS%\\VELDRIX");  // plain text stays as written
    EXPECT_EQ(settings.Read("setup", 260), "%VELDRIX_TEST_PROGRAMS%\\VELDRIX");
    SetEnvironmentVariableW(L"VELDRIX_TEST_PROGRAMS", nullptr);
}

TEST_F(Registry, WritesGoToTheUserKeyAndValuesTooLongForTheirBufferAreNotRead) {
    ASSERT_TRUE(settings.Write("chip", "S3F94C4EZZ"));
    ASSERT_TRUE(settings.Write("com", "COM12"));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, user, 0, L"chip"), std::wstring(L"S3F94C4EZZ"));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, machine, 0, L"chip"), std::nullopt);
    EXPECT_EQ(settings.Read("chip", 16), "S3F94C4EZZ");
    EXPECT_EQ(settings.Read("chip", 10), std::nullopt);  // not "S3F94C4EZ", another chip
    EXPECT_EQ(settings.Read("tx_set", 2), std::nullopt);
    Put(user, L"mode", L"10");
    EXPECT_EQ(settings.Read("mode", 2), std::nullopt);  // not "1", debug mode
    // Measured in the system code page: 243 bytes in GBK, 123 in a one-byte
    // code page, but 363 in UTF-8.
    std::wstring deep = L"C:\\" + std::wstring(120, L'\u6CFD');
    Put(machine, L"setup", deep);
    EXPECT_EQ(settings.Read("setup", 260), Narrow(deep));
    Put(machine, L"setup", L"C:\\" + std::wstring(257, L'd'));  // 260 bytes, no room for the terminator
    EXPECT_EQ(settings.Read("setup", 260), std::nullopt);
    Put(machine, L"setup", L"C:\\" + std::wstring(256, L'd'));
    EXPECT_EQ(settings.Read("setup", 260), "C:\\" + std::string(256, 'd'));
}

// A 32-bit installer writes the program key into the 32-bit view of
// HKLM\Software only; start-up must find the chip list through it.
TEST_F(Registry, OnlyThe32BitMachineKeyStillGivesTheChipList) {
    const wchar_t* path = kMachine32;
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    std::wstring dir = Widen(VELDRIX_RESOURCES_DIR);
    RegSetValueExW(key, L"setup", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()),
                   DWORD((dir.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    // 64-bit Windows keeps the 32-bit view apart from the native one; a
    // 32-bit Windows has one view and ignores both flags.
    BOOL wow64 = FALSE;
    bool twoViews = sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
    std::optional<std::wstring> nativeView = ReadRegistryString(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY, L"setup");
    if (twoViews)
        EXPECT_EQ(nativeView, std::nullopt);
    else
        EXPECT_EQ(nativeView, dir);

    RegistrySettings installed{{HKEY_CURRENT_USER, user}, {HKEY_LOCAL_MACHINE, path}};
    EXPECT_TRUE(installed.CanRead());
    EXPECT_EQ(installed.Read("setup", 260), VELDRIX_RESOURCES_DIR);
    HeadlessUi ui;
    for (const ControlDef& def : MainControls()) ui.CreateControl(def);
    VirtualClock clock;
    test::NullPort port;
    test::NullPortDirectory ports;
    AppContext ctx{ui, clock, installed, port, ports};
    LoadChipCatalogue(ctx);
    EXPECT_TRUE(ctx.catalogue.loaded);
    EXPECT_GT(ctx.catalogue.count, 1u);
    EXPECT_TRUE(ui.Boxes().empty()) << ui.Boxes().front().spec.text;

    // Both views hold it: the native one wins, the 32-bit one is left over.
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    const std::wstring native = L"C:\\native";
    RegSetValueExW(key, L"setup", 0, REG_SZ, reinterpret_cast<const BYTE*>(native.c_str()),
                   DWORD((native.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    EXPECT_EQ(installed.Read("setup", 260), "C:\\native");
    EXPECT_EQ(installed.ReadMachineOnly("setup"), "C:\\native");
}

TEST_F(Registry, SerialDeviceListFollowsTheValuesAsTheyComeAndGo) {
    std::wstring map = std::wstring(kRoot) + L"\\SERIALCOMM";
    RegistryPortDirectory ports(HKEY_CURRENT_USER, map);
    EXPECT_FALSE(ports.Available());
    Put(map, L"\\Device\\ProlificSerial0", L"COM3");
    EXPECT_TRUE(ports.Available());
    EXPECT_EQ(ports.Lookup("\\Device\\ProlificSerial0"), "COM3");
    EXPECT_EQ(ports.Lookup("\\Device\\ProlificSerial1"), std::nullopt);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, map.c_str(), L"\\Device\\ProlificSerial0");
    EXPECT_EQ(ports.Lookup("\\Device\\ProlificSerial0"), std::nullopt);
}

TEST(RealClockTest, AStopRequestEndsALongSleep) {
    RealClock clock;
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        Sleep(50);
        stop = true;
    });
    uint64_t start = clock.NowMs();
    clock.Sleep(60000, &stop);
    uint64_t slept = clock.NowMs() - start;
    stopper.join();
    EXPECT_TRUE(stop.load());
    EXPECT_LT(slept, 30000u);  // ended by the request, not by the minute running out
}

TEST(RealClockTest, SleepsAtLeastTheTimeAsked) {
    RealClock clock;
    uint64_t start = clock.NowMicros();
    clock.Sleep(30);
    EXPECT_GE(clock.NowMicros() - start, 30000u);
    std::atomic<bool> stop{true};
    clock.Sleep(1000, &stop);  // already stopped: returns at once, no wait asserted
}

}  // namespace
}  // namespace veldrix
