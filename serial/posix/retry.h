// How every POSIX system call of the serial line and the tools is made: again
// when a signal interrupted it, and its errno kept at once, before anything
// else (an allocation for the message) can change it.
#pragma once

#include <cerrno>
#include <utility>

template <typename Value> struct Called {
    Value value; // what the call returned: -1 on failure
    int error;   // errno when it failed, else 0

    bool failed() const { return value == -1; }
};

template <typename Call> Called<decltype(std::declval<Call&>()())> Retry(Call call) {
    for (;;) {
        const auto value = call();
        if (value != -1) {
            return {value, 0};
        }
        if (errno != EINTR) {
            return {value, errno};
        }
    }
}
