// The database store on the real clock: an ID code handed out, then
// confirmed with its good chip's record, one after another.
//
//   VELDRIX_BENCH_ODBC='Driver=...;Server=...;' veldrix-bench-odbc [COUNT]
// (the connection string comes from the environment, never the command line)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/odbc/OdbcRecords.h"

using namespace veldrix;

int main(int argc, char** argv) {
    const char* connection = std::getenv("VELDRIX_BENCH_ODBC");
    if (!connection || !*connection) {
        std::fprintf(stderr, "veldrix-bench-odbc: VELDRIX_BENCH_ODBC names no connection string\n");
        return 2;
    }
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    auto state = std::filesystem::temp_directory_path() / "veldrix-bench-odbc";
    OdbcRecords store({connection, "bench", state.string(), "bench", "bench"});
    if (std::string problem = store.Open(); !problem.empty()) {
        std::fprintf(stderr, "veldrix-bench-odbc: %s\n", problem.c_str());
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    std::vector<double> take, confirm, both;
    uint32_t code = 1;
    ProductionRecord r;
    r.time = {2025, 3, 3, 8, 0, 0, 0, 480};
    r.result = RecordResult::Good;
    r.status = "自动编程已成功完成";
    r.chip = "S3F9454";
    r.codeFile = "code.hex";
    r.idAddress = 0x0FF0;
    r.port = "COM1";
    for (int i = 0; i < count; ++i) {
        auto t0 = Clock::now();
        IdGrant grant;
        while ((grant = store.TakeIdCode(code, false)).answer != IdGrant::Answer::Granted) {
            if (grant.answer == IdGrant::Answer::Unreachable) {
                std::fprintf(stderr, "veldrix-bench-odbc: %s\n", grant.problem.c_str());
                return 1;
            }
            ++code;  // codes of an earlier run
        }
        auto t1 = Clock::now();
        r.idCode = code++;
        if (store.Append(r) != RecordKept::Stored) {
            std::fprintf(stderr, "veldrix-bench-odbc: a record was not stored\n");
            return 1;
        }
        auto t2 = Clock::now();
        take.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        confirm.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
        both.push_back(std::chrono::duration<double, std::milli>(t2 - t0).count());
    }
    auto show = [count](const char* what, std::vector<double>& ms) {
        std::sort(ms.begin(), ms.end());
        std::printf("%-44s median %6.2f ms  99th percentile %6.2f ms  (%d)\n", what, ms[ms.size() / 2],
                    ms[std::min(ms.size() - 1, ms.size() * 99 / 100)], count);
    };
    show("ID code handed out", take);
    show("confirmed with its good chip's record", confirm);
    show("handed out, confirmed and stored", both);
    return 0;
}
