#include "platform/odbc/RecordsFactory.h"

#include "platform/odbc/OdbcRecords.h"
#include "records/MemoryRecords.h"
#include "records/RecordFolder.h"

namespace veldrix {

BuiltRecords MakeRecords(const RecordsPlace& place, bool open) {
    BuiltRecords built;
    if (!place.connection.empty()) {
        auto server = std::make_unique<OdbcRecords>(
            OdbcPlace{place.connection, place.sourceName, place.waitFolder, place.station, place.version});
        // A server away now: records wait and the ID step asks again.
        if (open) server->Open();
        built.server = server.get();
        built.store = std::move(server);
        built.kept = true;
    } else if (!place.folder.empty()) {
        auto folder = std::make_unique<RecordFolder>(place.folder, place.waitFolder);
        // Read once here: the ID codes of good chips, for the whole run.
        if (open) folder->Load();
        built.folder = folder.get();
        built.store = std::move(folder);
        built.kept = true;
    } else {
        built.store = std::make_unique<MemoryRecords>();
    }
    return built;
}

}  // namespace veldrix
