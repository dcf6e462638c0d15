#include "cli/Host.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "seams/Files.h"

#ifdef _WIN32
#include <windows.h>
#include "platform/win32/RealClock.h"
#include "platform/win32/RecordsFolder.h"
#include "platform/win32/RegistryPortDirectory.h"
#include "platform/win32/RegistrySettings.h"
#include "platform/win32/SerialPort.h"
#include "platform/win32/Text.h"
#else
#include <cstdlib>
#include "platform/posix/FileSettings.h"
#include "platform/posix/LinuxPortDirectory.h"
#include "platform/posix/PosixPort.h"
#include "platform/posix/RealClock.h"
#endif

namespace veldrix::cli {

namespace fs = std::filesystem;

bool IsPl2303(const std::string& usbIds) {
    // The original PL2303 and the newer G series (GC, GB, GT, GL, GE, GS).
    static const char* const kIds[] = {"067B:2303", "067B:23A3", "067B:23B3", "067B:23C3",
                                       "067B:23D3", "067B:23E3", "067B:23F3"};
    std::string upper = usbIds;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    return std::find(std::begin(kIds), std::end(kIds), upper) != std::end(kIds);
}

std::optional<std::string> ReadOnlySettings::Read(const std::string& name, size_t maxBytes) {
    if (name == "setup" && !installDir_.empty()) return installDir_;
    return inner_->CanRead() ? inner_->Read(name, maxBytes) : std::nullopt;
}

namespace {
// Where the chip list lies when neither --install-dir nor the settings name
// it: beside the program, else in the source tree it was built from.
std::string FallbackInstallDir() {
#ifdef _WIN32
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        fs::path dir = fs::path(path).parent_path();
        if (fs::exists(dir / "samlist.txt")) return Narrow(dir.wstring());
    }
#else
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && fs::exists(self.parent_path() / "samlist.txt")) return self.parent_path().string();
#endif
#ifdef VELDRIX_RESOURCES
    return VELDRIX_RESOURCES;
#else
    return {};
#endif
}
}  // namespace

#ifdef _WIN32

namespace {
// The device map's entries for one port only: the search must not go on to
// another unit's adapter.
class OnePortDirectory : public PortDirectory {
public:
    explicit OnePortDirectory(std::string port) : port_(std::move(port)) {}
    bool Available() override { return inner_.Available(); }
    std::optional<std::string> Lookup(const std::string& valueName) override {
        auto found = inner_.Lookup(valueName);
        if (!found || _stricmp(found->c_str(), port_.c_str()) != 0) return std::nullopt;
        return found;
    }

private:
    RegistryPortDirectory inner_;
    std::string port_;
};
}  // namespace

std::vector<HostAdapter> ListHostAdapters(const std::string&) {
    std::vector<HostAdapter> list;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return list;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        BYTE data[512];
        DWORD nameLength = 256, dataLength = sizeof data - 2, type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
        if (type != REG_SZ) continue;
        data[dataLength] = data[dataLength + 1] = 0;
        HostAdapter a;
        a.device = Narrow(std::wstring(name, nameLength));
        a.port = Narrow(reinterpret_cast<const wchar_t*>(data));
        a.pl2303 = a.device.find("ProlificSerial") != std::string::npos;
        list.push_back(a);
    }
    RegCloseKey(key);
    return list;
}

std::unique_ptr<Port> MakeHostPort() { return std::make_unique<SerialPort>(); }
std::unique_ptr<Clock> MakeHostClock() { return std::make_unique<RealClock>(); }
std::unique_ptr<PortDirectory> MakeHostDirectory(const std::string& fixedPort) {
    if (fixedPort.empty()) return std::make_unique<RegistryPortDirectory>();
    return std::make_unique<OnePortDirectory>(fixedPort);
}

std::string ProgramStateFolder(const std::string&) { return veldrix::ProgramStateFolder(); }

std::unique_ptr<SettingsStore> MakeHostSettings(const std::string& settingsFile, const std::string& installDir,
                                                std::string& error) {
    if (!settingsFile.empty()) {
        error = "--settings 只用于 Linux; Windows 上使用窗口程序的注册表设置";
        return nullptr;
    }
    auto registry = std::make_unique<RegistrySettings>();
    std::string dir = installDir;
    if (dir.empty() && !registry->Read("setup", 260)) dir = FallbackInstallDir();
    return std::make_unique<ReadOnlySettings>(std::move(registry), dir);
}

#else

namespace {
std::string ReadLine(const fs::path& path) {
    std::string text;
    if (!ReadFileBytes(path.string(), text)) return {};
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}
}  // namespace

std::vector<HostAdapter> ListHostAdapters(const std::string& sysfsRoot) {
    std::vector<HostAdapter> list;
    std::error_code ec;
    std::vector<std::string> names;
    const fs::path tty = fs::path(sysfsRoot) / "class" / "tty";
    for (const auto& entry : fs::directory_iterator(tty, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("ttyUSB", 0) == 0) names.push_back(name);
    }
    // ttyUSB2 before ttyUSB10.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    for (const std::string& name : names) {
        HostAdapter a;
        a.port = "/dev/" + name;
        fs::path device = fs::canonical(tty / name / "device", ec);
        if (ec) continue;
        std::string driver = fs::canonical(device / "driver", ec).filename().string();
        // ttyUSB<n> under its interface, under the USB device that has the ids.
        fs::path usb = device.parent_path().parent_path();
        std::string vendor = ReadLine(usb / "idVendor"), product = ReadLine(usb / "idProduct");
        if (!vendor.empty() && !product.empty()) a.usb = vendor + ":" + product;
        for (char& c : a.usb) c = char(std::toupper(static_cast<unsigned char>(c)));
        a.pl2303 = driver == "pl2303" || IsPl2303(a.usb);
        a.device = driver == "pl2303" ? "\\Device\\ProlificSerial" + name.substr(6) : driver;
        list.push_back(a);
    }
    return list;
}

std::unique_ptr<Port> MakeHostPort() { return std::make_unique<PosixPort>(); }
std::unique_ptr<Clock> MakeHostClock() { return std::make_unique<RealClock>(); }
std::unique_ptr<PortDirectory> MakeHostDirectory(const std::string& fixedPort) {
    return std::make_unique<LinuxPortDirectory>(fixedPort);
}

namespace {
std::string SettingsPath(const std::string& settingsFile) {
    if (!settingsFile.empty()) return settingsFile;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string base = config && *config ? config : home ? std::string(home) + "/.config" : ".";
    return base + "/veldrix/settings";
}
}  // namespace

std::string ProgramStateFolder(const std::string& settingsFile) {
    fs::path folder = fs::path(SettingsPath(settingsFile)).parent_path();
    return folder.empty() ? "." : folder.string();
}

std::unique_ptr<SettingsStore> MakeHostSettings(const std::string& settingsFile, const std::string& installDir,
                                                std::string& error) {
    (void)error;
    std::string path = SettingsPath(settingsFile);
    auto file = std::make_unique<FileSettings>(path);
    std::string dir = installDir;
    if (dir.empty() && !(file->CanRead() && file->Read("setup", 260))) dir = FallbackInstallDir();
    return std::make_unique<ReadOnlySettings>(std::move(file), dir);
}

#endif

std::string DefaultRecordsFolder(SettingsStore& settings) {
#ifdef _WIN32
    return RecordsFolderPath(settings);
#else
    (void)settings;
    return {};
#endif
}

}  // namespace veldrix::cli
