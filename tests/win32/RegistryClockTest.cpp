// Registry settings, the serial-device list and the clock.
#include <gtest/gtest.h>

#include <thread>

#include "platform/win32/RealClock.h"
#include "platform/win32/RegistryPortDirectory.h"
#include "platform/win32/RegistrySettings.h"

namespace veldrix {
namespace {

const wchar_t kRoot[] = L"Software\\VeldrixTest";

class Registry : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kRoot); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kRoot); }
    static void Put(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
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
}

TEST_F(Registry, InstallationDirectoryComesFromTheMachineKeyFirst) {
    Put(user, L"setup", L"C:\\Users\\op\\veldrix");
    EXPECT_EQ(settings.Read("setup", 260), "C:\\Users\\op\\veldrix");
    Put(machine, L"setup", L"C:\\Program Files\\泽木\\VELDRIX");
    EXPECT_EQ(settings.Read("setup", 260), "C:\\Program Files\\泽木\\VELDRIX");
}

TEST_F(Registry, WritesGoToTheUserKeyAndReadsAreCutLikeAFixedBuffer) {
    ASSERT_TRUE(settings.Write("chip", "S3F94C4EZZ"));
    ASSERT_TRUE(settings.Write("com", "COM12"));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, user, 0, L"chip"), std::wstring(L"S3F94C4EZZ"));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, machine, 0, L"chip"), std::nullopt);
    EXPECT_EQ(settings.Read("chip", 10), "S3F94C4EZ");
    EXPECT_EQ(settings.Read("tx_set", 2), std::nullopt);
    EXPECT_EQ(CutToBuffer("泽木", 5), "泽");  // never half a character
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
