#pragma once
// Project files (.pvx): the code file in use with the chip and the options
// of the main window.
#include <string>

namespace veldrix {

struct AppContext;

// 1 full, 2 medium, 3 low speed; 1 when none is checked.
int SelectedSpeed(AppContext& ctx);

// "保存工程": asks for a name and writes the project file.
void SaveProject(AppContext& ctx);
// Applies a project file to the controls; false (LinkErrorFlag raised, status
// text left) when it cannot be read or is not a project file.
bool LoadProject(AppContext& ctx, const std::string& path);
// A project's code file as it is opened: a relative name from the project
// file's folder when it is there, else as it stands (the current folder).
std::string ProjectRelative(const std::string& projectPath, const std::string& codeFile);

}  // namespace veldrix
