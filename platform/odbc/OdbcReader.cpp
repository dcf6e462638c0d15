#include "platform/odbc/OdbcReader.h"

#include "platform/odbc/Odbc.h"

namespace veldrix {

bool ReadOdbcRecords(const std::string& connection, const std::function<void(const std::vector<std::string>&)>& each,
                     std::string& problem, const std::string& from, const std::string& to) {
    odbc::Connection db(connection);
    // The times are ISO 8601 text, the local date first: "2025-03-03T08:00:05+08:00"
    // sorts after "2025-03-03" and before "2025-03-03U".
    std::string where;
    std::vector<odbc::Value> values;
    if (!from.empty()) {
        where += " WHERE end_time >= ?";
        values.emplace_back(from);
    }
    if (!to.empty()) {
        where += where.empty() ? " WHERE end_time < ?" : " AND end_time < ?";
        values.emplace_back(to + "U");
    }
    if (!db.Connect() ||
        !db.Run("SELECT end_time, result, status, chip, code_file, checksum, range_start, range_end, id_code, "
                "id_address, success_count, failure_count, duration_ms, port, record_key, kind, station, program_version "
                "FROM veldrix_records" + where + " ORDER BY end_time, record_key",
                values)) {
        problem = db.Last().message;
        return false;
    }
    std::vector<std::optional<std::string>> row;
    std::vector<std::string> fields;
    while (db.Fetch(row)) {
        fields.clear();
        for (const auto& value : row) fields.push_back(value.value_or(""));
        each(fields);
    }
    problem = db.Last().message;
    return problem.empty();
}

bool ReadOdbcIdCodes(const std::string& connection, std::vector<OdbcIdCode>& codes, std::string& problem) {
    codes.clear();
    odbc::Connection db(connection);
    if (!db.Connect() || !db.Run("SELECT id_code, state, station, holder, at_time, id_address FROM veldrix_id_codes "
                                 "ORDER BY id_code")) {
        problem = db.Last().message;
        return false;
    }
    std::vector<std::optional<std::string>> row;
    while (db.Fetch(row)) {
        OdbcIdCode c;
        c.code = uint32_t(std::stoul(row[0].value_or("0")));
        c.state = row[1].value_or("");
        c.station = row[2].value_or("");
        c.holder = row[3].value_or("");
        c.time = row[4].value_or("");
        c.idAddress = row[5].value_or("");
        codes.push_back(c);
    }
    problem = db.Last().message;
    return problem.empty();
}

}  // namespace veldrix
