// Preloaded into Wine when COM1 is the simulated programmer's pseudo-terminal.
// Wine hands the Windows line settings to the terminal as they are; a
// pseudo-terminal carries no parity, drops the bit, and the kernel then
// refuses a request whose only change it dropped. A real adapter takes even
// parity, so the program must not see that refusal: report it as done.
//
// A pseudo-terminal has no modem lines either. Where VELDRIX_PTY_MODEM names
// the folder veldrix-sim --modem shows its busy line in, a request for the
// modem lines of a terminal whose file is there answers DSR from it, as the
// programmer's adapter would. A terminal whose other end has gone fails the
// request as before (EIO): only the refusal of a live terminal is answered.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool IsPseudoTerminal(int fd) {
    char name[64];
    return ttyname_r(fd, name, sizeof name) == 0 && strncmp(name, "/dev/pts/", 9) == 0;
}

// What a pseudo-terminal makes of a request: no parity, eight data bits.
void AsPseudoTerminal(termios& t) {
    t.c_cflag &= ~tcflag_t(PARENB | PARODD | CSIZE);
    t.c_cflag |= CS8;
}

// The busy line the simulator shows for this terminal: 1 busy, 0 ready, -1
// when it shows none.
int ShownBusyLine(int fd) {
    const char* folder = getenv("VELDRIX_PTY_MODEM");
    char name[64];
    if (!folder || !*folder || ttyname_r(fd, name, sizeof name) != 0 || strncmp(name, "/dev/pts/", 9) != 0) return -1;
    char path[4096];
    if (snprintf(path, sizeof path, "%s/pts-%s", folder, name + 9) >= int(sizeof path)) return -1;
    int file = open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0) return -1;
    char c = 0;
    ssize_t n = pread(file, &c, 1, 0);
    close(file);
    return n == 1 ? (c == '1') : -1;
}

// The modem-status request, whichever of libc's names the caller was built
// against: a 32-bit program built for 64-bit time (Debian's i386 Wine is)
// calls __ioctl_time64, not ioctl, so both must be answered.
using RealIoctl = int (*)(int, unsigned long, void*);

RealIoctl Next(const char* name) { return reinterpret_cast<RealIoctl>(dlsym(RTLD_NEXT, name)); }

int AnswerIoctl(RealIoctl real, int fd, unsigned long request, void* argument) {
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    int result = real(fd, request, argument);
    if (result == 0 || request != TIOCMGET || errno != ENOTTY || !argument) return result;
    int refusal = errno;
    int busy = ShownBusyLine(fd);
    if (busy < 0) {
        errno = refusal;
        return result;
    }
    *static_cast<int*>(argument) = busy ? TIOCM_DSR : 0;
    return 0;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    static RealIoctl real = Next("ioctl");
    return AnswerIoctl(real, fd, request, argument);
}

#if !defined(__LP64__)
// termios holds no time, so tcsetattr has no such twin; ioctl does.
extern "C" int __ioctl_time64(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    static RealIoctl real = Next("__ioctl_time64");
    return AnswerIoctl(real, fd, request, argument);
}
#endif

extern "C" int tcsetattr(int fd, int action, const struct termios* wanted) {
    using Real = int (*)(int, int, const struct termios*);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "tcsetattr"));
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    int result = real(fd, action, wanted);
    if (result == 0 || errno != EINVAL || !wanted || !IsPseudoTerminal(fd)) return result;
    termios adjusted = *wanted;
    AsPseudoTerminal(adjusted);
    if (real(fd, action, &adjusted) == 0) return 0;
    // Refused again: fine when it already stands as the terminal would have it.
    termios now{};
    if (tcgetattr(fd, &now) != 0) return -1;
    AsPseudoTerminal(now);
    if (now.c_cflag == adjusted.c_cflag && now.c_iflag == adjusted.c_iflag && now.c_oflag == adjusted.c_oflag &&
        now.c_lflag == adjusted.c_lflag && cfgetospeed(&now) == cfgetospeed(&adjusted) &&
        memcmp(now.c_cc, adjusted.c_cc, sizeof now.c_cc) == 0)
        return 0;
    errno = EINVAL;
    return -1;
}
