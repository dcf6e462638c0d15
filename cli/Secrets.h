#pragma once
// The operation password for every unit of one call: from --password-file,
// else typed at the terminal without echo; never from the command line.
// Asked once and kept for the call.
#include <mutex>
#include <optional>
#include <string>

namespace veldrix::cli {

class Secrets {
public:
    // mayPrompt: a person is at the terminal to type it.
    Secrets(std::string passwordFile, std::string newPasswordFile, bool mayPrompt)
        : passwordFile_(std::move(passwordFile)), newPasswordFile_(std::move(newPasswordFile)), mayPrompt_(mayPrompt) {}

    std::optional<std::string> Password();
    std::optional<std::string> NewPassword();
    // Why no password could be had from a file named ("无法读取密码文件 F: 文件不存在"); empty otherwise.
    std::string PasswordProblem();
    // Why no new password was had ("" when one was).
    std::string NewPasswordProblem();

private:
    std::optional<std::string> FromFile(const std::string& path);
    std::string problem_;
    std::string newProblem_;
    std::mutex mutex_;
    std::string passwordFile_, newPasswordFile_;
    bool mayPrompt_;
    std::optional<std::optional<std::string>> password_, newPassword_;
};

struct Options;

// The records database the options name: its connection string (a secret)
// and the name texts may show (the DSN, or the file the string came from).
struct RecordsDatabase {
    std::string connection, name;
};
// Nothing when the options name none; error says why a file named gave none.
std::optional<RecordsDatabase> RecordsDatabaseOf(const Options& o, std::string& error);

// The first line of a file, without its line end; nothing when unreadable.
std::optional<std::string> FirstLineOf(const std::string& path);
// A line typed at the terminal without echo; nothing without a terminal.
std::optional<std::string> PromptHidden(const std::string& prompt);

}  // namespace veldrix::cli
