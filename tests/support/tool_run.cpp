#include "tests/support/tool_run.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <set>
#include <sstream>

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string TempFile(std::string_view name, std::string_view bytes) {
    // Each goes when the test program ends, also after a failed assertion
    // has left its test before the test's own clean-up.
    static struct MadeFiles {
        std::set<std::string> paths;
        ~MadeFiles() {
            for (const std::string& path : paths) {
                std::remove(path.c_str());
            }
        }
    } made;
    const std::string path = testing::TempDir() + std::to_string(getpid()) + std::string(name);
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    made.paths.insert(path);
    return path;
}

RunningTool::RunningTool(const std::string& program, const std::vector<std::string>& args,
                         std::string_view input, const std::vector<std::string>& environment,
                         const std::string& terminal) {
    // ctest runs tests in processes of their own, perhaps at once.
    static std::atomic<int> runs{0};
    stem_ = TempFile("wendle_tool_" + std::to_string(runs++), input);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, (terminal.empty() ? stem_ : terminal).c_str(),
                                     O_RDWR | O_NOCTTY, 0);
    posix_spawn_file_actions_addopen(&actions, 1,
                                     (terminal.empty() ? stem_ + ".out" : terminal).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (stem_ + ".err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> strings{program};
    strings.insert(strings.end(), args.begin(), args.end());
    strings.insert(strings.end(), environment.begin(), environment.end());
    std::vector<char*> argv, envp;
    for (std::size_t i = 0; i < strings.size(); ++i) {
        (i <= args.size() ? argv : envp).push_back(strings[i].data());
    }
    for (char** entry = environ; *entry != nullptr; ++entry) {
        envp.push_back(*entry);
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        ADD_FAILURE() << "cannot start " << program;
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

RunningTool::~RunningTool() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
    for (const char* suffix : {"", ".out", ".err"}) {
        std::remove((stem_ + suffix).c_str());
    }
}

bool RunningTool::Ended() {
    if (pid_ > 0 && !reaped_ && waitpid(pid_, &status_, WNOHANG) == pid_) {
        reaped_ = true;
    }
    return reaped_ || pid_ <= 0;
}

void RunningTool::Signal(int number) {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, number);
    }
}

bool RunningTool::Blocks(int number) const {
    const std::string status = ReadFile("/proc/" + std::to_string(pid_) + "/status");
    const std::size_t blocked = status.find("SigBlk:");
    return blocked != std::string::npos &&
           (std::stoull(status.substr(blocked + 7), nullptr, 16) >> (number - 1) & 1) != 0;
}

double RunningTool::RunnableSeconds() const {
    // /proc/PID/schedstat: nanoseconds on a processor, then waiting for one.
    std::istringstream fields(ReadFile("/proc/" + std::to_string(pid_) + "/schedstat"));
    double running = 0, waiting = 0;
    fields >> running >> waiting;
    return (running + waiting) / 1e9;
}

std::string RunningTool::OutputSoFar() const {
    return ReadFile(stem_ + ".out");
}

ToolRun RunningTool::Finish() {
    if (pid_ > 0 && !reaped_) {
        waitpid(pid_, &status_, 0);
        reaped_ = true;
    }
    return {pid_ > 0 && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1, ReadFile(stem_ + ".out"),
            ReadFile(stem_ + ".err")};
}
