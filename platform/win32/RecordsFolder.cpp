#include "platform/win32/RecordsFolder.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "platform/win32/Text.h"
#include "seams/Files.h"
#include "seams/Platform.h"
#include "seams/SettingsStore.h"

namespace veldrix {

namespace {
constexpr size_t kPathBytes = 4096;  // UTF-8: a long path of Chinese names
}  // namespace

std::string ProgramStateFolder() {
    PWSTR local = nullptr;
    std::string folder;
    if (SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &local) == S_OK && local)
        folder = JoinPath(Narrow(local), "VELDRIX");
    CoTaskMemFree(local);
    return folder;
}

std::string RecordsFolderPath(SettingsStore& settings) {
    if (auto chosen = settings.Read("log_dir", kPathBytes); chosen && !chosen->empty()) return *chosen;
    std::string folder = ProgramStateFolder();
    return folder.empty() ? folder : JoinPath(folder, "logs");
}

bool OpenInFileManager(const std::string& folder) {
    if (!MakeFolders(folder)) return false;
    HINSTANCE done = ShellExecuteW(nullptr, L"open", Widen(folder).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(done) > 32;
}

}  // namespace veldrix
