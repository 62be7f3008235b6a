// The system calls of the POSIX serial line on a port, as one table of
// function pointers: the system's own by default, a test's when installed. A
// test that wraps the real calls sees their order and arguments on a
// pseudo-terminal, and makes the failures a pseudo-terminal never gives (an
// interrupted write, an I/O error halfway, a busy or refusing device).
#pragma once

#include "serial/posix/retry.h"

#include <poll.h>
#include <termios.h>

#include <cstddef>

#include <sys/types.h>

struct LineCalls {
    int (*open)(const char* path, int flags);
    int (*close)(int fd);
    int (*ioctl)(int fd, unsigned long request, void* argument);
    int (*tcgetattr)(int fd, termios* settings);
    int (*tcsetattr)(int fd, int when, const termios* settings);
    int (*tcdrain)(int fd);
    int (*tcflush)(int fd, int queue);
    ssize_t (*write)(int fd, const void* bytes, std::size_t size);
    int (*flock)(int fd, int operation);
    int (*poll)(pollfd* fds, nfds_t count, int timeout);
};

extern constinit const LineCalls kSystemLineCalls;

// The table in use.
const LineCalls& Line() noexcept;

// Puts `calls` in use (nullptr: the system's) and returns the table that was
// in use. For tests only.
const LineCalls* InstallLineCalls(const LineCalls* calls) noexcept;
