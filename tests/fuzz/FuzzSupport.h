#pragma once
// What the fuzz targets share: a private directory for the files an input
// becomes, and a check that aborts with a message libFuzzer reports as a crash.
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace veldrix::fuzz {

// Fails the run with the condition's text; a plain abort gives libFuzzer the
// crash and the reproducer.
#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "FUZZ_CHECK failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

// True when every byte is 0xFF. A memcmp against a blank image: a byte-by-byte
// loop in a fuzz target is instrumented and would cost more than the code under test.
inline bool AllErased(const uint8_t* bytes, size_t count) {
    static const std::string blank(size_t(1) << 20, '\xFF');
    for (size_t done = 0; done < count; done += blank.size())
        if (std::memcmp(bytes + done, blank.data(), std::min(blank.size(), count - done)) != 0) return false;
    return true;
}

// One directory per process, made on first use and removed at exit, so
// parallel fuzzers never share files and nothing lands in the checkout.
class PrivateDir {
public:
    static PrivateDir& Get() {
        static PrivateDir dir;
        return dir;
    }
    const std::string& Path() const { return path_; }
    std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
    // Writes bytes as they stand; returns the full path.
    std::string Write(std::string_view name, std::string_view bytes) const {
        std::string path = File(name);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        out.close();
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            std::abort();
        }
        return path;
    }

private:
    PrivateDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "veldrix-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        path_ = pattern;
    }
    ~PrivateDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string path_;
};

}  // namespace veldrix::fuzz
