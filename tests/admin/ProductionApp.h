#pragma once
// The linked application with the helpers the production tests share: a chip
// in the socket, a code file downloaded, and the sessions the host opened.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "code/ChipCatalogue.h"
#include "code/Csv.h"
#include "records/RecordFolder.h"
#include "seams/Files.h"
#include "state/ControlIds.h"
#include "tests/support/LinkedApp.h"
#include "tests/support/TestApp.h"

namespace veldrix::test {

struct ProductionApp : LinkedApp {
    TempDir dir;

    // varied: the unit makes every choice the host must not depend on
    // differently, from before the first search on.
    explicit ProductionApp(bool varied = false) {
        prog.state.vary.SetAll(varied);
        Start();
    }

    void SelectChip(const std::string& name) {
        ASSERT_TRUE(ui.ApplyComboChoice(id::kChipCombo, name));
        ApplyChipSelection(ctx);
    }
    void PutChip(sim::ChipKind kind) {
        std::lock_guard lock(prog.state.mutex);
        prog.state.chip = sim::Chip::Blank(kind);
    }
    // A binary code file of the bytes, opened and downloaded as the operator does.
    void Download(const std::vector<uint8_t>& code, const std::string& name = "code.bin") {
        std::string path = dir.Write(name, std::string(code.begin(), code.end()));
        ui.QueueOpen(path);
        Click(id::kOpenFile);
        ASSERT_EQ(ctx.codeInMemory, 1) << Status();
    }
    // The adapter with the programmer behind it, in or out.
    void SetPlugged(bool plugged) {
        for (auto& a : prog.adapters.adapters)
            if (a.hasProgrammer) a.plugged = plugged;
    }
    static std::vector<uint8_t> Pattern(size_t size, uint8_t seed = 3) {
        std::vector<uint8_t> out(size);
        for (size_t i = 0; i < size; ++i) out[i] = uint8_t(i * 7 + seed);
        return out;
    }

    // Operation codes of the sessions opened since mark (a count of blocks).
    size_t Mark() { return port.Blocks().size(); }
    std::vector<int> SessionsSince(size_t mark) {
        std::vector<int> out;
        auto blocks = port.Blocks();
        for (size_t i = mark; i < blocks.size(); ++i) out.push_back(blocks[i][cb::kOpCode] & 0x3F);
        return out;
    }
    std::vector<uint8_t> LastBlock() {
        auto blocks = port.Blocks();
        return blocks.empty() ? std::vector<uint8_t>{} : blocks.back();
    }
    // Operations the unit took up (a locked unit takes up none).
    std::vector<int> DeviceLog() {
        std::lock_guard lock(prog.state.mutex);
        std::vector<int> out;
        for (const sim::LogEntry& e : prog.state.log) out.push_back(e.opCode);
        return out;
    }
    void ClearDeviceLog() {
        std::lock_guard lock(prog.state.mutex);
        prog.state.log.clear();
    }
    template <class F>
    auto Device(F f) {
        std::lock_guard lock(prog.state.mutex);
        return f(prog.state);
    }
    // Production records in folder from now on, as the program keeps them
    // from its start.
    std::unique_ptr<RecordFolder> records;
    void KeepRecords(const std::string& folder, const std::string& fallback = "") {
        records = std::make_unique<RecordFolder>(folder, fallback);
        records->Load();
        ctx.records = records.get();
    }

    std::vector<std::string> Boxes() {
        std::vector<std::string> out;
        for (const auto& b : ui.Boxes()) out.push_back(b.spec.text);
        return out;
    }
};

// The records of a day's file as fields, its header line first; the
// byte-order mark must open the file.
// Every line of a records file as its fields, with the record's key and
// kind (whole: ReadRecordsWithKeys).
inline std::vector<std::vector<std::string>> ReadRecordsWithKeys(const std::string& path) {
    std::string text;
    std::vector<std::vector<std::string>> out;
    if (!ReadFileBytes(path, text)) return out;
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u) << path;
    CsvReader reader([&](const std::vector<std::string_view>& fields) {
        out.emplace_back(fields.begin(), fields.end());
        return true;
    });
    reader.Feed(std::string_view(text).substr(std::min<size_t>(text.size(), 3)));
    EXPECT_FALSE(reader.Pending()) << path << " ends in a torn record";
    return out;
}

// A record's fields without its key and kind, as ReadRecords gives them.
inline std::vector<std::string> Unkeyed(std::vector<std::string> f) {
    if (f.size() >= size_t(column::kCount)) f.erase(f.begin() + column::kKey, f.begin() + column::kKind + 1);
    return f;
}

// The same without the key and the kind, which name the run that wrote it.
inline std::vector<std::vector<std::string>> ReadRecords(const std::string& path) {
    std::vector<std::vector<std::string>> out = ReadRecordsWithKeys(path);
    for (std::vector<std::string>& f : out)
        if (f.size() >= size_t(column::kCount) && (f[column::kKind] == "chip" || f[column::kKind] == "offline-file" ||
                                                   f[column::kKind] == "类别"))
            f.erase(f.begin() + column::kKey, f.begin() + column::kKind + 1);
    return out;
}

}  // namespace veldrix::test
