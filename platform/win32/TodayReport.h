#pragma once
// The window's system-menu entry for the production report: today's page,
// written from the records (the folder or the line's database) and opened in
// the default browser.
#include <string>

#include "seams/Clock.h"

namespace veldrix {

class RecordSource;

// Writes "report-YYYY-MM-DD.html" of now's local day into the folder into
// (made when missing); path names the page, also when it could not be written.
bool WriteTodayReport(RecordSource& source, const std::string& into, const LocalTime& now, std::string& path);
// Opens the page in the browser the user chose for web pages.
bool OpenInBrowser(const std::string& path);

}  // namespace veldrix
