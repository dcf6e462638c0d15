#include "sim/PtyDeviceIo.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "sim/SimLine.h"

namespace veldrix::sim {

namespace {
uint64_t NowNanos() {
    using namespace std::chrono;
    return uint64_t(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}
}  // namespace

PtyDeviceIo::PtyDeviceIo(bool pace) : pace_(pace) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return;
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        ::close(master_);
        master_ = -1;
        return;
    }
    slavePath_ = ptsname(master_);
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ >= 0) {
        // Raw from the start, so nothing is echoed before the host sets the line up.
        termios t{};
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyDeviceIo::~PtyDeviceIo() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

bool PtyDeviceIo::ReadByte(uint8_t& byte, int timeoutMs) {
    uint64_t deadline = timeoutMs < 0 ? UINT64_MAX : NowNanos() + uint64_t(timeoutMs) * 1000000ull;
    while (!stop_) {
        ssize_t n = ::read(master_, &byte, 1);
        if (n == 1 && plugged_) return true;
        if (n == 1) continue;
        uint64_t now = NowNanos();
        if (now >= deadline) return false;
        // Short polls so a stop request is seen promptly.
        int wait = int(std::min<uint64_t>((deadline - now) / 1000000ull + 1, 50));
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, wait);
    }
    return false;
}

void PtyDeviceIo::Write(const uint8_t* data, size_t count) {
    if (!plugged_) return;
    size_t done = 0;
    while (done < count && !stop_) {
        size_t chunk = count - done;
        if (pace_) {
            // One byte's line time after another: sleep until this byte may leave.
            uint64_t now = NowNanos();
            if (txFreeNanos_ < now) txFreeNanos_ = now;
            if (txFreeNanos_ > now) std::this_thread::sleep_for(std::chrono::nanoseconds(txFreeNanos_ - now));
            chunk = 1;
        }
        ssize_t n = ::write(master_, data + done, chunk);
        if (n > 0) {
            done += size_t(n);
            lastWriteNanos_ = NowNanos();
            if (pace_) txFreeNanos_ += kByteNanos * uint64_t(n);
            continue;
        }
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 50);
    }
}

void PtyDeviceIo::Sleep(int ms) {
    static const std::atomic<bool> always{true};
    SleepWhile(ms, always);
}

void PtyDeviceIo::SleepWhile(int ms, const std::atomic<bool>& on) {
    uint64_t until = NowNanos() + uint64_t(ms) * 1000000ull;
    while (!stop_ && on.load()) {
        uint64_t now = NowNanos();
        if (now >= until) return;
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::min<uint64_t>(until - now, 10000000ull)));
    }
}

uint64_t PtyDeviceIo::NowMicros() { return NowNanos() / 1000; }

uint64_t PtyDeviceIo::SentMicros() { return std::max(txFreeNanos_, lastWriteNanos_) / 1000; }

void PtyDeviceIo::DiscardInput() {
    uint8_t buffer[256];
    while (::read(master_, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace veldrix::sim
