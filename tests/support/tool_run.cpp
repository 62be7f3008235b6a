#include "tests/support/tool_run.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

extern char** environ;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

std::string TempFile(std::string_view name, std::string_view bytes) {
    const std::string path = testing::TempDir() + std::to_string(getpid()) + std::string(name);
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

RunningTool::RunningTool(const std::string& program, const std::vector<std::string>& args,
                         std::string_view input, const std::vector<std::string>& environment,
                         const std::string& output)
    : own_output_(output.empty()) {
    // ctest runs tests in processes of their own, perhaps at once.
    static std::atomic<int> runs{0};
    stem_ = testing::TempDir() + "wendle_tool_" + std::to_string(getpid()) + "_" +
            std::to_string(runs++);
    std::ofstream(stem_ + ".in", std::ios::binary)
        .write(input.data(), static_cast<std::streamsize>(input.size()));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, (stem_ + ".in").c_str(), O_RDONLY, 0);
    if (own_output_) {
        posix_spawn_file_actions_addopen(&actions, 1, (stem_ + ".out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_NOCTTY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, (stem_ + ".err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        envp.emplace_back(*entry);
    }
    std::vector<char*> argv_pointers = Pointers(argv);
    std::vector<char*> envp_pointers = Pointers(envp);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv_pointers.data(),
                    envp_pointers.data()) != 0) {
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
    for (const char* suffix : {".in", ".out", ".err"}) {
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

double RunningTool::ProcessorSeconds() const {
    // Fields 14 and 15 of /proc/PID/stat, after the name in parentheses.
    const std::string stat = ReadFile("/proc/" + std::to_string(pid_) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14) {
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string RunningTool::OutputSoFar() const {
    return ReadFile(stem_ + ".out");
}

ToolRun RunningTool::Finish() {
    ToolRun run;
    if (pid_ <= 0) {
        return run;
    }
    if (!reaped_) {
        waitpid(pid_, &status_, 0);
        reaped_ = true;
    }
    run.exit_code = WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    run.out = ReadFile(stem_ + ".out");
    run.err = ReadFile(stem_ + ".err");
    return run;
}
