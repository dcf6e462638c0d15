#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "seams/Files.h"

namespace veldrix {

namespace {

std::string Reason(int error) {
    switch (error) {
    case ENOENT: return "文件不存在";
    case ENOTDIR: return "路径中有一部分不是文件夹";
    case EACCES:
    case EPERM: return "没有访问权限";
    case EISDIR: return "这是一个文件夹, 不是文件";
    }
    return std::strerror(error);
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string FileReadProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Reason(errno);
    if (S_ISDIR(st.st_mode)) return Reason(EISDIR);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Reason(errno);
    ::close(fd);
    return {};
}

std::string FileWriteProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return Reason(EISDIR);
        if (::access(path.c_str(), W_OK) != 0) return Reason(errno);
    }
    const std::string folder = FolderOf(path);
    if (::stat(folder.c_str(), &st) != 0) return errno == ENOENT ? "所在的文件夹不存在" : Reason(errno);
    if (!S_ISDIR(st.st_mode)) return "路径中有一部分不是文件夹";
    // The file is written beside itself first, then renamed over.
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return "没有在所在文件夹中写入的权限";
    return {};
}

bool ReadFilePieces(const std::string& path, const std::function<bool(std::string_view)>& take, uint64_t from) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    if (from && ::fseeko(f, off_t(from), SEEK_SET) != 0) {
        std::fclose(f);
        return false;
    }
    char chunk[65536];
    size_t n;
    bool more = true;
    while (more && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0) more = take(std::string_view(chunk, n));
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool ReadFileBytes(const std::string& path, std::string& out) {
    out.clear();
    return ReadFilePieces(path, [&](std::string_view piece) {
        out.append(piece);
        return true;
    });
}

FileWriter::~FileWriter() { Discard(); }

bool FileWriter::Open(const std::string& path) {
    Discard();
    path_ = path;
    temp_ = path + ".part";
    failed_ = false;
    file_ = std::fopen(temp_.c_str(), "wb");
    if (!file_) failed_ = true;
    return file_ != nullptr;
}

bool FileWriter::Write(std::string_view data) {
    if (!file_ || failed_) return false;
    if (std::fwrite(data.data(), 1, data.size(), static_cast<FILE*>(file_)) != data.size()) failed_ = true;
    return !failed_;
}

bool FileWriter::Commit() {
    if (!file_) return false;
    FILE* f = static_cast<FILE*>(file_);
    file_ = nullptr;
    if (std::fflush(f) != 0 || fsync(fileno(f)) != 0) failed_ = true;
    if (std::fclose(f) != 0) failed_ = true;
    if (!failed_ && std::rename(temp_.c_str(), path_.c_str()) != 0) failed_ = true;
    if (failed_) std::remove(temp_.c_str());
    return !failed_;
}

void FileWriter::Discard() {
    if (!file_) return;
    std::fclose(static_cast<FILE*>(file_));
    file_ = nullptr;
    std::remove(temp_.c_str());
}

bool WriteFileReplacing(const std::string& path, std::string_view data) {
    FileWriter w;
    return w.Open(path) && w.Write(data) && w.Commit();
}

bool MakeFolders(const std::string& path) {
    struct stat st;
    if (path.empty()) return false;
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) return false;
    return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

bool ListFiles(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        struct stat st;
        if (::stat((folder + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
    }
    ::closedir(dir);
    return true;
}

bool ListFileSizes(const std::string& folder, std::vector<FileEntry>& files) {
    files.clear();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    while (dirent* e = ::readdir(dir)) {
        if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0 && S_ISREG(st.st_mode))
            files.push_back({e->d_name, uint64_t(st.st_size)});
    }
    ::closedir(dir);
    return true;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

std::string ComputerName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !host[0]) return "host";
    return host;
}

std::string ProcessName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || !host[0]) std::snprintf(host, sizeof host, "host");
    std::string name;
    for (const char* c = host; *c; ++c) {
        bool safe = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '-' ||
                    *c == '_';
        name += safe ? *c : '_';
    }
    return name + "-" + std::to_string(::getpid());
}

namespace {

// One byte far past any data of ours; the same on Windows.
constexpr off_t kLockedByte = 0x7FFFFFFF;

bool SetLock(int fd, short type, bool wait) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = kLockedByte;
    lock.l_len = 1;
    // Locks of the open file, not of the process: two opens in one process
    // exclude each other, and threads or a fork share nothing by accident.
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return true;
        if (errno != EINTR) return false;
    }
}

}  // namespace

FileLock::~FileLock() { Close(); }

bool FileLock::Open(const std::string& path) {
    Close();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    path_ = path;
    return true;
}

FileLock::Try FileLock::Attempt(const std::string& path) {
    Unlock();
    for (int tries = 0; tries < 3; ++tries) {
        if ((handle_ < 0 || path != path_) && !Open(path)) return Try::Failed;
        if (!SetLock(int(handle_), F_WRLCK, false)) {
            if (errno == EAGAIN || errno == EACCES) return Try::Busy;
            // A handle left from a folder that is gone may fail where a fresh one would not.
            Close();
            continue;
        }
        // The file kept open may have been removed or replaced (its folder
        // with it) since: the lock must be on the file the path names now.
        struct stat named, held;
        if (::stat(path.c_str(), &named) == 0 && ::fstat(int(handle_), &held) == 0 && named.st_dev == held.st_dev &&
            named.st_ino == held.st_ino) {
            locked_ = true;
            return Try::Taken;
        }
        Close();
    }
    return Try::Failed;
}

void FileLock::Unlock() {
    if (locked_ && handle_ >= 0) SetLock(int(handle_), F_UNLCK, false);
    locked_ = false;
}

void FileLock::Close() {
    Unlock();
    if (handle_ >= 0) ::close(int(handle_));
    handle_ = -1;
    path_.clear();
}

bool FileLock::ReadHead(size_t count, std::string& out) {
    out.assign(count, '\0');
    if (!locked_) return false;
    ssize_t n = ::pread(int(handle_), out.data(), count, 0);
    if (n < 0) return false;
    out.resize(size_t(n));
    return true;
}

bool FileLock::WriteHead(std::string_view data) {
    if (!locked_) return false;
    return ::pwrite(int(handle_), data.data(), data.size(), 0) == ssize_t(data.size());
}

AppendFile::~AppendFile() { Close(); }

bool AppendFile::Open(const std::string& path) {
    Close();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    size_ = uint64_t(st.st_size);
    return true;
}

bool AppendFile::ReadAt(uint64_t offset, size_t count, std::string& out) {
    out.assign(count, '\0');
    if (handle_ < 0) return false;
    ssize_t n = ::pread(int(handle_), out.data(), count, off_t(offset));
    if (n < 0) return false;
    out.resize(size_t(n));
    return true;
}

bool AppendFile::Append(std::string_view data, bool flush) {
    if (handle_ < 0) return false;
    // One write puts the whole record in place; a short one (a full disk) goes on.
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(int(handle_), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    size_ += done;
    return !flush || ::fdatasync(int(handle_)) == 0;
}

void AppendFile::Close() {
    if (handle_ >= 0) ::close(int(handle_));
    handle_ = -1;
    size_ = 0;
}

std::string ToFileText(std::string_view utf8) { return std::string(utf8); }
std::string FromFileText(std::string_view bytes) { return std::string(bytes); }

}  // namespace veldrix
