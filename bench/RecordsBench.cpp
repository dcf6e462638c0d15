// Measures the production records' folder: reading a year of records at
// start-up, appending one record, the ID-code lookup, and handing out and
// confirming ID codes through the folder's lock.
//
//   veldrix-bench-records generate DIR RECORDS DAYS   a folder as a year of production leaves it
//   veldrix-bench-records load DIR                    start-up: time and memory of reading it
//   veldrix-bench-records append DIR COUNT            time of each append (with its flush to the disk)
//   veldrix-bench-records idcodes DIR COUNT           time of each hand-out and of each good chip's record confirming it
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/resource.h>
#include <random>
#include <string>
#include <vector>

#include "code/Csv.h"
#include "records/RecordFolder.h"
#include "seams/Files.h"
#include "seams/Platform.h"

using namespace veldrix;

namespace {

using Clock = std::chrono::steady_clock;

// CPU time of this process so far (user and system), in ms: on a shared
// machine it tells the work from the waiting.
double CpuMs() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) * 1000 +
           double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1000;
}

double MsSince(Clock::time_point from) {
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// A line of /proc/self/status in kB ("VmRSS", "VmHWM").
long StatusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::string(key).size() + 1);
    return -1;
}

// A record as a station writes it on a busy day: a mix of results, a status
// text with a comma now and then, a code file path of some length.
ProductionRecord SampleRecord(std::mt19937& random, const LocalTime& time, uint32_t& nextId) {
    static const char* const kBad[] = {"校验芯片失败! 在地址: 00A3F", "芯片不空, 在地址: 00000",
                                       "编程芯片失败! [校验和错]"};
    ProductionRecord r;
    r.time = time;
    r.chip = "S3F9454";
    r.codeFile = "D:\\生产\\遥控器V2.3\\remote_v23_final.hex";
    r.checksum = 0x1A2B;
    r.rangeStart = 0;
    r.rangeEnd = 0x0FFF;
    r.idAddress = 0x0FFD;
    r.port = "COM3";
    r.durationMs = 8400 + random() % 300;
    uint32_t roll = random() % 100;
    if (roll < 85) {
        r.result = RecordResult::Good;
        r.status = "自动编程已成功完成";
        r.idCode = nextId++;
    } else if (roll < 97) {
        r.result = RecordResult::Bad;
        r.status = kBad[random() % 3];
    } else {
        r.result = RecordResult::Link;
        r.status = "编程器连接错误,编程器可能正忙,请稍候再试!";
    }
    return r;
}

int Generate(const std::string& dir, long records, int days) {
    if (!MakeFolders(dir)) return std::fprintf(stderr, "cannot make %s\n", dir.c_str()), 1;
    std::mt19937 random(17);
    uint32_t nextId = 1;
    long written = 0;
    for (int d = 0; d < days; ++d) {
        LocalTime day = LocalTimeAt((DaysFromCivil(2024, 1, 1) + d) * 86400000LL + 7 * 3600000LL, 480);
        std::string text = "\xEF\xBB\xBF";
        text += kRecordHeader;
        text += "\r\n";
        long today = records * (d + 1) / days - written;
        for (long i = 0; i < today; ++i) {
            LocalTime at = LocalTimeAt((DaysFromCivil(2024, 1, 1) + d) * 86400000LL + i * 9000, 480);
            text += CsvRecord(RecordFields(SampleRecord(random, at, nextId)));
        }
        written += today;
        if (!WriteFileReplacing(JoinPath(dir, DayFileName(day)), text)) return 1;
    }
    std::printf("generated %ld records over %d files, ID codes 1-%u\n", written, days, nextId - 1);
    return 0;
}

int Load(const std::string& dir) {
    long rssBefore = StatusKb("VmRSS");
    auto t0 = Clock::now();
    double cpu0 = CpuMs();
    RecordFolder folder(dir);
    RecordFolder::LoadSummary s = folder.Load();
    double ms = MsSince(t0), cpu = CpuMs() - cpu0;
    long peak = StatusKb("VmHWM"), rssAfter = StatusKb("VmRSS");
    // Lookups: one that finds the code on the first day, one that finds nothing.
    auto t1 = Clock::now();
    int found = 0;
    for (int i = 0; i < 1000; ++i) found += folder.IdCodeOnGoodChip(uint32_t(1 + i)).has_value();
    for (int i = 0; i < 1000; ++i) found += folder.IdCodeOnGoodChip(uint32_t(9000000 + i)).has_value();
    double lookupUs = MsSince(t1) * 1000 / 2000;
    std::printf("load: %zu files, %zu records, %zu good ID codes in %.1f ms (CPU %.1f ms); memory +%.1f MB at the "
                "peak, +%.1f MB kept\n",
                s.files, s.records, s.goodIdCodes, ms, cpu, double(peak - rssBefore) / 1024,
                double(rssAfter - rssBefore) / 1024);
    std::printf("lookup: %.1f us a question (%d of 2000 found)\n", lookupUs, found);
    return 0;
}

int Append(const std::string& dir, int count) {
    RecordFolder folder(dir);
    folder.Load();
    std::mt19937 random(5);
    uint32_t nextId = 20000000 % 0xFFFFFF;
    std::vector<double> us;
    for (int i = 0; i < count; ++i) {
        ProductionRecord r =
            SampleRecord(random, LocalTimeAt(DaysFromCivil(2025, 6, 2) * 86400000LL + i * 9000, 480), nextId);
        auto t0 = Clock::now();
        bool ok = folder.Append(r) == RecordKept::Stored;
        us.push_back(MsSince(t0) * 1000);
        if (!ok) return std::fprintf(stderr, "append failed: %s\n", folder.Location().c_str()), 1;
    }
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double u : us) sum += u;
    std::printf("append: %d records, median %.3f ms, mean %.3f ms, 99th percentile %.3f ms, longest %.3f ms\n", count,
                us[us.size() / 2] / 1000, sum / double(us.size()) / 1000, us[us.size() * 99 / 100] / 1000,
                us.back() / 1000);
    return 0;
}

void PrintTimes(const char* what, std::vector<double> us) {
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double u : us) sum += u;
    std::printf("%s: %zu, median %.3f ms, mean %.3f ms, 99th percentile %.3f ms, longest %.3f ms\n", what, us.size(),
                us[us.size() / 2] / 1000, sum / double(us.size()) / 1000, us[us.size() * 99 / 100] / 1000,
                us.back() / 1000);
}

int IdCodes(const std::string& dir, int count) {
    RecordFolder folder(dir);
    folder.Load();
    std::mt19937 random(9);
    std::vector<double> take, confirm;
    int passed = 0;
    // Above the codes generate hands out; a second run passes over the first's.
    uint32_t code = 30000000;
    for (int i = 0; i < count; ++i) {
        IdGrant grant;
        do {
            auto t0 = Clock::now();
            grant = folder.TakeIdCode(code, false);
            take.push_back(MsSince(t0) * 1000);
            if (grant.answer != IdGrant::Answer::Granted) ++passed, ++code;
        } while (grant.answer != IdGrant::Answer::Granted);
        uint32_t unused = 0;
        ProductionRecord r =
            SampleRecord(random, LocalTimeAt(DaysFromCivil(2025, 6, 3) * 86400000LL + i * 9000, 480), unused);
        r.result = RecordResult::Good;
        r.status = "自动编程已成功完成";
        r.idCode = code++;
        auto t0 = Clock::now();
        bool ok = folder.Append(r) == RecordKept::Stored;
        confirm.push_back(MsSince(t0) * 1000);
        if (!ok) return std::fprintf(stderr, "append failed: %s\n", folder.Location().c_str()), 1;
    }
    PrintTimes("hand-out", take);
    PrintTimes("confirmation", confirm);
    if (passed) std::printf("(%d codes passed over: on good chips or held)\n", passed);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "generate" && argc == 5) return Generate(argv[2], std::atol(argv[3]), std::atoi(argv[4]));
    if (mode == "load" && argc == 3) return Load(argv[2]);
    if (mode == "append" && argc == 4) return Append(argv[2], std::atoi(argv[3]));
    if (mode == "idcodes" && argc == 4) return IdCodes(argv[2], std::atoi(argv[3]));
    std::fprintf(stderr,
                 "usage: veldrix-bench-records generate DIR RECORDS DAYS | load DIR | append DIR COUNT | idcodes DIR "
                 "COUNT\n");
    return 2;
}
