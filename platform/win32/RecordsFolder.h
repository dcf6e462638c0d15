#pragma once
// Where the production records go on Windows, and showing them to the operator.
#include <string>

namespace veldrix {

class SettingsStore;

// The program key's `log_dir` when it holds one, else VELDRIX\logs under the
// user's local application-data folder; empty when neither is known.
std::string RecordsFolderPath(SettingsStore& settings);
// VELDRIX under the local application data: the program's own files beside
// its settings (records waiting for their folder, the downloads per port).
std::string ProgramStateFolder();
// Opens the folder (created first when missing) in the file manager; false
// when that failed.
bool OpenInFileManager(const std::string& folder);

}  // namespace veldrix
