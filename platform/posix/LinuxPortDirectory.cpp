#include "platform/posix/LinuxPortDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

namespace veldrix {

namespace {
const std::string kPrefix = "\\DEVICE\\PROLIFICSERIAL";

std::string Upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}
}  // namespace

LinuxPortDirectory::LinuxPortDirectory(std::string fixedPort, std::string sysfsDriverDir)
    : fixedPort_(std::move(fixedPort)), driverDir_(std::move(sysfsDriverDir)) {}

std::optional<std::string> LinuxPortDirectory::Lookup(const std::string& valueName) {
    std::string v = Upper(valueName);
    if (v.rfind(kPrefix, 0) != 0) return std::nullopt;
    std::string number = v.substr(kPrefix.size());
    if (number.empty() || number.size() > 3) return std::nullopt;
    for (char c : number)
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    if (!fixedPort_.empty()) {
        if (number == "0" && Exists(fixedPort_)) return fixedPort_;
        return std::nullopt;
    }
    if (!Exists(driverDir_ + "/ttyUSB" + number)) return std::nullopt;
    return "/dev/ttyUSB" + number;
}

}  // namespace veldrix
