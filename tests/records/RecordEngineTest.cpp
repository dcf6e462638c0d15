// The engine every store shares, over a back end that fails where it is
// told to: at every call k, a store refused, or a store done whose answer
// is lost (the write went through, its flush failed), or the run killed
// there and started again. After each run and its recovery no record is
// lost, each run's records are stored in their order, none is stored twice
// (the back end skips a key it holds, as the folder and the database do),
// and no pending file is left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include "records/RecordEngine.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

struct FaultyBackEnd : RecordBackEnd {
    enum class Fault { None, Refused, AnswerLost };
    Fault fault = Fault::None;
    size_t strikeAt = 0;  // the call that fails, from 1
    size_t calls = 0;
    std::map<std::string, int> stored;  // by key, how often
    std::vector<std::string> order;
    std::vector<uint32_t> confirmed;

    Put StoreOne(const QueuedRecord& r) override {
        const bool strike = ++calls == strikeAt;
        if (strike && fault == Fault::Refused) return Put::Failed;
        if (stored.count(r.Key())) return Put::Already;
        stored[r.Key()]++;
        order.push_back(r.Key());
        return strike && fault == Fault::AnswerLost ? Put::Failed : Put::Stored;
    }
    void Confirmed(const QueuedRecord& r) override {
        if (r.goodId) confirmed.push_back(*r.goodId);
    }
};

ProductionRecord Chip(uint32_t n) {
    ProductionRecord r;
    r.time = LocalTimeAt(DaysFromCivil(2025, 3, 3) * 86400000 + int64_t(n) * 1000, 480);
    r.result = n % 3 ? RecordResult::Good : RecordResult::Bad;
    if (r.result == RecordResult::Good) r.idCode = 100 + n;
    r.successCount = n;
    return r;
}

constexpr uint32_t kRecords = 6;

// One run of kRecords chips; crashAt: the run is killed at that call and the
// next start takes over its pending file. Returns the records the run made.
uint32_t RunOnce(const std::string& folder, FaultyBackEnd& backEnd, size_t crashAt) {
    const std::vector<std::pair<std::string, std::string>> places{{folder, ".csv"}};
    auto engine = std::make_unique<RecordEngine>(backEnd, kRecordHeader, "PC1-1-run", places);
    uint32_t made = 0;
    for (uint32_t n = 1; n <= kRecords; ++n) {
        engine->Add(Chip(n));
        made = n;
        engine->Store();
        engine->Keep();
        if (crashAt && backEnd.calls >= crashAt) {
            engine.reset();  // killed: its pending file stays as it is
            break;
        }
    }
    if (engine) {
        // The next chance, as the program's exit gives it.
        engine->Store();
        engine->Keep();
        engine.reset();
    }
    // The next start: a run of its own takes over what the last one left.
    RecordEngine next(backEnd, kRecordHeader, "PC1-2-run", places);
    next.AdoptGoneRuns(folder, ".csv");
    next.Store();
    return made;
}

TEST(RecordEngine, EveryCallMadeToFailStoresEachRecordOnceInOrder) {
    test::TempDir clean;
    FaultyBackEnd counting;
    RunOnce(clean.Path().string(), counting, 0);
    const size_t calls = counting.calls;
    ASSERT_GE(calls, size_t(kRecords));
    size_t struck = 0, crashes = 0;
    for (size_t k = 1; k <= calls; ++k) {
        for (auto fault : {FaultyBackEnd::Fault::Refused, FaultyBackEnd::Fault::AnswerLost, FaultyBackEnd::Fault::None}) {
            SCOPED_TRACE("call " + std::to_string(k) + (fault == FaultyBackEnd::Fault::None ? ", killed" : ""));
            test::TempDir dir;
            FaultyBackEnd backEnd;
            backEnd.fault = fault;
            backEnd.strikeAt = fault == FaultyBackEnd::Fault::None ? 0 : k;
            const uint32_t made = RunOnce(dir.Path().string(), backEnd, fault == FaultyBackEnd::Fault::None ? k : 0);
            (fault == FaultyBackEnd::Fault::None ? crashes : struck)++;
            // Every record once, by its key, in the order of the run.
            ASSERT_EQ(backEnd.order.size(), size_t(made));
            for (const auto& [key, times] : backEnd.stored) EXPECT_EQ(times, 1) << key;
            EXPECT_TRUE(std::is_sorted(backEnd.order.begin(), backEnd.order.end()));
            for (uint32_t n = 1; n <= made; ++n)
                EXPECT_EQ(backEnd.order[n - 1], RecordKey("PC1-1-run", n));
            // No pending file left behind once all are stored.
            size_t left = 0;
            for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
                left += e.path().filename().string().rfind("pending-", 0) == 0;
            EXPECT_EQ(left, 0u);
        }
    }
    std::printf("[ records  ] engine fault matrix: %zu calls x 2 kinds struck (%zu), %zu crashes struck, all held\n",
                calls, struck, crashes);
}

}  // namespace
}  // namespace veldrix
