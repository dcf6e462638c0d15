#pragma once
// Reading back what a database store holds (platform/odbc/OdbcRecords.h):
// the records, oldest first, and the ID codes with their state.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace veldrix {

// Each record's columns as the records folder has them (records/RecordFolder.h,
// column::), then the station and the program version; only those of the
// local dates from..to ("YYYY-MM-DD", both within; empty: open). False, with
// the driver's words (no secrets) in problem, when the server cannot be read.
bool ReadOdbcRecords(const std::string& connection, const std::function<void(const std::vector<std::string>&)>& each,
                     std::string& problem, const std::string& from = "", const std::string& to = "");

struct OdbcIdCode {
    uint32_t code = 0;
    std::string state;  // "taken" (handed out, never confirmed) or "good"
    std::string station, holder, time, idAddress;
};
// Every code handed out, in order.
bool ReadOdbcIdCodes(const std::string& connection, std::vector<OdbcIdCode>& codes, std::string& problem);

}  // namespace veldrix
