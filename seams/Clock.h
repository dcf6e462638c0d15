#pragma once
// Every pause, retry and port time-out goes through the clock, so tests can
// run on virtual time.
#include <atomic>
#include <cstdint>

namespace veldrix {

// A reading of the local wall clock, with the offset from UTC it was taken at.
struct LocalTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    int offsetMinutes = 0;  // east of UTC
};

// Days since 1970-01-01 of a date in the Gregorian calendar, and back.
constexpr int64_t DaysFromCivil(int year, int month, int day) {
    int64_t y = int64_t(year) - (month <= 2);
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}
constexpr void CivilFromDays(int64_t days, int& year, int& month, int& day) {
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t doe = days - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(yoe + era * 400 + (month <= 2));
}
// The local reading of a moment (milliseconds since 1970 UTC) at an offset.
constexpr LocalTime LocalTimeAt(int64_t unixMs, int offsetMinutes) {
    int64_t ms = unixMs + int64_t(offsetMinutes) * 60000;
    int64_t days = (ms >= 0 ? ms : ms - 86399999) / 86400000;
    int64_t inDay = ms - days * 86400000;
    LocalTime t;
    CivilFromDays(days, t.year, t.month, t.day);
    t.hour = int(inDay / 3600000);
    t.minute = int(inDay / 60000 % 60);
    t.second = int(inDay / 1000 % 60);
    t.millisecond = int(inDay % 1000);
    t.offsetMinutes = offsetMinutes;
    return t;
}

class Clock {
public:
    virtual ~Clock() = default;
    // Sleeps ms milliseconds; returns early once *stop becomes true.
    virtual void Sleep(int ms, const std::atomic<bool>* stop = nullptr) = 0;
    virtual uint64_t NowMicros() = 0;
    uint64_t NowMs() { return NowMicros() / 1000; }
    // A thread that sleeps on this clock begins or ends its work; virtual time
    // counts such threads in, the real clock ignores them.
    virtual void ThreadStarted() {}
    virtual void ThreadEnded() {}

    // The local wall clock. Real clocks ask the system; a virtual clock runs
    // one at its own pace from a fixed moment, so a test can step over midnight.
    virtual LocalTime LocalNow() { return LocalTimeAt(wallStartMs_ + int64_t(NowMs()), wallOffsetMinutes_); }
    // A virtual clock's wall clock reads unixMs at this offset from now on.
    void SetWallClock(int64_t unixMs, int offsetMinutes) {
        wallStartMs_ = unixMs - int64_t(NowMs());
        wallOffsetMinutes_ = offsetMinutes;
    }

private:
    // Monday 2025-03-03, 08:00 at UTC+8, where every virtual run begins.
    int64_t wallStartMs_ = DaysFromCivil(2025, 3, 3) * 86400000;
    int wallOffsetMinutes_ = 480;
};

}  // namespace veldrix
