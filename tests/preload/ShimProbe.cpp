// Run under LD_PRELOAD of the simulator's Wine shim, built as Wine's own
// processes are (64-bit; 32-bit; 32-bit with 64-bit time, as Debian's i386
// Wine is): the shim must answer this program's modem-status requests and
// even-parity set-up on a pseudo-terminal, whichever libc names they reach.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "shim probe: %s (errno %d: %s)\n", what, errno, strerror(errno));
        ++failures;
    }
}

// 1 DSR set, 0 clear, minus the errno of a refused request.
int Dsr(int fd) {
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0) return -errno;
    return (bits & TIOCM_DSR) ? 1 : 0;
}

bool Show(const std::string& file, char line) {
    FILE* f = fopen(file.c_str(), "w");
    if (!f) return false;
    bool ok = fputc(line, f) == line;
    return fclose(f) == 0 && ok;
}

}  // namespace

int main() {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        perror("shim probe: no pseudo-terminal");
        return 2;
    }
    std::string slave = ptsname(master);
    int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
    char folder[] = "/tmp/shim-probe-XXXXXX";
    if (fd < 0 || !mkdtemp(folder)) {
        perror("shim probe: set-up");
        return 2;
    }
    std::string shown = std::string(folder) + "/pts-" + slave.substr(slave.rfind('/') + 1);

    unsetenv("VELDRIX_PTY_MODEM");
    Check(Dsr(fd) == -ENOTTY, "a terminal with no busy line shown is not refused as before");
    setenv("VELDRIX_PTY_MODEM", folder, 1);
    Check(Show(shown, '1') && Dsr(fd) == 1, "the busy line shown as set does not read as DSR");
    Check(Show(shown, '0') && Dsr(fd) == 0, "the busy line shown as clear does not read as clear");

    termios t{};
    Check(tcgetattr(fd, &t) == 0, "tcgetattr");
    cfmakeraw(&t);
    t.c_cflag = (t.c_cflag & ~tcflag_t(CSIZE | PARODD)) | CS8 | PARENB;
    cfsetispeed(&t, B38400);
    cfsetospeed(&t, B38400);
    Check(tcsetattr(fd, TCSANOW, &t) == 0, "even parity on the pseudo-terminal is refused");

    unlink(shown.c_str());
    rmdir(folder);
    close(fd);
    close(master);
    if (failures) return 1;
    printf("shim probe: ok (%d-bit, %d-bit time)\n", int(sizeof(void*) * 8), int(sizeof(time_t) * 8));
    return 0;
}
