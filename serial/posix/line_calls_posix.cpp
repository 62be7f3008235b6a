#include "serial/posix/line_calls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

// open and ioctl take their last argument through `...`: fixed wrappers.
constinit const LineCalls kSystemLineCalls{
    [](const char* path, int flags) { return ::open(path, flags); },
    &::close,
    [](int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); },
    &::tcgetattr,
    &::tcsetattr,
    &::tcdrain,
    &::tcflush,
    &::write,
    &::flock,
    &::poll,
};

namespace {

constinit std::atomic<const LineCalls*> installed_calls{&kSystemLineCalls};

} // namespace

const LineCalls& Line() noexcept {
    return *installed_calls.load(std::memory_order_acquire);
}

const LineCalls* InstallLineCalls(const LineCalls* calls) noexcept {
    return installed_calls.exchange(calls ? calls : &kSystemLineCalls, std::memory_order_acq_rel);
}
