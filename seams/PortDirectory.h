#pragma once
// The adapter's port names, as the operating system lists them.
#include <optional>
#include <string>

namespace veldrix {

class PortDirectory {
public:
    virtual ~PortDirectory() = default;
    // False when the device list cannot be opened at all.
    virtual bool Available() = 0;
    // The port name listed under the value "\Device\ProlificSerial<n>", if any.
    virtual std::optional<std::string> Lookup(const std::string& valueName) = 0;
};

}  // namespace veldrix
