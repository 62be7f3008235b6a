/* The floor for wendle-send: the same system calls on the port, in the same
 * order, and nothing else. send_floor PORT BYTES (at 9600 baud). Like
 * wendle-send it then waits out the bytes' time on the wire (ten bits a
 * byte), which a port's drain takes and a pseudo-terminal's does not. */
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct termios line;
    if (fd < 0 || tcgetattr(fd, &line) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ioctl(fd, TIOCEXCL) != 0) {
        return 1;
    }
    cfmakeraw(&line);
    line.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    line.c_cflag |= CS8 | CLOCAL | CREAD;
    line.c_iflag &= ~(IXON | IXOFF | IXANY);
    cfsetispeed(&line, B9600);
    cfsetospeed(&line, B9600);
    if (tcsetattr(fd, TCSANOW, &line) != 0 || tcgetattr(fd, &line) != 0) {
        return 1;
    }
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines); /* no modem lines on a pty: ENOTTY */
    size_t size = strlen(argv[2]);
    int queued = 0;
    struct timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    if (write(fd, argv[2], size) != (ssize_t)size || ioctl(fd, TIOCOUTQ, &queued) != 0 ||
        tcdrain(fd) != 0) {
        return 1;
    }
    long long nanoseconds = until.tv_nsec + (long long)size * 10 * 1000000000LL / 9600;
    until.tv_sec += nanoseconds / 1000000000LL;
    until.tv_nsec = nanoseconds % 1000000000LL;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL) == EINTR) {
    }
    return close(fd) == 0 ? 0 : 1;
}
