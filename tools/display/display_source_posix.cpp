// Opening what wendle-display reads, its link, and standard output.
#include "serial/posix/retry.h"
#include "tools/display/display_loop.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

namespace {

// A descriptor of our own for `fd`, closed on exec like every other.
LineStatus Duplicate(int fd, const char* what, UniqueFd& copy) {
    const auto duplicated = Retry([&] { return fcntl(fd, F_DUPFD_CLOEXEC, 0); });
    if (duplicated.failed()) {
        return SystemFailure(LineError::kOther, std::string("cannot read ") + what,
                             duplicated.error);
    }
    copy = UniqueFd(duplicated.value);
    return {};
}

} // namespace

LineStatus OpenSource(const std::string& path, int baud, DisplaySource& source) {
    source = DisplaySource();
    if (path == "-") {
        source.name = "standard input";
        return Duplicate(STDIN_FILENO, "standard input", source.file);
    }
    source.name = path;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return OpenFailure(path, errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return OpenFailure(path, EISDIR);
    }
    if (S_ISCHR(info.st_mode)) {
        // A device that is no terminal (/dev/null, say) is read as a file.
        LineStatus status = OpenSerialLine(path, baud, source.line);
        source.is_line = status.ok();
        if (status.error != LineError::kNotASerialPort) {
            return status;
        }
    }
    const auto opened = Retry([&] { return open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC); });
    if (opened.failed()) {
        return OpenFailure(path, opened.error);
    }
    source.file = UniqueFd(opened.value);
    return {};
}

LineStatus UsePseudoTerminal(const PseudoTerminal& pty, DisplaySource& source) {
    source.name = pty.slave_path;
    source.is_line = true;
    source.packets = true;
    if (LineStatus status = WatchLineSettings(pty); !status.ok()) {
        return status;
    }
    return Duplicate(pty.master.get(), "the pseudo-terminal", source.file);
}

LineStatus IgnoreBrokenPipe() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(SIGPIPE, &ignore, nullptr) != 0) {
        const int error = errno;
        return SystemFailure(LineError::kOther, "cannot ignore SIGPIPE", error);
    }
    return {};
}

namespace {

LineStatus WriteAll(int fd, std::string_view text, const std::string& what) {
    while (!text.empty()) {
        const auto wrote = Retry([&] { return write(fd, text.data(), text.size()); });
        if (wrote.failed()) {
            return SystemFailure(LineError::kOther, "cannot write " + what, wrote.error);
        }
        text.remove_prefix(static_cast<std::size_t>(wrote.value));
    }
    return {};
}

} // namespace

LineStatus WriteOut(std::string_view text) {
    return WriteAll(STDOUT_FILENO, text, "standard output");
}

LineStatus MakeRecordFile(const std::string& path, UniqueFd& file) {
    const auto opened = Retry([&] {
        return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    });
    if (opened.failed()) {
        return SystemFailure(LineError::kOther, path + ": cannot make the recording", opened.error);
    }
    file = UniqueFd(opened.value);
    return {};
}

LineStatus WriteRecord(const UniqueFd& file, const std::string& path, std::string_view text) {
    return WriteAll(file.get(), text, path);
}

LineStatus MakeLink(const std::string& link, const std::string& target) {
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        return {LineError::kOther,
                link + ": is there and is no symbolic link: name a new path for --link"};
    }
    const std::string temporary = link + ".wendle-display-" + std::to_string(getpid());
    // One left by a program of this number that was killed.
    if (unlink(temporary.c_str()) != 0 && errno != ENOENT) {
        const int error = errno;
        return SystemFailure(ErrorKindOf(error), temporary + ": cannot remove it", error);
    }
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        const int error = errno;
        return SystemFailure(ErrorKindOf(error), link + ": cannot make the link", error);
    }
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str()); // its result deliberately unused: the rename's failure is told
        return SystemFailure(ErrorKindOf(error), link + ": cannot make the link", error);
    }
    return {};
}

LineStatus RemoveLink(const std::string& link, const std::string& target) {
    char leads_to[4096];
    const ssize_t size = readlink(link.c_str(), leads_to, sizeof leads_to);
    // Gone, or no longer ours: nothing to remove.
    if (size < 0 || std::string_view(leads_to, static_cast<std::size_t>(size)) != target) {
        return {};
    }
    if (unlink(link.c_str()) != 0 && errno != ENOENT) {
        const int error = errno;
        return SystemFailure(LineError::kOther, link + ": cannot remove the link", error);
    }
    return {};
}
