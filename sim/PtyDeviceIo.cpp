#include "sim/PtyDeviceIo.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace veldrix::sim {

namespace {
uint64_t NowNanos() {
    using namespace std::chrono;
    return uint64_t(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

void SleepUntil(uint64_t nanos) {
    uint64_t now = NowNanos();
    if (nanos > now) std::this_thread::sleep_for(std::chrono::nanoseconds(nanos - now));
}

int Baud(speed_t speed) {
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 38400;
    }
}
}  // namespace

PtyDeviceIo::PtyDeviceIo(bool pace, std::string modemFolder) : pace_(pace), modemFolder_(std::move(modemFolder)) {
    if (!OpenTerminal()) return;
    receiver_ = std::thread([this] { Receive(); });
}

PtyDeviceIo::~PtyDeviceIo() {
    RequestStop();
    if (receiver_.joinable()) receiver_.join();
    CloseTerminal();
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

bool PtyDeviceIo::OpenTerminal() {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return false;
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        ::close(master);
        return false;
    }
    std::string path = ptsname(master);
    int slave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) {
        // Raw from the start, so nothing is echoed before the host sets the line up.
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    // Into the numbers the other threads use, in one step each.
    if (master_ < 0) {
        master_ = master;
    } else {
        dup3(master, master_, O_CLOEXEC);
        ::close(master);
    }
    if (slave_ < 0) {
        slave_ = slave;
    } else if (slave >= 0) {
        dup3(slave, slave_, O_CLOEXEC);
        ::close(slave);
    }
    std::lock_guard lock(plugMutex_);
    slavePath_ = path;
    if (!modemFolder_.empty()) {
        busyFile_ = modemFolder_ + "/pts-" + path.substr(path.find_last_of('/') + 1);
        ShowBusy();
    }
    return true;
}

void PtyDeviceIo::CloseTerminal() {
    std::lock_guard lock(plugMutex_);
    if (!busyFile_.empty()) ::unlink(busyFile_.c_str());
    busyFile_.clear();
    // The terminal goes with its last descriptor; the numbers stay on /dev/null.
    int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nothing < 0) return;
    if (master_ >= 0) dup3(nothing, master_, O_CLOEXEC);
    if (slave_ >= 0) dup3(nothing, slave_, O_CLOEXEC);
    ::close(nothing);
}

std::string PtyDeviceIo::SlavePath() {
    std::lock_guard lock(plugMutex_);
    return slavePath_;
}

bool PtyDeviceIo::SetPlugged(bool plugged) {
    if (plugged == plugged_) return true;
    if (!plugged) {
        receiverOut_ = false;
        plugged_ = false;
        {
            std::lock_guard lock(mutex_);
            HoldHost(false);
            in_.clear();
            hostHeld_ = false;
        }
        CloseTerminal();
        // The terminal hangs up once no call holds it: the host sees the pull at once.
        for (int i = 0; i < 100 && !receiverOut_ && receiver_.joinable(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return true;
    }
    if (!OpenTerminal()) return false;
    plugged_ = true;
    return true;
}

void PtyDeviceIo::SetBusy(bool busy) {
    std::lock_guard lock(plugMutex_);
    if (busy == busy_) return;
    busy_ = busy;
    ShowBusy();
}

void PtyDeviceIo::ShowBusy() {
    if (busyFile_.empty()) return;
    // Written in place: a host reads one byte, never a file half made.
    int fd = ::open(busyFile_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    char c = busy_ ? '1' : '0';
    if (::pwrite(fd, &c, 1, 0) != 1) std::perror("veldrix-sim: cannot show the busy line");
    ::close(fd);
}

// Called from a signal handler too: nothing but the flag, which every wait
// looks at within 50 ms.
void PtyDeviceIo::RequestStop() { stop_ = true; }

uint64_t PtyDeviceIo::ByteNanos() {
    // The master reads the terminal as the host set it. It cannot carry
    // parity, so the parity bit counted is the unit's own: even, as ever.
    termios t{};
    if (tcgetattr(master_, &t) != 0) return 11ull * 1000000000ull / 38400ull;
    int data = (t.c_cflag & CSIZE) == CS5 ? 5 : (t.c_cflag & CSIZE) == CS6 ? 6 : (t.c_cflag & CSIZE) == CS7 ? 7 : 8;
    int bits = 1 + data + 1 + ((t.c_cflag & CSTOPB) ? 2 : 1);
    return uint64_t(bits) * 1000000000ull / uint64_t(Baud(cfgetospeed(&t)));
}

void PtyDeviceIo::HoldHost(bool hold) {
    if (hold == hostHeld_ || slave_ < 0) return;
    // Stopping the terminal's output makes the host's writes wait, as a full
    // transmit queue does.
    tcflow(slave_, hold ? TCOOFF : TCOON);
    hostHeld_ = hold;
}

void PtyDeviceIo::Receive() {
    std::vector<uint8_t> buffer(4096);
    while (!stop_) {
        if (!plugged_) {
            // Nothing to take: the terminal is gone.
            receiverOut_ = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        uint64_t wakeNanos = 0;
        {
            std::lock_guard lock(mutex_);
            bool hold = false;
            if (pace_ && plugged_) {
                // The host may run a queue's length ahead of the line. Its
                // writes give up after 50 ms and 2 a byte, so a wait never
                // lasts longer than kLongestHoldNanos: a burst that went past
                // the queue is let through bit by bit instead.
                const uint64_t now = NowNanos();
                size_t onTheLine = size_t(std::count_if(in_.begin(), in_.end(), [now](const Came& c) { return c.at > now; }));
                const bool full = onTheLine >= kHostQueue;
                if (full && !hostHeld_) heldSinceNanos_ = now;
                hold = full && now < heldSinceNanos_ + kLongestHoldNanos;
                escaping_ = full && now >= heldSinceNanos_ + kLongestHoldNanos;
                if (hold) wakeNanos = std::min(in_[in_.size() - kHostQueue].at, heldSinceNanos_ + kLongestHoldNanos);
            }
            HoldHost(hold);
        }
        if (wakeNanos) {
            SleepUntil(wakeNanos);
            continue;
        }
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        // Everything the host wrote comes off the terminal at once: what waits
        // is in the unit's hands, where a purge on the host's side cannot drop it.
        ssize_t n = ::read(master_, buffer.data(), buffer.size());
        if (n <= 0) continue;
        if (!plugged_) continue;  // lost on a pulled adapter
        const uint64_t now = NowNanos();
        const uint64_t byteNanos = pace_ ? ByteNanos() : 0;
        std::lock_guard lock(mutex_);
        // Each byte is on the line from when it was written, or from when
        // the one before it is in.
        for (ssize_t i = 0; i < n; ++i) {
            rxFreeNanos_ = std::max(rxFreeNanos_, now) + byteNanos;
            in_.push_back({buffer[size_t(i)], rxFreeNanos_});
        }
        if (pace_ && escaping_) {
            size_t onTheLine = size_t(std::count_if(in_.begin(), in_.end(), [now](const Came& c) { return c.at > now; }));
            if (onTheLine > kHostQueue) pastQueue_ += std::min(size_t(n), onTheLine - kHostQueue);
        }
        came_.notify_all();
    }
    std::lock_guard lock(mutex_);
    HoldHost(false);
}

bool PtyDeviceIo::ReadByte(uint8_t& byte, int timeoutMs) {
    const uint64_t deadline = timeoutMs < 0 ? UINT64_MAX : NowNanos() + uint64_t(timeoutMs) * 1000000ull;
    std::unique_lock lock(mutex_);
    while (!stop_) {
        const uint64_t now = NowNanos();
        if (!in_.empty() && in_.front().at <= now) {
            byte = in_.front().byte;
            in_.pop_front();
            return true;
        }
        if (now >= deadline) return false;
        uint64_t until = in_.empty() ? deadline : std::min(deadline, in_.front().at);
        // Short waits, so a stop request is seen promptly.
        until = std::min<uint64_t>(until, now + 50000000ull);
        came_.wait_for(lock, std::chrono::nanoseconds(until - now));
    }
    return false;
}

void PtyDeviceIo::Write(const uint8_t* data, size_t count) {
    if (!plugged_) return;
    const uint64_t byteNanos = pace_ ? ByteNanos() : 0;
    size_t done = 0;
    while (done < count && !stop_) {
        size_t chunk = count - done;
        if (pace_) {
            // A byte reaches the host when its last bit is in: it goes to the
            // terminal then, with any others already due.
            txFreeNanos_ = std::max(txFreeNanos_, NowNanos()) + byteNanos;
            SleepUntil(txFreeNanos_);
            chunk = 1;
            while (done + chunk < count && txFreeNanos_ + byteNanos <= NowNanos()) {
                txFreeNanos_ += byteNanos;
                ++chunk;
            }
        }
        size_t written = 0;
        while (written < chunk && !stop_) {
            ssize_t n = ::write(master_, data + done + written, chunk - written);
            if (n > 0) {
                written += size_t(n);
                continue;
            }
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 50);
        }
        done += chunk;
    }
    if (!pace_) txFreeNanos_ = NowNanos();
}

uint64_t PtyDeviceIo::SentMicros() { return txFreeNanos_ / 1000; }

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

void PtyDeviceIo::DiscardInput() {
    std::lock_guard lock(mutex_);
    const uint64_t now = NowNanos();
    while (!in_.empty() && in_.front().at <= now) in_.pop_front();
}

}  // namespace veldrix::sim
