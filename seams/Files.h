#pragma once
// Whole-file reads and writes with UTF-8 path names, and the text encoding of
// whatever leaves the program as bytes: files, the registry's read buffers, the
// unit's records and password. That is the system's ANSI code page on Windows
// (GBK on a Chinese system); elsewhere UTF-8 bytes as they stand.
#include <functional>
#include <string>
#include <string_view>

namespace veldrix {

// False when the file cannot be opened for reading.
bool ReadFileBytes(const std::string& path, std::string& out);
// The file in successive pieces, in order, without holding it whole; take
// returns false to stop early. False when the file cannot be opened or a read
// fails.
bool ReadFilePieces(const std::string& path, const std::function<bool(std::string_view)>& take);

// Writes a file through a temporary beside it and renames it over the target,
// so a failed write leaves the previous file as it was.
class FileWriter {
public:
    FileWriter() = default;
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    bool Open(const std::string& path);
    bool Write(std::string_view data);
    // Flushes and puts the file in place; false when anything failed.
    bool Commit();
    void Discard();
    bool Failed() const { return failed_; }

private:
    std::string path_, temp_;
    void* file_ = nullptr;
    bool failed_ = false;
};

bool WriteFileReplacing(const std::string& path, std::string_view data);

std::string ToFileText(std::string_view utf8);
// On Windows a character cut short at the end (a name the unit kept to its
// field) is dropped rather than shown as a stray sign.
std::string FromFileText(std::string_view bytes);

}  // namespace veldrix
