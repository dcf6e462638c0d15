#pragma once
// What this PC last downloaded into the programmer on each port, as a strong
// digest of the range and its bytes. The programmer's own 16-bit sum cannot
// tell two codes apart; a call that skips the download trusts the memory only
// when this names the same code. Kept in a small file beside the settings,
// shared by the window and the command line.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace veldrix {

// The digest of code[start..end] with the range itself.
std::string DownloadDigest(const std::vector<uint8_t>& code, uint32_t start, uint32_t end);

class DownloadMemo {
public:
    explicit DownloadMemo(std::string path) : path_(std::move(path)) {}
    // A download of this digest reached the port's programmer.
    void Remember(const std::string& port, const std::string& digest);
    // The port's memory holds something else now (or nothing known).
    void Forget(const std::string& port);
    std::optional<std::string> Last(const std::string& port);

private:
    // port -> digest, as the file holds them (re-read each time: others write it too).
    std::vector<std::pair<std::string, std::string>> Read();
    void Write(const std::vector<std::pair<std::string, std::string>>& entries);

    std::mutex mutex_;
    const std::string path_;
};

}  // namespace veldrix
