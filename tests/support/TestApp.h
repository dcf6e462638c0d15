#pragma once
// An application context on the headless window, virtual time and in-memory
// settings, with no programmer attached.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "app/ControlTable.h"
#include "platform/headless/HeadlessUi.h"
#include "platform/headless/MemorySettings.h"
#include "platform/headless/VirtualClock.h"
#include "tests/support/TestDoubles.h"

namespace veldrix::test {

template <class UiType = HeadlessUi>
struct TestAppOf {
    UiType ui;
    VirtualClock clock;
    MemorySettings settings;
    NullPort port;
    NullPortDirectory ports;
    AppContext ctx{ui, clock, settings, port, ports};

    // Every control of the main window as the table defines it, without the
    // chip list or the saved settings.
    void CreateControls() {
        for (const ControlDef& def : MainControls()) ui.CreateControl(def);
    }

    // A chip list of the given records (the first should be "NOSELEC"), shown
    // in the drop-down list with the first entry selected.
    void UseChips(std::initializer_list<ChipRecord> chips) {
        for (ChipRecord& slot : ctx.catalogue.records) slot = ChipRecord();
        ctx.catalogue.count = 0;
        for (const ChipRecord& chip : chips) ctx.catalogue.records[ctx.catalogue.count++] = chip;
        ctx.catalogue.loaded = true;
        ui.ComboClear(id::kChipCombo);
        for (uint32_t i = 0; i < ctx.catalogue.count; ++i) ui.ComboAdd(id::kChipCombo, ctx.catalogue.records[i].name);
        ui.ComboSelect(id::kChipCombo, 0);
    }
};
using TestApp = TestAppOf<>;

// A fresh directory for one test's files, removed afterwards.
class TempDir {
public:
    TempDir() {
        static int serial = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("veldrix-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }
    // Writes bytes as they stand; returns the full path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::string path = File(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

private:
    std::filesystem::path path_;
};

}  // namespace veldrix::test
