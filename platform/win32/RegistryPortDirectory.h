#pragma once
// The serial devices Windows lists under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
#include <windows.h>

#include "seams/PortDirectory.h"

namespace veldrix {

class RegistryPortDirectory : public PortDirectory {
public:
    RegistryPortDirectory();
    RegistryPortDirectory(HKEY root, std::wstring path);

    bool Available() override;
    std::optional<std::string> Lookup(const std::string& valueName) override;

private:
    HKEY root_;
    std::wstring path_;
};

}  // namespace veldrix
