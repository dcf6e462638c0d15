#pragma once
// What veldrix-cli takes from the operating system: serial ports and their
// list, the clock, and the settings the window program keeps.
#include <memory>
#include <string>
#include <vector>

#include "seams/Clock.h"
#include "seams/Port.h"
#include "seams/PortDirectory.h"
#include "seams/SettingsStore.h"

namespace veldrix::cli {

struct HostAdapter {
    std::string port;    // COM3, /dev/ttyUSB0
    std::string device;  // \Device\ProlificSerial0 (Windows' name, also on Linux for the PL2303 driver)
    std::string usb;     // 067B:2303 where the system tells
    bool pl2303 = false;
};

// sysfsRoot: where /sys is (Linux; tests give a tree of their own).
std::vector<HostAdapter> ListHostAdapters(const std::string& sysfsRoot = "/sys");
bool IsPl2303(const std::string& usbIds);

std::unique_ptr<Port> MakeHostPort();
std::unique_ptr<Clock> MakeHostClock();
// The adapters as the window lists them; with fixedPort, that port alone.
std::unique_ptr<PortDirectory> MakeHostDirectory(const std::string& fixedPort);
// The window's settings, read only: a call of the command line changes
// nothing the window will find. installDir (if not empty) stands for `setup`.
std::unique_ptr<SettingsStore> MakeHostSettings(const std::string& settingsFile, const std::string& installDir,
                                                std::string& error);

// Where the window keeps its production records (Windows: the program key's
// `log_dir`, else VELDRIX\logs under the local application data); empty where
// the window keeps none by default (elsewhere).
std::string DefaultRecordsFolder(SettingsStore& settings);
// The folder beside the settings where the programs keep their own files
// (records waiting for their folder, what was downloaded on each port).
std::string ProgramStateFolder(const std::string& settingsFile);

// Reads through to the window's store; writes stay in memory.
class ReadOnlySettings : public SettingsStore {
public:
    ReadOnlySettings(std::unique_ptr<SettingsStore> inner, std::string installDir)
        : inner_(std::move(inner)), installDir_(std::move(installDir)) {}
    bool CanRead() override { return inner_->CanRead() || !installDir_.empty(); }
    std::optional<std::string> Read(const std::string& name, size_t maxBytes) override;
    bool Write(const std::string&, const std::string&) override { return true; }

private:
    std::unique_ptr<SettingsStore> inner_;
    std::string installDir_;
};

}  // namespace veldrix::cli
