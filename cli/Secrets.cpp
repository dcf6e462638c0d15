#include "cli/Secrets.h"

#include <cstdio>
#include <iostream>

#include "cli/Interrupt.h"
#include "cli/Options.h"
#include "platform/odbc/Odbc.h"
#include "seams/Files.h"

#ifdef _WIN32
#include <windows.h>
#include <conio.h>
#include "platform/win32/Text.h"
#else
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace veldrix::cli {

std::optional<std::string> FirstLineOf(const std::string& path) {
    std::string text;
    if (!ReadFileBytes(path, text)) return std::nullopt;
    size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

std::optional<RecordsDatabase> RecordsDatabaseOf(const Options& o, std::string& error) {
    if (!o.recordsDsn.empty()) return RecordsDatabase{odbc::DsnConnection(o.recordsDsn), o.recordsDsn};
    if (o.recordsOdbcFile.empty()) return std::nullopt;
    std::optional<std::string> line = FirstLineOf(o.recordsOdbcFile);
    if (!line || line->empty()) {
        std::string why = line ? "文件为空" : FileReadProblem(o.recordsOdbcFile);
        error = "无法读取数据库连接文件 " + o.recordsOdbcFile + (why.empty() ? "" : ": " + why);
        return std::nullopt;
    }
    return RecordsDatabase{*line, o.recordsOdbcFile};  // the file, never what it holds
}

#ifdef _WIN32
std::optional<std::string> PromptHidden(const std::string& prompt) {
    DWORD mode = 0;
    // The console itself, even when standard input is a pipe from a handler.
    HANDLE console = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) {
        if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
        return std::nullopt;
    }
    std::wstring wide = Widen(prompt);
    DWORD written = 0;
    HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
    WriteConsoleW(out, wide.c_str(), DWORD(wide.size()), &written, nullptr);
    std::wstring line;
    {
        TerminalHold hold(console, mode);
        SetConsoleMode(console, mode & ~DWORD(ENABLE_ECHO_INPUT));
        wchar_t c;
        DWORD read = 0;
        while (!Interrupted() && ReadConsoleW(console, &c, 1, &read, nullptr) && read == 1 && c != L'\r' && c != L'\n')
            line += c;
        SetConsoleMode(console, mode);
    }
    CloseHandle(console);
    WriteConsoleW(out, L"\r\n", 2, &written, nullptr);
    if (Interrupted()) return std::nullopt;
    return Narrow(line);
}
#else
std::optional<std::string> PromptHidden(const std::string& prompt) {
    // The terminal itself, even when standard input is a pipe from a handler.
    int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    termios saved{};
    if (::tcgetattr(fd, &saved) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    quiet.c_lflag |= ECHONL;
    [[maybe_unused]] ssize_t shown = ::write(fd, prompt.data(), prompt.size());
    std::string line;
    bool ended = false;
    {
        // A second Ctrl-C puts the echo back before the program ends; the
        // first ends the read (no restart), and so does any error.
        TerminalHold hold(fd, &saved);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
        char c;
        while (!Interrupted() && ::read(fd, &c, 1) == 1) {
            if (c == '\n') {
                ended = true;
                break;
            }
            line += c;
        }
        ::tcsetattr(fd, TCSAFLUSH, &saved);
    }
    if (!ended) {
        [[maybe_unused]] ssize_t n = ::write(fd, "\n", 1);
    }
    ::close(fd);
    if (!ended) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}
#endif

std::optional<std::string> Secrets::FromFile(const std::string& path) {
    auto line = FirstLineOf(path);
    if (!line) {
        std::string why = FileReadProblem(path);
        problem_ = "无法读取密码文件 " + path + (why.empty() ? std::string() : ": " + why);
    }
    return line;
}

std::string Secrets::PasswordProblem() {
    std::lock_guard lock(mutex_);
    return problem_;
}

std::optional<std::string> Secrets::Password() {
    std::lock_guard lock(mutex_);
    if (!password_)
        password_ = !passwordFile_.empty() ? FromFile(passwordFile_)
                    : mayPrompt_           ? PromptHidden("请输入操作密码: ")
                                           : std::nullopt;
    return *password_;
}

std::string Secrets::NewPasswordProblem() {
    std::lock_guard lock(mutex_);
    return newProblem_;
}

std::optional<std::string> Secrets::NewPassword() {
    std::lock_guard lock(mutex_);
    if (!newPassword_) {
        if (!newPasswordFile_.empty()) {
            const std::string before = problem_;
            newPassword_ = FromFile(newPasswordFile_);
            if (!*newPassword_) newProblem_ = problem_, problem_ = before;
        } else if (mayPrompt_) {
            auto first = PromptHidden("请输入新密码: ");
            auto again = first ? PromptHidden("请再次输入新密码: ") : std::nullopt;
            // Two entries that differ set nothing, as in the set-password dialog.
            newPassword_ = first && again && *first == *again ? first : std::nullopt;
            if (!*newPassword_) newProblem_ = first && again ? "两次输入的新密码不一致" : "没有输入新密码";
        } else {
            newPassword_ = std::optional<std::string>();
            newProblem_ = "没有新密码: --new-password-file 或在终端输入";
        }
    }
    return *newPassword_;
}

}  // namespace veldrix::cli
