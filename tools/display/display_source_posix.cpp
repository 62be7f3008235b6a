#include "tools/display/display_loop.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

// With the statuses wendle-send gives a port that is not there or not allowed.
LineStatus CannotOpen(const std::string& path, int error) {
    return SystemFailure(error == ENOENT   ? LineError::kNoSuchPort
                         : error == EACCES ? LineError::kPermissionDenied
                                           : LineError::kOther,
                         path + ": cannot open", error);
}

} // namespace

LineStatus OpenSource(const std::string& path, int baud, DisplaySource& source) {
    source = DisplaySource();
    if (path == "-") {
        source.fd = UniqueFd(fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
        source.name = "standard input";
        return source.fd.is_open()
                   ? LineStatus{}
                   : SystemFailure(LineError::kOther, "cannot use standard input", errno);
    }
    source.name = path;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return CannotOpen(path, errno);
    }
    if (S_ISCHR(info.st_mode)) {
        // A device that is no terminal (/dev/null, say) is read as a file.
        LineStatus status = OpenSerialLine(path, baud, source.fd);
        if (status.ok()) {
            source.is_line = true;
            return status;
        }
        if (status.error != LineError::kNotASerialPort) {
            return status;
        }
    }
    if (S_ISDIR(info.st_mode)) {
        return {LineError::kOther, path + ": is a directory: give a port, a file or -"};
    }
    source.fd = UniqueFd(open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
    return source.fd.is_open() ? LineStatus{} : CannotOpen(path, errno);
}

void UsePseudoTerminal(const PseudoTerminal& pty, DisplaySource& source) {
    source.fd = UniqueFd(fcntl(pty.master.get(), F_DUPFD_CLOEXEC, 0));
    source.name = pty.slave_path;
    source.is_line = true;
}

void IgnoreBrokenPipe() {
    signal(SIGPIPE, SIG_IGN);
}

bool StandardOutputIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

bool WriteOut(std::string_view text) {
    while (!text.empty()) {
        const ssize_t count = write(STDOUT_FILENO, text.data(), text.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

LineStatus MakeLink(const std::string& link, const std::string& target) {
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        return {LineError::kOther,
                link + ": is there and is no symbolic link: name a new path for --link"};
    }
    const std::string temporary = link + ".wendle-display-" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        return SystemFailure(LineError::kOther, link + ": cannot make the link", errno);
    }
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        return SystemFailure(LineError::kOther, link + ": cannot make the link", error);
    }
    return {};
}

void RemoveLink(const std::string& link, const std::string& target) {
    char leads_to[4096];
    const ssize_t size = readlink(link.c_str(), leads_to, sizeof leads_to);
    if (size >= 0 && std::string_view(leads_to, static_cast<std::size_t>(size)) == target) {
        unlink(link.c_str());
    }
}
