#pragma once
// The PL2303 driver's ports on Linux: /dev/ttyUSB<n> is listed under
// "\Device\ProlificSerial<n>", so the order is stable and an unplugged
// adapter disappears from the list. A fixed port can be given instead.
#include <string>

#include "seams/PortDirectory.h"

namespace veldrix {

class LinuxPortDirectory : public PortDirectory {
public:
    // fixedPort: when not empty, the only port listed (value 0).
    explicit LinuxPortDirectory(std::string fixedPort = {}, std::string sysfsDriverDir = "/sys/bus/usb-serial/drivers/pl2303");
    bool Available() override { return true; }
    std::optional<std::string> Lookup(const std::string& valueName) override;

private:
    std::string fixedPort_, driverDir_;
};

}  // namespace veldrix
