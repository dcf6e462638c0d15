#pragma once
// The one place that builds the store of production records from what a
// program was told: a line's database, a records folder, or none (the run
// keeps no records and hands out codes within itself). The window,
// veldrix-headless and veldrix-cli all build theirs here.
#include <memory>
#include <string>

#include "seams/ProductionRecords.h"

namespace veldrix {

class OdbcRecords;
class RecordFolder;

struct RecordsPlace {
    std::string connection;   // a database's connection string (a secret); empty: none
    std::string sourceName;   // the database as texts name it
    std::string folder;       // the records folder, without a database; empty with neither: none kept
    std::string waitFolder;   // where records wait while the store cannot take them; empty: none
    std::string station, version;
};

struct BuiltRecords {
    std::unique_ptr<ProductionRecords> store;
    OdbcRecords* server = nullptr;  // the database's store, not opened yet when asked so
    RecordFolder* folder = nullptr;
    bool kept = false;  // records are kept (not the memory of a run that keeps none)
};

// open: connects to the database (or reads the folder) before it returns;
// the window opens its database off its own thread instead.
BuiltRecords MakeRecords(const RecordsPlace& place, bool open = true);

}  // namespace veldrix
