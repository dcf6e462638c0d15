#include "platform/posix/PosixPort.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

namespace veldrix {

namespace {
// Why a port did not open, as the operator can act on it.
std::string OpenReason(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return "没有该设备 (适配器未插上?)";
    case EACCES:
    case EPERM: return "没有访问权限 (用户需在 dialout 组中)";
    case EBUSY: return "端口正被其它程序占用";
    }
    return std::strerror(error);
}

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

speed_t BaudConstant(int baud) {
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return 0;
    }
}

// A pseudo-terminal carries no parity: the kernel drops the bit and then
// refuses a request that changed nothing else.
bool IsPseudoTerminal(int fd) {
    const char* name = ttyname(fd);
    return name && std::string(name).rfind("/dev/pts/", 0) == 0;
}
}  // namespace

bool ParseLineMode(const std::string& mode, LineMode& out) {
    std::istringstream in(mode);
    std::string item;
    LineMode m;
    while (in >> item) {
        auto eq = item.find('=');
        if (eq == std::string::npos) return false;
        std::string key = item.substr(0, eq), value = item.substr(eq + 1);
        if (value.empty()) return false;
        if (key == "baud") m.baud = std::atoi(value.c_str());
        else if (key == "parity") m.parity = char(std::toupper(static_cast<unsigned char>(value[0])));
        else if (key == "data") m.dataBits = std::atoi(value.c_str());
        else if (key == "stop") m.stopBits = std::atoi(value.c_str());
        else return false;
    }
    if (!BaudConstant(m.baud) || (m.parity != 'N' && m.parity != 'E' && m.parity != 'O')) return false;
    if (m.dataBits < 5 || m.dataBits > 8 || (m.stopBits != 1 && m.stopBits != 2)) return false;
    out = m;
    return true;
}

PosixPort::~PosixPort() { Close(); }

bool PosixPort::Open(const std::string& name) {
    Close();
    openError_.clear();
    fd_ = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        openError_ = OpenReason(errno);
        return false;
    }
    // Without sharing, like the Windows port.
    if (ioctl(fd_, TIOCEXCL) != 0 && isatty(fd_) == 0) {
        openError_ = OpenReason(errno);
        Close();
        return false;
    }
    return true;
}

void PosixPort::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool PosixPort::Lost() {
    Close();
    return false;
}

// The kernel's queues are fixed; the request only tells whether the port is usable.
bool PosixPort::SetQueues(size_t, size_t) { return fd_ >= 0 && (fcntl(fd_, F_GETFL) != -1 || Lost()); }

bool PosixPort::SetTimeouts(const PortTimeouts& timeouts) {
    if (fd_ < 0) return false;
    timeouts_ = timeouts;
    return true;
}

bool PosixPort::Purge() { return fd_ >= 0 && tcflush(fd_, TCIOFLUSH) == 0; }

bool PosixPort::SetLine(const std::string& mode) {
    LineMode m;
    if (fd_ < 0 || !ParseLineMode(mode, m)) return false;
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return Lost();
    cfmakeraw(&t);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag |= m.dataBits == 8 ? CS8 : m.dataBits == 7 ? CS7 : m.dataBits == 6 ? CS6 : CS5;
    if (m.parity != 'N' && !IsPseudoTerminal(fd_)) t.c_cflag |= PARENB;
    if (m.parity == 'O') t.c_cflag |= PARODD;
    if (m.stopBits == 2) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, BaudConstant(m.baud));
    cfsetospeed(&t, BaudConstant(m.baud));
    return tcsetattr(fd_, TCSANOW, &t) == 0 || Lost();
}

std::string PosixPort::LineReadBack() {
    termios t{};
    if (fd_ < 0 || tcgetattr(fd_, &t) != 0) return {};
    int baud = 0;
    for (int b : {9600, 19200, 38400, 57600, 115200})
        if (cfgetospeed(&t) == BaudConstant(b)) baud = b;
    tcflag_t size = t.c_cflag & CSIZE;
    int data = size == CS8 ? 8 : size == CS7 ? 7 : size == CS6 ? 6 : 5;
    char parity = !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
    return "baud=" + std::to_string(baud) + " parity=" + std::string(1, parity) + " data=" + std::to_string(data) +
           " stop=" + ((t.c_cflag & CSTOPB) ? "2" : "1");
}

std::optional<uint32_t> PosixPort::ModemStatus() {
    if (fd_ < 0) return std::nullopt;
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) == 0) return (bits & TIOCM_DSR) ? kModemDsr : 0;
    // A pseudo-terminal has no modem lines: it refuses the request, and DSR reads clear.
    if (errno == ENOTTY || errno == EINVAL) return 0;
    Lost();
    return std::nullopt;
}

bool PosixPort::ArmTransmitEmpty() { return fd_ >= 0; }

bool PosixPort::WaitTransmitEmpty(int timeoutMs) {
    if (fd_ < 0) return false;
    const int64_t deadline = NowMs() + (timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        int queued = 0;
        // Without a queue count, only the blocking drain is left.
        if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return tcdrain(fd_) == 0 || Lost();
        if (queued == 0) return true;
        if (NowMs() >= deadline) return false;
        usleep(1000);
    }
}

size_t PosixPort::Read(uint8_t* buffer, size_t count) {
    if (fd_ < 0 || count == 0) return 0;
    int64_t deadline = NowMs() + timeouts_.readTotalConstant + int64_t(timeouts_.readTotalMultiplier) * int64_t(count);
    size_t got = 0;
    while (got < count) {
        int64_t now = NowMs();
        int64_t limit = deadline;
        if (got > 0 && timeouts_.readInterval > 0) limit = std::min(limit, now + timeouts_.readInterval);
        int wait = int(std::max<int64_t>(0, limit - now));
        pollfd p{fd_, POLLIN, 0};
        int r = poll(&p, 1, wait);
        if (r <= 0) break;
        // A hang-up, an error or the end of the device is the device gone,
        // not a time-out; what came before is kept.
        ssize_t n = (p.revents & POLLIN) ? ::read(fd_, buffer + got, count - got) : -1;
        if (n > 0) {
            got += size_t(n);
            continue;
        }
        if (n < 0 && (p.revents & POLLIN) && (errno == EAGAIN || errno == EINTR)) continue;
        Lost();
        break;
    }
    return got;
}

size_t PosixPort::Write(const uint8_t* data, size_t count) {
    if (fd_ < 0) return 0;
    int64_t deadline = NowMs() + timeouts_.writeTotalConstant + int64_t(timeouts_.writeTotalMultiplier) * int64_t(count);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd_, data + done, count - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            Lost();
            break;
        }
        int wait = int(deadline - NowMs());
        if (wait <= 0) break;
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, wait) <= 0) break;
        if (p.revents & (POLLERR | POLLNVAL | POLLHUP)) {
            Lost();
            break;
        }
    }
    return done;
}

}  // namespace veldrix
