#include "platform/win32/RealClock.h"

#include <mmsystem.h>

#include <algorithm>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace veldrix {

namespace {

// A stop request is noticed within one slice.
constexpr uint64_t kSliceMicros = 5000;

// One timer per thread: the worker, the link monitor and the window thread may
// all sleep at once.
struct ThreadTimer {
    HANDLE handle = nullptr;
    bool tried = false;
    ~ThreadTimer() {
        if (handle) CloseHandle(handle);
    }
    HANDLE Get() {
        if (!tried) {
            tried = true;
            handle = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                            TIMER_MODIFY_STATE | SYNCHRONIZE);
        }
        return handle;
    }
};

thread_local ThreadTimer threadTimer;

}  // namespace

RealClock::RealClock() {
    QueryPerformanceFrequency(&frequency_);
    timeBeginPeriod(1);
}

RealClock::~RealClock() { timeEndPeriod(1); }

bool RealClock::HighResolutionTimer() { return threadTimer.Get() != nullptr; }

uint64_t RealClock::NowMicros() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    uint64_t ticks = uint64_t(now.QuadPart), freq = uint64_t(frequency_.QuadPart);
    return ticks / freq * 1000000 + ticks % freq * 1000000 / freq;
}

void RealClock::Sleep(int ms, const std::atomic<bool>* stop) {
    uint64_t end = NowMicros() + uint64_t(ms > 0 ? ms : 0) * 1000;
    for (;;) {
        if (stop && stop->load()) return;
        uint64_t now = NowMicros();
        if (now >= end) return;
        uint64_t slice = std::min(end - now, kSliceMicros);
        if (HANDLE timer = threadTimer.Get()) {
            LARGE_INTEGER due;
            due.QuadPart = -LONGLONG(slice * 10);  // relative, in 100 ns units
            if (SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
                WaitForSingleObject(timer, INFINITE);
                continue;
            }
        }
        ::Sleep(DWORD((slice + 999) / 1000));
    }
}

LocalTime RealClock::LocalNow() {
    FILETIME utc;
    GetSystemTimeAsFileTime(&utc);
    SYSTEMTIME utcParts, localParts;
    FILETIME local = utc;
    // The offset is the one in force at this moment, summer time included.
    if (FileTimeToSystemTime(&utc, &utcParts) && SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &localParts))
        SystemTimeToFileTime(&localParts, &local);
    auto ticks = [](const FILETIME& f) { return int64_t(uint64_t(f.dwHighDateTime) << 32 | f.dwLowDateTime); };
    constexpr int64_t kUnixEpochTicks = 116444736000000000;  // 1970-01-01 in 100 ns since 1601
    int64_t offsetTicks = ticks(local) - ticks(utc);
    int offsetMinutes = int((offsetTicks + (offsetTicks < 0 ? -300000000 : 300000000)) / 600000000);
    return LocalTimeAt((ticks(utc) - kUnixEpochTicks) / 10000, offsetMinutes);
}

}  // namespace veldrix
