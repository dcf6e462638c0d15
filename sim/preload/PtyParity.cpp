// Preloaded into Wine when COM1 is the simulated programmer's pseudo-terminal.
// Wine hands the Windows line settings to the terminal as they are; a
// pseudo-terminal carries no parity, drops the bit, and the kernel then
// refuses a request whose only change it dropped. A real adapter takes even
// parity, so the program must not see that refusal: report it as done.
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
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

}  // namespace

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
