#pragma once
// Whole-file reads and writes with UTF-8 path names, files that only grow,
// locks on a file between processes, and the text encoding of whatever leaves
// the program as bytes: files, the registry's read buffers, the unit's records
// and password. That is the system's ANSI code page on Windows (GBK on a
// Chinese system); elsewhere UTF-8 bytes as they stand.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace veldrix {

// Why a file cannot be read, in the program's words (not there, a folder, no
// permission) or else the system's; empty when it opens.
std::string FileReadProblem(const std::string& path);
// Why a file cannot be written at path (its folder missing, a folder of that
// name, no permission); empty when nothing stands in the way.
std::string FileWriteProblem(const std::string& path);

// False when the file cannot be opened for reading.
bool ReadFileBytes(const std::string& path, std::string& out);
// The file, from offset from to its end, in successive pieces, in order,
// without holding it whole; take returns false to stop early. False when the
// file cannot be opened or a read fails.
bool ReadFilePieces(const std::string& path, const std::function<bool(std::string_view)>& take, uint64_t from = 0);

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

// Creates the folder and any missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& path);
// The names of the plain files in a folder; false when it cannot be listed.
bool ListFiles(const std::string& folder, std::vector<std::string>& names);
struct FileEntry {
    std::string name;
    uint64_t size = 0;
};
// The plain files in a folder with their sizes.
bool ListFileSizes(const std::string& folder, std::vector<FileEntry>& files);
// False when the file is still there afterwards.
bool RemoveFile(const std::string& path);
// This process among those that share a folder, for names in it: the
// computer's name and the process id ("PC7-4120"), in letters, digits, "-"
// and "_" only.
std::string ProcessName();
// The computer's name as the system gives it (UTF-8), for the station column of records.
std::string ComputerName();

// A file that only grows, such as a log: each Append goes to its end and is
// on the disk when it returns. Others may read the file meanwhile.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Creates the file when missing; false when it cannot be opened for writing.
    bool Open(const std::string& path);
    uint64_t Size() const { return size_; }
    // Up to count bytes from offset; false when the read fails.
    bool ReadAt(uint64_t offset, size_t count, std::string& out);
    // Writes data whole at the end, then flushes it to the disk; unflushed,
    // a power cut may take it away again.
    bool Append(std::string_view data, bool flush = true);
    void Close();

private:
    intptr_t handle_ = -1;
    uint64_t size_ = 0;
};

// A lock on a file between processes, PCs sharing a folder, and the handles
// of one process: two FileLocks on one file exclude each other even inside a
// process. The file is created when missing and kept open between locks. The
// lock sits on one byte far past any data, so the file's bytes stay free to
// read and write (a lock on Windows would bind them).
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    enum class Try {
        Taken,
        Busy,    // another holds it
        Failed,  // the file cannot be opened or locked (a share gone, no permission)
    };
    // Takes the lock only when it is free, never waiting: a holder that died
    // on a share must not stop the caller. Whoever must have it tries again
    // until a deadline of its own.
    Try Attempt(const std::string& path);
    bool TryLock(const std::string& path) { return Attempt(path) == Try::Taken; }
    void Unlock();
    // Unlocks and closes the file.
    void Close();
    bool Locked() const { return locked_; }
    // The file's first bytes (up to count) and writing over them, while
    // locked: a small state its holders pass on to each other.
    bool ReadHead(size_t count, std::string& out);
    bool WriteHead(std::string_view data);

private:
    bool Open(const std::string& path);

    std::string path_;
    intptr_t handle_ = -1;
    bool locked_ = false;
};

std::string ToFileText(std::string_view utf8);
// On Windows a character cut short at the end (a name the unit kept to its
// field) is dropped rather than shown as a stray sign.
std::string FromFileText(std::string_view bytes);

}  // namespace veldrix
