#include <windows.h>

#include <cstdio>

#include "seams/Files.h"
#include "platform/win32/Text.h"

namespace veldrix {

bool ReadFilePieces(const std::string& path, const std::function<bool(std::string_view)>& take) {
    FILE* f = _wfopen(Widen(path).c_str(), L"rb");
    if (!f) return false;
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
    if (std::fflush(f) != 0) failed_ = true;
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

std::string ToFileText(std::string_view utf8) { return ToCodePage(utf8, CP_ACP); }
std::string FromFileText(std::string_view bytes) { return FromCodePage(bytes, CP_ACP); }

}  // namespace veldrix
