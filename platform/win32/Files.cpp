#include <windows.h>
#include <io.h>

#include <cstdio>

#include "seams/Files.h"
#include "seams/Platform.h"
#include "platform/win32/Text.h"

namespace veldrix {

bool ReadFilePieces(const std::string& path, const std::function<bool(std::string_view)>& take, uint64_t from) {
    FILE* f = _wfopen(Widen(path).c_str(), L"rb");
    if (!f) return false;
    if (from && _fseeki64(f, int64_t(from), SEEK_SET) != 0) {
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

namespace {

std::string Reason(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND: return "文件不存在";
    case ERROR_PATH_NOT_FOUND: return "所在的文件夹不存在";
    case ERROR_ACCESS_DENIED: return "没有访问权限";
    case ERROR_SHARING_VIOLATION: return "文件正被其它程序占用";
    }
    return SystemMessage(error);
}

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash + (slash == 2 && path[1] == L':' ? 1 : 0));
}

}  // namespace

std::string FileReadProblem(const std::string& path) {
    std::wstring wide = Widen(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Reason(GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "这是一个文件夹, 不是文件";
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Reason(GetLastError());
    CloseHandle(h);
    return {};
}

std::string FileWriteProblem(const std::string& path) {
    std::wstring wide = Widen(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "这是一个文件夹, 不是文件";
        if (attributes & FILE_ATTRIBUTE_READONLY) return "文件是只读的";
    }
    DWORD folder = GetFileAttributesW(FolderOf(wide).c_str());
    if (folder == INVALID_FILE_ATTRIBUTES) return "所在的文件夹不存在";
    if (!(folder & FILE_ATTRIBUTE_DIRECTORY)) return "路径中有一部分不是文件夹";
    return {};
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
    file_ = _wfopen(Widen(temp_).c_str(), L"wb");
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
    // On the disk before it takes the old file's place: a power cut just after
    // the rename must not leave an empty file under the name.
    if (std::fflush(f) != 0 || !FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)))))
        failed_ = true;
    if (std::fclose(f) != 0) failed_ = true;
    if (!failed_ && !MoveFileExW(Widen(temp_).c_str(), Widen(path_).c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        failed_ = true;
    if (failed_) DeleteFileW(Widen(temp_).c_str());
    return !failed_;
}

void FileWriter::Discard() {
    if (!file_) return;
    std::fclose(static_cast<FILE*>(file_));
    file_ = nullptr;
    DeleteFileW(Widen(temp_).c_str());
}

bool WriteFileReplacing(const std::string& path, std::string_view data) {
    FileWriter w;
    return w.Open(path) && w.Write(data) && w.Commit();
}

bool MakeFolders(const std::string& path) {
    if (path.empty()) return false;
    std::wstring wide = Widen(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    auto slash = path.find_last_of("\\/");
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) return false;
    return CreateDirectoryW(wide.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool ListFiles(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Widen(JoinPath(folder, "*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(Narrow(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

bool ListFileSizes(const std::string& folder, std::vector<FileEntry>& files) {
    files.clear();
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Widen(JoinPath(folder, "*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back({Narrow(found.cFileName), uint64_t(found.nFileSizeHigh) << 32 | found.nFileSizeLow});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

bool RemoveFile(const std::string& path) {
    return DeleteFileW(Widen(path).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
           GetLastError() == ERROR_PATH_NOT_FOUND;
}

std::string ComputerName() {
    wchar_t host[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(host, &size) || size == 0) return "host";
    return Narrow(std::wstring(host, size));
}

std::string ProcessName() {
    wchar_t host[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    std::string name;
    if (GetComputerNameW(host, &size))
        for (DWORD i = 0; i < size; ++i) {
            wchar_t c = host[i];
            bool safe = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                        c == L'-' || c == L'_';
            name += safe ? char(c) : '_';
        }
    if (name.empty()) name = "host";
    return name + "-" + std::to_string(GetCurrentProcessId());
}

namespace {

// One byte far past any data of ours: a lock on Windows keeps others from
// reading and writing the bytes it covers.
constexpr DWORD kLockedByte = 0x7FFFFFFF;

}  // namespace

FileLock::~FileLock() { Close(); }

bool FileLock::Open(const std::string& path) {
    Close();
    // Without sharing deletion: the file stays where it is while it is held open.
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<intptr_t>(file);
    path_ = path;
    return true;
}

FileLock::Try FileLock::Attempt(const std::string& path) {
    Unlock();
    for (int tries = 0; tries < 2; ++tries) {
        if ((handle_ == -1 || path != path_) && !Open(path)) return Try::Failed;
        OVERLAPPED at{};
        at.Offset = kLockedByte;
        // Never waiting: on a synchronous handle a waiting LockFileEx returns only once granted.
        if (LockFileEx(reinterpret_cast<HANDLE>(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &at)) {
            locked_ = true;
            return Try::Taken;
        }
        if (GetLastError() == ERROR_LOCK_VIOLATION) return Try::Busy;
        // A handle kept from a share that went away fails where a fresh one may not.
        Close();
    }
    return Try::Failed;
}

void FileLock::Unlock() {
    if (locked_ && handle_ != -1) {
        OVERLAPPED at{};
        at.Offset = kLockedByte;
        UnlockFileEx(reinterpret_cast<HANDLE>(handle_), 0, 1, 0, &at);
    }
    locked_ = false;
}

void FileLock::Close() {
    Unlock();
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    path_.clear();
}

bool FileLock::ReadHead(size_t count, std::string& out) {
    out.assign(count, '\0');
    if (!locked_) return false;
    OVERLAPPED at{};
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), out.data(), DWORD(count), &got, &at) &&
        GetLastError() != ERROR_HANDLE_EOF)
        return false;
    out.resize(got);
    return true;
}

bool FileLock::WriteHead(std::string_view data) {
    if (!locked_) return false;
    OVERLAPPED at{};
    DWORD wrote = 0;
    return WriteFile(reinterpret_cast<HANDLE>(handle_), data.data(), DWORD(data.size()), &wrote, &at) &&
           wrote == data.size();
}

AppendFile::~AppendFile() { Close(); }

bool AppendFile::Open(const std::string& path) {
    Close();
    // Others may read and even write while we hold it; a program that holds
    // it without sharing (a spreadsheet) makes this fail.
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    size_ = uint64_t(size.QuadPart);
    return true;
}

bool AppendFile::ReadAt(uint64_t offset, size_t count, std::string& out) {
    out.assign(count, '\0');
    if (handle_ == -1) return false;
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), out.data(), DWORD(count), &got, &at) &&
        GetLastError() != ERROR_HANDLE_EOF)
        return false;
    out.resize(got);
    return true;
}

bool AppendFile::Append(std::string_view data, bool flush) {
    if (handle_ == -1) return false;
    HANDLE file = reinterpret_cast<HANDLE>(handle_);
    LARGE_INTEGER none{};
    if (!SetFilePointerEx(file, none, nullptr, FILE_END)) return false;
    size_t done = 0;
    while (done < data.size()) {
        DWORD wrote = 0;
        if (!WriteFile(file, data.data() + done, DWORD(data.size() - done), &wrote, nullptr) || wrote == 0)
            return false;
        done += wrote;
    }
    size_ += done;
    return !flush || FlushFileBuffers(file) != 0;
}

void AppendFile::Close() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    size_ = 0;
}

std::string ToFileText(std::string_view utf8) { return ToCodePage(utf8, CP_ACP); }
std::string FromFileText(std::string_view bytes) { return FromCodePage(bytes, CP_ACP); }

}  // namespace veldrix
