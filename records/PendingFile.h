#pragma once
// Records that could not be stored yet, kept on the disk for the next chance:
// a run's pending file ("pending-<run>-<n><suffix>": a byte-order mark, a
// header line, one CSV record a line), locked while the run lives, so that a
// later start takes over only the files of runs that are gone. A line
// "#stored,N" says how many of its records are stored by now, so a file left
// behind holds only what still waits. Both record stores keep their waiting
// records this way (records/RecordFolder.h, platform/odbc/OdbcRecords.h).
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "seams/Files.h"

namespace veldrix {

class PendingFile {
public:
    // header: the header line without its line end; run: this run's name.
    PendingFile(std::string header, std::string run) : header_(std::move(header)), run_(std::move(run)) {}
    ~PendingFile() { Leave(); }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Every waiting record in the file: count of them, line(i) the i-th with
    // its line end (the oldest first). Those the file lacks are added; when
    // it cannot take them it is made anew, in the first of places (folder,
    // file name ending) where that works. False when none could.
    bool Keep(size_t count, const std::function<const std::string&(size_t)>& line,
              const std::vector<std::pair<std::string, std::string>>& places);
    // The first stored of the waiting records are stored, left wait still;
    // with none left the file goes.
    void Stored(size_t stored, size_t left);
    // Removes the file (none left, or it is to be made anew).
    void Drop(bool noneLeft);
    // Leaves the file where it is, unlocked, for the next start.
    void Leave();
    const std::string& Path() const { return path_; }

private:
    bool Create(const std::string& folder, const std::string& suffix, size_t count,
                const std::function<const std::string&(size_t)>& line);
    const std::string header_, run_;
    FileLock lock_;
    AppendFile file_;
    std::string path_;
    size_t inFile_ = 0;   // the waiting records that are in the file
    size_t stored_ = 0;   // its records stored since it was made
    unsigned serial_ = 0;
};

// A pending file found in a folder.
struct PendingFound {
    std::string path;
    std::string run;  // the run that made it
};
// The pending files in folder whose names end in suffix, in name order,
// other than copies someone made of one ("... - Copy.csv").
std::vector<PendingFound> PendingFilesIn(const std::string& folder, const std::string& suffix);
// The records a pending file still holds, after those it says are stored,
// as their fields, with the columns its header names; false when it cannot
// be read or is still empty (just made: its run has it).
bool ReadPendingFile(const std::string& path, std::vector<std::vector<std::string>>& records, size_t& columns);
// Says in a gone run's pending file that count of its records are stored.
void NotePendingStored(const std::string& path, size_t count);

}  // namespace veldrix
